package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.security.PublicKey;
import java.security.Signature;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.time.Duration;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;

import javax.crypto.Cipher;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;
import org.junit.jupiter.api.TestMethodOrder;

import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.PinSource;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Module;
import zandrop.tesk.pkcs11.vorlen.token.Session;
import zandrop.tesk.pkcs11.vorlen.token.Template;
import zandrop.tesk.pkcs11.vorlen.token.TestCertificates;
import zandrop.tesk.pkcs11.vorlen.token.Token;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * A SoftHSM2 token served over a Unix socket by {@code p11-kit server} and reached through
 * p11-kit-client.so: signatures that the JDK verifies, object search and attributes, AES, eight
 * threads at once, and the server taken away in the middle of a stream of calls (every caller
 * gets a PKCS11Exception in bounded time; a server started again on the same socket serves a
 * fresh C_Initialize; nothing of the library is left behind), and the JCA provider over the
 * served token. What the client module answers is printed.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class RealRemoteTest {
    private static final String TOKEN_LABEL = "vorlen remote";
    private static final long LIMIT_SECONDS = 120L * Long.getLong("vorlen.timeout.scale", 1);

    private RealModules.SoftHsmLogin login;
    private PKCS11Impl pkcs11;
    private long session;
    private long globalReferencesBefore;

    @BeforeAll
    void serveTheToken() throws Exception {
        globalReferencesBefore = PKCS11Impl.globalReferenceCount();
        login = RealModules.SoftHsmLogin.openRemote(TOKEN_LABEL);
        pkcs11 = login.pkcs11;
        session = login.session;
        System.out.println("p11-kit-client.so: C_GetInfo names " + new String(pkcs11.C_GetInfo().manufacturerID).trim()
                + ", the token " + new String(pkcs11.C_GetTokenInfo(login.slot).manufacturerID).trim());
    }

    /** Closes the login and its server, if open (checking its native blocks), and checks the global references. */
    @AfterAll
    void stopTheServer() throws Exception {
        if (login != null) {
            login.close();
            login = null;
        }
        assertEquals(globalReferencesBefore, PKCS11Impl.globalReferenceCount(), "no global reference left");
    }

    @Test
    @Order(1)
    void rsaAndEcSignaturesVerifyWithTheJdkAndObjectsAreFoundAndRead() throws Exception {
        byte[] data = "signed through a socket".getBytes(StandardCharsets.US_ASCII);
        byte[] digest = MessageDigest.getInstance("SHA-256").digest(data);
        long[] rsa = RealModules.rsaKeyPair(pkcs11, session, false, "remote rsa");
        PublicKey rsaPublic = RealModules.rsaPublicKey(pkcs11, session, rsa[0]);
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), rsa[1]);
        assertTrue(RealModules.jdkVerifies("SHA256withRSA", rsaPublic, data, pkcs11.C_Sign(session, data)));
        // PSS with its parameter record, over a digest the JDK made.
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_RSA_PKCS_PSS,
                new CK_RSA_PKCS_PSS_PARAMS(CKM_SHA256, CKG_MGF1_SHA256, 24)), rsa[1]);
        byte[] pss = pkcs11.C_Sign(session, digest);
        Signature jdkPss = Signature.getInstance("RSASSA-PSS");
        jdkPss.setParameter(new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, 24, 1));
        assertTrue(RealModules.verifies(jdkPss, rsaPublic, data, pss), "the JDK accepts the PSS signature");

        long[] ec = RealModules.signingKeyPair(pkcs11, session, CKM_EC_KEY_PAIR_GEN, RealModules.P256_PARAMS);
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_ECDSA), ec[1]);
        byte[] ecdsa = pkcs11.C_Sign(session, digest);
        assertEquals(64, ecdsa.length, "r and s of P-256");
        assertTrue(RealModules.jdkVerifies("SHA256withECDSAinP1363Format",
                RealModules.ecPublicKey(RealModules.bytes(pkcs11, session, ec[0], CKA_EC_POINT)), data, ecdsa));

        // Search and attributes: the private key by class and label, its values, a sensitive one.
        long[] found = RealModules.find(pkcs11, session, new CK_ATTRIBUTE(CKA_CLASS, CKO_PRIVATE_KEY),
                new CK_ATTRIBUTE(CKA_LABEL, "remote rsa".toCharArray()));
        assertArrayEquals(new long[] {rsa[1]}, found);
        CK_ATTRIBUTE[] values = RealModules.read(pkcs11, session, rsa[1], CKA_KEY_TYPE, CKA_LABEL, CKA_SIGN,
                CKA_MODULUS);
        assertEquals(CKK_RSA, values[0].getLong());
        assertEquals("remote rsa", new String(values[1].getCharArray()));
        assertEquals(Boolean.TRUE, values[2].getBoolean());
        assertEquals(256, values[3].getByteArray().length);
        ConnectedToTestModule.assertError(CKR_ATTRIBUTE_SENSITIVE,
                () -> RealModules.read(pkcs11, session, rsa[1], CKA_PRIVATE_EXPONENT));
        pkcs11.C_SetAttributeValue(session, rsa[1], RealModules.template(CKA_LABEL, "renamed".toCharArray()));
        assertArrayEquals(new long[] {rsa[0]},
                RealModules.find(pkcs11, session, new CK_ATTRIBUTE(CKA_LABEL, "remote rsa".toCharArray())),
                "only the public key keeps the old label");
        for (long key : new long[] {rsa[0], rsa[1], ec[0], ec[1]}) {
            pkcs11.C_DestroyObject(session, key);
        }
    }

    /**
     * AES-GCM where the client carries it (p11-kit 0.24 does not: it refuses the mechanism
     * itself); AES-ECB against the JDK in any case.
     */
    @Test
    @Order(2)
    void aesMatchesTheJdkWhereTheClientCarriesTheMechanism() throws Exception {
        byte[] keyValue = new byte[16];
        pkcs11.C_GenerateRandom(session, keyValue);
        long key = pkcs11.C_CreateObject(session, RealModules.template(CKA_CLASS, CKO_SECRET_KEY, CKA_KEY_TYPE, CKK_AES,
                CKA_TOKEN, false, CKA_VALUE, keyValue, CKA_ENCRYPT, true, CKA_DECRYPT, true));
        byte[] plain = "sixteen bytes!!!thirty-two bytes".getBytes(StandardCharsets.US_ASCII);

        pkcs11.C_EncryptInit(session, new CK_MECHANISM(CKM_AES_ECB), key);
        byte[] ecb = pkcs11.C_Encrypt(session, plain);
        assertArrayEquals(RealModules.jdkCipher("AES/ECB/NoPadding", Cipher.ENCRYPT_MODE, RealModules.aes(keyValue), null)
                .doFinal(plain), ecb);

        byte[] iv = Arrays.copyOf(keyValue, 12);
        byte[] aad = "associated".getBytes(StandardCharsets.US_ASCII);
        CK_MECHANISM gcm = new CK_MECHANISM(CKM_AES_GCM, new CK_GCM_PARAMS(iv, 96, aad, 128));
        // Asked of C_GetMechanismInfo, which answers for this one mechanism.
        boolean offered;
        try {
            pkcs11.C_GetMechanismInfo(login.slot, CKM_AES_GCM);
            offered = true;
        } catch (PKCS11Exception e) {
            System.out.println("p11-kit-client.so: C_GetMechanismInfo of CKM_AES_GCM answers " + e.getMessage());
            offered = false;
        }
        if (offered) {
            pkcs11.C_EncryptInit(session, gcm, key);
            assertArrayEquals(RealModules.Aead.AES_GCM.jdkSeal(keyValue, iv, 128, aad, plain), pkcs11.C_Encrypt(session, plain));
        } else {
            long blocks = PKCS11Impl.heapBlockCount();
            PKCS11Exception refused = assertThrows(PKCS11Exception.class, () -> pkcs11.C_EncryptInit(session, gcm, key));
            assertEquals(blocks, PKCS11Impl.heapBlockCount(), "the parameter's blocks are freed");
            System.out.println("p11-kit-client.so: C_EncryptInit with CKM_AES_GCM answers " + refused.getMessage());
        }
        pkcs11.C_DestroyObject(session, key);
    }

    /**
     * Eight threads sign at once, each in a session of its own; then one of them goes on signing
     * while the server and its connection's process are killed, and ends with a PKCS11Exception
     * within the time limit. A server started again on the same socket serves a fresh
     * C_Initialize.
     *
     * <p>Only one call is in flight when the server goes: with several, p11-kit's client 0.24
     * can leave the callers that wait for their turn on the connection blocked inside the module
     * for good (they wait on a condition that its reader, failing, never signals). No library
     * can end a call that the module never returns from.
     */
    @Test
    @Order(3)
    void theServerTakenAwayMidStreamGivesEveryCallerAnExceptionAndComesBack() throws Exception {
        stopTheServer();  // the earlier cases' server: they left no native block nor global reference
        long blocksBefore = PKCS11Impl.heapBlockCount();
        int threads = 8;
        Map<String, Integer> answers = new TreeMap<>();
        PKCS11Impl client = new PKCS11Impl(RealModules.p11KitClient());
        RealModules.P11KitServer server = RealModules.P11KitServer.start(TOKEN_LABEL);
        ExecutorService pool = Executors.newFixedThreadPool(threads);
        try {
            client.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
            long slot = RealSoftHsmToken.requireSlot(client, TOKEN_LABEL);
            long main = client.C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, null, null);
            client.C_Login(main, CKU_USER, RealSoftHsmToken.USER_PIN.toCharArray());
            long[] rsa = RealModules.rsaKeyPair(client, main, false, "stream");
            PublicKey publicKey = RealModules.rsaPublicKey(client, main, rsa[0]);

            CountDownLatch signing = new CountDownLatch(threads);
            List<Future<PKCS11Exception>> callers = new ArrayList<>();
            for (int t = 0; t < threads; t++) {
                int thread = t;
                callers.add(pool.submit(() -> {
                    try {
                        long own = client.C_OpenSession(slot, CKF_SERIAL_SESSION, null, null);
                        for (long round = 0; !Thread.currentThread().isInterrupted(); round++) {
                            byte[] data = ("thread " + thread + " round " + round).getBytes(StandardCharsets.US_ASCII);
                            try {
                                client.C_SignInit(own, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), rsa[1]);
                                byte[] signature = client.C_Sign(own, data);
                                if (round < 3) {
                                    assertTrue(RealModules.jdkVerifies("SHA256withRSA", publicKey, data, signature), "thread " + thread);
                                }
                            } catch (PKCS11Exception e) {
                                assertTrue(round >= 3 && thread == 0, "thread " + thread + " failed before the server went: " + e);
                                return e;
                            }
                            if (round == 2) {
                                signing.countDown();
                                if (thread != 0) {  // thread 0 streams on alone
                                    assertTrue(signing.await(LIMIT_SECONDS, TimeUnit.SECONDS), "the others signing");
                                    return null;
                                }
                            }
                        }
                        return fail("thread " + thread + " interrupted");
                    } finally {
                        signing.countDown();  // a thread that failed early holds nobody up
                    }
                }));
            }
            assertTrue(signing.await(LIMIT_SECONDS, TimeUnit.SECONDS), "eight threads signing at once");
            for (Future<PKCS11Exception> caller : callers.subList(1, threads)) {
                assertNull(outcome(caller), "a thread that signed beside the others ends without an error");
            }
            if (callers.get(0).isDone()) {  // its failure, or the exception it got with the server still there
                fail("the streaming thread stopped before the server went: " + outcome(callers.get(0)));
            }
            server.close();  // the server and the p11-kit-remote of the connection, with a call in flight
            answers.merge("the call in flight: " + outcome(callers.get(0)).getMessage(), 1, Integer::sum);
            record(answers, "C_GetSlotList after", () -> client.C_GetSlotList(true));
            record(answers, "C_OpenSession after", () -> client.C_OpenSession(slot, CKF_SERIAL_SESSION, null, null));
            record(answers, "C_Finalize after", () -> {
                client.C_Finalize(null);
                return null;
            });

            server = RealModules.P11KitServer.start(TOKEN_LABEL);  // the same socket
            client.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
            record(answers, "C_GetSessionInfo of a session from before the restart",
                    () -> client.C_GetSessionInfo(main));
            long again = client.C_OpenSession(RealSoftHsmToken.requireSlot(client, TOKEN_LABEL),
                    CKF_SERIAL_SESSION | CKF_RW_SESSION, null, null);
            client.C_Login(again, CKU_USER, RealSoftHsmToken.USER_PIN.toCharArray());
            long[] fresh = RealModules.rsaKeyPair(client, again, false, "after the restart");
            byte[] data = "the server is back".getBytes(StandardCharsets.US_ASCII);
            client.C_SignInit(again, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), fresh[1]);
            assertTrue(RealModules.jdkVerifies("SHA256withRSA", RealModules.rsaPublicKey(client, again, fresh[0]), data,
                    client.C_Sign(again, data)),
                    "a fresh C_Initialize and session on the restarted server sign");
            client.C_Logout(again);
            client.C_CloseSession(again);
            client.C_Finalize(null);
        } finally {
            pool.shutdownNow();
            server.close();
            if (!pool.awaitTermination(LIMIT_SECONDS, TimeUnit.SECONDS)) {
                System.out.println("callers still running:\n" + callerStacks());
            }
            client.disconnect();
        }
        answers.forEach((answer, count) -> System.out.println("p11-kit-client.so, " + answer + " (x" + count + ")"));
        assertEquals(blocksBefore, PKCS11Impl.heapBlockCount(), "no native block left");
        assertEquals(globalReferencesBefore, PKCS11Impl.globalReferenceCount(), "no global reference left");
    }

    /**
     * The session layer's pool over the client while the server is killed and started again
     * under it: sixteen threads sign through a pool of eight sessions; with the server gone, the
     * pool answers with a TokenException that names the function and the module's error; once
     * it is back, the pool drops the sessions of the old connection, opens new ones, logs in
     * again from its PinSource (the token's key is private) and signs on, every signature
     * verified by the JDK. The server is killed between calls: with calls in flight, p11-kit's
     * client 0.24 can leave callers blocked inside the module for good (see above).
     */
    @Test
    @Order(4)
    void thePoolOutlivesAServerRestartedUnderIt() throws Exception {
        stopTheServer();  // the earlier cases' server, if any, goes first
        long blocksBefore = PKCS11Impl.heapBlockCount();
        RealModules.P11KitServer server = RealModules.P11KitServer.start(TOKEN_LABEL);
        ExecutorService threads = Executors.newFixedThreadPool(16);
        try (Pkcs11Module module = Pkcs11Module.open(RealModules.p11KitClient())) {
            Token token = module.token(TOKEN_LABEL);
            token.login(PinSource.of(RealSoftHsmToken.USER_PIN.toCharArray()));
            token.configurePool(8, Duration.ofSeconds(LIMIT_SECONDS));
            Template pooled = Template.of(Attr.LABEL, "pool restart").with(Attr.CLASS, CKO_PRIVATE_KEY);
            PublicKey publicKey = token.withSession(true, s -> {
                Template common = Template.of(Attr.TOKEN, true).with(Attr.LABEL, "pool restart");
                Session.KeyPair pair = s.generateKeyPair(Mechanism.rsaKeyPairGen(), common.with(Attr.VERIFY, true)
                        .with(Attr.MODULUS_BITS, 2048L).with(Attr.PUBLIC_EXPONENT, BigInteger.valueOf(65537)),
                        common.with(Attr.SIGN, true).with(Attr.PRIVATE, true).with(Attr.SENSITIVE, true));
                return s.publicKey(pair.publicKey());
            });
            for (int round = 0; round < 3; round++) {
                if (round > 0) {
                    server.close();  // between calls: every session of the pool is idle
                    TokenException down = assertThrows(TokenException.class,
                            () -> token.withSession(false, s -> s.sign(Mechanism.rsaPkcs1(Hash.SHA256),
                                    s.findKey(pooled), new byte[] {1})));
                    System.out.println("the layer over p11-kit-client.so, server down: " + down.getMessage());
                    // The client answers CKR_DEVICE_ERROR; initialised again without a server, it shows no slot.
                    assertTrue(down.code() == CKR_DEVICE_ERROR || down.code() == CKR_SLOT_ID_INVALID, down.getMessage());
                    assertTrue(down.getMessage().startsWith("C_") && down.getMessage().contains("\"" + TOKEN_LABEL + "\""),
                            down.getMessage());
                    server = RealModules.P11KitServer.start(TOKEN_LABEL);
                }
                List<Future<Integer>> signers = new ArrayList<>();
                for (int t = 0; t < 16; t++) {
                    int thread = t;
                    int r = round;
                    signers.add(threads.submit(() -> {
                        for (int i = 0; i < 5; i++) {
                            byte[] data = ("round " + r + " thread " + thread + " " + i).getBytes(StandardCharsets.US_ASCII);
                            byte[] signature = token.withSession(false,
                                    s -> s.sign(Mechanism.rsaPkcs1(Hash.SHA256), s.findKey(pooled), data));
                            assertTrue(RealModules.jdkVerifies("SHA256withRSA", publicKey, data, signature), "round " + r);
                        }
                        return 5;
                    }));
                }
                int signed = 0;
                for (Future<Integer> f : signers) {
                    signed += f.get(LIMIT_SECONDS, TimeUnit.SECONDS);
                }
                assertEquals(16 * 5, signed, "round " + round);
                assertTrue(token.pool().idle() <= 8, token.pool().toString());
            }
            token.withSession(true, s -> {
                s.find(Template.of(Attr.LABEL, "pool restart")).forEach(s::destroy);
                return null;
            });
        } finally {
            threads.shutdownNow();
            server.close();
        }
        assertEquals(blocksBefore, PKCS11Impl.heapBlockCount(), "no native block left");
        assertEquals(globalReferencesBefore, PKCS11Impl.globalReferenceCount(), "no global reference left");
    }

    /**
     * The JCA provider configured with p11-kit-client.so as its module: a JDK key pair and its
     * certificate stored through the KeyStore, listed, signing SHA256withRSA and
     * SHA256withECDSA for the JDK to verify. Last, on a server of its own; the provider's module
     * is closed at the end, so nothing of it stays behind. (No AES-GCM here: p11-kit 0.24's
     * client refuses it.)
     */
    @Test
    @Order(5)
    void theProviderSignsThroughTheServer() throws Exception {
        stopTheServer();
        long blocksBefore = PKCS11Impl.heapBlockCount();
        String uri = zandrop.tesk.pkcs11.vorlen.token.Pkcs11Uri.builder().token(TOKEN_LABEL)
                .modulePath(RealModules.p11KitClient()).pinValue(RealSoftHsmToken.USER_PIN).build().toString();
        RealModules.P11KitServer server = RealModules.P11KitServer.start(TOKEN_LABEL);
        try {
            zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider provider = new zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider(uri);
            try {
                java.security.KeyStore store = java.security.KeyStore.getInstance("PKCS11", provider);
                store.load(null, null);
                Map<String, String> algorithms = Map.of("remote rsa", "SHA256withRSA", "remote ec", "SHA256withECDSA");
                for (String alias : algorithms.keySet()) {
                    java.security.KeyPair pair = TestCertificates.jdkPair(alias.endsWith("rsa") ? "RSA" : "secp256r1");
                    store.setKeyEntry(alias, pair.getPrivate(), null,
                            new java.security.cert.Certificate[] {TestCertificates.selfSigned(pair, "CN=" + alias)});
                }
                store.load(null, null);  // read again from the token
                assertTrue(java.util.Collections.list(store.aliases()).containsAll(algorithms.keySet()),
                        "listed: " + java.util.Collections.list(store.aliases()));
                byte[] data = "signed by the provider through a socket".getBytes(StandardCharsets.US_ASCII);
                for (Map.Entry<String, String> e : algorithms.entrySet()) {
                    byte[] signature = RealModules.sign(Signature.getInstance(e.getValue(), provider),
                            (java.security.PrivateKey) store.getKey(e.getKey(), null), data);
                    assertTrue(RealModules.jdkVerifies(e.getValue(), store.getCertificate(e.getKey()).getPublicKey(), data, signature),
                            e.getValue() + " of " + e.getKey());
                    store.deleteEntry(e.getKey());
                }
                assertTrue(java.util.Collections.disjoint(java.util.Collections.list(store.aliases()), algorithms.keySet()));
                provider.token().logout();
            } finally {
                provider.close();
            }
            assertThrows(IllegalStateException.class, () -> provider.token(), "a closed provider has no token");
        } finally {
            server.close();
        }
        assertEquals(blocksBefore, PKCS11Impl.heapBlockCount(), "no native block left");
    }

    /** The caller's PKCS11Exception, within the time limit; anything else fails the test. */
    private static PKCS11Exception outcome(Future<PKCS11Exception> caller) throws InterruptedException {
        try {
            return caller.get(LIMIT_SECONDS, TimeUnit.SECONDS);
        } catch (TimeoutException e) {
            return fail("a caller still had no answer " + LIMIT_SECONDS + " s after the server went:\n" + callerStacks());
        } catch (ExecutionException e) {
            return fail("a caller got something else than a PKCS11Exception", e.getCause());
        }
    }

    /** The stacks of the callers' threads, for a failure that finds one still running. */
    private static String callerStacks() {
        StringBuilder text = new StringBuilder();
        Thread.getAllStackTraces().forEach((thread, stack) -> {
            if (thread.getName().startsWith("pool-")) {
                text.append(thread.getName()).append(' ').append(thread.getState()).append('\n');
                for (StackTraceElement frame : stack) {
                    text.append("    at ").append(frame).append('\n');
                }
            }
        });
        return text.toString();
    }

    private interface Call {
        Object run() throws PKCS11Exception;
    }

    /** What one call answers: "OK" or the exception, which must be a PKCS11Exception. */
    private static void record(Map<String, Integer> answers, String what, Call call) {
        String answer;
        try {
            call.run();
            answer = "OK";
        } catch (Throwable e) {
            answer = assertInstanceOf(PKCS11Exception.class, e, what).getMessage();
        }
        answers.merge(what + ": " + answer, 1, Integer::sum);
    }
}
