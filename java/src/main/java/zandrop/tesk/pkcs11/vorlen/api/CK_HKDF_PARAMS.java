package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_HKDF_DERIVE} and
 * {@link PKCS11Constants#CKM_HKDF_DATA} (PKCS #11 v3.0): key derivation by HKDF (RFC 5869), its
 * extract step, its expand step or both.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_HKDF_PARAMS {

    /** True to perform the extract step. */
    public boolean bExtract;

    /** True to perform the expand step. */
    public boolean bExpand;

    /** The hash of the HMAC, such as {@link PKCS11Constants#CKM_SHA256}. */
    public long prfHashMechanism;

    /**
     * Where the salt comes from: {@link PKCS11Constants#CKF_HKDF_SALT_NULL},
     * {@link PKCS11Constants#CKF_HKDF_SALT_DATA} (pSalt) or
     * {@link PKCS11Constants#CKF_HKDF_SALT_KEY} (hSaltKey).
     */
    public long ulSaltType;

    /** The salt when ulSaltType is CKF_HKDF_SALT_DATA, otherwise null. */
    public byte[] pSalt;

    /** The key whose value is the salt when ulSaltType is CKF_HKDF_SALT_KEY. */
    public long hSaltKey;

    /** The context and application information of the expand step, or null. */
    public byte[] pInfo;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_HKDF_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param bExtract true to perform the extract step
     * @param bExpand true to perform the expand step
     * @param prfHashMechanism the hash of the HMAC, such as {@link PKCS11Constants#CKM_SHA256}
     * @param ulSaltType where the salt comes from: {@link PKCS11Constants#CKF_HKDF_SALT_NULL},
     *     {@link PKCS11Constants#CKF_HKDF_SALT_DATA} (pSalt) or
     *     {@link PKCS11Constants#CKF_HKDF_SALT_KEY} (hSaltKey)
     * @param pSalt the salt when ulSaltType is CKF_HKDF_SALT_DATA, otherwise null
     * @param hSaltKey the key whose value is the salt when ulSaltType is CKF_HKDF_SALT_KEY
     * @param pInfo the context and application information of the expand step, or null
     */
    public CK_HKDF_PARAMS(boolean bExtract, boolean bExpand, long prfHashMechanism, long ulSaltType,
            byte[] pSalt, long hSaltKey, byte[] pInfo) {
        this.bExtract = bExtract;
        this.bExpand = bExpand;
        this.prfHashMechanism = prfHashMechanism;
        this.ulSaltType = ulSaltType;
        this.pSalt = pSalt;
        this.hSaltKey = hSaltKey;
        this.pInfo = pInfo;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_HKDF_PARAMS")
                .add("bExtract", bExtract)
                .add("bExpand", bExpand)
                .add("prfHashMechanism", Format.mechanism(prfHashMechanism))
                .add("ulSaltType", Format.flags(ulSaltType))
                .add("pSalt", Format.hex(pSalt))
                .add("hSaltKey", Format.unsigned(hSaltKey))
                .add("pInfo", Format.hex(pInfo))
                .build();
    }
}
