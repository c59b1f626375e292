// Bulk data in java.nio.ByteBuffers: the one native method behind the ByteBuffer overloads of
// PKCS11Impl (C_Encrypt, C_Decrypt, C_Digest, C_Sign, C_Verify, their Update and Final forms).
//
// The Java side reads the buffers' positions and limits and passes, for the input and for the
// output, either a direct buffer with the offset of the region in it, or a Java array with the
// offset of the region in the array (a heap buffer's backing array, or a copy of a read-only
// one). A direct buffer's memory reaches the module as it is: nothing is copied. An array
// region is copied into native memory before the module call and the output copied back into
// the array after it; no Java array is ever pinned across a module call.
//
// The output goes to the module with the room the caller's buffer has. A module that needs more
// answers CKR_BUFFER_TOO_SMALL and, by the standard's convention for variable-length output,
// keeps the operation going and consumes nothing: the caller gets PKCS11Exception with that
// code, the buffers' positions stay as they were, and the call can be made again with a larger
// buffer. One module call, never a size query: a null output pointer would be taken for one.
#include <jni.h>

#include <algorithm>
#include <cstdint>

#include "wrappers/buffer_region.h"
#include "wrappers/call_shapes.h"

using namespace vorlen;

#define VORLEN_WRAPPER(name) Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_##name

namespace {

// The function codes of PKCS11Impl.bufferCall, in the order of its BUFFER_ constants.
enum class Function : jint {
    Encrypt, EncryptUpdate, EncryptFinal,
    Decrypt, DecryptUpdate, DecryptFinal,
    Digest, DigestUpdate, DigestFinal,
    Sign, SignUpdate, SignFinal,
    Verify, VerifyUpdate, VerifyFinal,
};

struct Entry {
    const char* name;
    enum Shape { Transform, Finish, Feed, Verify } shape;
};

Entry describe(Function function) {
    switch (function) {
        case Function::Encrypt: return {"C_Encrypt", Entry::Transform};
        case Function::EncryptUpdate: return {"C_EncryptUpdate", Entry::Transform};
        case Function::EncryptFinal: return {"C_EncryptFinal", Entry::Finish};
        case Function::Decrypt: return {"C_Decrypt", Entry::Transform};
        case Function::DecryptUpdate: return {"C_DecryptUpdate", Entry::Transform};
        case Function::DecryptFinal: return {"C_DecryptFinal", Entry::Finish};
        case Function::Digest: return {"C_Digest", Entry::Transform};
        case Function::DigestUpdate: return {"C_DigestUpdate", Entry::Feed};
        case Function::DigestFinal: return {"C_DigestFinal", Entry::Finish};
        case Function::Sign: return {"C_Sign", Entry::Transform};
        case Function::SignUpdate: return {"C_SignUpdate", Entry::Feed};
        case Function::SignFinal: return {"C_SignFinal", Entry::Finish};
        case Function::Verify: return {"C_Verify", Entry::Verify};
        case Function::VerifyUpdate: return {"C_VerifyUpdate", Entry::Feed};
        case Function::VerifyFinal: return {"C_VerifyFinal", Entry::Feed};
    }
    return {nullptr, Entry::Feed};
}

/// The module call itself. `out` and `outLength` are used by the shapes with output; the
/// Verify shape takes `out` as its second input (the signature).
CK_RV callModule(CK_FUNCTION_LIST_PTR f, Function function, CK_SESSION_HANDLE s, const Region& in,
                 const Region& out, CK_BYTE_PTR output, CK_ULONG_PTR outLength) {
    switch (function) {
        case Function::Encrypt: return f->C_Encrypt(s, in.data(), in.length(), output, outLength);
        case Function::EncryptUpdate: return f->C_EncryptUpdate(s, in.data(), in.length(), output, outLength);
        case Function::EncryptFinal: return f->C_EncryptFinal(s, output, outLength);
        case Function::Decrypt: return f->C_Decrypt(s, in.data(), in.length(), output, outLength);
        case Function::DecryptUpdate: return f->C_DecryptUpdate(s, in.data(), in.length(), output, outLength);
        case Function::DecryptFinal: return f->C_DecryptFinal(s, output, outLength);
        case Function::Digest: return f->C_Digest(s, in.data(), in.length(), output, outLength);
        case Function::DigestUpdate: return f->C_DigestUpdate(s, in.data(), in.length());
        case Function::DigestFinal: return f->C_DigestFinal(s, output, outLength);
        case Function::Sign: return f->C_Sign(s, in.data(), in.length(), output, outLength);
        case Function::SignUpdate: return f->C_SignUpdate(s, in.data(), in.length());
        case Function::SignFinal: return f->C_SignFinal(s, output, outLength);
        case Function::Verify: return f->C_Verify(s, in.data(), in.length(), out.data(), out.length());
        case Function::VerifyUpdate: return f->C_VerifyUpdate(s, in.data(), in.length());
        case Function::VerifyFinal: return f->C_VerifyFinal(s, in.data(), in.length());
    }
    return CKR_FUNCTION_FAILED;
}

}  // namespace

extern "C" {

/// Returns the number of output bytes written (0 for the shapes without output).
JNIEXPORT jint JNICALL VORLEN_WRAPPER(bufferCall)(JNIEnv* env, jobject self, jint function,
                                                  jlong hSession, jobject inBuffer,
                                                  jint inCapacity, jbyteArray inArray,
                                                  jint inOffset, jint inLength,
                                                  jobject outBuffer, jint outCapacity,
                                                  jbyteArray outArray, jint outOffset,
                                                  jint outLength) {
    const auto fn = static_cast<Function>(function);
    const Entry entry = describe(fn);
    if (function < 0 || entry.name == nullptr) {
        throwIllegalArgument(env, "no such buffer function");
        return 0;
    }
    ModuleCall module(env, self);
    if (!module) {
        return 0;
    }
    const bool hasOutput = entry.shape == Entry::Transform || entry.shape == Entry::Finish;
    Regions regions;
    if (!regions.take(env, hasOutput, inBuffer, inCapacity, inArray, inOffset, inLength, outBuffer, outCapacity,
                      outArray, outOffset, outLength)) {
        return 0;
    }
    Region& in = regions.in;
    Region& out = regions.out;
    CK_BYTE_PTR output = regions.output();
    CK_ULONG written = out.length();
    const CK_RV rv = callModule(module.functions(), fn, ckULong(hSession), in, out, output, &written);
    if (!succeeded(env, rv)) {
        return 0;
    }
    if (!hasOutput) {
        return 0;
    }
    if (throwIfOverrun(env, entry.name, "bytes", written, out.length())) {
        return 0;
    }
    out.copyBack(env, written);
    return static_cast<jint>(written);
}

}  // extern "C"
