package zandrop.tesk.pkcs11.vorlen.provider;

import java.security.Key;
import java.util.HexFormat;

import zandrop.tesk.pkcs11.vorlen.token.KeyObject;

/**
 * A key that stays on the token: a handle, with no encoding ({@link #getEncoded()} and
 * {@link #getFormat()} are null). Usable from any thread, through engines of the provider that
 * found it; when the token forgets the handle (all its sessions closed), the provider finds the
 * key again by class, key type, {@code CKA_ID} and {@code CKA_LABEL} and replaces its object.
 */
public abstract sealed class TokenKey implements Key permits VorlenPrivateKey, VorlenSecretKey {
    private static final long serialVersionUID = 1L;

    private final transient VorlenProvider provider;
    private transient volatile KeyObject object;
    private final String algorithm;

    TokenKey(VorlenProvider provider, KeyObject object, String algorithm) {
        this.provider = provider;
        this.object = object;
        this.algorithm = algorithm;
    }

    /** The provider (and so the token) the key belongs to. */
    VorlenProvider provider() {
        return provider;
    }

    /**
     * Returns the key object on the token.
     *
     * @return the object (handle, label, id)
     */
    public KeyObject object() {
        return object;
    }

    /** The same key found again on the token under a new handle. */
    void object(KeyObject fresh) {
        object = fresh;
    }

    @Override
    public String getAlgorithm() {
        return algorithm;
    }

    /** Null: the key does not leave the token. */
    @Override
    public String getFormat() {
        return null;
    }

    /** Null: the key does not leave the token. */
    @Override
    public byte[] getEncoded() {
        return null;
    }

    /** "private key" or "secret key", for {@link #toString()}. */
    abstract String kind();

    @Override
    public String toString() {
        KeyObject o = object;
        byte[] id = o.id();
        return "Vorlen " + algorithm + " " + kind() + " " + (o.label() == null ? "" : "\"" + o.label() + "\" ")
                + "(id " + (id == null ? "none" : HexFormat.of().formatHex(id)) + ", handle " + o.handle() + ")";
    }
}
