// The other entries of version 3.0: user login, cancellation and the
// message-based functions. They record their arguments as every entry does;
// a per-message parameter is recorded as its bytes and, with `decode=`, field
// by field, and `write=<field>:<hex>` writes into the buffers it points to (a
// generated IV, a tag). Outputs: encryption and decryption echo their input,
// the signatures are 64 bytes 00..3f.
#include "entries.hpp"

#include <algorithm>

namespace vtm {

namespace {

/// Records the per-message parameter as the entry received it.
void parameter(Call& c, CK_VOID_PTR p, CK_ULONG len) {
    c.bytes("pParameter", p, len).scalar("ulParameterLen", len);
    if (!c.step().decode) return;
    const CK_MECHANISM m{0, p, len};
    decodeParameter(c, *c.step().decode, m);
}

/// Writes the step's values into the per-message parameter (as a module does
/// when it produces output, never for a size query).
void writeParameter(Call& c, CK_VOID_PTR p, CK_ULONG len) {
    if (!c.writes() || p == nullptr || !c.step().decode) return;
    for (const auto& [field, bytes] : c.step().writes) writeParameterField(*c.step().decode, p, len, field, bytes);
}

/// C_EncryptMessage, C_DecryptMessage.
CK_RV whole(const char* fn, const char* in, const char* out, CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,
            CK_ULONG ulParameterLen, CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen, CK_BYTE_PTR pIn,
            CK_ULONG ulInLen, CK_BYTE_PTR pOut, CK_ULONG_PTR pulOutLen) {
    Call c(fn, hSession);
    parameter(c, pParameter, ulParameterLen);
    c.bytes("pAssociatedData", pAssociatedData, ulAssociatedDataLen).scalar("ulAssociatedDataLen", ulAssociatedDataLen);
    c.bytes(in, pIn, ulInLen).scalar((std::string("ul") + (in + 1) + "Len").c_str(), ulInLen);
    c.pointer(out, pOut).inLen((std::string("pul") + (out + 1) + "Len").c_str(), pulOutLen).require(pulOutLen);
    c.outBytes(pOut, pulOutLen, echo(pIn, ulInLen));
    if (pOut != nullptr) writeParameter(c, pParameter, ulParameterLen);
    return c.finish();
}

/// C_EncryptMessageBegin, C_DecryptMessageBegin.
CK_RV beginWithData(const char* fn, CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,
                    CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen) {
    Call c(fn, hSession);
    parameter(c, pParameter, ulParameterLen);
    c.bytes("pAssociatedData", pAssociatedData, ulAssociatedDataLen).scalar("ulAssociatedDataLen", ulAssociatedDataLen);
    writeParameter(c, pParameter, ulParameterLen);
    return c.finish();
}

/// C_EncryptMessageNext, C_DecryptMessageNext.
CK_RV next(const char* fn, const char* in, const char* out, CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,
           CK_ULONG ulParameterLen, CK_BYTE_PTR pIn, CK_ULONG ulInLen, CK_BYTE_PTR pOut, CK_ULONG_PTR pulOutLen,
           CK_FLAGS flags) {
    Call c(fn, hSession);
    parameter(c, pParameter, ulParameterLen);
    c.bytes(in, pIn, ulInLen).scalar((std::string("ul") + (in + 1) + "Len").c_str(), ulInLen);
    c.pointer(out, pOut).inLen((std::string("pul") + (out + 1) + "Len").c_str(), pulOutLen).require(pulOutLen);
    c.scalar("flags", flags);
    c.outBytes(pOut, pulOutLen, echo(pIn, ulInLen));
    if (pOut != nullptr) writeParameter(c, pParameter, ulParameterLen);
    return c.finish();
}

/// C_SignMessageBegin, C_VerifyMessageBegin.
CK_RV begin(const char* fn, CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen) {
    Call c(fn, hSession);
    parameter(c, pParameter, ulParameterLen);
    return c.finish();
}

/// C_SignMessage, C_SignMessageNext (whose pulSignatureLen may be NULL: no signature yet).
CK_RV sign(const char* fn, bool lengthRequired, CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,
           CK_ULONG ulParameterLen, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
           CK_ULONG_PTR pulSignatureLen) {
    Call c(fn, hSession);
    parameter(c, pParameter, ulParameterLen);
    c.bytes("pData", pData, ulDataLen).scalar("ulDataLen", ulDataLen);
    c.pointer("pSignature", pSignature).inLen("pulSignatureLen", pulSignatureLen);
    if (lengthRequired) c.require(pulSignatureLen);
    c.outBytes(pSignature, pulSignatureLen, pattern(64));
    if (pSignature != nullptr || pulSignatureLen == nullptr) writeParameter(c, pParameter, ulParameterLen);
    return c.finish();
}

/// C_VerifyMessage, C_VerifyMessageNext.
CK_RV verify(const char* fn, CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,
             CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    Call c(fn, hSession);
    parameter(c, pParameter, ulParameterLen);
    c.bytes("pData", pData, ulDataLen).scalar("ulDataLen", ulDataLen);
    c.bytes("pSignature", pSignature, ulSignatureLen).scalar("ulSignatureLen", ulSignatureLen);
    return c.finish();
}

}  // namespace

namespace entry {

CK_RV C_LoginUser(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen,
                  CK_UTF8CHAR_PTR pUsername, CK_ULONG ulUsernameLen) {
    Call c("C_LoginUser");
    c.scalar("hSession", hSession).scalar("userType", userType).bytes("pPin", pPin, ulPinLen);
    c.scalar("ulPinLen", ulPinLen).bytes("pUsername", pUsername, ulUsernameLen).scalar("ulUsernameLen", ulUsernameLen);
    return c.finish();
}

CK_RV C_SessionCancel(CK_SESSION_HANDLE hSession, CK_FLAGS flags) {
    Call c("C_SessionCancel");
    c.scalar("hSession", hSession).scalar("flags", flags);
    return c.finish();
}

#define VTM_WHOLE(name, in, out)                                                                    \
    CK_RV name(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,         \
               CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen, CK_BYTE_PTR pIn, CK_ULONG ulInLen, \
               CK_BYTE_PTR pOut, CK_ULONG_PTR pulOutLen) {                                          \
        return whole(#name, "p" #in, "p" #out, hSession, pParameter, ulParameterLen, pAssociatedData, \
                     ulAssociatedDataLen, pIn, ulInLen, pOut, pulOutLen);                           \
    }
#define VTM_BEGIN_WITH_DATA(name)                                                                   \
    CK_RV name(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,         \
               CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen) {                         \
        return beginWithData(#name, hSession, pParameter, ulParameterLen, pAssociatedData, ulAssociatedDataLen); \
    }
#define VTM_NEXT(name, in, out)                                                                     \
    CK_RV name(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen, CK_BYTE_PTR pIn, \
               CK_ULONG ulInLen, CK_BYTE_PTR pOut, CK_ULONG_PTR pulOutLen, CK_FLAGS flags) {        \
        return next(#name, "p" #in, "p" #out, hSession, pParameter, ulParameterLen, pIn, ulInLen, pOut, \
                    pulOutLen, flags);                                                              \
    }
#define VTM_BEGIN(name)                                                                             \
    CK_RV name(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen) {       \
        return begin(#name, hSession, pParameter, ulParameterLen);                                  \
    }
#define VTM_SIGN(name, lengthRequired)                                                              \
    CK_RV name(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen, CK_BYTE_PTR pData, \
               CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {          \
        return sign(#name, lengthRequired, hSession, pParameter, ulParameterLen, pData, ulDataLen, pSignature, \
                    pulSignatureLen);                                                               \
    }
#define VTM_VERIFY(name)                                                                            \
    CK_RV name(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen, CK_BYTE_PTR pData, \
               CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {               \
        return verify(#name, hSession, pParameter, ulParameterLen, pData, ulDataLen, pSignature, ulSignatureLen); \
    }

VTM_INITIALISE(C_MessageEncryptInit)
VTM_WHOLE(C_EncryptMessage, Plaintext, Ciphertext)
VTM_BEGIN_WITH_DATA(C_EncryptMessageBegin)
VTM_NEXT(C_EncryptMessageNext, PlaintextPart, CiphertextPart)
VTM_SESSION_ONLY(C_MessageEncryptFinal)

VTM_INITIALISE(C_MessageDecryptInit)
VTM_WHOLE(C_DecryptMessage, Ciphertext, Plaintext)
VTM_BEGIN_WITH_DATA(C_DecryptMessageBegin)
VTM_NEXT(C_DecryptMessageNext, CiphertextPart, PlaintextPart)
VTM_SESSION_ONLY(C_MessageDecryptFinal)

VTM_INITIALISE(C_MessageSignInit)
VTM_SIGN(C_SignMessage, true)
VTM_BEGIN(C_SignMessageBegin)
VTM_SIGN(C_SignMessageNext, false)
VTM_SESSION_ONLY(C_MessageSignFinal)

VTM_INITIALISE(C_MessageVerifyInit)
VTM_VERIFY(C_VerifyMessage)
VTM_BEGIN(C_VerifyMessageBegin)
VTM_VERIFY(C_VerifyMessageNext)
VTM_SESSION_ONLY(C_MessageVerifyFinal)

#undef VTM_WHOLE
#undef VTM_BEGIN_WITH_DATA
#undef VTM_NEXT
#undef VTM_BEGIN
#undef VTM_SIGN
#undef VTM_VERIFY

}  // namespace entry

}  // namespace vtm
