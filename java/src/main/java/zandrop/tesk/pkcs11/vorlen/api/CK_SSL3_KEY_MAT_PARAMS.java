package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_SSL3_KEY_AND_MAC_DERIVE} and
 * {@link PKCS11Constants#CKM_TLS_KEY_AND_MAC_DERIVE}.
 *
 * <p>With {@link PKCS11Constants#CKM_SSL3_KEY_AND_MAC_DERIVE},
 * {@link PKCS11Impl#C_DeriveKey(long, CK_MECHANISM, long, CK_ATTRIBUTE[])} writes the handles and
 * initialization vectors that the module returns into the object in {@link #pReturnedKeyMaterial}.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_SSL3_KEY_MAT_PARAMS {

    /** The size of the MAC secrets, in bits. */
    public long ulMacSizeInBits;

    /** The size of the keys, in bits. */
    public long ulKeySizeInBits;

    /** The size of the initialization vectors, in bits; 0 for none. */
    public long ulIVSizeInBits;

    /** Whether the keys are for an export version of the protocol. */
    public boolean bIsExport;

    /** The client's and the server's random data; must not be null. */
    public CK_SSL3_RANDOM_DATA RandomInfo;

    /** Receives the handles and initialization vectors; must not be null. */
    public CK_SSL3_KEY_MAT_OUT pReturnedKeyMaterial;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_SSL3_KEY_MAT_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param ulMacSizeInBits the size of the MAC secrets, in bits
     * @param ulKeySizeInBits the size of the keys, in bits
     * @param ulIVSizeInBits the size of the initialization vectors, in bits
     * @param bIsExport whether the keys are for an export version of the protocol
     * @param RandomInfo the client's and the server's random data
     * @param pReturnedKeyMaterial receives the handles and initialization vectors
     */
    public CK_SSL3_KEY_MAT_PARAMS(long ulMacSizeInBits, long ulKeySizeInBits, long ulIVSizeInBits,
            boolean bIsExport, CK_SSL3_RANDOM_DATA RandomInfo,
            CK_SSL3_KEY_MAT_OUT pReturnedKeyMaterial) {
        this.ulMacSizeInBits = ulMacSizeInBits;
        this.ulKeySizeInBits = ulKeySizeInBits;
        this.ulIVSizeInBits = ulIVSizeInBits;
        this.bIsExport = bIsExport;
        this.RandomInfo = RandomInfo;
        this.pReturnedKeyMaterial = pReturnedKeyMaterial;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_SSL3_KEY_MAT_PARAMS")
                .add("ulMacSizeInBits", Format.count(ulMacSizeInBits))
                .add("ulKeySizeInBits", Format.count(ulKeySizeInBits))
                .add("ulIVSizeInBits", Format.count(ulIVSizeInBits))
                .add("bIsExport", bIsExport)
                .add("RandomInfo", RandomInfo)
                .add("pReturnedKeyMaterial", pReturnedKeyMaterial)
                .build();
    }
}
