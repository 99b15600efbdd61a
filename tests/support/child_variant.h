#pragma once
// The VARIANT an accessible object's methods take to name one of its children.

#include <windows.h>
#include <oleauto.h>

namespace testsupport {

inline VARIANT childVariant(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

}  // namespace testsupport
