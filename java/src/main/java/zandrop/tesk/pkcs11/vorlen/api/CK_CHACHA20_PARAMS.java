package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_CHACHA20} (PKCS #11 v3.0): the initial block counter
 * and the nonce.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_CHACHA20_PARAMS {

    /** The initial block counter, blockCounterBits / 8 bytes. Required. */
    public byte[] pBlockCounter;

    /** The length of the block counter in bits: 32 or 64. */
    public long blockCounterBits;

    /** The nonce. Required. */
    public byte[] pNonce;

    /** The length of the nonce in bits: 64 or 96 (a 96-bit nonce goes with a 32-bit counter). */
    public long ulNonceBits;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_CHACHA20_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pBlockCounter the initial block counter, blockCounterBits / 8 bytes
     * @param blockCounterBits the length of the block counter in bits: 32 or 64
     * @param pNonce the nonce
     * @param ulNonceBits the length of the nonce in bits: 64 or 96 (a 96-bit nonce goes with a
     *     32-bit counter)
     */
    public CK_CHACHA20_PARAMS(byte[] pBlockCounter, long blockCounterBits, byte[] pNonce,
            long ulNonceBits) {
        this.pBlockCounter = pBlockCounter;
        this.blockCounterBits = blockCounterBits;
        this.pNonce = pNonce;
        this.ulNonceBits = ulNonceBits;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_CHACHA20_PARAMS")
                .add("pBlockCounter", Format.hex(pBlockCounter))
                .add("blockCounterBits", Format.count(blockCounterBits))
                .add("pNonce", Format.hex(pNonce))
                .add("ulNonceBits", Format.count(ulNonceBits))
                .build();
    }
}
