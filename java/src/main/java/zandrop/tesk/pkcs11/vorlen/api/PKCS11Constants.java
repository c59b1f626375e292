package zandrop.tesk.pkcs11.vorlen.api;

import java.lang.reflect.Field;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;

/**
 * The constants of PKCS #11 v2.40: return values, attribute types, mechanism types, object
 * classes, key and certificate types, flags, user types, session states, notifications and the
 * parameter values of the mechanism parameter records; and those of version 3.0 that its newer
 * mechanisms, their parameter records and the 3.0 functions use (EdDSA and Montgomery keys,
 * ChaCha20, SHA-3, HKDF, SP 800-108, the message flags and IV generators, ...).
 *
 * <p>Every constant has the name it has in the standard and its value as a {@code long}. A
 * {@code CK_ULONG} reaches Java zero-extended, so every value here is non-negative: the values
 * from {@code 0x80000000} upwards ({@link #CKR_VENDOR_DEFINED}, {@link #CKA_VENDOR_DEFINED} ...)
 * are positive numbers, and {@link #CK_UNAVAILABLE_INFORMATION} is {@code 4294967295}.
 *
 * <p>The constants are grouped by kind. Return values, attribute types, mechanism types and key
 * types carry the standard's names, which say what they are; the standard describes each in
 * full. Flags, user types, session states and the other small families have a short comment.
 *
 * <p>Where the standard gives one value several names (for example {@link #CKM_EC_KEY_PAIR_GEN}
 * and the deprecated {@code CKM_ECDSA_KEY_PAIR_GEN}), every name is defined here, and the name
 * look-ups {@link #returnValueName(long)}, {@link #attributeName(long)},
 * {@link #mechanismName(long)}, {@link #objectClassName(long)}, {@link #keyTypeName(long)} and
 * {@link #certificateTypeName(long)}, and the flag decoders {@link #slotFlagNames(long)},
 * {@link #tokenFlagNames(long)}, {@link #mechanismFlagNames(long)} and
 * {@link #sessionFlagNames(long)}, report the current one.
 */
public final class PKCS11Constants {

    private PKCS11Constants() {
    }

    // ---- Special values and the version of the standard these constants follow.

    /**
     * A CK_ULONG field whose value the token cannot report: all bits set. This constant is the
     * value where CK_ULONG has 32 bits (Windows, 32-bit Linux); where it has 64 bits (64-bit
     * Linux) the same native value reads as -1. Test values with {@link #isUnavailable(long)}.
     */
    public static final long CK_UNAVAILABLE_INFORMATION = 0xFFFFFFFFL;

    /**
     * Whether a CK_ULONG value read from a module is CK_UNAVAILABLE_INFORMATION on any platform:
     * all 32 bits set, or all 64 bits set (-1).
     *
     * @param value a count, size or length as the library returned it
     * @return true for 4294967295 and for -1
     */
    public static boolean isUnavailable(long value) {
        return value == CK_UNAVAILABLE_INFORMATION || value == -1L;
    }
    /** A maximum count without a limit, as in ulMaxSessionCount. */
    public static final long CK_EFFECTIVELY_INFINITE = 0L;
    /** A handle that never denotes a session or an object. */
    public static final long CK_INVALID_HANDLE = 0L;
    /** Major version of the standard these constants follow. */
    public static final long CRYPTOKI_VERSION_MAJOR = 2L;
    /** Minor version of the standard these constants follow. */
    public static final long CRYPTOKI_VERSION_MINOR = 40L;
    /** Amendment of the standard these constants follow. */
    public static final long CRYPTOKI_VERSION_AMENDMENT = 0L;

    // ---- Notifications passed to CK_NOTIFY (CK_NOTIFICATION).

    /** The module asks the application whether to give up the session's current operation. */
    public static final long CKN_SURRENDER = 0x00000000L;
    /** A one-time-password key's state changed. */
    public static final long CKN_OTP_CHANGED = 0x00000001L;

    // ---- Flags of CK_SLOT_INFO.

    /** Slot flag: a token is in the slot. */
    public static final long CKF_TOKEN_PRESENT = 0x00000001L;
    /** Slot flag: the reader supports removable devices. */
    public static final long CKF_REMOVABLE_DEVICE = 0x00000002L;
    /** Slot flag: the slot is a hardware slot, not a software one. */
    public static final long CKF_HW_SLOT = 0x00000004L;

    // ---- Flags of CK_TOKEN_INFO.

    /** Token flag: the token has a random number generator. */
    public static final long CKF_RNG = 0x00000001L;
    /** Token flag: the token is write-protected. */
    public static final long CKF_WRITE_PROTECTED = 0x00000002L;
    /** Token flag: some functions need a logged-in user. */
    public static final long CKF_LOGIN_REQUIRED = 0x00000004L;
    /** Token flag: the normal user's PIN has been initialised. */
    public static final long CKF_USER_PIN_INITIALIZED = 0x00000008L;
    /** Token flag: restoring an operation state never needs a key. */
    public static final long CKF_RESTORE_KEY_NOT_NEEDED = 0x00000020L;
    /** Token flag: the token has a clock. */
    public static final long CKF_CLOCK_ON_TOKEN = 0x00000040L;
    /** Token flag: users log in without passing a PIN through the library. */
    public static final long CKF_PROTECTED_AUTHENTICATION_PATH = 0x00000100L;
    /** Token flag: a session can run two cryptographic operations at once. */
    public static final long CKF_DUAL_CRYPTO_OPERATIONS = 0x00000200L;
    /** Token flag: the token has been initialised. */
    public static final long CKF_TOKEN_INITIALIZED = 0x00000400L;
    /** Token flag: the token supports secondary authentication for private keys. */
    public static final long CKF_SECONDARY_AUTHENTICATION = 0x00000800L;
    /** Token flag: a wrong user PIN has been entered since the last successful login. */
    public static final long CKF_USER_PIN_COUNT_LOW = 0x00010000L;
    /** Token flag: one more wrong user PIN locks the user PIN. */
    public static final long CKF_USER_PIN_FINAL_TRY = 0x00020000L;
    /** Token flag: the user PIN is locked. */
    public static final long CKF_USER_PIN_LOCKED = 0x00040000L;
    /** Token flag: the user PIN must be changed. */
    public static final long CKF_USER_PIN_TO_BE_CHANGED = 0x00080000L;
    /**
     * Token flag: a wrong security officer PIN has been entered since the last successful login.
     */
    public static final long CKF_SO_PIN_COUNT_LOW = 0x00100000L;
    /** Token flag: one more wrong security officer PIN locks it. */
    public static final long CKF_SO_PIN_FINAL_TRY = 0x00200000L;
    /** Token flag: the security officer PIN is locked. */
    public static final long CKF_SO_PIN_LOCKED = 0x00400000L;
    /** Token flag: the security officer PIN must be changed. */
    public static final long CKF_SO_PIN_TO_BE_CHANGED = 0x00800000L;
    /** Token flag: the token failed a self-test and is in an error state. */
    public static final long CKF_ERROR_STATE = 0x01000000L;

    // ---- Flags of CK_SESSION_INFO and of C_OpenSession.

    /** Session flag: a read/write session, not a read-only one. */
    public static final long CKF_RW_SESSION = 0x00000002L;
    /** Session flag: a serial session; C_OpenSession requires it. */
    public static final long CKF_SERIAL_SESSION = 0x00000004L;

    // ---- Flag that marks attribute types whose value is an array of attributes.

    /** Marks attribute types whose value is an array of attributes, such as CKA_WRAP_TEMPLATE. */
    public static final long CKF_ARRAY_ATTRIBUTE = 0x40000000L;

    // ---- Flags of CK_MECHANISM_INFO.

    /** Mechanism flag: performed by the device, not in software. */
    public static final long CKF_HW = 0x00000001L;
    /** Mechanism flag: usable with C_EncryptInit. */
    public static final long CKF_ENCRYPT = 0x00000100L;
    /** Mechanism flag: usable with C_DecryptInit. */
    public static final long CKF_DECRYPT = 0x00000200L;
    /** Mechanism flag: usable with C_DigestInit. */
    public static final long CKF_DIGEST = 0x00000400L;
    /** Mechanism flag: usable with C_SignInit. */
    public static final long CKF_SIGN = 0x00000800L;
    /** Mechanism flag: usable with C_SignRecoverInit. */
    public static final long CKF_SIGN_RECOVER = 0x00001000L;
    /** Mechanism flag: usable with C_VerifyInit. */
    public static final long CKF_VERIFY = 0x00002000L;
    /** Mechanism flag: usable with C_VerifyRecoverInit. */
    public static final long CKF_VERIFY_RECOVER = 0x00004000L;
    /** Mechanism flag: usable with C_GenerateKey. */
    public static final long CKF_GENERATE = 0x00008000L;
    /** Mechanism flag: usable with C_GenerateKeyPair. */
    public static final long CKF_GENERATE_KEY_PAIR = 0x00010000L;
    /** Mechanism flag: usable with C_WrapKey. */
    public static final long CKF_WRAP = 0x00020000L;
    /** Mechanism flag: usable with C_UnwrapKey. */
    public static final long CKF_UNWRAP = 0x00040000L;
    /** Mechanism flag: usable with C_DeriveKey. */
    public static final long CKF_DERIVE = 0x00080000L;
    /** Mechanism flag: supports elliptic curves over prime fields. */
    public static final long CKF_EC_F_P = 0x00100000L;
    /** Mechanism flag: supports elliptic curves over binary fields. */
    public static final long CKF_EC_F_2M = 0x00200000L;
    /** Mechanism flag: accepts curves given by explicit parameters. */
    public static final long CKF_EC_ECPARAMETERS = 0x00400000L;
    /** Mechanism flag: accepts curves given by name (object identifier). */
    public static final long CKF_EC_NAMEDCURVE = 0x00800000L;
    /** Mechanism flag: supports uncompressed elliptic curve points. */
    public static final long CKF_EC_UNCOMPRESS = 0x01000000L;
    /** Mechanism flag: supports compressed elliptic curve points. */
    public static final long CKF_EC_COMPRESS = 0x02000000L;
    /** Mechanism flag: usable with C_MessageEncryptInit. */
    public static final long CKF_MESSAGE_ENCRYPT = 0x00000002L;
    /** Mechanism flag: usable with C_MessageDecryptInit. */
    public static final long CKF_MESSAGE_DECRYPT = 0x00000004L;
    /** Mechanism flag: usable with C_MessageSignInit. */
    public static final long CKF_MESSAGE_SIGN = 0x00000008L;
    /** Mechanism flag: usable with C_MessageVerifyInit. */
    public static final long CKF_MESSAGE_VERIFY = 0x00000010L;
    /** Mechanism flag: usable with the Begin and Next message functions. */
    public static final long CKF_MULTI_MESSAGE = 0x00000020L;
    /** Flag of C_SessionCancel: cancel an object search. */
    public static final long CKF_FIND_OBJECTS = 0x00000040L;
    /** The name version 3.0 gives {@link #CKF_EC_NAMEDCURVE}. */
    public static final long CKF_EC_OID = 0x00800000L;
    /** Mechanism flag reserved for extensions; must be 0. */
    public static final long CKF_EXTENSION = 0x80000000L;

    // ---- Flags of CK_C_INITIALIZE_ARGS.

    /** Initialisation flag: the module must not create threads of its own. */
    public static final long CKF_LIBRARY_CANT_CREATE_OS_THREADS = 0x00000001L;
    /** Initialisation flag: the module may use the operating system's locks. */
    public static final long CKF_OS_LOCKING_OK = 0x00000002L;

    // ---- Flag of C_WaitForSlotEvent.

    /** C_WaitForSlotEvent flag: return at once when no event is pending. */
    public static final long CKF_DONT_BLOCK = 0x00000001L;

    // ---- Flags of one-time-password parameters.

    /** One-time-password flag: return the next value, not the current one. */
    public static final long CKF_NEXT_OTP = 0x00000001L;
    /** One-time-password flag: leave the time out of the computation. */
    public static final long CKF_EXCLUDE_TIME = 0x00000002L;
    /** One-time-password flag: leave the counter out of the computation. */
    public static final long CKF_EXCLUDE_COUNTER = 0x00000004L;
    /** One-time-password flag: leave the challenge out of the computation. */
    public static final long CKF_EXCLUDE_CHALLENGE = 0x00000008L;
    /** One-time-password flag: leave the PIN out of the computation. */
    public static final long CKF_EXCLUDE_PIN = 0x00000010L;
    /** One-time-password flag: return the value in a form readable by people. */
    public static final long CKF_USER_FRIENDLY_OTP = 0x00000020L;

    // ---- User types (CK_USER_TYPE).

    /** The security officer. */
    public static final long CKU_SO = 0x00000000L;
    /** The normal user. */
    public static final long CKU_USER = 0x00000001L;
    /** Authentication for a single operation, as CKA_ALWAYS_AUTHENTICATE keys require. */
    public static final long CKU_CONTEXT_SPECIFIC = 0x00000002L;

    // ---- Session states (CK_STATE).

    /** Read-only session, nobody logged in. */
    public static final long CKS_RO_PUBLIC_SESSION = 0x00000000L;
    /** Read-only session, normal user logged in. */
    public static final long CKS_RO_USER_FUNCTIONS = 0x00000001L;
    /** Read/write session, nobody logged in. */
    public static final long CKS_RW_PUBLIC_SESSION = 0x00000002L;
    /** Read/write session, normal user logged in. */
    public static final long CKS_RW_USER_FUNCTIONS = 0x00000003L;
    /** Read/write session, security officer logged in. */
    public static final long CKS_RW_SO_FUNCTIONS = 0x00000004L;

    // ---- Object classes (CK_OBJECT_CLASS).

    /** Application data. */
    public static final long CKO_DATA = 0x00000000L;
    /** A certificate. */
    public static final long CKO_CERTIFICATE = 0x00000001L;
    /** A public key. */
    public static final long CKO_PUBLIC_KEY = 0x00000002L;
    /** A private key. */
    public static final long CKO_PRIVATE_KEY = 0x00000003L;
    /** A secret key. */
    public static final long CKO_SECRET_KEY = 0x00000004L;
    /** A hardware feature, such as a clock. */
    public static final long CKO_HW_FEATURE = 0x00000005L;
    /** Domain parameters, such as those of a DSA or DH key. */
    public static final long CKO_DOMAIN_PARAMETERS = 0x00000006L;
    /** A mechanism object. */
    public static final long CKO_MECHANISM = 0x00000007L;
    /** A one-time-password key. */
    public static final long CKO_OTP_KEY = 0x00000008L;
    /** A profile object: which profile of the standard the token implements. */
    public static final long CKO_PROFILE = 0x00000009L;
    /** The first vendor-defined object class. */
    public static final long CKO_VENDOR_DEFINED = 0x80000000L;

    // ---- Hardware feature types (CK_HW_FEATURE_TYPE).

    /** A counter that only counts up. */
    public static final long CKH_MONOTONIC_COUNTER = 0x00000001L;
    /** A real-time clock. */
    public static final long CKH_CLOCK = 0x00000002L;
    /** A user interface of the token. */
    public static final long CKH_USER_INTERFACE = 0x00000003L;
    /** The first vendor-defined hardware feature type. */
    public static final long CKH_VENDOR_DEFINED = 0x80000000L;

    // ---- Profiles (CK_PROFILE_ID), the CKA_PROFILE_ID of a CKO_PROFILE object.

    /** Profile: none. */
    public static final long CKP_INVALID_ID = 0x00000000L;
    /** Profile: baseline provider. */
    public static final long CKP_BASELINE_PROVIDER = 0x00000001L;
    /** Profile: extended provider. */
    public static final long CKP_EXTENDED_PROVIDER = 0x00000002L;
    /** Profile: authentication token. */
    public static final long CKP_AUTHENTICATION_TOKEN = 0x00000003L;
    /** Profile: public certificates token. */
    public static final long CKP_PUBLIC_CERTIFICATES_TOKEN = 0x00000004L;
    /** The first vendor-defined profile. */
    public static final long CKP_VENDOR_DEFINED = 0x80000000L;

    // ---- Key types (CK_KEY_TYPE).

    public static final long CKK_RSA = 0x00000000L;
    public static final long CKK_DSA = 0x00000001L;
    public static final long CKK_DH = 0x00000002L;
    public static final long CKK_EC = 0x00000003L;
    /** Deprecated name of {@link #CKK_EC}. */
    @Deprecated
    public static final long CKK_ECDSA = 0x00000003L;
    public static final long CKK_X9_42_DH = 0x00000004L;
    public static final long CKK_KEA = 0x00000005L;
    public static final long CKK_GENERIC_SECRET = 0x00000010L;
    public static final long CKK_RC2 = 0x00000011L;
    public static final long CKK_RC4 = 0x00000012L;
    public static final long CKK_DES = 0x00000013L;
    public static final long CKK_DES2 = 0x00000014L;
    public static final long CKK_DES3 = 0x00000015L;
    public static final long CKK_CAST = 0x00000016L;
    public static final long CKK_CAST3 = 0x00000017L;
    public static final long CKK_CAST128 = 0x00000018L;
    /** Deprecated name of {@link #CKK_CAST128}. */
    @Deprecated
    public static final long CKK_CAST5 = 0x00000018L;
    public static final long CKK_RC5 = 0x00000019L;
    public static final long CKK_IDEA = 0x0000001AL;
    public static final long CKK_SKIPJACK = 0x0000001BL;
    public static final long CKK_BATON = 0x0000001CL;
    public static final long CKK_JUNIPER = 0x0000001DL;
    public static final long CKK_CDMF = 0x0000001EL;
    public static final long CKK_AES = 0x0000001FL;
    public static final long CKK_BLOWFISH = 0x00000020L;
    public static final long CKK_TWOFISH = 0x00000021L;
    public static final long CKK_SECURID = 0x00000022L;
    public static final long CKK_HOTP = 0x00000023L;
    public static final long CKK_ACTI = 0x00000024L;
    public static final long CKK_CAMELLIA = 0x00000025L;
    public static final long CKK_ARIA = 0x00000026L;
    public static final long CKK_MD5_HMAC = 0x00000027L;
    public static final long CKK_SHA_1_HMAC = 0x00000028L;
    public static final long CKK_RIPEMD128_HMAC = 0x00000029L;
    public static final long CKK_RIPEMD160_HMAC = 0x0000002AL;
    public static final long CKK_SHA256_HMAC = 0x0000002BL;
    public static final long CKK_SHA384_HMAC = 0x0000002CL;
    public static final long CKK_SHA512_HMAC = 0x0000002DL;
    public static final long CKK_SHA224_HMAC = 0x0000002EL;
    public static final long CKK_SEED = 0x0000002FL;
    public static final long CKK_GOSTR3410 = 0x00000030L;
    public static final long CKK_GOSTR3411 = 0x00000031L;
    public static final long CKK_GOST28147 = 0x00000032L;
    // Version 3.0:
    public static final long CKK_CHACHA20 = 0x00000033L;
    public static final long CKK_POLY1305 = 0x00000034L;
    public static final long CKK_AES_XTS = 0x00000035L;
    public static final long CKK_SHA3_224_HMAC = 0x00000036L;
    public static final long CKK_SHA3_256_HMAC = 0x00000037L;
    public static final long CKK_SHA3_384_HMAC = 0x00000038L;
    public static final long CKK_SHA3_512_HMAC = 0x00000039L;
    public static final long CKK_BLAKE2B_160_HMAC = 0x0000003AL;
    public static final long CKK_BLAKE2B_256_HMAC = 0x0000003BL;
    public static final long CKK_BLAKE2B_384_HMAC = 0x0000003CL;
    public static final long CKK_BLAKE2B_512_HMAC = 0x0000003DL;
    public static final long CKK_SALSA20 = 0x0000003EL;
    public static final long CKK_X2RATCHET = 0x0000003FL;
    public static final long CKK_EC_EDWARDS = 0x00000040L;
    public static final long CKK_EC_MONTGOMERY = 0x00000041L;
    public static final long CKK_HKDF = 0x00000042L;
    public static final long CKK_SHA512_224_HMAC = 0x00000043L;
    public static final long CKK_SHA512_256_HMAC = 0x00000044L;
    public static final long CKK_SHA512_T_HMAC = 0x00000045L;
    /** The first vendor-defined key type. */
    public static final long CKK_VENDOR_DEFINED = 0x80000000L;

    // ---- Certificate types (CK_CERTIFICATE_TYPE).

    /** An X.509 public key certificate. */
    public static final long CKC_X_509 = 0x00000000L;
    /** An X.509 attribute certificate. */
    public static final long CKC_X_509_ATTR_CERT = 0x00000001L;
    /** A WTLS public key certificate. */
    public static final long CKC_WTLS = 0x00000002L;
    /** The first vendor-defined certificate type. */
    public static final long CKC_VENDOR_DEFINED = 0x80000000L;

    // ---- Values of CKA_CERTIFICATE_CATEGORY.

    /** No category given. */
    public static final long CK_CERTIFICATE_CATEGORY_UNSPECIFIED = 0x00000000L;
    /** A certificate of the token's user. */
    public static final long CK_CERTIFICATE_CATEGORY_TOKEN_USER = 0x00000001L;
    /** A certificate of a certification authority. */
    public static final long CK_CERTIFICATE_CATEGORY_AUTHORITY = 0x00000002L;
    /** A certificate of another entity. */
    public static final long CK_CERTIFICATE_CATEGORY_OTHER_ENTITY = 0x00000003L;

    // ---- Values of CKA_JAVA_MIDP_SECURITY_DOMAIN.

    /** No security domain given. */
    public static final long CK_SECURITY_DOMAIN_UNSPECIFIED = 0x00000000L;
    /** The manufacturer's protection domain. */
    public static final long CK_SECURITY_DOMAIN_MANUFACTURER = 0x00000001L;
    /** The operator's protection domain. */
    public static final long CK_SECURITY_DOMAIN_OPERATOR = 0x00000002L;
    /** A third party's protection domain. */
    public static final long CK_SECURITY_DOMAIN_THIRD_PARTY = 0x00000003L;

    // ---- Attribute types (CK_ATTRIBUTE_TYPE).

    public static final long CKA_CLASS = 0x00000000L;
    public static final long CKA_TOKEN = 0x00000001L;
    public static final long CKA_PRIVATE = 0x00000002L;
    public static final long CKA_LABEL = 0x00000003L;
    public static final long CKA_APPLICATION = 0x00000010L;
    public static final long CKA_VALUE = 0x00000011L;
    public static final long CKA_OBJECT_ID = 0x00000012L;
    public static final long CKA_CERTIFICATE_TYPE = 0x00000080L;
    public static final long CKA_ISSUER = 0x00000081L;
    public static final long CKA_SERIAL_NUMBER = 0x00000082L;
    public static final long CKA_AC_ISSUER = 0x00000083L;
    public static final long CKA_OWNER = 0x00000084L;
    public static final long CKA_ATTR_TYPES = 0x00000085L;
    public static final long CKA_TRUSTED = 0x00000086L;
    public static final long CKA_CERTIFICATE_CATEGORY = 0x00000087L;
    public static final long CKA_JAVA_MIDP_SECURITY_DOMAIN = 0x00000088L;
    public static final long CKA_URL = 0x00000089L;
    public static final long CKA_HASH_OF_SUBJECT_PUBLIC_KEY = 0x0000008AL;
    public static final long CKA_HASH_OF_ISSUER_PUBLIC_KEY = 0x0000008BL;
    public static final long CKA_NAME_HASH_ALGORITHM = 0x0000008CL;
    public static final long CKA_CHECK_VALUE = 0x00000090L;
    public static final long CKA_KEY_TYPE = 0x00000100L;
    public static final long CKA_SUBJECT = 0x00000101L;
    public static final long CKA_ID = 0x00000102L;
    public static final long CKA_SENSITIVE = 0x00000103L;
    public static final long CKA_ENCRYPT = 0x00000104L;
    public static final long CKA_DECRYPT = 0x00000105L;
    public static final long CKA_WRAP = 0x00000106L;
    public static final long CKA_UNWRAP = 0x00000107L;
    public static final long CKA_SIGN = 0x00000108L;
    public static final long CKA_SIGN_RECOVER = 0x00000109L;
    public static final long CKA_VERIFY = 0x0000010AL;
    public static final long CKA_VERIFY_RECOVER = 0x0000010BL;
    public static final long CKA_DERIVE = 0x0000010CL;
    public static final long CKA_START_DATE = 0x00000110L;
    public static final long CKA_END_DATE = 0x00000111L;
    public static final long CKA_MODULUS = 0x00000120L;
    public static final long CKA_MODULUS_BITS = 0x00000121L;
    public static final long CKA_PUBLIC_EXPONENT = 0x00000122L;
    public static final long CKA_PRIVATE_EXPONENT = 0x00000123L;
    public static final long CKA_PRIME_1 = 0x00000124L;
    public static final long CKA_PRIME_2 = 0x00000125L;
    public static final long CKA_EXPONENT_1 = 0x00000126L;
    public static final long CKA_EXPONENT_2 = 0x00000127L;
    public static final long CKA_COEFFICIENT = 0x00000128L;
    public static final long CKA_PUBLIC_KEY_INFO = 0x00000129L;
    public static final long CKA_PRIME = 0x00000130L;
    public static final long CKA_SUBPRIME = 0x00000131L;
    public static final long CKA_BASE = 0x00000132L;
    public static final long CKA_PRIME_BITS = 0x00000133L;
    public static final long CKA_SUB_PRIME_BITS = 0x00000134L;
    /** Same value as {@link #CKA_SUB_PRIME_BITS}, the name the look-ups report. */
    public static final long CKA_SUBPRIME_BITS = 0x00000134L;
    public static final long CKA_VALUE_BITS = 0x00000160L;
    public static final long CKA_VALUE_LEN = 0x00000161L;
    public static final long CKA_EXTRACTABLE = 0x00000162L;
    public static final long CKA_LOCAL = 0x00000163L;
    public static final long CKA_NEVER_EXTRACTABLE = 0x00000164L;
    public static final long CKA_ALWAYS_SENSITIVE = 0x00000165L;
    public static final long CKA_KEY_GEN_MECHANISM = 0x00000166L;
    public static final long CKA_MODIFIABLE = 0x00000170L;
    public static final long CKA_COPYABLE = 0x00000171L;
    public static final long CKA_DESTROYABLE = 0x00000172L;
    public static final long CKA_EC_PARAMS = 0x00000180L;
    /** Deprecated name of {@link #CKA_EC_PARAMS}. */
    @Deprecated
    public static final long CKA_ECDSA_PARAMS = 0x00000180L;
    public static final long CKA_EC_POINT = 0x00000181L;
    public static final long CKA_SECONDARY_AUTH = 0x00000200L;
    public static final long CKA_AUTH_PIN_FLAGS = 0x00000201L;
    public static final long CKA_ALWAYS_AUTHENTICATE = 0x00000202L;
    public static final long CKA_WRAP_WITH_TRUSTED = 0x00000210L;
    public static final long CKA_OTP_FORMAT = 0x00000220L;
    public static final long CKA_OTP_LENGTH = 0x00000221L;
    public static final long CKA_OTP_TIME_INTERVAL = 0x00000222L;
    public static final long CKA_OTP_USER_FRIENDLY_MODE = 0x00000223L;
    public static final long CKA_OTP_CHALLENGE_REQUIREMENT = 0x00000224L;
    public static final long CKA_OTP_TIME_REQUIREMENT = 0x00000225L;
    public static final long CKA_OTP_COUNTER_REQUIREMENT = 0x00000226L;
    public static final long CKA_OTP_PIN_REQUIREMENT = 0x00000227L;
    public static final long CKA_OTP_USER_IDENTIFIER = 0x0000022AL;
    public static final long CKA_OTP_SERVICE_IDENTIFIER = 0x0000022BL;
    public static final long CKA_OTP_SERVICE_LOGO = 0x0000022CL;
    public static final long CKA_OTP_SERVICE_LOGO_TYPE = 0x0000022DL;
    public static final long CKA_OTP_COUNTER = 0x0000022EL;
    public static final long CKA_OTP_TIME = 0x0000022FL;
    public static final long CKA_GOSTR3410_PARAMS = 0x00000250L;
    public static final long CKA_GOSTR3411_PARAMS = 0x00000251L;
    public static final long CKA_GOST28147_PARAMS = 0x00000252L;
    public static final long CKA_HW_FEATURE_TYPE = 0x00000300L;
    public static final long CKA_RESET_ON_INIT = 0x00000301L;
    public static final long CKA_HAS_RESET = 0x00000302L;
    public static final long CKA_PIXEL_X = 0x00000400L;
    public static final long CKA_PIXEL_Y = 0x00000401L;
    public static final long CKA_RESOLUTION = 0x00000402L;
    public static final long CKA_CHAR_ROWS = 0x00000403L;
    public static final long CKA_CHAR_COLUMNS = 0x00000404L;
    public static final long CKA_COLOR = 0x00000405L;
    public static final long CKA_BITS_PER_PIXEL = 0x00000406L;
    public static final long CKA_CHAR_SETS = 0x00000480L;
    public static final long CKA_ENCODING_METHODS = 0x00000481L;
    public static final long CKA_MIME_TYPES = 0x00000482L;
    public static final long CKA_MECHANISM_TYPE = 0x00000500L;
    public static final long CKA_REQUIRED_CMS_ATTRIBUTES = 0x00000501L;
    public static final long CKA_DEFAULT_CMS_ATTRIBUTES = 0x00000502L;
    public static final long CKA_SUPPORTED_CMS_ATTRIBUTES = 0x00000503L;
    public static final long CKA_WRAP_TEMPLATE = 0x40000211L;
    public static final long CKA_UNWRAP_TEMPLATE = 0x40000212L;
    public static final long CKA_DERIVE_TEMPLATE = 0x40000213L;
    public static final long CKA_ALLOWED_MECHANISMS = 0x40000600L;
    // Version 3.0:
    public static final long CKA_PROFILE_ID = 0x00000601L;
    public static final long CKA_X2RATCHET_BAG = 0x00000602L;
    public static final long CKA_X2RATCHET_BAGSIZE = 0x00000603L;
    public static final long CKA_X2RATCHET_BOBS1STMSG = 0x00000604L;
    public static final long CKA_X2RATCHET_CKR = 0x00000605L;
    public static final long CKA_X2RATCHET_CKS = 0x00000606L;
    public static final long CKA_X2RATCHET_DHP = 0x00000607L;
    public static final long CKA_X2RATCHET_DHR = 0x00000608L;
    public static final long CKA_X2RATCHET_DHS = 0x00000609L;
    public static final long CKA_X2RATCHET_HKR = 0x0000060AL;
    public static final long CKA_X2RATCHET_HKS = 0x0000060BL;
    public static final long CKA_X2RATCHET_ISALICE = 0x0000060CL;
    public static final long CKA_X2RATCHET_NHKR = 0x0000060DL;
    public static final long CKA_X2RATCHET_NHKS = 0x0000060EL;
    public static final long CKA_X2RATCHET_NR = 0x0000060FL;
    public static final long CKA_X2RATCHET_NS = 0x00000610L;
    public static final long CKA_X2RATCHET_PNS = 0x00000611L;
    public static final long CKA_X2RATCHET_RK = 0x00000612L;
    /** The first vendor-defined attribute type. */
    public static final long CKA_VENDOR_DEFINED = 0x80000000L;

    // ---- One-time-password formats, requirements and parameter types.

    /** One-time-password format: decimal digits. */
    public static final long CK_OTP_FORMAT_DECIMAL = 0x00000000L;
    /** One-time-password format: hexadecimal digits. */
    public static final long CK_OTP_FORMAT_HEXADECIMAL = 0x00000001L;
    /** One-time-password format: letters and digits. */
    public static final long CK_OTP_FORMAT_ALPHANUMERIC = 0x00000002L;
    /** One-time-password format: bytes. */
    public static final long CK_OTP_FORMAT_BINARY = 0x00000003L;
    /** One-time-password parameter requirement: ignored. */
    public static final long CK_OTP_PARAM_IGNORED = 0x00000000L;
    /** One-time-password parameter requirement: optional. */
    public static final long CK_OTP_PARAM_OPTIONAL = 0x00000001L;
    /** One-time-password parameter requirement: mandatory. */
    public static final long CK_OTP_PARAM_MANDATORY = 0x00000002L;
    /** One-time-password parameter: the value. */
    public static final long CK_OTP_VALUE = 0x00000000L;
    /** One-time-password parameter: the PIN. */
    public static final long CK_OTP_PIN = 0x00000001L;
    /** One-time-password parameter: the challenge. */
    public static final long CK_OTP_CHALLENGE = 0x00000002L;
    /** One-time-password parameter: the time. */
    public static final long CK_OTP_TIME = 0x00000003L;
    /** One-time-password parameter: the counter. */
    public static final long CK_OTP_COUNTER = 0x00000004L;
    /** One-time-password parameter: the flags. */
    public static final long CK_OTP_FLAGS = 0x00000005L;
    /** One-time-password parameter: the length of the value. */
    public static final long CK_OTP_OUTPUT_LENGTH = 0x00000006L;
    /** One-time-password parameter: the format of the value. */
    public static final long CK_OTP_OUTPUT_FORMAT = 0x00000007L;

    // ---- Mechanism types (CK_MECHANISM_TYPE).

    public static final long CKM_RSA_PKCS_KEY_PAIR_GEN = 0x00000000L;
    public static final long CKM_RSA_PKCS = 0x00000001L;
    public static final long CKM_RSA_9796 = 0x00000002L;
    public static final long CKM_RSA_X_509 = 0x00000003L;
    public static final long CKM_MD2_RSA_PKCS = 0x00000004L;
    public static final long CKM_MD5_RSA_PKCS = 0x00000005L;
    public static final long CKM_SHA1_RSA_PKCS = 0x00000006L;
    public static final long CKM_RIPEMD128_RSA_PKCS = 0x00000007L;
    public static final long CKM_RIPEMD160_RSA_PKCS = 0x00000008L;
    public static final long CKM_RSA_PKCS_OAEP = 0x00000009L;
    public static final long CKM_RSA_X9_31_KEY_PAIR_GEN = 0x0000000AL;
    public static final long CKM_RSA_X9_31 = 0x0000000BL;
    public static final long CKM_SHA1_RSA_X9_31 = 0x0000000CL;
    public static final long CKM_RSA_PKCS_PSS = 0x0000000DL;
    public static final long CKM_SHA1_RSA_PKCS_PSS = 0x0000000EL;
    public static final long CKM_DSA_KEY_PAIR_GEN = 0x00000010L;
    public static final long CKM_DSA = 0x00000011L;
    public static final long CKM_DSA_SHA1 = 0x00000012L;
    public static final long CKM_DSA_SHA224 = 0x00000013L;
    public static final long CKM_DSA_SHA256 = 0x00000014L;
    public static final long CKM_DSA_SHA384 = 0x00000015L;
    public static final long CKM_DSA_SHA512 = 0x00000016L;
    public static final long CKM_DH_PKCS_KEY_PAIR_GEN = 0x00000020L;
    public static final long CKM_DH_PKCS_DERIVE = 0x00000021L;
    public static final long CKM_X9_42_DH_KEY_PAIR_GEN = 0x00000030L;
    public static final long CKM_X9_42_DH_DERIVE = 0x00000031L;
    public static final long CKM_X9_42_DH_HYBRID_DERIVE = 0x00000032L;
    public static final long CKM_X9_42_MQV_DERIVE = 0x00000033L;
    public static final long CKM_SHA256_RSA_PKCS = 0x00000040L;
    public static final long CKM_SHA384_RSA_PKCS = 0x00000041L;
    public static final long CKM_SHA512_RSA_PKCS = 0x00000042L;
    public static final long CKM_SHA256_RSA_PKCS_PSS = 0x00000043L;
    public static final long CKM_SHA384_RSA_PKCS_PSS = 0x00000044L;
    public static final long CKM_SHA512_RSA_PKCS_PSS = 0x00000045L;
    public static final long CKM_SHA224_RSA_PKCS = 0x00000046L;
    public static final long CKM_SHA224_RSA_PKCS_PSS = 0x00000047L;
    public static final long CKM_SHA512_224 = 0x00000048L;
    public static final long CKM_SHA512_224_HMAC = 0x00000049L;
    public static final long CKM_SHA512_224_HMAC_GENERAL = 0x0000004AL;
    public static final long CKM_SHA512_224_KEY_DERIVATION = 0x0000004BL;
    public static final long CKM_SHA512_256 = 0x0000004CL;
    public static final long CKM_SHA512_256_HMAC = 0x0000004DL;
    public static final long CKM_SHA512_256_HMAC_GENERAL = 0x0000004EL;
    public static final long CKM_SHA512_256_KEY_DERIVATION = 0x0000004FL;
    public static final long CKM_SHA512_T = 0x00000050L;
    public static final long CKM_SHA512_T_HMAC = 0x00000051L;
    public static final long CKM_SHA512_T_HMAC_GENERAL = 0x00000052L;
    public static final long CKM_SHA512_T_KEY_DERIVATION = 0x00000053L;
    public static final long CKM_RC2_KEY_GEN = 0x00000100L;
    public static final long CKM_RC2_ECB = 0x00000101L;
    public static final long CKM_RC2_CBC = 0x00000102L;
    public static final long CKM_RC2_MAC = 0x00000103L;
    public static final long CKM_RC2_MAC_GENERAL = 0x00000104L;
    public static final long CKM_RC2_CBC_PAD = 0x00000105L;
    public static final long CKM_RC4_KEY_GEN = 0x00000110L;
    public static final long CKM_RC4 = 0x00000111L;
    public static final long CKM_DES_KEY_GEN = 0x00000120L;
    public static final long CKM_DES_ECB = 0x00000121L;
    public static final long CKM_DES_CBC = 0x00000122L;
    public static final long CKM_DES_MAC = 0x00000123L;
    public static final long CKM_DES_MAC_GENERAL = 0x00000124L;
    public static final long CKM_DES_CBC_PAD = 0x00000125L;
    public static final long CKM_DES2_KEY_GEN = 0x00000130L;
    public static final long CKM_DES3_KEY_GEN = 0x00000131L;
    public static final long CKM_DES3_ECB = 0x00000132L;
    public static final long CKM_DES3_CBC = 0x00000133L;
    public static final long CKM_DES3_MAC = 0x00000134L;
    public static final long CKM_DES3_MAC_GENERAL = 0x00000135L;
    public static final long CKM_DES3_CBC_PAD = 0x00000136L;
    public static final long CKM_DES3_CMAC_GENERAL = 0x00000137L;
    public static final long CKM_DES3_CMAC = 0x00000138L;
    public static final long CKM_CDMF_KEY_GEN = 0x00000140L;
    public static final long CKM_CDMF_ECB = 0x00000141L;
    public static final long CKM_CDMF_CBC = 0x00000142L;
    public static final long CKM_CDMF_MAC = 0x00000143L;
    public static final long CKM_CDMF_MAC_GENERAL = 0x00000144L;
    public static final long CKM_CDMF_CBC_PAD = 0x00000145L;
    public static final long CKM_DES_OFB64 = 0x00000150L;
    public static final long CKM_DES_OFB8 = 0x00000151L;
    public static final long CKM_DES_CFB64 = 0x00000152L;
    public static final long CKM_DES_CFB8 = 0x00000153L;
    public static final long CKM_MD2 = 0x00000200L;
    public static final long CKM_MD2_HMAC = 0x00000201L;
    public static final long CKM_MD2_HMAC_GENERAL = 0x00000202L;
    public static final long CKM_MD5 = 0x00000210L;
    public static final long CKM_MD5_HMAC = 0x00000211L;
    public static final long CKM_MD5_HMAC_GENERAL = 0x00000212L;
    public static final long CKM_SHA_1 = 0x00000220L;
    public static final long CKM_SHA_1_HMAC = 0x00000221L;
    public static final long CKM_SHA_1_HMAC_GENERAL = 0x00000222L;
    public static final long CKM_RIPEMD128 = 0x00000230L;
    public static final long CKM_RIPEMD128_HMAC = 0x00000231L;
    public static final long CKM_RIPEMD128_HMAC_GENERAL = 0x00000232L;
    public static final long CKM_RIPEMD160 = 0x00000240L;
    public static final long CKM_RIPEMD160_HMAC = 0x00000241L;
    public static final long CKM_RIPEMD160_HMAC_GENERAL = 0x00000242L;
    public static final long CKM_SHA256 = 0x00000250L;
    public static final long CKM_SHA256_HMAC = 0x00000251L;
    public static final long CKM_SHA256_HMAC_GENERAL = 0x00000252L;
    public static final long CKM_SHA224 = 0x00000255L;
    public static final long CKM_SHA224_HMAC = 0x00000256L;
    public static final long CKM_SHA224_HMAC_GENERAL = 0x00000257L;
    public static final long CKM_SHA384 = 0x00000260L;
    public static final long CKM_SHA384_HMAC = 0x00000261L;
    public static final long CKM_SHA384_HMAC_GENERAL = 0x00000262L;
    public static final long CKM_SHA512 = 0x00000270L;
    public static final long CKM_SHA512_HMAC = 0x00000271L;
    public static final long CKM_SHA512_HMAC_GENERAL = 0x00000272L;
    public static final long CKM_SECURID_KEY_GEN = 0x00000280L;
    public static final long CKM_SECURID = 0x00000282L;
    public static final long CKM_HOTP_KEY_GEN = 0x00000290L;
    public static final long CKM_HOTP = 0x00000291L;
    public static final long CKM_ACTI = 0x000002A0L;
    public static final long CKM_ACTI_KEY_GEN = 0x000002A1L;
    public static final long CKM_CAST_KEY_GEN = 0x00000300L;
    public static final long CKM_CAST_ECB = 0x00000301L;
    public static final long CKM_CAST_CBC = 0x00000302L;
    public static final long CKM_CAST_MAC = 0x00000303L;
    public static final long CKM_CAST_MAC_GENERAL = 0x00000304L;
    public static final long CKM_CAST_CBC_PAD = 0x00000305L;
    public static final long CKM_CAST3_KEY_GEN = 0x00000310L;
    public static final long CKM_CAST3_ECB = 0x00000311L;
    public static final long CKM_CAST3_CBC = 0x00000312L;
    public static final long CKM_CAST3_MAC = 0x00000313L;
    public static final long CKM_CAST3_MAC_GENERAL = 0x00000314L;
    public static final long CKM_CAST3_CBC_PAD = 0x00000315L;
    public static final long CKM_CAST128_KEY_GEN = 0x00000320L;
    /** Same value as {@link #CKM_CAST128_KEY_GEN}, the name the look-ups report. */
    public static final long CKM_CAST5_KEY_GEN = 0x00000320L;
    public static final long CKM_CAST128_ECB = 0x00000321L;
    /** Same value as {@link #CKM_CAST128_ECB}, the name the look-ups report. */
    public static final long CKM_CAST5_ECB = 0x00000321L;
    public static final long CKM_CAST128_CBC = 0x00000322L;
    /** Same value as {@link #CKM_CAST128_CBC}, the name the look-ups report. */
    public static final long CKM_CAST5_CBC = 0x00000322L;
    public static final long CKM_CAST128_MAC = 0x00000323L;
    /** Same value as {@link #CKM_CAST128_MAC}, the name the look-ups report. */
    public static final long CKM_CAST5_MAC = 0x00000323L;
    public static final long CKM_CAST128_MAC_GENERAL = 0x00000324L;
    /** Same value as {@link #CKM_CAST128_MAC_GENERAL}, the name the look-ups report. */
    public static final long CKM_CAST5_MAC_GENERAL = 0x00000324L;
    public static final long CKM_CAST128_CBC_PAD = 0x00000325L;
    /** Same value as {@link #CKM_CAST128_CBC_PAD}, the name the look-ups report. */
    public static final long CKM_CAST5_CBC_PAD = 0x00000325L;
    public static final long CKM_RC5_KEY_GEN = 0x00000330L;
    public static final long CKM_RC5_ECB = 0x00000331L;
    public static final long CKM_RC5_CBC = 0x00000332L;
    public static final long CKM_RC5_MAC = 0x00000333L;
    public static final long CKM_RC5_MAC_GENERAL = 0x00000334L;
    public static final long CKM_RC5_CBC_PAD = 0x00000335L;
    public static final long CKM_IDEA_KEY_GEN = 0x00000340L;
    public static final long CKM_IDEA_ECB = 0x00000341L;
    public static final long CKM_IDEA_CBC = 0x00000342L;
    public static final long CKM_IDEA_MAC = 0x00000343L;
    public static final long CKM_IDEA_MAC_GENERAL = 0x00000344L;
    public static final long CKM_IDEA_CBC_PAD = 0x00000345L;
    public static final long CKM_GENERIC_SECRET_KEY_GEN = 0x00000350L;
    public static final long CKM_CONCATENATE_BASE_AND_KEY = 0x00000360L;
    public static final long CKM_CONCATENATE_BASE_AND_DATA = 0x00000362L;
    public static final long CKM_CONCATENATE_DATA_AND_BASE = 0x00000363L;
    public static final long CKM_XOR_BASE_AND_DATA = 0x00000364L;
    public static final long CKM_EXTRACT_KEY_FROM_KEY = 0x00000365L;
    public static final long CKM_SSL3_PRE_MASTER_KEY_GEN = 0x00000370L;
    public static final long CKM_SSL3_MASTER_KEY_DERIVE = 0x00000371L;
    public static final long CKM_SSL3_KEY_AND_MAC_DERIVE = 0x00000372L;
    public static final long CKM_SSL3_MASTER_KEY_DERIVE_DH = 0x00000373L;
    public static final long CKM_TLS_PRE_MASTER_KEY_GEN = 0x00000374L;
    public static final long CKM_TLS_MASTER_KEY_DERIVE = 0x00000375L;
    public static final long CKM_TLS_KEY_AND_MAC_DERIVE = 0x00000376L;
    public static final long CKM_TLS_MASTER_KEY_DERIVE_DH = 0x00000377L;
    public static final long CKM_TLS_PRF = 0x00000378L;
    public static final long CKM_SSL3_MD5_MAC = 0x00000380L;
    public static final long CKM_SSL3_SHA1_MAC = 0x00000381L;
    public static final long CKM_MD5_KEY_DERIVATION = 0x00000390L;
    public static final long CKM_MD2_KEY_DERIVATION = 0x00000391L;
    public static final long CKM_SHA1_KEY_DERIVATION = 0x00000392L;
    public static final long CKM_SHA256_KEY_DERIVATION = 0x00000393L;
    public static final long CKM_SHA384_KEY_DERIVATION = 0x00000394L;
    public static final long CKM_SHA512_KEY_DERIVATION = 0x00000395L;
    public static final long CKM_SHA224_KEY_DERIVATION = 0x00000396L;
    public static final long CKM_PBE_MD2_DES_CBC = 0x000003A0L;
    public static final long CKM_PBE_MD5_DES_CBC = 0x000003A1L;
    public static final long CKM_PBE_MD5_CAST_CBC = 0x000003A2L;
    public static final long CKM_PBE_MD5_CAST3_CBC = 0x000003A3L;
    public static final long CKM_PBE_MD5_CAST128_CBC = 0x000003A4L;
    /** Same value as {@link #CKM_PBE_MD5_CAST128_CBC}, the name the look-ups report. */
    public static final long CKM_PBE_MD5_CAST5_CBC = 0x000003A4L;
    public static final long CKM_PBE_SHA1_CAST128_CBC = 0x000003A5L;
    /** Same value as {@link #CKM_PBE_SHA1_CAST128_CBC}, the name the look-ups report. */
    public static final long CKM_PBE_SHA1_CAST5_CBC = 0x000003A5L;
    public static final long CKM_PBE_SHA1_RC4_128 = 0x000003A6L;
    public static final long CKM_PBE_SHA1_RC4_40 = 0x000003A7L;
    public static final long CKM_PBE_SHA1_DES3_EDE_CBC = 0x000003A8L;
    public static final long CKM_PBE_SHA1_DES2_EDE_CBC = 0x000003A9L;
    public static final long CKM_PBE_SHA1_RC2_128_CBC = 0x000003AAL;
    public static final long CKM_PBE_SHA1_RC2_40_CBC = 0x000003ABL;
    public static final long CKM_PKCS5_PBKD2 = 0x000003B0L;
    public static final long CKM_PBA_SHA1_WITH_SHA1_HMAC = 0x000003C0L;
    public static final long CKM_WTLS_PRE_MASTER_KEY_GEN = 0x000003D0L;
    public static final long CKM_WTLS_MASTER_KEY_DERIVE = 0x000003D1L;
    public static final long CKM_WTLS_MASTER_KEY_DERIVE_DH_ECC = 0x000003D2L;
    public static final long CKM_WTLS_PRF = 0x000003D3L;
    public static final long CKM_WTLS_SERVER_KEY_AND_MAC_DERIVE = 0x000003D4L;
    public static final long CKM_WTLS_CLIENT_KEY_AND_MAC_DERIVE = 0x000003D5L;
    public static final long CKM_TLS10_MAC_SERVER = 0x000003D6L;
    public static final long CKM_TLS10_MAC_CLIENT = 0x000003D7L;
    public static final long CKM_TLS12_MAC = 0x000003D8L;
    public static final long CKM_TLS12_KDF = 0x000003D9L;
    public static final long CKM_TLS12_MASTER_KEY_DERIVE = 0x000003E0L;
    public static final long CKM_TLS12_KEY_AND_MAC_DERIVE = 0x000003E1L;
    public static final long CKM_TLS12_MASTER_KEY_DERIVE_DH = 0x000003E2L;
    public static final long CKM_TLS12_KEY_SAFE_DERIVE = 0x000003E3L;
    public static final long CKM_TLS_MAC = 0x000003E4L;
    public static final long CKM_TLS_KDF = 0x000003E5L;
    public static final long CKM_KEY_WRAP_LYNKS = 0x00000400L;
    public static final long CKM_KEY_WRAP_SET_OAEP = 0x00000401L;
    public static final long CKM_CMS_SIG = 0x00000500L;
    public static final long CKM_KIP_DERIVE = 0x00000510L;
    public static final long CKM_KIP_WRAP = 0x00000511L;
    public static final long CKM_KIP_MAC = 0x00000512L;
    public static final long CKM_CAMELLIA_KEY_GEN = 0x00000550L;
    public static final long CKM_CAMELLIA_ECB = 0x00000551L;
    public static final long CKM_CAMELLIA_CBC = 0x00000552L;
    public static final long CKM_CAMELLIA_MAC = 0x00000553L;
    public static final long CKM_CAMELLIA_MAC_GENERAL = 0x00000554L;
    public static final long CKM_CAMELLIA_CBC_PAD = 0x00000555L;
    public static final long CKM_CAMELLIA_ECB_ENCRYPT_DATA = 0x00000556L;
    public static final long CKM_CAMELLIA_CBC_ENCRYPT_DATA = 0x00000557L;
    public static final long CKM_CAMELLIA_CTR = 0x00000558L;
    public static final long CKM_ARIA_KEY_GEN = 0x00000560L;
    public static final long CKM_ARIA_ECB = 0x00000561L;
    public static final long CKM_ARIA_CBC = 0x00000562L;
    public static final long CKM_ARIA_MAC = 0x00000563L;
    public static final long CKM_ARIA_MAC_GENERAL = 0x00000564L;
    public static final long CKM_ARIA_CBC_PAD = 0x00000565L;
    public static final long CKM_ARIA_ECB_ENCRYPT_DATA = 0x00000566L;
    public static final long CKM_ARIA_CBC_ENCRYPT_DATA = 0x00000567L;
    public static final long CKM_SEED_KEY_GEN = 0x00000650L;
    public static final long CKM_SEED_ECB = 0x00000651L;
    public static final long CKM_SEED_CBC = 0x00000652L;
    public static final long CKM_SEED_MAC = 0x00000653L;
    public static final long CKM_SEED_MAC_GENERAL = 0x00000654L;
    public static final long CKM_SEED_CBC_PAD = 0x00000655L;
    public static final long CKM_SEED_ECB_ENCRYPT_DATA = 0x00000656L;
    public static final long CKM_SEED_CBC_ENCRYPT_DATA = 0x00000657L;
    public static final long CKM_SKIPJACK_KEY_GEN = 0x00001000L;
    public static final long CKM_SKIPJACK_ECB64 = 0x00001001L;
    public static final long CKM_SKIPJACK_CBC64 = 0x00001002L;
    public static final long CKM_SKIPJACK_OFB64 = 0x00001003L;
    public static final long CKM_SKIPJACK_CFB64 = 0x00001004L;
    public static final long CKM_SKIPJACK_CFB32 = 0x00001005L;
    public static final long CKM_SKIPJACK_CFB16 = 0x00001006L;
    public static final long CKM_SKIPJACK_CFB8 = 0x00001007L;
    public static final long CKM_SKIPJACK_WRAP = 0x00001008L;
    public static final long CKM_SKIPJACK_PRIVATE_WRAP = 0x00001009L;
    public static final long CKM_SKIPJACK_RELAYX = 0x0000100AL;
    public static final long CKM_KEA_KEY_PAIR_GEN = 0x00001010L;
    public static final long CKM_KEA_KEY_DERIVE = 0x00001011L;
    public static final long CKM_KEA_DERIVE = 0x00001012L;
    public static final long CKM_FORTEZZA_TIMESTAMP = 0x00001020L;
    public static final long CKM_BATON_KEY_GEN = 0x00001030L;
    public static final long CKM_BATON_ECB128 = 0x00001031L;
    public static final long CKM_BATON_ECB96 = 0x00001032L;
    public static final long CKM_BATON_CBC128 = 0x00001033L;
    public static final long CKM_BATON_COUNTER = 0x00001034L;
    public static final long CKM_BATON_SHUFFLE = 0x00001035L;
    public static final long CKM_BATON_WRAP = 0x00001036L;
    public static final long CKM_EC_KEY_PAIR_GEN = 0x00001040L;
    /** Deprecated name of {@link #CKM_EC_KEY_PAIR_GEN}. */
    @Deprecated
    public static final long CKM_ECDSA_KEY_PAIR_GEN = 0x00001040L;
    public static final long CKM_ECDSA = 0x00001041L;
    public static final long CKM_ECDSA_SHA1 = 0x00001042L;
    public static final long CKM_ECDSA_SHA224 = 0x00001043L;
    public static final long CKM_ECDSA_SHA256 = 0x00001044L;
    public static final long CKM_ECDSA_SHA384 = 0x00001045L;
    public static final long CKM_ECDSA_SHA512 = 0x00001046L;
    public static final long CKM_ECDH1_DERIVE = 0x00001050L;
    public static final long CKM_ECDH1_COFACTOR_DERIVE = 0x00001051L;
    public static final long CKM_ECMQV_DERIVE = 0x00001052L;
    public static final long CKM_ECDH_AES_KEY_WRAP = 0x00001053L;
    public static final long CKM_RSA_AES_KEY_WRAP = 0x00001054L;
    public static final long CKM_JUNIPER_KEY_GEN = 0x00001060L;
    public static final long CKM_JUNIPER_ECB128 = 0x00001061L;
    public static final long CKM_JUNIPER_CBC128 = 0x00001062L;
    public static final long CKM_JUNIPER_COUNTER = 0x00001063L;
    public static final long CKM_JUNIPER_SHUFFLE = 0x00001064L;
    public static final long CKM_JUNIPER_WRAP = 0x00001065L;
    public static final long CKM_FASTHASH = 0x00001070L;
    public static final long CKM_AES_KEY_GEN = 0x00001080L;
    public static final long CKM_AES_ECB = 0x00001081L;
    public static final long CKM_AES_CBC = 0x00001082L;
    public static final long CKM_AES_MAC = 0x00001083L;
    public static final long CKM_AES_MAC_GENERAL = 0x00001084L;
    public static final long CKM_AES_CBC_PAD = 0x00001085L;
    public static final long CKM_AES_CTR = 0x00001086L;
    public static final long CKM_AES_GCM = 0x00001087L;
    public static final long CKM_AES_CCM = 0x00001088L;
    public static final long CKM_AES_CTS = 0x00001089L;
    public static final long CKM_AES_CMAC = 0x0000108AL;
    public static final long CKM_AES_CMAC_GENERAL = 0x0000108BL;
    public static final long CKM_AES_XCBC_MAC = 0x0000108CL;
    public static final long CKM_AES_XCBC_MAC_96 = 0x0000108DL;
    public static final long CKM_AES_GMAC = 0x0000108EL;
    public static final long CKM_BLOWFISH_KEY_GEN = 0x00001090L;
    public static final long CKM_BLOWFISH_CBC = 0x00001091L;
    public static final long CKM_TWOFISH_KEY_GEN = 0x00001092L;
    public static final long CKM_TWOFISH_CBC = 0x00001093L;
    public static final long CKM_BLOWFISH_CBC_PAD = 0x00001094L;
    public static final long CKM_TWOFISH_CBC_PAD = 0x00001095L;
    public static final long CKM_DES_ECB_ENCRYPT_DATA = 0x00001100L;
    public static final long CKM_DES_CBC_ENCRYPT_DATA = 0x00001101L;
    public static final long CKM_DES3_ECB_ENCRYPT_DATA = 0x00001102L;
    public static final long CKM_DES3_CBC_ENCRYPT_DATA = 0x00001103L;
    public static final long CKM_AES_ECB_ENCRYPT_DATA = 0x00001104L;
    public static final long CKM_AES_CBC_ENCRYPT_DATA = 0x00001105L;
    public static final long CKM_GOSTR3410_KEY_PAIR_GEN = 0x00001200L;
    public static final long CKM_GOSTR3410 = 0x00001201L;
    public static final long CKM_GOSTR3410_WITH_GOSTR3411 = 0x00001202L;
    public static final long CKM_GOSTR3410_KEY_WRAP = 0x00001203L;
    public static final long CKM_GOSTR3410_DERIVE = 0x00001204L;
    public static final long CKM_GOSTR3411 = 0x00001210L;
    public static final long CKM_GOSTR3411_HMAC = 0x00001211L;
    public static final long CKM_GOST28147_KEY_GEN = 0x00001220L;
    public static final long CKM_GOST28147_ECB = 0x00001221L;
    public static final long CKM_GOST28147 = 0x00001222L;
    public static final long CKM_GOST28147_MAC = 0x00001223L;
    public static final long CKM_GOST28147_KEY_WRAP = 0x00001224L;
    public static final long CKM_DSA_PARAMETER_GEN = 0x00002000L;
    public static final long CKM_DH_PKCS_PARAMETER_GEN = 0x00002001L;
    public static final long CKM_X9_42_DH_PARAMETER_GEN = 0x00002002L;
    public static final long CKM_DSA_PROBABLISTIC_PARAMETER_GEN = 0x00002003L;
    public static final long CKM_DSA_SHAWE_TAYLOR_PARAMETER_GEN = 0x00002004L;
    public static final long CKM_AES_OFB = 0x00002104L;
    public static final long CKM_AES_CFB64 = 0x00002105L;
    public static final long CKM_AES_CFB8 = 0x00002106L;
    public static final long CKM_AES_CFB128 = 0x00002107L;
    public static final long CKM_AES_CFB1 = 0x00002108L;
    public static final long CKM_AES_KEY_WRAP = 0x00002109L;
    public static final long CKM_AES_KEY_WRAP_PAD = 0x0000210AL;
    public static final long CKM_RSA_PKCS_TPM_1_1 = 0x00004001L;
    public static final long CKM_RSA_PKCS_OAEP_TPM_1_1 = 0x00004002L;
    // Version 3.0:
    public static final long CKM_DSA_SHA3_224 = 0x00000018L;
    public static final long CKM_DSA_SHA3_256 = 0x00000019L;
    public static final long CKM_DSA_SHA3_384 = 0x0000001AL;
    public static final long CKM_DSA_SHA3_512 = 0x0000001BL;
    public static final long CKM_SHA3_256_RSA_PKCS = 0x00000060L;
    public static final long CKM_SHA3_384_RSA_PKCS = 0x00000061L;
    public static final long CKM_SHA3_512_RSA_PKCS = 0x00000062L;
    public static final long CKM_SHA3_256_RSA_PKCS_PSS = 0x00000063L;
    public static final long CKM_SHA3_384_RSA_PKCS_PSS = 0x00000064L;
    public static final long CKM_SHA3_512_RSA_PKCS_PSS = 0x00000065L;
    public static final long CKM_SHA3_224_RSA_PKCS = 0x00000066L;
    public static final long CKM_SHA3_224_RSA_PKCS_PSS = 0x00000067L;
    public static final long CKM_SHA3_256 = 0x000002B0L;
    public static final long CKM_SHA3_256_HMAC = 0x000002B1L;
    public static final long CKM_SHA3_256_HMAC_GENERAL = 0x000002B2L;
    public static final long CKM_SHA3_256_KEY_GEN = 0x000002B3L;
    public static final long CKM_SHA3_224 = 0x000002B5L;
    public static final long CKM_SHA3_224_HMAC = 0x000002B6L;
    public static final long CKM_SHA3_224_HMAC_GENERAL = 0x000002B7L;
    public static final long CKM_SHA3_224_KEY_GEN = 0x000002B8L;
    public static final long CKM_SHA3_384 = 0x000002C0L;
    public static final long CKM_SHA3_384_HMAC = 0x000002C1L;
    public static final long CKM_SHA3_384_HMAC_GENERAL = 0x000002C2L;
    public static final long CKM_SHA3_384_KEY_GEN = 0x000002C3L;
    public static final long CKM_SHA3_512 = 0x000002D0L;
    public static final long CKM_SHA3_512_HMAC = 0x000002D1L;
    public static final long CKM_SHA3_512_HMAC_GENERAL = 0x000002D2L;
    public static final long CKM_SHA3_512_KEY_GEN = 0x000002D3L;
    public static final long CKM_SHA3_256_KEY_DERIVATION = 0x00000397L;
    public static final long CKM_SHA3_224_KEY_DERIVATION = 0x00000398L;
    public static final long CKM_SHA3_384_KEY_DERIVATION = 0x00000399L;
    public static final long CKM_SHA3_512_KEY_DERIVATION = 0x0000039AL;
    public static final long CKM_SHAKE_128_KEY_DERIVATION = 0x0000039BL;
    public static final long CKM_SHAKE_256_KEY_DERIVATION = 0x0000039CL;
    public static final long CKM_SP800_108_COUNTER_KDF = 0x000003ACL;
    public static final long CKM_SP800_108_FEEDBACK_KDF = 0x000003ADL;
    public static final long CKM_SP800_108_DOUBLE_PIPELINE_KDF = 0x000003AEL;
    public static final long CKM_ECDSA_SHA3_224 = 0x00001047L;
    public static final long CKM_ECDSA_SHA3_256 = 0x00001048L;
    public static final long CKM_ECDSA_SHA3_384 = 0x00001049L;
    public static final long CKM_ECDSA_SHA3_512 = 0x0000104AL;
    public static final long CKM_EC_EDWARDS_KEY_PAIR_GEN = 0x00001055L;
    public static final long CKM_EC_MONTGOMERY_KEY_PAIR_GEN = 0x00001056L;
    public static final long CKM_EDDSA = 0x00001057L;
    public static final long CKM_EC_KEY_PAIR_GEN_W_EXTRA_BITS = 0x0000140BL;
    public static final long CKM_CHACHA20_KEY_GEN = 0x00001225L;
    public static final long CKM_CHACHA20 = 0x00001226L;
    public static final long CKM_POLY1305_KEY_GEN = 0x00001227L;
    public static final long CKM_POLY1305 = 0x00001228L;
    /** The name version 3.0 gives {@link #CKM_DSA_PROBABLISTIC_PARAMETER_GEN}, spelt right. */
    public static final long CKM_DSA_PROBABILISTIC_PARAMETER_GEN = 0x00002003L;
    public static final long CKM_DSA_FIPS_G_GEN = 0x00002005L;
    public static final long CKM_AES_KEY_WRAP_KWP = 0x0000210BL;
    public static final long CKM_SHA_1_KEY_GEN = 0x00004003L;
    public static final long CKM_SHA224_KEY_GEN = 0x00004004L;
    public static final long CKM_SHA256_KEY_GEN = 0x00004005L;
    public static final long CKM_SHA384_KEY_GEN = 0x00004006L;
    public static final long CKM_SHA512_KEY_GEN = 0x00004007L;
    public static final long CKM_SHA512_224_KEY_GEN = 0x00004008L;
    public static final long CKM_SHA512_256_KEY_GEN = 0x00004009L;
    public static final long CKM_SHA512_T_KEY_GEN = 0x0000400AL;
    public static final long CKM_NULL = 0x0000400BL;
    public static final long CKM_BLAKE2B_160 = 0x0000400CL;
    public static final long CKM_BLAKE2B_160_HMAC = 0x0000400DL;
    public static final long CKM_BLAKE2B_160_HMAC_GENERAL = 0x0000400EL;
    public static final long CKM_BLAKE2B_160_KEY_DERIVE = 0x0000400FL;
    public static final long CKM_BLAKE2B_160_KEY_GEN = 0x00004010L;
    public static final long CKM_BLAKE2B_256 = 0x00004011L;
    public static final long CKM_BLAKE2B_256_HMAC = 0x00004012L;
    public static final long CKM_BLAKE2B_256_HMAC_GENERAL = 0x00004013L;
    public static final long CKM_BLAKE2B_256_KEY_DERIVE = 0x00004014L;
    public static final long CKM_BLAKE2B_256_KEY_GEN = 0x00004015L;
    public static final long CKM_BLAKE2B_384 = 0x00004016L;
    public static final long CKM_BLAKE2B_384_HMAC = 0x00004017L;
    public static final long CKM_BLAKE2B_384_HMAC_GENERAL = 0x00004018L;
    public static final long CKM_BLAKE2B_384_KEY_DERIVE = 0x00004019L;
    public static final long CKM_BLAKE2B_384_KEY_GEN = 0x0000401AL;
    public static final long CKM_BLAKE2B_512 = 0x0000401BL;
    public static final long CKM_BLAKE2B_512_HMAC = 0x0000401CL;
    public static final long CKM_BLAKE2B_512_HMAC_GENERAL = 0x0000401DL;
    public static final long CKM_BLAKE2B_512_KEY_DERIVE = 0x0000401EL;
    public static final long CKM_BLAKE2B_512_KEY_GEN = 0x0000401FL;
    public static final long CKM_SALSA20 = 0x00004020L;
    public static final long CKM_CHACHA20_POLY1305 = 0x00004021L;
    public static final long CKM_SALSA20_POLY1305 = 0x00004022L;
    public static final long CKM_X3DH_INITIALIZE = 0x00004023L;
    public static final long CKM_X3DH_RESPOND = 0x00004024L;
    public static final long CKM_X2RATCHET_INITIALIZE = 0x00004025L;
    public static final long CKM_X2RATCHET_RESPOND = 0x00004026L;
    public static final long CKM_X2RATCHET_ENCRYPT = 0x00004027L;
    public static final long CKM_X2RATCHET_DECRYPT = 0x00004028L;
    public static final long CKM_XEDDSA = 0x00004029L;
    public static final long CKM_HKDF_DERIVE = 0x0000402AL;
    public static final long CKM_HKDF_DATA = 0x0000402BL;
    public static final long CKM_HKDF_KEY_GEN = 0x0000402CL;
    public static final long CKM_SALSA20_KEY_GEN = 0x0000402DL;
    /** The first vendor-defined mechanism type. */
    public static final long CKM_VENDOR_DEFINED = 0x80000000L;

    // ---- Return values (CK_RV).

    public static final long CKR_OK = 0x00000000L;
    public static final long CKR_CANCEL = 0x00000001L;
    public static final long CKR_HOST_MEMORY = 0x00000002L;
    public static final long CKR_SLOT_ID_INVALID = 0x00000003L;
    public static final long CKR_GENERAL_ERROR = 0x00000005L;
    public static final long CKR_FUNCTION_FAILED = 0x00000006L;
    public static final long CKR_ARGUMENTS_BAD = 0x00000007L;
    public static final long CKR_NO_EVENT = 0x00000008L;
    public static final long CKR_NEED_TO_CREATE_THREADS = 0x00000009L;
    public static final long CKR_CANT_LOCK = 0x0000000AL;
    public static final long CKR_ATTRIBUTE_READ_ONLY = 0x00000010L;
    public static final long CKR_ATTRIBUTE_SENSITIVE = 0x00000011L;
    public static final long CKR_ATTRIBUTE_TYPE_INVALID = 0x00000012L;
    public static final long CKR_ATTRIBUTE_VALUE_INVALID = 0x00000013L;
    public static final long CKR_ACTION_PROHIBITED = 0x0000001BL;
    public static final long CKR_DATA_INVALID = 0x00000020L;
    public static final long CKR_DATA_LEN_RANGE = 0x00000021L;
    public static final long CKR_DEVICE_ERROR = 0x00000030L;
    public static final long CKR_DEVICE_MEMORY = 0x00000031L;
    public static final long CKR_DEVICE_REMOVED = 0x00000032L;
    public static final long CKR_ENCRYPTED_DATA_INVALID = 0x00000040L;
    public static final long CKR_ENCRYPTED_DATA_LEN_RANGE = 0x00000041L;
    public static final long CKR_FUNCTION_CANCELED = 0x00000050L;
    public static final long CKR_FUNCTION_NOT_PARALLEL = 0x00000051L;
    public static final long CKR_FUNCTION_NOT_SUPPORTED = 0x00000054L;
    public static final long CKR_KEY_HANDLE_INVALID = 0x00000060L;
    public static final long CKR_KEY_SIZE_RANGE = 0x00000062L;
    public static final long CKR_KEY_TYPE_INCONSISTENT = 0x00000063L;
    public static final long CKR_KEY_NOT_NEEDED = 0x00000064L;
    public static final long CKR_KEY_CHANGED = 0x00000065L;
    public static final long CKR_KEY_NEEDED = 0x00000066L;
    public static final long CKR_KEY_INDIGESTIBLE = 0x00000067L;
    public static final long CKR_KEY_FUNCTION_NOT_PERMITTED = 0x00000068L;
    public static final long CKR_KEY_NOT_WRAPPABLE = 0x00000069L;
    public static final long CKR_KEY_UNEXTRACTABLE = 0x0000006AL;
    public static final long CKR_MECHANISM_INVALID = 0x00000070L;
    public static final long CKR_MECHANISM_PARAM_INVALID = 0x00000071L;
    public static final long CKR_OBJECT_HANDLE_INVALID = 0x00000082L;
    public static final long CKR_OPERATION_ACTIVE = 0x00000090L;
    public static final long CKR_OPERATION_NOT_INITIALIZED = 0x00000091L;
    public static final long CKR_PIN_INCORRECT = 0x000000A0L;
    public static final long CKR_PIN_INVALID = 0x000000A1L;
    public static final long CKR_PIN_LEN_RANGE = 0x000000A2L;
    public static final long CKR_PIN_EXPIRED = 0x000000A3L;
    public static final long CKR_PIN_LOCKED = 0x000000A4L;
    public static final long CKR_SESSION_CLOSED = 0x000000B0L;
    public static final long CKR_SESSION_COUNT = 0x000000B1L;
    public static final long CKR_SESSION_HANDLE_INVALID = 0x000000B3L;
    public static final long CKR_SESSION_PARALLEL_NOT_SUPPORTED = 0x000000B4L;
    public static final long CKR_SESSION_READ_ONLY = 0x000000B5L;
    public static final long CKR_SESSION_EXISTS = 0x000000B6L;
    public static final long CKR_SESSION_READ_ONLY_EXISTS = 0x000000B7L;
    public static final long CKR_SESSION_READ_WRITE_SO_EXISTS = 0x000000B8L;
    public static final long CKR_SIGNATURE_INVALID = 0x000000C0L;
    public static final long CKR_SIGNATURE_LEN_RANGE = 0x000000C1L;
    public static final long CKR_TEMPLATE_INCOMPLETE = 0x000000D0L;
    public static final long CKR_TEMPLATE_INCONSISTENT = 0x000000D1L;
    public static final long CKR_TOKEN_NOT_PRESENT = 0x000000E0L;
    public static final long CKR_TOKEN_NOT_RECOGNIZED = 0x000000E1L;
    public static final long CKR_TOKEN_WRITE_PROTECTED = 0x000000E2L;
    public static final long CKR_UNWRAPPING_KEY_HANDLE_INVALID = 0x000000F0L;
    public static final long CKR_UNWRAPPING_KEY_SIZE_RANGE = 0x000000F1L;
    public static final long CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT = 0x000000F2L;
    public static final long CKR_USER_ALREADY_LOGGED_IN = 0x00000100L;
    public static final long CKR_USER_NOT_LOGGED_IN = 0x00000101L;
    public static final long CKR_USER_PIN_NOT_INITIALIZED = 0x00000102L;
    public static final long CKR_USER_TYPE_INVALID = 0x00000103L;
    public static final long CKR_USER_ANOTHER_ALREADY_LOGGED_IN = 0x00000104L;
    public static final long CKR_USER_TOO_MANY_TYPES = 0x00000105L;
    public static final long CKR_WRAPPED_KEY_INVALID = 0x00000110L;
    public static final long CKR_WRAPPED_KEY_LEN_RANGE = 0x00000112L;
    public static final long CKR_WRAPPING_KEY_HANDLE_INVALID = 0x00000113L;
    public static final long CKR_WRAPPING_KEY_SIZE_RANGE = 0x00000114L;
    public static final long CKR_WRAPPING_KEY_TYPE_INCONSISTENT = 0x00000115L;
    public static final long CKR_RANDOM_SEED_NOT_SUPPORTED = 0x00000120L;
    public static final long CKR_RANDOM_NO_RNG = 0x00000121L;
    public static final long CKR_DOMAIN_PARAMS_INVALID = 0x00000130L;
    public static final long CKR_CURVE_NOT_SUPPORTED = 0x00000140L;
    public static final long CKR_BUFFER_TOO_SMALL = 0x00000150L;
    public static final long CKR_SAVED_STATE_INVALID = 0x00000160L;
    public static final long CKR_INFORMATION_SENSITIVE = 0x00000170L;
    public static final long CKR_STATE_UNSAVEABLE = 0x00000180L;
    public static final long CKR_CRYPTOKI_NOT_INITIALIZED = 0x00000190L;
    public static final long CKR_CRYPTOKI_ALREADY_INITIALIZED = 0x00000191L;
    public static final long CKR_MUTEX_BAD = 0x000001A0L;
    public static final long CKR_MUTEX_NOT_LOCKED = 0x000001A1L;
    public static final long CKR_NEW_PIN_MODE = 0x000001B0L;
    public static final long CKR_NEXT_OTP = 0x000001B1L;
    public static final long CKR_EXCEEDED_MAX_ITERATIONS = 0x000001B5L;
    public static final long CKR_FIPS_SELF_TEST_FAILED = 0x000001B6L;
    public static final long CKR_LIBRARY_LOAD_FAILED = 0x000001B7L;
    public static final long CKR_PIN_TOO_WEAK = 0x000001B8L;
    public static final long CKR_PUBLIC_KEY_INVALID = 0x000001B9L;
    public static final long CKR_FUNCTION_REJECTED = 0x00000200L;
    // Version 3.0:
    public static final long CKR_TOKEN_RESOURCE_EXCEEDED = 0x00000201L;
    public static final long CKR_OPERATION_CANCEL_FAILED = 0x00000202L;
    /** The first vendor-defined return value. */
    public static final long CKR_VENDOR_DEFINED = 0x80000000L;

    // ---- Mask generation functions (CK_RSA_PKCS_MGF_TYPE).

    /** MGF1 with SHA-1. */
    public static final long CKG_MGF1_SHA1 = 0x00000001L;
    /** MGF1 with SHA-256. */
    public static final long CKG_MGF1_SHA256 = 0x00000002L;
    /** MGF1 with SHA-384. */
    public static final long CKG_MGF1_SHA384 = 0x00000003L;
    /** MGF1 with SHA-512. */
    public static final long CKG_MGF1_SHA512 = 0x00000004L;
    /** MGF1 with SHA-224. */
    public static final long CKG_MGF1_SHA224 = 0x00000005L;
    /** MGF1 with SHA3-224. */
    public static final long CKG_MGF1_SHA3_224 = 0x00000006L;
    /** MGF1 with SHA3-256. */
    public static final long CKG_MGF1_SHA3_256 = 0x00000007L;
    /** MGF1 with SHA3-384. */
    public static final long CKG_MGF1_SHA3_384 = 0x00000008L;
    /** MGF1 with SHA3-512. */
    public static final long CKG_MGF1_SHA3_512 = 0x00000009L;

    // ---- Sources of the OAEP encoding parameter and of the PBKDF2 salt.

    /** The OAEP encoding parameter is given in the parameter record. */
    public static final long CKZ_DATA_SPECIFIED = 0x00000001L;
    /** The PBKDF2 salt is given in the parameter record. */
    public static final long CKZ_SALT_SPECIFIED = 0x00000001L;

    // ---- Key derivation functions (CK_EC_KDF_TYPE, CK_X9_42_DH_KDF_TYPE).

    /** No key derivation function: the shared secret is used as it is. */
    public static final long CKD_NULL = 0x00000001L;
    /** The ANSI X9.63 key derivation function with SHA-1. */
    public static final long CKD_SHA1_KDF = 0x00000002L;
    /** The ANSI X9.42 key derivation function with SHA-1, other information in DER. */
    public static final long CKD_SHA1_KDF_ASN1 = 0x00000003L;
    /** The ANSI X9.42 concatenation key derivation function with SHA-1. */
    public static final long CKD_SHA1_KDF_CONCATENATE = 0x00000004L;
    /** The ANSI X9.63 key derivation function with SHA-224. */
    public static final long CKD_SHA224_KDF = 0x00000005L;
    /** The ANSI X9.63 key derivation function with SHA-256. */
    public static final long CKD_SHA256_KDF = 0x00000006L;
    /** The ANSI X9.63 key derivation function with SHA-384. */
    public static final long CKD_SHA384_KDF = 0x00000007L;
    /** The ANSI X9.63 key derivation function with SHA-512. */
    public static final long CKD_SHA512_KDF = 0x00000008L;
    /** The CryptoPro key diversification function. */
    public static final long CKD_CPDIVERSIFY_KDF = 0x00000009L;
    /** The ANSI X9.63 key derivation function with SHA3-224. */
    public static final long CKD_SHA3_224_KDF = 0x0000000AL;
    /** The ANSI X9.63 key derivation function with SHA3-256. */
    public static final long CKD_SHA3_256_KDF = 0x0000000BL;
    /** The ANSI X9.63 key derivation function with SHA3-384. */
    public static final long CKD_SHA3_384_KDF = 0x0000000CL;
    /** The ANSI X9.63 key derivation function with SHA3-512. */
    public static final long CKD_SHA3_512_KDF = 0x0000000DL;
    /** The NIST SP 800-56A single-step key derivation function with SHA-1. */
    public static final long CKD_SHA1_KDF_SP800 = 0x0000000EL;
    /** The NIST SP 800-56A single-step key derivation function with SHA-224. */
    public static final long CKD_SHA224_KDF_SP800 = 0x0000000FL;
    /** The NIST SP 800-56A single-step key derivation function with SHA-256. */
    public static final long CKD_SHA256_KDF_SP800 = 0x00000010L;
    /** The NIST SP 800-56A single-step key derivation function with SHA-384. */
    public static final long CKD_SHA384_KDF_SP800 = 0x00000011L;
    /** The NIST SP 800-56A single-step key derivation function with SHA-512. */
    public static final long CKD_SHA512_KDF_SP800 = 0x00000012L;
    /** The NIST SP 800-56A single-step key derivation function with SHA3-224. */
    public static final long CKD_SHA3_224_KDF_SP800 = 0x00000013L;
    /** The NIST SP 800-56A single-step key derivation function with SHA3-256. */
    public static final long CKD_SHA3_256_KDF_SP800 = 0x00000014L;
    /** The NIST SP 800-56A single-step key derivation function with SHA3-384. */
    public static final long CKD_SHA3_384_KDF_SP800 = 0x00000015L;
    /** The NIST SP 800-56A single-step key derivation function with SHA3-512. */
    public static final long CKD_SHA3_512_KDF_SP800 = 0x00000016L;
    /** The ANSI X9.63 key derivation function with BLAKE2b-160. */
    public static final long CKD_BLAKE2B_160_KDF = 0x00000017L;
    /** The ANSI X9.63 key derivation function with BLAKE2b-256. */
    public static final long CKD_BLAKE2B_256_KDF = 0x00000018L;
    /** The ANSI X9.63 key derivation function with BLAKE2b-384. */
    public static final long CKD_BLAKE2B_384_KDF = 0x00000019L;
    /** The ANSI X9.63 key derivation function with BLAKE2b-512. */
    public static final long CKD_BLAKE2B_512_KDF = 0x0000001AL;

    // ---- Pseudo-random functions of PBKDF2 (CK_PKCS5_PBKDF2_PSEUDO_RANDOM_FUNCTION_TYPE).

    /** PBKDF2 with HMAC-SHA-1. */
    public static final long CKP_PKCS5_PBKD2_HMAC_SHA1 = 0x00000001L;
    /** PBKDF2 with HMAC-GOST R 34.11-94. */
    public static final long CKP_PKCS5_PBKD2_HMAC_GOSTR3411 = 0x00000002L;
    /** PBKDF2 with HMAC-SHA-224. */
    public static final long CKP_PKCS5_PBKD2_HMAC_SHA224 = 0x00000003L;
    /** PBKDF2 with HMAC-SHA-256. */
    public static final long CKP_PKCS5_PBKD2_HMAC_SHA256 = 0x00000004L;
    /** PBKDF2 with HMAC-SHA-384. */
    public static final long CKP_PKCS5_PBKD2_HMAC_SHA384 = 0x00000005L;
    /** PBKDF2 with HMAC-SHA-512. */
    public static final long CKP_PKCS5_PBKD2_HMAC_SHA512 = 0x00000006L;
    /** PBKDF2 with HMAC-SHA-512/224. */
    public static final long CKP_PKCS5_PBKD2_HMAC_SHA512_224 = 0x00000007L;
    /** PBKDF2 with HMAC-SHA-512/256. */
    public static final long CKP_PKCS5_PBKD2_HMAC_SHA512_256 = 0x00000008L;

    // ---- Flag of C_EncryptMessageNext, C_DecryptMessageNext, C_SignMessageNext and
    //      C_VerifyMessageNext.

    /** Message flag: this part is the last of its message. */
    public static final long CKF_END_OF_MESSAGE = 0x00000001L;

    // ---- Flag of CK_INTERFACE.

    /** Interface flag: the function list stays usable in a child process after fork. */
    public static final long CKF_INTERFACE_FORK_SAFE = 0x00000001L;

    // ---- How a message IV or nonce is generated (CK_GENERATOR_FUNCTION).

    /** IV generator: none; the caller supplies the whole IV. */
    public static final long CKG_NO_GENERATE = 0x00000000L;
    /** IV generator: the module generates the IV as it sees fit. */
    public static final long CKG_GENERATE = 0x00000001L;
    /** IV generator: a counter after the fixed bits. */
    public static final long CKG_GENERATE_COUNTER = 0x00000002L;
    /** IV generator: random bits after the fixed bits. */
    public static final long CKG_GENERATE_RANDOM = 0x00000003L;
    /** IV generator: a counter combined with the fixed bits by exclusive or. */
    public static final long CKG_GENERATE_COUNTER_XOR = 0x00000004L;

    // ---- Salt of an HKDF derivation (ulSaltType of CK_HKDF_PARAMS).

    /** HKDF salt: none, that is a string of zero bytes. */
    public static final long CKF_HKDF_SALT_NULL = 0x00000001L;
    /** HKDF salt: the bytes of pSalt. */
    public static final long CKF_HKDF_SALT_DATA = 0x00000002L;
    /** HKDF salt: the value of the key hSaltKey. */
    public static final long CKF_HKDF_SALT_KEY = 0x00000004L;

    // ---- Types of the inputs of an SP 800-108 key derivation (CK_PRF_DATA_TYPE).

    /**
     * SP 800-108 input: the iteration variable; in counter mode its value is a
     * {@link CK_SP800_108_COUNTER_FORMAT}.
     */
    public static final long CK_SP800_108_ITERATION_VARIABLE = 0x00000001L;
    /**
     * SP 800-108 input: the counter of feedback and double-pipeline mode; its value is a
     * {@link CK_SP800_108_COUNTER_FORMAT}.
     */
    public static final long CK_SP800_108_OPTIONAL_COUNTER = 0x00000002L;
    /** The name the mechanisms text of version 3.0 gives {@link #CK_SP800_108_OPTIONAL_COUNTER}. */
    public static final long CK_SP800_108_COUNTER = 0x00000002L;
    /**
     * SP 800-108 input: the length of the derived key material; its value is a
     * {@link CK_SP800_108_DKM_LENGTH_FORMAT}.
     */
    public static final long CK_SP800_108_DKM_LENGTH = 0x00000003L;
    /** SP 800-108 input: a byte array, such as a label or a context. */
    public static final long CK_SP800_108_BYTE_ARRAY = 0x00000004L;

    // ---- How an SP 800-108 derivation counts the length of the derived key material
    //      (CK_SP800_108_DKM_LENGTH_METHOD).

    /** SP 800-108 length: the sum of the lengths of the derived keys. */
    public static final long CK_SP800_108_DKM_LENGTH_SUM_OF_KEYS = 0x00000001L;
    /** SP 800-108 length: the sum of the lengths of the output segments of the PRF. */
    public static final long CK_SP800_108_DKM_LENGTH_SUM_OF_SEGMENTS = 0x00000002L;

    // ---- Name look-ups.

    /**
     * Returns the name of a return value.
     *
     * @param value a {@code CK_RV}
     * @return the name, such as {@code "CKR_OK"}, or {@code null} for a value without a name;
     *     vendor-defined values other than {@link #CKR_VENDOR_DEFINED} itself have none
     */
    public static String returnValueName(long value) {
        return NameTables.RETURN_VALUES.get(value);
    }

    /**
     * Returns the name of an attribute type.
     *
     * @param type a {@code CK_ATTRIBUTE_TYPE}
     * @return the name, such as {@code "CKA_LABEL"}, or {@code null} for a type without a name
     */
    public static String attributeName(long type) {
        return NameTables.ATTRIBUTES.get(type);
    }

    /**
     * Returns the name of a mechanism type.
     *
     * @param type a {@code CK_MECHANISM_TYPE}
     * @return the name, such as {@code "CKM_AES_CBC"}, or {@code null} for a type without a name
     */
    public static String mechanismName(long type) {
        return NameTables.MECHANISMS.get(type);
    }

    /**
     * Returns the name of an object class.
     *
     * @param objectClass a {@code CK_OBJECT_CLASS}
     * @return the name, such as {@code "CKO_SECRET_KEY"}, or {@code null} for a class without
     *     a name
     */
    public static String objectClassName(long objectClass) {
        return NameTables.OBJECT_CLASSES.get(objectClass);
    }

    /**
     * Returns the name of a key type.
     *
     * @param keyType a {@code CK_KEY_TYPE}
     * @return the name, such as {@code "CKK_EC_EDWARDS"}, or {@code null} for a type without
     *     a name
     */
    public static String keyTypeName(long keyType) {
        return NameTables.KEY_TYPES.get(keyType);
    }

    /**
     * Returns the name of a certificate type.
     *
     * @param certificateType a {@code CK_CERTIFICATE_TYPE}
     * @return the name, such as {@code "CKC_X_509"}, or {@code null} for a type without a name
     */
    public static String certificateTypeName(long certificateType) {
        return NameTables.CERTIFICATE_TYPES.get(certificateType);
    }

    /**
     * Returns the names of the flags of a {@code CK_SLOT_INFO}.
     *
     * @param flags the flags
     * @return the names of the bits that are set, lowest bit first, such as
     *     {@code [CKF_TOKEN_PRESENT, CKF_HW_SLOT]}; bits without a name, if any, as one last
     *     entry in hexadecimal, such as {@code 0x00000100}
     */
    public static List<String> slotFlagNames(long flags) {
        return NameTables.flagNames(NameTables.SLOT_FLAGS, flags);
    }

    /**
     * Returns the names of the flags of a {@code CK_TOKEN_INFO}.
     *
     * @param flags the flags
     * @return the names of the bits that are set, lowest bit first, such as
     *     {@code [CKF_RNG, CKF_LOGIN_REQUIRED]}; bits without a name, if any, as one last entry
     *     in hexadecimal
     */
    public static List<String> tokenFlagNames(long flags) {
        return NameTables.flagNames(NameTables.TOKEN_FLAGS, flags);
    }

    /**
     * Returns the names of the flags of a {@code CK_MECHANISM_INFO}, with the names of version
     * 3.0 where it renamed a flag ({@code CKF_EC_OID}).
     *
     * @param flags the flags
     * @return the names of the bits that are set, lowest bit first, such as
     *     {@code [CKF_SIGN, CKF_VERIFY]}; bits without a name, if any, as one last entry in
     *     hexadecimal
     */
    public static List<String> mechanismFlagNames(long flags) {
        return NameTables.flagNames(NameTables.MECHANISM_FLAGS, flags);
    }

    /**
     * Returns the names of the flags of a {@code CK_SESSION_INFO} (and of
     * {@code C_OpenSession}).
     *
     * @param flags the flags
     * @return the names of the bits that are set, lowest bit first, such as
     *     {@code [CKF_RW_SESSION, CKF_SERIAL_SESSION]}; bits without a name, if any, as one last
     *     entry in hexadecimal
     */
    public static List<String> sessionFlagNames(long flags) {
        return NameTables.flagNames(NameTables.SESSION_FLAGS, flags);
    }

    /**
     * The tables of the name look-ups, built from this class's own fields when the first
     * look-up initialises this class, and never changed afterwards; the JVM's class
     * initialisation makes that thread-safe. Each table maps a value to its current name only,
     * never to an alias: a {@link Deprecated} field or one of {@link #ALIASES} names a value
     * whose current name is another field.
     */
    private static final class NameTables {

        /** The names that share their value with a current name and are not reported. */
        private static final Set<String> ALIASES = Set.of(
                "CKA_SUBPRIME_BITS", "CKM_CAST5_KEY_GEN", "CKM_CAST5_ECB", "CKM_CAST5_CBC",
                "CKM_CAST5_MAC", "CKM_CAST5_MAC_GENERAL", "CKM_CAST5_CBC_PAD",
                "CKM_PBE_MD5_CAST5_CBC", "CKM_PBE_SHA1_CAST5_CBC", "CKM_DSA_PROBABLISTIC_PARAMETER_GEN");

        static final Map<Long, String> RETURN_VALUES = family("CKR_");
        static final Map<Long, String> ATTRIBUTES = family("CKA_");
        static final Map<Long, String> MECHANISMS = family("CKM_");
        static final Map<Long, String> OBJECT_CLASSES = family("CKO_");
        static final Map<Long, String> KEY_TYPES = family("CKK_");
        static final Map<Long, String> CERTIFICATE_TYPES = family("CKC_");
        static final Map<Long, String> SLOT_FLAGS = flagTable(
                "CKF_TOKEN_PRESENT", "CKF_REMOVABLE_DEVICE", "CKF_HW_SLOT");
        static final Map<Long, String> TOKEN_FLAGS = flagTable(
                "CKF_RNG", "CKF_WRITE_PROTECTED", "CKF_LOGIN_REQUIRED", "CKF_USER_PIN_INITIALIZED",
                "CKF_RESTORE_KEY_NOT_NEEDED", "CKF_CLOCK_ON_TOKEN", "CKF_PROTECTED_AUTHENTICATION_PATH",
                "CKF_DUAL_CRYPTO_OPERATIONS", "CKF_TOKEN_INITIALIZED", "CKF_SECONDARY_AUTHENTICATION",
                "CKF_USER_PIN_COUNT_LOW", "CKF_USER_PIN_FINAL_TRY", "CKF_USER_PIN_LOCKED",
                "CKF_USER_PIN_TO_BE_CHANGED", "CKF_SO_PIN_COUNT_LOW", "CKF_SO_PIN_FINAL_TRY",
                "CKF_SO_PIN_LOCKED", "CKF_SO_PIN_TO_BE_CHANGED", "CKF_ERROR_STATE");
        static final Map<Long, String> MECHANISM_FLAGS = flagTable(
                "CKF_HW", "CKF_MESSAGE_ENCRYPT", "CKF_MESSAGE_DECRYPT", "CKF_MESSAGE_SIGN",
                "CKF_MESSAGE_VERIFY", "CKF_MULTI_MESSAGE", "CKF_FIND_OBJECTS", "CKF_ENCRYPT",
                "CKF_DECRYPT", "CKF_DIGEST", "CKF_SIGN", "CKF_SIGN_RECOVER", "CKF_VERIFY",
                "CKF_VERIFY_RECOVER", "CKF_GENERATE", "CKF_GENERATE_KEY_PAIR", "CKF_WRAP", "CKF_UNWRAP",
                "CKF_DERIVE", "CKF_EC_F_P", "CKF_EC_F_2M", "CKF_EC_ECPARAMETERS", "CKF_EC_OID",
                "CKF_EC_UNCOMPRESS", "CKF_EC_COMPRESS", "CKF_EXTENSION");
        static final Map<Long, String> SESSION_FLAGS = flagTable("CKF_RW_SESSION", "CKF_SERIAL_SESSION");

        /**
         * The table of the public constants whose names begin with the prefix.
         *
         * @throws IllegalStateException if two current names share a value
         */
        private static Map<Long, String> family(String prefix) {
            Map<Long, String> names = new HashMap<>();
            for (Field field : PKCS11Constants.class.getFields()) {
                String name = field.getName();
                if (name.startsWith(prefix) && field.getType() == long.class && !ALIASES.contains(name)
                        && !field.isAnnotationPresent(Deprecated.class)) {
                    String earlier = names.put(value(name), name);
                    if (earlier != null) {
                        throw new IllegalStateException(earlier + " and " + name + " share a value");
                    }
                }
            }
            return Collections.unmodifiableMap(names);
        }

        /** A table of flags by their names, in ascending order of their bits. */
        private static Map<Long, String> flagTable(String... names) {
            Map<Long, String> table = new TreeMap<>();
            for (String name : names) {
                table.put(value(name), name);
            }
            return Collections.unmodifiableMap(table);
        }

        private static long value(String name) {
            try {
                return PKCS11Constants.class.getField(name).getLong(null);
            } catch (ReflectiveOperationException e) {
                throw new IllegalStateException("no constant " + name, e);
            }
        }

        static List<String> flagNames(Map<Long, String> table, long flags) {
            List<String> names = new ArrayList<>();
            long rest = flags;
            for (Map.Entry<Long, String> flag : table.entrySet()) {
                if ((flags & flag.getKey()) != 0) {
                    names.add(flag.getValue());
                    rest &= ~flag.getKey();
                }
            }
            if (rest != 0) {
                names.add(String.format("0x%08X", rest));
            }
            return Collections.unmodifiableList(names);
        }

        private NameTables() {
        }
    }
}
