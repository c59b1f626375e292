#include "core/module_interface.h"

#include <cstring>
#include <string>

namespace vorlen {

namespace {

constexpr char kStandardName[] = "PKCS 11";

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

}  // namespace

bool findInterface3(platform::LibraryHandle library, ModuleFunctions& functions,
                    ModuleListInfo& info) {
    std::string ignored;
    auto getInterface = reinterpret_cast<CK_C_GetInterface>(
        platform::findSymbol(library, "C_GetInterface", ignored));
    if (getInterface == nullptr) {
        return false;
    }
    // One call, with no version: the module's default. Nothing else of the 3.0 entries is
    // asked (C_GetInterfaceList in particular, which some modules and wrappers of 2.x modules
    // get wrong), so a 2.x module is touched no more than C_GetFunctionList touches it.
    CK_UTF8CHAR name[sizeof kStandardName];
    std::memcpy(name, kStandardName, sizeof kStandardName);
    CK_INTERFACE_PTR chosen = nullptr;
    if (getInterface(name, nullptr, &chosen, 0) != CKR_OK || chosen == nullptr ||
        !isStandard(*chosen)) {
        return false;
    }
    const CK_VERSION version = listVersion(*chosen);
    if (version.major != 3) {
        return false;  // a 2.x list: the one of C_GetFunctionList is read the same way
    }
    copyFunctionList3(*static_cast<const CK_FUNCTION_LIST_3_0*>(chosen->pFunctionList), functions);
    info = ModuleListInfo{ModuleInterface::interface3, version};
    return true;
}

}  // namespace vorlen
