// Compile-time check of the PKCS#11 definitions in ../pkcs11.h.
//
// This translation unit holds static_asserts only; it produces no code. It
// compares our definitions with two independent PKCS#11 headers that Debian
// ships, where they are installed:
//   - p11-kit's pkcs11.h (libp11-kit-dev): basic types, the information
//     records, a few parameter records, the callback types and the whole
//     CK_FUNCTION_LIST (offset, type and argument shape of all 68 entries);
//   - NSS's pkcs11t.h and pkcs11f.h (libnss3-dev, needs NSPR's prtypes.h on
//     the include path): every record we define, the older parameter records
//     among them, CK_INTERFACE, and both function lists, CK_FUNCTION_LIST and
//     CK_FUNCTION_LIST_3_0 (offset and argument shape of all 92 entries).
// For each record it checks size, alignment, and offset, size and pointer-ness
// of every field; for each constant of pkcs11_constants.h the value, against
// each foreign header that defines the name.
//
// The foreign headers are included after ours, each inside a namespace of its
// own, so their types are p11kit::CK_INFO, nss::CK_INFO and so on. Their
// constants are macros with the same names as our constants; the values of
// ours are therefore captured into layout_check::<name>_ before the first
// foreign header is seen. The macros of p11-kit are removed again before NSS
// is included.
//
// Without either foreign header only the self-checks and, on Windows (both widths),
// the packed sizes of win32_sizes.h remain.

// Only <stddef.h> (for offsetof) from the toolchain: no C++ library headers,
// so the check also builds with a compiler that has a C++ front end for the
// target but no C++ library for it (g++ -m32 without the multilib packages).
#include <stddef.h>

#include "../pkcs11.h"
#include "constant_names.h"  // generated at configure time (cmake/LayoutCheckLists.cmake)
#include "win32_sizes.h"

// ---------------------------------------------------------------------------
// Self-checks that need no foreign header
// ---------------------------------------------------------------------------

namespace layout_check {

// --- Small type traits (instead of <type_traits>) --------------------------

template <class A, class B>
struct SameType {
    static constexpr bool value = false;
};
template <class A>
struct SameType<A, A> {
    static constexpr bool value = true;
};
template <class A, class B>
inline constexpr bool isSame = SameType<A, B>::value;

template <class T>
struct RemoveConst {
    using type = T;
};
template <class T>
struct RemoveConst<const T> {
    using type = T;
};

template <class T>
struct IsConst {
    static constexpr bool value = false;
};
template <class T>
struct IsConst<const T> {
    static constexpr bool value = true;
};

// const has no effect on a function type, which tells function types apart.
template <class T>
inline constexpr bool isFunction = !IsConst<const T>::value;

template <class T>
struct Pointer {
    static constexpr bool value = false;
};
template <class T>
struct Pointer<T*> {
    static constexpr bool value = true;
    using Pointee = typename RemoveConst<T>::type;
};
template <class T>
inline constexpr bool isPointer = Pointer<T>::value;

template <class T>
inline constexpr bool isArray = false;
template <class T, decltype(sizeof 0) N>
inline constexpr bool isArray<T[N]> = true;

// Width rules: CK_ULONG is the platform's unsigned long, whatever its width,
// and the handle and flag types are CK_ULONG.
static_assert(isSame<CK_ULONG, unsigned long>);
static_assert(isSame<CK_LONG, long>);
static_assert(sizeof(CK_BYTE) == 1 && sizeof(CK_BBOOL) == 1 && sizeof(CK_UTF8CHAR) == 1);
static_assert(isSame<CK_FLAGS, CK_ULONG> && isSame<CK_RV, CK_ULONG> &&
              isSame<CK_SESSION_HANDLE, CK_ULONG> &&
              isSame<CK_OBJECT_HANDLE, CK_ULONG> && isSame<CK_SLOT_ID, CK_ULONG> &&
              isSame<CK_MECHANISM_TYPE, CK_ULONG> &&
              isSame<CK_ATTRIBUTE_TYPE, CK_ULONG>);

// All bits of a CK_ULONG, on every width.
static_assert(CK_UNAVAILABLE_INFORMATION == static_cast<CK_ULONG>(-1));
static_assert(CK_UNAVAILABLE_INFORMATION + 1 == 0);

static_assert(CK_TRUE == 1 && CK_FALSE == 0 && isSame<decltype(CK_TRUE), const CK_BBOOL>);
static_assert(static_cast<CK_VOID_PTR>(NULL_PTR) == nullptr);

// Array attributes carry CKF_ARRAY_ATTRIBUTE.
static_assert((CKA_WRAP_TEMPLATE & CKF_ARRAY_ATTRIBUTE) != 0 &&
              (CKA_UNWRAP_TEMPLATE & CKF_ARRAY_ATTRIBUTE) != 0 &&
              (CKA_DERIVE_TEMPLATE & CKF_ARRAY_ATTRIBUTE) != 0 &&
              (CKA_ALLOWED_MECHANISMS & CKF_ARRAY_ATTRIBUTE) != 0);

// The RC2 CBC record holds its IV inline.
static_assert(sizeof(CK_RC2_CBC_PARAMS::iv) == 8);
static_assert(isArray<decltype(CK_RC2_CBC_PARAMS::iv)>);

// Each function list is a version followed by its entry points, one pointer
// each, in the order of PKCS11_FUNCTIONS, and nothing else; the padding after
// the version is whatever the platform puts before a pointer (none on
// Windows). The 2.x list has the rows of major version 2, and they come first
// in the 3.0 list; the foreign headers below confirm both sizes.
static_assert(sizeof(CK_FUNCTION_LIST) ==
              offsetof(CK_FUNCTION_LIST, C_Initialize) + CK_FUNCTION_LIST_ENTRIES * sizeof(CK_C_Initialize));
static_assert(sizeof(CK_FUNCTION_LIST_3_0) ==
              offsetof(CK_FUNCTION_LIST_3_0, C_Initialize) +
                  CK_FUNCTION_LIST_3_0_ENTRIES * sizeof(CK_C_Initialize));
static_assert(offsetof(CK_FUNCTION_LIST, C_Initialize) ==
              offsetof(CK_FUNCTION_LIST_3_0, C_Initialize));

// Every constant has a CK_ULONG type (through one of the PKCS#11 typedefs),
// and its value is captured for the comparisons with the foreign headers.
#define PKCS11_CHECK_CAPTURE(name)                                                 \
    static_assert(isSame<RemoveConst<decltype(::name)>::type, CK_ULONG>, #name " is not a CK_ULONG"); \
    inline constexpr CK_ULONG name##_ = ::name;
PKCS11_CHECK_CONSTANTS(PKCS11_CHECK_CAPTURE)
#undef PKCS11_CHECK_CAPTURE

inline constexpr unsigned cryptokiVersionMajor = ::CRYPTOKI_VERSION_MAJOR;
inline constexpr unsigned cryptokiVersionMinor = ::CRYPTOKI_VERSION_MINOR;
inline constexpr CK_BBOOL ckTrue = ::CK_TRUE;
inline constexpr CK_BBOOL ckFalse = ::CK_FALSE;

// --- Helpers for the comparisons -------------------------------------------

using Size = decltype(sizeof 0);

// Shape of a function argument: a pointer is told apart from an integer and
// described by the size of what it points to (marker values for void and for
// a function), so arguments in the wrong order or of the wrong kind are
// caught even where a CK_ULONG and a pointer have the same size.
template <class T>
constexpr Size argumentShape() {
    if constexpr (isPointer<T>) {
        using Pointee = typename Pointer<T>::Pointee;
        if constexpr (isSame<Pointee, void>) {
            return 1000;
        } else if constexpr (isFunction<Pointee>) {
            return 1001;
        } else {
            return 2000 + sizeof(Pointee);
        }
    } else {
        return sizeof(T);
    }
}

template <class F>
struct Signature;

template <class R, class... A>
struct Signature<R (*)(A...)> {
    static constexpr Size resultSize = sizeof(R);
    static constexpr Size arity = sizeof...(A);
    // One extra element so that a function without arguments has an array.
    static constexpr Size arguments[sizeof...(A) + 1] = {argumentShape<A>()..., 0};
};

// True when two function pointer types take and return values of the same
// shapes in the same order.
template <class F, class G>
constexpr bool sameSignatureShape() {
    using Ours = Signature<F>;
    using Theirs = Signature<G>;
    if (Ours::arity != Theirs::arity || Ours::resultSize != Theirs::resultSize) {
        return false;
    }
    for (Size i = 0; i < Ours::arity; ++i) {
        if (Ours::arguments[i] != Theirs::arguments[i]) {
            return false;
        }
    }
    return true;
}

// 1 when the name, after macro expansion, is no longer the name itself: that
// is, when the foreign header just included defines it as a macro.
constexpr int isForeignMacro(const char* name, const char* expansion) {
    while (*name != '\0' && *name == *expansion) {
        ++name;
        ++expansion;
    }
    return *name == *expansion ? 0 : 1;
}

}  // namespace layout_check

#define PKCS11_CHECK_STRINGIZE2(...) #__VA_ARGS__
#define PKCS11_CHECK_STRINGIZE(...) PKCS11_CHECK_STRINGIZE2(__VA_ARGS__)

// Our value of a constant against whatever the name means now: the foreign
// macro if the foreign header defines one, else our own constant again.
#define PKCS11_CHECK_CONSTANT(name)                                         \
    static_assert(layout_check::name##_ == static_cast<CK_ULONG>(name), \
                  #name " differs from the foreign header");
// Adds one for each name the foreign header defines.
#define PKCS11_CHECK_COUNT_DEFINED(name) \
    +layout_check::isForeignMacro(#name, PKCS11_CHECK_STRINGIZE(name))

// Record comparison: size, alignment, and each listed field.
#define PKCS11_CHECK_FIELD(ns, T, f)                                                   \
    static_assert(offsetof(::T, f) == offsetof(ns::T, f), #T "::" #f ": offset differs"); \
    static_assert(sizeof(::T::f) == sizeof(ns::T::f), #T "::" #f ": size differs");      \
    static_assert(isPointer<decltype(::T::f)> == isPointer<decltype(ns::T::f)>, \
                  #T "::" #f ": pointer and non-pointer");
#define PKCS11_CHECK_RECORD(ns, T)                                              \
    static_assert(sizeof(::T) == sizeof(ns::T), #T ": size differs");         \
    static_assert(alignof(::T) == alignof(ns::T), #T ": alignment differs"); \
    PKCS11_FIELDS_##T(PKCS11_CHECK_FIELD, ns)

// The fields of every record, in declaration order.
#define PKCS11_FIELDS_CK_VERSION(X, ns) X(ns, CK_VERSION, major) X(ns, CK_VERSION, minor)
#define PKCS11_FIELDS_CK_INFO(X, ns)                                               \
    X(ns, CK_INFO, cryptokiVersion) X(ns, CK_INFO, manufacturerID) X(ns, CK_INFO, flags) \
    X(ns, CK_INFO, libraryDescription) X(ns, CK_INFO, libraryVersion)
#define PKCS11_FIELDS_CK_SLOT_INFO(X, ns)                                                 \
    X(ns, CK_SLOT_INFO, slotDescription) X(ns, CK_SLOT_INFO, manufacturerID)               \
    X(ns, CK_SLOT_INFO, flags) X(ns, CK_SLOT_INFO, hardwareVersion)                        \
    X(ns, CK_SLOT_INFO, firmwareVersion)
#define PKCS11_FIELDS_CK_TOKEN_INFO(X, ns)                                                  \
    X(ns, CK_TOKEN_INFO, label) X(ns, CK_TOKEN_INFO, manufacturerID)                         \
    X(ns, CK_TOKEN_INFO, model) X(ns, CK_TOKEN_INFO, serialNumber) X(ns, CK_TOKEN_INFO, flags) \
    X(ns, CK_TOKEN_INFO, ulMaxSessionCount) X(ns, CK_TOKEN_INFO, ulSessionCount)             \
    X(ns, CK_TOKEN_INFO, ulMaxRwSessionCount) X(ns, CK_TOKEN_INFO, ulRwSessionCount)         \
    X(ns, CK_TOKEN_INFO, ulMaxPinLen) X(ns, CK_TOKEN_INFO, ulMinPinLen)                      \
    X(ns, CK_TOKEN_INFO, ulTotalPublicMemory) X(ns, CK_TOKEN_INFO, ulFreePublicMemory)       \
    X(ns, CK_TOKEN_INFO, ulTotalPrivateMemory) X(ns, CK_TOKEN_INFO, ulFreePrivateMemory)     \
    X(ns, CK_TOKEN_INFO, hardwareVersion) X(ns, CK_TOKEN_INFO, firmwareVersion)              \
    X(ns, CK_TOKEN_INFO, utcTime)
#define PKCS11_FIELDS_CK_SESSION_INFO(X, ns)                                   \
    X(ns, CK_SESSION_INFO, slotID) X(ns, CK_SESSION_INFO, state)               \
    X(ns, CK_SESSION_INFO, flags) X(ns, CK_SESSION_INFO, ulDeviceError)
#define PKCS11_FIELDS_CK_ATTRIBUTE(X, ns) \
    X(ns, CK_ATTRIBUTE, type) X(ns, CK_ATTRIBUTE, pValue) X(ns, CK_ATTRIBUTE, ulValueLen)
#define PKCS11_FIELDS_CK_DATE(X, ns) X(ns, CK_DATE, year) X(ns, CK_DATE, month) X(ns, CK_DATE, day)
#define PKCS11_FIELDS_CK_MECHANISM(X, ns)                                  \
    X(ns, CK_MECHANISM, mechanism) X(ns, CK_MECHANISM, pParameter)         \
    X(ns, CK_MECHANISM, ulParameterLen)
#define PKCS11_FIELDS_CK_MECHANISM_INFO(X, ns)                                      \
    X(ns, CK_MECHANISM_INFO, ulMinKeySize) X(ns, CK_MECHANISM_INFO, ulMaxKeySize)   \
    X(ns, CK_MECHANISM_INFO, flags)
#define PKCS11_FIELDS_CK_C_INITIALIZE_ARGS(X, ns)                                       \
    X(ns, CK_C_INITIALIZE_ARGS, CreateMutex) X(ns, CK_C_INITIALIZE_ARGS, DestroyMutex)  \
    X(ns, CK_C_INITIALIZE_ARGS, LockMutex) X(ns, CK_C_INITIALIZE_ARGS, UnlockMutex)     \
    X(ns, CK_C_INITIALIZE_ARGS, flags) X(ns, CK_C_INITIALIZE_ARGS, pReserved)
#define PKCS11_FIELDS_CK_RSA_PKCS_OAEP_PARAMS(X, ns)                                       \
    X(ns, CK_RSA_PKCS_OAEP_PARAMS, hashAlg) X(ns, CK_RSA_PKCS_OAEP_PARAMS, mgf)            \
    X(ns, CK_RSA_PKCS_OAEP_PARAMS, source) X(ns, CK_RSA_PKCS_OAEP_PARAMS, pSourceData)     \
    X(ns, CK_RSA_PKCS_OAEP_PARAMS, ulSourceDataLen)
#define PKCS11_FIELDS_CK_RSA_PKCS_PSS_PARAMS(X, ns)                                    \
    X(ns, CK_RSA_PKCS_PSS_PARAMS, hashAlg) X(ns, CK_RSA_PKCS_PSS_PARAMS, mgf)          \
    X(ns, CK_RSA_PKCS_PSS_PARAMS, sLen)
#define PKCS11_FIELDS_CK_ECDH1_DERIVE_PARAMS(X, ns)                                            \
    X(ns, CK_ECDH1_DERIVE_PARAMS, kdf) X(ns, CK_ECDH1_DERIVE_PARAMS, ulSharedDataLen)          \
    X(ns, CK_ECDH1_DERIVE_PARAMS, pSharedData) X(ns, CK_ECDH1_DERIVE_PARAMS, ulPublicDataLen)  \
    X(ns, CK_ECDH1_DERIVE_PARAMS, pPublicData)
#define PKCS11_FIELDS_CK_ECDH2_DERIVE_PARAMS(X, ns)                                            \
    X(ns, CK_ECDH2_DERIVE_PARAMS, kdf) X(ns, CK_ECDH2_DERIVE_PARAMS, ulSharedDataLen)          \
    X(ns, CK_ECDH2_DERIVE_PARAMS, pSharedData) X(ns, CK_ECDH2_DERIVE_PARAMS, ulPublicDataLen)  \
    X(ns, CK_ECDH2_DERIVE_PARAMS, pPublicData) X(ns, CK_ECDH2_DERIVE_PARAMS, ulPrivateDataLen) \
    X(ns, CK_ECDH2_DERIVE_PARAMS, hPrivateData) X(ns, CK_ECDH2_DERIVE_PARAMS, ulPublicDataLen2) \
    X(ns, CK_ECDH2_DERIVE_PARAMS, pPublicData2)
#define PKCS11_FIELDS_CK_ECMQV_DERIVE_PARAMS(X, ns)                                            \
    X(ns, CK_ECMQV_DERIVE_PARAMS, kdf) X(ns, CK_ECMQV_DERIVE_PARAMS, ulSharedDataLen)          \
    X(ns, CK_ECMQV_DERIVE_PARAMS, pSharedData) X(ns, CK_ECMQV_DERIVE_PARAMS, ulPublicDataLen)  \
    X(ns, CK_ECMQV_DERIVE_PARAMS, pPublicData) X(ns, CK_ECMQV_DERIVE_PARAMS, ulPrivateDataLen) \
    X(ns, CK_ECMQV_DERIVE_PARAMS, hPrivateData) X(ns, CK_ECMQV_DERIVE_PARAMS, ulPublicDataLen2) \
    X(ns, CK_ECMQV_DERIVE_PARAMS, pPublicData2) X(ns, CK_ECMQV_DERIVE_PARAMS, publicKey)
#define PKCS11_FIELDS_CK_X9_42_DH1_DERIVE_PARAMS(X, ns)                                          \
    X(ns, CK_X9_42_DH1_DERIVE_PARAMS, kdf) X(ns, CK_X9_42_DH1_DERIVE_PARAMS, ulOtherInfoLen)     \
    X(ns, CK_X9_42_DH1_DERIVE_PARAMS, pOtherInfo)                                               \
    X(ns, CK_X9_42_DH1_DERIVE_PARAMS, ulPublicDataLen)                                          \
    X(ns, CK_X9_42_DH1_DERIVE_PARAMS, pPublicData)
#define PKCS11_FIELDS_CK_X9_42_DH2_DERIVE_PARAMS(X, ns)                                          \
    X(ns, CK_X9_42_DH2_DERIVE_PARAMS, kdf) X(ns, CK_X9_42_DH2_DERIVE_PARAMS, ulOtherInfoLen)     \
    X(ns, CK_X9_42_DH2_DERIVE_PARAMS, pOtherInfo)                                               \
    X(ns, CK_X9_42_DH2_DERIVE_PARAMS, ulPublicDataLen)                                          \
    X(ns, CK_X9_42_DH2_DERIVE_PARAMS, pPublicData)                                              \
    X(ns, CK_X9_42_DH2_DERIVE_PARAMS, ulPrivateDataLen)                                         \
    X(ns, CK_X9_42_DH2_DERIVE_PARAMS, hPrivateData)                                             \
    X(ns, CK_X9_42_DH2_DERIVE_PARAMS, ulPublicDataLen2)                                         \
    X(ns, CK_X9_42_DH2_DERIVE_PARAMS, pPublicData2)
#define PKCS11_FIELDS_CK_X9_42_MQV_DERIVE_PARAMS(X, ns)                                          \
    X(ns, CK_X9_42_MQV_DERIVE_PARAMS, kdf) X(ns, CK_X9_42_MQV_DERIVE_PARAMS, ulOtherInfoLen)     \
    X(ns, CK_X9_42_MQV_DERIVE_PARAMS, pOtherInfo)                                               \
    X(ns, CK_X9_42_MQV_DERIVE_PARAMS, ulPublicDataLen)                                          \
    X(ns, CK_X9_42_MQV_DERIVE_PARAMS, pPublicData)                                              \
    X(ns, CK_X9_42_MQV_DERIVE_PARAMS, ulPrivateDataLen)                                         \
    X(ns, CK_X9_42_MQV_DERIVE_PARAMS, hPrivateData)                                             \
    X(ns, CK_X9_42_MQV_DERIVE_PARAMS, ulPublicDataLen2)                                         \
    X(ns, CK_X9_42_MQV_DERIVE_PARAMS, pPublicData2)                                             \
    X(ns, CK_X9_42_MQV_DERIVE_PARAMS, publicKey)
#define PKCS11_FIELDS_CK_KEA_DERIVE_PARAMS(X, ns)                                            \
    X(ns, CK_KEA_DERIVE_PARAMS, isSender) X(ns, CK_KEA_DERIVE_PARAMS, ulRandomLen)           \
    X(ns, CK_KEA_DERIVE_PARAMS, pRandomA) X(ns, CK_KEA_DERIVE_PARAMS, pRandomB)              \
    X(ns, CK_KEA_DERIVE_PARAMS, ulPublicDataLen) X(ns, CK_KEA_DERIVE_PARAMS, pPublicData)
#define PKCS11_FIELDS_CK_RC2_CBC_PARAMS(X, ns) \
    X(ns, CK_RC2_CBC_PARAMS, ulEffectiveBits) X(ns, CK_RC2_CBC_PARAMS, iv)
#define PKCS11_FIELDS_CK_RC2_MAC_GENERAL_PARAMS(X, ns)      \
    X(ns, CK_RC2_MAC_GENERAL_PARAMS, ulEffectiveBits)       \
    X(ns, CK_RC2_MAC_GENERAL_PARAMS, ulMacLength)
#define PKCS11_FIELDS_CK_RC5_PARAMS(X, ns) \
    X(ns, CK_RC5_PARAMS, ulWordsize) X(ns, CK_RC5_PARAMS, ulRounds)
#define PKCS11_FIELDS_CK_RC5_CBC_PARAMS(X, ns)                                 \
    X(ns, CK_RC5_CBC_PARAMS, ulWordsize) X(ns, CK_RC5_CBC_PARAMS, ulRounds)    \
    X(ns, CK_RC5_CBC_PARAMS, pIv) X(ns, CK_RC5_CBC_PARAMS, ulIvLen)
#define PKCS11_FIELDS_CK_RC5_MAC_GENERAL_PARAMS(X, ns)                                        \
    X(ns, CK_RC5_MAC_GENERAL_PARAMS, ulWordsize) X(ns, CK_RC5_MAC_GENERAL_PARAMS, ulRounds)   \
    X(ns, CK_RC5_MAC_GENERAL_PARAMS, ulMacLength)
#define PKCS11_FIELDS_CK_DES_CBC_ENCRYPT_DATA_PARAMS(X, ns)                                 \
    X(ns, CK_DES_CBC_ENCRYPT_DATA_PARAMS, iv) X(ns, CK_DES_CBC_ENCRYPT_DATA_PARAMS, pData)   \
    X(ns, CK_DES_CBC_ENCRYPT_DATA_PARAMS, length)
#define PKCS11_FIELDS_CK_AES_CBC_ENCRYPT_DATA_PARAMS(X, ns)                                 \
    X(ns, CK_AES_CBC_ENCRYPT_DATA_PARAMS, iv) X(ns, CK_AES_CBC_ENCRYPT_DATA_PARAMS, pData)   \
    X(ns, CK_AES_CBC_ENCRYPT_DATA_PARAMS, length)
#define PKCS11_FIELDS_CK_SKIPJACK_PRIVATE_WRAP_PARAMS(X, ns)                                        \
    X(ns, CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulPasswordLen)                                           \
    X(ns, CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pPassword)                                               \
    X(ns, CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulPublicDataLen)                                         \
    X(ns, CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pPublicData)                                             \
    X(ns, CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulPAndGLen) X(ns, CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulQLen) \
    X(ns, CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulRandomLen)                                             \
    X(ns, CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pRandomA) X(ns, CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pPrimeP) \
    X(ns, CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pBaseG) X(ns, CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pSubprimeQ)
#define PKCS11_FIELDS_CK_SKIPJACK_RELAYX_PARAMS(X, ns)                                            \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, ulOldWrappedXLen)                                            \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, pOldWrappedX)                                                \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, ulOldPasswordLen)                                            \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, pOldPassword)                                                \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, ulOldPublicDataLen)                                          \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, pOldPublicData)                                              \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, ulOldRandomLen)                                              \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, pOldRandomA)                                                 \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, ulNewPasswordLen)                                            \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, pNewPassword)                                                \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, ulNewPublicDataLen)                                          \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, pNewPublicData)                                              \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, ulNewRandomLen)                                              \
    X(ns, CK_SKIPJACK_RELAYX_PARAMS, pNewRandomA)
#define PKCS11_FIELDS_CK_PBE_PARAMS(X, ns)                                            \
    X(ns, CK_PBE_PARAMS, pInitVector) X(ns, CK_PBE_PARAMS, pPassword)                 \
    X(ns, CK_PBE_PARAMS, ulPasswordLen) X(ns, CK_PBE_PARAMS, pSalt)                   \
    X(ns, CK_PBE_PARAMS, ulSaltLen) X(ns, CK_PBE_PARAMS, ulIteration)
#define PKCS11_FIELDS_CK_PKCS5_PBKD2_PARAMS(X, ns)                                              \
    X(ns, CK_PKCS5_PBKD2_PARAMS, saltSource) X(ns, CK_PKCS5_PBKD2_PARAMS, pSaltSourceData)      \
    X(ns, CK_PKCS5_PBKD2_PARAMS, ulSaltSourceDataLen) X(ns, CK_PKCS5_PBKD2_PARAMS, iterations)  \
    X(ns, CK_PKCS5_PBKD2_PARAMS, prf) X(ns, CK_PKCS5_PBKD2_PARAMS, pPrfData)                    \
    X(ns, CK_PKCS5_PBKD2_PARAMS, ulPrfDataLen) X(ns, CK_PKCS5_PBKD2_PARAMS, pPassword)          \
    X(ns, CK_PKCS5_PBKD2_PARAMS, ulPasswordLen)
#define PKCS11_FIELDS_CK_KEY_DERIVATION_STRING_DATA(X, ns) \
    X(ns, CK_KEY_DERIVATION_STRING_DATA, pData) X(ns, CK_KEY_DERIVATION_STRING_DATA, ulLen)
#define PKCS11_FIELDS_CK_KEY_WRAP_SET_OAEP_PARAMS(X, ns)                                   \
    X(ns, CK_KEY_WRAP_SET_OAEP_PARAMS, bBC) X(ns, CK_KEY_WRAP_SET_OAEP_PARAMS, pX)         \
    X(ns, CK_KEY_WRAP_SET_OAEP_PARAMS, ulXLen)
#define PKCS11_FIELDS_CK_SSL3_RANDOM_DATA(X, ns)                                                   \
    X(ns, CK_SSL3_RANDOM_DATA, pClientRandom) X(ns, CK_SSL3_RANDOM_DATA, ulClientRandomLen)        \
    X(ns, CK_SSL3_RANDOM_DATA, pServerRandom) X(ns, CK_SSL3_RANDOM_DATA, ulServerRandomLen)
#define PKCS11_FIELDS_CK_SSL3_MASTER_KEY_DERIVE_PARAMS(X, ns) \
    X(ns, CK_SSL3_MASTER_KEY_DERIVE_PARAMS, RandomInfo)       \
    X(ns, CK_SSL3_MASTER_KEY_DERIVE_PARAMS, pVersion)
#define PKCS11_FIELDS_CK_SSL3_KEY_MAT_OUT(X, ns)                                              \
    X(ns, CK_SSL3_KEY_MAT_OUT, hClientMacSecret) X(ns, CK_SSL3_KEY_MAT_OUT, hServerMacSecret) \
    X(ns, CK_SSL3_KEY_MAT_OUT, hClientKey) X(ns, CK_SSL3_KEY_MAT_OUT, hServerKey)             \
    X(ns, CK_SSL3_KEY_MAT_OUT, pIVClient) X(ns, CK_SSL3_KEY_MAT_OUT, pIVServer)
#define PKCS11_FIELDS_CK_SSL3_KEY_MAT_PARAMS(X, ns)                                              \
    X(ns, CK_SSL3_KEY_MAT_PARAMS, ulMacSizeInBits) X(ns, CK_SSL3_KEY_MAT_PARAMS, ulKeySizeInBits) \
    X(ns, CK_SSL3_KEY_MAT_PARAMS, ulIVSizeInBits) X(ns, CK_SSL3_KEY_MAT_PARAMS, bIsExport)        \
    X(ns, CK_SSL3_KEY_MAT_PARAMS, RandomInfo) X(ns, CK_SSL3_KEY_MAT_PARAMS, pReturnedKeyMaterial)
#define PKCS11_FIELDS_CK_TLS_PRF_PARAMS(X, ns)                                    \
    X(ns, CK_TLS_PRF_PARAMS, pSeed) X(ns, CK_TLS_PRF_PARAMS, ulSeedLen)           \
    X(ns, CK_TLS_PRF_PARAMS, pLabel) X(ns, CK_TLS_PRF_PARAMS, ulLabelLen)         \
    X(ns, CK_TLS_PRF_PARAMS, pOutput) X(ns, CK_TLS_PRF_PARAMS, pulOutputLen)
#define PKCS11_FIELDS_CK_TLS12_MASTER_KEY_DERIVE_PARAMS(X, ns) \
    X(ns, CK_TLS12_MASTER_KEY_DERIVE_PARAMS, RandomInfo)       \
    X(ns, CK_TLS12_MASTER_KEY_DERIVE_PARAMS, pVersion)         \
    X(ns, CK_TLS12_MASTER_KEY_DERIVE_PARAMS, prfHashMechanism)
#define PKCS11_FIELDS_CK_TLS12_KEY_MAT_PARAMS(X, ns)                                               \
    X(ns, CK_TLS12_KEY_MAT_PARAMS, ulMacSizeInBits) X(ns, CK_TLS12_KEY_MAT_PARAMS, ulKeySizeInBits) \
    X(ns, CK_TLS12_KEY_MAT_PARAMS, ulIVSizeInBits) X(ns, CK_TLS12_KEY_MAT_PARAMS, bIsExport)        \
    X(ns, CK_TLS12_KEY_MAT_PARAMS, RandomInfo)                                                    \
    X(ns, CK_TLS12_KEY_MAT_PARAMS, pReturnedKeyMaterial)                                          \
    X(ns, CK_TLS12_KEY_MAT_PARAMS, prfHashMechanism)
#define PKCS11_FIELDS_CK_TLS_KDF_PARAMS(X, ns)                                             \
    X(ns, CK_TLS_KDF_PARAMS, prfMechanism) X(ns, CK_TLS_KDF_PARAMS, pLabel)                \
    X(ns, CK_TLS_KDF_PARAMS, ulLabelLength) X(ns, CK_TLS_KDF_PARAMS, RandomInfo)           \
    X(ns, CK_TLS_KDF_PARAMS, pContextData) X(ns, CK_TLS_KDF_PARAMS, ulContextDataLength)
#define PKCS11_FIELDS_CK_TLS_MAC_PARAMS(X, ns)                                         \
    X(ns, CK_TLS_MAC_PARAMS, prfHashMechanism) X(ns, CK_TLS_MAC_PARAMS, ulMacLength)   \
    X(ns, CK_TLS_MAC_PARAMS, ulServerOrClient)
#define PKCS11_FIELDS_CK_AES_CTR_PARAMS(X, ns) \
    X(ns, CK_AES_CTR_PARAMS, ulCounterBits) X(ns, CK_AES_CTR_PARAMS, cb)
#define PKCS11_FIELDS_CK_CAMELLIA_CTR_PARAMS(X, ns) \
    X(ns, CK_CAMELLIA_CTR_PARAMS, ulCounterBits) X(ns, CK_CAMELLIA_CTR_PARAMS, cb)
#define PKCS11_FIELDS_CK_GCM_PARAMS(X, ns)                                      \
    X(ns, CK_GCM_PARAMS, pIv) X(ns, CK_GCM_PARAMS, ulIvLen)                     \
    X(ns, CK_GCM_PARAMS, ulIvBits) X(ns, CK_GCM_PARAMS, pAAD)                   \
    X(ns, CK_GCM_PARAMS, ulAADLen) X(ns, CK_GCM_PARAMS, ulTagBits)
#define PKCS11_FIELDS_CK_CCM_PARAMS(X, ns)                                      \
    X(ns, CK_CCM_PARAMS, ulDataLen) X(ns, CK_CCM_PARAMS, pNonce)                \
    X(ns, CK_CCM_PARAMS, ulNonceLen) X(ns, CK_CCM_PARAMS, pAAD)                 \
    X(ns, CK_CCM_PARAMS, ulAADLen) X(ns, CK_CCM_PARAMS, ulMACLen)
#define PKCS11_FIELDS_CK_RSA_AES_KEY_WRAP_PARAMS(X, ns) \
    X(ns, CK_RSA_AES_KEY_WRAP_PARAMS, ulAESKeyBits) X(ns, CK_RSA_AES_KEY_WRAP_PARAMS, pOAEPParams)
#define PKCS11_FIELDS_CK_ECDH_AES_KEY_WRAP_PARAMS(X, ns)                                      \
    X(ns, CK_ECDH_AES_KEY_WRAP_PARAMS, ulAESKeyBits) X(ns, CK_ECDH_AES_KEY_WRAP_PARAMS, kdf)  \
    X(ns, CK_ECDH_AES_KEY_WRAP_PARAMS, ulSharedDataLen)                                       \
    X(ns, CK_ECDH_AES_KEY_WRAP_PARAMS, pSharedData)
#define PKCS11_FIELDS_CK_OTP_PARAM(X, ns) \
    X(ns, CK_OTP_PARAM, type) X(ns, CK_OTP_PARAM, pValue) X(ns, CK_OTP_PARAM, ulValueLen)
#define PKCS11_FIELDS_CK_OTP_PARAMS(X, ns) X(ns, CK_OTP_PARAMS, pParams) X(ns, CK_OTP_PARAMS, ulCount)
#define PKCS11_FIELDS_CK_OTP_SIGNATURE_INFO(X, ns) \
    X(ns, CK_OTP_SIGNATURE_INFO, pParams) X(ns, CK_OTP_SIGNATURE_INFO, ulCount)
#define PKCS11_FIELDS_CK_INTERFACE(X, ns)                                              \
    X(ns, CK_INTERFACE, pInterfaceName) X(ns, CK_INTERFACE, pFunctionList)             \
    X(ns, CK_INTERFACE, flags)

// Parameter records of version 3.0, and the GCM record without ulIvBits.
#define PKCS11_FIELDS_CK_CHACHA20_PARAMS(X, ns)                                            \
    X(ns, CK_CHACHA20_PARAMS, pBlockCounter) X(ns, CK_CHACHA20_PARAMS, blockCounterBits)   \
    X(ns, CK_CHACHA20_PARAMS, pNonce) X(ns, CK_CHACHA20_PARAMS, ulNonceBits)
#define PKCS11_FIELDS_CK_SALSA20_CHACHA20_POLY1305_PARAMS(X, ns)                           \
    X(ns, CK_SALSA20_CHACHA20_POLY1305_PARAMS, pNonce)                                     \
    X(ns, CK_SALSA20_CHACHA20_POLY1305_PARAMS, ulNonceLen)                                 \
    X(ns, CK_SALSA20_CHACHA20_POLY1305_PARAMS, pAAD)                                       \
    X(ns, CK_SALSA20_CHACHA20_POLY1305_PARAMS, ulAADLen)
#define PKCS11_FIELDS_CK_EDDSA_PARAMS(X, ns)                                        \
    X(ns, CK_EDDSA_PARAMS, phFlag) X(ns, CK_EDDSA_PARAMS, ulContextDataLen)         \
    X(ns, CK_EDDSA_PARAMS, pContextData)
#define PKCS11_FIELDS_CK_PKCS5_PBKD2_PARAMS2(X, ns)                                             \
    X(ns, CK_PKCS5_PBKD2_PARAMS2, saltSource) X(ns, CK_PKCS5_PBKD2_PARAMS2, pSaltSourceData)    \
    X(ns, CK_PKCS5_PBKD2_PARAMS2, ulSaltSourceDataLen) X(ns, CK_PKCS5_PBKD2_PARAMS2, iterations) \
    X(ns, CK_PKCS5_PBKD2_PARAMS2, prf) X(ns, CK_PKCS5_PBKD2_PARAMS2, pPrfData)                  \
    X(ns, CK_PKCS5_PBKD2_PARAMS2, ulPrfDataLen) X(ns, CK_PKCS5_PBKD2_PARAMS2, pPassword)        \
    X(ns, CK_PKCS5_PBKD2_PARAMS2, ulPasswordLen)
#define PKCS11_FIELDS_CK_GCM_MESSAGE_PARAMS(X, ns)                                          \
    X(ns, CK_GCM_MESSAGE_PARAMS, pIv) X(ns, CK_GCM_MESSAGE_PARAMS, ulIvLen)                 \
    X(ns, CK_GCM_MESSAGE_PARAMS, ulIvFixedBits) X(ns, CK_GCM_MESSAGE_PARAMS, ivGenerator)   \
    X(ns, CK_GCM_MESSAGE_PARAMS, pTag) X(ns, CK_GCM_MESSAGE_PARAMS, ulTagBits)
#define PKCS11_FIELDS_CK_CCM_MESSAGE_PARAMS(X, ns)                                            \
    X(ns, CK_CCM_MESSAGE_PARAMS, ulDataLen) X(ns, CK_CCM_MESSAGE_PARAMS, pNonce)              \
    X(ns, CK_CCM_MESSAGE_PARAMS, ulNonceLen) X(ns, CK_CCM_MESSAGE_PARAMS, ulNonceFixedBits)   \
    X(ns, CK_CCM_MESSAGE_PARAMS, nonceGenerator) X(ns, CK_CCM_MESSAGE_PARAMS, pMAC)           \
    X(ns, CK_CCM_MESSAGE_PARAMS, ulMACLen)
#define PKCS11_FIELDS_CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS(X, ns)                       \
    X(ns, CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS, pNonce)                                 \
    X(ns, CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS, ulNonceLen)                             \
    X(ns, CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS, pTag)
#define PKCS11_FIELDS_CK_HKDF_PARAMS(X, ns)                                              \
    X(ns, CK_HKDF_PARAMS, bExtract) X(ns, CK_HKDF_PARAMS, bExpand)                       \
    X(ns, CK_HKDF_PARAMS, prfHashMechanism) X(ns, CK_HKDF_PARAMS, ulSaltType)            \
    X(ns, CK_HKDF_PARAMS, pSalt) X(ns, CK_HKDF_PARAMS, ulSaltLen)                        \
    X(ns, CK_HKDF_PARAMS, hSaltKey) X(ns, CK_HKDF_PARAMS, pInfo) X(ns, CK_HKDF_PARAMS, ulInfoLen)
#define PKCS11_FIELDS_CK_PRF_DATA_PARAM(X, ns)                                        \
    X(ns, CK_PRF_DATA_PARAM, type) X(ns, CK_PRF_DATA_PARAM, pValue)                   \
    X(ns, CK_PRF_DATA_PARAM, ulValueLen)
#define PKCS11_FIELDS_CK_SP800_108_COUNTER_FORMAT(X, ns)       \
    X(ns, CK_SP800_108_COUNTER_FORMAT, bLittleEndian)          \
    X(ns, CK_SP800_108_COUNTER_FORMAT, ulWidthInBits)
#define PKCS11_FIELDS_CK_SP800_108_DKM_LENGTH_FORMAT(X, ns)    \
    X(ns, CK_SP800_108_DKM_LENGTH_FORMAT, dkmLengthMethod)     \
    X(ns, CK_SP800_108_DKM_LENGTH_FORMAT, bLittleEndian)       \
    X(ns, CK_SP800_108_DKM_LENGTH_FORMAT, ulWidthInBits)
#define PKCS11_FIELDS_CK_DERIVED_KEY(X, ns)                                             \
    X(ns, CK_DERIVED_KEY, pTemplate) X(ns, CK_DERIVED_KEY, ulAttributeCount)            \
    X(ns, CK_DERIVED_KEY, phKey)
#define PKCS11_FIELDS_CK_SP800_108_KDF_PARAMS(X, ns)                                            \
    X(ns, CK_SP800_108_KDF_PARAMS, prfType) X(ns, CK_SP800_108_KDF_PARAMS, ulNumberOfDataParams) \
    X(ns, CK_SP800_108_KDF_PARAMS, pDataParams)                                                 \
    X(ns, CK_SP800_108_KDF_PARAMS, ulAdditionalDerivedKeys)                                     \
    X(ns, CK_SP800_108_KDF_PARAMS, pAdditionalDerivedKeys)
#define PKCS11_FIELDS_CK_SP800_108_FEEDBACK_KDF_PARAMS(X, ns)                     \
    X(ns, CK_SP800_108_FEEDBACK_KDF_PARAMS, prfType)                              \
    X(ns, CK_SP800_108_FEEDBACK_KDF_PARAMS, ulNumberOfDataParams)                 \
    X(ns, CK_SP800_108_FEEDBACK_KDF_PARAMS, pDataParams)                          \
    X(ns, CK_SP800_108_FEEDBACK_KDF_PARAMS, ulIVLen)                              \
    X(ns, CK_SP800_108_FEEDBACK_KDF_PARAMS, pIV)                                  \
    X(ns, CK_SP800_108_FEEDBACK_KDF_PARAMS, ulAdditionalDerivedKeys)              \
    X(ns, CK_SP800_108_FEEDBACK_KDF_PARAMS, pAdditionalDerivedKeys)

// Sizes of the records of the newer mechanisms, computed by hand for the two
// Linux widths (LP64: 8-byte CK_ULONG and pointers; ILP32: 4-byte, natural
// alignment; the packed Windows sizes are in win32_sizes.h). They hold
// whether or not a foreign header is installed.
#define PKCS11_CHECK_SIZES_BY_WIDTH(X)                      \
    X(CK_GCM_PARAMS, 48, 24)                                \
    X(CK_GCM_PARAMS_WITHOUT_IV_BITS, 40, 20)                \
    X(CK_CCM_PARAMS, 48, 24)                                \
    X(CK_AES_CTR_PARAMS, 24, 20)                            \
    X(CK_AES_CBC_ENCRYPT_DATA_PARAMS, 32, 24)               \
    X(CK_DES_CBC_ENCRYPT_DATA_PARAMS, 24, 16)               \
    X(CK_ECDH_AES_KEY_WRAP_PARAMS, 32, 16)                  \
    X(CK_RSA_AES_KEY_WRAP_PARAMS, 16, 8)                    \
    X(CK_CHACHA20_PARAMS, 32, 16)                           \
    X(CK_SALSA20_CHACHA20_POLY1305_PARAMS, 32, 16)          \
    X(CK_EDDSA_PARAMS, 24, 12)                              \
    X(CK_PKCS5_PBKD2_PARAMS2, 72, 36)                       \
    X(CK_GCM_MESSAGE_PARAMS, 48, 24)                        \
    X(CK_CCM_MESSAGE_PARAMS, 56, 28)                        \
    X(CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS, 24, 12)      \
    X(CK_HKDF_PARAMS, 64, 32)                               \
    X(CK_PRF_DATA_PARAM, 24, 12)                            \
    X(CK_SP800_108_COUNTER_FORMAT, 16, 8)                   \
    X(CK_SP800_108_DKM_LENGTH_FORMAT, 24, 12)               \
    X(CK_DERIVED_KEY, 24, 12)                               \
    X(CK_SP800_108_KDF_PARAMS, 40, 20)                      \
    X(CK_SP800_108_FEEDBACK_KDF_PARAMS, 56, 28)

#if !defined(_WIN32)
namespace layout_check {
inline constexpr bool lp64 = sizeof(CK_ULONG) == 8 && sizeof(CK_VOID_PTR) == 8;
inline constexpr bool ilp32 = sizeof(CK_ULONG) == 4 && sizeof(CK_VOID_PTR) == 4;
static_assert(lp64 || ilp32, "a Linux width other than LP64 and ILP32");
#define PKCS11_CHECK_SIZE_BY_WIDTH(T, lp64Size, ilp32Size) \
    static_assert(sizeof(::T) == (lp64 ? lp64Size : ilp32Size), #T ": size differs from the hand-computed one");
PKCS11_CHECK_SIZES_BY_WIDTH(PKCS11_CHECK_SIZE_BY_WIDTH)
#undef PKCS11_CHECK_SIZE_BY_WIDTH
// The members that a wrong layout would move first.
static_assert(offsetof(CK_GCM_PARAMS, pAAD) == 3 * sizeof(CK_ULONG) &&
              offsetof(CK_GCM_PARAMS_WITHOUT_IV_BITS, pAAD) == 2 * sizeof(CK_ULONG));
static_assert(offsetof(CK_EDDSA_PARAMS, ulContextDataLen) == sizeof(CK_ULONG));
static_assert(offsetof(CK_HKDF_PARAMS, prfHashMechanism) == sizeof(CK_ULONG));
static_assert(offsetof(CK_SP800_108_DKM_LENGTH_FORMAT, ulWidthInBits) == 2 * sizeof(CK_ULONG));
}  // namespace layout_check
#endif

// The function lists are checked row by row of PKCS11_FUNCTIONS; a check
// macro PKCS11_CHECK_<what>_2 stands for the rows of the 2.x list alone (the
// entries of CK_FUNCTION_LIST), PKCS11_CHECK_<what>_3 for those of the 3.0 list.

namespace layout_check {

// Each entry has the CK_C_ type of its name and sits at its place in the row
// order, in both lists.
enum EntryIndex : Size {
#define PKCS11_CHECK_INDEX(name, major, minor, arguments) index_##name,
    PKCS11_FUNCTIONS(PKCS11_CHECK_INDEX)
#undef PKCS11_CHECK_INDEX
};

#define PKCS11_CHECK_OWN_ENTRY(List, name)                                                      \
    static_assert(isSame<decltype(::List::name), ::CK_##name>,                                  \
                  #List "::" #name " is not a CK_" #name);                                      \
    static_assert(offsetof(::List, name) ==                                                     \
                      offsetof(::List, C_Initialize) + index_##name * sizeof(CK_C_Initialize),  \
                  #List "::" #name " is not at its place in the row order");
#define PKCS11_CHECK_OWN_ENTRY_3(name, major, minor, arguments) \
    PKCS11_IN_3_0(major, minor, PKCS11_CHECK_OWN_ENTRY(CK_FUNCTION_LIST_3_0, name))
#define PKCS11_CHECK_OWN_ENTRY_2(name, major, minor, arguments) \
    PKCS11_IN_2X(major, minor, PKCS11_CHECK_OWN_ENTRY(CK_FUNCTION_LIST, name))
PKCS11_FUNCTIONS(PKCS11_CHECK_OWN_ENTRY_3)
PKCS11_FUNCTIONS(PKCS11_CHECK_OWN_ENTRY_2)
#undef PKCS11_CHECK_OWN_ENTRY
#undef PKCS11_CHECK_OWN_ENTRY_3
#undef PKCS11_CHECK_OWN_ENTRY_2

// The rows come in the order of their versions, so that each list is the rows up to its version:
// the rows a list holds are its first ones.
inline constexpr unsigned rowVersion[] = {
#define PKCS11_CHECK_ROW_VERSION(name, major, minor, arguments) major * 100u + minor,
    PKCS11_FUNCTIONS(PKCS11_CHECK_ROW_VERSION)
#undef PKCS11_CHECK_ROW_VERSION
};
constexpr bool versionsInOrder() {
    for (Size i = 1; i < sizeof rowVersion / sizeof rowVersion[0]; ++i) {
        if (rowVersion[i] < rowVersion[i - 1]) {
            return false;
        }
    }
    return true;
}
static_assert(versionsInOrder(), "a row of PKCS11_FUNCTIONS comes before a row of an earlier version");
#define PKCS11_CHECK_ROW_PLACE(name, major, minor, arguments)                                    \
    PKCS11_IN_2X(major, minor, static_assert(Size{index_##name} < CK_FUNCTION_LIST_ENTRIES, #name);)   \
    PKCS11_IN_3_0(major, minor, static_assert(Size{index_##name} < CK_FUNCTION_LIST_3_0_ENTRIES, #name);)
PKCS11_FUNCTIONS(PKCS11_CHECK_ROW_PLACE)
#undef PKCS11_CHECK_ROW_PLACE

}  // namespace layout_check

// ---------------------------------------------------------------------------
// p11-kit
// ---------------------------------------------------------------------------

#if __has_include(<p11-kit-1/p11-kit/pkcs11.h>)

namespace p11kit {
#include <p11-kit-1/p11-kit/pkcs11.h>
}  // namespace p11kit

// The p11-kit header shipped here gives five return values of v2.40 other
// numbers (0x1C0 to 0x1C4 instead of 0x1B5 to 0x1B9). Those five are compared
// with NSS below instead.
#undef CKR_EXCEEDED_MAX_ITERATIONS
#undef CKR_FIPS_SELF_TEST_FAILED
#undef CKR_LIBRARY_LOAD_FAILED
#undef CKR_PIN_TOO_WEAK
#undef CKR_PUBLIC_KEY_INVALID

namespace layout_check::with_p11kit {

// Constants
PKCS11_CHECK_CONSTANTS(PKCS11_CHECK_CONSTANT)
inline constexpr int constantsCompared = 0 PKCS11_CHECK_CONSTANTS(PKCS11_CHECK_COUNT_DEFINED);
// Guards against the comparison silently turning into a comparison of our
// values with themselves (p11-kit 0.24.1 defines 683 of our 711 names,
// not counting the five above).
static_assert(constantsCompared >= 600, "too few constants compared with p11-kit");
static_assert(CKR_BUFFER_TOO_SMALL == layout_check::CKR_BUFFER_TOO_SMALL_ &&
              CKM_SSL3_KEY_AND_MAC_DERIVE == layout_check::CKM_SSL3_KEY_AND_MAC_DERIVE_ &&
              CKA_VENDOR_DEFINED == layout_check::CKA_VENDOR_DEFINED_ &&
              CKF_OS_LOCKING_OK == layout_check::CKF_OS_LOCKING_OK_ &&
              CK_UNAVAILABLE_INFORMATION == layout_check::CK_UNAVAILABLE_INFORMATION_);
static_assert(CRYPTOKI_VERSION_MAJOR == cryptokiVersionMajor &&
              CRYPTOKI_VERSION_MINOR == cryptokiVersionMinor);
static_assert(CK_TRUE == ckTrue && CK_FALSE == ckFalse);

// Basic types are the same C types.
#define PKCS11_CHECK_SAME_TYPE(T) \
    static_assert(isSame<::T, p11kit::T>, #T " is not the same type as p11-kit's");
PKCS11_CHECK_SAME_TYPE(CK_BYTE)
PKCS11_CHECK_SAME_TYPE(CK_CHAR)
PKCS11_CHECK_SAME_TYPE(CK_UTF8CHAR)
PKCS11_CHECK_SAME_TYPE(CK_BBOOL)
PKCS11_CHECK_SAME_TYPE(CK_ULONG)
PKCS11_CHECK_SAME_TYPE(CK_LONG)
PKCS11_CHECK_SAME_TYPE(CK_FLAGS)
PKCS11_CHECK_SAME_TYPE(CK_RV)
PKCS11_CHECK_SAME_TYPE(CK_NOTIFICATION)
PKCS11_CHECK_SAME_TYPE(CK_SLOT_ID)
PKCS11_CHECK_SAME_TYPE(CK_SESSION_HANDLE)
PKCS11_CHECK_SAME_TYPE(CK_USER_TYPE)
PKCS11_CHECK_SAME_TYPE(CK_STATE)
PKCS11_CHECK_SAME_TYPE(CK_OBJECT_HANDLE)
PKCS11_CHECK_SAME_TYPE(CK_OBJECT_CLASS)
PKCS11_CHECK_SAME_TYPE(CK_HW_FEATURE_TYPE)
PKCS11_CHECK_SAME_TYPE(CK_KEY_TYPE)
PKCS11_CHECK_SAME_TYPE(CK_CERTIFICATE_TYPE)
PKCS11_CHECK_SAME_TYPE(CK_ATTRIBUTE_TYPE)
PKCS11_CHECK_SAME_TYPE(CK_MECHANISM_TYPE)
PKCS11_CHECK_SAME_TYPE(CK_RSA_PKCS_MGF_TYPE)
PKCS11_CHECK_SAME_TYPE(CK_RSA_PKCS_OAEP_SOURCE_TYPE)
PKCS11_CHECK_SAME_TYPE(CK_PARAM_TYPE)
PKCS11_CHECK_SAME_TYPE(CK_BYTE_PTR)
PKCS11_CHECK_SAME_TYPE(CK_CHAR_PTR)
PKCS11_CHECK_SAME_TYPE(CK_UTF8CHAR_PTR)
PKCS11_CHECK_SAME_TYPE(CK_ULONG_PTR)
PKCS11_CHECK_SAME_TYPE(CK_VOID_PTR)
PKCS11_CHECK_SAME_TYPE(CK_VOID_PTR_PTR)
PKCS11_CHECK_SAME_TYPE(CK_SLOT_ID_PTR)
PKCS11_CHECK_SAME_TYPE(CK_SESSION_HANDLE_PTR)
PKCS11_CHECK_SAME_TYPE(CK_OBJECT_HANDLE_PTR)
PKCS11_CHECK_SAME_TYPE(CK_MECHANISM_TYPE_PTR)
#undef PKCS11_CHECK_SAME_TYPE

// Callback types
static_assert(sameSignatureShape<::CK_NOTIFY, p11kit::CK_NOTIFY>(), "CK_NOTIFY: arguments differ");
static_assert(sameSignatureShape<::CK_CREATEMUTEX, p11kit::CK_CREATEMUTEX>(), "CK_CREATEMUTEX: arguments differ");
static_assert(sameSignatureShape<::CK_DESTROYMUTEX, p11kit::CK_DESTROYMUTEX>(), "CK_DESTROYMUTEX: arguments differ");
static_assert(sameSignatureShape<::CK_LOCKMUTEX, p11kit::CK_LOCKMUTEX>(), "CK_LOCKMUTEX: arguments differ");
static_assert(sameSignatureShape<::CK_UNLOCKMUTEX, p11kit::CK_UNLOCKMUTEX>(), "CK_UNLOCKMUTEX: arguments differ");

// Records
PKCS11_CHECK_RECORD(p11kit, CK_VERSION)
PKCS11_CHECK_RECORD(p11kit, CK_INFO)
PKCS11_CHECK_RECORD(p11kit, CK_SLOT_INFO)
PKCS11_CHECK_RECORD(p11kit, CK_TOKEN_INFO)
PKCS11_CHECK_RECORD(p11kit, CK_SESSION_INFO)
PKCS11_CHECK_RECORD(p11kit, CK_ATTRIBUTE)
PKCS11_CHECK_RECORD(p11kit, CK_DATE)
PKCS11_CHECK_RECORD(p11kit, CK_MECHANISM)
PKCS11_CHECK_RECORD(p11kit, CK_MECHANISM_INFO)
PKCS11_CHECK_RECORD(p11kit, CK_C_INITIALIZE_ARGS)
PKCS11_CHECK_RECORD(p11kit, CK_RSA_PKCS_OAEP_PARAMS)
PKCS11_CHECK_RECORD(p11kit, CK_RSA_PKCS_PSS_PARAMS)
PKCS11_CHECK_RECORD(p11kit, CK_ECDH1_DERIVE_PARAMS)
PKCS11_CHECK_RECORD(p11kit, CK_KEY_DERIVATION_STRING_DATA)
PKCS11_CHECK_RECORD(p11kit, CK_DES_CBC_ENCRYPT_DATA_PARAMS)
PKCS11_CHECK_RECORD(p11kit, CK_AES_CBC_ENCRYPT_DATA_PARAMS)
PKCS11_CHECK_RECORD(p11kit, CK_AES_CTR_PARAMS)
PKCS11_CHECK_RECORD(p11kit, CK_GCM_PARAMS)
PKCS11_CHECK_RECORD(p11kit, CK_OTP_PARAM)
PKCS11_CHECK_RECORD(p11kit, CK_OTP_PARAMS)
PKCS11_CHECK_RECORD(p11kit, CK_OTP_SIGNATURE_INFO)

// The function list: size, and offset, type and argument shapes of every
// entry (among them C_Initialize, C_Sign and C_WaitForSlotEvent).
static_assert(sizeof(::CK_FUNCTION_LIST) == sizeof(p11kit::CK_FUNCTION_LIST));
static_assert(alignof(::CK_FUNCTION_LIST) == alignof(p11kit::CK_FUNCTION_LIST));
PKCS11_CHECK_FIELD(p11kit, CK_FUNCTION_LIST, version)
// (p11-kit 0.24 has no 3.0 list: that one is compared with NSS below.)
#define PKCS11_CHECK_ENTRY(name)                                                        \
    static_assert(offsetof(::CK_FUNCTION_LIST, name) ==                                 \
                      offsetof(p11kit::CK_FUNCTION_LIST, name),                         \
                  #name ": offset in CK_FUNCTION_LIST differs");                        \
    static_assert(sameSignatureShape<::CK_##name, p11kit::CK_##name>(),                 \
                  #name ": arguments differ");                                          \
    static_assert(isSame<decltype(p11kit::CK_FUNCTION_LIST::name), p11kit::CK_##name>);
#define PKCS11_CHECK_ENTRY_2(name, major, minor, arguments) \
    PKCS11_IN_2X(major, minor, PKCS11_CHECK_ENTRY(name))
PKCS11_FUNCTIONS(PKCS11_CHECK_ENTRY_2)
#undef PKCS11_CHECK_ENTRY
#undef PKCS11_CHECK_ENTRY_2

}  // namespace layout_check::with_p11kit

// Remove p11-kit's macros so that the next header is seen on its own (the list is generated
// from that header at configure time: cmake/LayoutCheckLists.cmake).
#include "undef_p11kit.h"

#endif  // p11-kit

// ---------------------------------------------------------------------------
// NSS
// ---------------------------------------------------------------------------

#if __has_include(<nss/pkcs11t.h>) && __has_include(<prtypes.h>)

// pkcs11t.h includes NSPR's prtypes.h, which must not land in the namespace.
// NO_NSPR_10_SUPPORT leaves out NSPR's obsolete type names and with them
// <sys/types.h>, so <stddef.h> stays the only system header we need.
#ifndef NO_NSPR_10_SUPPORT
#define NO_NSPR_10_SUPPORT 1
#endif
#include <prtypes.h>

namespace nss {
// Declared here first, so that pkcs11t.h's "typedef struct CK_FUNCTION_LIST
// CK_FUNCTION_LIST" names NSS's list, not ours in the global namespace.
struct CK_FUNCTION_LIST;
struct CK_FUNCTION_LIST_3_0;
#include <nss/pkcs11t.h>
// The entry types and both function lists, built from pkcs11f.h the way NSS's
// pkcs11.h builds them, but without its extern declarations of the functions
// (p11-kit declared the same C names with its own types above).
#define CK_PKCS11_3_0 1
#define CK_NEED_ARG_LIST 1
#define CK_PKCS11_FUNCTION_INFO(name) typedef CK_DECLARE_FUNCTION_POINTER(CK_RV, CK_##name)
#include <nss/pkcs11f.h>
#undef CK_NEED_ARG_LIST
#undef CK_PKCS11_FUNCTION_INFO
#define CK_PKCS11_FUNCTION_INFO(name) CK_##name name;
#include <nss/pkcs11p.h>
struct CK_FUNCTION_LIST_3_0 {
    CK_VERSION version;
#include <nss/pkcs11f.h>
};
#define CK_PKCS11_2_0_ONLY 1
struct CK_FUNCTION_LIST {
    CK_VERSION version;
#include <nss/pkcs11f.h>
};
#include <nss/pkcs11u.h>
#undef CK_PKCS11_FUNCTION_INFO
#undef CK_PKCS11_2_0_ONLY
#undef CK_PKCS11_3_0
}  // namespace nss

// NSS describes a later interface version.
#undef CRYPTOKI_VERSION_MAJOR
#undef CRYPTOKI_VERSION_MINOR
#undef CRYPTOKI_VERSION_AMENDMENT

namespace layout_check::with_nss {

// Constants
PKCS11_CHECK_CONSTANTS(PKCS11_CHECK_CONSTANT)
inline constexpr int constantsCompared = 0 PKCS11_CHECK_CONSTANTS(PKCS11_CHECK_COUNT_DEFINED);
// Guards against a vacuous comparison (NSS 3.87 defines 694 of our names).
static_assert(constantsCompared >= 650, "too few constants compared with NSS");
static_assert(CKR_BUFFER_TOO_SMALL == layout_check::CKR_BUFFER_TOO_SMALL_ &&
              CKM_SSL3_KEY_AND_MAC_DERIVE == layout_check::CKM_SSL3_KEY_AND_MAC_DERIVE_ &&
              CKA_VENDOR_DEFINED == layout_check::CKA_VENDOR_DEFINED_ &&
              CKF_OS_LOCKING_OK == layout_check::CKF_OS_LOCKING_OK_ &&
              CKR_PIN_TOO_WEAK == layout_check::CKR_PIN_TOO_WEAK_);

// Basic types
static_assert(isSame<::CK_ULONG, nss::CK_ULONG> && isSame<::CK_LONG, nss::CK_LONG> &&
              isSame<::CK_BYTE, nss::CK_BYTE> && isSame<::CK_BBOOL, nss::CK_BBOOL> &&
              isSame<::CK_UTF8CHAR_PTR, nss::CK_UTF8CHAR_PTR> &&
              isSame<::CK_EC_KDF_TYPE, nss::CK_EC_KDF_TYPE> &&
              isSame<::CK_X9_42_DH_KDF_TYPE, nss::CK_X9_42_DH_KDF_TYPE> &&
              isSame<::CK_PKCS5_PBKDF2_SALT_SOURCE_TYPE,
                             nss::CK_PKCS5_PBKDF2_SALT_SOURCE_TYPE> &&
              isSame<::CK_PKCS5_PBKD2_PSEUDO_RANDOM_FUNCTION_TYPE,
                             nss::CK_PKCS5_PBKD2_PSEUDO_RANDOM_FUNCTION_TYPE>);

// Callback types
static_assert(sameSignatureShape<::CK_NOTIFY, nss::CK_NOTIFY>(), "CK_NOTIFY: arguments differ");
static_assert(sameSignatureShape<::CK_CREATEMUTEX, nss::CK_CREATEMUTEX>(), "CK_CREATEMUTEX: arguments differ");
static_assert(sameSignatureShape<::CK_DESTROYMUTEX, nss::CK_DESTROYMUTEX>(), "CK_DESTROYMUTEX: arguments differ");
static_assert(sameSignatureShape<::CK_LOCKMUTEX, nss::CK_LOCKMUTEX>(), "CK_LOCKMUTEX: arguments differ");
static_assert(sameSignatureShape<::CK_UNLOCKMUTEX, nss::CK_UNLOCKMUTEX>(), "CK_UNLOCKMUTEX: arguments differ");

// Records: every record we define except CK_C_INITIALIZE_ARGS (see there).
PKCS11_CHECK_RECORD(nss, CK_VERSION)
PKCS11_CHECK_RECORD(nss, CK_INFO)
PKCS11_CHECK_RECORD(nss, CK_SLOT_INFO)
PKCS11_CHECK_RECORD(nss, CK_TOKEN_INFO)
PKCS11_CHECK_RECORD(nss, CK_SESSION_INFO)
PKCS11_CHECK_RECORD(nss, CK_ATTRIBUTE)
PKCS11_CHECK_RECORD(nss, CK_DATE)
PKCS11_CHECK_RECORD(nss, CK_MECHANISM)
PKCS11_CHECK_RECORD(nss, CK_MECHANISM_INFO)
// NSS inserts a field of its own (LibraryParameters) before pReserved, so
// only the fields up to flags are shared; p11-kit has the whole record.
PKCS11_CHECK_FIELD(nss, CK_C_INITIALIZE_ARGS, CreateMutex)
PKCS11_CHECK_FIELD(nss, CK_C_INITIALIZE_ARGS, DestroyMutex)
PKCS11_CHECK_FIELD(nss, CK_C_INITIALIZE_ARGS, LockMutex)
PKCS11_CHECK_FIELD(nss, CK_C_INITIALIZE_ARGS, UnlockMutex)
PKCS11_CHECK_FIELD(nss, CK_C_INITIALIZE_ARGS, flags)
PKCS11_CHECK_RECORD(nss, CK_RSA_PKCS_OAEP_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_RSA_PKCS_PSS_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_ECDH1_DERIVE_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_ECDH2_DERIVE_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_ECMQV_DERIVE_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_X9_42_DH1_DERIVE_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_X9_42_DH2_DERIVE_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_X9_42_MQV_DERIVE_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_KEA_DERIVE_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_RC2_CBC_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_RC2_MAC_GENERAL_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_RC5_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_RC5_CBC_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_RC5_MAC_GENERAL_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_DES_CBC_ENCRYPT_DATA_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_AES_CBC_ENCRYPT_DATA_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_SKIPJACK_PRIVATE_WRAP_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_SKIPJACK_RELAYX_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_PBE_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_PKCS5_PBKD2_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_KEY_DERIVATION_STRING_DATA)
PKCS11_CHECK_RECORD(nss, CK_KEY_WRAP_SET_OAEP_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_SSL3_RANDOM_DATA)
PKCS11_CHECK_RECORD(nss, CK_SSL3_MASTER_KEY_DERIVE_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_SSL3_KEY_MAT_OUT)
PKCS11_CHECK_RECORD(nss, CK_SSL3_KEY_MAT_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_TLS_PRF_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_TLS12_MASTER_KEY_DERIVE_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_TLS12_KEY_MAT_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_TLS_KDF_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_TLS_MAC_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_AES_CTR_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_CAMELLIA_CTR_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_GCM_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_CCM_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_RSA_AES_KEY_WRAP_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_ECDH_AES_KEY_WRAP_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_OTP_PARAM)
PKCS11_CHECK_RECORD(nss, CK_OTP_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_OTP_SIGNATURE_INFO)
// Records of version 3.0.
PKCS11_CHECK_RECORD(nss, CK_CHACHA20_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_SALSA20_CHACHA20_POLY1305_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_EDDSA_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_PKCS5_PBKD2_PARAMS2)
PKCS11_CHECK_RECORD(nss, CK_GCM_MESSAGE_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_CCM_MESSAGE_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_HKDF_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_PRF_DATA_PARAM)
PKCS11_CHECK_RECORD(nss, CK_SP800_108_COUNTER_FORMAT)
PKCS11_CHECK_RECORD(nss, CK_SP800_108_DKM_LENGTH_FORMAT)
PKCS11_CHECK_RECORD(nss, CK_DERIVED_KEY)
PKCS11_CHECK_RECORD(nss, CK_SP800_108_KDF_PARAMS)
PKCS11_CHECK_RECORD(nss, CK_SP800_108_FEEDBACK_KDF_PARAMS)
static_assert(isSame<::CK_GENERATOR_FUNCTION, nss::CK_GENERATOR_FUNCTION> &&
              isSame<::CK_SP800_108_PRF_TYPE, nss::CK_SP800_108_PRF_TYPE> &&
              isSame<::CK_PRF_DATA_TYPE, nss::CK_PRF_DATA_TYPE> &&
              isSame<::CK_SP800_108_DKM_LENGTH_METHOD, nss::CK_SP800_108_DKM_LENGTH_METHOD> &&
              isSame<::CK_PROFILE_ID, nss::CK_PROFILE_ID>);
// NSS names the GCM record without ulIvBits CK_NSS_GCM_PARAMS.
static_assert(sizeof(::CK_GCM_PARAMS_WITHOUT_IV_BITS) == sizeof(nss::CK_NSS_GCM_PARAMS) &&
              alignof(::CK_GCM_PARAMS_WITHOUT_IV_BITS) == alignof(nss::CK_NSS_GCM_PARAMS));
#define PKCS11_CHECK_GCM_WITHOUT_IV_BITS(f)                                             \
    static_assert(offsetof(::CK_GCM_PARAMS_WITHOUT_IV_BITS, f) ==                       \
                      offsetof(nss::CK_NSS_GCM_PARAMS, f) &&                            \
                  sizeof(::CK_GCM_PARAMS_WITHOUT_IV_BITS::f) == sizeof(nss::CK_NSS_GCM_PARAMS::f) && \
                  isPointer<decltype(::CK_GCM_PARAMS_WITHOUT_IV_BITS::f)> ==            \
                      isPointer<decltype(nss::CK_NSS_GCM_PARAMS::f)>,                   \
                  "CK_GCM_PARAMS_WITHOUT_IV_BITS::" #f " differs");
PKCS11_CHECK_GCM_WITHOUT_IV_BITS(pIv)
PKCS11_CHECK_GCM_WITHOUT_IV_BITS(ulIvLen)
PKCS11_CHECK_GCM_WITHOUT_IV_BITS(pAAD)
PKCS11_CHECK_GCM_WITHOUT_IV_BITS(ulAADLen)
PKCS11_CHECK_GCM_WITHOUT_IV_BITS(ulTagBits)
#undef PKCS11_CHECK_GCM_WITHOUT_IV_BITS
PKCS11_CHECK_RECORD(nss, CK_INTERFACE)

// Both function lists: size, and offset and argument shapes of every entry.
static_assert(sizeof(::CK_FUNCTION_LIST) == sizeof(nss::CK_FUNCTION_LIST));
static_assert(sizeof(::CK_FUNCTION_LIST_3_0) == sizeof(nss::CK_FUNCTION_LIST_3_0));
static_assert(alignof(::CK_FUNCTION_LIST_3_0) == alignof(nss::CK_FUNCTION_LIST_3_0));
PKCS11_CHECK_FIELD(nss, CK_FUNCTION_LIST_3_0, version)
#define PKCS11_CHECK_ENTRY(List, name)                                                 \
    static_assert(offsetof(::List, name) == offsetof(nss::List, name),                 \
                  #name ": offset in " #List " differs");                               \
    static_assert(isSame<decltype(nss::List::name), nss::CK_##name>);
#define PKCS11_CHECK_ENTRY_3(name, major, minor, arguments)                          \
    PKCS11_IN_3_0(major, minor, PKCS11_CHECK_ENTRY(CK_FUNCTION_LIST_3_0, name)       \
    static_assert(sameSignatureShape<::CK_##name, nss::CK_##name>(), #name ": arguments differ");)
#define PKCS11_CHECK_ENTRY_2(name, major, minor, arguments) \
    PKCS11_IN_2X(major, minor, PKCS11_CHECK_ENTRY(CK_FUNCTION_LIST, name))
PKCS11_FUNCTIONS(PKCS11_CHECK_ENTRY_3)
PKCS11_FUNCTIONS(PKCS11_CHECK_ENTRY_2)
#undef PKCS11_CHECK_ENTRY
#undef PKCS11_CHECK_ENTRY_3
#undef PKCS11_CHECK_ENTRY_2

}  // namespace layout_check::with_nss

#elif __has_include(<nss/pkcs11t.h>)
#pragma message("layout_check: NSPR's prtypes.h is not on the include path; NSS comparison skipped")
#endif  // NSS
