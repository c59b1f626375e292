// The interfaces of version 3.0: C_GetInterfaceList and C_GetInterface over
// the scriptable list of interfaces (State::interfaces), and the 3.0 function
// list. Only the module file built with v3exports.cpp exports the two entry
// points; every file has them in its 3.0 list.
#include "entries.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <sstream>

namespace vtm {

namespace {

constexpr const char* kStandardName = "PKCS 11";
constexpr const char* kVendorName = "Vorlen vendor";

// Every entry of the 3.0 list.
#define VTM_LIST_ENTRY(name, major, minor, arguments) PKCS11_IN_3_0(major, minor, .name = entry::name, )
const CK_FUNCTION_LIST_3_0 functionList30 = {.version = {3, 0}, PKCS11_FUNCTIONS(VTM_LIST_ENTRY)};
#undef VTM_LIST_ENTRY

// The lists and records handed out, rebuilt from State::interfaces on every
// call (a caller copies what it needs before the next call); the deque keeps
// earlier addresses valid.
struct Offered {
    std::deque<CK_FUNCTION_LIST_3_0> lists;
    std::vector<CK_INTERFACE> interfaces;
    CK_INTERFACE handedOut{};  ///< what C_GetInterface last pointed the caller at
};

Offered& offered() {
    static Offered* o = new Offered;  // never destroyed, as the state
    return *o;
}

// Builds the offered interfaces (state lock held).
void buildLocked(const State& s, Offered& o) {
    o.interfaces.clear();
    if (o.lists.size() > 1000) o.lists.clear();  // long since copied by their callers
    for (const InterfaceSpec& spec : s.interfaces) {
        CK_FUNCTION_LIST_3_0 list{};
        if (!spec.vendor) list = functionList30;
        list.version = spec.version;
        o.lists.push_back(list);
        CK_INTERFACE i{};
        i.pInterfaceName = reinterpret_cast<CK_CHAR_PTR>(const_cast<char*>(spec.vendor ? kVendorName : kStandardName));
        i.pFunctionList = &o.lists.back();
        i.flags = spec.flags;
        o.interfaces.push_back(i);
    }
}

std::string versionText(const CK_VERSION& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor);
}

}  // namespace

bool parseInterfaces(const std::string& text, std::vector<InterfaceSpec>& out) {
    out.clear();
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        InterfaceSpec spec;
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos) return false;
        const std::string kind = item.substr(0, colon);
        if (kind != "vendor" && kind != "pkcs") return false;
        spec.vendor = kind == "vendor";
        unsigned major = 0, minor = 0;
        unsigned long flags = 0;
        const std::string rest = item.substr(colon + 1);
        const int n = std::sscanf(rest.c_str(), "%u.%u:%lu", &major, &minor, &flags);
        if (n < 2 || major > 255 || minor > 255) return false;
        spec.version = CK_VERSION{static_cast<CK_BYTE>(major), static_cast<CK_BYTE>(minor)};
        spec.flags = flags;
        out.push_back(spec);
    }
    return true;
}

namespace entry {

CK_RV C_GetInterfaceList(CK_INTERFACE_PTR pInterfacesList, CK_ULONG_PTR pulCount) {
    Call c("C_GetInterfaceList");
    c.pointer("pInterfacesList", pInterfacesList).inLen("pulCount", pulCount).require(pulCount);
    if (c.step().writeThroughNull && pInterfacesList == nullptr) {
        CK_INTERFACE* volatile target = pInterfacesList;  // hidden from the compiler
        target->flags = 0;
    }
    if (c.writes()) withState([&](State& s) {
        Offered& o = offered();
        buildLocked(s, o);
        c.outValues(pInterfacesList, pulCount, o.interfaces);
    });
    return c.finish();
}

CK_RV C_GetInterface(CK_UTF8CHAR_PTR pInterfaceName, CK_VERSION_PTR pVersion, CK_INTERFACE_PTR_PTR ppInterface,
                     CK_FLAGS flags) {
    Call c("C_GetInterface");
    c.bytes("pInterfaceName", pInterfaceName,
            pInterfaceName ? static_cast<CK_ULONG>(std::strlen(reinterpret_cast<const char*>(pInterfaceName))) : 0);
    c.raw("pVersion", pVersion ? versionText(*pVersion) : std::string("null"));
    c.pointer("ppInterface", ppInterface).scalar("flags", flags).require(ppInterface);
    if (c.writes()) withState([&](State& s) {
        Offered& o = offered();
        buildLocked(s, o);
        const CK_INTERFACE* found = nullptr;
        for (const CK_INTERFACE& i : o.interfaces) {
            const auto* list = static_cast<const CK_FUNCTION_LIST_3_0*>(i.pFunctionList);
            if (pInterfaceName != nullptr &&
                std::strcmp(reinterpret_cast<const char*>(pInterfaceName),
                            reinterpret_cast<const char*>(i.pInterfaceName)) != 0)
                continue;
            if (pVersion != nullptr &&
                (pVersion->major != list->version.major || pVersion->minor != list->version.minor))
                continue;
            if ((i.flags & flags) != flags) continue;
            found = &i;
            break;
        }
        if (c.step().nullList) {
            *ppInterface = nullptr;
        } else if (found == nullptr) {
            c.autoRv(CKR_ARGUMENTS_BAD);
        } else {
            o.handedOut = *found;
            if (c.step().listVersion) {
                // A list whose version is not the one the interface announced.
                o.lists.push_back(*static_cast<const CK_FUNCTION_LIST_3_0*>(found->pFunctionList));
                o.lists.back().version = *c.step().listVersion;
                o.handedOut.pFunctionList = &o.lists.back();
            }
            *ppInterface = &o.handedOut;
        }
    });
    return c.finish();
}

}  // namespace entry

}  // namespace vtm
