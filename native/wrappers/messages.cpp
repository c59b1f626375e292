// The functions of the 3.0 list: the interface list, user login, cancellation and the
// message-based encryption, decryption, signing and verification.
//
// Each wrapper first asks whether the binding uses a 3.0 list; on a 2.x list it throws
// CKR_FUNCTION_NOT_SUPPORTED before it converts anything or calls the module. A per-message
// parameter is converted by the dispatch of mechanism parameters (as the parameter of a
// mechanism of type 0); after the wrapper's last module call, whatever it returned, what the
// module wrote into the record (a generated IV, a tag) goes back into the caller's objects.
//
// Shapes, as in the crypto unit:
//   initialise   C_MessageEncryptInit and the other *Init: a mechanism and a key
//   message      C_EncryptMessage, C_DecryptMessage, C_SignMessage, the *Next with output:
//                parameter and inputs, then the size protocol of queryBytes
//   begin        C_EncryptMessageBegin and the others: parameter (and associated data)
//   final        C_MessageEncryptFinal and the others: the session alone
//   buffers      the ByteBuffer overloads of C_EncryptMessage, C_DecryptMessage, their *Next
//                and C_SignMessage, C_VerifyMessage: one private native method,
//                messageBufferCall, on two regions as the crypto unit's bufferCall takes them
#include <jni.h>

#include "convert/convert.h"
#include "convert/convert_cache.h"
#include "wrappers/buffer_region.h"
#include "wrappers/call_shapes.h"

using namespace vorlen;

#define VORLEN_WRAPPER(name) Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_##name

namespace {

/// True when the binding uses a 3.0 list; otherwise PKCS11Exception CKR_FUNCTION_NOT_SUPPORTED
/// is pending and nothing reached the module.
bool offersVersion3(JNIEnv* env, const ModuleCall& module) {
    if (module.list().interface == ModuleInterface::interface3) {
        return true;
    }
    checkReturnValue(env, CKR_FUNCTION_NOT_SUPPORTED);
    return false;
}

/// The binding of `self` when it uses a 3.0 list; an empty result has an exception pending.
#define VORLEN_MODULE_3(module, failed)                  \
    ModuleCall module(env, self);                        \
    if (!(module) || !offersVersion3(env, module)) {     \
        return failed;                                   \
    }

/// A per-message parameter, converted for one wrapper call. The results the module leaves in it
/// go back into the caller's objects when the wrapper is done with it.
class MessageParameter {
public:
    explicit MessageParameter(JNIEnv* env) : env_(env) {}
    MessageParameter(const MessageParameter&) = delete;
    MessageParameter& operator=(const MessageParameter&) = delete;
    ~MessageParameter() {
        if (converted_) {
            copyBackResults(env_, parameter_, ResultsOf::Message);
        }
    }

    /// Converts the parameter; for an encryption, `tag` and `generated` ask that the caller's
    /// arrays can take the tag and a generated IV or nonce (checkMessageOutputs).
    bool convert(jobject object, bool tag = false, bool generated = false) {
        converted_ = toCkMechanismParameter(env_, object, parameter_) &&
                     checkMessageOutputs(env_, parameter_, tag, generated);
        return converted_;
    }
    CK_VOID_PTR data() { return parameter_.get()->pParameter; }
    CK_ULONG length() { return parameter_.get()->ulParameterLen; }

private:
    JNIEnv* env_;
    NativeMechanism parameter_;
    bool converted_ = false;
};

template <auto Entry>
void initialise(JNIEnv* env, jobject self, jlong hSession, jobject pMechanism, jlong hKey) {
    VORLEN_MODULE_3(module, )
    NativeMechanism mechanism;
    if (!toCkMechanism(env, pMechanism, mechanism)) {
        return;
    }
    const CK_RV rv = (module.functions()->*Entry)(ckULong(hSession), mechanism.get(), ckULong(hKey));
    mechanism.reset();
    checkReturnValue(env, rv);
}

template <auto Entry>
void finishMessages(JNIEnv* env, jobject self, jlong hSession) {
    VORLEN_MODULE_3(module, )
    checkReturnValue(env, (module.functions()->*Entry)(ckULong(hSession)));
}

/// C_EncryptMessage, C_DecryptMessage: parameter, associated data, input; output by size query.
template <auto Entry>
jbyteArray wholeMessage(JNIEnv* env, jobject self, const char* function, jlong hSession,
                        jobject pParameter, jbyteArray pAssociatedData, jbyteArray pInput) {
    VORLEN_MODULE_3(module, nullptr)
    constexpr bool encrypts = Entry == &ModuleFunctions::C_EncryptMessage;
    MessageParameter parameter(env);
    InputBytes associated;
    InputBytes input;
    if (!parameter.convert(pParameter, encrypts, encrypts) || !copyJavaBytes(env, pAssociatedData, associated) ||
        !copyJavaBytes(env, pInput, input)) {
        return nullptr;
    }
    const CK_SESSION_HANDLE session = ckULong(hSession);
    return queryBytes(env, function, [&](CK_BYTE_PTR output, CK_ULONG_PTR length) {
        return (module.functions()->*Entry)(session, parameter.data(), parameter.length(),
                                            associated.data(), associated.ulCount(), input.data(),
                                            input.ulCount(), output, length);
    });
}

/// C_EncryptMessageBegin, C_DecryptMessageBegin: parameter and associated data.
template <auto Entry>
void beginWithData(JNIEnv* env, jobject self, jlong hSession, jobject pParameter,
                   jbyteArray pAssociatedData) {
    VORLEN_MODULE_3(module, )
    // The IV or nonce of a multi-part encryption is generated at its beginning.
    constexpr bool generates = Entry == &ModuleFunctions::C_EncryptMessageBegin;
    MessageParameter parameter(env);
    InputBytes associated;
    if (!parameter.convert(pParameter, false, generates) ||
        !copyJavaBytes(env, pAssociatedData, associated)) {
        return;
    }
    checkReturnValue(env, (module.functions()->*Entry)(ckULong(hSession), parameter.data(),
                                                       parameter.length(), associated.data(),
                                                       associated.ulCount()));
}

/// C_SignMessageBegin, C_VerifyMessageBegin: the parameter alone.
template <auto Entry>
void begin(JNIEnv* env, jobject self, jlong hSession, jobject pParameter) {
    VORLEN_MODULE_3(module, )
    MessageParameter parameter(env);
    if (!parameter.convert(pParameter)) {
        return;
    }
    checkReturnValue(env, (module.functions()->*Entry)(ckULong(hSession), parameter.data(),
                                                       parameter.length()));
}

/// C_EncryptMessageNext, C_DecryptMessageNext: parameter, part and flags; output by size query.
template <auto Entry>
jbyteArray nextPart(JNIEnv* env, jobject self, const char* function, jlong hSession,
                    jobject pParameter, jbyteArray pPart, jlong flags) {
    VORLEN_MODULE_3(module, nullptr)
    // The tag comes with the last part.
    const bool tag = Entry == &ModuleFunctions::C_EncryptMessageNext &&
                     (ckULong(flags) & CKF_END_OF_MESSAGE) != 0;
    MessageParameter parameter(env);
    InputBytes part;
    if (!parameter.convert(pParameter, tag) || !copyJavaBytes(env, pPart, part)) {
        return nullptr;
    }
    const CK_SESSION_HANDLE session = ckULong(hSession);
    const CK_FLAGS nativeFlags = ckULong(flags);
    return queryBytes(env, function, [&](CK_BYTE_PTR output, CK_ULONG_PTR length) {
        return (module.functions()->*Entry)(session, parameter.data(), parameter.length(),
                                            part.data(), part.ulCount(), output, length,
                                            nativeFlags);
    });
}

/// C_VerifyMessage, C_VerifyMessageNext: parameter, data and signature (null: none).
template <auto Entry>
void verify(JNIEnv* env, jobject self, jlong hSession, jobject pParameter, jbyteArray pData,
            jbyteArray pSignature) {
    VORLEN_MODULE_3(module, )
    MessageParameter parameter(env);
    InputBytes data;
    InputBytes signature;
    if (!parameter.convert(pParameter) || !copyJavaBytes(env, pData, data) ||
        !copyJavaBytes(env, pSignature, signature)) {
        return;
    }
    checkReturnValue(env, (module.functions()->*Entry)(ckULong(hSession), parameter.data(),
                                                       parameter.length(), data.data(),
                                                       data.ulCount(), signature.data(),
                                                       signature.ulCount()));
}

/// The function codes of PKCS11Impl.messageBufferCall, in the order of its MESSAGE_ constants.
enum class BufferFunction : jint {
    EncryptMessage, DecryptMessage, EncryptMessageNext, DecryptMessageNext, SignMessage, VerifyMessage,
};

const char* bufferFunctionName(jint function) {
    switch (static_cast<BufferFunction>(function)) {
        case BufferFunction::EncryptMessage: return "C_EncryptMessage";
        case BufferFunction::DecryptMessage: return "C_DecryptMessage";
        case BufferFunction::EncryptMessageNext: return "C_EncryptMessageNext";
        case BufferFunction::DecryptMessageNext: return "C_DecryptMessageNext";
        case BufferFunction::SignMessage: return "C_SignMessage";
        case BufferFunction::VerifyMessage: return "C_VerifyMessage";
    }
    return nullptr;
}

}  // namespace

extern "C" {

// ---- the ByteBuffer overloads of the message functions ----

/// One module call with the room the output region has (never a size query, never a null output
/// pointer); for C_VerifyMessage the second region is the signature. Returns the number of
/// output bytes written (0 for C_VerifyMessage). The parameter's results go back whatever the
/// module answered, as in the byte[] forms.
JNIEXPORT jint JNICALL VORLEN_WRAPPER(messageBufferCall)(
        JNIEnv* env, jobject self, jint function, jlong hSession, jobject pParameter,
        jbyteArray pAssociatedData, jobject inBuffer, jint inCapacity, jbyteArray inArray,
        jint inOffset, jint inLength, jobject outBuffer, jint outCapacity, jbyteArray outArray,
        jint outOffset, jint outLength, jlong flags) {
    const char* name = bufferFunctionName(function);
    if (name == nullptr) {
        throwIllegalArgument(env, "no such message buffer function");
        return 0;
    }
    const auto fn = static_cast<BufferFunction>(function);
    const bool hasOutput = fn != BufferFunction::VerifyMessage;
    VORLEN_MODULE_3(module, 0)
    const bool encrypts = fn == BufferFunction::EncryptMessage;
    const bool lastPart = fn == BufferFunction::EncryptMessageNext &&
                          (ckULong(flags) & CKF_END_OF_MESSAGE) != 0;
    MessageParameter parameter(env);
    InputBytes associated;
    Regions regions;
    if (!parameter.convert(pParameter, encrypts || lastPart, encrypts) || !copyJavaBytes(env, pAssociatedData, associated) ||
        !regions.take(env, hasOutput, inBuffer, inCapacity, inArray, inOffset, inLength, outBuffer, outCapacity,
                      outArray, outOffset, outLength)) {
        return 0;
    }
    Region& in = regions.in;
    Region& out = regions.out;
    CK_BYTE_PTR output = regions.output();
    CK_ULONG written = out.length();
    ModuleFunctions* f = module.functions();
    const CK_SESSION_HANDLE s = ckULong(hSession);
    CK_RV rv = CKR_FUNCTION_FAILED;
    switch (fn) {
        case BufferFunction::EncryptMessage:
            rv = f->C_EncryptMessage(s, parameter.data(), parameter.length(), associated.data(),
                                     associated.ulCount(), in.data(), in.length(), output, &written);
            break;
        case BufferFunction::DecryptMessage:
            rv = f->C_DecryptMessage(s, parameter.data(), parameter.length(), associated.data(),
                                     associated.ulCount(), in.data(), in.length(), output, &written);
            break;
        case BufferFunction::EncryptMessageNext:
            rv = f->C_EncryptMessageNext(s, parameter.data(), parameter.length(), in.data(),
                                         in.length(), output, &written, ckULong(flags));
            break;
        case BufferFunction::DecryptMessageNext:
            rv = f->C_DecryptMessageNext(s, parameter.data(), parameter.length(), in.data(),
                                         in.length(), output, &written, ckULong(flags));
            break;
        case BufferFunction::SignMessage:
            rv = f->C_SignMessage(s, parameter.data(), parameter.length(), in.data(), in.length(),
                                  output, &written);
            break;
        case BufferFunction::VerifyMessage:
            rv = f->C_VerifyMessage(s, parameter.data(), parameter.length(), in.data(), in.length(),
                                    out.data(), out.length());
            break;
    }
    if (!succeeded(env, rv) || !hasOutput ||
        throwIfOverrun(env, name, "bytes", written, out.length())) {
        return 0;
    }
    out.copyBack(env, written);
    return static_cast<jint>(written);
}

// ---- the interface, login and cancellation ----

JNIEXPORT jobject JNICALL VORLEN_WRAPPER(getInterfaceVersion)(JNIEnv* env, jobject self) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    // A list of C_GetFunctionList is used as a 2.x list, whatever version it announces.
    const ModuleListInfo& list = module.list();
    const bool twoX = list.interface != ModuleInterface::interface3;
    return toJavaVersion(env, twoX && list.version.major != 2 ? CK_VERSION{2, 40} : list.version);
}

JNIEXPORT jobjectArray JNICALL VORLEN_WRAPPER(C_1GetInterfaceList)(JNIEnv* env, jobject self) {
    VORLEN_MODULE_3(module, nullptr)
    CK_ULONG count = 0;
    if (!succeeded(env, module->C_GetInterfaceList(nullptr, &count)) ||
        throwIfTooLong(env, "C_GetInterfaceList", "entries", count)) {
        return nullptr;
    }
    Scratch<CK_INTERFACE, 8> list;  // zero-filled, as every output
    if (!list.allocate(env, count, "no room for the interface list")) {
        return nullptr;
    }
    CK_ULONG written = count;
    const CK_RV rv = module->C_GetInterfaceList(list.data(), &written);
    if ((rv == CKR_OK && throwIfOverrun(env, "C_GetInterfaceList", "entries", written, count)) ||
        !succeeded(env, rv)) {
        return nullptr;
    }
    LocalRef<jobjectArray> result(
        env, env->NewObjectArray(static_cast<jsize>(written), jni::convert.interfaceClass, nullptr));
    if (!result) {
        return nullptr;
    }
    for (CK_ULONG i = 0; i < written; ++i) {
        LocalRef<jobject> element(env, toJavaInterface(env, list[i]));
        if (!element) {
            return nullptr;
        }
        env->SetObjectArrayElement(result.get(), static_cast<jsize>(i), element.get());
    }
    return result.release();
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1LoginUser)(JNIEnv* env, jobject self, jlong hSession,
                                                    jlong userType, jcharArray pPin,
                                                    jcharArray pUsername) {
    VORLEN_MODULE_3(module, )
    NativeBuffer pin;
    NativeBuffer username;
    // Both are UTF-8 text in the standard.
    if (!toCkUtf8CharArray(env, pPin, pin) || !toCkUtf8CharArray(env, pUsername, username)) {
        return;
    }
    checkReturnValue(env, module->C_LoginUser(ckULong(hSession), ckULong(userType), pin.bytes(),
                                              pin.count(), username.bytes(), username.count()));
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1SessionCancel)(JNIEnv* env, jobject self, jlong hSession,
                                                        jlong flags) {
    VORLEN_MODULE_3(module, )
    checkReturnValue(env, module->C_SessionCancel(ckULong(hSession), ckULong(flags)));
}

// ---- message-based encryption ----

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1MessageEncryptInit)(JNIEnv* env, jobject self,
                                                             jlong hSession, jobject pMechanism,
                                                             jlong hKey) {
    initialise<&ModuleFunctions::C_MessageEncryptInit>(env, self, hSession, pMechanism, hKey);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1EncryptMessage)(JNIEnv* env, jobject self,
                                                               jlong hSession, jobject pParameter,
                                                               jbyteArray pAssociatedData,
                                                               jbyteArray pPlaintext) {
    return wholeMessage<&ModuleFunctions::C_EncryptMessage>(
        env, self, "C_EncryptMessage", hSession, pParameter, pAssociatedData, pPlaintext);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1EncryptMessageBegin)(JNIEnv* env, jobject self,
                                                              jlong hSession, jobject pParameter,
                                                              jbyteArray pAssociatedData) {
    beginWithData<&ModuleFunctions::C_EncryptMessageBegin>(env, self, hSession, pParameter,
                                                           pAssociatedData);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1EncryptMessageNext)(JNIEnv* env, jobject self,
                                                                   jlong hSession,
                                                                   jobject pParameter,
                                                                   jbyteArray pPlaintextPart,
                                                                   jlong flags) {
    return nextPart<&ModuleFunctions::C_EncryptMessageNext>(
        env, self, "C_EncryptMessageNext", hSession, pParameter, pPlaintextPart, flags);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1MessageEncryptFinal)(JNIEnv* env, jobject self,
                                                              jlong hSession) {
    finishMessages<&ModuleFunctions::C_MessageEncryptFinal>(env, self, hSession);
}

// ---- message-based decryption ----

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1MessageDecryptInit)(JNIEnv* env, jobject self,
                                                             jlong hSession, jobject pMechanism,
                                                             jlong hKey) {
    initialise<&ModuleFunctions::C_MessageDecryptInit>(env, self, hSession, pMechanism, hKey);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1DecryptMessage)(JNIEnv* env, jobject self,
                                                               jlong hSession, jobject pParameter,
                                                               jbyteArray pAssociatedData,
                                                               jbyteArray pCiphertext) {
    return wholeMessage<&ModuleFunctions::C_DecryptMessage>(
        env, self, "C_DecryptMessage", hSession, pParameter, pAssociatedData, pCiphertext);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1DecryptMessageBegin)(JNIEnv* env, jobject self,
                                                              jlong hSession, jobject pParameter,
                                                              jbyteArray pAssociatedData) {
    beginWithData<&ModuleFunctions::C_DecryptMessageBegin>(env, self, hSession, pParameter,
                                                           pAssociatedData);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1DecryptMessageNext)(JNIEnv* env, jobject self,
                                                                   jlong hSession,
                                                                   jobject pParameter,
                                                                   jbyteArray pCiphertextPart,
                                                                   jlong flags) {
    return nextPart<&ModuleFunctions::C_DecryptMessageNext>(
        env, self, "C_DecryptMessageNext", hSession, pParameter, pCiphertextPart, flags);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1MessageDecryptFinal)(JNIEnv* env, jobject self,
                                                              jlong hSession) {
    finishMessages<&ModuleFunctions::C_MessageDecryptFinal>(env, self, hSession);
}

// ---- message-based signing ----

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1MessageSignInit)(JNIEnv* env, jobject self,
                                                          jlong hSession, jobject pMechanism,
                                                          jlong hKey) {
    initialise<&ModuleFunctions::C_MessageSignInit>(env, self, hSession, pMechanism, hKey);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1SignMessage)(JNIEnv* env, jobject self,
                                                            jlong hSession, jobject pParameter,
                                                            jbyteArray pData) {
    VORLEN_MODULE_3(module, nullptr)
    MessageParameter parameter(env);
    InputBytes data;
    if (!parameter.convert(pParameter) || !copyJavaBytes(env, pData, data)) {
        return nullptr;
    }
    const CK_SESSION_HANDLE session = ckULong(hSession);
    return queryBytes(env, "C_SignMessage", [&](CK_BYTE_PTR signature, CK_ULONG_PTR length) {
        return module->C_SignMessage(session, parameter.data(), parameter.length(), data.data(),
                                     data.ulCount(), signature, length);
    });
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1SignMessageBegin)(JNIEnv* env, jobject self,
                                                           jlong hSession, jobject pParameter) {
    begin<&ModuleFunctions::C_SignMessageBegin>(env, self, hSession, pParameter);
}

// A part that is not the last asks for no signature (both pointers NULL); the last one asks
// for it with the size protocol.
JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1SignMessageNext)(JNIEnv* env, jobject self,
                                                                jlong hSession,
                                                                jobject pParameter,
                                                                jbyteArray pData, jboolean last) {
    VORLEN_MODULE_3(module, nullptr)
    MessageParameter parameter(env);
    InputBytes data;
    if (!parameter.convert(pParameter) || !copyJavaBytes(env, pData, data)) {
        return nullptr;
    }
    const CK_SESSION_HANDLE session = ckULong(hSession);
    auto call = [&](CK_BYTE_PTR signature, CK_ULONG_PTR length) {
        return module->C_SignMessageNext(session, parameter.data(), parameter.length(),
                                         data.data(), data.ulCount(), signature, length);
    };
    if (last != JNI_TRUE) {
        checkReturnValue(env, call(nullptr, nullptr));
        return nullptr;
    }
    return queryBytes(env, "C_SignMessageNext", call);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1MessageSignFinal)(JNIEnv* env, jobject self,
                                                           jlong hSession) {
    finishMessages<&ModuleFunctions::C_MessageSignFinal>(env, self, hSession);
}

// ---- message-based verification ----

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1MessageVerifyInit)(JNIEnv* env, jobject self,
                                                            jlong hSession, jobject pMechanism,
                                                            jlong hKey) {
    initialise<&ModuleFunctions::C_MessageVerifyInit>(env, self, hSession, pMechanism, hKey);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1VerifyMessage)(JNIEnv* env, jobject self, jlong hSession,
                                                        jobject pParameter, jbyteArray pData,
                                                        jbyteArray pSignature) {
    verify<&ModuleFunctions::C_VerifyMessage>(env, self, hSession, pParameter, pData, pSignature);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1VerifyMessageBegin)(JNIEnv* env, jobject self,
                                                             jlong hSession, jobject pParameter) {
    begin<&ModuleFunctions::C_VerifyMessageBegin>(env, self, hSession, pParameter);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1VerifyMessageNext)(JNIEnv* env, jobject self,
                                                            jlong hSession, jobject pParameter,
                                                            jbyteArray pData,
                                                            jbyteArray pSignature) {
    verify<&ModuleFunctions::C_VerifyMessageNext>(env, self, hSession, pParameter, pData,
                                                  pSignature);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1MessageVerifyFinal)(JNIEnv* env, jobject self,
                                                             jlong hSession) {
    finishMessages<&ModuleFunctions::C_MessageVerifyFinal>(env, self, hSession);
}

}  // extern "C"
