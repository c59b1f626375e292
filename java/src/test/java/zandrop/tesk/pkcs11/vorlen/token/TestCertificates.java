package zandrop.tesk.pkcs11.vorlen.token;

import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.security.KeyPair;
import java.security.Signature;
import java.security.cert.X509Certificate;

import javax.security.auth.x500.X500Principal;

/** Certificates for the tests, made without a certificate authority or a tool. */
public final class TestCertificates {
    private TestCertificates() {
    }

    /**
     * A self-signed X.509 v3 certificate of a P-256 key pair (or an RSA one, signed with
     * SHA256withRSA by SunRsaSign), serial number 0xFEDCBA9876543210: its DER built here, signed
     * by SunEC, read by the JDK's CertificateFactory and verified with the key.
     */
    public static X509Certificate selfSigned(KeyPair pair, String name) throws Exception {
        boolean rsa = "RSA".equals(pair.getPublic().getAlgorithm());
        byte[] algorithm = rsa
                ? Der.item(Der.SEQUENCE, Der.oid("1.2.840.113549.1.1.11"), Der.item(0x05, new byte[0])) // sha256WithRSAEncryption
                : Der.item(Der.SEQUENCE, Der.oid("1.2.840.10045.4.3.2")); // ecdsa-with-SHA256
        byte[] dn = new X500Principal(name).getEncoded();
        byte[] tbs = Der.item(Der.SEQUENCE,
                Der.item(0xA0, Der.integer(BigInteger.TWO)),
                Der.integer(new BigInteger("00fedcba9876543210", 16)),
                algorithm, dn,
                Der.item(Der.SEQUENCE, Der.item(0x17, "250101000000Z".getBytes(StandardCharsets.US_ASCII)),
                        Der.item(0x17, "450101000000Z".getBytes(StandardCharsets.US_ASCII))),
                dn, pair.getPublic().getEncoded());
        Signature signer = Signature.getInstance(rsa ? "SHA256withRSA" : "SHA256withECDSA");
        signer.initSign(pair.getPrivate());
        signer.update(tbs);
        byte[] der = Der.item(Der.SEQUENCE, tbs, algorithm, Der.item(Der.BIT_STRING, new byte[] {0}, signer.sign()));
        X509Certificate certificate = JdkFormats.certificate(der);
        certificate.verify(pair.getPublic());
        return certificate;
    }

    /**
     * An X.509 v3 certificate of a public key, signed by an issuer's JDK key pair
     * (SHA256withRSA or SHA256withECDSA by the issuer's kind): a CA (basic constraints CA:TRUE)
     * or, with a DNS name, an end entity for localhost and 127.0.0.1.
     *
     * @param serial the serial number
     * @param subjectKey the certified public key
     * @param subject the subject's name
     * @param issuer the issuer's key pair (the subject's own for a self-signed CA)
     * @param issuerName the issuer's name
     * @param ca whether the certificate is a CA's
     */
    public static X509Certificate issued(long serial, java.security.PublicKey subjectKey, String subject, KeyPair issuer,
            String issuerName, boolean ca) throws Exception {
        boolean rsa = "RSA".equals(issuer.getPublic().getAlgorithm());
        byte[] algorithm = rsa
                ? Der.item(Der.SEQUENCE, Der.oid("1.2.840.113549.1.1.11"), Der.item(0x05, new byte[0]))
                : Der.item(Der.SEQUENCE, Der.oid("1.2.840.10045.4.3.2"));
        byte[] extension = ca
                ? Der.item(Der.SEQUENCE, Der.oid("2.5.29.19"), Der.item(0x01, new byte[] {(byte) 0xff}),
                        Der.item(Der.OCTET_STRING, Der.item(Der.SEQUENCE, Der.item(0x01, new byte[] {(byte) 0xff}))))
                : Der.item(Der.SEQUENCE, Der.oid("2.5.29.17"), Der.item(Der.OCTET_STRING, Der.item(Der.SEQUENCE,
                        Der.item(0x82, "localhost".getBytes(StandardCharsets.US_ASCII)), Der.item(0x87, new byte[] {127, 0, 0, 1}))));
        byte[] tbs = Der.item(Der.SEQUENCE,
                Der.item(0xA0, Der.integer(BigInteger.TWO)),
                Der.integer(BigInteger.valueOf(serial)),
                algorithm, new X500Principal(issuerName).getEncoded(),
                Der.item(Der.SEQUENCE, Der.item(0x17, "250101000000Z".getBytes(StandardCharsets.US_ASCII)),
                        Der.item(0x17, "450101000000Z".getBytes(StandardCharsets.US_ASCII))),
                new X500Principal(subject).getEncoded(), subjectKey.getEncoded(),
                Der.item(0xA3, Der.item(Der.SEQUENCE, extension)));
        Signature signer = Signature.getInstance(rsa ? "SHA256withRSA" : "SHA256withECDSA");
        signer.initSign(issuer.getPrivate());
        signer.update(tbs);
        byte[] der = Der.item(Der.SEQUENCE, tbs, algorithm, Der.item(Der.BIT_STRING, new byte[] {0}, signer.sign()));
        X509Certificate certificate = JdkFormats.certificate(der);
        certificate.verify(issuer.getPublic());
        return certificate;
    }
}
