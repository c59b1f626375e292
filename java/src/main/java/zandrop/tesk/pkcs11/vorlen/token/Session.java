package zandrop.tesk.pkcs11.vorlen.token;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.UncheckedIOException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.NoSuchElementException;
import java.util.Spliterator;
import java.util.Spliterators;
import java.util.function.Consumer;
import java.util.stream.Stream;
import java.util.stream.StreamSupport;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.CK_SESSION_INFO;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Exception;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

/**
 * A session with a token, closed by {@link #close()}: a session of a {@link SessionPool} goes
 * back to its pool, any other is closed on the module. Every operation runs to its end in one
 * call, so no operation stays active on the session afterwards; one that was left active all
 * the same (an input stream that failed mid-way, a search stream not closed) makes
 * {@code close()} end it, or close the session rather than hand it back to the pool.
 *
 * <p>A session serves one thread at a time; it may be handed from one thread to another.
 * Errors of the module are {@link TokenException}s naming the function, the mechanism and the
 * object.
 */
public final class Session implements AutoCloseable {
    private static final int STREAM_CHUNK = 64 * 1024;
    private static final int FIND_BATCH = 64;

    private final Token token;
    private final PKCS11Impl pkcs11;
    private final long handle;
    private final int generation;    // the module's, when the session was opened
    private final boolean readWrite;
    private final SessionPool pool;  // null for a session of its own
    private boolean broken;          // the module no longer knows the session
    private boolean active;          // an operation may be active
    private boolean searching;       // a search is active
    private boolean spoiled;         // a search that could not be ended: not reused
    private boolean closed;

    Session(Token token, int generation, long handle, boolean readWrite, SessionPool pool) {
        this.token = token;
        this.pkcs11 = token.pkcs11();
        this.handle = handle;
        this.generation = generation;
        this.readWrite = readWrite;
        this.pool = pool;
    }

    /** A call of the module that may fail with its error. */
    @FunctionalInterface
    private interface ModuleCall<R> {
        R call() throws PKCS11Exception;
    }

    private <R> R call(String function, Object subject, ModuleCall<R> call) {
        checkOpen();
        if (stale()) {
            // The module was initialised again: the handle may name another session now.
            broken = true;
            throw new TokenException(function, String.valueOf(subject), new PKCS11Exception(CKR_SESSION_HANDLE_INVALID));
        }
        try {
            return call.call();
        } catch (PKCS11Exception e) {
            failed(e.getErrorCode());
            throw new TokenException(function, String.valueOf(subject), e);
        }
    }

    /** Notes an error that means the session, or every session of the token, is gone. */
    private void failed(long code) {
        if (Token.isSessionLost(code)) {
            broken = true;
            token.sessionsLost();
        }
    }

    /** Whether the module was initialised again since this session was opened. */
    private boolean stale() {
        return generation != token.generation();
    }

    int generation() {
        return generation;
    }

    private void checkOpen() {
        if (closed) {
            throw new IllegalStateException("the session " + handle + " is closed");
        }
    }

    private static Object subject(Mechanism mechanism, TokenObject key) {
        // Named only when a call fails: the text costs more than a fast module's signature.
        return new Object() {
            @Override
            public String toString() {
                return key == null ? mechanism.toString() : mechanism + ", " + key.describe();
            }
        };
    }

    /**
     * Returns the session's handle, for the raw API.
     *
     * @return the {@code CK_SESSION_HANDLE}
     */
    public long handle() {
        return handle;
    }

    /**
     * Returns the token.
     *
     * @return the token of this session
     */
    public Token token() {
        return token;
    }

    /**
     * Whether the session is read-write.
     *
     * @return true for a read-write session
     */
    public boolean isReadWrite() {
        return readWrite;
    }

    /**
     * Reads the session's information.
     *
     * @return the record, with the state such as {@code CKS_RW_USER_FUNCTIONS}
     */
    public CK_SESSION_INFO info() {
        return call("C_GetSessionInfo", "session " + handle, () -> pkcs11.C_GetSessionInfo(handle));
    }

    // ---- Objects ----

    /**
     * Finds the objects that match a template, with their views. The search is ended
     * ({@code C_FindObjectsFinal}) also when it fails.
     *
     * @param template the attributes to match; {@link Template#empty()} for every object
     * @return the objects found
     */
    public List<TokenObject> find(Template template) {
        long[] handles = findHandles(template);
        List<TokenObject> found = new ArrayList<>(handles.length);
        for (long h : handles) {
            found.add(view(h));
        }
        return found;
    }

    /**
     * Finds the objects that a PKCS#11 URI selects by {@code object}, {@code id} and
     * {@code type}; its other attributes select the token, not objects.
     *
     * @param uri the URI
     * @return the objects found
     */
    public List<TokenObject> find(Pkcs11Uri uri) {
        Template template = Template.empty();
        if (uri.object() != null) {
            template = template.with(Attr.LABEL, uri.object());
        }
        if (uri.id() != null) {
            template = template.with(Attr.ID, uri.id());
        }
        if (uri.objectClass() != null) {
            template = template.with(Attr.CLASS, uri.objectClass());
        }
        return find(template);
    }

    /**
     * Returns an object's PKCS#11 URI: the token's, with the object's label, id and type.
     *
     * @param object the object
     * @return the URI
     */
    public Pkcs11Uri uri(TokenObject object) {
        return token.uri().withObject(object.objectClass(), object.label(), object.id());
    }

    /**
     * Finds the handles of the objects that match a template.
     *
     * @param template the attributes to match
     * @return the handles
     */
    public long[] findHandles(Template template) {
        startSearch(template);
        long[] all = new long[0];
        Throwable failure = null;
        try {
            while (true) {
                long[] batch = call("C_FindObjects", template.toString(), () -> pkcs11.C_FindObjects(handle, FIND_BATCH));
                if (batch.length == 0) {
                    break;
                }
                all = Arrays.copyOf(all, all.length + batch.length);
                System.arraycopy(batch, 0, all, all.length - batch.length, batch.length);
                if (batch.length > FIND_BATCH) {
                    throw new IllegalStateException("C_FindObjects reported " + batch.length + " handles for at most "
                            + FIND_BATCH);
                }
            }
        } catch (RuntimeException | Error e) {
            failure = e;
            throw e;
        } finally {
            endSearch(template, failure);
        }
        return all;
    }

    /**
     * Finds the objects that match a template, as a stream read from the module while it is
     * consumed. Close the stream (try-with-resources) to end the search early; the search ends
     * also when the stream is consumed to its end, and when the session is closed.
     *
     * @param template the attributes to match
     * @return the objects, one by one
     */
    public Stream<TokenObject> stream(Template template) {
        startSearch(template);
        Spliterator<TokenObject> spliterator = new Spliterators.AbstractSpliterator<>(Long.MAX_VALUE,
                Spliterator.ORDERED | Spliterator.NONNULL) {
            private long[] batch = new long[0];
            private int next;
            private boolean done;

            @Override
            public boolean tryAdvance(Consumer<? super TokenObject> action) {
                if (done) {
                    return false;
                }
                if (next == batch.length) {
                    batch = call("C_FindObjects", template.toString(), () -> pkcs11.C_FindObjects(handle, FIND_BATCH));
                    next = 0;
                    if (batch.length == 0) {
                        done = true;
                        endSearch(template, null);
                        return false;
                    }
                }
                // C_GetAttributeValue is no operation: it may run while the search is active.
                action.accept(view(batch[next++]));
                return true;
            }
        };
        return StreamSupport.stream(spliterator, false).onClose(() -> {
            if (searching && !closed) {
                endSearch(template, null);
            }
        });
    }

    /**
     * Finds the one object that matches a template.
     *
     * @param template the attributes to match
     * @return the object
     * @throws NoSuchElementException if none or more than one matches
     */
    public TokenObject findOne(Template template) {
        long[] handles = findHandles(template);
        if (handles.length != 1) {
            throw new NoSuchElementException((handles.length == 0 ? "no object" : handles.length + " objects")
                    + " of " + token + " match " + template);
        }
        return view(handles[0]);
    }

    /**
     * Finds the one key that matches a template.
     *
     * @param template the attributes to match
     * @return the key
     * @throws NoSuchElementException if none or more than one object matches, or it is no key
     */
    public KeyObject findKey(Template template) {
        TokenObject o = findOne(template);
        if (o instanceof KeyObject k) {
            return k;
        }
        throw new NoSuchElementException(o + " matches " + template + " but is no key");
    }

    private void startSearch(Template template) {
        CK_ATTRIBUTE[] attributes = template.toAttributes();
        call("C_FindObjectsInit", template.toString(), () -> {
            pkcs11.C_FindObjectsInit(handle, attributes);
            return null;
        });
        searching = true;
    }

    private void endSearch(Template template, Throwable failure) {
        try {
            call("C_FindObjectsFinal", template.toString(), () -> {
                pkcs11.C_FindObjectsFinal(handle);
                return null;
            });
            searching = false;
        } catch (RuntimeException e) {
            spoiled = true;  // the search may still be active: the session is not used again
            if (failure == null) {
                throw e;
            }
            failure.addSuppressed(e);
        }
    }

    /**
     * Reads the view of an object by its handle.
     *
     * @param handle the object's handle
     * @return the view that fits its class
     */
    public TokenObject view(long handle) {
        return TokenObject.of(handle, read(handle, TokenObject.VIEW));
    }

    /**
     * Reads attributes of an object leniently, in one call of this library: every value the
     * module can report is read, each one it cannot is marked with the reason.
     *
     * @param object the object
     * @param attrs the attributes to read
     * @return the values and outcomes
     */
    public AttributeValues read(TokenObject object, Attr<?>... attrs) {
        return read(object.handle(), attrs);
    }

    private AttributeValues read(long object, Attr<?>... attrs) {
        CK_ATTRIBUTE[] template = new CK_ATTRIBUTE[attrs.length];
        for (int i = 0; i < attrs.length; i++) {
            template[i] = new CK_ATTRIBUTE(attrs[i].type());
        }
        long[] outcomes = call("C_GetAttributeValue", "object " + object,
                () -> pkcs11.readAttributeValues(handle, object, template));
        return new AttributeValues(attrs, template, outcomes);
    }

    /**
     * Reads one attribute of an object.
     *
     * @param <T> the class of the value
     * @param object the object
     * @param attr the attribute
     * @return the value, or empty when the module cannot report it (or it is empty)
     */
    public <T> java.util.Optional<T> get(TokenObject object, Attr<T> attr) {
        return read(object.handle(), attr).get(attr);
    }

    /**
     * Changes attributes of an object.
     *
     * @param object the object
     * @param template the new values
     */
    public void set(TokenObject object, Template template) {
        CK_ATTRIBUTE[] attributes = template.toAttributes();
        call("C_SetAttributeValue", object.describe(), () -> {
            pkcs11.C_SetAttributeValue(handle, object.handle(), attributes);
            return null;
        });
    }

    /**
     * Creates an object.
     *
     * @param template its attributes
     * @return its view
     */
    public TokenObject create(Template template) {
        CK_ATTRIBUTE[] attributes = template.toAttributes();
        long h = call("C_CreateObject", template.toString(), () -> pkcs11.C_CreateObject(handle, attributes));
        return view(h);
    }

    /**
     * Destroys an object.
     *
     * @param object the object
     */
    public void destroy(TokenObject object) {
        call("C_DestroyObject", object.describe(), () -> {
            pkcs11.C_DestroyObject(handle, object.handle());
            return null;
        });
    }

    /**
     * Reads a public key (or the public half that a private key of some modules carries) as the
     * JDK's key: RSA from its modulus and exponent, EC, EdDSA and XDH from its curve and point.
     *
     * @param key the key
     * @return the JDK's public key
     * @throws IllegalArgumentException if the key's values are not readable or not of a kind
     *     the JDK knows
     */
    public java.security.PublicKey publicKey(KeyObject key) {
        if (key.keyType() == CKK_RSA) {
            AttributeValues v = read(key, Attr.MODULUS, Attr.PUBLIC_EXPONENT);
            return JdkFormats.rsaPublicKey(JdkFormats.unsigned(v.require(Attr.MODULUS)),
                    JdkFormats.unsigned(v.require(Attr.PUBLIC_EXPONENT)));
        }
        AttributeValues v = read(key, Attr.EC_PARAMS, Attr.EC_POINT);
        if (v.get(Attr.EC_POINT).isEmpty()) {
            throw new IllegalArgumentException(key.describe() + " shows no public value: " + v);
        }
        return JdkFormats.publicKey(v.require(Attr.EC_PARAMS), v.require(Attr.EC_POINT));
    }

    /**
     * Reads a certificate object as the JDK's certificate.
     *
     * @param certificate the object
     * @return the certificate of its {@code CKA_VALUE}
     */
    public java.security.cert.X509Certificate certificate(CertificateObject certificate) {
        return JdkFormats.certificate(read(certificate, Attr.VALUE).require(Attr.VALUE));
    }

    /**
     * Puts a JDK public key, private key or certificate onto the token.
     *
     * @param object a {@code PublicKey}, {@code PrivateKey} or {@code X509Certificate} of a
     *     kind {@link JdkFormats} converts
     * @param options label, id and the flags of the new object
     * @return the new object
     */
    public TokenObject importObject(Object object, JdkFormats.ImportOptions options) {
        CK_ATTRIBUTE[] template;
        if (object instanceof java.security.PublicKey k) {
            template = JdkFormats.publicKeyTemplate(k, options);
        } else if (object instanceof java.security.PrivateKey k) {
            template = JdkFormats.privateKeyTemplate(k, options);
        } else if (object instanceof java.security.cert.X509Certificate c) {
            template = JdkFormats.certificateTemplate(c, options);
        } else {
            throw new IllegalArgumentException("no key or certificate: " + object.getClass().getName());
        }
        long h = call("C_CreateObject", options.toString(), () -> pkcs11.C_CreateObject(handle, template));
        return view(h);
    }

    // ---- Signatures and MACs ----

    /**
     * Signs data, or computes a MAC. A hash-and-sign mechanism that the token lacks while it has
     * the plain one hashes the data on the host (see {@link Mechanism}).
     *
     * @param mechanism the mechanism
     * @param key the private or secret key
     * @param data the data
     * @return the signature or MAC (ECDSA: DER, or r‖s for {@link Mechanism#ecdsaP1363})
     */
    public byte[] sign(Mechanism mechanism, TokenObject key, byte[] data) {
        Mechanism m = hostHashed(mechanism);
        byte[] input = m == mechanism ? data : digestFor(mechanism, data);
        Object subject = subject(mechanism, key);
        call("C_SignInit", subject, () -> {
            pkcs11.C_SignInit(handle, m.toCk(), key.handle());
            return null;
        });
        byte[] signature = finish("C_Sign", subject, () -> pkcs11.C_Sign(handle, input));
        return mechanism.derSignature() ? JdkFormats.ecdsaToDer(signature, curveOf(key)) : signature;
    }

    /** The curve of an ECDSA key, for the DER form of its signatures. */
    private static Curve curveOf(TokenObject key) {
        Curve curve = key instanceof KeyObject k ? k.curve() : null;
        if (curve == null) {
            throw new IllegalArgumentException(key.describe() + " has no curve this library knows (CKA_EC_PARAMS);"
                    + " use Mechanism.ecdsaP1363 for r||s signatures");
        }
        return curve;
    }

    /**
     * Signs a stream of data, or computes its MAC, in parts.
     *
     * @param mechanism the mechanism (a combined one: the token hashes)
     * @param key the key
     * @param data the data, read to its end (not closed)
     * @return the signature or MAC
     * @throws UncheckedIOException if the stream fails; the session is then not reused
     */
    public byte[] sign(Mechanism mechanism, TokenObject key, InputStream data) {
        Object subject = subject(mechanism, key);
        call("C_SignInit", subject, () -> {
            pkcs11.C_SignInit(handle, mechanism.toCk(), key.handle());
            return null;
        });
        active = true;
        pump(data, part -> step("C_SignUpdate", subject, () -> {
            pkcs11.C_SignUpdate(handle, part);
            return null;
        }));
        byte[] signature = finish("C_SignFinal", subject, () -> pkcs11.C_SignFinal(handle));
        return mechanism.derSignature() ? JdkFormats.ecdsaToDer(signature, curveOf(key)) : signature;
    }

    /**
     * Verifies a signature or MAC.
     *
     * @param mechanism the mechanism
     * @param key the public or secret key
     * @param data the data
     * @param signature the signature (ECDSA: DER, or r‖s for {@link Mechanism#ecdsaP1363})
     * @return whether the signature is valid ({@code CKR_SIGNATURE_INVALID} and
     *     {@code CKR_SIGNATURE_LEN_RANGE} are false; other errors throw)
     */
    public boolean verify(Mechanism mechanism, TokenObject key, byte[] data, byte[] signature) {
        byte[] given = signature;
        if (mechanism.derSignature()) {
            try {
                given = JdkFormats.ecdsaFromDer(signature, curveOf(key));
            } catch (IllegalArgumentException e) {
                if (key instanceof KeyObject k && k.curve() != null) {
                    return false;  // no DER signature of this curve: invalid, as the module would say
                }
                throw e;
            }
        }
        byte[] raw = given;
        Mechanism m = hostHashed(mechanism);
        byte[] input = m == mechanism ? data : digestFor(mechanism, data);
        Object subject = subject(mechanism, key);
        call("C_VerifyInit", subject, () -> {
            pkcs11.C_VerifyInit(handle, m.toCk(), key.handle());
            return null;
        });
        try {
            finish("C_Verify", subject, () -> {
                pkcs11.C_Verify(handle, input, raw);
                return null;
            });
            return true;
        } catch (TokenException e) {
            if (e.code() == CKR_SIGNATURE_INVALID || e.code() == CKR_SIGNATURE_LEN_RANGE) {
                return false;
            }
            throw e;
        }
    }

    /** The plain mechanism when the token lacks a hash-and-sign one, else the mechanism itself. */
    private Mechanism hostHashed(Mechanism mechanism) {
        if (mechanism.hash() == null || token.supports(mechanism.type())) {
            return mechanism;
        }
        Mechanism plain = mechanism.plain();
        return token.supports(plain.type()) ? plain : mechanism;
    }

    private static byte[] digestFor(Mechanism mechanism, byte[] data) {
        byte[] digest = mechanism.hash().digest(data);
        return mechanism.plain().type() == CKM_RSA_PKCS ? mechanism.hash().digestInfo(digest) : digest;
    }

    // ---- Encryption, decryption, digests ----

    /**
     * Encrypts data in one part.
     *
     * @param mechanism the mechanism
     * @param key the key
     * @param data the plaintext
     * @return the ciphertext (AES-GCM: with the tag at its end)
     */
    public byte[] encrypt(Mechanism mechanism, TokenObject key, byte[] data) {
        Object subject = subject(mechanism, key);
        call("C_EncryptInit", subject, () -> {
            pkcs11.C_EncryptInit(handle, mechanism.toCk(), key.handle());
            return null;
        });
        return finish("C_Encrypt", subject, () -> pkcs11.C_Encrypt(handle, data));
    }

    /**
     * Decrypts data in one part.
     *
     * @param mechanism the mechanism
     * @param key the key
     * @param data the ciphertext
     * @return the plaintext
     */
    public byte[] decrypt(Mechanism mechanism, TokenObject key, byte[] data) {
        Object subject = subject(mechanism, key);
        call("C_DecryptInit", subject, () -> {
            pkcs11.C_DecryptInit(handle, mechanism.toCk(), key.handle());
            return null;
        });
        return finish("C_Decrypt", subject, () -> pkcs11.C_Decrypt(handle, data));
    }

    /**
     * Encrypts data in one part from one buffer into another: the bytes of a direct buffer
     * reach the module in place, a heap buffer's are copied. The output must have room for the
     * whole result (a shortage is the module's {@code CKR_BUFFER_TOO_SMALL}, and the session is
     * then not reused).
     *
     * @param mechanism the mechanism
     * @param key the key
     * @param in the plaintext, from its position to its limit; its position reaches the limit
     * @param out receives the ciphertext at its position, which advances
     * @return the number of bytes written
     */
    public int encrypt(Mechanism mechanism, TokenObject key, java.nio.ByteBuffer in, java.nio.ByteBuffer out) {
        Object subject = subject(mechanism, key);
        call("C_EncryptInit", subject, () -> {
            pkcs11.C_EncryptInit(handle, mechanism.toCk(), key.handle());
            return null;
        });
        return finish("C_Encrypt", subject, () -> pkcs11.C_Encrypt(handle, in, out));
    }

    /**
     * Decrypts data in one part from one buffer into another, as
     * {@link #encrypt(Mechanism, TokenObject, java.nio.ByteBuffer, java.nio.ByteBuffer)} does.
     *
     * @param mechanism the mechanism
     * @param key the key
     * @param in the ciphertext, from its position to its limit; its position reaches the limit
     * @param out receives the plaintext at its position, which advances
     * @return the number of bytes written
     */
    public int decrypt(Mechanism mechanism, TokenObject key, java.nio.ByteBuffer in, java.nio.ByteBuffer out) {
        Object subject = subject(mechanism, key);
        call("C_DecryptInit", subject, () -> {
            pkcs11.C_DecryptInit(handle, mechanism.toCk(), key.handle());
            return null;
        });
        return finish("C_Decrypt", subject, () -> pkcs11.C_Decrypt(handle, in, out));
    }

    /**
     * Encrypts a stream in parts.
     *
     * @param mechanism the mechanism
     * @param key the key
     * @param in the plaintext, read to its end (not closed)
     * @param out receives the ciphertext (not closed)
     * @return the number of bytes written
     * @throws UncheckedIOException if a stream fails; the session is then not reused
     */
    public long encrypt(Mechanism mechanism, TokenObject key, InputStream in, OutputStream out) {
        Object subject = subject(mechanism, key);
        call("C_EncryptInit", subject, () -> {
            pkcs11.C_EncryptInit(handle, mechanism.toCk(), key.handle());
            return null;
        });
        active = true;
        return transform(in, out, part -> step("C_EncryptUpdate", subject,
                () -> pkcs11.C_EncryptUpdate(handle, part)), () -> finish("C_EncryptFinal", subject,
                        () -> pkcs11.C_EncryptFinal(handle)));
    }

    /**
     * Decrypts a stream in parts.
     *
     * @param mechanism the mechanism
     * @param key the key
     * @param in the ciphertext, read to its end (not closed)
     * @param out receives the plaintext (not closed)
     * @return the number of bytes written
     * @throws UncheckedIOException if a stream fails; the session is then not reused
     */
    public long decrypt(Mechanism mechanism, TokenObject key, InputStream in, OutputStream out) {
        Object subject = subject(mechanism, key);
        call("C_DecryptInit", subject, () -> {
            pkcs11.C_DecryptInit(handle, mechanism.toCk(), key.handle());
            return null;
        });
        active = true;
        return transform(in, out, part -> step("C_DecryptUpdate", subject,
                () -> pkcs11.C_DecryptUpdate(handle, part)), () -> finish("C_DecryptFinal", subject,
                        () -> pkcs11.C_DecryptFinal(handle)));
    }

    /**
     * Digests data on the token.
     *
     * @param mechanism the digest mechanism, such as {@code Mechanism.digest(Hash.SHA256)}
     * @param data the data
     * @return the digest
     */
    public byte[] digest(Mechanism mechanism, byte[] data) {
        call("C_DigestInit", mechanism.toString(), () -> {
            pkcs11.C_DigestInit(handle, mechanism.toCk());
            return null;
        });
        return finish("C_Digest", mechanism.toString(), () -> pkcs11.C_Digest(handle, data));
    }

    /**
     * Computes a MAC: {@link #sign(Mechanism, TokenObject, byte[])} under its usual name.
     *
     * @param mechanism the MAC mechanism, such as {@code Mechanism.hmac(Hash.SHA256)}
     * @param key the secret key
     * @param data the data
     * @return the MAC
     */
    public byte[] mac(Mechanism mechanism, TokenObject key, byte[] data) {
        return sign(mechanism, key, data);
    }

    // ---- Digests, signatures and MACs in parts, the session kept by its caller ----

    /**
     * Starts a digest in parts ({@code C_DigestInit}), continued by {@link #digestUpdate} and
     * ended by {@link #digestFinal}. Until its end the session has an operation active: closed
     * meanwhile, it is closed on the module rather than lent again.
     *
     * @param mechanism the digest mechanism
     */
    public void digestInit(Mechanism mechanism) {
        call("C_DigestInit", mechanism.toString(), () -> {
            pkcs11.C_DigestInit(handle, mechanism.toCk());
            return null;
        });
        active = true;
    }

    /**
     * Continues a digest in parts ({@code C_DigestUpdate}).
     *
     * @param data holds the part
     * @param offset where the part starts
     * @param length the part's length
     */
    public void digestUpdate(byte[] data, int offset, int length) {
        java.nio.ByteBuffer part = java.nio.ByteBuffer.wrap(data, offset, length);
        step("C_DigestUpdate", "digest", () -> {
            pkcs11.C_DigestUpdate(handle, part);
            return null;
        });
    }

    /**
     * Ends a digest in parts ({@code C_DigestFinal}).
     *
     * @return the digest
     */
    public byte[] digestFinal() {
        return finish("C_DigestFinal", "digest", () -> pkcs11.C_DigestFinal(handle));
    }

    /**
     * Starts a signature or MAC in parts ({@code C_SignInit}) with the token's own mechanism,
     * hashed by the token; continued by {@link #signUpdate} and ended by {@link #signFinal}.
     * Until its end the session has an operation active, as for {@link #digestInit}.
     *
     * @param mechanism the mechanism, one the token offers (ECDSA: {@link Mechanism#ecdsaP1363})
     * @param key the private or secret key
     * @throws IllegalArgumentException for a DER ECDSA mechanism: sign in parts in r‖s form
     */
    public void signInit(Mechanism mechanism, TokenObject key) {
        if (mechanism.derSignature()) {
            throw new IllegalArgumentException("a signature in parts comes as r||s: use Mechanism.ecdsaP1363, not " + mechanism);
        }
        call("C_SignInit", subject(mechanism, key), () -> {
            pkcs11.C_SignInit(handle, mechanism.toCk(), key.handle());
            return null;
        });
        active = true;
    }

    /**
     * Continues a signature or MAC in parts ({@code C_SignUpdate}).
     *
     * @param data holds the part
     * @param offset where the part starts
     * @param length the part's length
     */
    public void signUpdate(byte[] data, int offset, int length) {
        java.nio.ByteBuffer part = java.nio.ByteBuffer.wrap(data, offset, length);
        step("C_SignUpdate", "signature", () -> {
            pkcs11.C_SignUpdate(handle, part);
            return null;
        });
    }

    /**
     * Ends a signature or MAC in parts ({@code C_SignFinal}).
     *
     * @return the signature or MAC
     */
    public byte[] signFinal() {
        return finish("C_SignFinal", "signature", () -> pkcs11.C_SignFinal(handle));
    }

    /**
     * Whether an operation may be active on this session.
     *
     * @return true between an operation's start and its end, and after an end that failed
     *     in a way that may leave it active
     */
    public boolean operationActive() {
        return active;
    }

    /**
     * The call that ends an operation. The module ends the operation also when it fails (but
     * for CKR_BUFFER_TOO_SMALL, which the library answers itself); any other failure leaves it
     * possibly active, and the session is then not reused.
     */
    private <R> R finish(String function, Object subject, ModuleCall<R> call) {
        R result = step(function, subject, call);
        active = false;
        return result;
    }

    /** A call within an operation: it stays active after it, unless the module failed it. */
    private <R> R step(String function, Object subject, ModuleCall<R> call) {
        active = true;
        return call(function, subject, () -> {
            try {
                return call.call();
            } catch (PKCS11Exception e) {
                active = e.getErrorCode() == CKR_BUFFER_TOO_SMALL;
                throw e;
            }
        });
    }

    @FunctionalInterface
    private interface Part {
        void accept(byte[] part);
    }

    @FunctionalInterface
    private interface PartOut {
        byte[] apply(byte[] part);
    }

    private static void pump(InputStream in, Part part) {
        byte[] buffer = new byte[STREAM_CHUNK];
        try {
            int n;
            while ((n = in.read(buffer)) >= 0) {
                if (n > 0) {
                    part.accept(Arrays.copyOf(buffer, n));
                }
            }
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    private long transform(InputStream in, OutputStream out, PartOut update, java.util.function.Supplier<byte[]> last) {
        long[] written = {0};
        pump(in, part -> {
            byte[] o = update.apply(part);
            write(out, o);
            written[0] += o.length;
        });
        byte[] tail = last.get();
        write(out, tail);
        return written[0] + tail.length;
    }

    private void write(OutputStream out, byte[] bytes) {
        try {
            out.write(bytes);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    // ---- Keys ----

    /**
     * Generates a secret key.
     *
     * @param mechanism such as {@link Mechanism#aesKeyGen()}
     * @param template the key's attributes, such as {@code CKA_VALUE_LEN}
     * @return the key
     */
    public KeyObject generateKey(Mechanism mechanism, Template template) {
        CK_ATTRIBUTE[] attributes = template.toAttributes();
        long h = call("C_GenerateKey", mechanism.toString(), () -> pkcs11.C_GenerateKey(handle, mechanism.toCk(),
                attributes));
        return (KeyObject) view(h);
    }

    /**
     * Generates a key pair.
     *
     * @param mechanism such as {@link Mechanism#ecKeyPairGen()}
     * @param publicTemplate the public key's attributes (for EC: {@code CKA_EC_PARAMS})
     * @param privateTemplate the private key's attributes
     * @return the keys
     */
    public KeyPair generateKeyPair(Mechanism mechanism, Template publicTemplate, Template privateTemplate) {
        CK_ATTRIBUTE[] pub = publicTemplate.toAttributes();
        CK_ATTRIBUTE[] priv = privateTemplate.toAttributes();
        long[] h = call("C_GenerateKeyPair", mechanism.toString(), () -> pkcs11.C_GenerateKeyPair(handle,
                mechanism.toCk(), pub, priv));
        return new KeyPair((KeyObject) view(h[0]), (KeyObject) view(h[1]));
    }

    /**
     * A key pair on a token.
     *
     * @param publicKey the public key
     * @param privateKey the private key
     */
    public record KeyPair(KeyObject publicKey, KeyObject privateKey) {
    }

    /**
     * Wraps (encrypts) a key.
     *
     * @param mechanism such as {@link Mechanism#aesKeyWrapPad()}
     * @param wrappingKey the key that wraps
     * @param key the key wrapped
     * @return the wrapped key
     */
    public byte[] wrap(Mechanism mechanism, TokenObject wrappingKey, TokenObject key) {
        return call("C_WrapKey", subject(mechanism, wrappingKey) + ", " + key.describe(),
                () -> pkcs11.C_WrapKey(handle, mechanism.toCk(), wrappingKey.handle(), key.handle()));
    }

    /**
     * Unwraps (decrypts) a key onto the token.
     *
     * @param mechanism the wrapping mechanism
     * @param unwrappingKey the key that unwraps
     * @param wrapped the wrapped key
     * @param template the new key's attributes
     * @return the new key
     */
    public KeyObject unwrap(Mechanism mechanism, TokenObject unwrappingKey, byte[] wrapped, Template template) {
        CK_ATTRIBUTE[] attributes = template.toAttributes();
        long h = call("C_UnwrapKey", subject(mechanism, unwrappingKey), () -> pkcs11.C_UnwrapKey(handle,
                mechanism.toCk(), unwrappingKey.handle(), wrapped, attributes));
        return (KeyObject) view(h);
    }

    /**
     * Derives a key.
     *
     * @param mechanism such as {@link Mechanism#ecdh(byte[])} or {@link Mechanism#hkdf}
     * @param baseKey the base key
     * @param template the new key's attributes
     * @return the new key
     */
    public KeyObject derive(Mechanism mechanism, TokenObject baseKey, Template template) {
        CK_ATTRIBUTE[] attributes = template.toAttributes();
        long h = call("C_DeriveKey", subject(mechanism, baseKey), () -> pkcs11.C_DeriveKey(handle,
                mechanism.toCk(), baseKey.handle(), attributes));
        return (KeyObject) view(h);
    }

    /**
     * Generates random bytes on the token.
     *
     * @param length how many
     * @return the bytes
     */
    public byte[] random(int length) {
        byte[] out = new byte[length];
        call("C_GenerateRandom", length + " bytes", () -> {
            pkcs11.C_GenerateRandom(handle, out);
            return null;
        });
        return out;
    }

    // ---- Closing ----

    /** Whether the module no longer knows this session (asked now); such a session is not reused. */
    boolean lost() {
        if (broken || stale()) {
            broken = true;
            return true;
        }
        try {
            pkcs11.C_GetSessionInfo(handle);
            return false;
        } catch (PKCS11Exception e) {
            failed(e.getErrorCode());
            return broken;
        }
    }

    /** Whether the pool may lend this session again. */
    boolean reusable() {
        return !broken && !spoiled && !active && !searching && !stale();
    }

    /**
     * Ends the session: back to its pool when it came from one and is fit for reuse, closed on
     * the module otherwise. A search left open is ended first. Closing again does nothing.
     */
    @Override
    public void close() {
        if (closed) {
            return;
        }
        if (searching && !broken && !spoiled && !stale()) {
            try {
                pkcs11.C_FindObjectsFinal(handle);  // a stream of objects not closed
                searching = false;
            } catch (PKCS11Exception e) {
                // The session is closed below rather than reused.
            }
        }
        closed = true;
        if (pool != null) {
            pool.giveBack(this);
        } else {
            closeOnModule();
        }
    }

    /** Closes the session on the module, ignoring its errors (a session already gone). */
    void closeOnModule() {
        if (stale()) {
            return;  // gone with the module's previous initialisation
        }
        try {
            pkcs11.C_CloseSession(handle);
        } catch (PKCS11Exception e) {
            // The session is gone either way.
        }
    }

    @Override
    public String toString() {
        return "session " + handle + " of " + token + (readWrite ? ", read-write" : ", read-only")
                + (closed ? ", closed" : "");
    }
}
