package zandrop.tesk.pkcs11.vorlen.bench;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Exception;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

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

    /** A new template of the attribute workload's types, its values null. */
    static CK_ATTRIBUTE[] attributeTemplate() {
        CK_ATTRIBUTE[] template = new CK_ATTRIBUTE[ATTRIBUTE_TYPES.length];
        for (int i = 0; i < template.length; i++) {
            template[i] = new CK_ATTRIBUTE(ATTRIBUTE_TYPES[i]);
        }
        return template;
    }

    /** Empties the values of a template before each call, as every binding's loop does. */
    static void clearValues(CK_ATTRIBUTE[] template) {
        for (CK_ATTRIBUTE attribute : template) {
            attribute.pValue = null;
        }
    }

    /**
     * The session and keys of the real work, made by the library; every implementation works on
     * them, on the same module instance.
     */
    record RealWork(long session, long rsaKey, long ecKey, long aesKey, byte[] hash, byte[] mebibyte, byte[] iv) {

        /**
         * Logs in on the first slot with a token of an initialised module and makes the keys of
         * the real-work workloads there: RSA-2048, EC P-256 and AES-256.
         */
        static RealWork create(PKCS11Impl pkcs11, char[] pin) throws PKCS11Exception {
            long slot = pkcs11.C_GetSlotList(true)[0];
            long session = pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, null, null);
            pkcs11.C_Login(session, CKU_USER, pin);
            long[] rsa = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN),
                    new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_MODULUS_BITS, 2048L),
                        new CK_ATTRIBUTE(CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1}), new CK_ATTRIBUTE(CKA_VERIFY, true)},
                    new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_SIGN, true)});
            byte[] p256 = {0x06, 0x08, 0x2a, (byte) 0x86, 0x48, (byte) 0xce, 0x3d, 0x03, 0x01, 0x07};
            long[] ec = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_EC_KEY_PAIR_GEN),
                    new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_EC_PARAMS, p256), new CK_ATTRIBUTE(CKA_VERIFY, true)},
                    new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_SIGN, true)});
            long aes = pkcs11.C_GenerateKey(session, new CK_MECHANISM(CKM_AES_KEY_GEN),
                    new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_VALUE_LEN, 32L), new CK_ATTRIBUTE(CKA_ENCRYPT, true)});
            byte[] hash = new byte[32];
            hash[0] = 1;
            byte[] mebibyte = new byte[1 << 20];
            java.util.Arrays.fill(mebibyte, (byte) 0x5A);
            return new RealWork(session, rsa[1], ec[1], aes, hash, mebibyte, new byte[16]);
        }
    }

    /** The overhead workload of this name. */
    Harness.Loop overhead(String workload) throws Exception;

    /** The real-work workload of this name. */
    Harness.Loop real(String workload, RealWork work) throws Exception;
}
