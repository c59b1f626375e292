package zandrop.tesk.pkcs11.vorlen.token;

import java.math.BigInteger;
import java.net.InetAddress;
import java.security.GeneralSecurityException;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.PublicKey;
import java.security.cert.X509Certificate;
import java.time.Instant;

/** Certificates for the tests, made by the layer's builder with fixed serial numbers and dates. */
public final class TestCertificates {
    private static final Instant FROM = Instant.parse("2025-01-01T00:00:00Z");
    private static final Instant TO = Instant.parse("2045-01-01T00:00:00Z");

    private TestCertificates() {
    }

    /** A JDK key pair: RSA of 2048 bits for "RSA", else EC on the named curve (such as "secp256r1"). */
    public static KeyPair jdkPair(String curve) throws GeneralSecurityException {
        KeyPairGenerator generator = KeyPairGenerator.getInstance(curve.equals("RSA") ? "RSA" : "EC");
        if (curve.equals("RSA")) {
            generator.initialize(2048);
        } else {
            generator.initialize(new java.security.spec.ECGenParameterSpec(curve));
        }
        return generator.generateKeyPair();
    }

    /**
     * A self-signed certificate of a P-256 or RSA key pair, signed by SunEC or SunRsaSign, serial
     * number 0xFEDCBA9876543210.
     */
    public static X509Certificate selfSigned(KeyPair pair, String name) throws Exception {
        return CertificateBuilder.of(pair.getPublic(), name).serial(new BigInteger("fedcba9876543210", 16))
                .validity(FROM, TO).sign(pair.getPrivate(), null);
    }

    /**
     * A certificate of a public key, signed by an issuer's JDK key pair: a CA or, when not, an
     * end entity for localhost and 127.0.0.1.
     */
    public static X509Certificate issued(long serial, PublicKey subjectKey, String subject, KeyPair issuer,
            String issuerName, boolean ca) throws Exception {
        CertificateBuilder builder = CertificateBuilder.of(subjectKey, subject).serial(BigInteger.valueOf(serial))
                .validity(FROM, TO).issuer(issuerName, issuer.getPublic());
        if (ca) {
            builder.ca();
        } else {
            builder.dnsName("localhost").ipAddress(InetAddress.getByAddress(new byte[] {127, 0, 0, 1}));
        }
        return builder.sign(issuer.getPrivate(), null);
    }
}
