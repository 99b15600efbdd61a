#include "tests/support/loopback_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/hex.h"
#include "tests/support/temp_dir.h"

namespace testsupport {
namespace {

struct WinsockInit {
    WinsockInit() {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
    }
    ~WinsockInit() { WSACleanup(); }
};

bool sendAll(SOCKET socket, const char* data, size_t size) {
    while (size > 0) {
        const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
        const int sent = ::send(socket, data, chunk, 0);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

const char* reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 204: return "No Content";
        case 206: return "Partial Content";
        case 304: return "Not Modified";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

// The request target of "GET /path HTTP/1.1", or empty when the head is malformed.
std::string requestTarget(const std::string& head) {
    const size_t first = head.find(' ');
    if (first == std::string::npos) return {};
    const size_t second = head.find(' ', first + 1);
    if (second == std::string::npos) return {};
    return head.substr(first + 1, second - first - 1);
}

// The value of header `name` (lower case) in a request head, or empty.
std::string headerValue(const std::string& head, const std::string& name) {
    size_t line = head.find("\r\n");
    while (line != std::string::npos && line + 2 < head.size()) {
        const size_t start = line + 2, end = head.find("\r\n", start);
        const std::string text = head.substr(start, end - start);
        const size_t colon = text.find(':');
        if (colon != std::string::npos) {
            std::string field = text.substr(0, colon);
            std::transform(field.begin(), field.end(), field.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (field == name) {
                const size_t value = text.find_first_not_of(' ', colon + 1);
                return value == std::string::npos ? std::string() : text.substr(value);
            }
        }
        line = end;
    }
    return {};
}

// The bytes "Range: bytes=N-" or "bytes=N-M" asks for: false when the head asks for no such
// range. `last` is -1 for an open end.
bool askedRange(const std::string& head, int64_t& first, int64_t& last) {
    const std::string value = headerValue(head, "range");
    const size_t dash = value.find('-');
    if (value.rfind("bytes=", 0) != 0 || dash == std::string::npos || dash == 6) return false;
    const auto number = [&value](size_t from, size_t to, int64_t& out) {
        out = 0;
        for (size_t i = from; i < to; ++i) {
            if (value[i] < '0' || value[i] > '9') return false;
            out = out * 10 + (value[i] - '0');
        }
        return true;
    };
    last = -1;
    return number(6, dash, first) &&
           (dash + 1 == value.size() || (number(dash + 1, value.size(), last) && last >= first));
}

// The file under `root` that `target` names, or an empty path when it names none safely.
std::filesystem::path fileUnder(const std::filesystem::path& root, const std::string& target) {
    if (root.empty() || target.empty() || target[0] != '/') return {};
    std::string decoded;
    for (size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '?') break;
        if (target[i] != '%') {
            decoded += target[i];
            continue;
        }
        std::vector<uint8_t> escaped;  // the one byte of %XX
        const std::string_view digits = std::string_view(target).substr(i + 1, 2);
        if (!base::fromHex(digits, escaped) || escaped.size() != 1) return {};
        decoded += static_cast<char>(escaped[0]);
        i += 2;
    }
    std::filesystem::path file = root;
    size_t start = 1;
    for (;;) {
        const size_t slash = decoded.find('/', start);
        const std::string part = decoded.substr(start, slash - start);
        if (part.empty() || part == "." || part == ".." ||
            part.find_first_of("\\:") != std::string::npos)
            return {};
        file /= std::filesystem::u8path(part);
        if (slash == std::string::npos) return file;
        start = slash + 1;
    }
}

}  // namespace

LoopbackServer::LoopbackServer() {
    static WinsockInit winsock;
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) throw std::runtime_error("socket failed");
    listener_ = listener;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof(address);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, SOMAXCONN) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(listener);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() { stop(); }

void LoopbackServer::route(const std::string& path, Response response) {
    route(path, std::vector<Response>{std::move(response)});
}

void LoopbackServer::route(const std::string& path, std::vector<Response> responses) {
    std::lock_guard<std::mutex> hold(mutex_);
    routes_[path] = std::move(responses);
}

void LoopbackServer::serveFolder(const std::filesystem::path& root) {
    std::lock_guard<std::mutex> hold(mutex_);
    root_ = root;
}

std::string LoopbackServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackServer::requests() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
}

std::vector<std::string> LoopbackServer::requestHeads() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return heads_;
}

int LoopbackServer::connectionCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return connections_;
}

uint64_t LoopbackServer::bytesSent() const { return bytesSent_; }

void LoopbackServer::setKeepAlive(bool keepAlive) {
    std::lock_guard<std::mutex> hold(mutex_);
    keepAlive_ = keepAlive;
}

void LoopbackServer::setSendTimeout(uint32_t milliseconds) {
    std::lock_guard<std::mutex> hold(mutex_);
    sendTimeoutMs_ = milliseconds;
}

int LoopbackServer::requestCount(const std::string& path) const {
    std::lock_guard<std::mutex> hold(mutex_);
    return static_cast<int>(std::count(requests_.begin(), requests_.end(), path));
}

void LoopbackServer::stop() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (stopping_) return;
        stopping_ = true;
        for (uintptr_t client : clients_) ::shutdown(static_cast<SOCKET>(client), SD_BOTH);
    }
    stopSignal_.notify_all();
    ::closesocket(static_cast<SOCKET>(listener_));
    if (acceptThread_.joinable()) acceptThread_.join();
    // No new client threads start once the accept loop has ended.
    for (std::thread& thread : clientThreads_) thread.join();
    clientThreads_.clear();
}

bool LoopbackServer::pause(int ms) {
    std::unique_lock<std::mutex> hold(mutex_);
    return !stopSignal_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void LoopbackServer::acceptLoop() {
    for (;;) {
        const SOCKET client = ::accept(static_cast<SOCKET>(listener_), nullptr, nullptr);
        if (client == INVALID_SOCKET) return;  // the listener was closed by stop()
        std::lock_guard<std::mutex> hold(mutex_);
        if (stopping_) {
            ::closesocket(client);
            return;
        }
        // A client that stops reading must not leave a thread blocked in send() for good:
        // stop() joins every thread, and shutdown() does not wake a blocked send under Wine.
        const DWORD sendTimeoutMs = sendTimeoutMs_;
        ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeoutMs),
                     sizeof(sendTimeoutMs));
        // Head and body go out in separate sends: on a connection kept alive, Nagle would hold
        // the body back until the client's delayed acknowledgement (40 ms) of the head.
        const BOOL noDelay = TRUE;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                     sizeof(noDelay));
        clients_.push_back(client);
        ++connections_;
        clientThreads_.emplace_back([this, client] { serve(client); });
    }
}

void LoopbackServer::serve(uintptr_t clientId) {
    const SOCKET client = static_cast<SOCKET>(clientId);
    std::string received;  // may run past the head being answered into the next one
    char buffer[4096];
    for (int answered = 0;; ++answered) {
        while (received.find("\r\n\r\n") == std::string::npos && received.size() < 65536) {
            if (!readable(clientId)) break;
            const int got = ::recv(client, buffer, sizeof(buffer), 0);
            if (got <= 0) break;
            received.append(buffer, static_cast<size_t>(got));
        }
        const size_t end = received.find("\r\n\r\n");
        // A connection kept alive ends when the client closes it; a first request is answered
        // even when malformed (404), as before.
        if (end == std::string::npos && (received.empty() || answered > 0)) break;
        const std::string head = end == std::string::npos ? received : received.substr(0, end + 4);
        received.erase(0, head.size());
        if (!answer(clientId, head)) break;
    }

    ::shutdown(client, SD_SEND);
    std::lock_guard<std::mutex> hold(mutex_);
    clients_.erase(std::find(clients_.begin(), clients_.end(), clientId));
    ::closesocket(client);
}

// Waits in short slices, so that stop() need not wait for a client to close a connection it
// keeps idle (shutdown() does not wake a blocked recv under Wine). False once stopping.
bool LoopbackServer::readable(uintptr_t clientId) {
    const SOCKET client = static_cast<SOCKET>(clientId);
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (stopping_) return false;
        }
        fd_set set;
        FD_ZERO(&set);
        FD_SET(client, &set);
        timeval wait{0, 50000};
        const int ready = ::select(0, &set, nullptr, nullptr, &wait);
        if (ready != 0) return ready > 0;
    }
}

bool LoopbackServer::answer(uintptr_t clientId, const std::string& head) {
    const SOCKET client = static_cast<SOCKET>(clientId);
    const std::string target = requestTarget(head);

    Response response;
    response.status = 404;
    response.body = "not found";
    std::filesystem::path file;
    bool keepAlive = false;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        keepAlive = keepAlive_;
        requests_.push_back(target);
        heads_.push_back(head.substr(0, head.find("\r\n\r\n") + 2));  // each line ends "\r\n"
        const auto found = routes_.find(target);
        if (found != routes_.end() && !found->second.empty()) {
            const int seen = static_cast<int>(std::count(requests_.begin(), requests_.end(), target));
            const size_t index = std::min<size_t>(static_cast<size_t>(seen - 1), found->second.size() - 1);
            response = found->second[index];
        } else {
            file = fileUnder(root_, target);
        }
    }
    std::error_code ignored;
    if (!file.empty() && std::filesystem::is_regular_file(file, ignored)) {
        response.status = 200;
        response.body = readFile(file);  // outside the lock: files may be large
    }
    if (response.noResponse) return false;
    if (response.delayMs > 0 && !pause(response.delayMs)) return false;

    using Framing = Response::Framing;
    const bool generated = static_cast<bool>(response.generate);
    const uint64_t whole = generated ? response.generatedSize : response.body.size();
    // A ranged answer sends the body from `first` on; offsets below count within the body.
    // A closed range ends where it asks, or at the body's end, as a file server answers it.
    uint64_t first = 0, end = whole;
    int64_t askedFirst = 0, askedLast = -1;
    // A body with an ETag answers an If-Range that names another one with the whole body, as
    // a file server answers for a file that has changed.
    std::string etag;
    for (const auto& [name, value] : response.headers)
        if (name == "ETag") etag = value;
    const std::string ifRange = headerValue(head, "if-range");
    if (response.ranges && askedRange(head, askedFirst, askedLast) &&
        static_cast<uint64_t>(askedFirst) < whole && (ifRange.empty() || etag.empty() || ifRange == etag)) {
        first = static_cast<uint64_t>(askedFirst);
        if (askedLast >= 0) end = std::min<uint64_t>(whole, static_cast<uint64_t>(askedLast) + 1);
        response.status = 206;
        response.headers.push_back({"Content-Range", "bytes " + std::to_string(first) + "-" +
                                                         std::to_string(end - 1) + "/" +
                                                         std::to_string(whole)});
    }
    if (response.ranges) response.headers.push_back({"Accept-Ranges", "bytes"});
    if (!response.etag.empty()) {
        response.headers.push_back({"ETag", response.etag});
        if (headerValue(head, "if-none-match") == response.etag) {
            response.status = 304;
            response.body.clear();
            end = first = 0;
        }
    }

    // Only a response whose end the client can find leaves the connection usable.
    std::string wanted = headerValue(head, "connection");
    std::transform(wanted.begin(), wanted.end(), wanted.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const size_t total = static_cast<size_t>(end - first);
    const bool cut = response.cutAfter >= 0 && static_cast<size_t>(response.cutAfter) < total;
    keepAlive = keepAlive && wanted != "close" && response.framing != Framing::CloseDelimited &&
                response.trailing.empty() && response.declaredLength < 0 && !cut;

    std::string header = "HTTP/1.1 " + std::to_string(response.status) + " " +
                         reason(response.status) +
                         (keepAlive ? "\r\nConnection: keep-alive\r\n" : "\r\nConnection: close\r\n");
    if (response.framing == Framing::ContentLength) {
        const int64_t declared = response.declaredLength >= 0 ? response.declaredLength
                                                               : static_cast<int64_t>(total);
        header += "Content-Length: " + std::to_string(declared) + "\r\n";
    } else if (response.framing == Framing::Chunked) {
        header += "Transfer-Encoding: chunked\r\n";
    }
    for (const auto& [name, value] : response.headers) header += name + ": " + value + "\r\n";
    header += "\r\n";

    const auto send = [this, client](const char* data, size_t size) {
        const bool sent = sendAll(client, data, size);
        if (sent) bytesSent_ += size;
        return sent;
    };
    bool ok = send(header.data(), header.size());
    // A generated body is produced block by block, so its size costs no memory here.
    const size_t limit = cut ? static_cast<size_t>(response.cutAfter) : total;
    const size_t piece = response.pieceSize ? response.pieceSize
                         : generated        ? size_t(1) << 20
                                            : std::max<size_t>(total, 1);
    std::vector<char> block(generated ? piece : 0);
    const bool chunked = response.framing == Framing::Chunked;
    for (size_t offset = 0; ok && offset < limit; offset += piece) {
        if (offset > 0 && response.pauseMs > 0 && !pause(response.pauseMs)) {
            ok = false;
            break;
        }
        const size_t chunk = std::min(piece, total - offset);  // this piece's full size
        const size_t size = std::min(chunk, limit - offset);   // what goes out before a cut
        if (chunked) {
            char sizeLine[32];
            std::snprintf(sizeLine, sizeof(sizeLine), "%zx\r\n", chunk);
            ok = send(sizeLine, std::strlen(sizeLine));
        }
        const char* bytes = response.body.data() + first + offset;
        if (generated) {
            response.generate(first + offset, block.data(), size);
            bytes = block.data();
        }
        ok = ok && send(bytes, size);
        if (chunked && size == chunk) ok = ok && send("\r\n", 2);
    }
    if (ok && !cut) {
        if (chunked) ok = send("0\r\n\r\n", 5);
        if (ok && !response.trailing.empty()) send(response.trailing.data(), response.trailing.size());
    }
    return ok && keepAlive;
}

}  // namespace testsupport
