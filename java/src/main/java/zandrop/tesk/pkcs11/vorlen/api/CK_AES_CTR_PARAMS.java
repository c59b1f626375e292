package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_AES_CTR}: the counter block and how many of its bits
 * are the counter.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_AES_CTR_PARAMS {

    /** How many low-order bits of the counter block are incremented as the counter, 1 to 128. */
    public long ulCounterBits;

    /** The initial counter block, exactly 16 bytes. */
    public byte[] cb;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_AES_CTR_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param ulCounterBits how many low-order bits of the counter block are incremented as the
     *     counter, 1 to 128
     * @param cb the initial counter block, exactly 16 bytes
     */
    public CK_AES_CTR_PARAMS(long ulCounterBits, byte[] cb) {
        this.ulCounterBits = ulCounterBits;
        this.cb = cb;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_AES_CTR_PARAMS")
                .add("ulCounterBits", Format.count(ulCounterBits))
                .add("cb", Format.hex(cb))
                .build();
    }
}
