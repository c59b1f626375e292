package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_RC5_CBC} and
 * {@link PKCS11Constants#CKM_RC5_CBC_PAD}.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_RC5_CBC_PARAMS {

    /** The word size, in bytes. */
    public long ulWordsize;

    /** The number of rounds. */
    public long ulRounds;

    /** The initialization vector, twice the word size long. */
    public byte[] pIv;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_RC5_CBC_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param ulWordsize the word size, in bytes
     * @param ulRounds the number of rounds
     * @param pIv the initialization vector, twice the word size long
     */
    public CK_RC5_CBC_PARAMS(long ulWordsize, long ulRounds, byte[] pIv) {
        this.ulWordsize = ulWordsize;
        this.ulRounds = ulRounds;
        this.pIv = pIv;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_RC5_CBC_PARAMS")
                .add("ulWordsize", Format.count(ulWordsize))
                .add("ulRounds", Format.count(ulRounds))
                .add("pIv", Format.hex(pIv))
                .build();
    }
}
