package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_ECDH_AES_KEY_WRAP}: a key wrap with an AES key
 * agreed by ECDH with a temporary key pair.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_ECDH_AES_KEY_WRAP_PARAMS {

    /** The length of the temporary AES key in bits: 128, 192 or 256. */
    public long ulAESKeyBits;

    /** The key derivation function, such as {@link PKCS11Constants#CKD_SHA256_KDF}. */
    public long kdf;

    /** The data shared by the two parties, or null. */
    public byte[] pSharedData;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_ECDH_AES_KEY_WRAP_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param ulAESKeyBits the length of the temporary AES key in bits: 128, 192 or 256
     * @param kdf the key derivation function, such as {@link PKCS11Constants#CKD_SHA256_KDF}
     * @param pSharedData the data shared by the two parties, or null
     */
    public CK_ECDH_AES_KEY_WRAP_PARAMS(long ulAESKeyBits, long kdf, byte[] pSharedData) {
        this.ulAESKeyBits = ulAESKeyBits;
        this.kdf = kdf;
        this.pSharedData = pSharedData;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_ECDH_AES_KEY_WRAP_PARAMS")
                .add("ulAESKeyBits", Format.count(ulAESKeyBits))
                .add("kdf", Format.flags(kdf))
                .add("pSharedData", Format.hex(pSharedData))
                .build();
    }
}
