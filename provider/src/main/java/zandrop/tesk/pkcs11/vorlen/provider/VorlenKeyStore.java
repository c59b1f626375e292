package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKC_X_509;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_AES;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_EC;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_EC_EDWARDS;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_RSA;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKO_CERTIFICATE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKO_PRIVATE_KEY;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKO_SECRET_KEY;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKO_PUBLIC_KEY;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_OBJECT_HANDLE_INVALID;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_PIN_INCORRECT;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.math.BigInteger;
import java.security.Key;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.KeyStoreSpi;
import java.security.NoSuchAlgorithmException;
import java.security.UnrecoverableEntryException;
import java.security.UnrecoverableKeyException;
import java.security.cert.Certificate;
import java.security.cert.X509Certificate;
import java.security.interfaces.ECKey;
import java.security.interfaces.EdECKey;
import java.security.interfaces.RSAKey;
import java.security.spec.NamedParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.Date;
import java.util.Enumeration;
import java.util.HashMap;
import java.util.HashSet;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;

import javax.crypto.SecretKey;
import javax.security.auth.callback.Callback;
import javax.security.auth.callback.PasswordCallback;
import javax.security.auth.callback.UnsupportedCallbackException;

import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.CertificateObject;
import zandrop.tesk.pkcs11.vorlen.token.Curve;
import zandrop.tesk.pkcs11.vorlen.token.JdkFormats.ImportOptions;
import zandrop.tesk.pkcs11.vorlen.token.KeyObject;
import zandrop.tesk.pkcs11.vorlen.token.PinSource;
import zandrop.tesk.pkcs11.vorlen.token.Session;
import zandrop.tesk.pkcs11.vorlen.token.Template;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;
import zandrop.tesk.pkcs11.vorlen.token.TokenObject;

/**
 * The token as a {@code KeyStore} of type {@code PKCS11}.
 *
 * <p>{@code load(null, pin)} logs in with the PIN (also {@code load(LoadStoreParameter)} with a
 * {@code PasswordProtection}, or a {@code CallbackHandlerProtection} asked with a
 * {@code PasswordCallback}); {@code load(null, null)} uses the login of the configuration's
 * {@code pin-value}/{@code pin-source}, or none (then only public objects show). Loading reads
 * the entries, which stay as read until the next load:
 * <ul>
 * <li>a private key (RSA, EC of a named curve, EdDSA) is a key entry, its certificate the X.509
 *     certificate with the same non-empty {@code CKA_ID}, and its chain that certificate with
 *     the issuers found among the token's certificates;</li>
 * <li>an AES secret key is a secret key entry ({@link VorlenSecretKey});</li>
 * <li>every other X.509 certificate is a trusted certificate entry.</li>
 * </ul>
 * <p>Aliases: the {@code CKA_LABEL} of the key (a private key without one: of its certificate); without a
 * label, the {@code CKA_ID} in lower-case hex; without either, {@code handle-N}. Where entries
 * would share an alias, each of them gets the suffix {@code /} and its {@code CKA_ID} in hex,
 * and where that still is not unique, {@code /} and a number counted from 1 in the token's
 * order.
 *
 * <p>A PIN given to {@code load} is always checked by the token: when the application is logged
 * in already (where the token would not look at the PIN), the login is ended and made again
 * with it; a PIN the token refuses fails the load with an {@code IOException} whose cause is an
 * {@code UnrecoverableKeyException} (itself caused by the token's error), and the earlier
 * login is restored where its PIN is known.
 *
 * <p>Keys are handles ({@link VorlenPrivateKey}): the key password of {@code getKey} is ignored.
 * {@code setKeyEntry}, {@code setCertificateEntry} and {@code deleteEntry} write to the token
 * at once (see there); an alias of a new entry becomes its {@code CKA_LABEL}, so it names the
 * entry again after the next load. {@code store(null, ...)} does nothing (the token keeps its
 * objects). Creation dates are unknown: {@code getCreationDate} returns null.
 */
final class VorlenKeyStore extends KeyStoreSpi {
    private final VorlenProvider provider;
    private Map<String, Entry> entries = Collections.emptyMap();

    /**
     * One entry: a private key with its chain (maybe none), a secret key, or a trusted
     * certificate; with the token object it stands for (the key, or the certificate).
     */
    private record Entry(Key key, X509Certificate[] chain, X509Certificate certificate, TokenObject object) {
        boolean isKey() {
            return key != null;
        }
    }

    VorlenKeyStore(VorlenProvider provider) {
        this.provider = provider;
    }

    // ---- loading ----

    @Override
    public void engineLoad(InputStream stream, char[] password) throws IOException {
        if (stream != null) {
            throw new IOException("a PKCS11 key store is the token itself: load(null, pin), not from a stream");
        }
        if (password != null) {
            login(PinSource.of(password));
        }
        read();
    }

    @Override
    public void engineLoad(KeyStore.LoadStoreParameter parameter) throws IOException, NoSuchAlgorithmException {
        if (parameter == null) {
            engineLoad(null, null);
            return;
        }
        KeyStore.ProtectionParameter protection = parameter.getProtectionParameter();
        if (protection instanceof KeyStore.PasswordProtection p) {
            engineLoad(null, p.getPassword());
        } else if (protection instanceof KeyStore.CallbackHandlerProtection c) {
            PasswordCallback callback = new PasswordCallback("PIN of " + provider.token() + ": ", false);
            try {
                c.getCallbackHandler().handle(new Callback[] {callback});
            } catch (UnsupportedCallbackException e) {
                throw new IOException("the callback handler gave no PIN: " + e.getMessage(), e);
            }
            char[] pin = callback.getPassword();
            callback.clearPassword();
            if (pin == null) {
                throw new IOException("the callback handler gave no PIN");
            }
            try {
                engineLoad(null, pin);
            } finally {
                Arrays.fill(pin, '\0');
            }
        } else if (protection == null) {
            engineLoad(null, null);
        } else {
            throw new NoSuchAlgorithmException("a PKCS11 key store takes a PasswordProtection or a CallbackHandlerProtection,"
                    + " not " + protection.getClass().getName());
        }
    }

    private void login(PinSource pin) throws IOException {
        try {
            provider.token().loginChecked(pin);
        } catch (TokenException e) {
            if (e.code() == CKR_PIN_INCORRECT) {
                UnrecoverableKeyException wrong = new UnrecoverableKeyException("the PIN is incorrect: " + e.getMessage());
                wrong.initCause(e);
                throw new IOException("login to " + provider.token() + " failed: the PIN is incorrect", wrong);
            }
            throw new IOException("login to " + provider.token() + " failed: " + e.getMessage(), e);
        }
    }

    private void read() throws IOException {
        try {
            entries = provider.token().withSession(false, this::read);
        } catch (TokenException e) {
            throw new IOException("reading the objects of " + provider.token() + " failed: " + e.getMessage(), e);
        }
    }

    private Map<String, Entry> read(Session s) {
        List<TokenObject> keyObjects = s.find(Template.of(Attr.CLASS, CKO_PRIVATE_KEY));
        List<TokenObject> certObjects = s.find(Template.of(Attr.CLASS, CKO_CERTIFICATE).with(Attr.CERTIFICATE_TYPE, CKC_X_509));
        List<CertificateObject> certs = new ArrayList<>();
        List<X509Certificate> values = new ArrayList<>();
        for (TokenObject o : certObjects) {
            try {
                values.add(s.certificate((CertificateObject) o));
                certs.add((CertificateObject) o);
            } catch (IllegalArgumentException e) {
                // a value the JDK cannot read is no entry
            }
        }
        List<String> names = new ArrayList<>();
        List<byte[]> ids = new ArrayList<>();
        List<Entry> found = new ArrayList<>();
        boolean[] paired = new boolean[certs.size()];
        for (TokenObject o : keyObjects) {
            KeyObject k = (KeyObject) o;
            int c = certificateOf(k.id(), certs);
            X509Certificate cert = c < 0 ? null : values.get(c);
            VorlenPrivateKey key = key(s, k, cert);
            if (key == null) {
                continue;
            }
            if (c >= 0) {
                paired[c] = true;
            }
            found.add(new Entry(key, cert == null ? null : chain(cert, values), cert, k));
            names.add(k.label() != null && !k.label().isEmpty() ? k.label() : c >= 0 ? certs.get(c).label() : null);
            ids.add(k.id());
            handles(names, k);
        }
        for (TokenObject o : s.find(Template.of(Attr.CLASS, CKO_SECRET_KEY).with(Attr.KEY_TYPE, CKK_AES))) {
            found.add(new Entry(new VorlenSecretKey(provider, (KeyObject) o, "AES"), null, null, o));
            names.add(o.label());
            ids.add(o.id());
            handles(names, o);
        }
        for (int i = 0; i < certs.size(); i++) {
            if (!paired[i]) {
                found.add(new Entry(null, null, values.get(i), certs.get(i)));
                names.add(certs.get(i).label());
                ids.add(certs.get(i).id());
                handles(names, certs.get(i));
            }
        }
        return aliases(names, ids, found);
    }

    /** A missing name becomes the hex id, else handle-N. */
    private static void handles(List<String> names, TokenObject o) {
        int last = names.size() - 1;
        String name = names.get(last);
        if (name == null || name.isEmpty()) {
            byte[] id = o.id();
            names.set(last, id != null && id.length > 0 ? HexFormat.of().formatHex(id) : "handle-" + o.handle());
        }
    }

    private static Map<String, Entry> aliases(List<String> names, List<byte[]> ids, List<Entry> found) {
        Map<String, Integer> count = new HashMap<>();
        for (String n : names) {
            count.merge(n, 1, Integer::sum);
        }
        Map<String, Entry> result = new TreeMap<>();
        Map<String, Integer> numbers = new HashMap<>();
        List<Integer> later = new ArrayList<>();
        for (int i = 0; i < found.size(); i++) {
            String n = names.get(i);
            if (count.get(n) == 1) {
                result.put(n, found.get(i));
            } else {
                later.add(i);
            }
        }
        for (int i : later) {
            byte[] id = ids.get(i);
            String withId = names.get(i) + "/" + (id == null ? "" : HexFormat.of().formatHex(id));
            String alias = withId;
            if (result.containsKey(alias) || laterShares(later, names, ids, i)) {
                do {
                    alias = names.get(i) + "/" + numbers.merge(names.get(i), 1, Integer::sum);
                } while (result.containsKey(alias) || count.containsKey(alias));
            }
            result.put(alias, found.get(i));
        }
        return result;
    }

    /** Whether another colliding entry has the same name and id. */
    private static boolean laterShares(List<Integer> later, List<String> names, List<byte[]> ids, int i) {
        for (int j : later) {
            if (j != i && names.get(j).equals(names.get(i)) && Arrays.equals(ids.get(j), ids.get(i))) {
                return true;
            }
        }
        return false;
    }

    private static int certificateOf(byte[] id, List<CertificateObject> certs) {
        if (id == null || id.length == 0) {
            return -1;
        }
        for (int i = 0; i < certs.size(); i++) {
            if (Arrays.equals(id, certs.get(i).id())) {
                return i;
            }
        }
        return -1;
    }

    /** The certificate and its issuers among the token's certificates, up to a self-issued one. */
    private static X509Certificate[] chain(X509Certificate first, List<X509Certificate> all) {
        List<X509Certificate> chain = new ArrayList<>(List.of(first));
        X509Certificate current = first;
        while (chain.size() < 10 && !current.getIssuerX500Principal().equals(current.getSubjectX500Principal())) {
            X509Certificate issuer = null;
            for (X509Certificate c : all) {
                if (c.getSubjectX500Principal().equals(current.getIssuerX500Principal()) && !chain.contains(c)) {
                    try {
                        current.verify(c.getPublicKey());
                        issuer = c;
                        break;
                    } catch (java.security.GeneralSecurityException e) {
                        // same name, other key
                    }
                }
            }
            if (issuer == null) {
                break;
            }
            chain.add(issuer);
            current = issuer;
        }
        return chain.toArray(new X509Certificate[0]);
    }

    /** The handle key of a private key object; null for a kind this version does not offer. */
    private VorlenPrivateKey key(Session s, KeyObject k, X509Certificate cert) {
        long type = k.keyType();
        if (type == CKK_RSA) {
            BigInteger modulus = s.read(k, Attr.MODULUS).get(Attr.MODULUS).orElse(null);
            if (modulus == null && cert != null && cert.getPublicKey() instanceof RSAKey r) {
                modulus = r.getModulus();
            }
            return modulus == null ? null : new VorlenPrivateKey.Rsa(provider, k, modulus);
        }
        Curve curve = k.curve();
        if (type == CKK_EC && curve != null && curve.kind() == Curve.Kind.WEIERSTRASS) {
            return new VorlenPrivateKey.Ec(provider, k, curve.ecParameterSpec());
        }
        if (type == CKK_EC_EDWARDS && curve != null && curve.kind() == Curve.Kind.EDWARDS) {
            return new VorlenPrivateKey.EdEc(provider, k, curve == Curve.ED25519 ? NamedParameterSpec.ED25519 : NamedParameterSpec.ED448);
        }
        return null;
    }

    // ---- reading ----

    @Override
    public Key engineGetKey(String alias, char[] password) {
        Entry e = entries.get(alias);
        return e == null ? null : e.key();
    }

    @Override
    public Certificate[] engineGetCertificateChain(String alias) {
        Entry e = entries.get(alias);
        return e == null || e.chain() == null ? null : e.chain().clone();
    }

    @Override
    public Certificate engineGetCertificate(String alias) {
        Entry e = entries.get(alias);
        return e == null ? null : e.certificate();
    }

    @Override
    public Date engineGetCreationDate(String alias) {
        return null;
    }

    @Override
    public Enumeration<String> engineAliases() {
        return Collections.enumeration(new ArrayList<>(entries.keySet()));
    }

    @Override
    public boolean engineContainsAlias(String alias) {
        return entries.containsKey(alias);
    }

    @Override
    public int engineSize() {
        return entries.size();
    }

    @Override
    public boolean engineIsKeyEntry(String alias) {
        Entry e = entries.get(alias);
        return e != null && e.isKey();
    }

    @Override
    public boolean engineIsCertificateEntry(String alias) {
        Entry e = entries.get(alias);
        return e != null && !e.isKey();
    }

    @Override
    public String engineGetCertificateAlias(Certificate cert) {
        for (Map.Entry<String, Entry> e : entries.entrySet()) {
            if (cert != null && cert.equals(e.getValue().certificate())) {
                return e.getKey();
            }
        }
        return null;
    }

    /** A key entry with a chain is a {@code PrivateKeyEntry} whatever the protection (none for a token). */
    @Override
    public KeyStore.Entry engineGetEntry(String alias, KeyStore.ProtectionParameter protection)
            throws KeyStoreException, UnrecoverableEntryException {
        Entry e = entries.get(alias);
        if (e == null) {
            return null;
        }
        if (!e.isKey()) {
            return new KeyStore.TrustedCertificateEntry(e.certificate());
        }
        if (e.key() instanceof VorlenSecretKey secret) {
            return new KeyStore.SecretKeyEntry(secret);
        }
        if (e.chain() == null) {
            throw new KeyStoreException("the key " + alias + " has no certificate on the token (no X.509 certificate"
                    + " with its CKA_ID): use getKey");
        }
        return new KeyStore.PrivateKeyEntry((VorlenPrivateKey) e.key(), e.chain().clone());
    }

    @Override
    public boolean engineEntryInstanceOf(String alias, Class<? extends KeyStore.Entry> entryClass) {
        Entry e = entries.get(alias);
        if (e == null) {
            return false;
        }
        if (entryClass == KeyStore.PrivateKeyEntry.class) {
            return e.isKey() && e.chain() != null;
        }
        if (entryClass == KeyStore.SecretKeyEntry.class) {
            return e.key() instanceof VorlenSecretKey;
        }
        return entryClass == KeyStore.TrustedCertificateEntry.class && !e.isKey();
    }

    // ---- writing ----

    /**
     * Puts a key onto the token under the alias (its {@code CKA_LABEL}), replacing the entry the
     * alias names (the new objects are written first, the old ones then destroyed). The password
     * is not used: the token's login protects its keys.
     * <ul>
     * <li>A JDK private key (RSA, EC, EdDSA) with its chain: the key is imported sensitive and
     *     not extractable, beside its public key and the chain's first certificate, all three
     *     with the {@code CKA_ID} SHA-1 of the certificate's public key encoding; the chain's
     *     issuers not on the token yet are written as certificates without {@code CKA_ID},
     *     labelled alias{@code -issuer-}N.</li>
     * <li>A private key of this token (from the key store or the provider's
     *     {@code KeyPairGenerator}) with its chain: only the certificates are written; the key
     *     and its public key get the alias as label, and keep their {@code CKA_ID} (a key
     *     without one gets the SHA-1 above).</li>
     * <li>An AES secret key: imported sensitive and not extractable; one of this token gets the
     *     alias as label.</li>
     * </ul>
     * An alias that names no entry but is the shared label of several ({@code alias/...}) is
     * refused, as is a key already on the token under another alias.
     */
    @Override
    public void engineSetKeyEntry(String alias, Key key, char[] password, Certificate[] chain) throws KeyStoreException {
        if (alias == null || alias.isEmpty() || key == null) {
            throw new KeyStoreException("setKeyEntry needs an alias and a key");
        }
        if (key instanceof TokenKey t && t.provider() != provider) {
            throw new KeyStoreException(t + " belongs to " + t.provider() + ", not to " + provider);
        }
        X509Certificate[] certs = x509(chain);
        if (key instanceof PrivateKey) {
            if (certs.length == 0) {
                throw new KeyStoreException("a private key entry needs its certificate chain");
            }
            matches(key, certs[0]);
        } else if (!(key instanceof SecretKey) || !"AES".equalsIgnoreCase(key.getAlgorithm())) {
            throw new KeyStoreException("the PKCS11 key store takes private keys and AES secret keys, not " + key.getAlgorithm()
                    + " " + key.getClass().getName());
        }
        write("setKeyEntry", alias, (s, now) -> {
            Entry old = now.get(alias);
            List<TokenObject> replaced = old == null ? List.of() : objectsOf(s, old, now);
            Set<Long> kept = new HashSet<>();
            if (key instanceof TokenKey t) {
                KeyObject k = current(s, t.object());
                byte[] id = k.id() != null && k.id().length > 0 ? k.id() : certs.length > 0 ? idOf(certs[0]) : null;
                refuseOtherEntry(now, old, id, k);
                Template named = Template.of(Attr.LABEL, alias);
                if (id != null) {
                    named = named.with(Attr.ID, id);
                }
                s.set(k, named);
                kept.add(k.handle());
                if (k.id() != null && k.id().length > 0) {
                    for (TokenObject pub : s.find(Template.of(Attr.CLASS, CKO_PUBLIC_KEY).with(Attr.ID, k.id()))) {
                        s.set(pub, named);
                        kept.add(pub.handle());
                    }
                }
                if (certs.length > 0) {
                    kept.add(s.importObject(certs[0], ImportOptions.defaults().label(alias).id(id)).handle());
                }
            } else if (key instanceof PrivateKey) {
                byte[] id = idOf(certs[0]);
                refuseOtherEntry(now, old, id, null);
                ImportOptions options = ImportOptions.defaults().label(alias).id(id);
                kept.add(s.importObject(key, options).handle());
                kept.add(s.importObject(certs[0].getPublicKey(), options).handle());
                kept.add(s.importObject(certs[0], options).handle());
            } else {
                byte[] value = key.getEncoded();
                if (value == null) {
                    throw new Refused("the AES key gives no value to import");
                }
                try {
                    kept.add(s.create(Template.of(Attr.CLASS, CKO_SECRET_KEY).with(Attr.KEY_TYPE, CKK_AES)
                            .with(Attr.VALUE, value).with(Attr.TOKEN, true).with(Attr.PRIVATE, true)
                            .with(Attr.SENSITIVE, true).with(Attr.EXTRACTABLE, false).with(Attr.LABEL, alias)
                            .with(Attr.ENCRYPT, true).with(Attr.DECRYPT, true).with(Attr.WRAP, true)
                            .with(Attr.UNWRAP, true)).handle());
                } finally {
                    Arrays.fill(value, (byte) 0);
                }
            }
            writeIssuers(s, alias, certs, now);
            destroy(s, replaced, kept);
        });
    }

    @Override
    public void engineSetKeyEntry(String alias, byte[] key, Certificate[] chain) throws KeyStoreException {
        throw new KeyStoreException("the PKCS11 key store does not take protected key bytes: give the key");
    }

    /**
     * Writes a trusted certificate under the alias (its {@code CKA_LABEL}, no {@code CKA_ID}),
     * replacing the trusted certificate the alias names; an alias of a key entry is refused.
     */
    @Override
    public void engineSetCertificateEntry(String alias, Certificate cert) throws KeyStoreException {
        if (alias == null || alias.isEmpty() || cert == null) {
            throw new KeyStoreException("setCertificateEntry needs an alias and a certificate");
        }
        X509Certificate x509 = x509(new Certificate[] {cert})[0];
        write("setCertificateEntry", alias, (s, now) -> {
            Entry old = now.get(alias);
            if (old != null && old.isKey()) {
                throw new Refused(alias + " is a key entry, not a trusted certificate entry");
            }
            TokenObject written = s.importObject(x509, ImportOptions.defaults().label(alias));
            destroy(s, old == null ? List.of() : List.of(old.object()), Set.of(written.handle()));
        });
    }

    /**
     * Destroys the entry's objects: the key, and for a private key also the certificates and
     * public keys with its {@code CKA_ID} (unless another key entry shares that id); a trusted
     * certificate. The issuers of a chain stay (other entries may share them). An unknown
     * alias is no error.
     */
    @Override
    public void engineDeleteEntry(String alias) throws KeyStoreException {
        write("deleteEntry", alias, (s, now) -> {
            Entry old = now.get(alias);
            if (old != null) {
                destroy(s, objectsOf(s, old, now), Set.of());
            }
        });
    }

    /** A refusal found while writing, thrown on as a {@code KeyStoreException}. */
    private static final class Refused extends RuntimeException {
        private static final long serialVersionUID = 1L;

        Refused(String message) {
            super(message);
        }
    }

    private interface Writing {
        void run(Session s, Map<String, Entry> now);
    }

    /**
     * Runs a change on a read-write session, with the entries as the token holds them now, and
     * reads the entries again.
     */
    private void write(String what, String alias, Writing change) throws KeyStoreException {
        try {
            entries = provider.token().withSession(true, s -> {
                Map<String, Entry> now = read(s);
                if (!now.containsKey(alias) && now.keySet().stream().anyMatch(a -> a.startsWith(alias + "/"))) {
                    throw new Refused("the alias " + alias + " is the label of several entries (" + alias
                            + "/...): give another, or delete those");
                }
                change.run(s, now);
                return read(s);
            });
        } catch (Refused e) {
            throw new KeyStoreException(what + "(" + alias + "): " + e.getMessage());
        } catch (TokenException | IllegalArgumentException e) {
            KeyStoreException k = new KeyStoreException(what + "(" + alias + ") on " + provider.token() + " failed: "
                    + e.getMessage());
            k.initCause(e);
            throw k;
        }
    }

    /** The key object as the session sees it: found again when the token forgot its handle. */
    private static KeyObject current(Session s, KeyObject k) {
        try {
            s.read(k, Attr.CLASS);
            return k;
        } catch (TokenException e) {
            if (e.code() != CKR_OBJECT_HANDLE_INVALID) {
                throw e;
            }
            return VorlenProvider.findAgain(s, k, e);
        }
    }

    /** Refuses a key whose CKA_ID is an entry's other than the one replaced (or the key's own). */
    private static void refuseOtherEntry(Map<String, Entry> now, Entry replaced, byte[] id, KeyObject self) {
        for (Map.Entry<String, Entry> e : now.entrySet()) {
            Entry other = e.getValue();
            if (other != replaced && other.key() instanceof VorlenPrivateKey && id != null
                    && Arrays.equals(id, other.object().id()) && (self == null || other.object().handle() != self.handle())) {
                throw new Refused("the key is on the token already (CKA_ID " + HexFormat.of().formatHex(id)
                        + "), as the entry " + e.getKey());
            }
        }
    }

    /** The objects of an entry, as {@link #engineDeleteEntry} describes. */
    private static List<TokenObject> objectsOf(Session s, Entry entry, Map<String, Entry> now) {
        List<TokenObject> objects = new ArrayList<>(List.of(entry.object()));
        byte[] id = entry.object().id();
        if (entry.key() instanceof VorlenPrivateKey && id != null && id.length > 0 && now.values().stream()
                .noneMatch(e -> e != entry && e.isKey() && Arrays.equals(id, e.object().id()))) {
            objects.addAll(s.find(Template.of(Attr.CLASS, CKO_CERTIFICATE).with(Attr.ID, id)));
            objects.addAll(s.find(Template.of(Attr.CLASS, CKO_PUBLIC_KEY).with(Attr.ID, id)));
        }
        return objects;
    }

    private static void destroy(Session s, List<TokenObject> objects, Set<Long> kept) {
        for (TokenObject o : objects) {
            if (!kept.contains(o.handle())) {
                s.destroy(o);
            }
        }
    }

    /** Writes the chain's issuers that no certificate of the token equals. */
    private static void writeIssuers(Session s, String alias, X509Certificate[] certs, Map<String, Entry> now) {
        List<X509Certificate> onToken = new ArrayList<>();
        for (Entry e : now.values()) {
            if (e.chain() != null) {
                onToken.addAll(Arrays.asList(e.chain()));
            } else if (e.certificate() != null) {
                onToken.add(e.certificate());
            }
        }
        for (int i = 1; i < certs.length; i++) {
            if (!onToken.contains(certs[i])) {
                s.importObject(certs[i], ImportOptions.defaults().label(alias + "-issuer-" + i));
                onToken.add(certs[i]);
            }
        }
    }

    private static X509Certificate[] x509(Certificate[] chain) throws KeyStoreException {
        if (chain == null) {
            return new X509Certificate[0];
        }
        X509Certificate[] certs = new X509Certificate[chain.length];
        for (int i = 0; i < chain.length; i++) {
            if (!(chain[i] instanceof X509Certificate x)) {
                throw new KeyStoreException("the PKCS11 key store takes X.509 certificates, not "
                        + (chain[i] == null ? "null" : chain[i].getType()));
            }
            certs[i] = x;
        }
        return certs;
    }

    /** Refuses a certificate whose public key is plainly not the key's (kind, RSA modulus, curve). */
    private static void matches(Key key, X509Certificate cert) throws KeyStoreException {
        PublicKey pub = cert.getPublicKey();
        boolean same;
        if (key instanceof RSAKey r) {
            same = pub instanceof RSAKey p && p.getModulus().equals(r.getModulus());
        } else if (key instanceof ECKey e) {
            same = pub instanceof ECKey p && p.getParams().getCurve().equals(e.getParams().getCurve());
        } else if (key instanceof EdECKey e) {
            same = pub instanceof EdECKey p && p.getParams().getName().equalsIgnoreCase(e.getParams().getName());
        } else {
            throw new KeyStoreException("the PKCS11 key store takes RSA, EC and EdDSA private keys, not " + key.getAlgorithm());
        }
        if (!same) {
            throw new KeyStoreException("the certificate's public key (" + pub.getAlgorithm() + ") is not the "
                    + key.getAlgorithm() + " key's");
        }
    }

    /** The CKA_ID of a new key entry: SHA-1 of the certificate's public key encoding. */
    private static byte[] idOf(X509Certificate cert) {
        try {
            return MessageDigest.getInstance("SHA-1").digest(cert.getPublicKey().getEncoded());
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("SHA-1 is missing from this JDK", e);
        }
    }

    /** Nothing to write: the token keeps its objects. A stream is refused. */
    @Override
    public void engineStore(OutputStream stream, char[] password) throws IOException {
        if (stream != null) {
            throw new IOException("a PKCS11 key store is the token itself: store(null, null), not to a stream");
        }
    }

    @Override
    public String toString() {
        return "Vorlen KeyStore PKCS11 of " + provider + ", " + entries.size() + " entries";
    }
}
