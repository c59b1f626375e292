package zandrop.tesk.pkcs11.vorlen.api;

/**
 * Information about a token, as {@link PKCS11Impl#C_GetTokenInfo(long)} returns it.
 *
 * <p>The native library creates these objects without running a constructor and sets every
 * field. A character field holds every byte of the module's blank-padded field as one
 * {@code char} (zero-extended, without any character-set decoding); only {@link #toString()}
 * leaves the padding out.
 *
 * <p>A count or memory size that the token cannot report holds
 * {@link PKCS11Constants#CK_UNAVAILABLE_INFORMATION}: all bits of the native {@code CK_ULONG}
 * set, which reads 4294967295 where a {@code CK_ULONG} has 32 bits and -1 where it has 64.
 * {@link #toString()} shows either as {@code CK_UNAVAILABLE_INFORMATION}.
 */
public class CK_TOKEN_INFO {

    /** The label given when the token was initialised, 32 characters, blank-padded. */
    public char[] label;

    /** The token's manufacturer, 32 characters, blank-padded. */
    public char[] manufacturerID;

    /** The token's model, 16 characters, blank-padded. */
    public char[] model;

    /** The token's serial number, 16 characters, blank-padded. */
    public char[] serialNumber;

    /** Bit flags, such as {@link PKCS11Constants#CKF_LOGIN_REQUIRED}. */
    public long flags;

    /**
     * Most sessions open at once; {@link PKCS11Constants#CK_EFFECTIVELY_INFINITE} for no limit.
     */
    public long ulMaxSessionCount;

    /** Sessions open now. */
    public long ulSessionCount;

    /**
     * Most read/write sessions open at once; {@link PKCS11Constants#CK_EFFECTIVELY_INFINITE}
     * for no limit.
     */
    public long ulMaxRwSessionCount;

    /** Read/write sessions open now. */
    public long ulRwSessionCount;

    /** Longest PIN, in bytes. */
    public long ulMaxPinLen;

    /** Shortest PIN, in bytes. */
    public long ulMinPinLen;

    /** Memory for public objects, in bytes. */
    public long ulTotalPublicMemory;

    /** Free memory for public objects, in bytes. */
    public long ulFreePublicMemory;

    /** Memory for private objects, in bytes. */
    public long ulTotalPrivateMemory;

    /** Free memory for private objects, in bytes. */
    public long ulFreePrivateMemory;

    /** Version of the token's hardware. */
    public CK_VERSION hardwareVersion;

    /** Version of the token's firmware. */
    public CK_VERSION firmwareVersion;

    /**
     * The token's clock as 16 characters {@code YYYYMMDDhhmmssxx} (the last two reserved), when
     * it has one ({@link PKCS11Constants#CKF_CLOCK_ON_TOKEN}); otherwise blanks or zeros.
     */
    public char[] utcTime;

    /** Creates an object whose fields are null or 0. */
    public CK_TOKEN_INFO() {
    }

    /**
     * Returns every field: character fields without padding, flags in hexadecimal with their
     * names, counts and sizes as unsigned numbers, with the special values
     * {@code CK_UNAVAILABLE_INFORMATION} and (for the two maximum session counts)
     * {@code CK_EFFECTIVELY_INFINITE} by name.
     */
    @Override
    public String toString() {
        return new Format.Fields("CK_TOKEN_INFO")
                .add("label", Format.chars(label))
                .add("manufacturerID", Format.chars(manufacturerID))
                .add("model", Format.chars(model))
                .add("serialNumber", Format.chars(serialNumber))
                .add("flags", Format.flags(flags, PKCS11Constants.tokenFlagNames(flags)))
                .add("ulMaxSessionCount", Format.maxCount(ulMaxSessionCount))
                .add("ulSessionCount", Format.count(ulSessionCount))
                .add("ulMaxRwSessionCount", Format.maxCount(ulMaxRwSessionCount))
                .add("ulRwSessionCount", Format.count(ulRwSessionCount))
                .add("ulMaxPinLen", Format.count(ulMaxPinLen))
                .add("ulMinPinLen", Format.count(ulMinPinLen))
                .add("ulTotalPublicMemory", Format.count(ulTotalPublicMemory))
                .add("ulFreePublicMemory", Format.count(ulFreePublicMemory))
                .add("ulTotalPrivateMemory", Format.count(ulTotalPrivateMemory))
                .add("ulFreePrivateMemory", Format.count(ulFreePrivateMemory))
                .add("hardwareVersion", hardwareVersion)
                .add("firmwareVersion", firmwareVersion)
                .add("utcTime", Format.chars(utcTime))
                .build();
    }
}
