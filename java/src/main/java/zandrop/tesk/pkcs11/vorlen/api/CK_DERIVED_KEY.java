package zandrop.tesk.pkcs11.vorlen.api;

/**
 * A further key that an SP 800-108 key derivation makes besides the one that {@code C_DeriveKey}
 * returns, part of {@link CK_SP800_108_KDF_PARAMS} and {@link CK_SP800_108_FEEDBACK_KDF_PARAMS}
 * (PKCS #11 v3.0).
 *
 * <p>After {@code C_DeriveKey}, {@link #phKey} holds the handle of the new key.
 */
public class CK_DERIVED_KEY {

    /** The attributes of the key to make. */
    public CK_ATTRIBUTE[] pTemplate;

    /** Receives the handle of the new key. */
    public long phKey;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_DERIVED_KEY() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pTemplate the attributes of the key to make
     * @param phKey receives the handle of the new key
     */
    public CK_DERIVED_KEY(CK_ATTRIBUTE[] pTemplate, long phKey) {
        this.pTemplate = pTemplate;
        this.phKey = phKey;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_DERIVED_KEY")
                .add("pTemplate", Format.value(pTemplate))
                .add("phKey", Format.unsigned(phKey))
                .build();
    }
}
