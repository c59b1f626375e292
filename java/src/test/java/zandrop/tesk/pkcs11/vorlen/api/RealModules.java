package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_CLASS;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_DECRYPT;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_DERIVE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_EC_PARAMS;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_ENCRYPT;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_EXTRACTABLE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_KEY_TYPE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_LABEL;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_MODULUS;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_MODULUS_BITS;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_PRIVATE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_PUBLIC_EXPONENT;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_SENSITIVE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_SIGN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_TOKEN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_UNWRAP;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_VALUE_LEN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_VERIFY;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKA_WRAP;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_OS_LOCKING_OK;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_RW_SESSION;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_SERIAL_SESSION;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_RSA_PKCS_KEY_PAIR_GEN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKO_SECRET_KEY;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKU_USER;

import java.io.IOException;
import java.io.InputStream;
import java.io.UncheckedIOException;
import java.math.BigInteger;
import java.net.UnixDomainSocketAddress;
import java.nio.channels.SocketChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.AlgorithmParameters;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.ECParameterSpec;
import java.security.spec.ECPoint;
import java.security.spec.ECPublicKeySpec;
import java.security.spec.RSAPublicKeySpec;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;

import javax.crypto.Cipher;
import javax.crypto.spec.GCMParameterSpec;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.SecretKeySpec;

/**
 * What the suites against real modules share: the paths that CMake found, the temporary folder
 * of the test run, a logged-in SoftHSM2 session, external programs, and conversions of public
 * values for the JDK's own cryptography, which serves as the oracle.
 */
final class RealModules {
    private RealModules() {
    }

    /** DER of the object identifier of the curve P-256 (secp256r1), as CKA_EC_PARAMS holds it. */
    static final byte[] P256_PARAMS = java.util.HexFormat.of().parseHex("06082a8648ce3d030107");

    /** A file that CMake found at configure time; the test fails when the package is missing. */
    static String path(String property, String debianPackage) {
        String path = System.getProperty(property);
        if (path == null) {
            fail("system property " + property + " is not set: run this suite through ctest");
        }
        if (path.isEmpty() || !Files.exists(Path.of(path))) {
            fail("install package " + debianPackage + " (scripts/install-deps.sh test does), then configure"
                    + " the build again: " + property + " was not found" + (path.isEmpty() ? "" : " at " + path));
        }
        return path;
    }

    /**
     * SoftHSM2's module, or OpenSC's pkcs11-spy.so standing for it when the suite runs with the
     * spy in between (see {@link #spiedOr}).
     */
    static String softHsm2() {
        return spiedOr("softhsm2", path("vorlen.real.softhsm2", "softhsm2"));
    }

    /** SoftHSM2's own module, never the spy. */
    static String softHsm2Itself() {
        return path("vorlen.real.softhsm2", "softhsm2");
    }

    /** The SoftHSM2 module the system's command-line tools load (the system's own width). */
    static String softHsm2ForTools() {
        return path("vorlen.real.softhsm2.tool", "softhsm2");
    }

    static String nssSoftoken() {
        return spiedOr("softokn", path("vorlen.real.softokn", "libnss3"));
    }

    /**
     * NSS's softoken parameter string (pReserved of C_Initialize) for a fresh database in the
     * folder {@code name} of the test folder, which it makes.
     */
    static String nssParameters(String name) throws IOException {
        Path database = testDir().resolve(name);
        Files.createDirectories(database);
        return "configdir='sql:" + database + "' certPrefix='' keyPrefix='' secmod='secmod.db' flags= ";
    }

    /** p11-kit's client module, which forwards every call to a p11-kit server. */
    static String p11KitClient() {
        return path("vorlen.real.p11kitclient", "p11-kit-modules");
    }

    /** p11-kit's command-line tool, whose "server" command serves a module on a socket. */
    static String p11KitTool() {
        return path("vorlen.real.p11kit", "p11-kit");
    }

    /**
     * The suites of the ".spy" registrations (cmake/RealModules.cmake) run with OpenSC's
     * pkcs11-spy.so between the library and one module: vorlen.real.spied names it, and the
     * environment's PKCS11SPY is its path, which the spy loads. Returns the spy's path for that
     * module and the module's own path otherwise.
     */
    static String spiedOr(String name, String module) {
        if (!spied(name)) {
            return module;
        }
        assertEquals(module, System.getenv("PKCS11SPY"), "PKCS11SPY names the module the spy stands for");
        return path("vorlen.real.spy", "opensc-pkcs11");
    }

    /** Whether OpenSC's spy stands between the library and the named module ("softhsm2", "softokn"). */
    static boolean spied(String name) {
        return name.equals(System.getProperty("vorlen.real.spied"));
    }

    /** The spy's log (PKCS11SPY_OUTPUT, set by the test wrapper), when a module is spied on. */
    static Path spyLog() {
        String log = System.getenv("PKCS11SPY_OUTPUT");
        if (System.getProperty("vorlen.real.spied") == null || log == null) {
            fail("no module is spied on: run this suite through its .spy ctest registration");
        }
        assertTrue(log.startsWith(testDir().toString()), "the spy's log lies in the test folder: " + log);
        return Path.of(log);
    }

    static String p11KitTrust() {
        return path("vorlen.real.p11kittrust", "p11-kit-modules");
    }

    static String pkcs11Tool() {
        return path("vorlen.real.pkcs11tool", "opensc");
    }

    static String trustTool() {
        return path("vorlen.real.trust", "p11-kit");
    }

    /**
     * The temporary folder that the test wrapper made for this run (cmake/with-temp-token-dir.sh);
     * SOFTHSM2_CONF names a configuration whose token folder lies in it.
     */
    static Path testDir() {
        String dir = System.getenv("VORLEN_TEST_DIR");
        if (dir == null || !Files.isDirectory(Path.of(dir))) {
            fail("VORLEN_TEST_DIR is not set: run this suite through ctest, whose wrapper makes the folder");
        }
        String config = System.getenv("SOFTHSM2_CONF");
        assertTrue(config != null && config.startsWith(dir), "SOFTHSM2_CONF lies in the test folder: " + config);
        return Path.of(dir);
    }

    /** The output of a program that ran to its end. */
    record Result(int status, String out, String err) {
    }

    /**
     * Runs a program with the test's environment, less the sanitizer runtime that the test JVM
     * may have preloaded (the program is not built with it), and waits at most two minutes
     * times vorlen.timeout.scale (longer for an emulated JVM).
     */
    static Result run(List<String> command, Map<String, String> extraEnvironment, boolean keepSanitizer) {
        ProcessBuilder builder = new ProcessBuilder(command);
        if (!keepSanitizer) {
            withoutSanitizer(builder);
        }
        builder.environment().putAll(extraEnvironment);
        try {
            Process process = builder.start();
            process.getOutputStream().close();
            CompletableFuture<String> out = CompletableFuture.supplyAsync(() -> readAll(process.getInputStream()));
            CompletableFuture<String> err = CompletableFuture.supplyAsync(() -> readAll(process.getErrorStream()));
            long limit = 120L * Long.getLong("vorlen.timeout.scale", 1);
            if (!process.waitFor(limit, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                fail("timed out after " + limit + " s: " + command);
            }
            return new Result(process.exitValue(), out.join(), err.join());
        } catch (IOException e) {
            throw new UncheckedIOException("cannot run " + command, e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new AssertionError("interrupted", e);
        }
    }

    /** The builder, less the sanitizer runtime that the test JVM may have preloaded in its environment. */
    static ProcessBuilder withoutSanitizer(ProcessBuilder builder) {
        builder.environment().remove("LD_PRELOAD");
        builder.environment().remove("ASAN_OPTIONS");
        builder.environment().remove("UBSAN_OPTIONS");
        return builder;
    }

    static Result run(String... command) {
        return run(List.of(command), Map.of(), false);
    }

    private static String readAll(InputStream in) {
        try (in) {
            return new String(in.readAllBytes(), StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** Signs data with an engine and a key. */
    static byte[] sign(java.security.Signature engine, java.security.PrivateKey key, byte[] data)
            throws GeneralSecurityException {
        engine.initSign(key);
        engine.update(data);
        return engine.sign();
    }

    /** Whether an engine finds a signature of data valid under a public key. */
    static boolean verifies(java.security.Signature engine, java.security.PublicKey key, byte[] data, byte[] signature)
            throws GeneralSecurityException {
        engine.initVerify(key);
        engine.update(data);
        return engine.verify(signature);
    }

    /** Whether the JDK's engine of an algorithm finds a signature of data valid under a public key. */
    static boolean jdkVerifies(String algorithm, java.security.PublicKey key, byte[] data, byte[] signature)
            throws GeneralSecurityException {
        return verifies(java.security.Signature.getInstance(algorithm), key, data, signature);
    }

    /** A cipher of the JDK's providers, initialised; {@code params} may be null. */
    static Cipher jdkCipher(String transformation, int mode, java.security.Key key,
            java.security.spec.AlgorithmParameterSpec params) throws GeneralSecurityException {
        return initialised(Cipher.getInstance(transformation), mode, key, params);
    }

    /** The cipher, initialised; {@code params} may be null. */
    static Cipher initialised(Cipher cipher, int mode, java.security.Key key, java.security.spec.AlgorithmParameterSpec params)
            throws GeneralSecurityException {
        cipher.init(mode, key, params);
        return cipher;
    }

    /** The MAC engine, initialised with a key. */
    static javax.crypto.Mac initialised(javax.crypto.Mac mac, java.security.Key key) throws GeneralSecurityException {
        mac.init(key);
        return mac;
    }

    /** The secret that the JDK's key agreement ("ECDH", "XDH") agrees between a private key and a peer's public key. */
    static byte[] jdkAgreed(String algorithm, java.security.PrivateKey own, java.security.PublicKey peer)
            throws GeneralSecurityException {
        javax.crypto.KeyAgreement agreement = javax.crypto.KeyAgreement.getInstance(algorithm);
        agreement.init(own);
        agreement.doPhase(peer, true);
        return agreement.generateSecret();
    }

    /** HMAC-SHA256 of the parts of data in turn, by the JDK; an empty key stands for 32 zero bytes (RFC 5869's no salt). */
    static byte[] hmacSha256(byte[] key, byte[]... data) throws GeneralSecurityException {
        javax.crypto.Mac mac = initialised(javax.crypto.Mac.getInstance("HmacSHA256"),
                new SecretKeySpec(key.length == 0 ? new byte[32] : key, "HmacSHA256"));
        for (byte[] part : data) {
            mac.update(part);
        }
        return mac.doFinal();
    }

    /** RFC 5869's HKDF-Expand with HMAC-SHA256, by the JDK. */
    static byte[] hkdfExpand(byte[] prk, byte[] info, int length) throws GeneralSecurityException {
        byte[] okm = new byte[0];
        byte[] t = new byte[0];
        for (int i = 1; okm.length < length; i++) {
            t = hmacSha256(prk, t, info, new byte[] {(byte) i});
            okm = Platform.concat(okm, t);
        }
        return Arrays.copyOf(okm, length);
    }

    /** The JDK's AES key of a value. */
    static SecretKeySpec aes(byte[] value) {
        return new SecretKeySpec(value, "AES");
    }

    // ---- attributes

    /** Reads attributes of an object; returns the values in template order. */
    static CK_ATTRIBUTE[] read(PKCS11Impl pkcs11, long session, long object, long... types)
            throws PKCS11Exception {
        CK_ATTRIBUTE[] template = Arrays.stream(types).mapToObj(CK_ATTRIBUTE::new).toArray(CK_ATTRIBUTE[]::new);
        pkcs11.C_GetAttributeValue(session, object, template);
        for (int i = 0; i < types.length; i++) {
            assertEquals(types[i], template[i].type, "attribute " + i + " keeps its type");
        }
        return template;
    }

    static byte[] bytes(PKCS11Impl pkcs11, long session, long object, long type) throws PKCS11Exception {
        return read(pkcs11, session, object, type)[0].getByteArray();
    }

    // ---- key templates

    /** A template of types and values in turn: {@code template(CKA_CLASS, CKO_DATA, CKA_TOKEN, false)}. */
    static CK_ATTRIBUTE[] template(Object... typesAndValues) {
        assertEquals(0, typesAndValues.length % 2, "types and values in pairs");
        CK_ATTRIBUTE[] template = new CK_ATTRIBUTE[typesAndValues.length / 2];
        for (int i = 0; i < template.length; i++) {
            template[i] = new CK_ATTRIBUTE((Long) typesAndValues[2 * i], typesAndValues[2 * i + 1]);
        }
        return template;
    }

    /** The attributes of {@code first}, then {@code more}. */
    static CK_ATTRIBUTE[] concat(CK_ATTRIBUTE[] first, CK_ATTRIBUTE... more) {
        CK_ATTRIBUTE[] all = Arrays.copyOf(first, first.length + more.length);
        System.arraycopy(more, 0, all, first.length, more.length);
        return all;
    }

    /**
     * A template of a session secret key whose value can be read, so that the JDK can redo what
     * the token did: class, key type, not on the token, not sensitive, extractable, then
     * {@code more}.
     */
    static CK_ATTRIBUTE[] readable(long keyType, CK_ATTRIBUTE... more) {
        return concat(template(CKA_CLASS, CKO_SECRET_KEY, CKA_KEY_TYPE, keyType, CKA_TOKEN, false,
                CKA_SENSITIVE, false, CKA_EXTRACTABLE, true), more);
    }

    /** A readable secret key of {@code bytes} bytes for every use, generated on the token. */
    static long readableKey(PKCS11Impl pkcs11, long session, long generator, long keyType, int bytes,
            CK_ATTRIBUTE... more) throws PKCS11Exception {
        CK_ATTRIBUTE[] uses = template(CKA_VALUE_LEN, (long) bytes, CKA_ENCRYPT, true, CKA_DECRYPT, true,
                CKA_SIGN, true, CKA_VERIFY, true, CKA_WRAP, true, CKA_UNWRAP, true, CKA_DERIVE, true);
        return pkcs11.C_GenerateKey(session, new CK_MECHANISM(generator), readable(keyType, concat(uses, more)));
    }

    /**
     * A signing key pair of session objects on an elliptic curve (the public key verifies, the
     * private key is private, sensitive and signs, then {@code privateMore}): public handle,
     * private handle.
     */
    static long[] signingKeyPair(PKCS11Impl pkcs11, long session, long generator, byte[] ecParams,
            CK_ATTRIBUTE... privateMore) throws PKCS11Exception {
        return pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(generator),
                template(CKA_TOKEN, false, CKA_EC_PARAMS, ecParams, CKA_VERIFY, true),
                concat(template(CKA_TOKEN, false, CKA_PRIVATE, true, CKA_SENSITIVE, true, CKA_SIGN, true), privateMore));
    }

    /**
     * An RSA key pair of 2048 bits and the exponent 65537 that signs, verifies, encrypts,
     * decrypts, wraps and unwraps, both halves labelled: public handle, private handle.
     */
    static long[] rsaKeyPair(PKCS11Impl pkcs11, long session, boolean onToken, String label) throws PKCS11Exception {
        return pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN),
                template(CKA_TOKEN, onToken, CKA_MODULUS_BITS, 2048L, CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1},
                        CKA_VERIFY, true, CKA_ENCRYPT, true, CKA_WRAP, true, CKA_LABEL, label.toCharArray()),
                template(CKA_TOKEN, onToken, CKA_PRIVATE, true, CKA_SENSITIVE, true, CKA_SIGN, true,
                        CKA_DECRYPT, true, CKA_UNWRAP, true, CKA_LABEL, label.toCharArray()));
    }

    /** The JDK's RSA public key of a token's public key object. */
    static RSAPublicKey rsaPublicKey(PKCS11Impl pkcs11, long session, long publicKey) throws Exception {
        return rsaPublicKey(bytes(pkcs11, session, publicKey, CKA_MODULUS), bytes(pkcs11, session, publicKey, CKA_PUBLIC_EXPONENT));
    }

    /** Every object that matches a template, read in batches of a few handles. */
    static long[] find(PKCS11Impl pkcs11, long session, CK_ATTRIBUTE... template) throws PKCS11Exception {
        pkcs11.C_FindObjectsInit(session, template);
        long[] all = new long[0];
        try {
            long[] some;
            while ((some = pkcs11.C_FindObjects(session, 3)).length > 0) {
                assertTrue(some.length <= 3, "no more handles than asked for");
                all = java.util.stream.LongStream.concat(Arrays.stream(all), Arrays.stream(some)).toArray();
            }
        } finally {
            pkcs11.C_FindObjectsFinal(session);
        }
        return all;
    }

    // ---- public values for the JDK

    static RSAPublicKey rsaPublicKey(byte[] modulus, byte[] exponent) throws GeneralSecurityException {
        return (RSAPublicKey) KeyFactory.getInstance("RSA").generatePublic(
                new RSAPublicKeySpec(new BigInteger(1, modulus), new BigInteger(1, exponent)));
    }

    /**
     * The uncompressed point of CKA_EC_POINT: modules give it as a DER OCTET STRING (the
     * standard's form) or, some of them, bare.
     */
    static byte[] uncompressedPoint(byte[] ecPoint, int fieldBytes) {
        int bare = 1 + 2 * fieldBytes;
        if (ecPoint.length == bare && ecPoint[0] == 4) {
            return ecPoint;
        }
        assertEquals(0x04, ecPoint[0], "CKA_EC_POINT is a DER OCTET STRING");
        int length = ecPoint[1] & 0xFF;
        int offset = 2;
        if (length == 0x81) {
            length = ecPoint[2] & 0xFF;
            offset = 3;
        }
        assertEquals(ecPoint.length - offset, length, "the OCTET STRING fills CKA_EC_POINT");
        assertEquals(bare, length, "an uncompressed point of the curve");
        return Arrays.copyOfRange(ecPoint, offset, ecPoint.length);
    }

    static ECPublicKey ecPublicKey(byte[] ecPoint) throws GeneralSecurityException {
        byte[] point = uncompressedPoint(ecPoint, 32);
        assertEquals(4, point[0], "uncompressed form");
        BigInteger x = new BigInteger(1, Arrays.copyOfRange(point, 1, 33));
        BigInteger y = new BigInteger(1, Arrays.copyOfRange(point, 33, 65));
        AlgorithmParameters p256 = AlgorithmParameters.getInstance("EC");
        p256.init(new ECGenParameterSpec("secp256r1"));
        return (ECPublicKey) KeyFactory.getInstance("EC").generatePublic(new ECPublicKeySpec(new ECPoint(x, y),
                p256.getParameterSpec(ECParameterSpec.class)));
    }

    /** A JDK public key of P-256 as an uncompressed point, the form ECDH takes. */
    static byte[] uncompressed(ECPublicKey key) {
        byte[] point = new byte[65];
        point[0] = 4;
        fixed(key.getW().getAffineX(), point, 1);
        fixed(key.getW().getAffineY(), point, 33);
        return point;
    }

    private static void fixed(BigInteger value, byte[] into, int offset) {
        byte[] bytes = value.toByteArray();
        int skip = bytes.length > 32 ? bytes.length - 32 : 0;
        System.arraycopy(bytes, skip, into, offset + 32 - (bytes.length - skip), bytes.length - skip);
    }

    /** Writes DER in PEM's armour of a type ("CERTIFICATE", "PRIVATE KEY") to a file; returns the file. */
    static Path pem(Path file, String type, byte[] der) throws IOException {
        Files.writeString(file, "-----BEGIN " + type + "-----\n" + java.util.Base64.getMimeEncoder().encodeToString(der)
                + "\n-----END " + type + "-----\n");
        return file;
    }

    // ---- the JDK's tools with the provider

    /**
     * Runs the JDK's {@code keytool} or {@code jarsigner} (next to vorlen.java) with {@code args},
     * then the options that load the provider (this build's jars) on the test folder's SoftHSM2
     * token of the label, with the user's PIN; the run must succeed.
     */
    static Result providerToolOk(String label, String name, String... args) {
        String jars = System.getProperty("vorlen.provider.jar") + ":" + Path.of(System.getProperty("vorlen.provider.jar"))
                .resolveSibling("vorlen-pkcs11.jar");
        String toolUri = zandrop.tesk.pkcs11.vorlen.token.Pkcs11Uri.builder().token(label).modulePath(softHsm2Itself()).build()
                .toString();
        List<String> command = new java.util.ArrayList<>(List.of(Path.of(System.getProperty("vorlen.java", "java"))
                .resolveSibling(name).toString()));
        command.addAll(List.of(args));
        command.addAll(List.of("-storetype", "PKCS11", "-keystore", "NONE", "-providerName", "Vorlen", "-providerClass",
                zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider.class.getName(), "-providerArg", toolUri,
                "-storepass", RealSoftHsmToken.USER_PIN));
        command.addAll(name.equals("keytool") ? List.of("-providerpath", jars) : List.of("-J-cp", "-J" + jars));
        // The tool's JVM loads this build's library: it keeps the sanitizer runtime, as the test JVM.
        Result r = run(command, Map.of(), true);
        assertEquals(0, r.status(), command + "\n" + r.out() + r.err());
        return r;
    }

    // ---- a p11-kit server

    /**
     * The socket of P11_KIT_SERVER_ADDRESS ("unix:path=..."), where p11-kit-client.so looks for
     * its server: the test wrapper sets it to a file in the test folder.
     */
    static Path serverSocket() {
        String address = System.getenv("P11_KIT_SERVER_ADDRESS");
        String prefix = "unix:path=";
        if (address == null || !address.startsWith(prefix)) {
            fail("P11_KIT_SERVER_ADDRESS is not a unix:path= address: run this suite through ctest, whose wrapper sets it");
        }
        Path socket = Path.of(address.substring(prefix.length()));
        assertTrue(socket.startsWith(testDir()), "the server's socket lies in the test folder: " + socket);
        return socket;
    }

    /**
     * {@code p11-kit server} in the foreground, serving the token of one label of the test
     * folder's SoftHSM2 (the system's module, which the server's own width loads) on the
     * socket of {@link #serverSocket()}. It runs in a process group of its own (setsid), which
     * the {@code p11-kit-remote} it forks for each connection joins: {@link #close} kills the
     * group, so that no connection outlives the server, not even one forked while it is killed.
     */
    static final class P11KitServer implements AutoCloseable {
        private final Process process;

        private P11KitServer(Process process) {
            this.process = process;
        }

        static P11KitServer start(String tokenLabel) throws IOException, InterruptedException {
            Path socket = serverSocket();
            Files.deleteIfExists(socket);
            ProcessBuilder builder = withoutSanitizer(new ProcessBuilder("setsid", p11KitTool(), "server", "-f", "-n",
                    socket.toString(), "--provider", softHsm2ForTools(), "pkcs11:token=" + tokenLabel.replace(" ", "%20")));
            builder.redirectErrorStream(true);
            builder.redirectOutput(testDir().resolve("p11-kit-server.out").toFile());
            P11KitServer server = new P11KitServer(builder.start());
            long limit = System.nanoTime() + TimeUnit.SECONDS.toNanos(30L * Long.getLong("vorlen.timeout.scale", 1));
            // The socket's file appears when the server binds it, a moment before it listens.
            while (!accepts(socket)) {
                if (!server.process.isAlive() || System.nanoTime() > limit) {
                    server.close();
                    fail("p11-kit server did not listen on " + socket + ": "
                            + Files.readString(testDir().resolve("p11-kit-server.out")));
                }
                Thread.sleep(20);
            }
            return server;
        }

        private static boolean accepts(Path socket) {
            try (SocketChannel probe = SocketChannel.open(UnixDomainSocketAddress.of(socket))) {
                return probe.isConnected();
            } catch (IOException e) {
                return false;
            }
        }

        /** Kills the server's process group (the server and its connections) and waits for the server. */
        @Override
        public void close() {
            if (process.isAlive()) {
                // setsid started the server in place: its pid is the group's id.
                Result kill = run("kill", "-KILL", "--", "-" + process.pid());
                assertTrue(kill.status() == 0 || !process.isAlive(), "kill of the server's group: " + kill.err());
            }
            try {
                assertTrue(process.waitFor(60, TimeUnit.SECONDS), "the p11-kit server ended");
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                throw new AssertionError("interrupted", e);
            }
        }
    }

    // ---- a logged-in SoftHSM2 session

    /**
     * SoftHSM2 connected, initialised with the operating system's locking, its fresh token
     * initialised through the library ({@link RealSoftHsmToken#initialise}), and a read/write
     * session in which the user is logged in. {@link #close} logs out, closes the session,
     * finalises, disconnects, and checks that every native block made since {@link #open} was
     * freed.
     *
     * <p>{@link #openRemote} reaches the token through p11-kit-client.so and a
     * {@link P11KitServer}, which {@link #close} stops too.
     */
    static final class SoftHsmLogin implements AutoCloseable {
        final PKCS11Impl pkcs11;
        final long slot;
        final long session;
        final long heapBlocksBefore;
        private final P11KitServer server;

        private SoftHsmLogin(PKCS11Impl pkcs11, long slot, long session, long heapBlocksBefore, P11KitServer server) {
            this.pkcs11 = pkcs11;
            this.slot = slot;
            this.session = session;
            this.heapBlocksBefore = heapBlocksBefore;
            this.server = server;
        }

        /** Opens it on the one free token of the test folder, which gets the label. */
        static SoftHsmLogin open(String tokenLabel) throws PKCS11Exception, IOException {
            testDir();
            long heapBlocksBefore = PKCS11Impl.heapBlockCount();
            PKCS11Impl pkcs11 = new PKCS11Impl(softHsm2());
            try {
                pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
                long slot = RealSoftHsmToken.initialise(pkcs11, tokenLabel);
                return new SoftHsmLogin(pkcs11, slot, login(pkcs11, slot), heapBlocksBefore, null);
            } catch (PKCS11Exception | RuntimeException | Error e) {
                pkcs11.disconnect();
                throw e;
            }
        }

        private static long login(PKCS11Impl pkcs11, long slot) throws PKCS11Exception {
            long session = pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, null, null);
            pkcs11.C_Login(session, CKU_USER, RealSoftHsmToken.USER_PIN.toCharArray());
            return session;
        }

        /**
         * The token initialised through SoftHSM2's own module (then finalised), then served by a
         * p11-kit server and reached through p11-kit-client.so, initialised with the operating
         * system's locking.
         */
        static SoftHsmLogin openRemote(String tokenLabel) throws PKCS11Exception, IOException {
            testDir();
            long heapBlocksBefore = PKCS11Impl.heapBlockCount();
            PKCS11Impl direct = new PKCS11Impl(softHsm2Itself());
            try {
                direct.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
                RealSoftHsmToken.initialise(direct, tokenLabel);
                direct.C_Finalize(null);
            } finally {
                direct.disconnect();
            }
            P11KitServer server;
            try {
                server = P11KitServer.start(tokenLabel);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                throw new AssertionError("interrupted", e);
            }
            PKCS11Impl pkcs11 = new PKCS11Impl(p11KitClient());
            try {
                pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
                long slot = RealSoftHsmToken.requireSlot(pkcs11, tokenLabel);
                return new SoftHsmLogin(pkcs11, slot, login(pkcs11, slot), heapBlocksBefore, server);
            } catch (PKCS11Exception | RuntimeException | Error e) {
                pkcs11.disconnect();
                server.close();
                throw e;
            }
        }

        @Override
        public void close() throws PKCS11Exception {
            try {
                pkcs11.C_Logout(session);
                pkcs11.C_CloseSession(session);
                pkcs11.C_Finalize(null);
            } finally {
                pkcs11.disconnect();
                if (server != null) {
                    server.close();
                }
            }
            assertEquals(heapBlocksBefore, PKCS11Impl.heapBlockCount(), "every native block was freed");
        }
    }

    /**
     * A suite whose cases share one {@link SoftHsmLogin} on a token of the suite's label, opened
     * before the first case and closed, with its check that every native block was freed, after
     * the last.
     */
    @org.junit.jupiter.api.TestInstance(org.junit.jupiter.api.TestInstance.Lifecycle.PER_CLASS)
    abstract static class SoftHsmSuite {
        private final String tokenLabel;
        SoftHsmLogin login;
        PKCS11Impl pkcs11;
        long slot;
        /** A read/write session in which the user is logged in; the keys of the cases live in it. */
        long session;

        SoftHsmSuite(String tokenLabel) {
            this.tokenLabel = tokenLabel;
        }

        @org.junit.jupiter.api.BeforeAll
        void logIn() throws Exception {
            login = SoftHsmLogin.open(tokenLabel);
            pkcs11 = login.pkcs11;
            slot = login.slot;
            session = login.session;
        }

        @org.junit.jupiter.api.AfterAll
        void logOut() throws Exception {
            if (login != null) {
                login.close();
            }
        }
    }

    /**
     * A suite whose cases share a read/write session on the crypto slot of NSS's softoken, on a
     * fresh database in the folder of the suite's name ({@link #nssParameters}), initialised with
     * the operating system's locking, opened before the first case and closed (also after a
     * failed start), with its check that every native block was freed, after the last.
     */
    @org.junit.jupiter.api.TestInstance(org.junit.jupiter.api.TestInstance.Lifecycle.PER_CLASS)
    abstract static class NssSuite {
        private final String databaseName;
        private long blocksBefore;
        PKCS11Impl pkcs11;
        /** The crypto slot: the first slot with a token. */
        long slot;
        long session;

        NssSuite(String databaseName) {
            this.databaseName = databaseName;
        }

        /** The folder of the suite's database, in the test folder. */
        Path database() {
            return testDir().resolve(databaseName);
        }

        @org.junit.jupiter.api.BeforeAll
        void initialiseNss() throws Exception {
            blocksBefore = PKCS11Impl.heapBlockCount();
            CK_C_INITIALIZE_ARGS args = new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK);
            args.pReserved = nssParameters(databaseName);
            pkcs11 = new PKCS11Impl(nssSoftoken());
            pkcs11.C_Initialize(args);
            long[] slots = pkcs11.C_GetSlotList(true);
            assertTrue(slots.length >= 1, "the softoken has its crypto slot");
            slot = slots[0];
            session = pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, null, null);
        }

        @org.junit.jupiter.api.AfterAll
        void finalizeNss() throws Exception {
            if (pkcs11 == null) {
                return;
            }
            try {
                if (session != 0) {
                    pkcs11.C_CloseSession(session);
                }
                pkcs11.C_Finalize(null);
            } finally {
                pkcs11.disconnect();
            }
            assertEquals(blocksBefore, PKCS11Impl.heapBlockCount(), "no native block outlives the suite");
        }
    }

    /** An AEAD that every module offering it must compute as the JDK's cipher does. */
    enum Aead {
        AES_GCM(PKCS11Constants.CKK_AES, 16, "AES/GCM/NoPadding", "AES"),
        CHACHA20_POLY1305(PKCS11Constants.CKK_CHACHA20, 32, "ChaCha20-Poly1305", "ChaCha20");

        final long keyType;
        final int keyLength;
        private final String transformation;
        private final String algorithm;

        Aead(long keyType, int keyLength, String transformation, String algorithm) {
            this.keyType = keyType;
            this.keyLength = keyLength;
            this.transformation = transformation;
            this.algorithm = algorithm;
        }

        /** The JDK's ciphertext and tag of {@code plain}; ChaCha20-Poly1305's tag has 128 bits. */
        byte[] jdkSeal(byte[] key, byte[] iv, int tagBits, byte[] aad, byte[] plain) throws GeneralSecurityException {
            Cipher jdk = Cipher.getInstance(transformation);
            jdk.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(key, algorithm),
                    this == AES_GCM ? new GCMParameterSpec(tagBits, iv) : new IvParameterSpec(iv));
            if (aad != null) {
                jdk.updateAAD(aad);
            }
            return jdk.doFinal(plain);
        }
    }

    /** One message through the token: sealed (ciphertext, then tag) or opened. */
    interface AeadCall {
        byte[] apply(byte[] input) throws Exception;
    }

    /**
     * The token seals {@code plain} to the JDK's bytes, opens them again and refuses them with one
     * bit of the tag changed; returns that refusal.
     */
    static PKCS11Exception aeadMatchesTheJdk(Aead aead, byte[] key, byte[] iv, int tagBits, byte[] aad, byte[] plain,
            AeadCall seal, AeadCall open) throws Exception {
        byte[] expected = aead.jdkSeal(key, iv, tagBits, aad, plain);
        assertArrayEquals(expected, seal.apply(plain), aead + ": sealed as the JDK seals");
        assertArrayEquals(plain, open.apply(expected), aead + ": opens the JDK's bytes");
        byte[] tampered = expected.clone();
        tampered[tampered.length - 1] ^= 0x10;
        return assertThrows(PKCS11Exception.class, () -> open.apply(tampered),
                aead + ": a changed tag is refused");
    }
}
