#pragma once
// The URLs the manifest gives for the archive and for each file copy.

#include <string>

namespace orvpak {

// `url` without its trailing '/'s. False, with a message, unless it starts with http:// or
// https:// (any case), names a host, and holds only printable ASCII with no '?' or '#'
// (anything after those would swallow the paths appended to it).
bool normalizeBaseUrl(const std::string& url, std::string& normalized, std::string& error);

// `path` ('/'-separated UTF-8) with every byte of each segment except A-Z a-z 0-9 - . _ ~
// as %XX (upper-case hex). The downloader sends URL paths as they stand, so spaces and
// non-ASCII names reach the server only this way.
std::string percentEncodePath(const std::string& path);

}  // namespace orvpak
