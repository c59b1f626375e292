#include "platform/dynamic_library.h"

#ifdef _WIN32
#  define WIN32_LEAN_AND_MEAN
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

#include <new>

namespace vorlen::platform {

namespace {

#ifdef _WIN32
// The text the system holds for the calling thread's last error, as FormatMessageA gives it
// (in the ANSI code page, ending with a line break).
std::string lastErrorText() {
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                        FORMAT_MESSAGE_FROM_SYSTEM;
    const DWORD length = FormatMessageA(flags, nullptr, code, 0,
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result;
    if (length != 0 && text != nullptr) {
        result.assign(text, length);
    } else {
        result = "Windows error " + std::to_string(code) + "\r\n";
    }
    if (text != nullptr) {
        LocalFree(text);
    }
    return result;
}
#endif

// Stores the system's text for the last failure in `error`. A load can fail for want of memory,
// and so can the copy of its text: `error` then stays empty, and nothing is thrown through the
// JNI caller.
void storeLastError(std::string& error, [[maybe_unused]] const char* fallback) noexcept {
    try {
#ifdef _WIN32
        error = lastErrorText();
#else
        // No text: a symbol found whose value is null (a failed dlopen always has one).
        const char* text = dlerror();
        error = text != nullptr ? text : fallback;
#endif
    } catch (const std::bad_alloc&) {
        error.clear();
    }
}

}  // namespace

LibraryHandle openLibrary(const char* path, std::string& error) {
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path);
    if (module == nullptr) {
        storeLastError(error, nullptr);
    }
    return reinterpret_cast<LibraryHandle>(module);
#else
    dlerror();
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        storeLastError(error, "the dynamic loader gave no reason");
    }
    return handle;
#endif
}

void* findSymbol(LibraryHandle library, const char* name, std::string& error) {
#ifdef _WIN32
    FARPROC symbol = GetProcAddress(reinterpret_cast<HMODULE>(library), name);
    if (symbol == nullptr) {
        storeLastError(error, nullptr);
    }
    return reinterpret_cast<void*>(symbol);
#else
    dlerror();
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        storeLastError(error, "symbol not found");
    }
    return symbol;
#endif
}

void closeLibrary(LibraryHandle library) {
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(library));
#else
    dlclose(library);
#endif
}

}  // namespace vorlen::platform
