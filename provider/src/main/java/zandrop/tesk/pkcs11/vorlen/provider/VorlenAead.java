package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_AES;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_CHACHA20;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_ENCRYPTED_DATA_INVALID;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_ENCRYPTED_DATA_LEN_RANGE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_GENERAL_ERROR;

import java.io.ByteArrayOutputStream;
import java.security.AlgorithmParameters;
import java.security.GeneralSecurityException;
import java.security.InvalidAlgorithmParameterException;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidParameterSpecException;
import java.util.Arrays;

import javax.crypto.AEADBadTagException;
import javax.crypto.spec.GCMParameterSpec;
import javax.crypto.spec.IvParameterSpec;

import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * The AEAD ciphers: {@code AES/GCM/NoPadding} ({@code CKM_AES_GCM}, {@link GCMParameterSpec})
 * and {@code ChaCha20-Poly1305} ({@code CKM_CHACHA20_POLY1305}, a 12-byte nonce in an
 * {@link IvParameterSpec}, a 128-bit tag). The input and the additional data are collected in
 * memory and sent to the token in one call at {@code doFinal}; {@code update} returns nothing.
 * Decryption has to work so: no plaintext may leave before the tag is checked, so the whole
 * ciphertext is held, and an AEAD message takes memory of its size (split long data into
 * messages of bounded size).
 *
 * <p>As the JCA wants: encryption without parameters takes a random 12-byte IV (GCM: and a
 * 128-bit tag); encryption with the key and IV of this engine's last encryption is refused
 * ({@link InvalidAlgorithmParameterException}), and after an encryption the engine must be
 * initialised again ({@link IllegalStateException}); decryption may be repeated. Additional
 * data goes before the text. A decryption the token refuses ({@code CKR_ENCRYPTED_DATA_INVALID},
 * {@code CKR_ENCRYPTED_DATA_LEN_RANGE}, {@code CKR_AEAD_DECRYPT_FAILED}, and
 * {@code CKR_GENERAL_ERROR}, which SoftHSM2 gives for a tag that does not match) throws
 * {@link AEADBadTagException} whose cause is the token's error; other errors throw
 * {@link ProviderException} with it. Every {@code doFinal}, also a failed one, clears the
 * collected data.
 */
final class VorlenAead extends VorlenCipher {
    private static final int DEFAULT_IV = 12;
    private static final int DEFAULT_TAG_BITS = 128;
    /** PKCS #11 3.0's code for a tag that does not match. */
    private static final long CKR_AEAD_DECRYPT_FAILED = 0x35L;

    private final boolean gcm;
    private final ByteArrayOutputStream aad = new ByteArrayOutputStream();
    private boolean textStarted;
    private byte[] iv;
    private int tagBits;
    private boolean spent;
    private VorlenSecretKey lastKey;
    private byte[] lastIv;

    VorlenAead(VorlenProvider provider, boolean gcm) {
        super(provider, gcm ? "AES/GCM/NoPadding" : "ChaCha20-Poly1305");
        this.gcm = gcm;
    }

    @Override
    long keyType() {
        return gcm ? CKK_AES : CKK_CHACHA20;
    }

    @Override
    Class<? extends AlgorithmParameterSpec> specClass() {
        return gcm ? GCMParameterSpec.class : IvParameterSpec.class;
    }

    @Override
    int finalOutputSize(int total) {
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
            AlgorithmParameters p = AlgorithmParameters.getInstance(gcm ? "GCM" : "ChaCha20-Poly1305");
            p.init(gcm ? new GCMParameterSpec(tagBits, iv) : new IvParameterSpec(iv));
            return p;
        } catch (NoSuchAlgorithmException | InvalidParameterSpecException e) {
            throw new ProviderException(e);
        }
    }

    @Override
    void initParameters(boolean encrypting, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidAlgorithmParameterException {
        byte[] newIv;
        int newTag = DEFAULT_TAG_BITS;
        if (params == null) {
            if (!encrypting) {
                throw new InvalidAlgorithmParameterException(name + " decryption needs its "
                        + (gcm ? "GCMParameterSpec (IV and tag length)" : "nonce (IvParameterSpec)"));
            }
            newIv = new byte[DEFAULT_IV];
            (random != null ? random : new SecureRandom()).nextBytes(newIv);
        } else if (gcm && params instanceof GCMParameterSpec g) {
            newIv = g.getIV();
            newTag = g.getTLen();
            if (newIv.length == 0) {
                throw new InvalidAlgorithmParameterException("a GCM IV is not empty");
            }
            if (newTag < 96 || newTag > 128 || newTag % 8 != 0) {
                throw new InvalidAlgorithmParameterException("a GCM tag has 96, 104, 112, 120 or 128 bits, not " + newTag);
            }
        } else if (!gcm && params instanceof IvParameterSpec n) {
            newIv = n.getIV();
            if (newIv.length != 12) {
                throw new InvalidAlgorithmParameterException("a ChaCha20-Poly1305 nonce has 12 bytes, not " + newIv.length);
            }
        } else {
            throw new InvalidAlgorithmParameterException(name + " takes a "
                    + (gcm ? "GCMParameterSpec" : "IvParameterSpec") + ", not " + params);
        }
        iv = newIv;
        tagBits = newTag;
        spent = false;
        textStarted = false;
        aad.reset();
    }

    @Override
    protected void engineInit(int opmode, java.security.Key k, AlgorithmParameterSpec params, SecureRandom random)
            throws java.security.InvalidKeyException, InvalidAlgorithmParameterException {
        if (opmode == javax.crypto.Cipher.ENCRYPT_MODE && params != null && accepts(k) && k == lastKey) {
            byte[] given = params instanceof GCMParameterSpec g ? g.getIV()
                    : params instanceof IvParameterSpec n ? n.getIV() : null;
            if (Arrays.equals(given, lastIv)) {
                throw new InvalidAlgorithmParameterException("Cannot reuse iv for " + (gcm ? "GCM" : "ChaCha20-Poly1305")
                        + " encryption");
            }
        }
        super.engineInit(opmode, k, params, random);
        if (encrypt) {
            lastKey = key;
            lastIv = iv.clone();
        }
    }

    @Override
    void checkReady() {
        super.checkReady();
        if (spent) {
            throw new IllegalStateException(name + " encryption needs a new key or IV: initialise the cipher again");
        }
    }

    @Override
    protected void engineUpdateAAD(byte[] src, int offset, int len) {
        checkReady();
        if (textStarted) {
            throw new IllegalStateException("additional data goes before the text");
        }
        aad.write(src, offset, len);
    }

    @Override
    protected byte[] engineUpdate(byte[] in, int inputOffset, int inputLen) {
        textStarted |= inputLen > 0;
        return super.engineUpdate(in, inputOffset, inputLen);
    }

    @Override
    void checkFinal(int total) throws AEADBadTagException {
        if (!encrypt && total < tagBits / 8) {
            throw new AEADBadTagException("the input (" + total + " bytes) is shorter than the tag (" + tagBits / 8 + ")");
        }
    }

    @Override
    boolean finalOfNothing() {
        return true;
    }

    @Override
    Mechanism finalMechanism() {
        byte[] additional = aad.toByteArray();
        return gcm ? Mechanism.aesGcm(iv, additional, tagBits) : Mechanism.chacha20Poly1305(iv, additional);
    }

    @Override
    GeneralSecurityException refusedDecryption(TokenException e) {
        // SoftHSM2 reports a tag that does not match as CKR_GENERAL_ERROR: for a decryption
        // that is a refused ciphertext too, which the caller must be able to catch.
        if (e.code() == CKR_ENCRYPTED_DATA_INVALID || e.code() == CKR_ENCRYPTED_DATA_LEN_RANGE
                || e.code() == CKR_AEAD_DECRYPT_FAILED || e.code() == CKR_GENERAL_ERROR) {
            return withCause(new AEADBadTagException("the " + name + " tag does not match: " + e.getMessage()), e);
        }
        return null;
    }

    @Override
    void finished() {
        aad.reset();
        textStarted = false;
        if (encrypt) {
            spent = true;
        }
    }

    @Override
    public String toString() {
        return super.toString() + (key == null || !gcm ? "" : ", tag " + tagBits + " bits");
    }
}
