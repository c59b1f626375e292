package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_RSA_AES_KEY_WRAP}: a key wrap with a temporary AES
 * key that is itself wrapped with RSA OAEP.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_RSA_AES_KEY_WRAP_PARAMS {

    /** The length of the temporary AES key in bits: 128, 192 or 256. */
    public long ulAESKeyBits;

    /** The OAEP parameters of the RSA wrap of the temporary key. Required. */
    public CK_RSA_PKCS_OAEP_PARAMS pOAEPParams;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_RSA_AES_KEY_WRAP_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param ulAESKeyBits the length of the temporary AES key in bits: 128, 192 or 256
     * @param pOAEPParams the OAEP parameters of the RSA wrap of the temporary key
     */
    public CK_RSA_AES_KEY_WRAP_PARAMS(long ulAESKeyBits, CK_RSA_PKCS_OAEP_PARAMS pOAEPParams) {
        this.ulAESKeyBits = ulAESKeyBits;
        this.pOAEPParams = pOAEPParams;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_RSA_AES_KEY_WRAP_PARAMS")
                .add("ulAESKeyBits", Format.count(ulAESKeyBits))
                .add("pOAEPParams", pOAEPParams)
                .build();
    }
}
