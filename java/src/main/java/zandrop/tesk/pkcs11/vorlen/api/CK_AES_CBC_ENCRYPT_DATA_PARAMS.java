package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_AES_CBC_ENCRYPT_DATA}: a key derivation that
 * encrypts the data with the base key in CBC mode and takes the result as the new key's value.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_AES_CBC_ENCRYPT_DATA_PARAMS {

    /** The initialization vector, exactly 16 bytes. */
    public byte[] iv;

    /** The data to encrypt, a multiple of 16 bytes. Required. */
    public byte[] pData;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_AES_CBC_ENCRYPT_DATA_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param iv the initialization vector, exactly 16 bytes
     * @param pData the data to encrypt, a multiple of 16 bytes
     */
    public CK_AES_CBC_ENCRYPT_DATA_PARAMS(byte[] iv, byte[] pData) {
        this.iv = iv;
        this.pData = pData;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_AES_CBC_ENCRYPT_DATA_PARAMS")
                .add("iv", Format.hex(iv))
                .add("pData", Format.hex(pData))
                .build();
    }
}
