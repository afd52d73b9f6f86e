// udpComm: the datagram endpoint of peer discovery: a receive loop on a thread of its own and a
// send operation. Each text travels as its Base64 form (standard alphabet, no line breaks,
// no terminator) and is sent twice; the receiver decodes what it reads and hands the text to
// onReceive on the receive thread.
//
// Datagrams are at most bufferSize - 1 (1023) bytes. A longer one is never sent (-4) and, when one
// arrives, it is dropped whole: the loop reads at most 1023 bytes into its zero-filled 1024-byte
// buffer and asks the kernel for the datagram's real length, so nothing is ever read past the
// buffer and a cut datagram is never decoded.
//
// Addresses outside the network scope (NetworkUtils.h) are refused by send.
//
// Threads: startReceive, send and the flags may be used from any thread; the send socket is made
// once, under a mutex, by whichever thread sends first. The object owns its receive thread and
// joins it in stopReceiveAndWait, which the destructor calls; a subclass whose onReceive uses its
// own members must call stopReceiveAndWait in its destructor, before those members go. The loop
// wakes every 20 ms to test its stop flag, so the join never waits on a peer.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace NSUI {

class udpComm {
public:
    static constexpr int kDefaultPort = 12389;
    static constexpr int kDefaultBufferSize = 1024;

    // send's results.
    enum { SEND_OK = 0, SEND_NO_SOCKET = -1, SEND_FAILED = -3, SEND_TOO_LONG = -4 };

    udpComm();
    virtual ~udpComm();
    udpComm(const udpComm&) = delete;
    udpComm& operator=(const udpComm&) = delete;

    // Called on the receive thread with the decoded text and the datagram's source address.
    virtual void onReceive(const std::string& text, const std::string& senderAddress);

    // Starts the receive loop on a thread of its own unless it is running. The loop binds the port
    // on all interfaces (or on bindAddress when set) with a 20 ms receive time-out and runs until
    // the stop flag is set; a socket or bind failure ends it quietly (a later call may try again).
    void startReceive();
    // Base64-encodes text and sends it twice to ip:port. 0 sent; -1 no socket could be made;
    // -3 a failure inside the socket calls, an unreadable address or one outside the network
    // scope; -4 the encoded text is longer than bufferSize - 1.
    int send(const std::string& ip, const std::string& text);

    // Raises the stop flag and joins the receive thread (at once when none ran). Not from onReceive.
    void stopReceiveAndWait();
    bool isReceiving() const { return receiving_; }
    // True while the loop's socket is bound and it waits for datagrams.
    bool isListening() const { return listening_; }

    int port = kDefaultPort;
    int bufferSize = kDefaultBufferSize;

    // Hooks, set before startReceive: the address the loop binds ("" all interfaces), and a
    // function told of every datagram sent (address, port), on the sending thread.
    std::string bindAddress;
    std::function<void(const std::string&, int)> sendObserver;

protected:
    std::atomic<bool> stop_{false};

private:
    void receiveLoop();

    int sendSocket_ = -1;
    std::mutex socketMutex_;
    std::mutex receiverMutex_;  // guards receiver_
    std::thread receiver_;
    std::atomic<bool> receiving_{false};
    std::atomic<bool> listening_{false};
};

} // namespace NSUI
