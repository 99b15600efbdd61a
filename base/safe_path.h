#pragma once
// The one check that a relative path from the network (an archive entry, a manifest file)
// may be joined to the install folder. Plain C++ so the operator's tools share it on Linux.

#include <string>

namespace base {

// True when `utf8Path` names a file strictly inside the folder it is joined to: relative
// (no drive, root, UNC or \\?\ prefix), `/` or `\` between components, no empty, "." or
// ".." component, no ':' (drive or NTFS stream), no character Windows forbids in names
// (<>"|?* and controls), no component ending in a dot or space, and no reserved device
// name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$), with or without extension.
bool isSafeRelativePath(const std::string& utf8Path);

}  // namespace base
