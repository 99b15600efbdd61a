#pragma once
// The small documents of a run (the manifest, its signature and patches, chunk indexes):
// fetched whole into memory, conditionally against a kept copy, and compressed on request.
// Called on the worker thread.

#include <string>

#include "base/failure.h"
#include "update/http.h"

namespace pcupd {

// What a server said identifies a document's version, to ask "has it changed?" next time.
struct Validators {
    std::string etag;          // the ETag header as sent, quotes (and W/) included
    std::string lastModified;  // the Last-Modified header as sent
    bool empty() const { return etag.empty() && lastModified.empty(); }
};

struct Document {
    bool notModified = false;  // a 304: the copy the validators came from is still current
    std::string body;          // decoded; empty with notModified
    Validators validators;     // the response's, for next time
};

// GETs `url` into `document`. With `ifChanged`, the request is conditional (If-None-Match,
// If-Modified-Since) and a 304 succeeds with notModified. With `compressed`, it asks for gzip
// (Accept-Encoding). A gzip body is decoded whenever the server sends one, its decoded size
// bounded by kMaxHttpGetBody ("response too large"); a damaged one, or another encoding, is
// kBadInput ("compressed response is damaged: URL", "unknown Content-Encoding for URL").
// Otherwise fails as httpGet does (the status, a cut or over-long body, a stall).
bool fetchDocument(const std::string& url, const Validators& ifChanged, bool compressed,
                   Document& document, base::Failure& failure,
                   const TransferOptions& options = TransferOptions{});

}  // namespace pcupd
