package zandrop.tesk.pkcs11.vorlen.api;

/**
 * General information about a module, as {@link PKCS11Impl#C_GetInfo()} returns it.
 *
 * <p>The native library creates these objects without running a constructor and sets every
 * field. A character field holds every byte of the module's blank-padded field as one
 * {@code char} (zero-extended, without any character-set decoding); only {@link #toString()}
 * leaves the padding out.
 */
public class CK_INFO {

    /** Version of the standard that the module implements. */
    public CK_VERSION cryptokiVersion;

    /** The module's manufacturer, 32 characters, blank-padded. */
    public char[] manufacturerID;

    /** Bit flags; the standard defines none, so modules report 0. */
    public long flags;

    /** Description of the module, 32 characters, blank-padded. */
    public char[] libraryDescription;

    /** Version of the module itself. */
    public CK_VERSION libraryVersion;

    /** Creates an object whose fields are null or 0. */
    public CK_INFO() {
    }

    /** Returns every field; character fields without padding, flags in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_INFO")
                .add("cryptokiVersion", cryptokiVersion)
                .add("manufacturerID", Format.chars(manufacturerID))
                .add("flags", Format.flags(flags))
                .add("libraryDescription", Format.chars(libraryDescription))
                .add("libraryVersion", libraryVersion)
                .build();
    }
}
