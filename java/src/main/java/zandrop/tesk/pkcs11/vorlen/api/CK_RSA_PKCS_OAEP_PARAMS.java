package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_RSA_PKCS_OAEP}: the hash, the mask generation
 * function and the encoding parameter.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_RSA_PKCS_OAEP_PARAMS {

    /** The hash mechanism, such as {@link PKCS11Constants#CKM_SHA256}. */
    public long hashAlg;

    /** The mask generation function, such as {@link PKCS11Constants#CKG_MGF1_SHA256}. */
    public long mgf;

    /**
     * The source of the encoding parameter: {@link PKCS11Constants#CKZ_DATA_SPECIFIED}, or 0 for
     * none.
     */
    public long source;

    /** The encoding parameter, or null for none. */
    public byte[] pSourceData;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_RSA_PKCS_OAEP_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param hashAlg the hash mechanism, such as {@link PKCS11Constants#CKM_SHA256}
     * @param mgf the mask generation function, such as {@link PKCS11Constants#CKG_MGF1_SHA256}
     * @param source the source of the encoding parameter:
     *     {@link PKCS11Constants#CKZ_DATA_SPECIFIED}, or 0 for none
     * @param pSourceData the encoding parameter, or null for none
     */
    public CK_RSA_PKCS_OAEP_PARAMS(long hashAlg, long mgf, long source, byte[] pSourceData) {
        this.hashAlg = hashAlg;
        this.mgf = mgf;
        this.source = source;
        this.pSourceData = pSourceData;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_RSA_PKCS_OAEP_PARAMS")
                .add("hashAlg", Format.mechanism(hashAlg))
                .add("mgf", Format.flags(mgf))
                .add("source", Format.flags(source))
                .add("pSourceData", Format.hex(pSourceData))
                .build();
    }
}
