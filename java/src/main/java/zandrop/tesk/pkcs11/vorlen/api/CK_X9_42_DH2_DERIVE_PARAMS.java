package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_X9_42_DH_HYBRID_DERIVE} and
 * {@link PKCS11Constants#CKM_X9_42_MQV_DERIVE}.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_X9_42_DH2_DERIVE_PARAMS {

    /** The key derivation function, such as {@link PKCS11Constants#CKD_NULL}. */
    public long kdf;

    /** Other information shared by the two parties, or null. */
    public byte[] pOtherInfo;

    /** The other party's first public key value. */
    public byte[] pPublicData;

    /** The length of the second private key, in bytes. */
    public long ulPrivateDataLen;

    /** The handle of the second private key. */
    public long hPrivateData;

    /** The other party's second public key value. */
    public byte[] pPublicData2;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_X9_42_DH2_DERIVE_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param kdf the key derivation function, such as {@link PKCS11Constants#CKD_NULL}
     * @param pOtherInfo other information shared by the two parties, or null
     * @param pPublicData the other party's first public key value
     * @param ulPrivateDataLen the length of the second private key, in bytes
     * @param hPrivateData the handle of the second private key
     * @param pPublicData2 the other party's second public key value
     */
    public CK_X9_42_DH2_DERIVE_PARAMS(long kdf, byte[] pOtherInfo, byte[] pPublicData,
            long ulPrivateDataLen, long hPrivateData, byte[] pPublicData2) {
        this.kdf = kdf;
        this.pOtherInfo = pOtherInfo;
        this.pPublicData = pPublicData;
        this.ulPrivateDataLen = ulPrivateDataLen;
        this.hPrivateData = hPrivateData;
        this.pPublicData2 = pPublicData2;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_X9_42_DH2_DERIVE_PARAMS")
                .add("kdf", Format.flags(kdf))
                .add("pOtherInfo", Format.hex(pOtherInfo))
                .add("pPublicData", Format.hex(pPublicData))
                .add("ulPrivateDataLen", Format.count(ulPrivateDataLen))
                .add("hPrivateData", Format.unsigned(hPrivateData))
                .add("pPublicData2", Format.hex(pPublicData2))
                .build();
    }
}
