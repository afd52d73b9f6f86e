#include "PrivateXvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace qvtest {

std::string startXvfb(int width, int height, int dpi, pid_t* pid)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string fd = std::to_string(fds[1]);
    const std::string dpiText = std::to_string(dpi);
    *pid = ::fork();
    if (*pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::fcntl(fds[1], F_SETFD, 0); // the one descriptor of the test's that the server keeps
        // Its output goes nowhere: the test run's pipes must close when the test ends.
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-dpi", dpiText.c_str(),
                 "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    // Xvfb writes its display number when it is ready for clients.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (*pid > 0 && ::poll(&p, 1, 20000) > 0) {
        char c;
        if (::read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    ::close(fds[0]);
    return number.empty() ? std::string() : ":" + number;
}

} // namespace qvtest
