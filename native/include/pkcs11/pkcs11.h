// PKCS#11 (Cryptoki) v2.40 definitions used by the JNI library and its test
// module: types and structures, constants, and the module function lists
// (the 2.x list and the 3.0 list with its interface records).
//
// This is the header to include; the three parts can be included on their
// own as well. See pkcs11_types.h for the platform convention (width of
// CK_ULONG, packing, calling convention). check/layout_check.cpp compares
// these definitions with independent PKCS#11 headers at compile time.

#ifndef PKCS11_PKCS11_H
#define PKCS11_PKCS11_H

#include "pkcs11_types.h"
#include "pkcs11_constants.h"
#include "pkcs11_functions.h"

#endif  // PKCS11_PKCS11_H
