package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_DATA_LEN_RANGE;

import java.io.ByteArrayOutputStream;
import java.nio.ByteBuffer;
import java.security.GeneralSecurityException;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Arrays;

import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.CipherSpi;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.ShortBufferException;

import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * What the provider's symmetric ciphers share: a secret key of the token, the input held back
 * between calls, the whole operation run in one call of the token on a session borrowed for it
 * (no operation stays active on a pooled session), arrays and {@code ByteBuffer}s, and the
 * token's refusals turned into the JCA's exceptions with the token's error as their cause.
 *
 * <p>A cipher whose mode allows it ({@link #updatable(int)}) encrypts whole blocks in
 * {@code update}, each call one operation of the token that continues where the last ended
 * ({@link #advance}); the others collect the input until {@code doFinal}. After
 * {@code doFinal}, also a failed one, the cipher is as {@code init} left it (or, for an AEAD
 * encryption, waits for a new IV).
 *
 * <p>Direct buffers reach the module in place when nothing is held back and the output has
 * room for as many bytes as the input; other buffers go through arrays.
 */
abstract class VorlenCipher extends CipherBase {
    private final ByteArrayOutputStream held = new ByteArrayOutputStream();
    VorlenSecretKey key;

    VorlenCipher(VorlenProvider provider, String name) {
        super(provider, name);
    }

    // ---- what each cipher says ----

    /** The key type this cipher takes ({@code CKK_AES}...). */
    abstract long keyType();

    /** Takes the parameters of an init (null: none given); throws before anything changes. */
    abstract void initParameters(boolean encrypting, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidAlgorithmParameterException;

    /** The mechanism of doFinal's operation. */
    abstract Mechanism finalMechanism();

    /** The output of doFinal for this many bytes of input in all. */
    abstract int finalOutputSize(int total);

    /** How many of the held bytes an update processes now (whole blocks); 0: all wait for doFinal. */
    int updatable(int total) {
        return 0;
    }

    /** The mechanism of an update's operation. */
    Mechanism updateMechanism() {
        throw new IllegalStateException(name + " processes its input in doFinal");
    }

    /** Moves the IV or counter past the blocks of an update (their last input and output block). */
    void advance(byte[] lastIn, byte[] lastOut, int length) {
    }

    /** Checks doFinal's input before the token sees it. */
    void checkFinal(int total) throws IllegalBlockSizeException, BadPaddingException {
    }

    /** Whether doFinal calls the token for no input (padding, a tag); else it gives nothing. */
    boolean finalOfNothing() {
        return false;
    }

    /** The exception for a decryption the token refused, or null for a ProviderException. */
    GeneralSecurityException refusedDecryption(TokenException e) {
        return null;
    }

    /** After doFinal and after errors: back to the state of init. */
    void finished() {
    }

    /** Throws unless the cipher may run now. */
    void checkReady() {
        if (key == null) {
            throw new IllegalStateException(name + " is not initialised");
        }
    }

    // ---- CipherSpi ----

    @Override
    protected void engineSetMode(String mode) throws NoSuchAlgorithmException {
        throw new NoSuchAlgorithmException("this cipher is " + name + ": the mode comes with it, not " + mode);
    }

    @Override
    protected int engineGetBlockSize() {
        return 16;
    }

    @Override
    protected int engineGetOutputSize(int inputLen) {
        return finalOutputSize(held.size() + Math.max(0, inputLen));
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

    /** Whether a key is one of this token's of the key type. */
    boolean accepts(Object k) {
        return k instanceof Key key && SecretKeys.fits(key, provider, keyType());
    }

    private VorlenSecretKey tokenKey(Key k) throws InvalidKeyException {
        if (!accepts(k)) {
            throw SecretKeys.refused(name, provider, "a " + SecretKeys.algorithmOf(keyType()) + " key", k);
        }
        return (VorlenSecretKey) k;
    }

    @Override
    protected void engineInit(int opmode, Key k, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (opmode != Cipher.ENCRYPT_MODE && opmode != Cipher.DECRYPT_MODE) {
            throw new InvalidKeyException(name + " of " + provider + " encrypts and decrypts; AESWrap and AESWrapPad wrap keys");
        }
        VorlenSecretKey newKey = tokenKey(k);
        boolean encrypting = opmode == Cipher.ENCRYPT_MODE;
        initParameters(encrypting, params, random);
        key = newKey;
        encrypt = encrypting;
        held.reset();
    }

    @Override
    protected byte[] engineUpdate(byte[] in, int inputOffset, int inputLen) {
        checkReady();
        if (in != null && inputLen > 0) {
            held.write(in, inputOffset, inputLen);
        }
        int n = updatable(held.size());
        if (n == 0) {
            return new byte[0];
        }
        byte[] all = held.toByteArray();
        held.reset();
        held.write(all, n, all.length - n);
        byte[] chunk = Arrays.copyOf(all, n);
        Arrays.fill(all, (byte) 0);
        try {
            byte[] out = run(updateMechanism(), chunk);
            advance(Arrays.copyOfRange(chunk, n - 16, n), Arrays.copyOfRange(out, out.length - 16, out.length), n);
            return out;
        } catch (TokenException e) {
            reset();
            throw new ProviderException(name + " with " + key + " failed: " + e.getMessage(), e);
        } finally {
            Arrays.fill(chunk, (byte) 0);
        }
    }

    @Override
    protected int engineUpdate(byte[] in, int inputOffset, int inputLen, byte[] output, int outputOffset)
            throws ShortBufferException {
        int needed = updatable(held.size() + Math.max(0, inputLen));
        if (needed > 0 && (output == null || output.length - outputOffset < needed)) {
            throw new ShortBufferException("the output needs " + needed + " bytes");
        }
        byte[] result = engineUpdate(in, inputOffset, inputLen);
        System.arraycopy(result, 0, output, outputOffset, result.length);
        return result.length;
    }

    @Override
    protected int engineUpdate(ByteBuffer input, ByteBuffer output) throws ShortBufferException {
        checkReady();
        int n = updatable(input.remaining());
        if (!input.isDirect() || !output.isDirect() || held.size() > 0 || n == 0 || output.remaining() < n) {
            return super.engineUpdate(input, output);
        }
        int start = input.position();
        int outStart = output.position();
        byte[] lastIn = new byte[16];
        input.get(start + n - 16, lastIn);
        ByteBuffer chunk = input.slice(start, n);
        Mechanism m = updateMechanism();
        int written;
        try {
            written = provider.withKey(key, (s, object) -> encrypt ? s.encrypt(m, object, chunk, output)
                    : s.decrypt(m, object, chunk, output));
        } catch (TokenException e) {
            reset();
            throw new ProviderException(name + " with " + key + " failed: " + e.getMessage(), e);
        }
        byte[] lastOut = new byte[16];
        output.get(outStart + written - 16, lastOut);
        advance(lastIn, lastOut, n);
        input.position(start + n);
        byte[] rest = new byte[input.remaining()];
        input.get(rest);
        held.write(rest, 0, rest.length);
        return written;
    }

    @Override
    protected byte[] engineDoFinal(byte[] in, int inputOffset, int inputLen)
            throws IllegalBlockSizeException, BadPaddingException {
        checkReady();
        if (in != null && inputLen > 0) {
            held.write(in, inputOffset, inputLen);
        }
        byte[] data = held.toByteArray();
        held.reset();
        try {
            checkFinal(data.length);
            if (data.length == 0 && !finalOfNothing()) {
                return new byte[0];
            }
            return run(finalMechanism(), data);
        } catch (TokenException e) {
            throw refused(e);
        } finally {
            Arrays.fill(data, (byte) 0);
            finished();
        }
    }

    @Override
    protected int engineDoFinal(ByteBuffer input, ByteBuffer output)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        checkReady();
        int length = input.remaining();
        if (!input.isDirect() || !output.isDirect() || held.size() > 0 || length == 0
                || output.remaining() < Math.max(length, finalOutputSize(length))) {
            return super.engineDoFinal(input, output);
        }
        try {
            checkFinal(length);
            Mechanism m = finalMechanism();
            return provider.withKey(key, (s, object) -> encrypt ? s.encrypt(m, object, input, output)
                    : s.decrypt(m, object, input, output));
        } catch (TokenException e) {
            throw refused(e);
        } finally {
            finished();
        }
    }

    /** Drops what is held and returns to the state of init. */
    private void reset() {
        held.reset();
        finished();
    }

    private byte[] run(Mechanism m, byte[] data) {
        boolean enc = encrypt;
        return provider.withKey(key, (s, object) -> enc ? s.encrypt(m, object, data) : s.decrypt(m, object, data));
    }

    /** The JCA's exception for a token's refusal of doFinal, with the token's error as its cause. */
    private RuntimeException refused(TokenException e) throws IllegalBlockSizeException,
            BadPaddingException {
        GeneralSecurityException bad = encrypt ? null : refusedDecryption(e);
        if (bad instanceof BadPaddingException b) {
            throw b;
        }
        if (e.code() == CKR_DATA_LEN_RANGE) {
            IllegalBlockSizeException size = new IllegalBlockSizeException(name + ": the token refuses the input's length: "
                    + e.getMessage());
            size.initCause(e);
            throw size;
        }
        return new ProviderException(name + " with " + key + " failed: " + e.getMessage(), e);
    }

    /** A BadPaddingException (or AEADBadTagException) with the token's error as its cause. */
    static <B extends BadPaddingException> B withCause(B bad, TokenException e) {
        bad.initCause(e);
        return bad;
    }

    @Override
    Key currentKey() {
        return key;
    }
}
