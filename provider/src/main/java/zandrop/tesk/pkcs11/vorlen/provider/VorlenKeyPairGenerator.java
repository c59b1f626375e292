package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_EC_EDWARDS_KEY_PAIR_GEN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_EC_KEY_PAIR_GEN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_EC_MONTGOMERY_KEY_PAIR_GEN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_RSA_PKCS_KEY_PAIR_GEN;

import java.math.BigInteger;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidParameterException;
import java.security.KeyPair;
import java.security.KeyPairGeneratorSpi;
import java.security.ProviderException;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.ECParameterSpec;
import java.security.spec.NamedParameterSpec;
import java.security.spec.RSAKeyGenParameterSpec;

import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM_INFO;
import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.Curve;
import zandrop.tesk.pkcs11.vorlen.token.JdkFormats;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.Session;
import zandrop.tesk.pkcs11.vorlen.token.Template;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * Generates key pairs on the token: {@code RSA} (key size, {@code RSAKeyGenParameterSpec} with
 * its public exponent; by default 2048 bits and 65537), {@code EC} (a named curve by
 * {@code ECGenParameterSpec}, {@code ECParameterSpec} or key size 256/384/521; by default
 * P-256), {@code Ed25519}, {@code Ed448}, {@code EdDSA} (Ed25519, or Ed448 by
 * {@code NamedParameterSpec} or key size 448; the JDK's sizes: 255 and 448) and {@code X25519}.
 *
 * <p>Both keys are token objects with one random 16-byte {@code CKA_ID} and no label (the key
 * store's {@code setKeyEntry} names them); the private key is private, sensitive and not
 * extractable. The pair is the JDK's public key, read from the token, and the private key as a
 * handle ({@link VorlenPrivateKey}) with its parameters. The key stays on the token until the
 * key store deletes its entry. The {@code SecureRandom} given is not used: the token draws the
 * key.
 */
final class VorlenKeyPairGenerator extends KeyPairGeneratorSpi {
    /** The algorithms, by JCA name, with the mechanism each needs. */
    enum Kind {
        RSA("RSA", CKM_RSA_PKCS_KEY_PAIR_GEN, null),
        EC("EC", CKM_EC_KEY_PAIR_GEN, Curve.P_256),
        ED25519("Ed25519", CKM_EC_EDWARDS_KEY_PAIR_GEN, Curve.ED25519),
        ED448("Ed448", CKM_EC_EDWARDS_KEY_PAIR_GEN, Curve.ED448),
        EDDSA("EdDSA", CKM_EC_EDWARDS_KEY_PAIR_GEN, Curve.ED25519),
        X25519("X25519", CKM_EC_MONTGOMERY_KEY_PAIR_GEN, Curve.X25519);

        final String jcaName;
        final long mechanism;
        final Curve defaultCurve;

        Kind(String jcaName, long mechanism, Curve defaultCurve) {
            this.jcaName = jcaName;
            this.mechanism = mechanism;
            this.defaultCurve = defaultCurve;
        }

        static Kind of(String jcaName) {
            for (Kind k : values()) {
                if (k.jcaName.equalsIgnoreCase(jcaName)) {
                    return k;
                }
            }
            throw new IllegalArgumentException("no key pair generator " + jcaName);
        }
    }

    private final VorlenProvider provider;
    private final Kind kind;
    private int bits = 2048;
    private BigInteger exponent = RSAKeyGenParameterSpec.F4;
    private Curve curve;

    VorlenKeyPairGenerator(VorlenProvider provider, Kind kind) {
        this.provider = provider;
        this.kind = kind;
        this.curve = kind.defaultCurve;
    }

    @Override
    public void initialize(int keysize, SecureRandom random) {
        try {
            if (kind == Kind.RSA) {
                rsa(keysize, RSAKeyGenParameterSpec.F4);
            } else {
                curve(bySize(keysize));
            }
        } catch (InvalidAlgorithmParameterException e) {
            InvalidParameterException p = new InvalidParameterException(e.getMessage());
            p.initCause(e.getCause());
            throw p;
        }
    }

    @Override
    public void initialize(AlgorithmParameterSpec params, SecureRandom random) throws InvalidAlgorithmParameterException {
        try {
            if (kind == Kind.RSA && params instanceof RSAKeyGenParameterSpec r) {
                rsa(r.getKeysize(), r.getPublicExponent());
            } else if (kind == Kind.EC && params instanceof ECGenParameterSpec g) {
                curve(Curve.forName(g.getName()));
            } else if (kind == Kind.EC && params instanceof ECParameterSpec p) {
                curve(Curve.of(p));
            } else if (kind != Kind.RSA && params instanceof NamedParameterSpec n) {
                curve(Curve.forName(n.getName()));
            } else {
                throw new InvalidAlgorithmParameterException(kind.jcaName + " key pairs take no "
                        + (params == null ? "null parameters" : params.getClass().getName()));
            }
        } catch (IllegalArgumentException e) {
            throw new InvalidAlgorithmParameterException(e.getMessage(), e);
        }
    }

    private Curve bySize(int keysize) throws InvalidAlgorithmParameterException {
        for (Curve c : Curve.values()) {
            if (c.kind() == kindOfCurve() && bitsOf(c) == keysize) {
                return c;
            }
        }
        throw new InvalidAlgorithmParameterException("no " + kind.jcaName + " curve of " + keysize + " bits");
    }

    private static int bitsOf(Curve c) {
        return switch (c) {
            case P_521 -> 521;
            case ED25519, X25519 -> 255;
            case ED448, X448 -> 448;
            default -> c.size() * 8;
        };
    }

    private Curve.Kind kindOfCurve() {
        return switch (kind) {
            case EC -> Curve.Kind.WEIERSTRASS;
            case X25519 -> Curve.Kind.MONTGOMERY;
            default -> Curve.Kind.EDWARDS;
        };
    }

    private void curve(Curve c) throws InvalidAlgorithmParameterException {
        boolean fits = c != null && c.kind() == kindOfCurve()
                && (kind == Kind.EC || kind == Kind.EDDSA || c == kind.defaultCurve) && c != Curve.SECP256K1;
        if (!fits) {
            throw new InvalidAlgorithmParameterException("not a curve of " + kind.jcaName + " key pairs that the provider"
                    + " knows: " + c);
        }
        curve = c;
    }

    private void rsa(int keysize, BigInteger publicExponent) throws InvalidAlgorithmParameterException {
        if (publicExponent == null || publicExponent.signum() <= 0 || !publicExponent.testBit(0)
                || publicExponent.compareTo(BigInteger.valueOf(3)) < 0) {
            throw new InvalidAlgorithmParameterException("an RSA public exponent must be odd and at least 3: " + publicExponent);
        }
        CK_MECHANISM_INFO info;
        try {
            info = provider.token().mechanismInfo(CKM_RSA_PKCS_KEY_PAIR_GEN);
        } catch (TokenException e) {
            throw new InvalidAlgorithmParameterException("the token does not describe its RSA key generation: "
                    + e.getMessage(), e);
        }
        long min = info.ulMinKeySize;
        long max = info.ulMaxKeySize;
        if (keysize < 512 || keysize < min || (max > 0 && keysize > max)) {
            throw new InvalidAlgorithmParameterException("the token makes RSA keys of " + Math.max(min, 512) + " to " + max
                    + " bits, not " + keysize);
        }
        bits = keysize;
        exponent = publicExponent;
    }

    @Override
    public KeyPair generateKeyPair() {
        byte[] id = new byte[16];
        new SecureRandom().nextBytes(id);
        Template pub = Template.of(Attr.TOKEN, true).with(Attr.PRIVATE, false).with(Attr.ID, id);
        Template priv = Template.of(Attr.TOKEN, true).with(Attr.PRIVATE, true).with(Attr.SENSITIVE, true)
                .with(Attr.EXTRACTABLE, false).with(Attr.ID, id);
        Mechanism mechanism = Mechanism.of(kind.mechanism);
        if (kind == Kind.RSA) {
            pub = pub.with(Attr.MODULUS_BITS, (long) bits).with(Attr.PUBLIC_EXPONENT, exponent)
                    .with(Attr.VERIFY, true).with(Attr.ENCRYPT, true);
            priv = priv.with(Attr.SIGN, true).with(Attr.DECRYPT, true);
        } else {
            pub = pub.with(Attr.EC_PARAMS, JdkFormats.ecParams(curve));
            if (curve.kind() == Curve.Kind.MONTGOMERY) {
                priv = priv.with(Attr.DERIVE, true);
            } else {
                pub = pub.with(Attr.VERIFY, true);
                priv = priv.with(Attr.SIGN, true);
                if (curve.kind() == Curve.Kind.WEIERSTRASS) {
                    priv = priv.with(Attr.DERIVE, true);
                }
            }
        }
        Template publicTemplate = pub;
        Template privateTemplate = priv;
        try {
            return provider.token().withSession(true, s -> {
                Session.KeyPair pair = s.generateKeyPair(mechanism, publicTemplate, privateTemplate);
                PublicKey jdk;
                try {
                    jdk = s.publicKey(pair.publicKey());
                } catch (RuntimeException e) {
                    s.destroy(pair.privateKey());
                    s.destroy(pair.publicKey());
                    throw e;
                }
                VorlenPrivateKey key = switch (kind) {
                    case RSA -> new VorlenPrivateKey.Rsa(provider, pair.privateKey(), ((RSAPublicKey) jdk).getModulus());
                    case EC -> new VorlenPrivateKey.Ec(provider, pair.privateKey(), curve.ecParameterSpec());
                    case X25519 -> new VorlenPrivateKey.Xec(provider, pair.privateKey(), NamedParameterSpec.X25519);
                    default -> new VorlenPrivateKey.EdEc(provider, pair.privateKey(),
                            curve == Curve.ED448 ? NamedParameterSpec.ED448 : NamedParameterSpec.ED25519);
                };
                return new KeyPair(jdk, key);
            });
        } catch (TokenException | IllegalArgumentException e) {
            throw new ProviderException("generating a " + describe() + " key pair on " + provider.token() + " failed: "
                    + e.getMessage(), e);
        }
    }

    private String describe() {
        return kind == Kind.RSA ? "RSA " + bits + "-bit" : kind.jcaName + " " + curve.jdkName();
    }

    @Override
    public String toString() {
        return "Vorlen KeyPairGenerator " + describe();
    }
}
