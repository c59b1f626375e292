package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The per-message parameters of {@link PKCS11Constants#CKM_AES_GCM} for the message-based functions
 * of PKCS #11 v3.0, such as {@code C_EncryptMessage}.
 *
 * <p>After an encryption, {@link #pTag} holds the tag the module computed, and, when the module
 * generates the initialization vector ({@link #ivGenerator} other than
 * {@link PKCS11Constants#CKG_NO_GENERATE}), {@link #pIv} holds the vector it used. For a decryption
 * supply the tag to check in {@link #pTag}.
 *
 * <p>The native library reads this object when it converts the per-message parameter of a
 * message-based function (such as {@code C_EncryptMessage}): a {@code long} passes the low bits
 * that fit in a {@code CK_ULONG}, and arrays are copied, a null array giving a null pointer of
 * length 0.
 */
public class CK_GCM_MESSAGE_PARAMS {

    /**
     * The initialization vector; receives the generated one when the module generates it. Required.
     */
    public byte[] pIv;

    /** How many leading bits of pIv the caller fixes when the module generates the rest. */
    public long ulIvFixedBits;

    /**
     * How the module generates the initialization vector, such as
     * {@link PKCS11Constants#CKG_GENERATE_RANDOM}, or {@link PKCS11Constants#CKG_NO_GENERATE}.
     */
    public long ivGenerator;

    /**
     * The tag, ulTagBits / 8 bytes: receives it after an encryption, holds it for a decryption.
     * Required.
     */
    public byte[] pTag;

    /** The length of the tag in bits, a multiple of 8 such as 128 or 96. */
    public long ulTagBits;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_GCM_MESSAGE_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pIv the initialization vector; receives the generated one when the module generates it
     * @param ulIvFixedBits how many leading bits of pIv the caller fixes when the module generates
     *     the rest
     * @param ivGenerator how the module generates the initialization vector, such as
     *     {@link PKCS11Constants#CKG_GENERATE_RANDOM}, or {@link PKCS11Constants#CKG_NO_GENERATE}
     * @param pTag the tag, ulTagBits / 8 bytes: receives it after an encryption, holds it for a
     *     decryption
     * @param ulTagBits the length of the tag in bits, a multiple of 8 such as 128 or 96
     */
    public CK_GCM_MESSAGE_PARAMS(byte[] pIv, long ulIvFixedBits, long ivGenerator, byte[] pTag,
            long ulTagBits) {
        this.pIv = pIv;
        this.ulIvFixedBits = ulIvFixedBits;
        this.ivGenerator = ivGenerator;
        this.pTag = pTag;
        this.ulTagBits = ulTagBits;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_GCM_MESSAGE_PARAMS")
                .add("pIv", Format.hex(pIv))
                .add("ulIvFixedBits", Format.count(ulIvFixedBits))
                .add("ivGenerator", Format.flags(ivGenerator))
                .add("pTag", Format.hex(pTag))
                .add("ulTagBits", Format.count(ulTagBits))
                .build();
    }
}
