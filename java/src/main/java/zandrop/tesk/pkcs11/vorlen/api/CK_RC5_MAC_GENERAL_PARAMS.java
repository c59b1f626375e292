package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_RC5_MAC_GENERAL}.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_RC5_MAC_GENERAL_PARAMS {

    /** The word size, in bytes. */
    public long ulWordsize;

    /** The number of rounds. */
    public long ulRounds;

    /** The length of the MAC, in bytes. */
    public long ulMacLength;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_RC5_MAC_GENERAL_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param ulWordsize the word size, in bytes
     * @param ulRounds the number of rounds
     * @param ulMacLength the length of the MAC, in bytes
     */
    public CK_RC5_MAC_GENERAL_PARAMS(long ulWordsize, long ulRounds, long ulMacLength) {
        this.ulWordsize = ulWordsize;
        this.ulRounds = ulRounds;
        this.ulMacLength = ulMacLength;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_RC5_MAC_GENERAL_PARAMS")
                .add("ulWordsize", Format.count(ulWordsize))
                .add("ulRounds", Format.count(ulRounds))
                .add("ulMacLength", Format.count(ulMacLength))
                .build();
    }
}
