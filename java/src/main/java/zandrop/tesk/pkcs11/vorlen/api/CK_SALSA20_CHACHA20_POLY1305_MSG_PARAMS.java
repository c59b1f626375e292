package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The per-message parameters of {@link PKCS11Constants#CKM_CHACHA20_POLY1305} and
 * {@link PKCS11Constants#CKM_SALSA20_POLY1305} for the message-based functions of PKCS #11 v3.0,
 * such as {@code C_EncryptMessage}.
 *
 * <p>After an encryption, {@link #pTag} holds the 16-byte tag the module computed; for a decryption
 * supply the tag to check there.
 *
 * <p>The native library reads this object when it converts the per-message parameter of a
 * message-based function (such as {@code C_EncryptMessage}): a {@code long} passes the low bits
 * that fit in a {@code CK_ULONG}, and arrays are copied, a null array giving a null pointer of
 * length 0.
 */
public class CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS {

    /** The nonce, 12 bytes for ChaCha20-Poly1305 as in RFC 8439. Required. */
    public byte[] pNonce;

    /** The tag, exactly 16 bytes: receives it after an encryption, holds it for a decryption. */
    public byte[] pTag;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pNonce the nonce, 12 bytes for ChaCha20-Poly1305 as in RFC 8439
     * @param pTag the tag, exactly 16 bytes: receives it after an encryption, holds it for a
     *     decryption
     */
    public CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS(byte[] pNonce, byte[] pTag) {
        this.pNonce = pNonce;
        this.pTag = pTag;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS")
                .add("pNonce", Format.hex(pNonce))
                .add("pTag", Format.hex(pTag))
                .build();
    }
}
