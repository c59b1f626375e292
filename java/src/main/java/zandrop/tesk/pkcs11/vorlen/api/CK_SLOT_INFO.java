package zandrop.tesk.pkcs11.vorlen.api;

/**
 * Information about a slot, as {@link PKCS11Impl#C_GetSlotInfo(long)} returns it.
 *
 * <p>The native library creates these objects without running a constructor and sets every
 * field. A character field holds every byte of the module's blank-padded field as one
 * {@code char} (zero-extended, without any character-set decoding); only {@link #toString()}
 * leaves the padding out.
 */
public class CK_SLOT_INFO {

    /** Description of the slot, 64 characters, blank-padded. */
    public char[] slotDescription;

    /** The slot's manufacturer, 32 characters, blank-padded. */
    public char[] manufacturerID;

    /**
     * Bit flags: {@link PKCS11Constants#CKF_TOKEN_PRESENT},
     * {@link PKCS11Constants#CKF_REMOVABLE_DEVICE}, {@link PKCS11Constants#CKF_HW_SLOT}.
     */
    public long flags;

    /** Version of the slot's hardware. */
    public CK_VERSION hardwareVersion;

    /** Version of the slot's firmware. */
    public CK_VERSION firmwareVersion;

    /** Creates an object whose fields are null or 0. */
    public CK_SLOT_INFO() {
    }

    /**
     * Returns every field; character fields without padding, flags in hexadecimal with their
     * names.
     */
    @Override
    public String toString() {
        return new Format.Fields("CK_SLOT_INFO")
                .add("slotDescription", Format.chars(slotDescription))
                .add("manufacturerID", Format.chars(manufacturerID))
                .add("flags", Format.flags(flags, PKCS11Constants.slotFlagNames(flags)))
                .add("hardwareVersion", hardwareVersion)
                .add("firmwareVersion", firmwareVersion)
                .build();
    }
}
