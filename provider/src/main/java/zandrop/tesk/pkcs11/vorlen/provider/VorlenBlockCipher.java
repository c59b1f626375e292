package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_AES;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_CBC;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_ECB;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_ENCRYPTED_DATA_INVALID;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_ENCRYPTED_DATA_LEN_RANGE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_GENERAL_ERROR;

import java.security.AlgorithmParameters;
import java.security.GeneralSecurityException;
import java.security.InvalidAlgorithmParameterException;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidParameterSpecException;

import javax.crypto.BadPaddingException;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.spec.IvParameterSpec;

import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * AES in ECB, CBC (without padding or with PKCS#5's, which is PKCS#7's for 16-byte blocks) and
 * CTR mode, with a 16-byte IV ({@link IvParameterSpec}; a random one when an encryption is
 * given none). {@code update} encrypts the whole blocks it has, each call one operation of the
 * token that starts with the IV or counter the previous one ended with; a CBC decryption with
 * padding holds its last block back for {@code doFinal}, which removes the padding with
 * {@code CKM_AES_CBC_PAD} on the token; padding the token refuses throws
 * {@link BadPaddingException} with the token's error as its cause. CTR counts with all 128 bits of the block, as the JDK.
 */
final class VorlenBlockCipher extends VorlenCipher {
    /** The modes, by the mechanism of their operations. */
    enum Mode {
        ECB("AES/ECB/NoPadding"), CBC("AES/CBC/NoPadding"), CBC_PAD("AES/CBC/PKCS5Padding"), CTR("AES/CTR/NoPadding");

        final String jcaName;

        Mode(String jcaName) {
            this.jcaName = jcaName;
        }
    }

    private final Mode mode;
    private boolean blockwise;        // update may run whole blocks (for CBC_PAD: the token has CKM_AES_CBC)
    private byte[] iv;                // as init gave it
    private byte[] current;           // the IV or counter block of the next operation

    VorlenBlockCipher(VorlenProvider provider, Mode mode) {
        super(provider, mode.jcaName);
        this.mode = mode;
    }

    @Override
    long keyType() {
        return CKK_AES;
    }

    @Override
    Class<? extends AlgorithmParameterSpec> specClass() {
        return IvParameterSpec.class;
    }

    @Override
    void initParameters(boolean encrypting, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidAlgorithmParameterException {
        blockwise = mode != Mode.CBC_PAD || provider.token().supports(CKM_AES_CBC);
        if (mode == Mode.ECB) {
            if (params != null) {
                throw new InvalidAlgorithmParameterException(name + " takes no parameters, not " + params);
            }
            return;
        }
        byte[] newIv;
        if (params == null) {
            if (!encrypting) {
                throw new InvalidAlgorithmParameterException(name + " decryption needs its IV (IvParameterSpec)");
            }
            newIv = new byte[16];
            (random != null ? random : new SecureRandom()).nextBytes(newIv);
        } else if (params instanceof IvParameterSpec spec) {
            newIv = spec.getIV();
            if (newIv.length != 16) {
                throw new InvalidAlgorithmParameterException(name + " takes a 16-byte IV, not " + newIv.length + " bytes");
            }
        } else {
            throw new InvalidAlgorithmParameterException(name + " takes an IvParameterSpec, not " + params);
        }
        iv = newIv;
        current = newIv.clone();
    }

    @Override
    protected byte[] engineGetIV() {
        return iv == null ? null : iv.clone();
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        if (iv == null || mode == Mode.ECB) {
            return null;
        }
        try {
            AlgorithmParameters p = AlgorithmParameters.getInstance("AES");
            p.init(new IvParameterSpec(iv));
            return p;
        } catch (NoSuchAlgorithmException | InvalidParameterSpecException e) {
            throw new ProviderException(e);
        }
    }

    @Override
    int updatable(int total) {
        if (!blockwise) {
            return 0;
        }
        if (mode == Mode.CBC_PAD && !encrypt) {
            return total <= 16 ? 0 : (total - 1) / 16 * 16;  // the last block may be padding
        }
        return total / 16 * 16;
    }

    @Override
    Mechanism updateMechanism() {
        return switch (mode) {
            case ECB -> Mechanism.of(CKM_AES_ECB);
            case CBC, CBC_PAD -> cbc(current);
            case CTR -> Mechanism.aesCtr(128, current);
        };
    }

    private static Mechanism cbc(byte[] iv) {
        byte[] copy = iv.clone();
        return Mechanism.of(CKM_AES_CBC, copy::clone);
    }

    @Override
    Mechanism finalMechanism() {
        return mode == Mode.CBC_PAD ? Mechanism.aesCbcPad(current) : updateMechanism();
    }

    @Override
    void advance(byte[] lastIn, byte[] lastOut, int length) {
        switch (mode) {
            case CBC, CBC_PAD -> current = encrypt ? lastOut : lastIn;
            case CTR -> {
                long blocks = length / 16;
                for (int i = 15; i >= 0 && blocks != 0; i--) {
                    long sum = (current[i] & 0xFF) + (blocks & 0xFF);
                    current[i] = (byte) sum;
                    blocks = (blocks >>> 8) + (sum >>> 8);
                }
            }
            default -> {
            }
        }
    }

    @Override
    int finalOutputSize(int total) {
        return mode == Mode.CBC_PAD && encrypt ? total / 16 * 16 + 16 : total;
    }

    @Override
    void checkFinal(int total) throws IllegalBlockSizeException {
        boolean whole = mode == Mode.ECB || mode == Mode.CBC || mode == Mode.CBC_PAD && !encrypt;
        if (whole && total % 16 != 0) {
            throw new IllegalBlockSizeException(name + (encrypt ? "" : " decryption") + ": the input ("
                    + total + " bytes in all since the last block) is not a multiple of 16 bytes");
        }
    }

    @Override
    boolean finalOfNothing() {
        return mode == Mode.CBC_PAD && encrypt;
    }

    @Override
    GeneralSecurityException refusedDecryption(TokenException e) {
        // SoftHSM2 reports padding that is not PKCS#7's as CKR_GENERAL_ERROR.
        if (mode == Mode.CBC_PAD && (e.code() == CKR_ENCRYPTED_DATA_INVALID || e.code() == CKR_ENCRYPTED_DATA_LEN_RANGE
                || e.code() == CKR_GENERAL_ERROR)) {
            return withCause(new BadPaddingException(name + ": the padding is not valid: " + e.getMessage()), e);
        }
        return null;
    }

    @Override
    void finished() {
        current = iv == null ? null : iv.clone();
    }
}
