package zandrop.tesk.pkcs11.vorlen.bench;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

/**
 * One implementation of the benchmark's workloads on one module: this library, a peer binding
 * (JNA, FFM) or the module's own loop. Each workload yields the same Java results in every
 * binding (the same objects and arrays the library returns); the module loop yields none.
 */
interface Workloads {
    // Overhead workloads, on the benchmark module: session 1, object 2.
    String SESSION_INFO = "C_GetSessionInfo";
    String RANDOM_32 = "C_GenerateRandom32";
    String SIGN_32 = "C_Sign32";
    String ATTRIBUTES_5 = "C_GetAttributeValue5";
    String FIND_OBJECTS_100 = "C_FindObjects100";
    String[] OVERHEAD = {SESSION_INFO, RANDOM_32, SIGN_32, ATTRIBUTES_5, FIND_OBJECTS_100};

    // Real work, on SoftHSM2: each signature or operation initialised and done in full.
    String SIGN_RSA = "C_Sign.RSA-2048";
    String SIGN_EC = "C_Sign.ECDSA-P256";
    String DIGEST_SHA256 = "C_Digest.SHA-256.1MiB";
    String ENCRYPT_AES = "C_Encrypt.AES-CBC.1MiB";
    String[] REAL = {SIGN_RSA, SIGN_EC, DIGEST_SHA256, ENCRYPT_AES};

    /** The attribute types of the attribute workload: class, key type, label, token, id. */
    long[] ATTRIBUTE_TYPES = {CKA_CLASS, CKA_KEY_TYPE, CKA_LABEL, CKA_TOKEN, CKA_ID};

    /**
     * The session and keys of the real work, made by the library; every implementation works on
     * them, on the same module instance.
     */
    record RealWork(long session, long rsaKey, long ecKey, long aesKey, byte[] hash, byte[] mebibyte, byte[] iv) {
    }

    /** The overhead workload of this name. */
    Harness.Loop overhead(String workload) throws Exception;

    /** The real-work workload of this name. */
    Harness.Loop real(String workload, RealWork work) throws Exception;
}
