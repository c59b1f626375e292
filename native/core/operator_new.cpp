// The library's own calls of operator new (its code has no operator new[] but in a branch of
// char_traits that only runs at compile time), routed here by the linker (GNU ld's --wrap, set in
// CMakeLists.txt where VORLEN_WRAP_NEW is defined: Linux), ask the heap fault hook before the
// real operator new: `new`, `new (std::nothrow)` and the allocators of the standard containers
// instantiated in this library then fail under the tests' fault injector as heapAlloc's blocks
// do, as they would on a full heap. Nothing else changes: the real operator new makes every
// block and operator delete frees it. The process's other code, libstdc++'s compiled parts
// included, keeps the plain operator new: this is no replacement of the global one.
#ifdef VORLEN_WRAP_NEW

#include <cstddef>
#include <new>

#include "core/jni_util.h"

// The mangled names of operator new(size_t) and its forms: size_t is unsigned long ('m') on the
// 64-bit Linux targets, unsigned int ('j') on the 32-bit ones.
#if __SIZEOF_SIZE_T__ == 8
#  define VORLEN_NEW(suffix) _Znwm##suffix
#else
#  define VORLEN_NEW(suffix) _Znwj##suffix
#endif
#define VORLEN_CAT(a, b) a##b
#define VORLEN_WRAPPED(name) VORLEN_CAT(__wrap_, name)
#define VORLEN_REAL(name) VORLEN_CAT(__real_, name)

extern "C" {
void* VORLEN_REAL(VORLEN_NEW())(std::size_t size);
void* VORLEN_REAL(VORLEN_NEW(RKSt9nothrow_t))(std::size_t size, const std::nothrow_t&) noexcept;

void* VORLEN_WRAPPED(VORLEN_NEW())(std::size_t size) {
    if (vorlen::heapRefused(size, true)) [[unlikely]] {
        throw std::bad_alloc();
    }
    return VORLEN_REAL(VORLEN_NEW())(size);
}

void* VORLEN_WRAPPED(VORLEN_NEW(RKSt9nothrow_t))(std::size_t size, const std::nothrow_t& tag) noexcept {
    if (vorlen::heapRefused(size, true)) [[unlikely]] {
        return nullptr;
    }
    return VORLEN_REAL(VORLEN_NEW(RKSt9nothrow_t))(size, tag);
}
}  // extern "C"

#endif  // VORLEN_WRAP_NEW
