package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_KEY_WRAP_SET_OAEP}.
 *
 * <p>{@link PKCS11Impl#C_UnwrapKey(long, CK_MECHANISM, long, byte[], CK_ATTRIBUTE[])} writes the
 * block contents byte and the bytes of X that the module returns into {@link #bBC} and into the
 * array in {@link #pX}, which keeps its length.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_KEY_WRAP_SET_OAEP_PARAMS {

    /** The block contents byte. */
    public byte bBC;

    /** The concatenation of the hash of the plaintext and the extra data, or null. */
    public byte[] pX;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_KEY_WRAP_SET_OAEP_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param bBC the block contents byte
     * @param pX the concatenation of the hash of the plaintext and the extra data, or null
     */
    public CK_KEY_WRAP_SET_OAEP_PARAMS(byte bBC, byte[] pX) {
        this.bBC = bBC;
        this.pX = pX;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_KEY_WRAP_SET_OAEP_PARAMS")
                .add("bBC", String.format("0x%02X", bBC))
                .add("pX", Format.hex(pX))
                .build();
    }
}
