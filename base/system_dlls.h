#pragma once
// A program started from Downloads or %TEMP% shares its folder with whatever else landed
// there. Windows looks for a DLL that is not one of its known DLLs in the program's folder
// first, so a winhttp.dll, bcrypt.dll, gdiplus.dll or oleacc.dll left there would run inside
// the program. Those four are delay-loaded (cmake/delay_load.cmake) and come from System32 only.

namespace base {

// Makes System32 the only folder that DLLs are loaded from, for every later load in the
// process. The first call of wWinMain and main, before anything loads a DLL. False when the
// system refuses, which no supported Windows does.
bool loadSystemDllsOnly();

}  // namespace base
