// The module seam: the library's own copy of a module's function list, through which every
// wrapper reaches the module.
//
// At connect the module's list is copied into a ModuleFunctions that the binding owns. It has
// a row for every entry the library knows (every row of PKCS11_FUNCTIONS); an entry the module's list leaves
// NULL, and every entry that the list's kind does not have, is a stub that answers
// CKR_FUNCTION_NOT_SUPPORTED without calling anything. A wrapper therefore never calls address
// 0 and never reads past the end of a shorter list.
#pragma once

#include "pkcs11/pkcs11.h"

namespace vorlen {

/// Every entry of PKCS11_FUNCTIONS. Derived from CK_FUNCTION_LIST, so that a pointer to one of
/// its 2.x members applies to it as well.
struct ModuleFunctions : CK_FUNCTION_LIST {
#define VORLEN_LATER_ENTRY(name, major, minor, arguments) PKCS11_AFTER_2X(major, minor, CK_##name name;)
    PKCS11_FUNCTIONS(VORLEN_LATER_ENTRY)
#undef VORLEN_LATER_ENTRY
};

/// Which list of the module a binding uses.
enum class ModuleInterface {
    functionList2,  ///< the CK_FUNCTION_LIST of C_GetFunctionList: read as the 2.x list whatever
                    ///< version it announces (a 3.0 module's list may say 3.0 and still be short)
    interface3,     ///< the CK_FUNCTION_LIST_3_0 of the "PKCS 11" interface of a 3.x version
};

/// What the binding records of the list it uses.
struct ModuleListInfo {
    ModuleInterface interface = ModuleInterface::functionList2;
    CK_VERSION version{};  ///< the version the list announces
};

/// Fills `out` from a 2.x list: its 68 entries, a stub for each NULL one, stubs for the rest.
void copyFunctionList(const CK_FUNCTION_LIST& list, ModuleFunctions& out);
/// Fills `out` from a 3.0 list: its entries, a stub for each NULL one, stubs for the rest.
void copyFunctionList3(const CK_FUNCTION_LIST_3_0& list, ModuleFunctions& out);

}  // namespace vorlen
