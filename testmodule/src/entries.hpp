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

/// The 2.x function list that C_GetFunctionList hands out (general.cpp).
const CK_FUNCTION_LIST& functionList2();

/// Fills a fixed text field with `text`, blank-padded.
void setText(CK_UTF8CHAR* field, std::size_t size, const char* text);

/// What a transform echoes: its input, at most 16 MiB of it (record.cpp).
Bytes echo(const CK_BYTE* in, CK_ULONG len);

/// An entry that takes a session alone, or a session and one handle: records
/// them, sends the session's notification, answers as the script says
/// (record.cpp).
CK_RV sessionOnly(const char* fn, CK_SESSION_HANDLE hSession);
CK_RV sessionAndHandle(const char* fn, CK_SESSION_HANDLE hSession, const char* name, CK_ULONG handle);

}  // namespace vtm
