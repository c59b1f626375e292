package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_PKCS5_PBKD2}, key derivation by PBKDF2, in the
 * layout of PKCS #11 v2.40 that passes the password and its length by value. Unlike
 * {@link CK_PKCS5_PBKD2_PARAMS}, which cannot carry the password's length as the standard requires,
 * this class carries the password.
 *
 * <p>Each character of the password stands for one byte: only its low 8 bits reach the module.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_PKCS5_PBKD2_PARAMS2 {

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

    /**
     * The password. Required. It reaches the module as UTF-8 (a surrogate pair as one 4-byte
     * character), the standard's encoding of this field; an unpaired surrogate is refused with
     * {@link IllegalArgumentException} before the module is called.
     */
    public char[] pPassword;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_PKCS5_PBKD2_PARAMS2() {
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
     * @param pPassword the password
     */
    public CK_PKCS5_PBKD2_PARAMS2(long saltSource, byte[] pSaltSourceData, long iterations,
            long prf, byte[] pPrfData, char[] pPassword) {
        this.saltSource = saltSource;
        this.pSaltSourceData = pSaltSourceData;
        this.iterations = iterations;
        this.prf = prf;
        this.pPrfData = pPrfData;
        this.pPassword = pPassword;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_PKCS5_PBKD2_PARAMS2")
                .add("saltSource", Format.flags(saltSource))
                .add("pSaltSourceData", Format.hex(pSaltSourceData))
                .add("iterations", Format.count(iterations))
                .add("prf", Format.flags(prf))
                .add("pPrfData", Format.hex(pPrfData))
                .add("pPassword", Format.hidden(pPassword))
                .build();
    }
}
