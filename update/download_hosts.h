#pragma once
// Where a run's downloads may come from. The manifest may name, beside the base URL that its
// file URLs start with ("baseUrl"), mirrors that serve the same tree ("mirrors"): every object
// there is named by its digest and checked on arrival, so its bytes may come from any of
// them. A transfer starts on the host the run is on, moves to the next one when that host
// fails it (update/resuming_stream.h), and the run follows the host that last brought bytes.
// Shared by every transfer of a run, on any thread.

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/failure.h"

namespace pcupd {

struct Manifest;

class DownloadHosts {
public:
    // Told of the first host to bring bytes and of every move to another host afterwards:
    // that host's origin and, after a move, why the one before was left ("ORIGIN: failure",
    // empty for the first). On the thread of the transfer that moved; it must not block.
    using Listener = std::function<void(const std::string& origin, const std::string& left)>;

    // `baseUrl` and `mirrors` as the manifest gives them; a mirror that is not an http or
    // https URL, or that repeats the base or another mirror, is left out. An empty base: no
    // mirrors, every URL is fetched as written.
    DownloadHosts(const std::string& baseUrl, const std::vector<std::string>& mirrors,
                  Listener listener = {});
    static std::shared_ptr<DownloadHosts> of(const Manifest& manifest, Listener listener = {});

    // How many hosts serve `url`: every host for a URL below the base, else only the one it
    // names.
    size_t countFor(const std::string& url) const;
    // `url` as host `host` (0: the base, 1 on: the mirrors) serves it: the mirror's base with
    // the same path below it. Host 0, and any host for a URL not below the base, give `url`.
    std::string urlOn(const std::string& url, size_t host) const;
    // The host a transfer of `url` starts on: the one that last brought bytes.
    size_t current(const std::string& url) const;
    // Host `host` brought bytes of `url` (fetched as `fetched`), after `left` made the
    // transfer leave another one (empty: none): later transfers start there, and the
    // listener hears of it when the bytes come from another origin than before.
    void brought(const std::string& url, size_t host, const std::string& fetched, const std::string& left);

    size_t count() const { return bases_.size(); }

private:
    bool below(const std::string& url) const;

    std::vector<std::string> bases_;  // the base first, then the usable mirrors
    Listener listener_;
    mutable std::mutex lock_;
    size_t current_ = 0;        // guarded by lock_
    std::string announced_;     // the origin the listener last heard of; guarded by lock_
};

// "scheme://host[:port]" of a URL, for the log; the URL itself when it has no "://".
std::string originOf(const std::string& url);

// Whether a failure on one host is reason to try the same file on the next: no answer, a
// refused secure connection, a server error (5xx or no status), a busy server (408, 429), a
// file it does not have (404, 410), or a stall. A bad URL, a refused manifest or a full disk
// would be the same anywhere.
bool worthAnotherHost(const base::Failure& failure);

// The failure of a transfer that every host of `hosts` failed: `last`'s kind and numbers,
// with the last host's origin in front of its text. One host alone: `last` as it is.
base::Failure everyHostFailed(const base::Failure& last, const std::string& lastUrl, size_t hosts);

}  // namespace pcupd
