#pragma once
// When two spellings name one file or folder, and when one lies inside another. Decided
// here and nowhere else: text comparisons of paths let "C:\Users\me\DOCU~1",
// "\\.\C:\Users\me\Documents" and a link to either pass for other folders.

#include <string>

namespace base {

// The form in which every spelling of one file or folder reads the same, case aside:
// absolute, `.` and `..` resolved, `/` as `\`, no \\?\ or \\.\ prefix (\\?\UNC\ as \\),
// a bare drive ("C:") as its root, no trailing separator but a root's ("C:\"). Where the
// path exists it is where the system says the file really is: links followed, 8.3 names
// long. Where it does not, its nearest existing folder is so resolved and the rest follows
// as spelled. Compare such forms with sameComparable and holdsComparable only.
std::wstring comparablePath(const std::wstring& path);

// Whether two comparable forms name one file or folder (ordinal, ignoring case).
bool sameComparable(const std::wstring& a, const std::wstring& b);

// Whether comparable `path` lies strictly inside comparable `folder`, at any depth and by
// whole components: C:\Users\m does not hold C:\Users\me.
bool holdsComparable(const std::wstring& folder, const std::wstring& path);

// The two questions above for paths in any spelling.
bool samePath(const std::wstring& a, const std::wstring& b);
bool isInsideFolder(const std::wstring& path, const std::wstring& folder);

// Where the file or folder open as `handle` (a HANDLE) really is, in comparable form; empty
// when the system cannot say.
std::wstring finalPathOfHandle(void* handle);

}  // namespace base
