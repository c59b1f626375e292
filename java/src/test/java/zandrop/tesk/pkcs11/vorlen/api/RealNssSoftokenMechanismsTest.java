package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.MessageDigest;
import java.security.interfaces.ECPublicKey;
import java.security.spec.ECGenParameterSpec;

import javax.crypto.KeyAgreement;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

/**
 * The newer mechanisms against NSS's softoken, on a fresh database in the test's temporary
 * folder, with the JDK as the oracle: ECDH with a key derivation function and shared data.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class RealNssSoftokenMechanismsTest {
    private PKCS11Impl pkcs11;
    private long session;

    @BeforeAll
    void initialise() throws Exception {
        Path database = RealModules.testDir().resolve("nssdb-mechanisms");
        Files.createDirectories(database);
        pkcs11 = new PKCS11Impl(RealModules.nssSoftoken());
        CK_C_INITIALIZE_ARGS args = new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK);
        args.pReserved = "configdir='sql:" + database + "' certPrefix='' keyPrefix='' secmod='secmod.db' flags= ";
        pkcs11.C_Initialize(args);
        long[] slots = pkcs11.C_GetSlotList(true);
        assertTrue(slots.length >= 1, "the softoken has its crypto slot");
        session = pkcs11.C_OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, null, null);
    }

    @AfterAll
    void finalizeModule() throws Exception {
        if (pkcs11 == null) {
            return;
        }
        try {
            pkcs11.C_CloseSession(session);
            pkcs11.C_Finalize(null);
        } finally {
            pkcs11.disconnect();
        }
    }

    private static byte[] data(int length) {
        byte[] bytes = new byte[length];
        for (int i = 0; i < length; i++) {
            bytes[i] = (byte) (i * 5 + 1);
        }
        return bytes;
    }

    private static CK_ATTRIBUTE[] readableSecret(long keyType, long length) {
        return new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_CLASS, CKO_SECRET_KEY),
            new CK_ATTRIBUTE(CKA_KEY_TYPE, keyType),
            new CK_ATTRIBUTE(CKA_VALUE_LEN, length),
            new CK_ATTRIBUTE(CKA_TOKEN, false),
            new CK_ATTRIBUTE(CKA_SENSITIVE, false),
            new CK_ATTRIBUTE(CKA_EXTRACTABLE, true),
            new CK_ATTRIBUTE(CKA_ENCRYPT, true),
            new CK_ATTRIBUTE(CKA_DECRYPT, true),
        };
    }

    // ---- ECDH with a key derivation function

    /** The key derivation function of ANSI X9.63 with SHA-256. */
    private static byte[] x963Sha256(byte[] z, byte[] sharedInfo, int length) throws Exception {
        byte[] out = new byte[length];
        for (int counter = 1, done = 0; done < length; counter++, done += 32) {
            MessageDigest sha = MessageDigest.getInstance("SHA-256");
            sha.update(z);
            sha.update(new byte[] {0, 0, 0, (byte) counter});
            sha.update(sharedInfo);
            System.arraycopy(sha.digest(), 0, out, done, Math.min(32, length - done));
        }
        return out;
    }

    @Test
    void ecdhWithKdfAndSharedDataAgreesWithTheJdk() throws Exception {
        CK_ATTRIBUTE[] publicTemplate = {
            new CK_ATTRIBUTE(CKA_TOKEN, false),
            new CK_ATTRIBUTE(CKA_EC_PARAMS, RealModules.P256_PARAMS),
        };
        CK_ATTRIBUTE[] privateTemplate = {
            new CK_ATTRIBUTE(CKA_TOKEN, false),
            new CK_ATTRIBUTE(CKA_PRIVATE, true),
            new CK_ATTRIBUTE(CKA_DERIVE, true),
        };
        long[] pair = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_EC_KEY_PAIR_GEN), publicTemplate,
                privateTemplate);
        ECPublicKey tokenPublic = RealModules.ecPublicKey(RealModules.bytes(pkcs11, session, pair[0], CKA_EC_POINT));
        KeyPairGenerator generator = KeyPairGenerator.getInstance("EC");
        generator.initialize(new ECGenParameterSpec("secp256r1"));
        KeyPair jdkPair = generator.generateKeyPair();
        KeyAgreement agreement = KeyAgreement.getInstance("ECDH");
        agreement.init(jdkPair.getPrivate());
        agreement.doPhase(tokenPublic, true);
        byte[] z = agreement.generateSecret();

        // 40 bytes: two rounds of the KDF, so that its counter is exercised.
        byte[] sharedInfo = data(11);
        CK_ECDH1_DERIVE_PARAMS params = new CK_ECDH1_DERIVE_PARAMS(CKD_SHA256_KDF, sharedInfo,
                RealModules.uncompressed((ECPublicKey) jdkPair.getPublic()));
        long secret = pkcs11.C_DeriveKey(session, new CK_MECHANISM(CKM_ECDH1_DERIVE, params), pair[1],
                readableSecret(CKK_GENERIC_SECRET, 40));
        assertArrayEquals(x963Sha256(z, sharedInfo, 40), RealModules.bytes(pkcs11, session, secret, CKA_VALUE));
    }
}
