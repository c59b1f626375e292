// A shared library that is not a PKCS#11 module: it exports one function and
// no C_GetFunctionList. Tests load it to see how a load without that entry
// point fails.

#if defined(_WIN32)
#define NOGFL_EXPORT extern "C" __declspec(dllexport)
#else
#define NOGFL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

NOGFL_EXPORT int vorlen_testmodule_nogfl_answer() { return 42; }
