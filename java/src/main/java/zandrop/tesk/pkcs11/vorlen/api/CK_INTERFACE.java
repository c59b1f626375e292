package zandrop.tesk.pkcs11.vorlen.api;

/**
 * One interface that a PKCS #11 v3.0 module offers, as {@code C_GetInterfaceList} reports it: its
 * name, the version of its function list and its flags.
 *
 * <p>The standard interface is called {@code "PKCS 11"}; a module may offer it in several
 * versions (such as 3.0 and 2.40) and interfaces of its vendor besides. The function list itself
 * stays inside the library: the name and the version identify it.
 */
public class CK_INTERFACE {

    /** The name of the interface, such as {@code "PKCS 11"}, without a terminating zero. */
    public char[] pInterfaceName;

    /** The version of the interface's function list, such as 3.0. */
    public CK_VERSION version;

    /** The interface's flags, such as {@link PKCS11Constants#CKF_INTERFACE_FORK_SAFE}. */
    public long flags;

    /** Creates an object whose fields are null or 0. */
    public CK_INTERFACE() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pInterfaceName the name of the interface, such as {@code "PKCS 11"}
     * @param version the version of the interface's function list
     * @param flags the interface's flags, such as {@link PKCS11Constants#CKF_INTERFACE_FORK_SAFE}
     */
    public CK_INTERFACE(char[] pInterfaceName, CK_VERSION version, long flags) {
        this.pInterfaceName = pInterfaceName;
        this.version = version;
        this.flags = flags;
    }

    /** Returns every field: the name as text, the version as major.minor, flags in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_INTERFACE")
                .add("pInterfaceName", pInterfaceName == null ? "null" : new String(pInterfaceName))
                .add("version", version)
                .add("flags", Format.flags(flags))
                .build();
    }
}
