#pragma once
// GDI+'s headers need COM's IStream, which WIN32_LEAN_AND_MEAN leaves out of <windows.h>.

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
