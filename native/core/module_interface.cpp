#include "core/module_interface.h"

#include <cstring>
#include <string>

namespace vorlen {

namespace {

constexpr char kStandardName[] = "PKCS 11";
// The most interfaces read from C_GetInterfaceList; a longer list is not used.
constexpr CK_ULONG kMaxInterfaces = 32;

bool isStandard(const CK_INTERFACE& i) {
    return i.pInterfaceName != nullptr && i.pFunctionList != nullptr &&
           std::strncmp(reinterpret_cast<const char*>(i.pInterfaceName), kStandardName,
                        sizeof kStandardName) == 0;
}

CK_VERSION listVersion(const CK_INTERFACE& i) {
    CK_VERSION version;  // every function list starts with its version
    std::memcpy(&version, i.pFunctionList, sizeof version);
    return version;
}

bool newer(const CK_VERSION& a, const CK_VERSION& b) {
    return a.major != b.major ? a.major > b.major : a.minor > b.minor;
}

/// The highest 3.x version of "PKCS 11" that the module's C_GetInterfaceList announces.
bool announcedVersion(platform::LibraryHandle library, CK_VERSION& highest) {
    std::string ignored;
    auto getList = reinterpret_cast<CK_C_GetInterfaceList>(
        platform::findSymbol(library, "C_GetInterfaceList", ignored));
    CK_ULONG count = 0;
    if (getList == nullptr || getList(nullptr, &count) != CKR_OK || count == 0 ||
        count > kMaxInterfaces) {
        return false;
    }
    CK_INTERFACE list[kMaxInterfaces] = {};
    CK_ULONG written = count;
    if (getList(list, &written) != CKR_OK || written > count) {
        return false;
    }
    bool found = false;
    for (CK_ULONG i = 0; i < written; ++i) {
        if (!isStandard(list[i])) {
            continue;
        }
        const CK_VERSION version = listVersion(list[i]);
        if (version.major == 3 && (!found || newer(version, highest))) {
            highest = version;
            found = true;
        }
    }
    return found;
}

}  // namespace

bool findInterface3(platform::LibraryHandle library, ModuleFunctions& functions,
                    ModuleListInfo& info) {
    std::string ignored;
    auto getInterface = reinterpret_cast<CK_C_GetInterface>(
        platform::findSymbol(library, "C_GetInterface", ignored));
    if (getInterface == nullptr) {
        return false;
    }
    CK_VERSION wanted{};
    const bool announced = announcedVersion(library, wanted);
    CK_UTF8CHAR name[sizeof kStandardName];
    std::memcpy(name, kStandardName, sizeof kStandardName);
    CK_INTERFACE_PTR chosen = nullptr;
    if (getInterface(name, announced ? &wanted : nullptr, &chosen, 0) != CKR_OK ||
        chosen == nullptr || !isStandard(*chosen)) {
        return false;
    }
    const CK_VERSION version = listVersion(*chosen);
    if (version.major != 3 ||
        (announced && (version.major != wanted.major || version.minor != wanted.minor))) {
        return false;  // not the list it announced: the 2.x list is the safe one
    }
    copyFunctionList3(*static_cast<const CK_FUNCTION_LIST_3_0*>(chosen->pFunctionList), functions);
    info = ModuleListInfo{ModuleInterface::interface3, version};
    return true;
}

}  // namespace vorlen
