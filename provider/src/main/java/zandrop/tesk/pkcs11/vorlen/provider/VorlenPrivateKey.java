package zandrop.tesk.pkcs11.vorlen.provider;

import java.math.BigInteger;
import java.security.PrivateKey;
import java.security.interfaces.ECKey;
import java.security.interfaces.EdECPrivateKey;
import java.security.interfaces.RSAKey;
import java.security.interfaces.XECPrivateKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.ECParameterSpec;
import java.security.spec.NamedParameterSpec;
import java.util.Optional;

import zandrop.tesk.pkcs11.vorlen.token.KeyObject;

/**
 * A private key that stays on the token, with the public parameters the JCA and JSSE look at:
 * an RSA key is an {@link RSAKey} (its modulus), an EC key an {@link ECKey} (its curve), an
 * EdDSA key an {@link EdECPrivateKey} without bytes, an X25519 or X448 key an
 * {@link XECPrivateKey} without scalar.
 */
public abstract sealed class VorlenPrivateKey extends TokenKey implements PrivateKey
        permits VorlenPrivateKey.Rsa, VorlenPrivateKey.Ec, VorlenPrivateKey.EdEc, VorlenPrivateKey.Xec {
    private static final long serialVersionUID = 1L;

    VorlenPrivateKey(VorlenProvider provider, KeyObject object, String algorithm) {
        super(provider, object, algorithm);
    }

    @Override
    String kind() {
        return "private key";
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

    /** An X25519 or X448 private key on the token, for key agreement. */
    public static final class Xec extends VorlenPrivateKey implements XECPrivateKey {
        private static final long serialVersionUID = 1L;
        private final transient NamedParameterSpec params;

        Xec(VorlenProvider provider, KeyObject object, NamedParameterSpec params) {
            super(provider, object, "XDH");
            this.params = params;
        }

        @Override
        public AlgorithmParameterSpec getParams() {
            return params;
        }

        /** Empty: the key does not leave the token. */
        @Override
        public Optional<byte[]> getScalar() {
            return Optional.empty();
        }
    }
}
