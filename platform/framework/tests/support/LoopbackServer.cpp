#include "support/LoopbackServer.h"

#include <httplib.h>

#include <chrono>

namespace qvtest {

namespace {
// A forgotten hanging request never holds the test run longer than this.
const auto kHangLimit = std::chrono::seconds(60);
} // namespace

LoopbackServer::LoopbackServer() : _server(std::make_unique<httplib::Server>())
{
    auto serve = [this](const httplib::Request& req, httplib::Response& res) { this->serve(req, res); };
    _server->Get(".*", serve);
    _server->Post(".*", serve);
    _port = _server->bind_to_any_port("127.0.0.1");
    _listener = std::thread([this] { _server->listen_after_bind(); });
    // stop() is ignored until the server runs, so the destructor could otherwise wait for ever.
    while (!_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackServer::~LoopbackServer()
{
    {
        std::lock_guard<std::mutex> guard(_lock);
        _stopped = true;
    }
    _stopping.notify_all();
    _server->stop();
    _listener.join();
}

std::string LoopbackServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(_port) + path;
}

void LoopbackServer::serve(const httplib::Request& req, httplib::Response& res)
{
    Handler handler;
    {
        std::lock_guard<std::mutex> guard(_lock);
        _log.push_back(req.path);
        _lastBodies[req.path] = req.body;
        const auto it = _routes.find(req.path);
        if (it != _routes.end())
            handler = it->second;
    }
    if (!handler) {
        res.status = 404;
        res.set_content("not found", "text/plain");
        return;
    }
    handler(req, res);
}

void LoopbackServer::put(const std::string& path, const std::string& body, int status)
{
    handle(path, [body, status](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content(body, "application/octet-stream");
    });
}

void LoopbackServer::handle(const std::string& path, Handler handler)
{
    std::lock_guard<std::mutex> guard(_lock);
    _routes[path] = std::move(handler);
}

void LoopbackServer::putTruncated(const std::string& path, const std::string& body)
{
    auto shared = std::make_shared<std::string>(body);
    handle(path, [shared](const httplib::Request&, httplib::Response& res) {
        const size_t half = shared->size() / 2;
        res.set_content_provider(shared->size(), "application/octet-stream",
                                 [shared, half](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset >= half)
                                         return false;  // drops the connection
                                     sink.write(shared->data() + offset, half - offset);
                                     return true;
                                 });
    });
}

void LoopbackServer::hang(const std::string& path)
{
    handle(path, [this](const httplib::Request&, httplib::Response& res) {
        std::unique_lock<std::mutex> guard(_lock);
        _stopping.wait_for(guard, kHangLimit, [this] { return _stopped; });
        res.status = 500;
    });
}

void LoopbackServer::remove(const std::string& path)
{
    std::lock_guard<std::mutex> guard(_lock);
    _routes.erase(path);
}

std::vector<std::string> LoopbackServer::requests()
{
    std::lock_guard<std::mutex> guard(_lock);
    return _log;
}

int LoopbackServer::count(const std::string& path)
{
    std::lock_guard<std::mutex> guard(_lock);
    int n = 0;
    for (const std::string& p : _log)
        n += p == path ? 1 : 0;
    return n;
}

std::string LoopbackServer::lastBody(const std::string& path)
{
    std::lock_guard<std::mutex> guard(_lock);
    const auto it = _lastBodies.find(path);
    return it == _lastBodies.end() ? std::string() : it->second;
}

} // namespace qvtest
