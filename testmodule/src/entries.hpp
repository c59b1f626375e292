// The module's entries, one per function of the function list. They have
// C++ linkage and hidden visibility: the caller reaches them only through
// the list that C_GetFunctionList hands out.
#pragma once

#include "framework.hpp"

namespace vtm::entry {

// One entry per row of the function list (general.cpp, session.cpp,
// object.cpp, crypto.cpp, keys.cpp; the 3.0 rows in interfaces.cpp and
// messages.cpp), declared from the list.
#define VTM_DECLARE_ENTRY(name, major, minor, arguments) CK_RV name arguments;
PKCS11_FUNCTIONS(VTM_DECLARE_ENTRY)
#undef VTM_DECLARE_ENTRY

}  // namespace vtm::entry

namespace vtm {

/// A new object handle: the step's `handle=` or the next of the counter.
CK_OBJECT_HANDLE newObjectHandle(const Step& step);

/// Fills a fixed text field with `text`, blank-padded.
void setText(CK_UTF8CHAR* field, std::size_t size, const char* text);

/// What a transform echoes: its input, at most 16 MiB of it (record.cpp).
Bytes echo(const CK_BYTE* in, CK_ULONG len);

/// An entry that starts an operation: session, mechanism (required) and the key, if any.
CK_RV initialise(const char* fn, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                 const CK_OBJECT_HANDLE* hKey);

/// Defines the entry `name` that starts an operation with a mechanism and a key.
#define VTM_INITIALISE(name)                                                                        \
    CK_RV name(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {    \
        return initialise(#name, hSession, pMechanism, &hKey);                                      \
    }
/// Defines the entry `name` that takes a session alone.
#define VTM_SESSION_ONLY(name) \
    CK_RV name(CK_SESSION_HANDLE hSession) { return Call(#name, hSession).finish(); }

}  // namespace vtm
