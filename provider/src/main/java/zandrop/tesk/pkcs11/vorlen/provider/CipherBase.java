package zandrop.tesk.pkcs11.vorlen.provider;

import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidParameterSpecException;

import javax.crypto.BadPaddingException;
import javax.crypto.CipherSpi;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.ShortBufferException;

/**
 * What the provider's ciphers answer alike: the padding that comes with the cipher's name, the
 * inits without parameters or with {@link AlgorithmParameters} (read as the cipher's spec
 * class), doFinal into an array through the one that returns a new array, and the toString.
 */
abstract class CipherBase extends CipherSpi {
    final VorlenProvider provider;
    final String name;
    boolean encrypt;

    CipherBase(VorlenProvider provider, String name) {
        this.provider = provider;
        this.name = name;
    }

    /** The class of the parameter spec, to read {@link AlgorithmParameters}. */
    abstract Class<? extends AlgorithmParameterSpec> specClass();

    /** The key, or null before the first init. */
    abstract Key currentKey();

    @Override
    protected void engineSetPadding(String padding) throws NoSuchPaddingException {
        throw new NoSuchPaddingException("this cipher is " + name + ": the padding comes with it, not " + padding);
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
        AlgorithmParameterSpec spec = null;
        if (params != null) {
            try {
                spec = params.getParameterSpec(specClass());
            } catch (InvalidParameterSpecException e) {
                throw new InvalidAlgorithmParameterException("not parameters of " + name + ": " + params, e);
            }
        }
        engineInit(opmode, k, spec, random);
    }

    @Override
    protected int engineDoFinal(byte[] in, int inputOffset, int inputLen, byte[] output, int outputOffset)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        int needed = engineGetOutputSize(inputLen);
        if (output == null || outputOffset < 0 || output.length - outputOffset < needed) {
            throw new ShortBufferException("the output needs up to " + needed + " bytes");
        }
        byte[] result = engineDoFinal(in, inputOffset, inputLen);
        System.arraycopy(result, 0, output, outputOffset, result.length);
        return result.length;
    }

    @Override
    public String toString() {
        Key key = currentKey();
        return "Vorlen Cipher " + name + (key == null ? " (not initialised)"
                : (encrypt ? " encrypting" : " decrypting") + " with " + key);
    }
}
