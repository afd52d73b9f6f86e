#include "support/HttpTestServer.h"

#include "cocos2d.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <sstream>

namespace {

const auto kHoldLimit = std::chrono::seconds(10);  // a forgotten release never hangs the test run
const auto kWaitLimit = std::chrono::seconds(10);

std::string describe(const httplib::Request& req) {
    std::ostringstream out;
    out << "method=" << req.method << "\n"
        << "content-type=" << req.get_header_value("Content-Type") << "\n"
        << "content-length=" << (req.has_header("Content-Length") ? req.get_header_value("Content-Length") : "none")
        << "\n"
        << "authorization=" << req.get_header_value("Authorization") << "\n"
        << "x-token=" << req.get_header_value("X-Token") << "\n"
        << "query=" << (req.has_param("q") ? req.get_param_value("q") : "") << "\n"
        << "body=" << req.body;
    return out.str();
}

size_t sizeParam(const httplib::Request& req, const char* name, size_t fallback) {
    return req.has_param(name) ? std::stoul(req.get_param_value(name)) : fallback;
}

}  // namespace

HttpTestServer::HttpTestServer() : server(std::make_unique<httplib::Server>()) {
    httplib::Server& s = *server;
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        std::string target = req.path;
        if (!req.params.empty()) {
            target += "?";
            bool first = true;
            for (const auto& [key, value] : req.params) {
                target += (first ? "" : "&") + key + "=" + value;
                first = false;
            }
        }
        std::lock_guard<std::mutex> guard(lock);
        log.push_back(target);
        return httplib::Server::HandlerResponse::Unhandled;
    });

    auto echo = [](const httplib::Request& req, httplib::Response& res) { res.set_content(describe(req), "text/plain"); };
    s.Get("/echo", echo).Post("/echo", echo).Put("/echo", echo).Delete("/echo", echo);

    auto status = [](const httplib::Request& req, httplib::Response& res) {
        res.status = static_cast<int>(sizeParam(req, "code", 200));
        res.set_content("status " + std::to_string(res.status), "text/plain");
    };
    s.Get("/status", status).Post("/status", status).Put("/status", status).Delete("/status", status);

    auto redirect = [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/echo", 302); };
    s.Get("/redirect", redirect).Post("/redirect", redirect).Put("/redirect", redirect).Delete("/redirect", redirect);

    auto hold = [this](const httplib::Request&, httplib::Response& res) {
        std::unique_lock<std::mutex> guard(lock);
        ++held;
        changed.notify_all();
        changed.wait_for(guard, kHoldLimit, [this] { return released; });
        --held;
        res.set_content("held", "text/plain");
    };
    s.Get("/hold", hold).Post("/hold", hold).Put("/hold", hold).Delete("/hold", hold);

    auto bytes = [](const httplib::Request& req, httplib::Response& res) {
        res.status = static_cast<int>(sizeParam(req, "code", 200));
        res.set_content(patternBytes(sizeParam(req, "n", 0)), "application/octet-stream");
    };
    s.Get("/bytes", bytes).Post("/bytes", bytes);

    auto partial = [](const httplib::Request& req, httplib::Response& res) {
        const size_t total = sizeParam(req, "n", 1000);
        auto body = std::make_shared<std::string>(patternBytes(total));
        res.set_content_provider(total, "application/octet-stream",
                                 [body, total](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset >= total / 2)
                                         return false;  // drop the connection halfway
                                     sink.write(body->data() + offset, total / 2 - offset);
                                     return true;
                                 });
    };
    s.Get("/partial", partial).Post("/partial", partial);

    auto stream = [](const httplib::Request& req, httplib::Response& res) {
        auto body = std::make_shared<std::string>(patternBytes(sizeParam(req, "n", 0)));
        res.set_chunked_content_provider("application/octet-stream",
                                         [body](size_t offset, httplib::DataSink& sink) {
                                             const size_t chunk = std::min<size_t>(64 * 1024, body->size() - offset);
                                             if (chunk > 0 && !sink.write(body->data() + offset, chunk))
                                                 return false;
                                             if (offset + chunk >= body->size())
                                                 sink.done();
                                             return true;
                                         });
    };
    s.Get("/stream", stream).Post("/stream", stream);

    s.Post("/upload", [](const httplib::Request& req, httplib::Response& res) {
        std::ostringstream out;
        for (const auto& [name, part] : req.files) {
            if (part.filename.empty())
                out << "info=" << name << ":" << part.content << "\n";
            else
                out << "file=" << name << "|" << part.filename << "|" << part.content_type << "|"
                    << part.content.size() << "|" << checksum(part.content) << "\n";
        }
        out << "parts=" << req.files.size();
        res.set_content(out.str(), "text/plain");
    });

    s.Post("/exchange", [](const httplib::Request& req, httplib::Response& res) {
        const std::string json = cocos2d::safeBase64DecodeString(req.body);
        const std::string key = "\"user\":\"";
        std::string user;
        const size_t at = json.find(key);
        if (at != std::string::npos)
            user = json.substr(at + key.size(), json.find('"', at + key.size()) - at - key.size());
        const std::string reply = "{\"Status\":\"0\",\"user\":\"" + user + "\"}";
        res.set_content(cocos2d::safeBase64EncodeString(reply), "text/plain");
    });

    port = s.bind_to_any_port("127.0.0.1");
    listener = std::thread([this] { server->listen_after_bind(); });
    // stop() is ignored until the server runs, so the destructor could otherwise wait for ever.
    while (!server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

HttpTestServer::~HttpTestServer() {
    releaseHeld();
    server->stop();
    listener.join();
}

std::string HttpTestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

void HttpTestServer::releaseHeld() {
    std::lock_guard<std::mutex> guard(lock);
    released = true;
    changed.notify_all();
}

int HttpTestServer::heldCount() {
    std::lock_guard<std::mutex> guard(lock);
    return held;
}

bool HttpTestServer::waitForHeld(int n) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, kWaitLimit, [&] { return held >= n; });
}

std::vector<std::string> HttpTestServer::requestLog() {
    std::lock_guard<std::mutex> guard(lock);
    return log;
}

std::string HttpTestServer::patternBytes(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

uint32_t HttpTestServer::checksum(const std::string& bytes) {
    uint32_t sum = 2166136261u;
    for (const unsigned char c : bytes)
        sum = (sum ^ c) * 16777619u;
    return sum;
}

std::string echoField(const std::string& echo, const std::string& name) {
    // The first match is the field's own line: only the body (the last line) may hold anything.
    const std::string key = name + "=";
    size_t at = 0;
    if (echo.compare(0, key.size(), key) != 0) {
        at = echo.find("\n" + key);
        if (at == std::string::npos)
            return "";
        at += 1;
    }
    const size_t begin = at + key.size();
    if (name == "body")
        return echo.substr(begin);
    const size_t end = echo.find('\n', begin);
    return echo.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}
