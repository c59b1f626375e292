package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of the derivations that combine a key with data, such as
 * {@link PKCS11Constants#CKM_CONCATENATE_BASE_AND_DATA},
 * {@link PKCS11Constants#CKM_CONCATENATE_DATA_AND_BASE},
 * {@link PKCS11Constants#CKM_XOR_BASE_AND_DATA} and the {@code *_ENCRYPT_DATA} mechanisms in ECB
 * mode.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_KEY_DERIVATION_STRING_DATA {

    /** The data. */
    public byte[] pData;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_KEY_DERIVATION_STRING_DATA() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pData the data
     */
    public CK_KEY_DERIVATION_STRING_DATA(byte[] pData) {
        this.pData = pData;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_KEY_DERIVATION_STRING_DATA")
                .add("pData", Format.hex(pData))
                .build();
    }
}
