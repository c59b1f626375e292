package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_AES;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_CHACHA20;

import java.security.InvalidKeyException;
import java.security.NoSuchAlgorithmException;
import java.security.spec.InvalidKeySpecException;
import java.security.spec.KeySpec;
import java.util.Arrays;

import javax.crypto.SecretKey;
import javax.crypto.SecretKeyFactorySpi;
import javax.crypto.spec.SecretKeySpec;

import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * Makes a secret key of the token from its bytes ({@link SecretKeySpec}): AES (16, 24 or 32
 * bytes), ChaCha20 (32 bytes), Hmac... (a generic secret of any length). The key is a session
 * object, sensitive and extractable (see {@link SecretKeys}); the token may refuse keys made
 * from bytes, which the {@link InvalidKeySpecException} says, with its error as the cause.
 * {@code getKeySpec} gives the bytes only of a key whose value the token shows.
 */
final class VorlenSecretKeyFactory extends SecretKeyFactorySpi {
    private final VorlenProvider provider;
    private final String algorithm;

    VorlenSecretKeyFactory(VorlenProvider provider, String algorithm) {
        this.provider = provider;
        this.algorithm = algorithm;
    }

    @Override
    protected SecretKey engineGenerateSecret(KeySpec spec) throws InvalidKeySpecException {
        if (!(spec instanceof SecretKeySpec s)) {
            throw new InvalidKeySpecException("the " + algorithm + " factory of " + provider + " takes a SecretKeySpec, not "
                    + (spec == null ? "null" : spec.getClass().getName()));
        }
        try {
            return create(provider, s, algorithm);
        } catch (NoSuchAlgorithmException e) {
            throw new InvalidKeySpecException(e.getMessage(), e);
        }
    }

    /** Puts the bytes of a key onto the token as a secret key of the algorithm. */
    static VorlenSecretKey create(VorlenProvider provider, SecretKeySpec spec, String algorithm)
            throws InvalidKeySpecException, NoSuchAlgorithmException {
        long keyType = SecretKeys.keyType(algorithm);
        byte[] value = spec.getEncoded();
        try {
            if (keyType == CKK_AES && value.length != 16 && value.length != 24 && value.length != 32
                    || keyType == CKK_CHACHA20 && value.length != 32) {
                throw new InvalidKeySpecException(algorithm + " keys have " + (keyType == CKK_AES ? "16, 24 or 32" : "32")
                        + " bytes, not " + value.length);
            }
            try {
                return SecretKeys.key(provider, provider.token().withSession(false, s -> (zandrop.tesk.pkcs11.vorlen.token.KeyObject) s.create(
                        SecretKeys.template(keyType, true).with(Attr.VALUE, value))), algorithm);
            } catch (TokenException e) {
                throw (InvalidKeySpecException) new InvalidKeySpecException("the token of " + provider
                        + " does not take this " + algorithm + " key from its bytes: " + e.getMessage()).initCause(e);
            }
        } finally {
            Arrays.fill(value, (byte) 0);
        }
    }

    @Override
    protected KeySpec engineGetKeySpec(SecretKey key, Class<?> keySpec) throws InvalidKeySpecException {
        if (!(key instanceof VorlenSecretKey k) || k.provider() != provider) {
            throw new InvalidKeySpecException("not a key of " + provider + ": " + key);
        }
        if (keySpec == null || !keySpec.isAssignableFrom(SecretKeySpec.class)) {
            throw new InvalidKeySpecException("the factory gives a SecretKeySpec, not " + keySpec);
        }
        try {
            byte[] value = provider.withKey(k, (s, object) -> s.get(object, Attr.VALUE)).orElseThrow(() ->
                    new InvalidKeySpecException("the token does not show the value of " + k));
            return new SecretKeySpec(value, k.getAlgorithm());
        } catch (TokenException e) {
            throw (InvalidKeySpecException) new InvalidKeySpecException("the token does not show the value of " + k + ": "
                    + e.getMessage()).initCause(e);
        }
    }

    @Override
    protected SecretKey engineTranslateKey(SecretKey key) throws InvalidKeyException {
        if (key instanceof VorlenSecretKey k && k.provider() == provider) {
            return k;
        }
        if (key == null || !"RAW".equalsIgnoreCase(key.getFormat()) || key.getEncoded() == null) {
            throw new InvalidKeyException("a secret key with its bytes (RAW) goes onto the token, not " + key);
        }
        try {
            return create(provider, new SecretKeySpec(key.getEncoded(), algorithm), algorithm);
        } catch (InvalidKeySpecException | NoSuchAlgorithmException e) {
            throw new InvalidKeyException(e.getMessage(), e);
        }
    }

    @Override
    public String toString() {
        return "Vorlen SecretKeyFactory " + algorithm + " of " + provider;
    }
}
