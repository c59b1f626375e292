package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The per-message parameters of {@link PKCS11Constants#CKM_AES_CCM} for the message-based functions
 * of PKCS #11 v3.0, such as {@code C_EncryptMessage}.
 *
 * <p>After an encryption, {@link #pMAC} holds the MAC the module computed, and, when the module
 * generates the nonce, {@link #pNonce} holds the nonce it used. For a decryption supply the MAC to
 * check in {@link #pMAC}.
 *
 * <p>The native library reads this object when it converts the per-message parameter of a
 * message-based function (such as {@code C_EncryptMessage}): a {@code long} passes the low bits
 * that fit in a {@code CK_ULONG}, and arrays are copied, a null array giving a null pointer of
 * length 0.
 */
public class CK_CCM_MESSAGE_PARAMS {

    /** The length in bytes of the message to encrypt or decrypt. */
    public long ulDataLen;

    /** The nonce; receives the generated one when the module generates it. Required. */
    public byte[] pNonce;

    /** How many leading bits of pNonce the caller fixes when the module generates the rest. */
    public long ulNonceFixedBits;

    /**
     * How the module generates the nonce, such as {@link PKCS11Constants#CKG_GENERATE_COUNTER}, or
     * {@link PKCS11Constants#CKG_NO_GENERATE}.
     */
    public long nonceGenerator;

    /**
     * The MAC, 4 to 16 bytes: receives it after an encryption, holds it for a decryption. Required.
     */
    public byte[] pMAC;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_CCM_MESSAGE_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param ulDataLen the length in bytes of the message to encrypt or decrypt
     * @param pNonce the nonce; receives the generated one when the module generates it
     * @param ulNonceFixedBits how many leading bits of pNonce the caller fixes when the module
     *     generates the rest
     * @param nonceGenerator how the module generates the nonce, such as
     *     {@link PKCS11Constants#CKG_GENERATE_COUNTER}, or {@link PKCS11Constants#CKG_NO_GENERATE}
     * @param pMAC the MAC, 4 to 16 bytes: receives it after an encryption, holds it for a
     *     decryption
     */
    public CK_CCM_MESSAGE_PARAMS(long ulDataLen, byte[] pNonce, long ulNonceFixedBits,
            long nonceGenerator, byte[] pMAC) {
        this.ulDataLen = ulDataLen;
        this.pNonce = pNonce;
        this.ulNonceFixedBits = ulNonceFixedBits;
        this.nonceGenerator = nonceGenerator;
        this.pMAC = pMAC;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_CCM_MESSAGE_PARAMS")
                .add("ulDataLen", Format.count(ulDataLen))
                .add("pNonce", Format.hex(pNonce))
                .add("ulNonceFixedBits", Format.count(ulNonceFixedBits))
                .add("nonceGenerator", Format.flags(nonceGenerator))
                .add("pMAC", Format.hex(pMAC))
                .build();
    }
}
