package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_ENCRYPTED_DATA_INVALID;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_ENCRYPTED_DATA_LEN_RANGE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_GENERAL_ERROR;

import java.io.ByteArrayOutputStream;
import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidParameterSpecException;
import java.util.Arrays;

import javax.crypto.AEADBadTagException;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.CipherSpi;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.GCMParameterSpec;

import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * {@code AES/GCM/NoPadding} with an AES key of the token ({@code CKM_AES_GCM}). The input and
 * the additional data are collected in memory and sent to the token in one call at
 * {@code doFinal}, through a session borrowed for that call; {@code update} returns nothing.
 *
 * <p>As the JCA wants for GCM: encryption without parameters takes a random 12-byte IV and a
 * 128-bit tag; encryption with the key and IV of this engine's last encryption is refused
 * ({@link InvalidAlgorithmParameterException}), and after an encryption the engine must be
 * initialised again ({@link IllegalStateException}); decryption may be repeated. Additional
 * data goes before the text. A decryption the token refuses ({@code CKR_ENCRYPTED_DATA_INVALID},
 * {@code CKR_ENCRYPTED_DATA_LEN_RANGE}, {@code CKR_AEAD_DECRYPT_FAILED}, and
 * {@code CKR_GENERAL_ERROR}, which SoftHSM2 gives for a tag that does not match) throws
 * {@link AEADBadTagException} whose cause is the token's error; other errors throw
 * {@link ProviderException} with it. Every {@code doFinal}, also a failed one, clears the
 * collected data.
 */
final class VorlenAesGcm extends CipherSpi {
    private static final int DEFAULT_IV = 12;
    private static final int DEFAULT_TAG_BITS = 128;
    /** PKCS #11 3.0's code for a tag that does not match. */
    private static final long CKR_AEAD_DECRYPT_FAILED = 0x35L;

    private final VorlenProvider provider;
    private final ByteArrayOutputStream input = new ByteArrayOutputStream();
    private final ByteArrayOutputStream aad = new ByteArrayOutputStream();
    private VorlenSecretKey key;
    private boolean encrypt;
    private byte[] iv;
    private int tagBits;
    private boolean spent;
    private VorlenSecretKey lastKey;
    private byte[] lastIv;

    VorlenAesGcm(VorlenProvider provider) {
        this.provider = provider;
    }

    @Override
    protected void engineSetMode(String mode) throws NoSuchAlgorithmException {
        if (!"GCM".equalsIgnoreCase(mode)) {
            throw new NoSuchAlgorithmException("this cipher is AES/GCM/NoPadding, not mode " + mode);
        }
    }

    @Override
    protected void engineSetPadding(String padding) throws NoSuchPaddingException {
        if (!"NoPadding".equalsIgnoreCase(padding)) {
            throw new NoSuchPaddingException("this cipher is AES/GCM/NoPadding, not padding " + padding);
        }
    }

    @Override
    protected int engineGetBlockSize() {
        return 16;
    }

    @Override
    protected int engineGetOutputSize(int inputLen) {
        int total = input.size() + Math.max(0, inputLen);
        return encrypt ? total + tagBits / 8 : Math.max(0, total - tagBits / 8);
    }

    @Override
    protected byte[] engineGetIV() {
        return iv == null ? null : iv.clone();
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        if (iv == null) {
            return null;
        }
        try {
            AlgorithmParameters p = AlgorithmParameters.getInstance("GCM");
            p.init(new GCMParameterSpec(tagBits, iv));
            return p;
        } catch (NoSuchAlgorithmException | InvalidParameterSpecException e) {
            throw new ProviderException(e);
        }
    }

    @Override
    protected int engineGetKeySize(Key k) throws InvalidKeyException {
        VorlenSecretKey secret = tokenKey(k);
        try {
            return (int) (8 * provider.withKey(secret, (s, object) -> s.get(object, Attr.VALUE_LEN)).orElse(0L));
        } catch (TokenException e) {
            throw new InvalidKeyException("the size of " + secret + " cannot be read: " + e.getMessage(), e);
        }
    }

    static boolean accepts(VorlenProvider provider, Object key) {
        return key instanceof VorlenSecretKey k && k.provider() == provider && "AES".equals(k.getAlgorithm());
    }

    private VorlenSecretKey tokenKey(Key k) throws InvalidKeyException {
        if (!accepts(provider, k)) {
            throw new InvalidKeyException("AES/GCM of " + provider + " takes an AES key of its token, not "
                    + (k == null ? "null" : k.getClass().getName() + " (" + k.getAlgorithm() + ")"));
        }
        return (VorlenSecretKey) k;
    }

    @Override
    protected void engineInit(int opmode, Key k, SecureRandom random) throws InvalidKeyException {
        try {
            engineInit(opmode, k, (AlgorithmParameterSpec) null, random);
        } catch (InvalidAlgorithmParameterException e) {
            throw new InvalidKeyException(e.getMessage(), e);
        }
    }

    @Override
    protected void engineInit(int opmode, Key k, AlgorithmParameters params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        GCMParameterSpec spec = null;
        if (params != null) {
            try {
                spec = params.getParameterSpec(GCMParameterSpec.class);
            } catch (InvalidParameterSpecException e) {
                throw new InvalidAlgorithmParameterException("not GCM parameters: " + params, e);
            }
        }
        engineInit(opmode, k, spec, random);
    }

    @Override
    protected void engineInit(int opmode, Key k, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (opmode != Cipher.ENCRYPT_MODE && opmode != Cipher.DECRYPT_MODE) {
            throw new InvalidKeyException("AES/GCM of " + provider + " encrypts and decrypts; wrap and unwrap are not offered yet");
        }
        VorlenSecretKey newKey = tokenKey(k);
        boolean newEncrypt = opmode == Cipher.ENCRYPT_MODE;
        byte[] newIv;
        int newTag;
        if (params == null) {
            if (!newEncrypt) {
                throw new InvalidAlgorithmParameterException("AES/GCM decryption needs its GCMParameterSpec (IV and tag length)");
            }
            newIv = new byte[DEFAULT_IV];
            (random != null ? random : new SecureRandom()).nextBytes(newIv);
            newTag = DEFAULT_TAG_BITS;
        } else if (params instanceof GCMParameterSpec g) {
            newIv = g.getIV();
            newTag = g.getTLen();
            if (newIv.length == 0) {
                throw new InvalidAlgorithmParameterException("a GCM IV is not empty");
            }
            if (newTag < 96 || newTag > 128 || newTag % 8 != 0) {
                throw new InvalidAlgorithmParameterException("a GCM tag has 96, 104, 112, 120 or 128 bits, not " + newTag);
            }
        } else {
            throw new InvalidAlgorithmParameterException("AES/GCM takes a GCMParameterSpec, not " + params);
        }
        if (newEncrypt && newKey == lastKey && Arrays.equals(newIv, lastIv)) {
            throw new InvalidAlgorithmParameterException("Cannot reuse iv for GCM encryption");
        }
        key = newKey;
        encrypt = newEncrypt;
        iv = newIv;
        tagBits = newTag;
        spent = false;
        input.reset();
        aad.reset();
        if (encrypt) {
            lastKey = newKey;
            lastIv = newIv.clone();
        }
    }

    private void checkReady() {
        if (key == null) {
            throw new IllegalStateException("AES/GCM is not initialised");
        }
        if (spent) {
            throw new IllegalStateException("GCM encryption needs a new key or IV: initialise the cipher again");
        }
    }

    @Override
    protected void engineUpdateAAD(byte[] src, int offset, int len) {
        checkReady();
        if (input.size() > 0) {
            throw new IllegalStateException("additional data goes before the text");
        }
        aad.write(src, offset, len);
    }

    @Override
    protected byte[] engineUpdate(byte[] in, int inputOffset, int inputLen) {
        checkReady();
        if (in != null) {
            input.write(in, inputOffset, inputLen);
        }
        return new byte[0];
    }

    @Override
    protected int engineUpdate(byte[] in, int inputOffset, int inputLen, byte[] output, int outputOffset) {
        engineUpdate(in, inputOffset, inputLen);
        return 0;
    }

    @Override
    protected byte[] engineDoFinal(byte[] in, int inputOffset, int inputLen)
            throws IllegalBlockSizeException, BadPaddingException {
        engineUpdate(in, inputOffset, inputLen);
        byte[] data = input.toByteArray();
        byte[] additional = aad.toByteArray();
        input.reset();
        aad.reset();
        if (encrypt) {
            spent = true;
        }
        if (!encrypt && data.length < tagBits / 8) {
            throw new AEADBadTagException("the input (" + data.length + " bytes) is shorter than the tag (" + tagBits / 8 + ")");
        }
        Mechanism mechanism = Mechanism.aesGcm(iv, additional, tagBits);
        VorlenSecretKey k = key;
        boolean enc = encrypt;
        try {
            return provider.withKey(k, (s, object) -> enc ? s.encrypt(mechanism, object, data)
                    : s.decrypt(mechanism, object, data));
        } catch (TokenException e) {
            // SoftHSM2 reports a tag that does not match as CKR_GENERAL_ERROR: for a decryption
            // that is a refused ciphertext too, which the caller must be able to catch.
            if (!enc && (e.code() == CKR_ENCRYPTED_DATA_INVALID || e.code() == CKR_ENCRYPTED_DATA_LEN_RANGE
                    || e.code() == CKR_AEAD_DECRYPT_FAILED || e.code() == CKR_GENERAL_ERROR)) {
                AEADBadTagException bad = new AEADBadTagException("the GCM tag does not match: " + e.getMessage());
                bad.initCause(e);
                throw bad;
            }
            throw new ProviderException("AES/GCM with " + k + " failed: " + e.getMessage(), e);
        } finally {
            Arrays.fill(data, (byte) 0);
        }
    }

    @Override
    protected int engineDoFinal(byte[] in, int inputOffset, int inputLen, byte[] output, int outputOffset)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        int needed = engineGetOutputSize(inputLen);
        if (output == null || output.length - outputOffset < needed) {
            throw new ShortBufferException("the output needs " + needed + " bytes");
        }
        byte[] result = engineDoFinal(in, inputOffset, inputLen);
        System.arraycopy(result, 0, output, outputOffset, result.length);
        return result.length;
    }

    @Override
    public String toString() {
        return "Vorlen Cipher AES/GCM/NoPadding" + (key == null ? " (not initialised)"
                : (encrypt ? " encrypting" : " decrypting") + " with " + key + ", tag " + tagBits + " bits");
    }
}
