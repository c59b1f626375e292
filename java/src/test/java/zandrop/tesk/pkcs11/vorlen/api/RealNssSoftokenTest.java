package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.MessageDigest;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.MGF1ParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.stream.Collectors;

import javax.crypto.Cipher;
import javax.crypto.spec.OAEPParameterSpec;
import javax.crypto.spec.PSource;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestMethodOrder;

/**
 * The library against NSS's softoken, initialised with its parameter string in pReserved and a
 * fresh database in the test's temporary folder. This module offers the mechanisms whose results
 * the library copies back into the Java parameter objects: the SSL 3.0 master key derivation
 * (the version), the SSL 3.0 key and MAC derivation (handles and IVs) and the password-based key
 * generations (the IV). Each copied-back value is checked against the JDK's own computation of
 * the same key material.
 */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class RealNssSoftokenTest extends RealModules.NssSuite {
    private static final byte[] CLIENT_RANDOM = filled(32, 0x11);
    private static final byte[] SERVER_RANDOM = filled(32, 0x22);

    private Set<Long> mechanisms;
    private final List<String> exercised = new ArrayList<>();
    private final List<String> notOffered = new ArrayList<>();

    RealNssSoftokenTest() {
        super("nssdb");
    }

    private static byte[] filled(int length, int start) {
        return Platform.counting(length, start, 1);
    }

    @BeforeAll
    void readTheMechanismList() throws Exception {
        mechanisms = Arrays.stream(pkcs11.C_GetMechanismList(slot)).boxed().collect(Collectors.toSet());
    }

    /** Says so in the output when a mechanism is missing; true when it is offered. */
    private boolean offered(long mechanism, String what) {
        if (mechanisms.contains(mechanism)) {
            return true;
        }
        String line = "NOT OFFERED by the NSS softoken: " + PKCS11Constants.mechanismName(mechanism)
                + " (" + what + "): this copy-back is not exercised";
        System.out.println(line);
        notOffered.add(line);
        return false;
    }

    private static CK_ATTRIBUTE[] readableSecret(long keyType) {
        return RealModules.readable(keyType, new CK_ATTRIBUTE(CKA_DERIVE, true));
    }

    @Test
    @Order(1)
    void theParameterStringReachedTheModule() throws Exception {
        CK_INFO info = pkcs11.C_GetInfo();
        assertEquals("Mozilla Foundation", new String(info.manufacturerID).stripTrailing());
        // The softoken opened (and so created) its databases in the folder the string named.
        Path database = database();
        assertTrue(Files.exists(database.resolve("cert9.db")), "cert9.db in " + database);
        assertTrue(Files.exists(database.resolve("key4.db")), "key4.db in " + database);
        assertEquals(2, pkcs11.C_GetSlotList(true).length, "crypto services and the key database");
        assertTrue(mechanisms.size() > 50, "a long mechanism list: " + mechanisms.size());
    }

    // ---- SSL 3.0: the master secret, then the key block

    /** A 48-byte pre-master secret with the version 3.0 in front; its handle. */
    private long preMasterSecret() throws PKCS11Exception {
        CK_ATTRIBUTE[] template = readableSecret(CKK_GENERIC_SECRET);
        long preMaster = pkcs11.C_GenerateKey(session,
                new CK_MECHANISM(CKM_SSL3_PRE_MASTER_KEY_GEN, new CK_VERSION(3, 0)), template);
        byte[] value = RealModules.bytes(pkcs11, session, preMaster, CKA_VALUE);
        assertEquals(48, value.length);
        assertEquals(3, value[0], "the version given as the CK_VERSION parameter leads the secret");
        assertEquals(0, value[1]);
        return preMaster;
    }

    /** SSL 3.0's key expansion: MD5(secret + SHA1("A" + secret + first + second)) + MD5(... "BB" ...) ... */
    private static byte[] ssl3Expand(byte[] secret, byte[] first, byte[] second, int length) throws Exception {
        byte[] out = new byte[0];
        for (int round = 1; out.length < length; round++) {
            MessageDigest sha1 = MessageDigest.getInstance("SHA-1");
            sha1.update(String.valueOf((char) ('A' + round - 1)).repeat(round).getBytes(StandardCharsets.US_ASCII));
            sha1.update(secret);
            sha1.update(first);
            sha1.update(second);
            MessageDigest md5 = MessageDigest.getInstance("MD5");
            md5.update(secret);
            out = Platform.concat(out, md5.digest(sha1.digest()));
        }
        return Arrays.copyOf(out, length);
    }

    private long derivedMaster;
    private byte[] masterValue;

    @Test
    @Order(2)
    void ssl3MasterKeyDerivationWritesTheVersionBack() throws Exception {
        if (!offered(CKM_SSL3_PRE_MASTER_KEY_GEN, "pre-master secret for the master key derivation")
                || !offered(CKM_SSL3_MASTER_KEY_DERIVE, "version written back")) {
            return;
        }
        long preMaster = preMasterSecret();
        byte[] preMasterValue = RealModules.bytes(pkcs11, session, preMaster, CKA_VALUE);
        CK_VERSION version = new CK_VERSION(9, 9);
        CK_SSL3_MASTER_KEY_DERIVE_PARAMS params = new CK_SSL3_MASTER_KEY_DERIVE_PARAMS(
                new CK_SSL3_RANDOM_DATA(CLIENT_RANDOM, SERVER_RANDOM), version);
        CK_MECHANISM mechanism = new CK_MECHANISM(CKM_SSL3_MASTER_KEY_DERIVE, params);
        derivedMaster = pkcs11.C_DeriveKey(session, mechanism, preMaster, readableSecret(CKK_GENERIC_SECRET));

        assertSame(version, params.pVersion, "the caller's CK_VERSION object is written, not replaced");
        assertEquals(3, version.major, "the module's version, copied back");
        assertEquals(0, version.minor);
        masterValue = RealModules.bytes(pkcs11, session, derivedMaster, CKA_VALUE);
        assertArrayEquals(ssl3Expand(preMasterValue, CLIENT_RANDOM, SERVER_RANDOM, 48), masterValue,
                "the master secret as SSL 3.0 defines it: the random data reached the module");
        exercised.add("CKM_SSL3_MASTER_KEY_DERIVE");
    }

    @Test
    @Order(3)
    void ssl3KeyAndMacDerivationWritesHandlesAndIvsBack() throws Exception {
        if (!offered(CKM_SSL3_KEY_AND_MAC_DERIVE, "handles and IVs written back")) {
            return;
        }
        if (derivedMaster == 0) {
            fail("the master secret derivation failed or was not offered, so there is no base key");
        }
        byte[] clientIv = filled(8, 0xA0);
        byte[] serverIv = filled(8, 0xB0);
        CK_SSL3_KEY_MAT_OUT out = new CK_SSL3_KEY_MAT_OUT(-1, -1, -1, -1, clientIv, serverIv);
        CK_SSL3_KEY_MAT_PARAMS params = new CK_SSL3_KEY_MAT_PARAMS(128, 192, 64, false,
                new CK_SSL3_RANDOM_DATA(CLIENT_RANDOM, SERVER_RANDOM), out);
        CK_ATTRIBUTE[] template = readableSecret(CKK_DES3);
        pkcs11.C_DeriveKey(session, new CK_MECHANISM(CKM_SSL3_KEY_AND_MAC_DERIVE, params), derivedMaster, template);

        // The key block: MAC secrets of 16 bytes, keys of 24, IVs of 8, in this order.
        byte[] block = ssl3Expand(masterValue, SERVER_RANDOM, CLIENT_RANDOM, 2 * 16 + 2 * 24 + 2 * 8);
        assertSame(out, params.pReturnedKeyMaterial);
        assertSame(clientIv, out.pIVClient, "the caller's arrays are filled, not replaced");
        assertSame(serverIv, out.pIVServer);
        assertArrayEquals(Arrays.copyOfRange(block, 80, 88), clientIv, "client IV copied back");
        assertArrayEquals(Arrays.copyOfRange(block, 88, 96), serverIv, "server IV copied back");

        long[] handles = {out.hClientMacSecret, out.hServerMacSecret, out.hClientKey, out.hServerKey};
        Set<Long> distinct = new HashSet<>();
        for (long handle : handles) {
            assertNotEquals(-1L, handle, "every handle was written back");
            assertNotEquals(0L, handle, "a valid handle");
            distinct.add(handle);
        }
        assertEquals(4, distinct.size(), "four different keys");
        int[][] slices = {{0, 16}, {16, 32}, {32, 56}, {56, 80}};
        for (int i = 0; i < handles.length; i++) {
            byte[] expected = Arrays.copyOfRange(block, slices[i][0], slices[i][1]);
            byte[] actual = RealModules.bytes(pkcs11, session, handles[i], CKA_VALUE);
            if (i >= 2) {
                // DES3 keys: the module sets the parity bits.
                expected = withoutParity(expected);
                actual = withoutParity(actual);
            }
            assertArrayEquals(expected, actual, "key " + i + " is its slice of the key block");
        }
        exercised.add("CKM_SSL3_KEY_AND_MAC_DERIVE");
    }

    private static byte[] withoutParity(byte[] key) {
        byte[] masked = key.clone();
        for (int i = 0; i < masked.length; i++) {
            masked[i] &= (byte) 0xFE;
        }
        return masked;
    }

    // ---- password-based key generation

    /** PKCS #5 v1.5 key derivation: digest^iterations(password + salt); key, then IV. */
    private static byte[] pbkdf1(String digest, byte[] password, byte[] salt, int iterations) throws Exception {
        MessageDigest md = MessageDigest.getInstance(digest);
        md.update(password);
        md.update(salt);
        byte[] t = md.digest();
        for (int i = 1; i < iterations; i++) {
            t = md.digest(t);
        }
        return t;
    }

    @Test
    @Order(4)
    void passwordBasedKeyGenerationWritesTheIvBack() throws Exception {
        long[] candidates = {CKM_PBE_MD2_DES_CBC, CKM_PBE_MD5_DES_CBC, CKM_PBE_MD5_CAST_CBC,
            CKM_PBE_MD5_CAST3_CBC, CKM_PBE_MD5_CAST5_CBC, CKM_PBE_SHA1_CAST5_CBC};
        String password = "correct horse";
        char[] salt = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
        byte[] saltBytes = new String(salt).getBytes(StandardCharsets.ISO_8859_1);
        int iterations = 100;
        for (long mechanism : candidates) {
            if (!offered(mechanism, "IV written back")) {
                continue;
            }
            String digest = mechanism == CKM_PBE_MD2_DES_CBC ? "MD2" : "MD5";
            if (mechanism != CKM_PBE_MD2_DES_CBC && mechanism != CKM_PBE_MD5_DES_CBC) {
                System.out.println("offered but without an oracle here: " + PKCS11Constants.mechanismName(mechanism));
                continue;
            }
            char[] iv = "\u0100".repeat(8).toCharArray();
            CK_PBE_PARAMS params = new CK_PBE_PARAMS(iv, password.toCharArray(), salt, iterations);
            long key = pkcs11.C_GenerateKey(session, new CK_MECHANISM(mechanism, params), readableSecret(CKK_DES));

            byte[] derived = pbkdf1(digest, password.getBytes(StandardCharsets.US_ASCII), saltBytes, iterations);
            assertSame(iv, params.pInitVector, "the caller's array is filled, not replaced");
            assertArrayEquals(new String(derived, 8, 8, StandardCharsets.ISO_8859_1).toCharArray(), iv,
                    PKCS11Constants.mechanismName(mechanism) + ": the IV's bytes, each zero-extended to a char");
            assertArrayEquals(withoutParity(Arrays.copyOf(derived, 8)),
                    withoutParity(RealModules.bytes(pkcs11, session, key, CKA_VALUE)), "the DES key, parity bits aside");
            exercised.add(PKCS11Constants.mechanismName(mechanism));
        }

        // A PBE mechanism outside CKM_PBE_MD2_DES_CBC..CKM_PBE_SHA1_CAST5_CBC gets no copy-back,
        // whatever the module did with its IV buffer.
        if (mechanisms.contains(CKM_PBE_SHA1_DES3_EDE_CBC)) {
            char[] iv = "xxxxxxxx".toCharArray();
            CK_PBE_PARAMS params = new CK_PBE_PARAMS(iv, password.toCharArray(), salt, iterations);
            pkcs11.C_GenerateKey(session, new CK_MECHANISM(CKM_PBE_SHA1_DES3_EDE_CBC, params), readableSecret(CKK_DES3));
            assertArrayEquals("xxxxxxxx".toCharArray(), iv, "CKM_PBE_SHA1_DES3_EDE_CBC: the Java IV is left alone");
        }
    }

    @Test
    @Order(5)
    void oaepWithHashAndLabelDecryptsWhatTheJdkEncrypted() throws Exception {
        long[] pair = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN),
                RealModules.template(CKA_TOKEN, false, CKA_MODULUS_BITS, 2048L, CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1},
                        CKA_ENCRYPT, true),
                RealModules.template(CKA_TOKEN, false, CKA_DECRYPT, true, CKA_SENSITIVE, true));
        RSAPublicKey publicKey = RealModules.rsaPublicKey(pkcs11, session, pair[0]);
        byte[] label = "a label of the OAEP encoding".getBytes(StandardCharsets.US_ASCII);
        byte[] message = "OAEP with SHA-256 and a label".getBytes(StandardCharsets.US_ASCII);

        byte[] ciphertext = RealModules.jdkCipher("RSA/ECB/OAEPPadding", Cipher.ENCRYPT_MODE, publicKey,
                new OAEPParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, new PSource.PSpecified(label))).doFinal(message);
        CK_MECHANISM oaep = new CK_MECHANISM(CKM_RSA_PKCS_OAEP,
                new CK_RSA_PKCS_OAEP_PARAMS(CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, label));
        pkcs11.C_DecryptInit(session, oaep, pair[1]);
        assertArrayEquals(message, pkcs11.C_Decrypt(session, ciphertext), "label, hash and MGF reached the module");

        pkcs11.C_DecryptInit(session, new CK_MECHANISM(CKM_RSA_PKCS_OAEP,
                new CK_RSA_PKCS_OAEP_PARAMS(CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED,
                        "some other label".getBytes(StandardCharsets.US_ASCII))), pair[1]);
        PKCS11Exception wrongLabel = org.junit.jupiter.api.Assertions.assertThrows(PKCS11Exception.class,
                () -> pkcs11.C_Decrypt(session, ciphertext));
        assertNotEquals(CKR_OK, wrongLabel.getErrorCode());
    }

    @Test
    @Order(6)
    void atLeastOneCopyBackWasExercised() {
        System.out.println("copy-backs exercised against the NSS softoken: " + exercised);
        if (exercised.isEmpty()) {
            fail("none of the copy-back mechanisms could be exercised: " + notOffered);
        }
    }
}
