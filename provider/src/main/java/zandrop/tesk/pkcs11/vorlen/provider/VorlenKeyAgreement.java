package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_AES;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_CHACHA20;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_EC_MONTGOMERY;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_GENERIC_SECRET;

import java.math.BigInteger;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.security.SecureRandom;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.XECPublicKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.NamedParameterSpec;
import java.util.Arrays;

import javax.crypto.KeyAgreementSpi;
import javax.crypto.SecretKey;
import javax.crypto.ShortBufferException;

import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.Curve;
import zandrop.tesk.pkcs11.vorlen.token.KeyObject;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.Template;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * {@code ECDH} (an EC private key of the token, an {@link ECPublicKey} of the same curve) and
 * {@code X25519} (a Montgomery private key of the token, an {@link XECPublicKey}), both
 * {@code CKM_ECDH1_DERIVE} without a KDF, two parties (one phase).
 *
 * <p>{@code generateSecret(String)} keeps the shared secret on the token as a secret key of the
 * algorithm named (AES: 256 bits of it, or 128 when the secret is shorter; ChaCha20: 256;
 * Hmac..., Generic, TlsPremasterSecret: all of it), a session object, sensitive and extractable.
 * {@code generateSecret()} gives out the secret's bytes where the token allows it (a derived key
 * that is not sensitive); a token that keeps them says so. Either ends the agreement.
 */
final class VorlenKeyAgreement extends KeyAgreementSpi {
    private final VorlenProvider provider;
    private final boolean x25519;
    private final String name;
    private VorlenPrivateKey key;
    private Curve curve;
    private byte[] otherPublic;

    VorlenKeyAgreement(VorlenProvider provider, boolean x25519) {
        this.provider = provider;
        this.x25519 = x25519;
        this.name = x25519 ? "X25519" : "ECDH";
    }

    /** Whether a key is a private key of this token that the agreement takes. */
    static boolean accepts(VorlenProvider provider, boolean x25519, Object key) {
        if (!(key instanceof VorlenPrivateKey k) || k.provider() != provider) {
            return false;
        }
        KeyObject o = k.object();
        return x25519 ? o.keyType() == CKK_EC_MONTGOMERY && (o.curve() == null || o.curve() == Curve.X25519)
                : k instanceof VorlenPrivateKey.Ec;
    }

    @Override
    protected void engineInit(Key k, SecureRandom random) throws InvalidKeyException {
        if (!accepts(provider, x25519, k)) {
            throw SecretKeys.refused(name, provider, x25519 ? "an X25519 private key" : "an EC private key", k);
        }
        VorlenPrivateKey p = (VorlenPrivateKey) k;
        Curve c = x25519 ? Curve.X25519 : p.object().curve();
        if (c == null && p instanceof VorlenPrivateKey.Ec ec) {
            c = Curve.of(ec.getParams());
        }
        if (c == null) {
            throw new InvalidKeyException("the curve of " + k + " is not known here");
        }
        key = p;
        curve = c;
        otherPublic = null;
    }

    @Override
    protected void engineInit(Key k, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (params != null && !(x25519 && params instanceof NamedParameterSpec n && n.getName().equalsIgnoreCase("X25519"))) {
            throw new InvalidAlgorithmParameterException(name + " takes no parameters, not " + params);
        }
        engineInit(k, random);
    }

    @Override
    protected Key engineDoPhase(Key k, boolean lastPhase) throws InvalidKeyException {
        if (key == null) {
            throw new IllegalStateException(name + " is not initialised");
        }
        if (!lastPhase) {
            throw new IllegalStateException(name + " has one phase: doPhase(key, true)");
        }
        if (x25519) {
            if (!(k instanceof XECPublicKey xec) || !(xec.getParams() instanceof NamedParameterSpec n)
                    || !n.getName().equalsIgnoreCase("X25519")) {
                throw new InvalidKeyException("X25519 agrees with an X25519 public key (XECPublicKey), not " + k);
            }
            otherPublic = littleEndian(xec.getU(), 32);
        } else {
            if (!(k instanceof ECPublicKey ec)) {
                throw new InvalidKeyException("ECDH agrees with an EC public key, not " + k);
            }
            Curve c;
            try {
                c = Curve.of(ec.getParams());
            } catch (IllegalArgumentException e) {
                throw new InvalidKeyException("the curve of the public key is not known here", e);
            }
            if (c != curve) {
                throw new InvalidKeyException("the public key is on " + c + ", the private key on " + curve);
            }
            int size = curve.size();
            byte[] point = new byte[1 + 2 * size];
            point[0] = 4;
            fixed(ec.getW().getAffineX(), point, 1, size);
            fixed(ec.getW().getAffineY(), point, 1 + size, size);
            otherPublic = point;
        }
        return null;
    }

    private static byte[] littleEndian(BigInteger u, int size) {
        byte[] out = new byte[size];
        fixed(u.mod(BigInteger.ONE.shiftLeft(8 * size)), out, 0, size);
        for (int i = 0; i < size / 2; i++) {
            byte t = out[i];
            out[i] = out[size - 1 - i];
            out[size - 1 - i] = t;
        }
        return out;
    }

    private static void fixed(BigInteger value, byte[] into, int offset, int size) {
        byte[] b = value.toByteArray();
        int skip = b.length > size ? b.length - size : 0;
        System.arraycopy(b, skip, into, offset + size - (b.length - skip), b.length - skip);
    }

    private void checkAgreed() {
        if (key == null || otherPublic == null) {
            throw new IllegalStateException(name + " needs init and doPhase(publicKey, true) first");
        }
    }

    /** Derives the shared secret as a key of the token, and ends the agreement. */
    private KeyObject derive(long keyType, int length, boolean sensitive) {
        checkAgreed();
        Mechanism m = Mechanism.ecdh(otherPublic);
        Template template = SecretKeys.template(keyType, sensitive).with(Attr.VALUE_LEN, (long) length);
        try {
            return provider.withKey(key, (s, object) -> s.derive(m, object, template));
        } finally {
            otherPublic = null;
        }
    }

    @Override
    protected byte[] engineGenerateSecret() {
        int length = curve == null ? 0 : curve.size();
        KeyObject secret;
        try {
            secret = derive(CKK_GENERIC_SECRET, length, false);
        } catch (TokenException e) {
            throw new ProviderException(name + " with " + key + " failed: " + e.getMessage(), e);
        }
        try {
            return provider.token().withSession(false, s -> s.get(secret, Attr.VALUE)).orElseThrow(() ->
                    new ProviderException("the token of " + provider + " does not give out the agreed secret: use "
                            + "generateSecret(algorithm) to keep it on the token as a key"));
        } catch (TokenException e) {
            throw new ProviderException("the token of " + provider + " does not give out the agreed secret: "
                    + e.getMessage(), e);
        } finally {
            try {
                provider.token().withSession(false, s -> {
                    s.destroy(secret);
                    return null;
                });
            } catch (TokenException e) {
                // A session object: it goes with its session at the latest.
            }
        }
    }

    @Override
    protected int engineGenerateSecret(byte[] sharedSecret, int offset) throws ShortBufferException {
        checkAgreed();
        if (sharedSecret == null || sharedSecret.length - offset < curve.size()) {
            throw new ShortBufferException("the secret needs " + curve.size() + " bytes");
        }
        byte[] secret = engineGenerateSecret();
        System.arraycopy(secret, 0, sharedSecret, offset, secret.length);
        Arrays.fill(secret, (byte) 0);
        return secret.length;
    }

    @Override
    protected SecretKey engineGenerateSecret(String algorithm) throws NoSuchAlgorithmException, InvalidKeyException {
        checkAgreed();
        long keyType = SecretKeys.keyType(algorithm);
        int size = curve.size();
        int length = keyType == CKK_AES ? (size >= 32 ? 32 : 16) : keyType == CKK_CHACHA20 ? 32 : size;
        if (keyType == CKK_CHACHA20 && size < 32) {
            throw new InvalidKeyException("a " + curve + " secret is too short for a ChaCha20 key");
        }
        try {
            return SecretKeys.key(provider, derive(keyType, length, true), algorithm);
        } catch (TokenException e) {
            throw new InvalidKeyException(name + " with " + key + " cannot derive a " + algorithm + " key: " + e.getMessage(), e);
        }
    }

    @Override
    public String toString() {
        return "Vorlen KeyAgreement " + name + (key == null ? " (not initialised)" : " with " + key);
    }
}
