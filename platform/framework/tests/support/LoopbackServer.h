// A real HTTP server on 127.0.0.1 (an ephemeral port) whose answers each test sets per path:
// a fixed body and status, a handler of its own, a connection dropped halfway through the body,
// or a request that is accepted and never answered (until the server stops).
// The same answer serves GET and POST. Unknown paths answer 404.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace qvtest {

class LoopbackServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // "http://127.0.0.1:<port>" + path.
    std::string url(const std::string& path) const;

    void put(const std::string& path, const std::string& body, int status = 200);
    void handle(const std::string& path, Handler handler);
    // Announces the whole body, sends its first half, then drops the connection.
    void putTruncated(const std::string& path, const std::string& body);
    // Accepts the request and holds it without an answer until the server is destroyed.
    void hang(const std::string& path);
    void remove(const std::string& path);

    // Every request's path, in order of arrival.
    std::vector<std::string> requests();
    // How many requests for path arrived.
    int count(const std::string& path);
    // The body of the latest request for path ("" when none came).
    std::string lastBody(const std::string& path);

private:
    void serve(const httplib::Request& req, httplib::Response& res);

    std::unique_ptr<httplib::Server> _server;
    std::thread _listener;
    int _port = 0;
    std::mutex _lock;
    std::condition_variable _stopping;
    bool _stopped = false;
    std::map<std::string, Handler> _routes;
    std::vector<std::string> _log;
    std::map<std::string, std::string> _lastBodies;
};

} // namespace qvtest
