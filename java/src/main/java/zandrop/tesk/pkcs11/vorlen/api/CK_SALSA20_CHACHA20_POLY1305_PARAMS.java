package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_CHACHA20_POLY1305} and
 * {@link PKCS11Constants#CKM_SALSA20_POLY1305} (PKCS #11 v3.0): the nonce and the additional
 * authenticated data. The tag is 16 bytes, appended to the ciphertext.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_SALSA20_CHACHA20_POLY1305_PARAMS {

    /**
     * The nonce: 12 bytes for ChaCha20-Poly1305 as in RFC 8439, 8 or 24 bytes otherwise. Required.
     */
    public byte[] pNonce;

    /** The additional authenticated data, or null for none. */
    public byte[] pAAD;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_SALSA20_CHACHA20_POLY1305_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pNonce the nonce: 12 bytes for ChaCha20-Poly1305 as in RFC 8439, 8 or 24 bytes
     *     otherwise
     * @param pAAD the additional authenticated data, or null for none
     */
    public CK_SALSA20_CHACHA20_POLY1305_PARAMS(byte[] pNonce, byte[] pAAD) {
        this.pNonce = pNonce;
        this.pAAD = pAAD;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_SALSA20_CHACHA20_POLY1305_PARAMS")
                .add("pNonce", Format.hex(pNonce))
                .add("pAAD", Format.hex(pAAD))
                .build();
    }
}
