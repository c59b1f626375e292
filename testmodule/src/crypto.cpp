// Cryptographic operation entries (and C_SeedRandom). They come in five
// shapes, each written once: initialise (record.cpp, shared with the message
// entries), transform (input and size-query output), finish (size-query output
// only), feed (input only) and the scalar C_DigestKey. An entry of a shape is one row naming its buffers, from which
// the record keys follow the standard's names: buffer `Data` is recorded as
// pData and ulDataLen (an input) or pData and pulDataLen (an output).
//
// Built-in outputs: transforms echo their input; C_Sign and C_SignFinal give
// 64 pattern bytes (0x00..0x3f), C_Digest and C_DigestFinal 32, C_EncryptFinal
// and C_DecryptFinal 16.
#include "entries.hpp"

namespace vtm {

namespace {

/// `names`: the record keys of input, input length, output, output length. The output is `fixedLen` pattern
/// bytes, or the echo of the input when 0.
CK_RV transform(const char* fn, const char* const (&names)[4], CK_SESSION_HANDLE hSession, CK_BYTE_PTR in,
                CK_ULONG inLen, CK_BYTE_PTR out, CK_ULONG_PTR outLen, std::size_t fixedLen) {
    Call c(fn, hSession);
    c.bytes(names[0], in, inLen).scalar(names[1], inLen);
    c.pointer(names[2], out).inLen(names[3], outLen).require(outLen);
    if (inLen > 0) c.require(in);
    if (c.writes()) c.outBytes(out, outLen, fixedLen ? pattern(fixedLen) : echo(in, inLen));
    return c.finish();
}

CK_RV finishPart(const char* fn, const char* outName, const char* outLenName, CK_SESSION_HANDLE hSession,
                 CK_BYTE_PTR out, CK_ULONG_PTR outLen, std::size_t defaultLen) {
    Call c(fn, hSession);
    c.pointer(outName, out).inLen(outLenName, outLen).require(outLen);
    c.outBytes(out, outLen, pattern(defaultLen));
    return c.finish();
}

/// An entry that takes one input buffer.
CK_RV feed(const char* fn, const char* inName, const char* inLenName, CK_SESSION_HANDLE hSession, CK_BYTE_PTR in,
           CK_ULONG inLen) {
    Call c(fn, hSession);
    c.bytes(inName, in, inLen).scalar(inLenName, inLen);
    if (inLen > 0) c.require(in);
    return c.finish();
}

}  // namespace

namespace entry {

#define VTM_TRANSFORM(name, in, out, fixedLen)                                                      \
    CK_RV name(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pIn, CK_ULONG ulInLen, CK_BYTE_PTR pOut,     \
               CK_ULONG_PTR pulOutLen) {                                                            \
        return transform(#name, {"p" #in, "ul" #in "Len", "p" #out, "pul" #out "Len"}, hSession,    \
                         pIn, ulInLen, pOut, pulOutLen, fixedLen);                                  \
    }
#define VTM_FINISH(name, out, defaultLen)                                                           \
    CK_RV name(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOut, CK_ULONG_PTR pulOutLen) {              \
        return finishPart(#name, "p" #out, "pul" #out "Len", hSession, pOut, pulOutLen, defaultLen); \
    }
#define VTM_FEED(name, in)                                                                          \
    CK_RV name(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pIn, CK_ULONG ulInLen) {                     \
        return feed(#name, "p" #in, "ul" #in "Len", hSession, pIn, ulInLen);                        \
    }

VTM_INITIALISE(C_EncryptInit)
VTM_TRANSFORM(C_Encrypt, Data, EncryptedData, 0)
VTM_TRANSFORM(C_EncryptUpdate, Part, EncryptedPart, 0)
VTM_FINISH(C_EncryptFinal, LastEncryptedPart, 16)

VTM_INITIALISE(C_DecryptInit)
VTM_TRANSFORM(C_Decrypt, EncryptedData, Data, 0)
VTM_TRANSFORM(C_DecryptUpdate, EncryptedPart, Part, 0)
VTM_FINISH(C_DecryptFinal, LastPart, 16)

CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) {
    return initialise("C_DigestInit", hSession, pMechanism, nullptr);
}
VTM_TRANSFORM(C_Digest, Data, Digest, 32)
VTM_FEED(C_DigestUpdate, Part)
CK_RV C_DigestKey(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey) {
    return Call("C_DigestKey", hSession).scalar("hKey", hKey).finish();
}
VTM_FINISH(C_DigestFinal, Digest, 32)

VTM_INITIALISE(C_SignInit)
VTM_TRANSFORM(C_Sign, Data, Signature, 64)
VTM_FEED(C_SignUpdate, Part)
VTM_FINISH(C_SignFinal, Signature, 64)
VTM_INITIALISE(C_SignRecoverInit)
VTM_TRANSFORM(C_SignRecover, Data, Signature, 0)

VTM_INITIALISE(C_VerifyInit)
CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
               CK_ULONG ulSignatureLen) {
    Call c("C_Verify", hSession);
    c.bytes("pData", pData, ulDataLen).scalar("ulDataLen", ulDataLen);
    c.bytes("pSignature", pSignature, ulSignatureLen).scalar("ulSignatureLen", ulSignatureLen);
    if (ulDataLen > 0) c.require(pData);
    if (ulSignatureLen > 0) c.require(pSignature);
    return c.finish();
}
VTM_FEED(C_VerifyUpdate, Part)
VTM_FEED(C_VerifyFinal, Signature)
VTM_INITIALISE(C_VerifyRecoverInit)
VTM_TRANSFORM(C_VerifyRecover, Signature, Data, 0)

VTM_TRANSFORM(C_DigestEncryptUpdate, Part, EncryptedPart, 0)
VTM_TRANSFORM(C_DecryptDigestUpdate, EncryptedPart, Part, 0)
VTM_TRANSFORM(C_SignEncryptUpdate, Part, EncryptedPart, 0)
VTM_TRANSFORM(C_DecryptVerifyUpdate, EncryptedPart, Part, 0)

// The random number entry that takes input has the same shape.
VTM_FEED(C_SeedRandom, Seed)

#undef VTM_TRANSFORM
#undef VTM_FINISH
#undef VTM_FEED

}  // namespace entry

}  // namespace vtm
