package zandrop.tesk.pkcs11.vorlen.token;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.security.AlgorithmParameters;
import java.security.KeyFactory;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.PublicKey;
import java.security.Signature;
import java.security.cert.X509Certificate;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.ECParameterSpec;
import java.security.spec.ECPublicKeySpec;
import java.security.spec.EdECPrivateKeySpec;
import java.security.spec.KeySpec;
import java.security.spec.NamedParameterSpec;
import java.security.spec.XECPrivateKeySpec;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;

import org.ietf.jgss.Oid;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.EnumSource;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;

/**
 * The JDK's formats against the JDK's own classes: curve identifiers against the JDK's DER of
 * object identifiers and its EC parameters, public keys through its KeyFactory, ECDSA
 * signatures of SunEC in both forms, certificates through its CertificateFactory. RealJdkFormatsTest
 * takes the same values to and from SoftHSM2.
 */
class JdkFormatsTest {

    static KeyPair generate(Curve curve) throws Exception {
        return curve.kind() == Curve.Kind.WEIERSTRASS ? TestCertificates.jdkPair(curve.jdkName())
                : KeyPairGenerator.getInstance(curve.jdkName()).generateKeyPair();
    }

    @ParameterizedTest
    @EnumSource(Curve.class)
    void curvesAndPublicKeysRoundTripThroughTheJdk(Curve curve) throws Exception {
        byte[] params = JdkFormats.ecParams(curve);
        assertArrayEquals(new Oid(curve.oid()).getDER(), params, "the JDK's DER of the identifier");
        assertEquals(curve, JdkFormats.curve(params));
        assertEquals(curve, Curve.forName(curve.oid()));
        assertEquals(curve, Curve.forName(curve.jdkName().toUpperCase(java.util.Locale.ROOT)));
        PublicKey key;
        if (curve == Curve.SECP256K1) {
            // The JDK generates no such keys since JDK 16, but knows the curve's parameters.
            ECParameterSpec spec = curve.ecParameterSpec();
            key = KeyFactory.getInstance("EC").generatePublic(new ECPublicKeySpec(spec.getGenerator(), spec));
        } else {
            key = generate(curve).getPublic();
        }
        byte[] point = JdkFormats.ecPoint(key);
        assertEquals(key, JdkFormats.publicKey(params, point), "the JDK's key from CKA_EC_POINT");
        byte[] raw = Arrays.copyOfRange(point, point.length - (point[1] == (byte) 0x81 ? point[2] & 0xFF : point[1]), point.length);
        assertEquals(key, JdkFormats.publicKey(params, raw), "from a bare point, as some tokens give it");
        if (curve.kind() == Curve.Kind.WEIERSTRASS) {
            AlgorithmParameters jdk = AlgorithmParameters.getInstance("EC");
            jdk.init(new ECGenParameterSpec(curve.jdkName()));
            assertArrayEquals(jdk.getEncoded(), params, "SunEC's encoding of the named curve");
            assertEquals(curve, Curve.of(((ECPublicKey) key).getParams()));
            byte[] compressed = Arrays.copyOf(raw, 1 + curve.size());
            compressed[0] = (byte) (((ECPublicKey) key).getW().getAffineY().testBit(0) ? 3 : 2);
            assertEquals(key, JdkFormats.publicKey(params, compressed), "from a compressed point");
            raw[raw.length - 1] ^= 1;
            byte[] offCurve = raw;
            assertThrows(IllegalArgumentException.class, () -> JdkFormats.publicKey(params, offCurve));
            assertThrows(IllegalArgumentException.class, () -> JdkFormats.ecParamsPrintable(curve));
        } else {
            byte[] printable = JdkFormats.ecParamsPrintable(curve);
            assertEquals(curve, JdkFormats.curve(printable));
            assertEquals(key, JdkFormats.publicKey(printable, point));
            // The JDK's own key names the curve by the same identifier.
            assertTrue(HexFormat.of().formatHex(key.getEncoded()).contains(HexFormat.of().formatHex(params)));
        }
        assertThrows(IllegalArgumentException.class, () -> JdkFormats.publicKey(params, Arrays.copyOf(point, point.length + 1)));
        assertThrows(IllegalArgumentException.class, () -> JdkFormats.publicKey(params, Arrays.copyOf(point, point.length - 1)));
    }

    @ParameterizedTest
    @CsvSource({
        "06082a8648ce3d030107ff, bytes after the end",
        "06092a8648ce3d030107, where 8 remain",
        "0681082a8648ce3d030107, long form",
        "06032b65f0, malformed object identifier",
        "06032b6579, 1.3.101.121, which is none",
        "130a65647761726473323535, \"edwards255\"",
        "1309637572766532353531, \"curve2551\"",
        "3000, explicit curve parameters",
        "0400, tag 0x04",
    })
    void malformedOrUnknownEcParamsAreRefused(String hex, String reason) {
        byte[] value = HexFormat.of().parseHex(hex);
        IllegalArgumentException e = assertThrows(IllegalArgumentException.class, () -> JdkFormats.curve(value));
        assertTrue(e.getMessage().contains(reason), e.getMessage());
    }

    @Test
    void ecdsaSignaturesConvertAsSunEcWritesThem() throws Exception {
        byte[] data = "the data".getBytes(StandardCharsets.UTF_8);
        for (Curve curve : List.of(Curve.P_256, Curve.P_384, Curve.P_521)) {
            KeyPair pair = generate(curve);
            // Signatures until one has an r or s shorter than the curve's size (1 in 128 for P-256).
            boolean shortSeen = false;
            for (int i = 0; i < 20 || !shortSeen && i < 10000; i++) {
                byte[] der = sign("SHA256withECDSA", pair, data);
                byte[] raw = JdkFormats.ecdsaFromDer(der, curve);
                assertTrue(verify("SHA256withECDSAinP1363Format", pair, data, raw));
                assertArrayEquals(der, JdkFormats.ecdsaToDer(raw, curve));
                shortSeen |= raw[0] == 0 || raw[curve.size()] == 0;
            }
            assertTrue(shortSeen, "a short r or s was seen");
            byte[] raw = sign("SHA256withECDSAinP1363Format", pair, data);
            assertTrue(verify("SHA256withECDSA", pair, data, JdkFormats.ecdsaToDer(raw, curve)));
            assertThrows(IllegalArgumentException.class, () -> JdkFormats.ecdsaToDer(Arrays.copyOf(raw, raw.length - 1), curve));
            assertThrows(IllegalArgumentException.class, () -> JdkFormats.ecdsaToDer(Arrays.copyOf(raw, raw.length + 2), curve));
        }
        assertThrows(IllegalArgumentException.class, () -> JdkFormats.ecdsaToDer(new byte[64], Curve.ED25519));
    }

    @ParameterizedTest
    @CsvSource({
        "3006020101020101, ",                      // valid: r = s = 1
        "30060201010201010000, bytes after the end",
        "3007020101020101, where 6 remain",
        "308106020101020101, long form",
        "3080020101020101, indefinite length",
        "300702020001020101, not a minimal INTEGER",
        "3006020100020101, not positive",
        "30060201ff020101, not positive",
        "30050201010200, s is an empty INTEGER",
        "30080201010201010500, bytes after the end",
        "3006020101030101, tag 0x03",
        "3104020101020101, tag 0x31",
        "3026022101ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff020101, longer than 32 bytes",
    })
    void ecdsaDerIsReadStrictly(String hex, String reason) {
        byte[] der = HexFormat.of().parseHex(hex);
        if (reason == null) {
            byte[] raw = JdkFormats.ecdsaFromDer(der, Curve.P_256);
            assertEquals(1, raw[31]);
            assertEquals(1, raw[63]);
            return;
        }
        IllegalArgumentException e = assertThrows(IllegalArgumentException.class, () -> JdkFormats.ecdsaFromDer(der, Curve.P_256));
        assertTrue(e.getMessage().contains(reason), e.getMessage());
    }

    @Test
    void rsaKeysAndUnsignedNumbers() throws Exception {
        KeyPair pair = KeyPairGenerator.getInstance("RSA").generateKeyPair();
        RSAPublicKey key = (RSAPublicKey) pair.getPublic();
        assertEquals(key, JdkFormats.rsaPublicKey(JdkFormats.unsigned(key.getModulus()),
                JdkFormats.unsigned(key.getPublicExponent())));
        assertArrayEquals(new byte[] {(byte) 0x80}, JdkFormats.unsigned(BigInteger.valueOf(128)));
        assertArrayEquals(new byte[] {0}, JdkFormats.unsigned(BigInteger.ZERO));
        assertThrows(IllegalArgumentException.class, () -> JdkFormats.unsigned(BigInteger.ONE.negate()));
        assertThrows(IllegalArgumentException.class, () -> JdkFormats.rsaPublicKey(new byte[] {0}, new byte[] {3}));
    }

    @Test
    void certificatesAndTemplates() throws Exception {
        KeyPair pair = generate(Curve.P_256);
        X509Certificate certificate = TestCertificates.selfSigned(pair, "CN=vorlen test, O=zandrop");
        byte[] der = certificate.getEncoded();
        assertThrows(IllegalArgumentException.class, () -> JdkFormats.certificate(Arrays.copyOf(der, der.length + 1)));
        assertThrows(IllegalArgumentException.class, () -> JdkFormats.certificate(Arrays.copyOf(der, der.length - 1)));

        CK_ATTRIBUTE[] template = JdkFormats.certificateTemplate(certificate,
                JdkFormats.ImportOptions.defaults().label("c\u00e9").id(new byte[] {5}));
        assertEquals(PKCS11Constants.CKO_CERTIFICATE, value(template, PKCS11Constants.CKA_CLASS));
        assertArrayEquals(der, (byte[]) value(template, PKCS11Constants.CKA_VALUE));
        assertArrayEquals("c\u00e9".getBytes(StandardCharsets.UTF_8), (byte[]) value(template, PKCS11Constants.CKA_LABEL));
        assertArrayEquals(HexFormat.of().parseHex("020900fedcba9876543210"), (byte[]) value(template, PKCS11Constants.CKA_SERIAL_NUMBER));

        CK_ATTRIBUTE[] privateKey = JdkFormats.privateKeyTemplate(pair.getPrivate(), JdkFormats.ImportOptions.defaults());
        assertEquals(Boolean.TRUE, value(privateKey, PKCS11Constants.CKA_SENSITIVE));
        assertEquals(Boolean.FALSE, value(privateKey, PKCS11Constants.CKA_EXTRACTABLE));
        assertEquals(Boolean.TRUE, value(privateKey, PKCS11Constants.CKA_PRIVATE));
        assertEquals(32, ((byte[]) value(privateKey, PKCS11Constants.CKA_VALUE)).length);
        CK_ATTRIBUTE[] exportable = JdkFormats.privateKeyTemplate(pair.getPrivate(),
                JdkFormats.ImportOptions.defaults().sensitive(false).extractable(true).token(false));
        assertEquals(Boolean.FALSE, value(exportable, PKCS11Constants.CKA_SENSITIVE));
        assertEquals(Boolean.TRUE, value(exportable, PKCS11Constants.CKA_EXTRACTABLE));
        assertEquals(Boolean.FALSE, value(exportable, PKCS11Constants.CKA_TOKEN));
        // The private values of EdDSA and XDH keys, which SoftHSM2 cannot all take, rebuild the
        // JDK's own key (RealJdkFormatsTest signs with the others on the token).
        for (Curve curve : List.of(Curve.ED25519, Curve.ED448, Curve.X25519, Curve.X448)) {
            KeyPair edOrX = generate(curve);
            CK_ATTRIBUTE[] imported = JdkFormats.privateKeyTemplate(edOrX.getPrivate(), JdkFormats.ImportOptions.defaults());
            byte[] privateValue = (byte[]) value(imported, PKCS11Constants.CKA_VALUE);
            NamedParameterSpec named = new NamedParameterSpec(curve.jdkName());
            KeySpec spec = curve.kind() == Curve.Kind.EDWARDS ? new EdECPrivateKeySpec(named, privateValue)
                    : new XECPrivateKeySpec(named, privateValue);
            assertEquals(edOrX.getPrivate(), KeyFactory.getInstance(curve.jdkName()).generatePrivate(spec), curve.jdkName());
            assertEquals(curve.keyType(), value(imported, PKCS11Constants.CKA_KEY_TYPE));
            assertEquals(curve, JdkFormats.curve((byte[]) value(imported, PKCS11Constants.CKA_EC_PARAMS)));
            assertEquals(edOrX.getPublic(), JdkFormats.publicKey(JdkFormats.ecParams(curve), (byte[]) value(
                    JdkFormats.publicKeyTemplate(edOrX.getPublic(), JdkFormats.ImportOptions.defaults()), PKCS11Constants.CKA_EC_POINT)));
        }
        KeyPair dsa = KeyPairGenerator.getInstance("DSA").generateKeyPair();
        assertThrows(IllegalArgumentException.class,
                () -> JdkFormats.privateKeyTemplate(dsa.getPrivate(), JdkFormats.ImportOptions.defaults()));
        assertThrows(IllegalArgumentException.class,
                () -> JdkFormats.publicKeyTemplate(dsa.getPublic(), JdkFormats.ImportOptions.defaults()));
    }

    @Test
    void certificatesAreBuiltForServersAndCasAcrossTheYear2050() throws Exception {
        KeyPair ca = KeyPairGenerator.getInstance("RSA").generateKeyPair();
        KeyPair server = TestCertificates.jdkPair("secp256r1");
        java.time.Instant from = java.time.Instant.parse("2049-06-01T00:00:00Z");
        java.time.Instant to = java.time.Instant.parse("2051-06-01T12:30:45Z");
        X509Certificate issued = CertificateBuilder.of(server.getPublic(), "CN=server").issuer("CN=ca", ca.getPublic())
                .validity(from, to).dnsName("localhost")
                .ipAddress(java.net.InetAddress.getByAddress(new byte[] {127, 0, 0, 1})).sign(ca.getPrivate(), null);
        assertEquals(from, issued.getNotBefore().toInstant()); // UTCTime
        assertEquals(to, issued.getNotAfter().toInstant()); // GeneralizedTime from 2050 on
        assertEquals("CN=ca", issued.getIssuerX500Principal().getName());
        assertEquals(-1, issued.getBasicConstraints());
        assertEquals(List.of(List.of(2, "localhost"), List.of(7, "127.0.0.1")),
                issued.getSubjectAlternativeNames().stream().map(n -> List.copyOf(n)).toList());
        assertTrue(issued.getSerialNumber().signum() > 0);

        X509Certificate root = CertificateBuilder.of(ca.getPublic(), "CN=ca").ca().serial(BigInteger.TEN).sign(ca.getPrivate(), null);
        assertEquals(Integer.MAX_VALUE, root.getBasicConstraints());
        assertEquals(BigInteger.TEN, root.getSerialNumber());
        assertThrows(IllegalArgumentException.class, () -> CertificateBuilder.of(ca.getPublic(), "CN=x").serial(BigInteger.ZERO));
        assertThrows(IllegalArgumentException.class, () -> CertificateBuilder.of(ca.getPublic(), "CN=x").validity(to, from));
        // signed by a key other than the named issuer's: the signature does not verify
        KeyPair other = TestCertificates.jdkPair("secp256r1");
        assertThrows(java.security.SignatureException.class, () -> CertificateBuilder.of(server.getPublic(), "CN=s")
                .issuer("CN=other", other.getPublic()).sign(server.getPrivate(), null));
    }

    static Object value(CK_ATTRIBUTE[] template, long type) {
        return Arrays.stream(template).filter(a -> a.type == type).findFirst().orElseThrow().pValue;
    }

    static byte[] sign(String algorithm, KeyPair pair, byte[] data) throws Exception {
        Signature signature = Signature.getInstance(algorithm);
        signature.initSign(pair.getPrivate());
        signature.update(data);
        return signature.sign();
    }

    static boolean verify(String algorithm, KeyPair pair, byte[] data, byte[] signed) throws Exception {
        Signature signature = Signature.getInstance(algorithm);
        signature.initVerify(pair.getPublic());
        signature.update(data);
        return signature.verify(signed);
    }
}
