package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of the password-based mechanisms {@code CKM_PBE_*} and
 * {@link PKCS11Constants#CKM_PBA_SHA1_WITH_SHA1_HMAC}.
 *
 * <p>Each character of the three arrays stands for one byte: only its low 8 bits reach the module.
 * For the mechanisms {@link PKCS11Constants#CKM_PBE_MD2_DES_CBC} to
 * {@link PKCS11Constants#CKM_PBE_SHA1_CAST128_CBC},
 * {@link PKCS11Impl#C_GenerateKey(long, CK_MECHANISM, CK_ATTRIBUTE[])} writes the initialization
 * vector that the module generates into {@link #pInitVector}, one byte per character.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_PBE_PARAMS {

    /**
     * Receives the generated initialization vector. The module always receives a buffer of at
     * least 8 bytes, whatever this field holds; supply an array of 8 characters to receive the
     * vector, or null when no vector is wanted.
     */
    public char[] pInitVector;

    /** The password. */
    public char[] pPassword;

    /** The salt. */
    public char[] pSalt;

    /** The number of iterations. */
    public long ulIteration;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_PBE_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pInitVector receives the generated initialization vector: supply an array of 8
     *     characters, or null when no vector is wanted
     * @param pPassword the password
     * @param pSalt the salt
     * @param ulIteration the number of iterations
     */
    public CK_PBE_PARAMS(char[] pInitVector, char[] pPassword, char[] pSalt, long ulIteration) {
        this.pInitVector = pInitVector;
        this.pPassword = pPassword;
        this.pSalt = pSalt;
        this.ulIteration = ulIteration;
    }

    /** Returns every field; byte arrays in hexadecimal, passwords by their length only. */
    @Override
    public String toString() {
        return new Format.Fields("CK_PBE_PARAMS")
                .add("pInitVector", Format.hex(pInitVector))
                .add("pPassword", Format.hidden(pPassword))
                .add("pSalt", Format.hex(pSalt))
                .add("ulIteration", Format.count(ulIteration))
                .build();
    }
}
