package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.charset.StandardCharsets;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.MessageDigest;
import java.security.PublicKey;
import java.security.Signature;
import java.util.List;


import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.token.Curve;
import zandrop.tesk.pkcs11.vorlen.token.JdkFormats;
import zandrop.tesk.pkcs11.vorlen.token.JdkFormats.ImportOptions;
import zandrop.tesk.pkcs11.vorlen.token.TestCertificates;

/**
 * The JDK's formats on SoftHSM2, with SunEC and SunRsaSign as the oracle: JDK keys imported
 * with the templates sign on the token and the JDK verifies; the JDK signs and the token
 * verifies with the imported public key; the token's own keys become JDK keys that verify its
 * signatures; an imported EC key agrees with the JDK on an ECDH secret; a certificate goes onto
 * the token and comes back.
 */
class RealJdkFormatsTest extends RealModules.SoftHsmSuite {
    RealJdkFormatsTest() {
        super("jdk-formats");
    }

    private static final byte[] DATA = "signed on one side, verified on the other".getBytes(StandardCharsets.UTF_8);

    /** A JDK key pair on the curve, or of RSA (2048 bits) for null. */
    private static KeyPair generate(Curve curve) throws Exception {
        if (curve == null) {
            return TestCertificates.jdkPair("RSA");
        }
        return curve.kind() == Curve.Kind.WEIERSTRASS ? TestCertificates.jdkPair(curve.jdkName())
                : KeyPairGenerator.getInstance(curve.jdkName()).generateKeyPair();
    }

    /** The token's signature of DATA in the form the JDK reads (ECDSA: hashed on the host, DER). */
    private static byte[] tokenSigns(PKCS11Impl pkcs11, long session, long key, Curve curve) throws Exception {
        if (curve == null) {
            pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), key);
            return pkcs11.C_Sign(session, DATA);
        }
        if (curve.kind() == Curve.Kind.EDWARDS) {
            pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_EDDSA), key);
            return pkcs11.C_Sign(session, DATA);
        }
        // SoftHSM2 has CKM_ECDSA only: the host hashes.
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_ECDSA), key);
        byte[] raw = pkcs11.C_Sign(session, MessageDigest.getInstance("SHA-256").digest(DATA));
        return JdkFormats.ecdsaToDer(raw, curve);
    }

    private static String jdkAlgorithm(Curve curve) {
        return curve == null ? "SHA256withRSA" : curve.kind() == Curve.Kind.EDWARDS ? curve.jdkName() : "SHA256withECDSA";
    }

    private static boolean jdkVerifies(PublicKey key, Curve curve, byte[] signature) throws Exception {
        return RealModules.jdkVerifies(jdkAlgorithm(curve), key, DATA, signature);
    }

    @Test
    void jdkKeysImportedSignOnTheTokenAndVerifyThere() throws Exception {
        // null stands for RSA.
        for (Curve curve : java.util.Arrays.asList(null, Curve.P_256, Curve.P_384, Curve.P_521, Curve.ED25519, Curve.ED448)) {
            String name = curve == null ? "RSA" : curve.jdkName();
            KeyPair pair = generate(curve);
            ImportOptions options = ImportOptions.defaults().label("jdk " + name).id(name.getBytes(StandardCharsets.UTF_8));
            long privateKey = pkcs11.C_CreateObject(session, JdkFormats.privateKeyTemplate(pair.getPrivate(), options));
            CK_ATTRIBUTE[] flags = RealModules.read(pkcs11, session, privateKey, CKA_SENSITIVE, CKA_EXTRACTABLE);
            assertEquals(true, flags[0].getBoolean(), name);
            assertEquals(false, flags[1].getBoolean(), name);

            byte[] signature = tokenSigns(pkcs11, session, privateKey, curve);
            assertTrue(jdkVerifies(pair.getPublic(), curve, signature), name + ": the JDK verifies the token's signature");

            long publicKey = pkcs11.C_CreateObject(session, JdkFormats.publicKeyTemplate(pair.getPublic(), options));
            byte[] jdkSignature = RealModules.sign(Signature.getInstance(jdkAlgorithm(curve)), pair.getPrivate(), DATA);
            byte[] data = DATA;
            long mechanism = curve == null ? CKM_SHA256_RSA_PKCS : curve.kind() == Curve.Kind.EDWARDS ? CKM_EDDSA : CKM_ECDSA;
            if (mechanism == CKM_ECDSA) {
                jdkSignature = JdkFormats.ecdsaFromDer(jdkSignature, curve);
                data = MessageDigest.getInstance("SHA-256").digest(DATA);
            }
            pkcs11.C_VerifyInit(session, new CK_MECHANISM(mechanism), publicKey);
            pkcs11.C_Verify(session, data, jdkSignature); // throws unless the token verifies
            jdkSignature[jdkSignature.length / 2] ^= 1;
            pkcs11.C_VerifyInit(session, new CK_MECHANISM(mechanism), publicKey);
            byte[] tamperedData = data;
            byte[] tampered = jdkSignature;
            PKCS11Exception e = assertThrows(PKCS11Exception.class, () -> pkcs11.C_Verify(session, tamperedData, tampered));
            assertEquals(CKR_SIGNATURE_INVALID, e.getErrorCode(), name);

            if (curve != null) {
                byte[][] values = {RealModules.bytes(pkcs11, session, publicKey, CKA_EC_PARAMS),
                    RealModules.bytes(pkcs11, session, publicKey, CKA_EC_POINT)};
                assertEquals(pair.getPublic(), JdkFormats.publicKey(values[0], values[1]), name + " reads back");
            }
        }
    }

    @Test
    void tokenKeysBecomeJdkKeysThatVerifyTheTokensSignatures() throws Exception {
        for (Curve curve : java.util.Arrays.asList(null, Curve.P_256, Curve.P_521, Curve.ED25519)) {
            CK_ATTRIBUTE[] publicTemplate;
            long mechanism;
            if (curve == null) {
                mechanism = CKM_RSA_PKCS_KEY_PAIR_GEN;
                publicTemplate = RealModules.template(CKA_MODULUS_BITS, 2048L, CKA_VERIFY, true);
            } else {
                mechanism = curve.kind() == Curve.Kind.EDWARDS ? CKM_EC_EDWARDS_KEY_PAIR_GEN : CKM_EC_KEY_PAIR_GEN;
                publicTemplate = RealModules.template(CKA_EC_PARAMS, JdkFormats.ecParams(curve), CKA_VERIFY, true);
            }
            long[] keys = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(mechanism), publicTemplate,
                    RealModules.template(CKA_SIGN, true, CKA_PRIVATE, true));
            PublicKey jdkKey = curve == null
                    ? JdkFormats.rsaPublicKey(RealModules.bytes(pkcs11, session, keys[0], CKA_MODULUS),
                            RealModules.bytes(pkcs11, session, keys[0], CKA_PUBLIC_EXPONENT))
                    : JdkFormats.publicKey(RealModules.bytes(pkcs11, session, keys[0], CKA_EC_PARAMS),
                            RealModules.bytes(pkcs11, session, keys[0], CKA_EC_POINT));
            assertEquals(curve, curve == null ? null : JdkFormats.curve(RealModules.bytes(pkcs11, session, keys[0], CKA_EC_PARAMS)));
            byte[] signature = tokenSigns(pkcs11, session, keys[1], curve);
            assertTrue(jdkVerifies(jdkKey, curve, signature), curve + ": the JDK verifies with the converted key");
            signature[signature.length - 1] ^= 1;
            assertFalse(jdkVerifies(jdkKey, curve, signature), curve + ": a changed signature fails");
        }
    }

    /**
     * SoftHSM2 2.6 has no Montgomery keys (it refuses CKK_EC_MONTGOMERY objects): the XDH
     * templates are proven against the JDK alone, in JdkFormatsTest.
     */
    @Test
    void importedEcKeyAgreesWithTheJdkAndACertificateComesBack() throws Exception {
        for (Curve curve : List.of(Curve.P_256, Curve.P_384)) {
            KeyPair ours = generate(curve);
            KeyPair peer = generate(curve);
            long privateKey = pkcs11.C_CreateObject(session,
                    JdkFormats.privateKeyTemplate(ours.getPrivate(), ImportOptions.defaults().token(false)));
            // The peer's public value: the point or key inside CKA_EC_POINT.
            byte[] ecPoint = JdkFormats.ecPoint(peer.getPublic());
            byte[] publicData = java.util.Arrays.copyOfRange(ecPoint, 2, ecPoint.length);
            long secret = pkcs11.C_DeriveKey(session,
                    new CK_MECHANISM(CKM_ECDH1_DERIVE, new CK_ECDH1_DERIVE_PARAMS(CKD_NULL, null, publicData)),
                    privateKey, RealModules.template(CKA_CLASS, CKO_SECRET_KEY, CKA_KEY_TYPE, CKK_GENERIC_SECRET,
                            CKA_VALUE_LEN, (long) curve.size(), CKA_SENSITIVE, false, CKA_EXTRACTABLE, true));
            assertArrayEquals(RealModules.jdkAgreed(curve.kind() == Curve.Kind.WEIERSTRASS ? "ECDH" : "XDH", ours.getPrivate(),
                    peer.getPublic()), RealModules.bytes(pkcs11, session, secret, CKA_VALUE),
                    curve + ": the token and the JDK agree");
        }

        KeyPair pair = generate(Curve.P_256);
        java.security.cert.X509Certificate certificate = TestCertificates.selfSigned(pair, "CN=vorlen token test");
        long object = pkcs11.C_CreateObject(session, JdkFormats.certificateTemplate(certificate,
                ImportOptions.defaults().label("cert").id(new byte[] {1})));
        assertEquals(certificate, JdkFormats.certificate(RealModules.bytes(pkcs11, session, object, CKA_VALUE)));
        assertArrayEquals(certificate.getSubjectX500Principal().getEncoded(),
                RealModules.bytes(pkcs11, session, object, CKA_SUBJECT));
    }
}
