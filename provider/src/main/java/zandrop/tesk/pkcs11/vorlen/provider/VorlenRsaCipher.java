package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_RSA_PKCS;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_RSA_PKCS_OAEP;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_ARGUMENTS_BAD;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_ENCRYPTED_DATA_INVALID;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_ENCRYPTED_DATA_LEN_RANGE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_GENERAL_ERROR;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_MECHANISM_PARAM_INVALID;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKZ_DATA_SPECIFIED;

import java.io.ByteArrayOutputStream;
import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.security.SecureRandom;
import java.security.interfaces.RSAKey;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidParameterSpecException;
import java.security.spec.MGF1ParameterSpec;
import java.util.Arrays;

import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.spec.OAEPParameterSpec;
import javax.crypto.spec.PSource;

import zandrop.tesk.pkcs11.vorlen.api.CK_RSA_PKCS_OAEP_PARAMS;
import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.JdkFormats;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;
import zandrop.tesk.pkcs11.vorlen.token.TokenObject;

/**
 * {@code RSA/ECB/PKCS1Padding} ({@code CKM_RSA_PKCS}) and
 * {@code RSA/ECB/OAEPWithSHA-256AndMGF1Padding} ({@code CKM_RSA_PKCS_OAEP}): decryption with an
 * RSA private key of the token, encryption with any RSA public key (put on the token as a
 * session object for the call). The input is collected until {@code doFinal}, at most one
 * modulus of it: beyond that only its length is counted, and {@code doFinal} refuses it.
 *
 * <p>OAEP's parameters are the JDK's for the name when none are given: SHA-256 for the label's
 * hash and MGF1 with SHA-1, no label; an {@link OAEPParameterSpec} may name any SHA-1 or SHA-2
 * hash for both and a label ({@link PSource.PSpecified}). A token that does not take them says
 * so in the {@link ProviderException}'s message, with its error as the cause. A decryption the
 * token refuses throws {@link BadPaddingException} with the token's error as its cause.
 */
final class VorlenRsaCipher extends CipherBase {
    private final boolean oaep;
    private final ByteArrayOutputStream input = new ByteArrayOutputStream();
    private Key key;
    private int modulusBytes;
    private long dropped;  // input beyond one modulus, counted but not kept
    private OAEPParameterSpec oaepSpec;

    VorlenRsaCipher(VorlenProvider provider, boolean oaep) {
        super(provider, oaep ? "RSA/ECB/OAEPWithSHA-256AndMGF1Padding" : "RSA/ECB/PKCS1Padding");
        this.oaep = oaep;
    }

    /** A private RSA key of this token, or any RSA public key. */
    static boolean accepts(VorlenProvider provider, Object key) {
        return key instanceof VorlenPrivateKey.Rsa k && k.provider() == provider || key instanceof RSAPublicKey;
    }

    @Override
    protected void engineSetMode(String mode) throws NoSuchAlgorithmException {
        if (!"ECB".equalsIgnoreCase(mode)) {
            throw new NoSuchAlgorithmException("this cipher is " + name + ", not mode " + mode);
        }
    }

    @Override
    protected int engineGetBlockSize() {
        return 0;
    }

    @Override
    protected int engineGetOutputSize(int inputLen) {
        return modulusBytes;
    }

    @Override
    protected byte[] engineGetIV() {
        return null;
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        if (!oaep) {
            return null;
        }
        try {
            AlgorithmParameters p = AlgorithmParameters.getInstance("OAEP");
            p.init(oaepSpec != null ? oaepSpec : defaultOaep());
            return p;
        } catch (NoSuchAlgorithmException | InvalidParameterSpecException e) {
            throw new ProviderException(e);
        }
    }

    private static OAEPParameterSpec defaultOaep() {
        return new OAEPParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA1, PSource.PSpecified.DEFAULT);
    }

    @Override
    protected int engineGetKeySize(Key k) throws InvalidKeyException {
        if (!(k instanceof RSAKey rsa) || !accepts(provider, k)) {
            throw SecretKeys.refused(name, provider, "an RSA private key", k);
        }
        return rsa.getModulus().bitLength();
    }

    @Override
    protected void engineInit(int opmode, Key k, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        boolean encrypting = opmode == Cipher.ENCRYPT_MODE || opmode == Cipher.WRAP_MODE;
        if (encrypting ? !(k instanceof RSAPublicKey) : !(k instanceof VorlenPrivateKey.Rsa r && r.provider() == provider)) {
            throw SecretKeys.refused(name, provider, encrypting ? "an RSA public key to encrypt"
                    : "an RSA private key to decrypt", k);
        }
        if (opmode == Cipher.WRAP_MODE || opmode == Cipher.UNWRAP_MODE) {
            throw new InvalidKeyException(name + " of " + provider + " encrypts and decrypts, it does not wrap keys");
        }
        OAEPParameterSpec spec = null;
        if (params != null) {
            if (!oaep || !(params instanceof OAEPParameterSpec o)) {
                throw new InvalidAlgorithmParameterException(name + " takes " + (oaep ? "an OAEPParameterSpec" : "no parameters")
                        + ", not " + params);
            }
            oaepParams(o);  // checks the names
            spec = o;
        }
        key = k;
        encrypt = encrypting;
        oaepSpec = spec;
        modulusBytes = (((RSAKey) k).getModulus().bitLength() + 7) / 8;
        input.reset();
        dropped = 0;
    }

    /** The token's record for OAEP parameters. */
    private static CK_RSA_PKCS_OAEP_PARAMS oaepParams(OAEPParameterSpec spec) throws InvalidAlgorithmParameterException {
        if (!"MGF1".equalsIgnoreCase(spec.getMGFAlgorithm()) || !(spec.getMGFParameters() instanceof MGF1ParameterSpec mgf)) {
            throw new InvalidAlgorithmParameterException("OAEP takes MGF1, not " + spec.getMGFAlgorithm());
        }
        if (!(spec.getPSource() instanceof PSource.PSpecified label)) {
            throw new InvalidAlgorithmParameterException("OAEP takes a PSource.PSpecified label");
        }
        Hash hash = hash(spec.getDigestAlgorithm());
        Hash mgfHash = hash(mgf.getDigestAlgorithm());
        byte[] l = label.getValue();
        return new CK_RSA_PKCS_OAEP_PARAMS(hash.mechanism(), mgfHash.mgf(), CKZ_DATA_SPECIFIED, l.length == 0 ? null : l);
    }

    private static Hash hash(String jdkName) throws InvalidAlgorithmParameterException {
        for (Hash h : Hash.values()) {
            if (h.jdkName().equalsIgnoreCase(jdkName) || h.jdkName().replace("-", "").equalsIgnoreCase(jdkName)) {
                return h;
            }
        }
        throw new InvalidAlgorithmParameterException("OAEP takes SHA-1, SHA-224, SHA-256, SHA-384 or SHA-512, not " + jdkName);
    }

    @Override
    protected byte[] engineUpdate(byte[] in, int inputOffset, int inputLen) {
        if (key == null) {
            throw new IllegalStateException(name + " is not initialised");
        }
        if (in != null && inputLen > 0) {
            if (dropped == 0 && input.size() + inputLen <= modulusBytes) {
                input.write(in, inputOffset, inputLen);
            } else {
                dropped += inputLen;  // too long for any key of this size: doFinal says so
            }
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
        long length = data.length + dropped;
        input.reset();
        dropped = 0;
        try {
            int most = encrypt ? modulusBytes - (oaep ? 2 * hashLength() + 2 : 11) : modulusBytes;
            if (length > most) {
                throw new IllegalBlockSizeException(name + " takes at most " + most + " bytes with this key, not "
                        + length);
            }
            Mechanism m = mechanism();
            if (encrypt) {
                java.security.PublicKey publicKey = (java.security.PublicKey) key;
                return provider.token().withSession(false, s -> {
                    TokenObject object = s.importObject(publicKey, JdkFormats.ImportOptions.defaults().token(false));
                    try {
                        return s.encrypt(m, object, data);
                    } finally {
                        s.destroy(object);
                    }
                });
            }
            return provider.withKey((VorlenPrivateKey.Rsa) key, (s, object) -> s.decrypt(m, object, data));
        } catch (TokenException e) {
            long code = e.code();
            if (code == CKR_MECHANISM_PARAM_INVALID || code == CKR_ARGUMENTS_BAD) {
                throw new ProviderException(name + ": the token does not take these parameters ("
                        + describe(oaepSpec != null ? oaepSpec : oaep ? defaultOaep() : null) + "): " + e.getMessage(), e);
            }
            if (!encrypt && (code == CKR_ENCRYPTED_DATA_INVALID || code == CKR_ENCRYPTED_DATA_LEN_RANGE
                    || code == CKR_GENERAL_ERROR)) {
                throw VorlenCipher.withCause(new BadPaddingException(name + ": the token refuses the ciphertext: "
                        + e.getMessage()), e);
            }
            throw new ProviderException(name + " with " + key + " failed: " + e.getMessage(), e);
        } catch (InvalidAlgorithmParameterException e) {
            throw new ProviderException(e);
        } finally {
            Arrays.fill(data, (byte) 0);
        }
    }

    private int hashLength() {
        try {
            return hash((oaepSpec != null ? oaepSpec : defaultOaep()).getDigestAlgorithm()).length();
        } catch (InvalidAlgorithmParameterException e) {
            throw new ProviderException(e);
        }
    }

    private Mechanism mechanism() throws InvalidAlgorithmParameterException {
        if (!oaep) {
            return Mechanism.of(CKM_RSA_PKCS);
        }
        CK_RSA_PKCS_OAEP_PARAMS p = oaepParams(oaepSpec != null ? oaepSpec : defaultOaep());
        return Mechanism.of(CKM_RSA_PKCS_OAEP, () -> new CK_RSA_PKCS_OAEP_PARAMS(p.hashAlg, p.mgf, p.source,
                p.pSourceData == null ? null : p.pSourceData.clone()));
    }

    private static String describe(OAEPParameterSpec spec) {
        return spec == null ? "none" : "OAEP " + spec.getDigestAlgorithm() + ", MGF1 with "
                + ((MGF1ParameterSpec) spec.getMGFParameters()).getDigestAlgorithm();
    }

    @Override
    Class<? extends AlgorithmParameterSpec> specClass() {
        return OAEPParameterSpec.class;
    }

    @Override
    Key currentKey() {
        return key;
    }
}
