#include "udpComm.h"

#include "NetworkUtils.h"
#include "base/base64.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <vector>

namespace NSUI {

namespace {
constexpr int kReceiveTimeoutMs = 20;
constexpr int kCopies = 2;  // every datagram is sent twice
}  // namespace

udpComm::udpComm() = default;

udpComm::~udpComm()
{
    stopReceiveAndWait();
    std::lock_guard<std::mutex> lock(socketMutex_);
    if (sendSocket_ >= 0) close(sendSocket_);
    sendSocket_ = -1;
}

void udpComm::onReceive(const std::string&, const std::string&) {}

void udpComm::startReceive()
{
    std::lock_guard<std::mutex> lock(receiverMutex_);
    bool expected = false;
    if (!receiving_.compare_exchange_strong(expected, true)) return;
    // A loop that ended by itself (socket or bind failure) is joined before the next one starts.
    if (receiver_.joinable()) receiver_.join();
    stop_ = false;
    // Ended by stopReceiveAndWait (the stop flag, then a join), which the destructor calls.
    receiver_ = std::thread([this] { receiveLoop(); });
}

void udpComm::stopReceiveAndWait()
{
    stop_ = true;
    std::lock_guard<std::mutex> lock(receiverMutex_);
    if (receiver_.joinable()) receiver_.join();
}

void udpComm::receiveLoop()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        receiving_ = false;
        return;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    timeval timeout{0, kReceiveTimeoutMs * 1000};
    if ((!bindAddress.empty() && inet_pton(AF_INET, bindAddress.c_str(), &local.sin_addr) != 1) ||
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        close(fd);
        receiving_ = false;
        return;
    }

    std::vector<char> buffer(static_cast<size_t>(bufferSize > 1 ? bufferSize : kDefaultBufferSize));
    const size_t readable = buffer.size() - 1;  // the last byte stays 0: the text always ends
    listening_ = true;
    while (!stop_) {
        std::fill(buffer.begin(), buffer.end(), 0);
        sockaddr_in source{};
        socklen_t sourceLength = sizeof source;
        // MSG_TRUNC makes the kernel answer the datagram's real length, so a datagram that did not
        // fit is recognised and dropped instead of being read cut.
        const ssize_t length = recvfrom(fd, buffer.data(), readable, MSG_TRUNC,
                                        reinterpret_cast<sockaddr*>(&source), &sourceLength);
        if (length <= 0 || static_cast<size_t>(length) > readable) continue;
        const std::string text = cocos2d::safeBase64DecodeString(std::string(buffer.data()));
        if (text.empty()) continue;
        char address[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &source.sin_addr, address, sizeof address);
        onReceive(text, address);
    }
    close(fd);
    listening_ = false;
    receiving_ = false;  // the last touch of this object by the loop
}

int udpComm::send(const std::string& ip, const std::string& text)
{
    const std::string encoded = cocos2d::safeBase64EncodeString(text);
    if (static_cast<int>(encoded.size()) > bufferSize - 1) return SEND_TOO_LONG;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    if (!isAddressInNetworkScope(ip) || inet_pton(AF_INET, ip.c_str(), &target.sin_addr) != 1) return SEND_FAILED;

    std::lock_guard<std::mutex> lock(socketMutex_);
    if (sendSocket_ < 0) sendSocket_ = socket(AF_INET, SOCK_DGRAM, 0);
    if (sendSocket_ < 0) return SEND_NO_SOCKET;
    for (int i = 0; i < kCopies; ++i) {
        if (sendto(sendSocket_, encoded.data(), encoded.size(), 0, reinterpret_cast<sockaddr*>(&target),
                   sizeof target) != static_cast<ssize_t>(encoded.size()))
            return SEND_FAILED;
        if (sendObserver) sendObserver(ip, port);
    }
    return SEND_OK;
}

} // namespace NSUI
