package zandrop.tesk.pkcs11.vorlen.provider;

import java.math.BigInteger;
import java.security.PrivateKey;
import java.security.interfaces.ECKey;
import java.security.interfaces.EdECPrivateKey;
import java.security.interfaces.RSAKey;
import java.security.spec.ECParameterSpec;
import java.security.spec.NamedParameterSpec;
import java.util.Optional;

import zandrop.tesk.pkcs11.vorlen.token.KeyObject;

/**
 * A private key that stays on the token: a handle, with no encoding ({@link #getEncoded()} and
 * {@link #getFormat()} are null) and the public parameters the JCA and JSSE look at: an RSA
 * key is an {@link RSAKey} (its modulus), an EC key an {@link ECKey} (its curve), an EdDSA key
 * an {@link EdECPrivateKey} without bytes. Usable from any thread, through engines of the
 * provider that found it; when the token forgets the handle (all its sessions closed), the
 * provider finds the key again by class, key type, {@code CKA_ID} and {@code CKA_LABEL}.
 */
public abstract sealed class VorlenPrivateKey implements PrivateKey
        permits VorlenPrivateKey.Rsa, VorlenPrivateKey.Ec, VorlenPrivateKey.EdEc {
    private static final long serialVersionUID = 1L;

    private final transient TokenKeyRef ref;
    private final String algorithm;

    VorlenPrivateKey(VorlenProvider provider, KeyObject object, String algorithm) {
        this.ref = new TokenKeyRef(provider, object);
        this.algorithm = algorithm;
    }

    /** The provider (and so the token) the key belongs to. */
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
        return ref.describe(algorithm, "private key");
    }

    /** An RSA private key on the token. */
    public static final class Rsa extends VorlenPrivateKey implements RSAKey {
        private static final long serialVersionUID = 1L;
        private final BigInteger modulus;

        Rsa(VorlenProvider provider, KeyObject object, BigInteger modulus) {
            super(provider, object, "RSA");
            this.modulus = modulus;
        }

        @Override
        public BigInteger getModulus() {
            return modulus;
        }
    }

    /** An EC (Weierstrass curve) private key on the token. */
    public static final class Ec extends VorlenPrivateKey implements ECKey {
        private static final long serialVersionUID = 1L;
        private final transient ECParameterSpec params;

        Ec(VorlenProvider provider, KeyObject object, ECParameterSpec params) {
            super(provider, object, "EC");
            this.params = params;
        }

        @Override
        public ECParameterSpec getParams() {
            return params;
        }
    }

    /** An EdDSA private key on the token (Ed25519 or Ed448). */
    public static final class EdEc extends VorlenPrivateKey implements EdECPrivateKey {
        private static final long serialVersionUID = 1L;
        private final transient NamedParameterSpec params;

        EdEc(VorlenProvider provider, KeyObject object, NamedParameterSpec params) {
            super(provider, object, "EdDSA");
            this.params = params;
        }

        @Override
        public NamedParameterSpec getParams() {
            return params;
        }

        /** Empty: the key does not leave the token. */
        @Override
        public Optional<byte[]> getBytes() {
            return Optional.empty();
        }
    }
}
