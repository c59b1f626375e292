// Loading PKCS#11 module files: the only place that knows the operating system's loader.
#pragma once

#include <string>

namespace vorlen::platform {

/// Opaque handle of a loaded dynamic library (HMODULE on Windows, dlopen handle elsewhere).
using LibraryHandle = void*;

/// Loads the library at `path`. On failure returns nullptr and stores the system's error text
/// in `error` (a generic text stands in when the system gives none; empty only when no memory
/// was left for the text).
LibraryHandle openLibrary(const char* path, std::string& error);

/// Looks up an exported symbol. On failure returns nullptr and stores the system's error text
/// (empty when no memory was left for it).
void* findSymbol(LibraryHandle library, const char* name, std::string& error);

/// Releases one load of the library: a handle that openLibrary gave (never null).
void closeLibrary(LibraryHandle library);

}  // namespace vorlen::platform
