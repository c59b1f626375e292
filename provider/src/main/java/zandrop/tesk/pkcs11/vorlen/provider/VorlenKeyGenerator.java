package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_AES;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_CHACHA20;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_KEY_GEN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_CHACHA20_KEY_GEN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_GENERIC_SECRET_KEY_GEN;

import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidParameterException;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;

import javax.crypto.KeyGeneratorSpi;
import javax.crypto.SecretKey;

import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM_INFO;
import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * Generates secret keys on the token: {@code AES} (128, 192 or 256 bits, 256 by default;
 * {@code CKM_AES_KEY_GEN}), {@code ChaCha20} (256 bits) and {@code HmacSHA1} ...
 * {@code HmacSHA512} (generic secrets of any whole number of bytes, by default as long as the
 * JDK's: 64 bytes for SHA-1 and SHA-224, 32, 48, 64 for the others). The keys are session
 * objects, sensitive and extractable (see {@link SecretKeys}). A size outside the range the
 * token gives for its mechanism is refused with that range. The random source given to
 * {@code init} is not used: the token draws the key.
 */
final class VorlenKeyGenerator extends KeyGeneratorSpi {
    private final VorlenProvider provider;
    private final String algorithm;
    private final long keyType;
    private final long mechanism;
    private int bytes;

    VorlenKeyGenerator(VorlenProvider provider, String algorithm, Hash hash) {
        this.provider = provider;
        this.algorithm = algorithm;
        if (hash == null && algorithm.equals("AES")) {
            keyType = CKK_AES;
            mechanism = CKM_AES_KEY_GEN;
            bytes = 32;
        } else if (hash == null) {
            keyType = CKK_CHACHA20;
            mechanism = CKM_CHACHA20_KEY_GEN;
            bytes = 32;
        } else {
            keyType = zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_GENERIC_SECRET;
            mechanism = CKM_GENERIC_SECRET_KEY_GEN;
            bytes = hash == Hash.SHA1 || hash == Hash.SHA224 ? 64 : hash.length();
        }
    }

    @Override
    protected void engineInit(SecureRandom random) {
        // The default size stays.
    }

    @Override
    protected void engineInit(AlgorithmParameterSpec params, SecureRandom random) throws InvalidAlgorithmParameterException {
        throw new InvalidAlgorithmParameterException("the " + algorithm + " key generator takes a size, not " + params);
    }

    @Override
    protected void engineInit(int keysize, SecureRandom random) {
        if (keysize <= 0 || keysize % 8 != 0
                || keyType == CKK_AES && keysize != 128 && keysize != 192 && keysize != 256
                || keyType == CKK_CHACHA20 && keysize != 256) {
            throw new InvalidParameterException(algorithm + " keys of " + keysize + " bits are not made here");
        }
        CK_MECHANISM_INFO info;
        try {
            info = provider.token().mechanismInfo(mechanism);
        } catch (TokenException e) {
            throw new ProviderException("the token tells nothing of " + Mechanism.of(mechanism) + ": " + e.getMessage(), e);
        }
        int n = keysize / 8;
        // The range is in bytes for these mechanisms; some tokens give it in bits.
        boolean inBytes = n >= info.ulMinKeySize && n <= info.ulMaxKeySize;
        boolean inBits = keysize >= info.ulMinKeySize && keysize <= info.ulMaxKeySize;
        if (info.ulMaxKeySize != 0 && !inBytes && !inBits) {
            throw new InvalidParameterException("the token makes " + algorithm + " keys of " + info.ulMinKeySize + " to "
                    + info.ulMaxKeySize + " bytes (" + Mechanism.of(mechanism) + "), not of " + keysize + " bits");
        }
        bytes = n;
    }

    @Override
    protected SecretKey engineGenerateKey() {
        try {
            return SecretKeys.key(provider, provider.token().withSession(false, s -> s.generateKey(Mechanism.of(mechanism),
                    SecretKeys.template(keyType, true).with(Attr.VALUE_LEN, (long) bytes))),
                    algorithm);
        } catch (TokenException e) {
            throw new ProviderException("the token does not generate this " + algorithm + " key (" + bytes * 8 + " bits): "
                    + e.getMessage(), e);
        }
    }

    @Override
    public String toString() {
        return "Vorlen KeyGenerator " + algorithm + " of " + provider + ", " + bytes * 8 + " bits";
    }
}
