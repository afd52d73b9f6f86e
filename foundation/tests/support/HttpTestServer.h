// A real HTTP server on 127.0.0.1 (an ephemeral port) for the HTTP client and REST layer tests.
//
// Routes (every method unless noted):
//   /echo        200, the request described as "name=value" lines: method, content-type, content-length,
//                authorization, x-token, query, then "body=" and the raw body (always the last line)
//   /status      the status given by ?code=, body "status <code>"
//   /redirect    302 to /echo
//   /hold        blocks until releaseHeld() (or the server stops), then 200 "held"
//   /bytes       ?n= bytes of a fixed pattern (patternBytes), status from ?code= (default 200)
//   /partial     announces ?n= bytes, sends the first half, then drops the connection
//   /stream      ?n= bytes of the pattern in chunks, without announcing a length
//   /upload      POST multipart: "file=<name>|<filename>|<type>|<size>|<checksum>" and "info=<text>"
//   /exchange    POST: the body is Base64 of a flat JSON object; answers Base64 of
//                {"Status":"0","user":"<its user value>"}
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

class HttpTestServer {
public:
    HttpTestServer();
    ~HttpTestServer();

    // "http://127.0.0.1:<port>" + path.
    std::string url(const std::string& path) const;

    // Lets every request blocked in /hold finish, now and from now on.
    void releaseHeld();
    // Requests currently blocked in /hold.
    int heldCount();
    // Waits (up to a few seconds) until at least n requests are blocked in /hold.
    bool waitForHeld(int n);

    // Every request's path and query as received, in order.
    std::vector<std::string> requestLog();

    static std::string patternBytes(size_t n);
    static uint32_t checksum(const std::string& bytes);

private:
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    int port = 0;
    std::mutex lock;
    std::condition_variable changed;
    bool released = false;
    int held = 0;
    std::vector<std::string> log;
};

// One "name=value" line of an /echo answer ("" when absent).
std::string echoField(const std::string& echo, const std::string& name);
