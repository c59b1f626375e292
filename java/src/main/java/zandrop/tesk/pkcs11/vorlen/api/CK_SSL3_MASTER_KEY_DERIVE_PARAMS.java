package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_SSL3_MASTER_KEY_DERIVE},
 * {@link PKCS11Constants#CKM_SSL3_MASTER_KEY_DERIVE_DH},
 * {@link PKCS11Constants#CKM_TLS_MASTER_KEY_DERIVE} and
 * {@link PKCS11Constants#CKM_TLS_MASTER_KEY_DERIVE_DH}.
 *
 * <p>With {@link PKCS11Constants#CKM_SSL3_MASTER_KEY_DERIVE},
 * {@link PKCS11Impl#C_DeriveKey(long, CK_MECHANISM, long, CK_ATTRIBUTE[])} writes the protocol
 * version that the module returns into the object in {@link #pVersion}.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_SSL3_MASTER_KEY_DERIVE_PARAMS {

    /** The client's and the server's random data; must not be null. */
    public CK_SSL3_RANDOM_DATA RandomInfo;

    /** Receives the protocol version; must not be null. */
    public CK_VERSION pVersion;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_SSL3_MASTER_KEY_DERIVE_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param RandomInfo the client's and the server's random data
     * @param pVersion receives the protocol version
     */
    public CK_SSL3_MASTER_KEY_DERIVE_PARAMS(CK_SSL3_RANDOM_DATA RandomInfo, CK_VERSION pVersion) {
        this.RandomInfo = RandomInfo;
        this.pVersion = pVersion;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_SSL3_MASTER_KEY_DERIVE_PARAMS")
                .add("RandomInfo", RandomInfo)
                .add("pVersion", pVersion)
                .build();
    }
}
