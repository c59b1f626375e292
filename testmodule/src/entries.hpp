// The module's entries, one per function of the function list. They have
// C++ linkage and hidden visibility: the caller reaches them only through
// the list that C_GetFunctionList hands out.
#pragma once

#include "framework.hpp"

namespace vtm::entry {

// One entry per row of major version 2 of the function list (general.cpp,
// session.cpp, object.cpp, crypto.cpp, keys.cpp), declared from the list.
#define VTM_DECLARE_ENTRY(name, major, minor, arguments) \
    PKCS11_ONLY_MAJOR_2_##major(CK_RV name arguments;)
PKCS11_FUNCTIONS(VTM_DECLARE_ENTRY)
#undef VTM_DECLARE_ENTRY

}  // namespace vtm::entry

namespace vtm {

/// A new object handle: the step's `handle=` or the next of the counter.
CK_OBJECT_HANDLE newObjectHandle(const Step& step);

/// Fills a fixed text field with `text`, blank-padded.
void setText(CK_UTF8CHAR* field, std::size_t size, const char* text);

}  // namespace vtm
