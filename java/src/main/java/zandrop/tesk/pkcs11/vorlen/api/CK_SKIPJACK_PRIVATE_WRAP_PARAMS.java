package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_SKIPJACK_PRIVATE_WRAP}.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_SKIPJACK_PRIVATE_WRAP_PARAMS {

    /** The user's password. */
    public byte[] pPassword;

    /** The other party's key exchange public key value. */
    public byte[] pPublicData;

    /** The random value Ra. */
    public byte[] pRandomA;

    /**
     * The prime p. The module receives one length for p and g: this array must be as long as
     * {@link #pBaseG} (a null array counting as empty), or the conversion throws
     * {@link IllegalArgumentException} before the module is called.
     */
    public byte[] pPrimeP;

    /** The base g. */
    public byte[] pBaseG;

    /** The subprime q. */
    public byte[] pSubprimeQ;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_SKIPJACK_PRIVATE_WRAP_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pPassword the user's password
     * @param pPublicData the other party's key exchange public key value
     * @param pRandomA the random value Ra
     * @param pPrimeP the prime p
     * @param pBaseG the base g
     * @param pSubprimeQ the subprime q
     */
    public CK_SKIPJACK_PRIVATE_WRAP_PARAMS(byte[] pPassword, byte[] pPublicData, byte[] pRandomA,
            byte[] pPrimeP, byte[] pBaseG, byte[] pSubprimeQ) {
        this.pPassword = pPassword;
        this.pPublicData = pPublicData;
        this.pRandomA = pRandomA;
        this.pPrimeP = pPrimeP;
        this.pBaseG = pBaseG;
        this.pSubprimeQ = pSubprimeQ;
    }

    /** Returns every field; byte arrays in hexadecimal, passwords by their length only. */
    @Override
    public String toString() {
        return new Format.Fields("CK_SKIPJACK_PRIVATE_WRAP_PARAMS")
                .add("pPassword", Format.hidden(pPassword))
                .add("pPublicData", Format.hex(pPublicData))
                .add("pRandomA", Format.hex(pRandomA))
                .add("pPrimeP", Format.hex(pPrimeP))
                .add("pBaseG", Format.hex(pBaseG))
                .add("pSubprimeQ", Format.hex(pSubprimeQ))
                .build();
    }
}
