package zandrop.tesk.pkcs11.vorlen.provider;


import javax.crypto.SecretKey;

import zandrop.tesk.pkcs11.vorlen.token.KeyObject;

/**
 * A secret key that stays on the token (AES in this version): a handle, with no encoding
 * ({@link #getEncoded()} and {@link #getFormat()} are null). Usable from any thread, through
 * engines of the provider that found it, which finds it again when the token forgets the handle.
 */
public final class VorlenSecretKey implements SecretKey {
    private static final long serialVersionUID = 1L;

    private final transient TokenKeyRef ref;
    private final String algorithm;

    VorlenSecretKey(VorlenProvider provider, KeyObject object, String algorithm) {
        this.ref = new TokenKeyRef(provider, object);
        this.algorithm = algorithm;
    }

    VorlenProvider provider() {
        return ref.provider;
    }

    /**
     * Returns the key object on the token.
     *
     * @return the object (handle, label, id)
     */
    public KeyObject object() {
        return ref.object();
    }

    /** The same key found again on the token under a new handle. */
    void object(KeyObject fresh) {
        ref.object(fresh);
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
        return ref.describe(algorithm, "secret key");
    }
}
