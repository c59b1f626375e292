package zandrop.tesk.pkcs11.vorlen.token;

import java.io.ByteArrayInputStream;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.cert.CertificateEncodingException;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.interfaces.ECPrivateKey;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.EdECPrivateKey;
import java.security.interfaces.EdECPublicKey;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.interfaces.RSAPrivateKey;
import java.security.interfaces.RSAPublicKey;
import java.security.interfaces.XECPrivateKey;
import java.security.interfaces.XECPublicKey;
import java.security.spec.ECFieldFp;
import java.security.spec.ECParameterSpec;
import java.security.spec.ECPoint;
import java.security.spec.ECPublicKeySpec;
import java.security.spec.EllipticCurve;
import java.security.spec.RSAPublicKeySpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;

/**
 * Conversions between the values of token objects and the JDK's keys, certificates and
 * signatures:
 * <ul>
 * <li>curves and {@code CKA_EC_PARAMS} ({@link #ecParams(Curve)}, {@link #curve(byte[])});</li>
 * <li>{@code CKA_EC_POINT} and {@link ECPublicKey}, {@link EdECPublicKey}, {@link XECPublicKey}
 *     ({@link #ecPoint(PublicKey)}, {@link #publicKey(byte[], byte[])});</li>
 * <li>{@code CKA_MODULUS} and {@code CKA_PUBLIC_EXPONENT} and {@link RSAPublicKey}
 *     ({@link #rsaPublicKey(byte[], byte[])}, {@link #unsigned(BigInteger)});</li>
 * <li>ECDSA signatures: PKCS #11's r‖s and the JDK's DER ({@link #ecdsaToDer(byte[], Curve)},
 *     {@link #ecdsaFromDer(byte[], Curve)});</li>
 * <li>a certificate's {@code CKA_VALUE} and {@link X509Certificate} ({@link #certificate(byte[])});</li>
 * <li>templates that put a JDK key or certificate onto a token
 *     ({@link #privateKeyTemplate(PrivateKey, ImportOptions)},
 *     {@link #publicKeyTemplate(PublicKey, ImportOptions)},
 *     {@link #certificateTemplate(X509Certificate, ImportOptions)}).</li>
 * </ul>
 * Input that is malformed (from a token or a caller) gives an {@link IllegalArgumentException}
 * that says what is wrong; DER is read strictly (definite minimal lengths, minimal integers,
 * nothing after the end).
 */
public final class JdkFormats {

    private JdkFormats() {
    }

    // ---- curves

    /**
     * The {@code CKA_EC_PARAMS} of a curve: the DER of its object identifier, the form every
     * token takes.
     */
    public static byte[] ecParams(Curve curve) {
        return Der.oid(curve.oid());
    }

    /**
     * The {@code CKA_EC_PARAMS} of an Edwards or Montgomery curve as a DER PrintableString of
     * its name ({@code edwards25519}, {@code edwards448}, {@code curve25519}, {@code curve448}),
     * the form that PKCS #11 3.0 also allows and some tokens use.
     *
     * @throws IllegalArgumentException for a Weierstrass curve, which has no such form
     */
    public static byte[] ecParamsPrintable(Curve curve) {
        if (curve.printableName() == null) {
            throw new IllegalArgumentException(curve.jdkName() + " has no printable name in CKA_EC_PARAMS");
        }
        return Der.item(Der.PRINTABLE_STRING, curve.printableName().getBytes(StandardCharsets.US_ASCII));
    }

    /**
     * The curve of a {@code CKA_EC_PARAMS} value: an object identifier or a PrintableString
     * name.
     *
     * @throws IllegalArgumentException for malformed DER, explicit curve parameters, or a curve
     *     that {@link Curve} does not have
     */
    public static Curve curve(byte[] ecParams) {
        Der.Reader reader = new Der.Reader(ecParams, "CKA_EC_PARAMS");
        Curve curve;
        if (reader.peekTag() == Der.OID) {
            String oid = Der.oidText(reader.read(Der.OID));
            curve = null;
            for (Curve known : Curve.values()) {
                if (known.oid().equals(oid)) {
                    curve = known;
                }
            }
            if (curve == null) {
                throw new IllegalArgumentException("CKA_EC_PARAMS names the curve " + oid + ", which is none of " + List.of(Curve.values()));
            }
        } else if (reader.peekTag() == Der.PRINTABLE_STRING) {
            String name = new String(reader.read(Der.PRINTABLE_STRING), StandardCharsets.US_ASCII);
            curve = null;
            for (Curve known : Curve.values()) {
                if (name.equals(known.printableName())) {
                    curve = known;
                }
            }
            if (curve == null) {
                throw new IllegalArgumentException("CKA_EC_PARAMS names the curve \"" + name + "\", which is none of "
                        + "edwards25519, edwards448, curve25519, curve448");
            }
        } else if (reader.peekTag() == Der.SEQUENCE) {
            throw new IllegalArgumentException("CKA_EC_PARAMS holds explicit curve parameters: only named curves are supported");
        } else {
            throw new IllegalArgumentException(String.format(
                    "CKA_EC_PARAMS: tag 0x%02X where an object identifier or a printable name was expected", reader.peekTag()));
        }
        reader.expectEnd();
        return curve;
    }

    // ---- public keys

    /**
     * The {@code CKA_EC_POINT} of a public key: a DER OCTET STRING holding the uncompressed
     * point ({@code 04 X Y}) of an {@link ECPublicKey}, or the RFC 8032 / RFC 7748 encoding of
     * an {@link EdECPublicKey} or {@link XECPublicKey}.
     *
     * @throws IllegalArgumentException for another kind of key, or one on a curve that
     *     {@link Curve} does not have
     */
    public static byte[] ecPoint(PublicKey key) {
        return Der.item(Der.OCTET_STRING, rawPoint(key));
    }

    private static byte[] rawPoint(PublicKey key) {
        if (key instanceof ECPublicKey) {
            ECPublicKey ec = (ECPublicKey) key;
            int size = Curve.of(ec.getParams()).size();
            byte[] point = new byte[1 + 2 * size];
            point[0] = 4;
            fixed(ec.getW().getAffineX(), point, 1, size);
            fixed(ec.getW().getAffineY(), point, 1 + size, size);
            return point;
        }
        if (key instanceof EdECPublicKey || key instanceof XECPublicKey) {
            Curve.of(key instanceof EdECPublicKey ? ((EdECPublicKey) key).getParams() : ((XECPublicKey) key).getParams());
            // SubjectPublicKeyInfo: SEQUENCE { AlgorithmIdentifier, BIT STRING { 0 unused bits, key } }
            Der.Reader info = new Der.Reader(key.getEncoded(), "the key's SubjectPublicKeyInfo").readNested(Der.SEQUENCE);
            info.read(Der.SEQUENCE);
            byte[] bits = info.read(Der.BIT_STRING);
            return Arrays.copyOfRange(bits, 1, bits.length);
        }
        throw new IllegalArgumentException("not an EC, EdDSA or XDH public key: " + key.getAlgorithm());
    }

    /**
     * The JDK's public key of a token's EC, Edwards or Montgomery public key: an
     * {@link ECPublicKey}, {@link java.security.interfaces.EdECPublicKey} or
     * {@link java.security.interfaces.XECPublicKey}.
     *
     * @param ecParams the key's {@code CKA_EC_PARAMS}
     * @param ecPoint its {@code CKA_EC_POINT}: a DER OCTET STRING as the standard wants it, or
     *     the bare point or key that some tokens give; a Weierstrass point uncompressed
     *     ({@code 04 X Y}) or compressed ({@code 02 X}, {@code 03 X})
     * @return the public key
     * @throws IllegalArgumentException for a malformed value, a point of the wrong size or not
     *     on the curve
     * @throws IllegalStateException when no provider of this JDK knows the curve
     */
    public static PublicKey publicKey(byte[] ecParams, byte[] ecPoint) {
        Curve curve = curve(ecParams);
        byte[] raw = unwrapPoint(curve, ecPoint);
        try {
            if (curve.kind() == Curve.Kind.WEIERSTRASS) {
                ECParameterSpec spec = curve.ecParameterSpec();
                ECPoint point = decodePoint(curve, spec, raw);
                return KeyFactory.getInstance("EC").generatePublic(new ECPublicKeySpec(point, spec));
            }
            byte[] info = Der.item(Der.SEQUENCE, Der.item(Der.SEQUENCE, Der.oid(curve.oid())),
                    Der.item(Der.BIT_STRING, new byte[] {0}, raw));
            return KeyFactory.getInstance(curve.jdkName()).generatePublic(new X509EncodedKeySpec(info));
        } catch (GeneralSecurityException e) {
            throw new IllegalArgumentException("CKA_EC_POINT is not a public key of " + curve.jdkName() + ": " + e.getMessage(), e);
        }
    }

    /** The bare point or key of a CKA_EC_POINT, in either form. */
    private static byte[] unwrapPoint(Curve curve, byte[] ecPoint) {
        if (rawSize(curve, ecPoint)) {
            return ecPoint.clone();
        }
        Der.Reader reader = new Der.Reader(ecPoint, "CKA_EC_POINT");
        byte[] raw = reader.read(Der.OCTET_STRING);
        reader.expectEnd();
        if (!rawSize(curve, raw)) {
            throw new IllegalArgumentException("CKA_EC_POINT holds " + raw.length + " bytes, not a "
                    + (curve.kind() == Curve.Kind.WEIERSTRASS ? "point" : "key") + " of " + curve.jdkName());
        }
        return raw;
    }

    private static boolean rawSize(Curve curve, byte[] value) {
        if (curve.kind() != Curve.Kind.WEIERSTRASS) {
            return value.length == curve.size();
        }
        return value.length == 1 + 2 * curve.size() && value[0] == 4
                || value.length == 1 + curve.size() && (value[0] == 2 || value[0] == 3);
    }

    /** Decodes an uncompressed or compressed point and checks that it lies on the curve. */
    private static ECPoint decodePoint(Curve curve, ECParameterSpec spec, byte[] raw) {
        EllipticCurve ellipticCurve = spec.getCurve();
        BigInteger p = ((ECFieldFp) ellipticCurve.getField()).getP();
        int size = curve.size();
        BigInteger x = new BigInteger(1, Arrays.copyOfRange(raw, 1, 1 + size));
        BigInteger right = x.pow(3).add(ellipticCurve.getA().multiply(x)).add(ellipticCurve.getB()).mod(p);
        BigInteger y;
        if (raw[0] == 4) {
            y = new BigInteger(1, Arrays.copyOfRange(raw, 1 + size, raw.length));
        } else {
            // Every curve here has p = 3 (mod 4): the square root is a power.
            y = right.modPow(p.add(BigInteger.ONE).shiftRight(2), p);
            if (y.testBit(0) != (raw[0] == 3)) {
                y = p.subtract(y).mod(p);
            }
        }
        if (x.compareTo(p) >= 0 || y.compareTo(p) >= 0 || !y.multiply(y).mod(p).equals(right)) {
            throw new IllegalArgumentException("CKA_EC_POINT is not a point of " + curve.jdkName());
        }
        return new ECPoint(x, y);
    }

    /**
     * The JDK's RSA public key of a token's {@code CKA_MODULUS} and {@code CKA_PUBLIC_EXPONENT}.
     *
     * @param modulus the modulus, unsigned big-endian
     * @param publicExponent the public exponent, unsigned big-endian
     * @throws IllegalArgumentException when either is empty or zero, or the JDK refuses the key
     */
    public static RSAPublicKey rsaPublicKey(byte[] modulus, byte[] publicExponent) {
        BigInteger n = new BigInteger(1, modulus);
        BigInteger e = new BigInteger(1, publicExponent);
        if (n.signum() == 0 || e.signum() == 0) {
            throw new IllegalArgumentException("an RSA key needs a modulus and a public exponent other than zero");
        }
        try {
            return (RSAPublicKey) KeyFactory.getInstance("RSA").generatePublic(new RSAPublicKeySpec(n, e));
        } catch (GeneralSecurityException x) {
            throw new IllegalArgumentException("not an RSA public key: " + x.getMessage(), x);
        }
    }

    /**
     * A non-negative number as PKCS #11 holds big integers ({@code CKA_MODULUS} ...):
     * big-endian, without a sign byte; zero is one zero byte.
     *
     * @throws IllegalArgumentException for a negative number
     */
    public static byte[] unsigned(BigInteger value) {
        if (value.signum() < 0) {
            throw new IllegalArgumentException("a negative number has no unsigned form");
        }
        byte[] bytes = value.toByteArray();
        return bytes.length > 1 && bytes[0] == 0 ? Arrays.copyOfRange(bytes, 1, bytes.length) : bytes;
    }

    // ---- ECDSA signatures

    /**
     * A PKCS #11 ECDSA signature (r‖s, as {@code CKM_ECDSA} gives it) in the JDK's DER form
     * (the {@code SHA256withECDSA} signatures of SunEC).
     *
     * @param raw r and s, each {@link Curve#size()} bytes, big-endian
     * @param curve the key's curve, a Weierstrass curve
     * @throws IllegalArgumentException when raw is not exactly twice the curve's size
     */
    public static byte[] ecdsaToDer(byte[] raw, Curve curve) {
        int size = ecdsaSize(curve);
        if (raw.length != 2 * size) {
            throw new IllegalArgumentException("an ECDSA signature of " + curve.jdkName() + " has " + 2 * size
                    + " bytes (r and s), not " + raw.length);
        }
        return Der.item(Der.SEQUENCE, Der.integer(new BigInteger(1, Arrays.copyOfRange(raw, 0, size))),
                Der.integer(new BigInteger(1, Arrays.copyOfRange(raw, size, raw.length))));
    }

    /**
     * A DER ECDSA signature (SEQUENCE of the INTEGERs r and s) as PKCS #11 wants it for
     * {@code C_Verify} with {@code CKM_ECDSA}: r‖s, each {@link Curve#size()} bytes.
     *
     * @param der the signature; read strictly: minimal lengths and integers, r and s positive
     *     and of at most the curve's size, nothing after the end
     * @param curve the key's curve, a Weierstrass curve
     * @throws IllegalArgumentException for anything else
     */
    public static byte[] ecdsaFromDer(byte[] der, Curve curve) {
        int size = ecdsaSize(curve);
        Der.Reader outer = new Der.Reader(der, "ECDSA signature");
        Der.Reader sequence = outer.readNested(Der.SEQUENCE);
        outer.expectEnd();
        byte[] raw = new byte[2 * size];
        for (int i = 0; i < 2; i++) {
            byte[] integer = sequence.read(Der.INTEGER);
            String name = i == 0 ? "r" : "s";
            if (integer.length == 0) {
                throw new IllegalArgumentException("ECDSA signature: " + name + " is an empty INTEGER");
            }
            if (integer.length > 1 && integer[0] == 0 && integer[1] >= 0 || integer.length > 1 && integer[0] == -1 && integer[1] < 0) {
                throw new IllegalArgumentException("ECDSA signature: " + name + " is not a minimal INTEGER");
            }
            BigInteger value = new BigInteger(integer);
            if (value.signum() <= 0) {
                throw new IllegalArgumentException("ECDSA signature: " + name + " is not positive");
            }
            byte[] bytes = unsigned(value);
            if (bytes.length > size) {
                throw new IllegalArgumentException("ECDSA signature: " + name + " is longer than " + size + " bytes");
            }
            System.arraycopy(bytes, 0, raw, (i + 1) * size - bytes.length, bytes.length);
        }
        sequence.expectEnd();
        return raw;
    }

    private static int ecdsaSize(Curve curve) {
        if (curve.kind() != Curve.Kind.WEIERSTRASS) {
            throw new IllegalArgumentException(curve.jdkName() + " is not an ECDSA curve");
        }
        return curve.size();
    }

    // ---- certificates

    /**
     * The JDK's certificate of a certificate object's {@code CKA_VALUE}.
     *
     * @param value the DER of an X.509 certificate, and nothing after it
     * @throws IllegalArgumentException when the value is not exactly one certificate
     */
    public static X509Certificate certificate(byte[] value) {
        try {
            ByteArrayInputStream in = new ByteArrayInputStream(value);
            X509Certificate certificate = (X509Certificate) CertificateFactory.getInstance("X.509").generateCertificate(in);
            if (!Arrays.equals(certificate.getEncoded(), value)) {
                throw new IllegalArgumentException("CKA_VALUE is not exactly the DER of one certificate");
            }
            return certificate;
        } catch (CertificateException e) {
            throw new IllegalArgumentException("CKA_VALUE is not an X.509 certificate: " + e.getMessage(), e);
        }
    }

    // ---- templates

    /**
     * The choices of an import: the object's label and id, whether it is a token object, and
     * for private keys whether it is sensitive and extractable. Immutable: each method returns
     * a new object.
     */
    public static final class ImportOptions {
        private final String label;
        private final byte[] id;
        private final boolean token;
        private final boolean sensitive;
        private final boolean extractable;

        private ImportOptions(String label, byte[] id, boolean token, boolean sensitive, boolean extractable) {
            this.label = label;
            this.id = id;
            this.token = token;
            this.sensitive = sensitive;
            this.extractable = extractable;
        }

        /**
         * A token object without label or id; a private key sensitive and not extractable.
         */
        public static ImportOptions defaults() {
            return new ImportOptions(null, null, true, true, false);
        }

        /** With {@code CKA_LABEL} (UTF-8), or without for null. */
        public ImportOptions label(String newLabel) {
            return new ImportOptions(newLabel, id, token, sensitive, extractable);
        }

        /** With {@code CKA_ID} (copied), or without for null. */
        public ImportOptions id(byte[] newId) {
            return new ImportOptions(label, newId == null ? null : newId.clone(), token, sensitive, extractable);
        }

        /** {@code CKA_TOKEN}: a token object (true) or a session object. */
        public ImportOptions token(boolean newToken) {
            return new ImportOptions(label, id, newToken, sensitive, extractable);
        }

        /** {@code CKA_SENSITIVE} of a private key. */
        public ImportOptions sensitive(boolean newSensitive) {
            return new ImportOptions(label, id, token, newSensitive, extractable);
        }

        /** {@code CKA_EXTRACTABLE} of a private key. */
        public ImportOptions extractable(boolean newExtractable) {
            return new ImportOptions(label, id, token, sensitive, newExtractable);
        }

        @Override
        public String toString() {
            return "ImportOptions[label=" + (label == null ? "null" : '"' + label + '"')
                    + ", id=" + (id == null ? "null" : java.util.HexFormat.of().formatHex(id))
                    + ", token=" + token + ", sensitive=" + sensitive + ", extractable=" + extractable + "]";
        }

        private void addCommon(List<CK_ATTRIBUTE> template) {
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_TOKEN, token));
            if (label != null) {
                template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_LABEL, label.getBytes(StandardCharsets.UTF_8)));
            }
            if (id != null) {
                template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_ID, id.clone()));
            }
        }
    }

    /**
     * The template of {@code C_CreateObject} that puts a JDK public key onto a token: class,
     * key type, the key's values ({@code CKA_MODULUS} and {@code CKA_PUBLIC_EXPONENT}, or
     * {@code CKA_EC_PARAMS} and {@code CKA_EC_POINT}), {@code CKA_VERIFY} (RSA, EC, EdDSA) and
     * {@code CKA_ENCRYPT} (RSA), and the options' token, label and id.
     *
     * @param key an RSA, EC, EdDSA or XDH public key
     * @param options label, id, token
     * @throws IllegalArgumentException for another kind of key or curve
     */
    public static CK_ATTRIBUTE[] publicKeyTemplate(PublicKey key, ImportOptions options) {
        List<CK_ATTRIBUTE> template = new ArrayList<>();
        template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_CLASS, PKCS11Constants.CKO_PUBLIC_KEY));
        if (key instanceof RSAPublicKey) {
            RSAPublicKey rsa = (RSAPublicKey) key;
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_KEY_TYPE, PKCS11Constants.CKK_RSA));
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_MODULUS, unsigned(rsa.getModulus())));
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_PUBLIC_EXPONENT, unsigned(rsa.getPublicExponent())));
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_VERIFY, true));
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_ENCRYPT, true));
        } else {
            Curve curve = curveOf(key);
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_KEY_TYPE, curve.keyType()));
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_EC_PARAMS, ecParams(curve)));
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_EC_POINT, ecPoint(key)));
            if (curve.kind() != Curve.Kind.MONTGOMERY) {
                template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_VERIFY, true));
            }
        }
        options.addCommon(template);
        return template.toArray(new CK_ATTRIBUTE[0]);
    }

    /**
     * The template of {@code C_CreateObject} that puts a JDK private key onto a token: class,
     * key type, the key's values (RSA: modulus, both exponents and, for a CRT key, the primes
     * and CRT values; EC: {@code CKA_EC_PARAMS} and the private value, padded to the curve's
     * size; EdDSA and XDH: {@code CKA_EC_PARAMS} and the RFC 8032 / RFC 7748 private key),
     * {@code CKA_PRIVATE} true, {@code CKA_SENSITIVE} and {@code CKA_EXTRACTABLE} as the
     * options say (by default true and false), {@code CKA_SIGN} (RSA, EC, EdDSA),
     * {@code CKA_DECRYPT} (RSA), {@code CKA_DERIVE} (EC, XDH), and the options' token, label and
     * id.
     *
     * <p>The template holds copies of the key's secret values: let it go as soon as the object
     * is created.
     *
     * @param key an RSA, EC, EdDSA or XDH private key whose values are available (not a key
     *     that lives in a token)
     * @param options label, id, token, sensitive, extractable
     * @throws IllegalArgumentException for another kind of key or curve, or a key that does
     *     not give its values
     */
    public static CK_ATTRIBUTE[] privateKeyTemplate(PrivateKey key, ImportOptions options) {
        List<CK_ATTRIBUTE> template = new ArrayList<>();
        template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_CLASS, PKCS11Constants.CKO_PRIVATE_KEY));
        if (key instanceof RSAPrivateKey) {
            RSAPrivateKey rsa = (RSAPrivateKey) key;
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_KEY_TYPE, PKCS11Constants.CKK_RSA));
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_MODULUS, unsigned(rsa.getModulus())));
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_PRIVATE_EXPONENT, unsigned(rsa.getPrivateExponent())));
            if (key instanceof RSAPrivateCrtKey) {
                RSAPrivateCrtKey crt = (RSAPrivateCrtKey) key;
                template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_PUBLIC_EXPONENT, unsigned(crt.getPublicExponent())));
                template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_PRIME_1, unsigned(crt.getPrimeP())));
                template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_PRIME_2, unsigned(crt.getPrimeQ())));
                template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_EXPONENT_1, unsigned(crt.getPrimeExponentP())));
                template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_EXPONENT_2, unsigned(crt.getPrimeExponentQ())));
                template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_COEFFICIENT, unsigned(crt.getCrtCoefficient())));
            }
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_SIGN, true));
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_DECRYPT, true));
        } else {
            Curve curve = curveOf(key);
            byte[] value;
            if (key instanceof ECPrivateKey) {
                value = new byte[curve.size()];
                fixed(((ECPrivateKey) key).getS(), value, 0, curve.size());
            } else if (key instanceof EdECPrivateKey) {
                value = ((EdECPrivateKey) key).getBytes().orElseThrow(() -> noValue(key));
            } else {
                value = ((XECPrivateKey) key).getScalar().orElseThrow(() -> noValue(key));
            }
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_KEY_TYPE, curve.keyType()));
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_EC_PARAMS, ecParams(curve)));
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_VALUE, value));
            if (curve.kind() != Curve.Kind.MONTGOMERY) {
                template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_SIGN, true));
            }
            if (curve.kind() != Curve.Kind.EDWARDS) {
                template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_DERIVE, true));
            }
        }
        template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_PRIVATE, true));
        template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_SENSITIVE, options.sensitive));
        template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_EXTRACTABLE, options.extractable));
        options.addCommon(template);
        return template.toArray(new CK_ATTRIBUTE[0]);
    }

    private static IllegalArgumentException noValue(PrivateKey key) {
        return new IllegalArgumentException("the " + key.getAlgorithm() + " private key does not give its value");
    }

    /**
     * The template of {@code C_CreateObject} that puts a certificate onto a token:
     * {@code CKO_CERTIFICATE} of type {@code CKC_X_509}, {@code CKA_VALUE} (its DER),
     * {@code CKA_SUBJECT}, {@code CKA_ISSUER} and {@code CKA_SERIAL_NUMBER} (DER, as the
     * standard wants them), and the options' token, label and id.
     *
     * @throws IllegalArgumentException when the certificate cannot be encoded
     */
    public static CK_ATTRIBUTE[] certificateTemplate(X509Certificate certificate, ImportOptions options) {
        List<CK_ATTRIBUTE> template = new ArrayList<>();
        template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_CLASS, PKCS11Constants.CKO_CERTIFICATE));
        template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_CERTIFICATE_TYPE, PKCS11Constants.CKC_X_509));
        try {
            template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_VALUE, certificate.getEncoded()));
        } catch (CertificateEncodingException e) {
            throw new IllegalArgumentException("the certificate cannot be encoded: " + e.getMessage(), e);
        }
        template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_SUBJECT, certificate.getSubjectX500Principal().getEncoded()));
        template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_ISSUER, certificate.getIssuerX500Principal().getEncoded()));
        template.add(new CK_ATTRIBUTE(PKCS11Constants.CKA_SERIAL_NUMBER, Der.integer(certificate.getSerialNumber())));
        options.addCommon(template);
        return template.toArray(new CK_ATTRIBUTE[0]);
    }

    // ---- helpers

    private static Curve curveOf(java.security.Key key) {
        if (key instanceof java.security.interfaces.ECKey) {
            return Curve.of(((java.security.interfaces.ECKey) key).getParams());
        }
        if (key instanceof java.security.interfaces.EdECKey) {
            return Curve.of(((java.security.interfaces.EdECKey) key).getParams());
        }
        if (key instanceof java.security.interfaces.XECKey) {
            return Curve.of(((java.security.interfaces.XECKey) key).getParams());
        }
        throw new IllegalArgumentException("not an RSA, EC, EdDSA or XDH key: " + key.getAlgorithm());
    }

    /** Writes a non-negative number big-endian into exactly size bytes. */
    private static void fixed(BigInteger value, byte[] into, int offset, int size) {
        byte[] bytes = unsigned(value);
        if (bytes.length > size) {
            throw new IllegalArgumentException("a value of " + bytes.length + " bytes where the curve has " + size);
        }
        System.arraycopy(bytes, 0, into, offset + size - bytes.length, bytes.length);
    }
}
