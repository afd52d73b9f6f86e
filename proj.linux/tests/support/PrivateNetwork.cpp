#include "support/PrivateNetwork.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace e2e {

namespace {

bool writeProc(const char* path, const std::string& text, std::string* why)
{
    const int fd = ::open(path, O_WRONLY);
    const bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (!ok)
        *why = std::string(path) + ": " + std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
    return ok;
}

}  // namespace

bool enterPrivateNetwork(std::string* why)
{
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        *why = std::string("cannot make namespaces: ") + std::strerror(errno);
        return false;
    }
    // Past this point there is no way back to the shared namespaces: a process whose user is not
    // mapped cannot create files, so it stops here rather than fail every test obscurely.
    // setgroups must be denied before an unprivileged process may write its group map.
    if (!writeProc("/proc/self/setgroups", "deny", why) ||
        !writeProc("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1\n", why) ||
        !writeProc("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1\n", why)) {
        std::fprintf(stderr, "cannot map this user into its namespace: %s\n", why->c_str());
        std::exit(2);
    }
    // The new network has only a loopback interface, and it starts down.
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (up) {
        request.ifr_flags |= IFF_UP;
        up = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (!up) {
        std::fprintf(stderr, "cannot bring up the private loopback: %s\n", std::strerror(errno));
        std::exit(2);
    }
    ::close(fd);
    return true;
}

}  // namespace e2e
