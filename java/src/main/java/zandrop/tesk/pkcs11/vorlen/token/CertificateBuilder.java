package zandrop.tesk.pkcs11.vorlen.token;

import java.math.BigInteger;
import java.net.InetAddress;
import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.Signature;
import java.security.cert.X509Certificate;
import java.time.Instant;
import java.time.ZoneOffset;
import java.time.ZonedDateTime;
import java.time.format.DateTimeFormatter;
import java.time.temporal.ChronoUnit;
import java.util.ArrayList;
import java.util.List;
import java.util.Objects;

import javax.security.auth.x500.X500Principal;

/**
 * An X.509 v3 certificate of a public key, built and signed without a certificate authority or
 * a tool: self-signed by default, or issued by another key; with subject alternative names for a
 * TLS server, or as a CA. The issuer's key may live on a token (sign through the provider that
 * holds it) or in the JDK. RSA keys sign with SHA256withRSA, EC keys with SHA256withECDSA.
 *
 * <pre>{@code
 * X509Certificate cert = CertificateBuilder.of(publicKey, "CN=localhost")
 *         .dnsName("localhost").ipAddress(InetAddress.getLoopbackAddress())
 *         .sign(privateKey, provider);
 * }</pre>
 */
public final class CertificateBuilder {
    private static final DateTimeFormatter UTC_TIME = DateTimeFormatter.ofPattern("yyMMddHHmmss'Z'");
    private static final DateTimeFormatter GENERALIZED_TIME = DateTimeFormatter.ofPattern("yyyyMMddHHmmss'Z'");

    private final PublicKey subjectKey;
    private final X500Principal subject;
    private X500Principal issuer;
    private PublicKey issuerKey;
    private BigInteger serial;
    private Instant notBefore;
    private Instant notAfter;
    private boolean ca;
    private final List<byte[]> alternativeNames = new ArrayList<>();

    private CertificateBuilder(PublicKey subjectKey, X500Principal subject) {
        this.subjectKey = subjectKey;
        this.subject = subject;
        this.issuer = subject;
        this.issuerKey = subjectKey;
        Instant now = Instant.now().truncatedTo(ChronoUnit.SECONDS);
        this.notBefore = now.minus(1, ChronoUnit.DAYS);
        this.notAfter = now.plus(366, ChronoUnit.DAYS);
    }

    /**
     * A builder of a certificate of this key, valid from a day ago for a year, with a random
     * positive serial number of 63 bits, self-signed unless {@link #issuer} says otherwise.
     *
     * @param subjectKey the certified key
     * @param subject the subject's distinguished name, such as {@code "CN=localhost"}
     * @throws IllegalArgumentException if the name is not a distinguished name
     */
    public static CertificateBuilder of(PublicKey subjectKey, String subject) {
        return new CertificateBuilder(Objects.requireNonNull(subjectKey, "subjectKey"),
                new X500Principal(Objects.requireNonNull(subject, "subject")));
    }

    /** The issuer's name and public key (the key verifies the signature once made). */
    public CertificateBuilder issuer(String name, PublicKey key) {
        this.issuer = new X500Principal(Objects.requireNonNull(name, "name"));
        this.issuerKey = Objects.requireNonNull(key, "key");
        return this;
    }

    /** The serial number, which must be positive. */
    public CertificateBuilder serial(BigInteger number) {
        if (number.signum() <= 0) {
            throw new IllegalArgumentException("a certificate's serial number must be positive, not " + number);
        }
        this.serial = number;
        return this;
    }

    /** The validity, both ends included (to the second). */
    public CertificateBuilder validity(Instant from, Instant to) {
        if (to.isBefore(from)) {
            throw new IllegalArgumentException("the validity ends (" + to + ") before it starts (" + from + ")");
        }
        this.notBefore = from;
        this.notAfter = to;
        return this;
    }

    /** Marks the certificate a CA's (basic constraints, critical, CA true). */
    public CertificateBuilder ca() {
        this.ca = true;
        return this;
    }

    /** Adds a DNS name to the subject alternative names. */
    public CertificateBuilder dnsName(String name) {
        alternativeNames.add(Der.item(0x82, name.getBytes(StandardCharsets.US_ASCII)));
        return this;
    }

    /** Adds an IP address to the subject alternative names. */
    public CertificateBuilder ipAddress(InetAddress address) {
        alternativeNames.add(Der.item(0x87, address.getAddress()));
        return this;
    }

    /**
     * Signs the certificate with the issuer's private key and verifies the signature with the
     * issuer's public key.
     *
     * @param issuerPrivateKey the issuer's private key (the subject's own when self-signed)
     * @param provider the provider that signs with it, or null for the JDK's choice
     * @return the certificate, read back by the JDK's {@code CertificateFactory}
     * @throws GeneralSecurityException if the signature cannot be made or does not verify
     */
    public X509Certificate sign(PrivateKey issuerPrivateKey, Provider provider) throws GeneralSecurityException {
        boolean rsa = "RSA".equals(issuerPrivateKey.getAlgorithm());
        if (!rsa && !"EC".equals(issuerPrivateKey.getAlgorithm())) {
            throw new IllegalArgumentException("certificates are signed with RSA or EC keys, not "
                    + issuerPrivateKey.getAlgorithm());
        }
        byte[] algorithm = rsa
                ? Der.item(Der.SEQUENCE, Der.oid("1.2.840.113549.1.1.11"), Der.item(0x05)) // sha256WithRSAEncryption
                : Der.item(Der.SEQUENCE, Der.oid("1.2.840.10045.4.3.2")); // ecdsa-with-SHA256
        BigInteger number = serial != null ? serial : new BigInteger(63, new SecureRandom()).add(BigInteger.ONE);
        byte[] tbs = Der.item(Der.SEQUENCE,
                Der.item(0xA0, Der.integer(BigInteger.TWO)),
                Der.integer(number),
                algorithm, issuer.getEncoded(),
                Der.item(Der.SEQUENCE, time(notBefore), time(notAfter)),
                subject.getEncoded(), subjectKey.getEncoded(),
                extensions());
        Signature signer = provider != null
                ? Signature.getInstance(rsa ? "SHA256withRSA" : "SHA256withECDSA", provider)
                : Signature.getInstance(rsa ? "SHA256withRSA" : "SHA256withECDSA");
        signer.initSign(issuerPrivateKey);
        signer.update(tbs);
        byte[] signature = signer.sign();
        X509Certificate certificate = JdkFormats.certificate(
                Der.item(Der.SEQUENCE, tbs, algorithm, Der.item(Der.BIT_STRING, new byte[] {0}, signature)));
        certificate.verify(issuerKey);
        return certificate;
    }

    private byte[] extensions() {
        List<byte[]> list = new ArrayList<>();
        if (ca) {
            list.add(Der.item(Der.SEQUENCE, Der.oid("2.5.29.19"), Der.item(0x01, new byte[] {(byte) 0xFF}),
                    Der.item(Der.OCTET_STRING, Der.item(Der.SEQUENCE, Der.item(0x01, new byte[] {(byte) 0xFF})))));
        }
        if (!alternativeNames.isEmpty()) {
            list.add(Der.item(Der.SEQUENCE, Der.oid("2.5.29.17"),
                    Der.item(Der.OCTET_STRING, Der.item(Der.SEQUENCE, alternativeNames.toArray(new byte[0][])))));
        }
        return list.isEmpty() ? new byte[0] : Der.item(0xA3, Der.item(Der.SEQUENCE, list.toArray(new byte[0][])));
    }

    // RFC 5280: UTCTime up to 2049, GeneralizedTime from 2050 on.
    private static byte[] time(Instant instant) {
        ZonedDateTime at = instant.atZone(ZoneOffset.UTC);
        boolean utc = at.getYear() >= 1950 && at.getYear() < 2050;
        return Der.item(utc ? 0x17 : 0x18, at.format(utc ? UTC_TIME : GENERALIZED_TIME).getBytes(StandardCharsets.US_ASCII));
    }
}
