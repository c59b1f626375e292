// The entry points of a 3.0 module, exported by the vorlentestmodule_v3 file
// only: the other files of the same objects stay 2.x modules.
#include "entries.hpp"

VTM_EXPORT CK_RV C_GetInterfaceList(CK_INTERFACE_PTR pInterfacesList, CK_ULONG_PTR pulCount) {
    return vtm::entry::C_GetInterfaceList(pInterfacesList, pulCount);
}

VTM_EXPORT CK_RV C_GetInterface(CK_UTF8CHAR_PTR pInterfaceName, CK_VERSION_PTR pVersion,
                                CK_INTERFACE_PTR_PTR ppInterface, CK_FLAGS flags) {
    return vtm::entry::C_GetInterface(pInterfaceName, pVersion, ppInterface, flags);
}
