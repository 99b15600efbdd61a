#pragma once
// The URLs the manifest gives for the archive and for each file copy.

#include <string>
#include <vector>

namespace orvpak {

// `url` without its trailing '/'s. False, with a message naming `option`, unless it starts
// with http:// or https:// (any case), names a host, and holds only printable ASCII with no
// '?' or '#' (anything after those would swallow the paths appended to it).
bool normalizeBaseUrl(const std::string& url, std::string& normalized, std::string& error,
                      const std::string& option = "--base-url");

// Each of `mirrors` normalized as a base URL, in the order given. False, with a message naming
// the URL, when one is not a base URL, or is `baseUrl` (already normalized) or an earlier
// mirror: the program would only try the same host again. Scheme and host compare in any
// letter case, as servers take them; the path as written.
bool normalizeMirrors(const std::string& baseUrl, const std::vector<std::string>& mirrors,
                      std::vector<std::string>& normalized, std::string& error);

// `path` ('/'-separated UTF-8) with every byte of each segment except A-Z a-z 0-9 - . _ ~
// as %XX (upper-case hex). The downloader sends URL paths as they stand, so spaces and
// non-ASCII names reach the server only this way.
std::string percentEncodePath(const std::string& path);

}  // namespace orvpak
