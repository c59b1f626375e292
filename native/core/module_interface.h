// Choosing the function list of a module that offers the interfaces of version 3.0.
#pragma once

#include "core/module_functions.h"
#include "platform/dynamic_library.h"

namespace vorlen {

/// Asks a module that exports C_GetInterface for its default "PKCS 11" interface (no version
/// given) and, when that list is of a 3.x version, fills `functions` and `info` from it. False
/// when the module exports no C_GetInterface, the call fails, or what it hands out is not a
/// "PKCS 11" list of a 3.x version: the caller then uses C_GetFunctionList. Nothing else of the
/// module is called.
bool findInterface3(platform::LibraryHandle library, ModuleFunctions& functions, ModuleListInfo& info);

}  // namespace vorlen
