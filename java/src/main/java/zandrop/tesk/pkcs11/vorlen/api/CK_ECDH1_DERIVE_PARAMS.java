package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_ECDH1_DERIVE} and
 * {@link PKCS11Constants#CKM_ECDH1_COFACTOR_DERIVE}.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_ECDH1_DERIVE_PARAMS {

    /** The key derivation function, such as {@link PKCS11Constants#CKD_NULL}. */
    public long kdf;

    /** The data shared by the two parties, or null. */
    public byte[] pSharedData;

    /** The other party's public key value. */
    public byte[] pPublicData;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_ECDH1_DERIVE_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param kdf the key derivation function, such as {@link PKCS11Constants#CKD_NULL}
     * @param pSharedData the data shared by the two parties, or null
     * @param pPublicData the other party's public key value
     */
    public CK_ECDH1_DERIVE_PARAMS(long kdf, byte[] pSharedData, byte[] pPublicData) {
        this.kdf = kdf;
        this.pSharedData = pSharedData;
        this.pPublicData = pPublicData;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_ECDH1_DERIVE_PARAMS")
                .add("kdf", Format.flags(kdf))
                .add("pSharedData", Format.hex(pSharedData))
                .add("pPublicData", Format.hex(pPublicData))
                .build();
    }
}
