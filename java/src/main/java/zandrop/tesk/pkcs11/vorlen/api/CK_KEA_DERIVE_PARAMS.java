package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_KEA_KEY_DERIVE}.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_KEA_DERIVE_PARAMS {

    /** Whether this party sends (true) or receives (false). */
    public boolean isSender;

    /**
     * The random value Ra. The module receives one length for both random values: this array
     * must be as long as {@link #pRandomB} (a null array counting as empty), or the conversion
     * throws {@link IllegalArgumentException} before the module is called.
     */
    public byte[] pRandomA;

    /** The random value Rb. */
    public byte[] pRandomB;

    /** The other party's KEA public key value. */
    public byte[] pPublicData;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_KEA_DERIVE_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param isSender whether this party sends (true) or receives (false)
     * @param pRandomA the random value Ra
     * @param pRandomB the random value Rb
     * @param pPublicData the other party's KEA public key value
     */
    public CK_KEA_DERIVE_PARAMS(boolean isSender, byte[] pRandomA, byte[] pRandomB,
            byte[] pPublicData) {
        this.isSender = isSender;
        this.pRandomA = pRandomA;
        this.pRandomB = pRandomB;
        this.pPublicData = pPublicData;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_KEA_DERIVE_PARAMS")
                .add("isSender", isSender)
                .add("pRandomA", Format.hex(pRandomA))
                .add("pRandomB", Format.hex(pRandomB))
                .add("pPublicData", Format.hex(pPublicData))
                .build();
    }
}
