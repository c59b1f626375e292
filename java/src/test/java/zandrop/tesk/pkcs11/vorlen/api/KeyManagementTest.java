package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.CryptoWrapperCases.bytes;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * Key generation, wrapping, unwrapping and derivation, and the results a module returns through
 * the mechanism parameter: written into the caller's objects for exactly the mechanisms that
 * return them, also when the module fails, and never beyond what either side holds.
 */
class KeyManagementTest extends ConnectedToTestModule {
    private static final String IV = "00ff80417f0102fe";
    private static final char[] IV_CHARS = {0x00, 0xFF, 0x80, 0x41, 0x7F, 0x01, 0x02, 0xFE};

    /** Run by the module's CreateMutex callback, in the middle of a module call. */
    private Runnable duringCall = () -> { };

    /**
     * Lets the test change Java objects while the module call is under way: a step with
     * {@code mutex=create,destroy} runs {@link #duringCall} on the calling thread.
     */
    private void hookIntoModuleCalls() throws Exception {
        pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(() -> {
            duringCall.run();
            return new Object();
        }, mutex -> { }, mutex -> { }, mutex -> { }, 0));
    }

    private static char[] filled(int n, char c) {
        return Platform.padded("", n, c);
    }

    /** Fields like CK_PBE_PARAMS, but another class. */
    static final class LookAlike {
        public char[] pInitVector = filled(8, 'z');
        public char[] pPassword;
        public char[] pSalt;
        public long ulIteration;
    }

    private static CK_PBE_PARAMS pbe(char[] initVector) {
        return new CK_PBE_PARAMS(initVector, "password".toCharArray(), "salt".toCharArray(), 1000);
    }

    // ---- C_GenerateKey and the PBE initialization vector ----

    @Test
    void pbeKeyGenerationsWriteTheIvIntoTheSameCharArray() throws Exception {
        for (long type = CKM_PBE_MD2_DES_CBC; type <= CKM_PBE_SHA1_CAST128_CBC; type++) {
            char[] iv = filled(8, 'x');
            CK_PBE_PARAMS params = pbe(iv);
            module.script("C_GenerateKey", "pbeIv=" + IV + " handle=0xFFFFFFFF");
            CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_VALUE_LEN, 8L)};
            assertEquals(4294967295L, pkcs11.C_GenerateKey(HIGH | 1, new CK_MECHANISM(type, params), template));
            assertSame(iv, params.pInitVector, "the same array object");
            assertArrayEquals(IV_CHARS, iv, "mechanism " + type);
            Call call = module.last("C_GenerateKey");
            assertEquals(type, call.num("mechanism"));
            assertEquals(Platform.ulong(HIGH | 1), call.num("hSession"));
            assertEquals(1, call.template("pTemplate").size());
            assertArrayEquals(Platform.ulongBytes(8), call.template("pTemplate").get(0).value());
        }
    }

    @Test
    void otherMechanismsWithPbeParametersGetNoIv() throws Exception {
        for (long type : new long[] {CKM_PBE_SHA1_RC4_128, CKM_PBE_SHA1_RC2_40_CBC, CKM_PBE_MD2_DES_CBC - 1}) {
            char[] iv = filled(8, 'x');
            module.script("C_GenerateKey", "pbeIv=" + IV);
            pkcs11.C_GenerateKey(1, new CK_MECHANISM(type, pbe(iv)), null);
            assertArrayEquals(filled(8, 'x'), iv, "mechanism " + type);
        }
    }

    @Test
    void theIvCopyBackRespectsBothSides() throws Exception {
        CK_PBE_PARAMS none = pbe(null);
        module.script("C_GenerateKey", "pbeIv=" + IV);
        pkcs11.C_GenerateKey(1, new CK_MECHANISM(CKM_PBE_MD5_DES_CBC, none), null);
        assertNull(none.pInitVector);

        // A short array: the module writes 8 bytes into the native buffer; the array gets its 3.
        char[] shortIv = filled(3, 'x');
        module.script("C_GenerateKey", "pbeIv=" + IV);
        pkcs11.C_GenerateKey(1, new CK_MECHANISM(CKM_PBE_MD5_DES_CBC, pbe(shortIv)), null);
        assertArrayEquals(Arrays.copyOf(IV_CHARS, 3), shortIv);

        // The module fails: what it wrote is copied all the same, then the exception follows.
        char[] iv = filled(8, 'x');
        module.script("C_GenerateKey", "pbeIv=" + IV + " rv=" + CKR_TEMPLATE_INCONSISTENT);
        assertError(CKR_TEMPLATE_INCONSISTENT,
                () -> pkcs11.C_GenerateKey(1, new CK_MECHANISM(CKM_PBE_MD5_DES_CBC, pbe(iv)), null));
        assertArrayEquals(IV_CHARS, iv);
    }

    @Test
    void theIvGoesIntoTheArrayThatWasConvertedWhateverTheCallChanges() throws Exception {
        hookIntoModuleCalls();
        long references = PKCS11Impl.globalReferenceCount();

        // Another array is stored during the call: the IV goes into the array that was converted.
        char[] converted = filled(8, 'x');
        CK_PBE_PARAMS params = pbe(converted);
        char[] longer = filled(20, 'y');
        duringCall = () -> params.pInitVector = longer;
        module.script("C_GenerateKey", "mutex=create,destroy pbeIv=" + IV);
        pkcs11.C_GenerateKey(1, new CK_MECHANISM(CKM_PBE_MD5_DES_CBC, params), null);
        assertArrayEquals(IV_CHARS, converted);
        assertArrayEquals(filled(20, 'y'), longer, "an array the library never saw is not written");

        // The parameter is replaced by an object of another class, even one with the same
        // fields: the IV still goes into the parameter that was converted, and only there.
        CK_PBE_PARAMS replaced = pbe(filled(8, 'x'));
        CK_MECHANISM mechanism = new CK_MECHANISM(CKM_PBE_MD5_DES_CBC, replaced);
        LookAlike other = new LookAlike();
        duringCall = () -> mechanism.pParameter = other;
        module.script("C_GenerateKey", "mutex=create,destroy pbeIv=" + IV);
        pkcs11.C_GenerateKey(1, mechanism, null);
        assertArrayEquals(filled(8, 'z'), other.pInitVector);
        assertArrayEquals(IV_CHARS, replaced.pInitVector);

        // The Java mechanism type changes: the copy-back belongs to the type the module got.
        for (long[] types : new long[][] {{CKM_PBE_MD5_DES_CBC, CKM_PBE_SHA1_RC4_128}, {CKM_PBE_SHA1_RC4_128, CKM_PBE_MD5_DES_CBC}}) {
            CK_PBE_PARAMS retyped = pbe(filled(8, 'x'));
            CK_MECHANISM changing = new CK_MECHANISM(types[0], retyped);
            duringCall = () -> changing.mechanism = types[1];
            module.script("C_GenerateKey", "mutex=create,destroy pbeIv=" + IV);
            pkcs11.C_GenerateKey(1, changing, null);
            char[] expected = types[0] == CKM_PBE_MD5_DES_CBC ? IV_CHARS : filled(8, 'x');
            assertArrayEquals(expected, retyped.pInitVector, "mechanism " + types[0] + " changed to " + types[1]);
        }
        assertEquals(references, PKCS11Impl.globalReferenceCount(), "every mutex of the hook was destroyed");
    }

    @Test
    void aByteArrayWithAPbeMechanismIsNoPbeRecord() throws Exception {
        byte[] raw = new byte[ParameterLayout.sizeof(ParameterLayout.POINTER, ParameterLayout.POINTER,
                ParameterLayout.ULONG, ParameterLayout.POINTER, ParameterLayout.ULONG, ParameterLayout.ULONG)];
        Arrays.fill(raw, 0, ParameterLayout.POINTER_SIZE, (byte) 0);  // a null pInitVector for the module
        Arrays.fill(raw, ParameterLayout.POINTER_SIZE, raw.length, (byte) 0x5A);
        byte[] copy = raw.clone();
        module.script("C_GenerateKey", "pbeIv=" + IV);
        pkcs11.C_GenerateKey(1, new CK_MECHANISM(CKM_PBE_MD5_DES_CBC, raw), null);
        assertArrayEquals(copy, raw);
        assertArrayEquals(copy, module.last("C_GenerateKey").bytes("pParameter"));
    }

    @Test
    void anUnsupportedParameterStopsKeyGenerationBeforeTheTemplateAndTheModule() {
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_LABEL, "k".toCharArray())};
        assertExactMessage(PKCS11RuntimeException.class, CANNOT_CONVERT + "java.lang.StringBuilder",
                () -> pkcs11.C_GenerateKey(1, new CK_MECHANISM(CKM_AES_KEY_GEN, new StringBuilder()), template));
        assertEquals(0, module.count("C_GenerateKey"));
    }

    // ---- C_GenerateKeyPair ----

    @Test
    void keyPairsComeBackPublicFirst() throws Exception {
        module.script("C_GenerateKeyPair", "handles=7,0xFFFFFFFF");
        CK_ATTRIBUTE[] publicTemplate = {new CK_ATTRIBUTE(CKA_MODULUS_BITS, 2048L)};
        CK_ATTRIBUTE[] privateTemplate = {new CK_ATTRIBUTE(CKA_SIGN, true), new CK_ATTRIBUTE(CKA_TOKEN, false)};
        assertArrayEquals(new long[] {7, 4294967295L}, pkcs11.C_GenerateKeyPair(1,
                new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN), publicTemplate, privateTemplate));
        Call call = module.last("C_GenerateKeyPair");
        assertEquals(1, call.num("ulPublicKeyAttributeCount"));
        assertEquals(2, call.num("ulPrivateKeyAttributeCount"));
        assertArrayEquals(new byte[] {1}, call.template("pPrivateKeyTemplate").get(0).value());

        module.script("C_GenerateKeyPair", "rv=" + CKR_TEMPLATE_INCONSISTENT);
        assertError(CKR_TEMPLATE_INCONSISTENT,
                () -> pkcs11.C_GenerateKeyPair(1, new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN), publicTemplate, null));
        assertTrue(module.last("C_GenerateKeyPair").isNull("pPrivateKeyTemplate"));
    }

    // ---- C_WrapKey, C_UnwrapKey and the SET OAEP results ----

    @Test
    void wrapKeyQueriesTheSizeAlsoForAnEmptyKey() throws Exception {
        assertArrayEquals(bytes(24, 0), pkcs11.C_WrapKey(1, new CK_MECHANISM(CKM_AES_KEY_WRAP), HIGH | 2, HIGH | 3));
        List<Call> calls = module.calls("C_WrapKey");
        assertEquals(2, calls.size());
        assertTrue(calls.get(0).isNull("pWrappedKey"));
        // 16 bytes more than reported: modules under-report KWP wrappings (see C_WrapKey)
        assertEquals(24 + 16, calls.get(1).num("pulWrappedKeyLen"));
        assertEquals(Platform.ulong(HIGH | 2), calls.get(1).num("hWrappingKey"));
        assertEquals(Platform.ulong(HIGH | 3), calls.get(1).num("hKey"));

        module.clear();
        module.script("C_WrapKey", "out= times=2");
        assertArrayEquals(new byte[0], pkcs11.C_WrapKey(1, new CK_MECHANISM(CKM_AES_KEY_WRAP), 2, 3));
        assertEquals(2, module.count("C_WrapKey"));
        assertEquals("ptr", module.last("C_WrapKey").get("pWrappedKey"));

        module.script("C_WrapKey", "out=0102");
        module.script("C_WrapKey", "out=0102 len=19");
        assertRefused("C_WrapKey reported 19 bytes but only 18 were allocated",
                () -> pkcs11.C_WrapKey(1, new CK_MECHANISM(CKM_AES_KEY_WRAP), 2, 3));

        module.clear();
        assertModuleError("C_WrapKey", CKR_KEY_HANDLE_INVALID,
                () -> pkcs11.C_WrapKey(1, new CK_MECHANISM(CKM_AES_KEY_WRAP, bytes(8, 0)), 2, 3));
        assertEquals(1, module.count("C_WrapKey"), "no second call after a failed size query");
    }

    @Test
    void setOaepResultsReturnFromUnwrapButNotFromWrap() throws Exception {
        byte[] x = bytes(6, 0x10);
        CK_KEY_WRAP_SET_OAEP_PARAMS params = new CK_KEY_WRAP_SET_OAEP_PARAMS((byte) 1, x);
        module.setDefault("C_WrapKey", "oaepBC=0x5C oaepX=a1a2a3a4a5a6");
        pkcs11.C_WrapKey(1, new CK_MECHANISM(CKM_KEY_WRAP_SET_OAEP, params), 2, 3);
        assertEquals(1, params.bBC);
        assertArrayEquals(bytes(6, 0x10), x);

        module.script("C_UnwrapKey", "oaepBC=0x5C oaepX=a1a2a3a4a5a6 handle=55");
        byte[] wrapped = bytes(40, 0);
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_CLASS, CKO_SECRET_KEY)};
        assertEquals(55, pkcs11.C_UnwrapKey(HIGH | 1, new CK_MECHANISM(CKM_KEY_WRAP_SET_OAEP, params), HIGH | 9,
                wrapped, template));
        assertEquals((byte) 0x5C, params.bBC);
        assertSame(x, params.pX);
        assertArrayEquals(new byte[] {(byte) 0xA1, (byte) 0xA2, (byte) 0xA3, (byte) 0xA4, (byte) 0xA5, (byte) 0xA6}, x);
        Call call = module.last("C_UnwrapKey");
        assertArrayEquals(wrapped, call.bytes("pWrappedKey"));
        assertEquals(Platform.ulong(HIGH | 9), call.num("hUnwrappingKey"));
        assertEquals(1, call.num("ulAttributeCount"));

        // Another mechanism with the same parameter class: nothing comes back.
        CK_KEY_WRAP_SET_OAEP_PARAMS untouched = new CK_KEY_WRAP_SET_OAEP_PARAMS((byte) 1, bytes(6, 0x10));
        module.script("C_UnwrapKey", "oaepBC=0x5C oaepX=a1a2a3a4a5a6");
        pkcs11.C_UnwrapKey(1, new CK_MECHANISM(CKM_KEY_WRAP_LYNKS, untouched), 2, wrapped, null);
        assertEquals(1, untouched.bBC);
        assertArrayEquals(bytes(6, 0x10), untouched.pX);
    }

    @Test
    void setOaepCopiesNoMoreThanTheNativeBufferHolds() throws Exception {
        hookIntoModuleCalls();
        // The module reports a longer X than it was given (and writes what fits); another,
        // longer array is stored during the call. Only the 4 bytes the library allocated are
        // copied, into the array that was converted.
        byte[] converted = new byte[4];
        CK_KEY_WRAP_SET_OAEP_PARAMS params = new CK_KEY_WRAP_SET_OAEP_PARAMS((byte) 1, converted);
        byte[] longer = Platform.counting(12, 0x77, 0);
        byte[] untouched = longer.clone();
        duringCall = () -> params.pX = longer;
        module.script("C_UnwrapKey", "mutex=create,destroy oaepBC=3 oaepX=0102030405060708 rv=0");
        pkcs11.C_UnwrapKey(1, new CK_MECHANISM(CKM_KEY_WRAP_SET_OAEP, params), 2, new byte[1], null);
        assertEquals(3, params.bBC);
        assertArrayEquals(new byte[] {1, 2, 3, 4}, converted);
        assertArrayEquals(untouched, longer);
    }

    @Test
    void unwrapCopiesBackAlsoWhenTheModuleFails() throws Exception {
        CK_KEY_WRAP_SET_OAEP_PARAMS params = new CK_KEY_WRAP_SET_OAEP_PARAMS((byte) 1, new byte[2]);
        module.script("C_UnwrapKey", "oaepBC=9 oaepX=abcd rv=" + CKR_WRAPPED_KEY_INVALID);
        assertError(CKR_WRAPPED_KEY_INVALID,
                () -> pkcs11.C_UnwrapKey(1, new CK_MECHANISM(CKM_KEY_WRAP_SET_OAEP, params), 2, null, null));
        assertEquals(9, params.bBC);
        assertArrayEquals(new byte[] {(byte) 0xAB, (byte) 0xCD}, params.pX);
        assertTrue(module.last("C_UnwrapKey").isNull("pWrappedKey"));
    }

    // ---- C_DeriveKey and the SSL 3.0 results ----

    private static CK_SSL3_RANDOM_DATA random() {
        return new CK_SSL3_RANDOM_DATA(bytes(32, 0), bytes(32, 0x40));
    }

    @Test
    void theMasterKeyVersionIsWrittenBackAlsoWhenTheModuleFails() throws Exception {
        CK_VERSION version = new CK_VERSION(0, 0);
        module.script("C_DeriveKey", "sslVersion=3.1 rv=" + CKR_KEY_TYPE_INCONSISTENT);
        assertError(CKR_KEY_TYPE_INCONSISTENT, () -> pkcs11.C_DeriveKey(1,
                new CK_MECHANISM(CKM_SSL3_MASTER_KEY_DERIVE, new CK_SSL3_MASTER_KEY_DERIVE_PARAMS(random(), version)), 2, null));
        assertEquals("3.1", version.toString(), "major and minor, unsigned");

        module.script("C_DeriveKey", "sslVersion=255.128 handle=77");
        assertEquals(77, pkcs11.C_DeriveKey(1, new CK_MECHANISM(CKM_SSL3_MASTER_KEY_DERIVE,
                new CK_SSL3_MASTER_KEY_DERIVE_PARAMS(random(), version)), 2, null));
        assertEquals("255.128", version.toString());

        for (long type : new long[] {CKM_SSL3_MASTER_KEY_DERIVE_DH, CKM_TLS_MASTER_KEY_DERIVE}) {
            CK_VERSION untouched = new CK_VERSION(3, 0);
            module.script("C_DeriveKey", "sslVersion=3.3");
            pkcs11.C_DeriveKey(1, new CK_MECHANISM(type, new CK_SSL3_MASTER_KEY_DERIVE_PARAMS(random(), untouched)),
                    2, null);
            assertEquals(0, untouched.minor, "mechanism " + type);
        }
    }

    @Test
    void theKeyMaterialComesBackZeroExtendedWithItsIvs() throws Exception {
        byte[] client = new byte[8];
        CK_SSL3_KEY_MAT_OUT out = new CK_SSL3_KEY_MAT_OUT(0, 0, 0, 0, client, new byte[8]);
        String allBits = Long.toUnsignedString(Platform.ALL_BITS);
        module.script("C_DeriveKey", "sslKeyMat=" + allBits + ",2,3,4 sslIvClient=0102030405060708"
                + " sslIvServer=f1f2f3f4f5f6f7f8");
        pkcs11.C_DeriveKey(1, new CK_MECHANISM(CKM_SSL3_KEY_AND_MAC_DERIVE,
                new CK_SSL3_KEY_MAT_PARAMS(160, 128, 64, false, random(), out)), 2, null);
        assertEquals(Platform.ALL_BITS, out.hClientMacSecret);
        assertEquals(2, out.hServerMacSecret);
        assertEquals(3, out.hClientKey);
        assertEquals(4, out.hServerKey);
        assertSame(client, out.pIVClient);
        assertArrayEquals(bytes(8, 1), client);
        assertArrayEquals(HexFormat.of().parseHex("f1f2f3f4f5f6f7f8"), out.pIVServer);

        // No IVs wanted: the arrays stay null, the handles still come back.
        CK_SSL3_KEY_MAT_OUT noIvs = new CK_SSL3_KEY_MAT_OUT();
        module.script("C_DeriveKey", "sslKeyMat=5,6,7,8 sslIvClient=0102030405060708");
        pkcs11.C_DeriveKey(1, new CK_MECHANISM(CKM_SSL3_KEY_AND_MAC_DERIVE,
                new CK_SSL3_KEY_MAT_PARAMS(160, 128, 64, false, random(), noIvs)), 2, null);
        assertEquals(8, noIvs.hServerKey);
        assertNull(noIvs.pIVClient);
        assertNull(noIvs.pIVServer);
    }

    @Test
    void tlsKeyAndMacDerivationGetsNothingBack() throws Exception {
        CK_SSL3_KEY_MAT_OUT out = new CK_SSL3_KEY_MAT_OUT(1, 1, 1, 1, new byte[8], new byte[8]);
        module.script("C_DeriveKey", "sslKeyMat=5,6,7,8 sslIvClient=0102030405060708 sslIvServer=0102030405060708");
        pkcs11.C_DeriveKey(1, new CK_MECHANISM(CKM_TLS_KEY_AND_MAC_DERIVE,
                new CK_SSL3_KEY_MAT_PARAMS(160, 128, 64, true, random(), out)), 2, null);
        assertEquals(1, out.hClientMacSecret);
        assertEquals(1, out.hServerKey);
        assertArrayEquals(new byte[8], out.pIVClient);
        assertArrayEquals(new byte[8], out.pIVServer);
    }

    @Test
    void derivationPassesItsBaseKeyAndTemplate() throws Exception {
        module.script("C_DeriveKey", "handle=0xFFFFFFFF");
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_VALUE_LEN, 32L)};
        assertEquals(4294967295L, pkcs11.C_DeriveKey(HIGH | 1, new CK_MECHANISM(CKM_ECDH1_DERIVE,
                new CK_ECDH1_DERIVE_PARAMS(CKD_NULL, null, bytes(65, 4))), HIGH | 6, template));
        Call call = module.last("C_DeriveKey");
        assertEquals(Platform.ulong(HIGH | 6), call.num("hBaseKey"));
        assertEquals("ptr", call.get("phKey"));
        assertArrayEquals(Platform.ulongBytes(32), call.template("pTemplate").get(0).value());
    }
}
