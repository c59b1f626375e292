// What the units reading attribute values share: the kind of value an attribute type holds
// and a new Java CK_ATTRIBUTE.
#pragma once

#include <jni.h>

#include "pkcs11/pkcs11.h"

namespace vorlen {

// The one description of what a value read from a module holds, by its attribute type.
// Attributes: a CK_ATTRIBUTE array (the array attributes that hold templates), read with the
// nested length protocol by AttributeQuery; Longs: a CK_ULONG array (CKA_ALLOWED_MECHANISMS).
enum class ValueKind { Long, Boolean, Chars, Date, Bytes, Attributes, Longs };

inline ValueKind kindOf(CK_ATTRIBUTE_TYPE type) {
    switch (type) {
        case CKA_WRAP_TEMPLATE:
        case CKA_UNWRAP_TEMPLATE:
        case CKA_DERIVE_TEMPLATE:
            return ValueKind::Attributes;
        case CKA_ALLOWED_MECHANISMS:
            return ValueKind::Longs;
        case CKA_CLASS:
        case CKA_CERTIFICATE_TYPE:
        case CKA_KEY_TYPE:
        case CKA_MODULUS_BITS:
        case CKA_PRIME_BITS:
        case CKA_SUB_PRIME_BITS:
        case CKA_VALUE_BITS:
        case CKA_VALUE_LEN:
        case CKA_KEY_GEN_MECHANISM:
        case CKA_AUTH_PIN_FLAGS:
        case CKA_HW_FEATURE_TYPE:
            return ValueKind::Long;
        case CKA_TOKEN:
        case CKA_PRIVATE:
        case CKA_TRUSTED:
        case CKA_SENSITIVE:
        case CKA_ENCRYPT:
        case CKA_DECRYPT:
        case CKA_WRAP:
        case CKA_UNWRAP:
        case CKA_SIGN:
        case CKA_SIGN_RECOVER:
        case CKA_VERIFY:
        case CKA_VERIFY_RECOVER:
        case CKA_DERIVE:
        case CKA_EXTRACTABLE:
        case CKA_LOCAL:
        case CKA_NEVER_EXTRACTABLE:
        case CKA_ALWAYS_SENSITIVE:
        case CKA_MODIFIABLE:
        case CKA_SECONDARY_AUTH:
        case CKA_RESET_ON_INIT:
        case CKA_HAS_RESET:
            return ValueKind::Boolean;
        case CKA_LABEL:
        case CKA_APPLICATION:
            return ValueKind::Chars;
        case CKA_START_DATE:
        case CKA_END_DATE:
            return ValueKind::Date;
        default:
            return ValueKind::Bytes;
    }
}

/// A new Java CK_ATTRIBUTE of `type` holding `value` (a local reference or null); null with an
/// exception pending when it cannot be made.
jobject newJavaAttribute(JNIEnv* env, CK_ATTRIBUTE_TYPE type, jobject value);

}  // namespace vorlen
