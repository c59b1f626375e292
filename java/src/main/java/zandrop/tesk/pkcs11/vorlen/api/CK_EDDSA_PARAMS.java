package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_EDDSA} (PKCS #11 v3.0): the variant and the context.
 * Without a parameter the mechanism means Ed25519 or Ed448 without context.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_EDDSA_PARAMS {

    /** True for the pre-hashed variant (Ed25519ph, Ed448ph). */
    public boolean phFlag;

    /** The context, at most 255 bytes, or null for none. */
    public byte[] pContextData;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_EDDSA_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param phFlag true for the pre-hashed variant (Ed25519ph, Ed448ph)
     * @param pContextData the context, at most 255 bytes, or null for none
     */
    public CK_EDDSA_PARAMS(boolean phFlag, byte[] pContextData) {
        this.phFlag = phFlag;
        this.pContextData = pContextData;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_EDDSA_PARAMS")
                .add("phFlag", phFlag)
                .add("pContextData", Format.hex(pContextData))
                .build();
    }
}
