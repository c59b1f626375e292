package zandrop.tesk.pkcs11.vorlen.provider;

import java.util.HexFormat;

import javax.crypto.SecretKey;

import zandrop.tesk.pkcs11.vorlen.token.KeyObject;

/**
 * A secret key that stays on the token (AES in this version): a handle, with no encoding
 * ({@link #getEncoded()} and {@link #getFormat()} are null). Immutable; usable from any thread,
 * through engines of the provider that found it.
 */
public final class VorlenSecretKey implements SecretKey {
    private static final long serialVersionUID = 1L;

    private final transient VorlenProvider provider;
    private final transient KeyObject object;
    private final String algorithm;

    VorlenSecretKey(VorlenProvider provider, KeyObject object, String algorithm) {
        this.provider = provider;
        this.object = object;
        this.algorithm = algorithm;
    }

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

    @Override
    public String toString() {
        byte[] id = object.id();
        return "Vorlen " + algorithm + " secret key " + (object.label() == null ? "" : "\"" + object.label() + "\" ")
                + "(id " + (id == null ? "none" : HexFormat.of().formatHex(id)) + ", handle " + object.handle() + ")";
    }
}
