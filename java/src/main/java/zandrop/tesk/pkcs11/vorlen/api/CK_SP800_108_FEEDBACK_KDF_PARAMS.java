package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_SP800_108_FEEDBACK_KDF} (PKCS #11 v3.0): key
 * derivation by NIST SP 800-108 in feedback mode.
 *
 * <p>After {@code C_DeriveKey} every element of {@link #pAdditionalDerivedKeys} holds the handle of
 * its key in {@link CK_DERIVED_KEY#phKey}.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_SP800_108_FEEDBACK_KDF_PARAMS {

    /**
     * The pseudo-random function, such as {@link PKCS11Constants#CKM_SHA256_HMAC} or
     * {@link PKCS11Constants#CKM_AES_CMAC}.
     */
    public long prfType;

    /** The inputs of the pseudo-random function, in order. Required. */
    public CK_PRF_DATA_PARAM[] pDataParams;

    /** The initialization vector of the feedback, or null for none. */
    public byte[] pIV;

    /** The further keys to derive, or null for none. */
    public CK_DERIVED_KEY[] pAdditionalDerivedKeys;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_SP800_108_FEEDBACK_KDF_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param prfType the pseudo-random function, such as {@link PKCS11Constants#CKM_SHA256_HMAC} or
     *     {@link PKCS11Constants#CKM_AES_CMAC}
     * @param pDataParams the inputs of the pseudo-random function, in order
     * @param pIV the initialization vector of the feedback, or null for none
     * @param pAdditionalDerivedKeys the further keys to derive, or null for none
     */
    public CK_SP800_108_FEEDBACK_KDF_PARAMS(long prfType, CK_PRF_DATA_PARAM[] pDataParams,
            byte[] pIV, CK_DERIVED_KEY[] pAdditionalDerivedKeys) {
        this.prfType = prfType;
        this.pDataParams = pDataParams;
        this.pIV = pIV;
        this.pAdditionalDerivedKeys = pAdditionalDerivedKeys;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_SP800_108_FEEDBACK_KDF_PARAMS")
                .add("prfType", Format.mechanism(prfType))
                .add("pDataParams", Format.value(pDataParams))
                .add("pIV", Format.hex(pIV))
                .add("pAdditionalDerivedKeys", Format.value(pAdditionalDerivedKeys))
                .build();
    }
}
