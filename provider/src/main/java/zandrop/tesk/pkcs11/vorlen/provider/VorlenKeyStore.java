package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKC_X_509;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_AES;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_EC;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_EC_EDWARDS;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_RSA;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKO_CERTIFICATE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKO_PRIVATE_KEY;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKO_SECRET_KEY;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_PIN_INCORRECT;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.math.BigInteger;
import java.security.Key;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.KeyStoreSpi;
import java.security.NoSuchAlgorithmException;
import java.security.UnrecoverableEntryException;
import java.security.UnrecoverableKeyException;
import java.security.cert.Certificate;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAKey;
import java.security.spec.NamedParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.Date;
import java.util.Enumeration;
import java.util.HashMap;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

import javax.security.auth.callback.Callback;
import javax.security.auth.callback.PasswordCallback;
import javax.security.auth.callback.UnsupportedCallbackException;

import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.CertificateObject;
import zandrop.tesk.pkcs11.vorlen.token.Curve;
import zandrop.tesk.pkcs11.vorlen.token.KeyObject;
import zandrop.tesk.pkcs11.vorlen.token.PinSource;
import zandrop.tesk.pkcs11.vorlen.token.Session;
import zandrop.tesk.pkcs11.vorlen.token.Template;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;
import zandrop.tesk.pkcs11.vorlen.token.TokenObject;

/**
 * The token as a {@code KeyStore} of type {@code PKCS11}, read-only in this version.
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
 * <p>Keys are handles ({@link VorlenPrivateKey}): the key password of {@code getKey} is ignored.
 * Writing ({@code setKeyEntry}, {@code setCertificateEntry}, {@code deleteEntry}) is not offered
 * yet and throws {@link KeyStoreException}; {@code store(null, ...)} does nothing (the token
 * keeps its objects). Creation dates are unknown: {@code getCreationDate} returns null.
 */
final class VorlenKeyStore extends KeyStoreSpi {
    private final VorlenProvider provider;
    private Map<String, Entry> entries = Collections.emptyMap();

    /** One entry: a private key with its chain (maybe none), or a certificate. */
    private record Entry(Key key, X509Certificate[] chain, X509Certificate certificate) {
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
            login(() -> {
                PasswordCallback callback = new PasswordCallback("PIN of " + provider.token() + ": ", false);
                try {
                    c.getCallbackHandler().handle(new Callback[] {callback});
                } catch (IOException | UnsupportedCallbackException e) {
                    throw new IllegalStateException("the callback handler gave no PIN: " + e.getMessage(), e);
                }
                char[] pin = callback.getPassword();
                callback.clearPassword();
                if (pin == null) {
                    throw new IllegalStateException("the callback handler gave no PIN");
                }
                return pin;
            });
            read();
        } else if (protection == null) {
            engineLoad(null, null);
        } else {
            throw new NoSuchAlgorithmException("a PKCS11 key store takes a PasswordProtection or a CallbackHandlerProtection,"
                    + " not " + protection.getClass().getName());
        }
    }

    private void login(PinSource pin) throws IOException {
        try {
            provider.token().login(pin);
        } catch (TokenException e) {
            if (e.code() == CKR_PIN_INCORRECT) {
                UnrecoverableKeyException wrong = new UnrecoverableKeyException("the PIN is incorrect: " + e.getMessage());
                wrong.initCause(e);
                throw new IOException("login to " + provider.token() + " failed: the PIN is incorrect", wrong);
            }
            throw new IOException("login to " + provider.token() + " failed: " + e.getMessage(), e);
        } catch (IllegalStateException e) {
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
            found.add(new Entry(key, cert == null ? null : chain(cert, values), cert));
            names.add(k.label() != null && !k.label().isEmpty() ? k.label() : c >= 0 ? certs.get(c).label() : null);
            ids.add(k.id());
            handles(names, k);
        }
        for (TokenObject o : s.find(Template.of(Attr.CLASS, CKO_SECRET_KEY).with(Attr.KEY_TYPE, CKK_AES))) {
            found.add(new Entry(new VorlenSecretKey(provider, (KeyObject) o, "AES"), null, null));
            names.add(o.label());
            ids.add(o.id());
            handles(names, o);
        }
        for (int i = 0; i < certs.size(); i++) {
            if (!paired[i]) {
                found.add(new Entry(null, null, values.get(i)));
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

    // ---- writing: not offered yet ----

    @Override
    public void engineSetKeyEntry(String alias, Key key, char[] password, Certificate[] chain) throws KeyStoreException {
        throw notYet("setKeyEntry");
    }

    @Override
    public void engineSetKeyEntry(String alias, byte[] key, Certificate[] chain) throws KeyStoreException {
        throw notYet("setKeyEntry");
    }

    @Override
    public void engineSetCertificateEntry(String alias, Certificate cert) throws KeyStoreException {
        throw notYet("setCertificateEntry");
    }

    @Override
    public void engineDeleteEntry(String alias) throws KeyStoreException {
        throw notYet("deleteEntry");
    }

    private static KeyStoreException notYet(String what) {
        return new KeyStoreException(what + " is not offered by this version of the Vorlen key store: it reads the token only");
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
