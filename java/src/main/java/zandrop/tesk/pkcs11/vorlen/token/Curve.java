package zandrop.tesk.pkcs11.vorlen.token;

import java.security.AlgorithmParameters;
import java.security.GeneralSecurityException;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.ECParameterSpec;
import java.security.spec.NamedParameterSpec;
import java.util.List;
import java.util.Locale;

import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;

/**
 * The elliptic curves that tokens and the JDK share: the short Weierstrass curves of ECDSA and
 * ECDH (key type {@code CKK_EC}), the Edwards curves of EdDSA ({@code CKK_EC_EDWARDS}) and the
 * Montgomery curves of X25519 and X448 ({@code CKK_EC_MONTGOMERY}).
 * {@link JdkFormats#ecParams(Curve)} gives a curve's {@code CKA_EC_PARAMS}.
 */
public enum Curve {
    /** NIST P-256, secp256r1, prime256v1. */
    P_256(Kind.WEIERSTRASS, "secp256r1", "1.2.840.10045.3.1.7", 32, null, "P-256", "prime256v1", "NIST P-256"),
    /** NIST P-384, secp384r1. */
    P_384(Kind.WEIERSTRASS, "secp384r1", "1.3.132.0.34", 48, null, "P-384", "NIST P-384"),
    /** NIST P-521, secp521r1. */
    P_521(Kind.WEIERSTRASS, "secp521r1", "1.3.132.0.35", 66, null, "P-521", "NIST P-521"),
    /**
     * secp256k1. The JDK's own providers no longer generate its keys nor sign or verify with
     * them (since JDK 16), but JDK 17 still knows its parameters and makes its public keys;
     * tokens can use it, and this class converts its values.
     */
    SECP256K1(Kind.WEIERSTRASS, "secp256k1", "1.3.132.0.10", 32, null),
    /** Ed25519 (edwards25519), for EdDSA. */
    ED25519(Kind.EDWARDS, "Ed25519", "1.3.101.112", 32, "edwards25519"),
    /** Ed448 (edwards448), for EdDSA. */
    ED448(Kind.EDWARDS, "Ed448", "1.3.101.113", 57, "edwards448"),
    /** X25519 (curve25519), for ECDH. */
    X25519(Kind.MONTGOMERY, "X25519", "1.3.101.110", 32, "curve25519"),
    /** X448 (curve448), for ECDH. */
    X448(Kind.MONTGOMERY, "X448", "1.3.101.111", 56, "curve448");

    /** The three families of curves. */
    public enum Kind {
        /** Short Weierstrass curves: ECDSA and ECDH, key type {@code CKK_EC}. */
        WEIERSTRASS,
        /** Twisted Edwards curves: EdDSA, key type {@code CKK_EC_EDWARDS}. */
        EDWARDS,
        /** Montgomery curves: X25519 and X448, key type {@code CKK_EC_MONTGOMERY}. */
        MONTGOMERY
    }

    private final Kind kind;
    private final String jdkName;
    private final String oid;
    private final int size;
    private final String printableName;
    private final List<String> aliases;

    Curve(Kind kind, String jdkName, String oid, int size, String printableName, String... aliases) {
        this.kind = kind;
        this.jdkName = jdkName;
        this.oid = oid;
        this.size = size;
        this.printableName = printableName;
        this.aliases = List.of(aliases);
    }

    /** The family of the curve. */
    public Kind kind() {
        return kind;
    }

    /**
     * The JDK's name: the standard name of {@link ECGenParameterSpec} (such as
     * {@code secp256r1}) or of {@link NamedParameterSpec} (such as {@code Ed25519}).
     */
    public String jdkName() {
        return jdkName;
    }

    /** The object identifier in dotted form, such as {@code 1.2.840.10045.3.1.7}. */
    public String oid() {
        return oid;
    }

    /**
     * The curve's size in bytes: of a field element for a Weierstrass curve (so an
     * uncompressed point has {@code 1 + 2 * size} bytes, a raw ECDSA signature
     * {@code 2 * size}); of a public key for Edwards and Montgomery curves (Ed448: 57).
     */
    public int size() {
        return size;
    }

    /**
     * The name of the curve as a PrintableString of {@code CKA_EC_PARAMS}, which some tokens
     * use for Edwards and Montgomery curves ({@code edwards25519}, {@code curve448} ...), or
     * null for a Weierstrass curve.
     */
    public String printableName() {
        return printableName;
    }

    /** The key type of the curve's keys: {@code CKK_EC}, {@code CKK_EC_EDWARDS} or {@code CKK_EC_MONTGOMERY}. */
    public long keyType() {
        switch (kind) {
            case EDWARDS:
                return PKCS11Constants.CKK_EC_EDWARDS;
            case MONTGOMERY:
                return PKCS11Constants.CKK_EC_MONTGOMERY;
            default:
                return PKCS11Constants.CKK_EC;
        }
    }

    /**
     * The curve by any of its names, in any case: the constant's name ({@code P_256}), the
     * JDK's ({@code secp256r1}, {@code Ed25519}), the common ones ({@code P-256},
     * {@code prime256v1}, {@code NIST P-256}), the printable one ({@code edwards25519}) or the
     * dotted object identifier.
     *
     * @param name the name
     * @return the curve
     * @throws IllegalArgumentException when no curve has the name
     */
    public static Curve forName(String name) {
        for (Curve curve : values()) {
            if (curve.name().equalsIgnoreCase(name) || curve.jdkName.equalsIgnoreCase(name) || curve.oid.equals(name)
                    || name.equalsIgnoreCase(curve.printableName)
                    || curve.aliases.stream().anyMatch(alias -> alias.equalsIgnoreCase(name))) {
                return curve;
            }
        }
        throw new IllegalArgumentException("unknown curve: \"" + name + "\"");
    }

    /**
     * The curve of the JDK's parameters of a key: an {@link ECParameterSpec} (compared with the
     * JDK's own parameters of each Weierstrass curve: field, coefficients, generator, order and
     * cofactor) or a {@link NamedParameterSpec}.
     *
     * @param parameters the parameters, such as {@code ECKey.getParams()} or
     *     {@code EdECKey.getParams()}
     * @return the curve
     * @throws IllegalArgumentException when the parameters are none of these curves
     */
    public static Curve of(AlgorithmParameterSpec parameters) {
        if (parameters instanceof NamedParameterSpec) {
            String name = ((NamedParameterSpec) parameters).getName();
            for (Curve curve : values()) {
                if (curve.kind != Kind.WEIERSTRASS && curve.jdkName.equalsIgnoreCase(name)) {
                    return curve;
                }
            }
        } else if (parameters instanceof ECParameterSpec) {
            ECParameterSpec wanted = (ECParameterSpec) parameters;
            for (Curve curve : values()) {
                ECParameterSpec known = curve.kind == Kind.WEIERSTRASS ? curve.ecParameterSpecOrNull() : null;
                if (known != null && known.getCurve().equals(wanted.getCurve())
                        && known.getGenerator().equals(wanted.getGenerator())
                        && known.getOrder().equals(wanted.getOrder()) && known.getCofactor() == wanted.getCofactor()) {
                    return curve;
                }
            }
        }
        throw new IllegalArgumentException("not a curve of this library: " + parameters);
    }

    /**
     * The JDK's parameters of a Weierstrass curve.
     *
     * @return the parameters, from the JDK's {@code AlgorithmParameters} of type EC
     * @throws IllegalStateException for an Edwards or Montgomery curve, or when no provider of
     *     the JDK knows the curve (as secp256k1 may be in a JDK without it)
     */
    public ECParameterSpec ecParameterSpec() {
        ECParameterSpec spec = kind == Kind.WEIERSTRASS ? ecParameterSpecOrNull() : null;
        if (spec == null) {
            throw new IllegalStateException(kind == Kind.WEIERSTRASS
                    ? "no provider of this JDK knows the curve " + jdkName
                    : jdkName + " is not a Weierstrass curve: its parameters are NamedParameterSpec." + jdkName.toUpperCase(Locale.ROOT));
        }
        return spec;
    }

    private volatile ECParameterSpec spec;
    private volatile boolean specLooked;

    private ECParameterSpec ecParameterSpecOrNull() {
        if (!specLooked) {
            try {
                AlgorithmParameters parameters = AlgorithmParameters.getInstance("EC");
                parameters.init(new ECGenParameterSpec(jdkName));
                spec = parameters.getParameterSpec(ECParameterSpec.class);
            } catch (GeneralSecurityException e) {
                spec = null;
            }
            specLooked = true;
        }
        return spec;
    }
}
