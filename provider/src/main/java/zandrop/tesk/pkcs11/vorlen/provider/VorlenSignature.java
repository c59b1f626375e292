package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_ECDSA;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_RSA_PKCS;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_RSA_PKCS_PSS;

import java.io.ByteArrayOutputStream;
import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.InvalidParameterException;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.PrivateKey;
import java.security.ProviderException;
import java.security.PublicKey;
import java.security.SignatureException;
import java.security.SignatureSpi;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.EdECPublicKey;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.InvalidParameterSpecException;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.NamedParameterSpec;
import java.security.spec.PSSParameterSpec;

import zandrop.tesk.pkcs11.vorlen.api.CK_RSA_PKCS_PSS_PARAMS;
import zandrop.tesk.pkcs11.vorlen.token.Curve;
import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.JdkFormats;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;
import zandrop.tesk.pkcs11.vorlen.token.TokenObject;

/**
 * The signatures: RSA PKCS#1 v1.5 (also over the caller's own DigestInfo: NONEwithRSA) and PSS, ECDSA in DER and in P1363 form (r‖s), ECDSA
 * over a given digest, and EdDSA (Ed25519, Ed448, without context). Signing takes a private key of the provider's token. Verifying takes
 * any RSA or EC public key of the JDK (a certificate's): the token verifies with it as a
 * session object made for the one call. Signatures are checked on the host before the token
 * sees them: a DER ECDSA signature must be strict DER of the key's curve, a P1363 one exactly
 * twice the curve's size, else {@code verify} throws {@link SignatureException} (an improperly
 * encoded signature); a well-formed wrong one is false.
 *
 * <p>The data is collected in memory and signed in one call, which borrows a session of the
 * token's pool for that call only. Data longer than {@link VorlenDigest#BUFFERED} bytes is
 * hashed on the host as it comes (the JDK's digest), and the token signs or verifies the digest
 * with its plain mechanism ({@code CKM_RSA_PKCS} over the DigestInfo, {@code CKM_ECDSA}; PSS
 * always signs a host digest), so the memory held stays bounded; where the token lacks the plain
 * mechanism, and for the signatures without a hash (EdDSA, NONEwith...), all of it is collected. Every {@code sign} and {@code verify}, also a failed one,
 * leaves the engine ready for new data with the same key.
 */
final class VorlenSignature extends SignatureSpi {
    /** The families of signatures. */
    enum Kind { RSA_PKCS1, RSA_PSS, RSA_NONE, ECDSA_DER, ECDSA_P1363, ECDSA_NONE, EDDSA }

    private final VorlenProvider provider;
    private final Kind kind;
    private final Hash hash;
    private final String algorithm;
    private final ByteArrayOutputStream data = new ByteArrayOutputStream();
    private VorlenPrivateKey signKey;
    private PublicKey verifyKey;
    private PSSParameterSpec pss;
    private MessageDigest hasher;  // once the data outgrew the buffer: hashed on the host
    private Mechanism fixed;  // the mechanism of a kind without parameters, made once

    VorlenSignature(VorlenProvider provider, Kind kind, Hash hash, String algorithm) {
        this.provider = provider;
        this.kind = kind;
        this.hash = hash;
        this.algorithm = algorithm;
    }

    /** Whether an engine of this kind takes the key: a private key of this token, or a JDK public key. */
    static boolean accepts(VorlenProvider provider, Kind kind, Object key) {
        boolean rsa = kind == Kind.RSA_PKCS1 || kind == Kind.RSA_PSS || kind == Kind.RSA_NONE;
        if (kind == Kind.EDDSA) {
            return key instanceof VorlenPrivateKey.EdEc k ? k.provider() == provider : key instanceof EdECPublicKey;
        }
        if (key instanceof VorlenPrivateKey k) {
            return k.provider() == provider && (rsa ? k instanceof VorlenPrivateKey.Rsa : k instanceof VorlenPrivateKey.Ec);
        }
        return rsa ? key instanceof RSAPublicKey : key instanceof ECPublicKey;
    }

    /** Ed25519 and Ed448 take keys of their curve only; EdDSA both. */
    private void checkCurve(NamedParameterSpec params) throws InvalidKeyException {
        if (!"EdDSA".equals(algorithm) && !algorithm.equalsIgnoreCase(params.getName())) {
            throw new InvalidKeyException(algorithm + " takes a key of its own curve, not of " + params.getName());
        }
    }

    private String keyKind() {
        return switch (kind) {
            case RSA_PKCS1, RSA_PSS, RSA_NONE -> "RSA";
            case EDDSA -> "EdDSA";
            default -> "EC";
        };
    }

    @Override
    protected void engineInitSign(PrivateKey key) throws InvalidKeyException {
        if (!(key instanceof VorlenPrivateKey k) || !accepts(provider, kind, key)) {
            throw new InvalidKeyException(algorithm + " of " + provider + " signs with an " + keyKind()
                    + " private key of its token, not " + describe(key));
        }
        if (k instanceof VorlenPrivateKey.EdEc ed) {
            checkCurve(ed.getParams());
        }
        reset();
        signKey = k;
        verifyKey = null;
    }

    @Override
    protected void engineInitVerify(PublicKey key) throws InvalidKeyException {
        if (!accepts(provider, kind, key) || key instanceof ECPublicKey ec && curve(ec) == null) {
            throw new InvalidKeyException(algorithm + " verifies with an " + keyKind()
                    + " public key, not " + describe(key));
        }
        if (key instanceof EdECPublicKey ed) {
            checkCurve(ed.getParams());
        }
        reset();
        verifyKey = key;
        signKey = null;
    }

    private static String describe(Object key) {
        return key == null ? "null" : key.getClass().getName() + " (" + ((java.security.Key) key).getAlgorithm() + ")";
    }

    private static Curve curve(ECPublicKey key) {
        try {
            return Curve.of(key.getParams());
        } catch (IllegalArgumentException e) {
            return null;
        }
    }

    private void reset() {
        data.reset();
        hasher = null;
    }

    @Override
    protected void engineUpdate(byte b) throws SignatureException {
        engineUpdate(new byte[] {b}, 0, 1);
    }

    @Override
    protected void engineUpdate(byte[] b, int off, int len) throws SignatureException {
        checkInit();
        if (hasher == null && data.size() + len > VorlenDigest.BUFFERED) {
            String name = hostHash();
            if (name != null) {
                try {
                    hasher = MessageDigest.getInstance(name);
                } catch (NoSuchAlgorithmException e) {
                    throw new SignatureException(e);
                }
                hasher.update(data.toByteArray());
                data.reset();
            }
        }
        if (hasher != null) {
            hasher.update(b, off, len);
        } else {
            data.write(b, off, len);
        }
    }

    /** The JDK's name of the hash that long data may have computed on the host, or null. */
    private String hostHash() {
        return switch (kind) {
            case RSA_PSS -> pss == null ? null : pss.getDigestAlgorithm();
            case RSA_PKCS1 -> hash != null && provider.token().supports(CKM_RSA_PKCS) ? hash.jdkName() : null;
            case ECDSA_DER, ECDSA_P1363 -> hash != null && provider.token().supports(CKM_ECDSA) ? hash.jdkName() : null;
            default -> null;
        };
    }

    /** The token's plain mechanism for a host digest (PSS: its own, which always signs one). */
    private Mechanism plainMechanism() throws SignatureException {
        return switch (kind) {
            case RSA_PKCS1 -> Mechanism.of(CKM_RSA_PKCS);
            case RSA_PSS -> mechanism();
            default -> Mechanism.of(CKM_ECDSA);
        };
    }

    /** What the plain mechanism signs: the DigestInfo for PKCS#1 v1.5, the digest itself otherwise. */
    private byte[] hostInput(byte[] digest) {
        return kind == Kind.RSA_PKCS1 ? hash.digestInfo(digest) : digest;
    }

    private void checkInit() throws SignatureException {
        if (signKey == null && verifyKey == null) {
            throw new SignatureException(algorithm + " is not initialised");
        }
    }

    @Override
    protected byte[] engineSign() throws SignatureException {
        if (signKey == null) {
            throw new SignatureException(algorithm + " is not initialised for signing");
        }
        MessageDigest hashed = hasher;
        byte[] input = hashed == null ? data.toByteArray() : null;
        reset();
        if (kind == Kind.RSA_NONE) {
            checkRawLength(input, ((VorlenPrivateKey.Rsa) signKey).getModulus());
        }
        Mechanism mechanism = hashed == null ? mechanism() : plainMechanism();
        byte[] message = hashed != null ? hostInput(hashed.digest()) : kind == Kind.RSA_PSS ? pssDigest(input) : input;
        try {
            byte[] signature = provider.withKey(signKey, (s, key) -> s.sign(mechanism, key, message));
            if (kind == Kind.ECDSA_NONE || hashed != null && kind == Kind.ECDSA_DER) {
                return JdkFormats.ecdsaToDer(signature, ((VorlenPrivateKey.Ec) signKey).object().curve());
            }
            return signature;
        } catch (TokenException e) {
            throw new SignatureException(algorithm + " with " + signKey + " failed: " + e.getMessage(), e);
        } catch (IllegalArgumentException e) {
            throw new SignatureException(algorithm + " with " + signKey + ": " + e.getMessage(), e);
        }
    }

    @Override
    protected boolean engineVerify(byte[] signature) throws SignatureException {
        if (verifyKey == null) {
            throw new SignatureException(algorithm + " is not initialised for verifying");
        }
        MessageDigest hashed = hasher;
        byte[] input = hashed == null ? data.toByteArray() : null;
        reset();
        if (signature == null) {
            throw new SignatureException("no signature");
        }
        if (kind == Kind.RSA_NONE) {
            checkRawLength(input, ((RSAPublicKey) verifyKey).getModulus());
        }
        byte[] given = signature;
        Mechanism mechanism = mechanism();
        if (kind == Kind.ECDSA_DER || kind == Kind.ECDSA_P1363 || kind == Kind.ECDSA_NONE) {
            Curve c = curve((ECPublicKey) verifyKey);
            if (kind == Kind.ECDSA_P1363) {
                if (signature.length != 2 * c.size()) {
                    throw new SignatureException("an " + algorithm + " signature of " + c.jdkName() + " has "
                            + 2 * c.size() + " bytes, not " + signature.length);
                }
            } else {
                try {
                    given = JdkFormats.ecdsaFromDer(signature, c);
                } catch (IllegalArgumentException e) {
                    throw new SignatureException("not a DER ECDSA signature of " + c.jdkName() + ": " + e.getMessage(), e);
                }
                if (kind == Kind.ECDSA_DER) {
                    mechanism = Mechanism.ecdsaP1363(hash);
                }
            }
        }
        if (hashed != null) {
            mechanism = plainMechanism();
        }
        byte[] message = hashed != null ? hostInput(hashed.digest()) : kind == Kind.RSA_PSS ? pssDigest(input) : input;
        byte[] raw = given;
        Mechanism m = mechanism;
        PublicKey key = verifyKey;
        try {
            return provider.token().withSession(false, s -> {
                TokenObject object = s.importObject(key, JdkFormats.ImportOptions.defaults().token(false));
                try {
                    return s.verify(m, object, message, raw);
                } finally {
                    s.destroy(object);
                }
            });
        } catch (TokenException e) {
            throw new SignatureException(algorithm + " verification failed: " + e.getMessage(), e);
        } catch (IllegalArgumentException e) {
            throw new SignatureException(algorithm + " verification: " + e.getMessage(), e);
        }
    }

    /** The token's mechanism for this signature (DER ECDSA: the layer converts). */
    private Mechanism mechanism() throws SignatureException {
        if (fixed != null) {
            return fixed;
        }
        Mechanism m = switch (kind) {
            case RSA_PKCS1 -> Mechanism.rsaPkcs1(hash);
            case ECDSA_DER -> Mechanism.ecdsa(hash);
            case ECDSA_P1363 -> Mechanism.ecdsaP1363(hash);
            case ECDSA_NONE -> Mechanism.of(CKM_ECDSA);
            case RSA_NONE -> Mechanism.of(CKM_RSA_PKCS);
            case EDDSA -> Mechanism.eddsa();
            case RSA_PSS -> {
                PSSParameterSpec spec = pssSpec();
                Hash h = hashOf(spec.getDigestAlgorithm());
                Hash mgf = hashOf(((MGF1ParameterSpec) spec.getMGFParameters()).getDigestAlgorithm());
                long salt = spec.getSaltLength();
                yield Mechanism.of(CKM_RSA_PKCS_PSS, () -> new CK_RSA_PKCS_PSS_PARAMS(h.mechanism(), mgf.mgf(), salt));
            }
        };
        if (kind != Kind.RSA_PSS) {
            fixed = m;
        }
        return m;
    }

    /**
     * NONEwithRSA pads the caller's bytes (a DigestInfo, or any data) as PKCS#1 v1.5 type 1,
     * which leaves room for at most the modulus' length less 11 bytes.
     */
    private void checkRawLength(byte[] input, java.math.BigInteger modulus) throws SignatureException {
        int max = (modulus.bitLength() + 7) / 8 - 11;
        if (input.length > max) {
            throw new SignatureException(algorithm + " takes at most " + max + " bytes with a "
                    + modulus.bitLength() + "-bit key, not " + input.length);
        }
    }

    private PSSParameterSpec pssSpec() throws SignatureException {
        if (pss == null) {
            throw new SignatureException("RSASSA-PSS needs its PSSParameterSpec (setParameter) first");
        }
        return pss;
    }

    /** PSS: the host hashes, the token pads and signs ({@code CKM_RSA_PKCS_PSS}). */
    private byte[] pssDigest(byte[] input) throws SignatureException {
        try {
            return MessageDigest.getInstance(pssSpec().getDigestAlgorithm()).digest(input);
        } catch (NoSuchAlgorithmException e) {
            throw new SignatureException(e);
        }
    }

    private static Hash hashOf(String name) {
        String n = name.toUpperCase(java.util.Locale.ROOT).replace("-", "");
        for (Hash h : Hash.values()) {
            if (h.jdkName().replace("-", "").equals(n)) {
                return h;
            }
        }
        return null;
    }

    @Override
    protected void engineSetParameter(AlgorithmParameterSpec params) throws InvalidAlgorithmParameterException {
        if (kind != Kind.RSA_PSS) {
            if (params == null) {
                return;
            }
            throw new InvalidAlgorithmParameterException(algorithm + " takes no parameters");
        }
        if (!(params instanceof PSSParameterSpec spec)) {
            throw new InvalidAlgorithmParameterException("RSASSA-PSS takes a PSSParameterSpec, not " + params);
        }
        if (hashOf(spec.getDigestAlgorithm()) == null) {
            throw new InvalidAlgorithmParameterException("no PSS digest " + spec.getDigestAlgorithm() + " (SHA-1, SHA-224, SHA-256, SHA-384, SHA-512)");
        }
        if (!"MGF1".equalsIgnoreCase(spec.getMGFAlgorithm()) || !(spec.getMGFParameters() instanceof MGF1ParameterSpec mgf)
                || hashOf(mgf.getDigestAlgorithm()) == null) {
            throw new InvalidAlgorithmParameterException("PSS mask generation must be MGF1 with SHA-1 to SHA-512, not "
                    + spec.getMGFAlgorithm() + " " + spec.getMGFParameters());
        }
        if (spec.getTrailerField() != PSSParameterSpec.TRAILER_FIELD_BC) {
            throw new InvalidAlgorithmParameterException("PSS trailer field must be 1, not " + spec.getTrailerField());
        }
        if (data.size() > 0 || hasher != null) {
            throw new ProviderException("RSASSA-PSS parameters cannot change in the middle of a signature");
        }
        pss = spec;
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        if (kind != Kind.RSA_PSS || pss == null) {
            return null;
        }
        try {
            AlgorithmParameters p = AlgorithmParameters.getInstance("RSASSA-PSS");
            p.init(pss);
            return p;
        } catch (NoSuchAlgorithmException | InvalidParameterSpecException e) {
            throw new ProviderException(e);
        }
    }

    @Override
    @Deprecated
    protected void engineSetParameter(String param, Object value) {
        throw new InvalidParameterException("no string parameters: use setParameter(AlgorithmParameterSpec)");
    }

    @Override
    @Deprecated
    protected Object engineGetParameter(String param) {
        throw new InvalidParameterException("no string parameters");
    }

    @Override
    public String toString() {
        return "Vorlen Signature " + algorithm + (signKey != null ? " signing with " + signKey
                : verifyKey != null ? " verifying" : " (not initialised)") + (pss == null ? "" : " " + pss);
    }
}
