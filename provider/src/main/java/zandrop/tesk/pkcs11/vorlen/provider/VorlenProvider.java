package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_RNG;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_ECDSA;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_EDDSA;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_RSA_PKCS;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_RSA_PKCS_PSS;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_KEY_HANDLE_INVALID;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_OBJECT_HANDLE_INVALID;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.InvalidParameterException;
import java.security.NoSuchAlgorithmException;
import java.security.Provider;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.function.BiFunction;

import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.KeyObject;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.PinSource;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Module;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Uri;
import zandrop.tesk.pkcs11.vorlen.token.Session;
import zandrop.tesk.pkcs11.vorlen.token.Template;
import zandrop.tesk.pkcs11.vorlen.token.Token;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;
import zandrop.tesk.pkcs11.vorlen.token.TokenObject;

/**
 * The JCA provider "Vorlen": one PKCS#11 token behind {@code KeyStore} (type {@code PKCS11}),
 * {@code Signature}, {@code KeyPairGenerator}, {@code Cipher} ({@code AES/GCM/NoPadding}) and {@code SecureRandom}
 * (the provider's own name {@code PKCS11}: the token's generator).
 *
 * <p>A provider is configured once, with a PKCS#11 URI that names the module by its
 * {@code module-path} and selects one token (by {@code token}, {@code serial}, ... or as the
 * module's only one), optionally with {@code pin-value} or {@code pin-source} to log in at once;
 * or with the path of a file whose first line that is neither empty nor a {@code #} comment is
 * such a URI:
 * <pre>{@code
 * Provider p = new VorlenProvider("pkcs11:token=demo?module-path=/usr/lib/softhsm/libsofthsm2.so");
 * Security.addProvider(p);
 * KeyStore ks = KeyStore.getInstance("PKCS11", p);
 * ks.load(null, pin);
 * }</pre>
 * The no-argument constructor makes an unconfigured provider (for {@code ServiceLoader}, the
 * {@code java.security} file and the {@code -providerClass} option of keytool and jarsigner),
 * which {@link #configure(String)} configures in place. A configured one offers only what its
 * token offers ({@code C_GetMechanismList}): the hash-and-sign algorithms where the token has
 * the combined mechanism or the plain one (the data is then hashed on the host). Several
 * configured providers, one per token, can coexist; {@code Security.addProvider} takes only one
 * provider of a name, the others are used by object.
 *
 * <p>Errors of the token reach the caller as the checked exception of the JCA method, whose
 * cause is the session layer's {@code TokenException} with the {@code CKR_} code.
 */
public final class VorlenProvider extends Provider implements AutoCloseable {
    private static final long serialVersionUID = 1L;

    /** The provider's name. */
    public static final String NAME = "Vorlen";
    private static final String INFO = "PKCS#11 tokens through vorlen-pkcs11";

    private transient volatile Token token;
    private transient Pkcs11Module module;
    private transient String tokenText;
    private transient boolean closed;  // guarded by this

    /** An unconfigured provider; {@link #configure(String)} names its token. */
    public VorlenProvider() {
        super(NAME, "1.0", INFO + " (not configured)");
    }

    /**
     * A provider of the token that a PKCS#11 URI names.
     *
     * @param configuration a PKCS#11 URI with {@code module-path}, or the path of a file holding one
     * @throws InvalidParameterException if the configuration is unusable or the token cannot be reached
     */
    public VorlenProvider(String configuration) {
        this();
        configureHere(configuration);
    }

    /**
     * Configures this provider when it is not yet configured, else returns a new one.
     *
     * @param configuration a PKCS#11 URI with {@code module-path}, or the path of a file holding one
     * @return the configured provider
     * @throws InvalidParameterException if the configuration is unusable or the token cannot be reached
     */
    @Override
    public Provider configure(String configuration) {
        synchronized (this) {
            if (token == null) {
                configureHere(configuration);
                return this;
            }
        }
        return new VorlenProvider(configuration);
    }

    @Override
    public boolean isConfigured() {
        return token != null;
    }

    /**
     * Returns the token of this provider.
     *
     * @return the token
     * @throws IllegalStateException if the provider is not configured
     */
    public Token token() {
        Token t = token;
        if (t == null) {
            throw new IllegalStateException(closed
                    ? "the provider " + NAME + " of " + tokenText + " is closed"
                    : "the provider " + NAME + " is not configured: call configure(URI)");
        }
        return t;
    }

    /**
     * Lets go of the token: the provider's share of its module is closed (the module is
     * finalised when no other provider or user of the session layer holds it). Engines, key
     * stores and keys of this provider fail afterwards with {@link IllegalStateException}; its
     * services stay listed. Closing again, or closing an unconfigured provider, does nothing.
     * A provider lives as long as the program in most uses (the {@code java.security} file,
     * keytool, jarsigner); this is for programs that configure providers as they go.
     */
    @Override
    public void close() {
        Pkcs11Module held;
        synchronized (this) {
            if (token == null) {
                return;
            }
            closed = true;
            token = null;
            held = module;
            module = null;
        }
        held.close();
    }

    private synchronized void configureHere(String configuration) {
        if (closed) {
            throw new IllegalStateException("this provider is closed: " + tokenText);
        }
        if (token != null) {
            throw new IllegalStateException("this provider is configured already: " + tokenText);
        }
        Pkcs11Uri uri = parse(configuration);
        Pkcs11Module opened;
        try {
            opened = Pkcs11Module.open(uri);
        } catch (RuntimeException e) {
            throw invalid("the module of " + uri + " cannot be opened: " + e.getMessage(), e);
        }
        try {
            Token t = opened.token(uri);
            if (uri.pinValue() != null || uri.pinSource() != null) {
                t.login(PinSource.of(uri));
            }
            register(t);
            module = opened;
            tokenText = t.toString();
            token = t;
        } catch (RuntimeException e) {
            opened.close();
            throw invalid("the token of " + uri + " cannot be used: " + e.getMessage(), e);
        }
    }

    private static InvalidParameterException invalid(String message, Throwable cause) {
        InvalidParameterException e = new InvalidParameterException(message);
        e.initCause(cause);
        return e;
    }

    /** The URI of a configuration: the text itself, or the first line of the file it names. */
    static Pkcs11Uri parse(String configuration) {
        if (configuration == null || configuration.isBlank()) {
            throw new InvalidParameterException("no configuration: give a PKCS#11 URI or the path of a file holding one");
        }
        String text = configuration.strip();
        if (!text.startsWith(Pkcs11Uri.SCHEME)) {
            try {
                text = firstLine(Files.readAllLines(Path.of(text)));
            } catch (IOException | UncheckedIOException | java.nio.file.InvalidPathException e) {
                throw invalid("the configuration is neither a PKCS#11 URI nor a readable file: " + text, e);
            }
            if (text == null) {
                throw new InvalidParameterException("the file " + configuration.strip() + " holds no PKCS#11 URI");
            }
        }
        Pkcs11Uri uri;
        try {
            uri = Pkcs11Uri.parse(text);
        } catch (IllegalArgumentException e) {
            throw invalid("not a PKCS#11 URI: " + e.getMessage(), e);
        }
        if (uri.modulePath() == null) {
            throw new InvalidParameterException("the PKCS#11 URI names no module-path: " + uri);
        }
        return uri;
    }

    private static String firstLine(List<String> lines) {
        for (String line : lines) {
            String l = line.strip();
            if (!l.isEmpty() && !l.startsWith("#")) {
                return l;
            }
        }
        return null;
    }

    // ---- services ----

    /** The signature algorithms, by JCA name, and what each needs of the token. */
    private void register(Token t) {
        List<Service> services = new ArrayList<>();
        services.add(new VorlenService(this, "KeyStore", "PKCS11", VorlenKeyStore.class.getName(), null));
        for (Hash hash : Hash.values()) {
            String h = hash.jdkName().replace("-", "");
            if (t.supports(Mechanism.rsaPkcs1(hash).type()) || t.supports(CKM_RSA_PKCS)) {
                services.add(signature(h + "withRSA", VorlenSignature.Kind.RSA_PKCS1, hash));
            }
            if (t.supports(Mechanism.ecdsa(hash).type()) || t.supports(CKM_ECDSA)) {
                services.add(signature(h + "withECDSA", VorlenSignature.Kind.ECDSA_DER, hash));
                services.add(signature(h + "withECDSAinP1363Format", VorlenSignature.Kind.ECDSA_P1363, hash));
            }
        }
        if (t.supports(CKM_RSA_PKCS)) {
            services.add(signature("NONEwithRSA", VorlenSignature.Kind.RSA_NONE, null));
        }
        if (t.supports(CKM_ECDSA)) {
            services.add(signature("NONEwithECDSA", VorlenSignature.Kind.ECDSA_NONE, null));
        }
        if (t.supports(CKM_EDDSA)) {
            for (String name : new String[] {"EdDSA", "Ed25519", "Ed448"}) {
                services.add(signature(name, VorlenSignature.Kind.EDDSA, null));
            }
        }
        if (t.supports(CKM_RSA_PKCS_PSS)) {
            services.add(signature("RSASSA-PSS", VorlenSignature.Kind.RSA_PSS, null));
        }
        for (VorlenKeyPairGenerator.Kind k : VorlenKeyPairGenerator.Kind.values()) {
            if (t.supports(k.mechanism)) {
                services.add(new VorlenService(this, "KeyPairGenerator", k.jcaName, VorlenKeyPairGenerator.class.getName(), null));
            }
        }
        // Ciphers, MACs, digests, key generators, secret key factories, key agreements.
        VorlenEngines.register(this, t, services);
        if ((t.info().flags() & CKF_RNG) != 0) {
            services.add(new VorlenService(this, "SecureRandom", "PKCS11", VorlenRandom.class.getName(),
                    Map.of("ThreadSafe", "true")));
        }
        for (Service s : services) {
            putService(s);
        }
    }

    private Service signature(String name, VorlenSignature.Kind kind, Hash hash) {
        String keys = switch (kind) {
            case RSA_PKCS1, RSA_PSS, RSA_NONE -> VorlenPrivateKey.Rsa.class.getName() + "|java.security.interfaces.RSAPublicKey";
            case EDDSA -> VorlenPrivateKey.EdEc.class.getName() + "|java.security.interfaces.EdECPublicKey";
            default -> VorlenPrivateKey.Ec.class.getName() + "|java.security.interfaces.ECPublicKey";
        };
        return new VorlenService(this, "Signature", name, VorlenSignature.class.getName(),
                Map.of("SupportedKeyClasses", keys), kind, hash);
    }

    /** A service that builds its engine with this provider's token, and takes only keys it can use. */
    private static final class VorlenService extends Service {
        private final VorlenProvider owner;
        private final VorlenSignature.Kind kind;
        private final Hash hash;

        VorlenService(VorlenProvider owner, String type, String algorithm, String className, Map<String, String> attributes) {
            this(owner, type, algorithm, className, attributes, null, null);
        }

        VorlenService(VorlenProvider owner, String type, String algorithm, String className,
                Map<String, String> attributes, VorlenSignature.Kind kind, Hash hash) {
            super(owner, type, algorithm, className, null, attributes);
            this.owner = owner;
            this.kind = kind;
            this.hash = hash;
        }

        @Override
        public Object newInstance(Object parameter) throws NoSuchAlgorithmException {
            return switch (getType()) {
                case "KeyStore" -> new VorlenKeyStore(owner);
                case "Signature" -> new VorlenSignature(owner, kind, hash, getAlgorithm());
                case "SecureRandom" -> new VorlenRandom(owner);
                case "KeyPairGenerator" -> new VorlenKeyPairGenerator(owner, VorlenKeyPairGenerator.Kind.of(getAlgorithm()));
                default -> throw new NoSuchAlgorithmException(getType() + "." + getAlgorithm());
            };
        }

        /** Signatures: a private key of this provider's token, or a public key of the algorithm's kind. */
        @Override
        public boolean supportsParameter(Object parameter) {
            return switch (getType()) {
                case "Signature" -> VorlenSignature.accepts(owner, kind, parameter);
                default -> super.supportsParameter(parameter);
            };
        }
    }

    @Override
    public String toString() {
        Token t = token;
        return NAME + " provider, " + (t == null ? "not configured" : tokenText);
    }

    /**
     * Runs work with a key of this token on a session of the pool. When the token no longer
     * knows the key's handle ({@code CKR_OBJECT_HANDLE_INVALID}, {@code CKR_KEY_HANDLE_INVALID}:
     * SoftHSM2 forgets handles when all sessions close), the key is found again by class, key
     * type, {@code CKA_ID} and {@code CKA_LABEL} (exactly one object, of the same curve), kept
     * under its new handle, and the work runs once more.
     */
    <R> R withKey(TokenKey key, BiFunction<Session, KeyObject, R> work) {
        return token().withSession(false, s -> {
            KeyObject current = key.object();
            try {
                return work.apply(s, current);
            } catch (TokenException e) {
                if (e.code() != CKR_OBJECT_HANDLE_INVALID && e.code() != CKR_KEY_HANDLE_INVALID) {
                    throw e;
                }
                KeyObject fresh = findAgain(s, current, e);
                key.object(fresh);
                return work.apply(s, fresh);
            }
        });
    }

    static KeyObject findAgain(Session s, KeyObject old, TokenException failure) {
        if (old.id() == null && old.label() == null) {
            throw failure;
        }
        Template template = Template.of(Attr.CLASS, old.objectClass()).with(Attr.KEY_TYPE, old.keyType());
        if (old.id() != null) {
            template = template.with(Attr.ID, old.id());
        }
        if (old.label() != null) {
            template = template.with(Attr.LABEL, old.label());
        }
        List<TokenObject> found = s.find(template);
        if (found.size() != 1 || !(found.get(0) instanceof KeyObject fresh) || fresh.curve() != old.curve()) {
            failure.addSuppressed(new IllegalStateException(old + " is not on the token once under a new handle: "
                    + found.size() + " objects match " + template));
            throw failure;
        }
        return fresh;
    }

}
