#include "core/module_functions.h"

namespace vorlen {

namespace {

// One stub per entry type: it takes the entry's arguments and answers
// CKR_FUNCTION_NOT_SUPPORTED, touching nothing.
template <typename Entry>
struct NotSupported;

template <typename... Arguments>
struct NotSupported<CK_RV(PKCS11_CALL*)(Arguments...)> {
    static CK_RV PKCS11_CALL call(Arguments...) { return CKR_FUNCTION_NOT_SUPPORTED; }
};

template <typename Entry>
Entry orStub(Entry entry) {
    return entry != nullptr ? entry : &NotSupported<Entry>::call;
}

}  // namespace

void copyFunctionList(const CK_FUNCTION_LIST& list, ModuleFunctions& out) {
    out.version = list.version;
#define VORLEN_COPY_ENTRY(name, major, minor, arguments) \
    PKCS11_IN_2X(major, minor, out.name = orStub(list.name);)
#define VORLEN_STUB_ENTRY(name, major, minor, arguments) \
    PKCS11_AFTER_2X(major, minor, out.name = &NotSupported<CK_##name>::call;)
    PKCS11_FUNCTIONS(VORLEN_COPY_ENTRY)
    PKCS11_FUNCTIONS(VORLEN_STUB_ENTRY)
#undef VORLEN_COPY_ENTRY
#undef VORLEN_STUB_ENTRY
}

void copyFunctionList3(const CK_FUNCTION_LIST_3_0& list, ModuleFunctions& out) {
    out.version = list.version;
#define VORLEN_STUB_ENTRY(name, major, minor, arguments) out.name = &NotSupported<CK_##name>::call;
#define VORLEN_COPY_ENTRY(name, major, minor, arguments) \
    PKCS11_IN_3_0(major, minor, out.name = orStub(list.name);)
    PKCS11_FUNCTIONS(VORLEN_STUB_ENTRY)  // the rows of later versions stay stubs
    PKCS11_FUNCTIONS(VORLEN_COPY_ENTRY)
#undef VORLEN_STUB_ENTRY
#undef VORLEN_COPY_ENTRY
}

}  // namespace vorlen
