package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_AES;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_KEY_WRAP;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_KEY_WRAP_KWP;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_KEY_WRAP_PAD;

import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.NoSuchAlgorithmException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidKeySpecException;

import javax.crypto.Cipher;
import javax.crypto.CipherSpi;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.SecretKey;
import javax.crypto.spec.SecretKeySpec;

import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;
import zandrop.tesk.pkcs11.vorlen.token.TokenObject;

/**
 * {@code AESWrap} (RFC 3394, {@code CKM_AES_KEY_WRAP}) and {@code AESWrapPad} (RFC 5649:
 * {@code CKM_AES_KEY_WRAP_KWP}, or SoftHSM2's {@code CKM_AES_KEY_WRAP_PAD} where the token lacks
 * that) with an AES key of the token, in {@code WRAP_MODE} and {@code UNWRAP_MODE} only.
 *
 * <p>Wrapping takes a key of the token that the token lets out wrapped ({@code CKA_EXTRACTABLE}),
 * or a secret key with its bytes, which goes onto the token as a session object for the call.
 * Unwrapping makes a secret key of the token ({@code Cipher.SECRET_KEY}) of the algorithm named:
 * AES, ChaCha20, Hmac... (a generic secret); the value stays on the token.
 */
final class VorlenKeyWrap extends CipherSpi {
    private final VorlenProvider provider;
    private final boolean pad;
    private final String name;
    private VorlenSecretKey key;
    private boolean wrapping;

    VorlenKeyWrap(VorlenProvider provider, boolean pad) {
        this.provider = provider;
        this.pad = pad;
        this.name = pad ? "AESWrapPad" : "AESWrap";
    }

    /** The padded mechanism this token offers. */
    static long padMechanism(zandrop.tesk.pkcs11.vorlen.token.Token token) {
        return token.supports(CKM_AES_KEY_WRAP_KWP) ? CKM_AES_KEY_WRAP_KWP : CKM_AES_KEY_WRAP_PAD;
    }

    private Mechanism mechanism() {
        return Mechanism.of(pad ? padMechanism(provider.token()) : CKM_AES_KEY_WRAP);
    }

    @Override
    protected void engineSetMode(String mode) throws NoSuchAlgorithmException {
        throw new NoSuchAlgorithmException(name + " has no modes, not " + mode);
    }

    @Override
    protected void engineSetPadding(String padding) throws NoSuchPaddingException {
        throw new NoSuchPaddingException(name + " has no paddings, not " + padding);
    }

    @Override
    protected int engineGetBlockSize() {
        return 8;
    }

    @Override
    protected int engineGetOutputSize(int inputLen) {
        return wrapping ? (inputLen + 7) / 8 * 8 + 8 : inputLen;
    }

    @Override
    protected byte[] engineGetIV() {
        return null;
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        return null;
    }

    @Override
    protected void engineInit(int opmode, Key k, SecureRandom random) throws InvalidKeyException {
        if (opmode != Cipher.WRAP_MODE && opmode != Cipher.UNWRAP_MODE) {
            throw new InvalidKeyException(name + " of " + provider + " wraps and unwraps keys (WRAP_MODE, UNWRAP_MODE)");
        }
        if (!SecretKeys.fits(k, provider, CKK_AES)) {
            throw SecretKeys.refused(name, provider, "an AES key", k);
        }
        key = (VorlenSecretKey) k;
        wrapping = opmode == Cipher.WRAP_MODE;
    }

    @Override
    protected void engineInit(int opmode, Key k, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (params != null) {
            throw new InvalidAlgorithmParameterException(name + " takes no parameters (the default IV), not " + params);
        }
        engineInit(opmode, k, random);
    }

    @Override
    protected void engineInit(int opmode, Key k, AlgorithmParameters params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (params != null) {
            throw new InvalidAlgorithmParameterException(name + " takes no parameters, not " + params);
        }
        engineInit(opmode, k, random);
    }

    @Override
    protected int engineGetKeySize(Key k) throws InvalidKeyException {
        if (!SecretKeys.fits(k, provider, CKK_AES)) {
            throw SecretKeys.refused(name, provider, "an AES key", k);
        }
        VorlenSecretKey secret = (VorlenSecretKey) k;
        try {
            return (int) (8 * provider.withKey(secret, (s, object) -> s.get(object, Attr.VALUE_LEN)).orElse(0L));
        } catch (TokenException e) {
            throw new InvalidKeyException("the size of " + secret + " cannot be read: " + e.getMessage(), e);
        }
    }

    private IllegalStateException notData() {
        return new IllegalStateException(name + " of " + provider + " wraps keys: use wrap and unwrap");
    }

    @Override
    protected byte[] engineUpdate(byte[] input, int inputOffset, int inputLen) {
        throw notData();
    }

    @Override
    protected int engineUpdate(byte[] input, int inputOffset, int inputLen, byte[] output, int outputOffset) {
        throw notData();
    }

    @Override
    protected byte[] engineDoFinal(byte[] input, int inputOffset, int inputLen) {
        throw notData();
    }

    @Override
    protected int engineDoFinal(byte[] input, int inputOffset, int inputLen, byte[] output, int outputOffset) {
        throw notData();
    }

    @Override
    protected byte[] engineWrap(Key toWrap) throws IllegalBlockSizeException, InvalidKeyException {
        if (key == null || !wrapping) {
            throw new IllegalStateException(name + " is not initialised to wrap");
        }
        Mechanism m = mechanism();
        try {
            if (toWrap instanceof TokenKey t && t.provider() == provider) {
                return provider.withKey(key, (s, kek) -> s.wrap(m, kek, t.object()));
            }
            if (toWrap instanceof SecretKey secret && "RAW".equalsIgnoreCase(secret.getFormat()) && secret.getEncoded() != null) {
                VorlenSecretKey onToken = VorlenSecretKeyFactory.create(provider, new SecretKeySpec(secret.getEncoded(),
                        secret.getAlgorithm()), secret.getAlgorithm());
                try {
                    return provider.withKey(key, (s, kek) -> s.wrap(m, kek, onToken.object()));
                } finally {
                    destroy(onToken.object());
                }
            }
        } catch (TokenException e) {
            throw new InvalidKeyException(name + " with " + key + " cannot wrap " + toWrap + ": " + e.getMessage(), e);
        } catch (InvalidKeySpecException | NoSuchAlgorithmException e) {
            throw new InvalidKeyException(name + " cannot put " + toWrap + " on the token: " + e.getMessage(), e);
        }
        throw new InvalidKeyException(name + " of " + provider + " wraps keys of its token and secret keys with their bytes, not "
                + (toWrap == null ? "null" : toWrap.getClass().getName()));
    }

    private void destroy(TokenObject object) {
        try {
            provider.token().withSession(false, s -> {
                s.destroy(object);
                return null;
            });
        } catch (TokenException e) {
            // A session object: it goes with its session at the latest.
        }
    }

    @Override
    protected Key engineUnwrap(byte[] wrappedKey, String algorithm, int type)
            throws InvalidKeyException, NoSuchAlgorithmException {
        if (key == null || wrapping) {
            throw new IllegalStateException(name + " is not initialised to unwrap");
        }
        if (type != Cipher.SECRET_KEY) {
            throw new InvalidKeyException(name + " of " + provider + " unwraps secret keys onto the token, not key type " + type);
        }
        long keyType = SecretKeys.keyType(algorithm);
        Mechanism m = mechanism();
        try {
            return SecretKeys.key(provider, provider.withKey(key, (s, kek) -> s.unwrap(m, kek, wrappedKey,
                    SecretKeys.template(keyType, true))), algorithm);
        } catch (TokenException e) {
            throw new InvalidKeyException(name + " with " + key + " cannot unwrap the key: " + e.getMessage(), e);
        }
    }

    @Override
    public String toString() {
        return "Vorlen Cipher " + name + (key == null ? " (not initialised)" : (wrapping ? " wrapping" : " unwrapping")
                + " with " + key);
    }
}
