package zandrop.tesk.pkcs11.vorlen.token;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.HexFormat;

/**
 * The hash functions of the common mechanisms, with what PKCS#11 and the JDK call them.
 */
public enum Hash {
    /** SHA1: {@code CKM_SHA_1}. */
    SHA1(CKM_SHA_1, CKG_MGF1_SHA1, "SHA-1", 20, "3021300906052b0e03021a05000414"),
    /** SHA224: {@code CKM_SHA224}. */
    SHA224(CKM_SHA224, CKG_MGF1_SHA224, "SHA-224", 28, "302d300d06096086480165030402040500041c"),
    /** SHA256: {@code CKM_SHA256}. */
    SHA256(CKM_SHA256, CKG_MGF1_SHA256, "SHA-256", 32, "3031300d060960864801650304020105000420"),
    /** SHA384: {@code CKM_SHA384}. */
    SHA384(CKM_SHA384, CKG_MGF1_SHA384, "SHA-384", 48, "3041300d060960864801650304020205000430"),
    /** SHA512: {@code CKM_SHA512}. */
    SHA512(CKM_SHA512, CKG_MGF1_SHA512, "SHA-512", 64, "3051300d060960864801650304020305000440");

    private final long mechanism;
    private final long mgf;
    private final String jdkName;
    private final int length;
    private final byte[] digestInfoPrefix;

    Hash(long mechanism, long mgf, String jdkName, int length, String digestInfoPrefix) {
        this.mechanism = mechanism;
        this.mgf = mgf;
        this.jdkName = jdkName;
        this.length = length;
        this.digestInfoPrefix = HexFormat.of().parseHex(digestInfoPrefix);
    }

    /**
     * Returns the digest mechanism.
     *
     * @return such as {@code CKM_SHA256}
     */
    public long mechanism() {
        return mechanism;
    }

    /**
     * Returns the mask generation function of this hash.
     *
     * @return such as {@code CKG_MGF1_SHA256}
     */
    public long mgf() {
        return mgf;
    }

    /**
     * Returns the JDK's name.
     *
     * @return such as {@code "SHA-256"}
     */
    public String jdkName() {
        return jdkName;
    }

    /**
     * Returns the length of a digest.
     *
     * @return bytes
     */
    public int length() {
        return length;
    }

    /** Hashes on the host, with the JDK. */
    byte[] digest(byte[] data) {
        try {
            return MessageDigest.getInstance(jdkName).digest(data);
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("the JDK has no " + jdkName, e);
        }
    }

    /**
     * The DER DigestInfo of a digest, as PKCS#1 v1.5 signs it ({@code CKM_RSA_PKCS} over a
     * digest computed on the host).
     *
     * @param digest a digest of this hash
     * @return the DigestInfo holding it
     */
    public byte[] digestInfo(byte[] digest) {
        byte[] out = new byte[digestInfoPrefix.length + digest.length];
        System.arraycopy(digestInfoPrefix, 0, out, 0, digestInfoPrefix.length);
        System.arraycopy(digest, 0, out, digestInfoPrefix.length, digest.length);
        return out;
    }
}
