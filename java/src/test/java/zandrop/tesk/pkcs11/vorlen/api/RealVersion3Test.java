package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.ByteArrayOutputStream;
import java.lang.reflect.Method;
import java.util.Arrays;
import java.util.List;


import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;

/**
 * The 3.0 functions against real modules. NSS's softoken offers the "PKCS 11" 3.0 interface: the
 * message-based AES-GCM and ChaCha20-Poly1305 are checked against the JDK's ciphers (IVs and tags
 * copied back into the caller's arrays), HKDF and the SP 800-108 counter-mode KDF against HMAC
 * computations in the JDK. SoftHSM2 is a 2.40 module: the same object type falls back to its 2.x
 * list and refuses every 3.0 method.
 */
class RealVersion3Test extends RealModules.NssSuite {
    RealVersion3Test() {
        super("nssdb-v3");
    }

    private static byte[] bytes(int length, int start) {
        return Platform.counting(length, start, 7);
    }

    private long secretKey(long keyType, byte[] value, long... usages) throws PKCS11Exception {
        CK_ATTRIBUTE[] template = RealModules.template(CKA_CLASS, CKO_SECRET_KEY, CKA_KEY_TYPE, keyType, CKA_TOKEN, false,
                CKA_VALUE, value);
        for (long usage : usages) {
            template = RealModules.concat(template, new CK_ATTRIBUTE(usage, true));
        }
        return pkcs11.C_CreateObject(session, template);
    }

    private static CK_ATTRIBUTE[] readableSecret(int length) {
        return RealModules.readable(CKK_GENERIC_SECRET, new CK_ATTRIBUTE(CKA_VALUE_LEN, (long) length));
    }

    private byte[] value(long key) throws PKCS11Exception {
        return RealModules.bytes(pkcs11, session, key, CKA_VALUE);
    }

    // ---- the interface

    @Test
    void theSoftokenOffersPkcs11ThreeZero() throws Exception {
        assertEquals(3, pkcs11.getInterfaceVersion().major);
        assertEquals(0, pkcs11.getInterfaceVersion().minor);
        CK_INTERFACE[] interfaces = pkcs11.C_GetInterfaceList();
        List<String> names = Arrays.stream(interfaces)
                .map(i -> new String(i.pInterfaceName) + " " + i.version.major + "." + i.version.minor).toList();
        System.out.println("NSS softoken interfaces: " + names);
        assertTrue(names.contains("PKCS 11 3.0"), names.toString());
        // OpenSC's spy hands out its own 2.x "PKCS 11" entry, of version 2.11.
        assertTrue(names.contains("PKCS 11 2.40") || RealModules.spied("softokn") && names.contains("PKCS 11 2.11"),
                names.toString());
        assertTrue(interfaces.length >= 3, "and a vendor interface: " + names);
    }

    // ---- message-based AEAD against the JDK

    /** One message encrypted between C_MessageEncryptInit and C_MessageEncryptFinal. */
    private byte[] encryptMessage(CK_MECHANISM mechanism, long key, Object parameter, byte[] aad, byte[] plain)
            throws PKCS11Exception {
        pkcs11.C_MessageEncryptInit(session, mechanism, key);
        try {
            return pkcs11.C_EncryptMessage(session, parameter, aad, plain);
        } finally {
            pkcs11.C_MessageEncryptFinal(session);
        }
    }

    @ParameterizedTest
    @EnumSource(RealModules.Aead.class)
    void aeadMessagesEqualTheJdk(RealModules.Aead aead) throws Exception {
        boolean gcm = aead == RealModules.Aead.AES_GCM;
        byte[] keyValue = bytes(aead.keyLength, 3);
        long key = secretKey(aead.keyType, keyValue, CKA_ENCRYPT, CKA_DECRYPT);
        byte[] iv = bytes(12, 0x70);
        CK_MECHANISM mechanism = new CK_MECHANISM(gcm ? CKM_AES_GCM : CKM_CHACHA20_POLY1305);
        java.util.function.Function<byte[], Object> parameter = tag -> gcm
                ? new CK_GCM_MESSAGE_PARAMS(iv, 0, CKG_NO_GENERATE, tag, 128)
                : new CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS(iv, tag);
        byte[] aad = bytes(13, 0x40);
        PKCS11Exception refused = RealModules.aeadMatchesTheJdk(aead, keyValue, iv, 128, aad, bytes(37, 0x11),
            plain -> {
                byte[] tag = new byte[16];
                return Platform.concat(encryptMessage(mechanism, key, parameter.apply(tag), aad, plain), tag);
            },
            sealed -> {
                int length = sealed.length - 16;
                pkcs11.C_MessageDecryptInit(session, mechanism, key);
                try {
                    return pkcs11.C_DecryptMessage(session, parameter.apply(Arrays.copyOfRange(sealed, length,
                            sealed.length)), aad, Arrays.copyOf(sealed, length));
                } finally {
                    pkcs11.C_MessageDecryptFinal(session);
                }
            });
        System.out.println("a tampered " + aead + " tag: " + refused.getMessage());
        pkcs11.C_DestroyObject(session, key);
    }

    /** A generated IV (a fixed first half, a counter after it): the module writes it into the caller's array. */
    @Test
    void aesGcmMessageWithAGeneratedIvOpensInTheJdk() throws Exception {
        byte[] keyValue = bytes(16, 3);
        long key = secretKey(CKK_AES, keyValue, CKA_ENCRYPT, CKA_DECRYPT);
        byte[] aad = bytes(13, 0x40);
        byte[] plaintext = bytes(37, 0x11);
        byte[] generatedIv = bytes(12, 0x21);
        byte[] generatedTag = new byte[16];
        byte[] second = encryptMessage(new CK_MECHANISM(CKM_AES_GCM), key,
                new CK_GCM_MESSAGE_PARAMS(generatedIv, 48, CKG_GENERATE_COUNTER, generatedTag, 128), aad, plaintext);
        assertArrayEquals(Arrays.copyOf(bytes(12, 0x21), 6), Arrays.copyOf(generatedIv, 6), "the fixed part stays");
        assertFalse(Arrays.equals(bytes(12, 0x21), generatedIv), "the generated part came back: " + Arrays.toString(generatedIv));
        assertArrayEquals(RealModules.Aead.AES_GCM.jdkSeal(keyValue, generatedIv, 128, aad, plaintext),
                Platform.concat(second, generatedTag), "the JDK seals it to the same bytes with that IV and tag");
        pkcs11.C_DestroyObject(session, key);
    }

    /** Begin and Next: the softoken answers for itself; what it does is checked against the JDK. */
    @Test
    void aesGcmInPartsEqualsTheJdkOrIsRefusedByTheModule() throws Exception {
        byte[] keyValue = bytes(16, 0x50);
        long key = secretKey(CKK_AES, keyValue, CKA_ENCRYPT, CKA_DECRYPT);
        byte[] aad = bytes(4, 1);
        byte[] iv = bytes(12, 2);
        byte[] tag = new byte[16];
        CK_GCM_MESSAGE_PARAMS params = new CK_GCM_MESSAGE_PARAMS(iv, 0, CKG_NO_GENERATE, tag, 128);
        pkcs11.C_MessageEncryptInit(session, new CK_MECHANISM(CKM_AES_GCM), key);
        try {
            pkcs11.C_EncryptMessageBegin(session, params, aad);
        } catch (PKCS11Exception e) {
            System.out.println("NOT OFFERED by the NSS softoken: C_EncryptMessageBegin answers " + e.getMessage());
            assertEquals(CKR_FUNCTION_NOT_SUPPORTED, e.getErrorCode(), "refused as not supported, nothing else");
            pkcs11.C_MessageEncryptFinal(session);
            pkcs11.C_DestroyObject(session, key);
            return;
        }
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        out.write(pkcs11.C_EncryptMessageNext(session, params, bytes(20, 3), 0));
        out.write(pkcs11.C_EncryptMessageNext(session, params, bytes(9, 4), CKF_END_OF_MESSAGE));
        pkcs11.C_MessageEncryptFinal(session);
        assertArrayEquals(RealModules.Aead.AES_GCM.jdkSeal(keyValue, iv, 128, aad, Platform.concat(bytes(20, 3), bytes(9, 4))),
                Platform.concat(out.toByteArray(), tag));
        pkcs11.C_DestroyObject(session, key);
    }

    // ---- HKDF against HMAC-SHA256 in the JDK

    private long hkdf(long baseKey, CK_HKDF_PARAMS params, int length) throws PKCS11Exception {
        return pkcs11.C_DeriveKey(session, new CK_MECHANISM(CKM_HKDF_DERIVE, params), baseKey, readableSecret(length));
    }

    @Test
    void hkdfExtractExpandAndBothEqualTheJdk() throws Exception {
        byte[] ikm = bytes(22, 0x0b);
        byte[] salt = bytes(13, 0x00);
        byte[] info = bytes(10, 0xf0);
        long base = secretKey(CKK_GENERIC_SECRET, ikm, CKA_DERIVE);
        byte[] prk = RealModules.hmacSha256(salt, ikm);

        long extracted = hkdf(base, new CK_HKDF_PARAMS(true, false, CKM_SHA256, CKF_HKDF_SALT_DATA, salt, 0, null), 32);
        assertArrayEquals(prk, value(extracted), "extract");

        long prkKey = secretKey(CKK_GENERIC_SECRET, prk, CKA_DERIVE);
        long expanded = hkdf(prkKey, new CK_HKDF_PARAMS(false, true, CKM_SHA256, CKF_HKDF_SALT_NULL, null, 0, info), 42);
        assertArrayEquals(RealModules.hkdfExpand(prk, info, 42), value(expanded), "expand");

        long both = hkdf(base, new CK_HKDF_PARAMS(true, true, CKM_SHA256, CKF_HKDF_SALT_DATA, salt, 0, info), 42);
        assertArrayEquals(RealModules.hkdfExpand(prk, info, 42), value(both), "extract and expand (RFC 5869's case 1 shape)");

        long saltKey = secretKey(CKK_GENERIC_SECRET, salt, CKA_DERIVE);
        long keyed = hkdf(base, new CK_HKDF_PARAMS(true, true, CKM_SHA256, CKF_HKDF_SALT_KEY, null, saltKey, info), 42);
        assertArrayEquals(RealModules.hkdfExpand(prk, info, 42), value(keyed), "the salt as a key");

        long noSalt = hkdf(base, new CK_HKDF_PARAMS(true, true, CKM_SHA256, CKF_HKDF_SALT_NULL, null, 0, info), 42);
        assertArrayEquals(RealModules.hkdfExpand(RealModules.hmacSha256(new byte[0], ikm), info, 42), value(noSalt),
                "no salt: zeros of the hash length");
        for (long k : new long[] {extracted, prkKey, expanded, both, saltKey, keyed, noSalt, base}) {
            pkcs11.C_DestroyObject(session, k);
        }
    }

    // ---- SP 800-108 in counter mode against HMAC-SHA256 in the JDK

    @Test
    void sp800108CounterModeWithAFurtherKeyEqualsTheJdk() throws Exception {
        byte[] keyIn = bytes(32, 0x2c);
        byte[] label = bytes(9, 0x61);
        byte[] context = bytes(11, 0x91);
        long base = secretKey(CKK_GENERIC_SECRET, keyIn, CKA_DERIVE);
        CK_DERIVED_KEY further = new CK_DERIVED_KEY(readableSecret(16), 0);
        CK_SP800_108_KDF_PARAMS params = new CK_SP800_108_KDF_PARAMS(CKM_SHA256_HMAC, new CK_PRF_DATA_PARAM[] {
            new CK_PRF_DATA_PARAM(CK_SP800_108_ITERATION_VARIABLE, new CK_SP800_108_COUNTER_FORMAT(false, 32)),
            new CK_PRF_DATA_PARAM(CK_SP800_108_BYTE_ARRAY, label),
            new CK_PRF_DATA_PARAM(CK_SP800_108_BYTE_ARRAY, new byte[] {0}),
            new CK_PRF_DATA_PARAM(CK_SP800_108_BYTE_ARRAY, context),
            new CK_PRF_DATA_PARAM(CK_SP800_108_DKM_LENGTH,
                    new CK_SP800_108_DKM_LENGTH_FORMAT(CK_SP800_108_DKM_LENGTH_SUM_OF_KEYS, false, 32)),
        }, new CK_DERIVED_KEY[] {further});
        long primary = pkcs11.C_DeriveKey(session, new CK_MECHANISM(CKM_SP800_108_COUNTER_KDF, params), base,
                readableSecret(32));
        assertNotEquals(0, further.phKey, "the further key's handle went back into the caller's object");
        assertNotEquals(primary, further.phKey);

        // K(i) = HMAC(Kin, [i]32 || label || 00 || context || [L]32), L = 8 * (32 + 16)
        ByteArrayOutputStream material = new ByteArrayOutputStream();
        for (int i = 1; material.size() < 48; i++) {
            material.write(RealModules.hmacSha256(keyIn, new byte[] {0, 0, 0, (byte) i}, label, new byte[] {0}, context,
                    new byte[] {0, 0, 0x01, (byte) 0x80}));
        }
        byte[] expected = material.toByteArray();
        assertArrayEquals(Arrays.copyOfRange(expected, 0, 32), value(primary), "the primary key");
        assertArrayEquals(Arrays.copyOfRange(expected, 32, 48), value(further.phKey), "the further key");
        for (long k : new long[] {primary, further.phKey, base}) {
            pkcs11.C_DestroyObject(session, k);
        }
    }

    // ---- SoftHSM2: a 2.40 module

    @Test
    void softHsmFallsBackToItsTwoXListAndRefusesEveryThreeZeroMethod() throws Exception {
        PKCS11Impl softHsm = new PKCS11Impl(RealModules.softHsm2());
        try {
            softHsm.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
            assertEquals(2, softHsm.getInterfaceVersion().major);
            assertEquals(40, softHsm.getInterfaceVersion().minor);
            long blocks = PKCS11Impl.heapBlockCount();
            for (Method method : AllMethods.version3Methods()) {
                Object outcome = AllMethods.invoke(method, softHsm, AllMethods.arguments(method, 1));
                PKCS11Exception e = assertInstanceOf(PKCS11Exception.class, outcome, method.getName());
                assertEquals(CKR_FUNCTION_NOT_SUPPORTED, e.getErrorCode(), method.getName());
            }
            assertEquals(blocks, PKCS11Impl.heapBlockCount());
            assertNotEquals(0, softHsm.C_GetSlotList(false).length, "the 2.x list still works");
            softHsm.C_Finalize(null);
        } finally {
            softHsm.disconnect();
        }
    }
}
