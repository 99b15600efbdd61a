#pragma once
// A small HTTP/1.1 server inside the test process, on 127.0.0.1 and an ephemeral port. Each
// test scripts what a path answers: status, framing, pacing, a cut connection, extra bytes.
// Every connection is answered once and closed ("Connection: close"), unless keep-alive is
// switched on.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

struct Response {
    enum class Framing { ContentLength, CloseDelimited, Chunked };

    int status = 200;
    std::string body;
    Framing framing = Framing::ContentLength;
    int64_t declaredLength = -1;  // Content-Length to claim instead of body.size() (a liar)
    size_t pieceSize = 0;         // send the body in pieces of this many bytes (0: at once)
    int pauseMs = 0;              // pause before each piece after the first
    int delayMs = 0;              // pause before the status line (a distant server)
    int64_t cutAfter = -1;        // close the connection after this many body bytes
    std::string trailing;         // bytes sent after the body, outside its framing
    bool noResponse = false;      // read the request, then close without a status line
    std::vector<std::pair<std::string, std::string>> headers;  // extra response headers
    // Answer "Range: bytes=N-" and "bytes=N-M" as a file server does: 206, Content-Range, the
    // body from N (cutAfter then counts from N). A request without Range gets the whole body,
    // and so does one whose If-Range is not the "ETag" of `headers`, where there is one.
    bool ranges = false;
    // Sent as the ETag; a request whose If-None-Match names it gets a bodiless 304 instead.
    std::string etag;

    // A body too large to hold (benchmarks): `generatedSize` bytes, produced on demand;
    // generate(offset, out, size) fills out with the body's bytes at offset.
    uint64_t generatedSize = 0;
    std::function<void(uint64_t offset, char* out, size_t size)> generate;
};

class LoopbackServer {
public:
    LoopbackServer();  // listening when it returns
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // What `path` (the request target, query included) answers; unknown paths answer 404.
    void route(const std::string& path, Response response);
    // The n-th request of `path` gets the n-th response; the last one repeats.
    void route(const std::string& path, std::vector<Response> responses);
    // Paths without a route answer with the file under `root` that the percent-decoded path
    // names, read when the request arrives (so a test sees a folder change between
    // requests), or 404. A path with a ".." or empty component gets 404.
    void serveFolder(const std::filesystem::path& root);

    uint16_t port() const { return port_; }
    std::string url(const std::string& path) const;  // "http://127.0.0.1:PORT" + path

    std::vector<std::string> requests() const;  // request targets, in arrival order
    std::vector<std::string> requestHeads() const;  // request line and headers, in order
    int requestCount(const std::string& path) const;
    int connectionCount() const;  // connections accepted so far
    uint64_t bytesSent() const;   // response bytes sent so far, heads included

    // Keeps a connection open for the next request after a complete response, unless the
    // request asks for "Connection: close". Off by default.
    void setKeepAlive(bool keepAlive);
    // How long one send may wait for a client that reads nothing before the connection is
    // dropped: 10 s by default, so that stop() never waits on a client that has gone quiet.
    // A benchmark whose client is busy on its disk for longer between reads raises it. Applies
    // to connections accepted afterwards.
    void setSendTimeout(uint32_t milliseconds);

    void stop();  // closes every connection and joins every thread; the destructor calls it

private:
    void acceptLoop();
    void serve(uintptr_t client);
    bool readable(uintptr_t client);  // false once stopping
    // Answers one request; false when the connection must close after it.
    bool answer(uintptr_t client, const std::string& head);
    bool pause(int ms);  // false when stopping

    uintptr_t listener_;
    uint16_t port_ = 0;
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    std::condition_variable stopSignal_;
    bool stopping_ = false;
    std::map<std::string, std::vector<Response>> routes_;
    std::filesystem::path root_;  // empty: no folder is served
    std::vector<std::string> requests_;
    std::vector<std::string> heads_;
    std::vector<uintptr_t> clients_;
    std::vector<std::thread> clientThreads_;
    bool keepAlive_ = false;
    uint32_t sendTimeoutMs_ = 10000;
    int connections_ = 0;
    std::atomic<uint64_t> bytesSent_{0};
};

}  // namespace testsupport
