package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_PKCS5_PBKD2}, key derivation by PBKDF2. The class
 * has no password fields: the module receives none in the parameter.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_PKCS5_PBKD2_PARAMS {

    /** The source of the salt: {@link PKCS11Constants#CKZ_SALT_SPECIFIED}. */
    public long saltSource;

    /** The salt. */
    public byte[] pSaltSourceData;

    /** The number of iterations. */
    public long iterations;

    /** The pseudo-random function, such as {@link PKCS11Constants#CKP_PKCS5_PBKD2_HMAC_SHA256}. */
    public long prf;

    /** The data of the pseudo-random function, or null. */
    public byte[] pPrfData;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_PKCS5_PBKD2_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param saltSource the source of the salt: {@link PKCS11Constants#CKZ_SALT_SPECIFIED}
     * @param pSaltSourceData the salt
     * @param iterations the number of iterations
     * @param prf the pseudo-random function, such as
     *     {@link PKCS11Constants#CKP_PKCS5_PBKD2_HMAC_SHA256}
     * @param pPrfData the data of the pseudo-random function, or null
     */
    public CK_PKCS5_PBKD2_PARAMS(long saltSource, byte[] pSaltSourceData, long iterations,
            long prf, byte[] pPrfData) {
        this.saltSource = saltSource;
        this.pSaltSourceData = pSaltSourceData;
        this.iterations = iterations;
        this.prf = prf;
        this.pPrfData = pPrfData;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_PKCS5_PBKD2_PARAMS")
                .add("saltSource", Format.flags(saltSource))
                .add("pSaltSourceData", Format.hex(pSaltSourceData))
                .add("iterations", Format.count(iterations))
                .add("prf", Format.flags(prf))
                .add("pPrfData", Format.hex(pPrfData))
                .build();
    }
}
