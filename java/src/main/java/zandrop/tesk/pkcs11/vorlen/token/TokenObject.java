package zandrop.tesk.pkcs11.vorlen.token;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.HexFormat;
import java.util.Locale;

/**
 * An object on a token, as a small view: its handle, class, label and ID as read when the view
 * was made. {@link KeyObject}, {@link CertificateObject} and {@link DataObject} add their kind's
 * type. A handle is valid while the session that found it, or the application's login for
 * token objects, lasts.
 */
public class TokenObject {
    /** The attributes read for every view. */
    static final Attr<?>[] VIEW = {Attr.CLASS, Attr.LABEL, Attr.ID, Attr.KEY_TYPE, Attr.CERTIFICATE_TYPE,
        Attr.APPLICATION, Attr.EC_PARAMS};

    private final long handle;
    private final long objectClass;
    private final String label;
    private final byte[] id;

    TokenObject(long handle, AttributeValues values) {
        this.handle = handle;
        this.objectClass = values.get(Attr.CLASS).orElse(-1L);
        this.label = values.get(Attr.LABEL).orElse(null);
        this.id = values.get(Attr.ID).orElse(null);
    }

    /** Makes the view that fits the object's class. */
    static TokenObject of(long handle, AttributeValues values) {
        long cls = values.get(Attr.CLASS).orElse(-1L);
        if (cls == CKO_PRIVATE_KEY || cls == CKO_PUBLIC_KEY || cls == CKO_SECRET_KEY) {
            return new KeyObject(handle, values);
        }
        if (cls == CKO_CERTIFICATE) {
            return new CertificateObject(handle, values);
        }
        if (cls == CKO_DATA) {
            return new DataObject(handle, values);
        }
        return new TokenObject(handle, values);
    }

    /**
     * Returns the handle.
     *
     * @return the {@code CK_OBJECT_HANDLE}
     */
    public long handle() {
        return handle;
    }

    /**
     * Returns the object's class.
     *
     * @return the {@code CK_OBJECT_CLASS}, or -1 when it could not be read
     */
    public long objectClass() {
        return objectClass;
    }

    /**
     * Returns the label.
     *
     * @return the label, or null when the object has none
     */
    public String label() {
        return label;
    }

    /**
     * Returns the ID.
     *
     * @return a copy of {@code CKA_ID}, or null when the object has none
     */
    public byte[] id() {
        return id == null ? null : id.clone();
    }

    /** What error messages call the object: {@code private key "k1"}. */
    String describe() {
        String kind = switch ((int) objectClass) {
            case (int) CKO_PRIVATE_KEY -> "private key";
            case (int) CKO_PUBLIC_KEY -> "public key";
            case (int) CKO_SECRET_KEY -> "secret key";
            case (int) CKO_CERTIFICATE -> "certificate";
            case (int) CKO_DATA -> "data object";
            default -> "object";
        };
        if (label != null && !label.isEmpty()) {
            return kind + " \"" + label + "\"";
        }
        if (id != null && id.length > 0) {
            return kind + " id " + HexFormat.of().formatHex(id);
        }
        return kind + " " + String.format(Locale.ROOT, "0x%X", handle);
    }

    @Override
    public String toString() {
        return describe() + " [handle " + handle + (id == null ? "" : ", id " + HexFormat.of().formatHex(id)) + "]";
    }
}
