package zandrop.tesk.pkcs11.vorlen.api;

/**
 * A version number of two bytes: of the standard a module implements, of a module, or of a
 * slot's or token's hardware and firmware.
 *
 * <p>The bytes are stored as the module reports them. A byte above 127 therefore reads as a
 * negative Java byte; {@link #toString()} shows both bytes as unsigned numbers.
 */
public class CK_VERSION {

    /** The major version, an unsigned byte. */
    public byte major;

    /** The minor version, an unsigned byte: 40 in version 2.40. */
    public byte minor;

    /** Creates the version 0.0. */
    public CK_VERSION() {
    }

    /**
     * Creates a version from its two numbers.
     *
     * @param major the major version, 0 to 255
     * @param minor the minor version, 0 to 255
     * @throws IllegalArgumentException if a number does not fit in an unsigned byte
     */
    public CK_VERSION(int major, int minor) {
        this.major = unsignedByte("major", major);
        this.minor = unsignedByte("minor", minor);
    }

    private static byte unsignedByte(String name, int value) {
        if (value < 0 || value > 255) {
            throw new IllegalArgumentException(
                    "The " + name + " version must lie between 0 and 255: " + value);
        }
        return (byte) value;
    }

    /** Returns the version as major and minor number, such as {@code 2.40}. */
    @Override
    public String toString() {
        return Byte.toUnsignedInt(major) + "." + Byte.toUnsignedInt(minor);
    }
}
