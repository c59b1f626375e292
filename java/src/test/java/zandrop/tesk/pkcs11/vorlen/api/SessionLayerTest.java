package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.UncheckedIOException;
import java.math.BigInteger;
import java.time.Duration;
import java.time.LocalDate;
import java.util.HexFormat;
import java.util.List;
import java.util.stream.Stream;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;
import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.AttributeValues;
import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.KeyObject;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Module;
import zandrop.tesk.pkcs11.vorlen.token.PinSource;
import zandrop.tesk.pkcs11.vorlen.token.Session;
import zandrop.tesk.pkcs11.vorlen.token.SessionPool;
import zandrop.tesk.pkcs11.vorlen.token.Template;
import zandrop.tesk.pkcs11.vorlen.token.Token;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;
import zandrop.tesk.pkcs11.vorlen.token.TokenInfo;
import zandrop.tesk.pkcs11.vorlen.token.TokenObject;

/**
 * The session layer against the scriptable test module: sharing of the module, error messages,
 * searches that fail half-way, the pool's handling of lost and unfinished sessions, lenient reads
 * through the views, and typed values checked before the module is called.
 */
class SessionLayerTest extends ConnectedToTestModule {
    private Pkcs11Module layer;

    /** Every C_GetAttributeValue answers: a private EC key labelled "k1". */
    private void keyK1() {
        module.setDefault("C_GetAttributeValue", "attr=0::" + Platform.ulongHex(CKO_PRIVATE_KEY) + " attr=3::6b31 attr=256::"
                + Platform.ulongHex(CKK_EC));
    }

    @BeforeEach
    void openLayer() {
        module.clear();
        layer = Pkcs11Module.open(module.path());
    }

    @AfterEach
    void closeLayer() {
        layer.close();
    }

    @Test
    void openersShareOneInitialisedModuleFinalisedByTheLast() {
        try (Pkcs11Module second = Pkcs11Module.open(module.path())) {
            assertSame(layer.pkcs11(), second.pkcs11());
            assertEquals(1, module.count("C_Initialize"));
            assertEquals(CKF_OS_LOCKING_OK, module.last("C_Initialize").num("flags"));
        }
        assertEquals(0, module.count("C_Finalize"), "the first opener still uses it");
        layer.close();
        assertEquals(1, module.count("C_Finalize"));
        layer.close();
        assertEquals(1, module.count("C_Finalize"), "closing twice finalises once");

        module.script("C_Initialize", "rv=0x191");  // initialised by someone else
        layer = Pkcs11Module.open(module.path());
        layer.close();
        assertEquals(1, module.count("C_Finalize"), "not finalised under its other user");
        layer = Pkcs11Module.open(module.path());
    }

    @Test
    void slotsTokensAndEventsAreDecoded() {
        module.script("C_GetTokenInfo", "label=txt:k-token flags=0x405");  // CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED
        Token token = layer.token("k-token");
        assertEquals(1, token.slotId());
        module.script("C_GetTokenInfo", "label=txt:k-token flags=0x405 ulMaxSessionCount=" + Long.toUnsignedString(Platform.ALL_BITS));
        TokenInfo info = token.info();
        assertEquals(List.of("CKF_RNG", "CKF_LOGIN_REQUIRED", "CKF_TOKEN_INITIALIZED"), info.flagNames());
        assertEquals(-1, info.maxSessions(), "CK_UNAVAILABLE_INFORMATION");
        assertTrue(info.loginRequired());
        assertTrue(info.toString().contains("\"k-token\"") && info.toString().contains("CKF_RNG|"), info.toString());

        module.script("C_WaitForSlotEvent", "handle=1");
        assertEquals(1, layer.waitForSlotEvent(false).orElseThrow().id());
        assertEquals(CKF_DONT_BLOCK, module.last("C_WaitForSlotEvent").num("flags"));
        module.script("C_WaitForSlotEvent", "rv=0x8");  // CKR_NO_EVENT
        assertTrue(layer.waitForSlotEvent(false).isEmpty());
        module.script("C_WaitForSlotEvent", "rv=0x54");  // not offered
        assertTrue(layer.waitForSlotEvent(true).isEmpty());
    }

    @Test
    void errorsNameFunctionMechanismAndObject() {
        keyK1();
        Token token = layer.token(1);
        try (Session s = token.openSession(false)) {
            TokenObject key = s.view(100);
            KeyObject k = assertInstanceOf(KeyObject.class, key);
            assertEquals("k1", k.label());
            assertEquals(CKK_EC, k.keyType());
            module.script("C_SignInit", "rv=0x70");
            TokenException e = assertExactMessage(TokenException.class, "C_SignInit(CKM_ECDSA_SHA256, private key \"k1\"): "
                    + "CKR_MECHANISM_INVALID (0x00000070)", () -> s.sign(Mechanism.ecdsa(Hash.SHA256), key, new byte[] {1}));
            assertEquals(CKR_MECHANISM_INVALID, assertInstanceOf(PKCS11Exception.class, e.getCause()).getErrorCode());
            assertEquals(CKM_ECDSA_SHA256, module.last("C_SignInit").num("mechanism"),
                    "the token's list lacks CKM_ECDSA too: the combined mechanism is asked for");
        }
    }

    @Test
    void searchesEndAlsoWhenTheModuleFailsHalfWay() {
        long globalsBefore = PKCS11Impl.globalReferenceCount();
        keyK1();
        Token token = layer.token(1);
        token.configurePool(1, Duration.ofSeconds(5));
        // C_FindObjectsInit succeeds, C_FindObjects fails: the search is ended all the same.
        module.script("C_FindObjectsInit", "handles=100,101");
        module.script("C_FindObjects", "rv=0x30");
        assertExactMessage(TokenException.class, "C_FindObjects({CKA_LABEL=\"k1\"}): CKR_DEVICE_ERROR (0x00000030)",
                () -> token.withSession(false, s -> s.find(Template.of(Attr.LABEL, "k1"))));
        assertEquals(1, module.count("C_FindObjectsFinal"));
        assertEquals(0, module.count("C_CloseSession"), "the search was ended: the session goes back");

        // C_FindObjectsFinal fails: a clear error, and the session is closed, not reused.
        module.script("C_FindObjectsInit", "handles=100");
        module.script("C_FindObjectsFinal", "rv=0x30");
        TokenException e = assertThrows(TokenException.class, () -> token.withSession(false, s -> s.findHandles(Template.empty())));
        assertTrue(e.getMessage().startsWith("C_FindObjectsFinal({}): CKR_DEVICE_ERROR"), e.getMessage());
        assertEquals(1, module.count("C_CloseSession"));

        // A stream of objects left early, or never closed: the search ends at the latest with the session.
        module.script("C_FindObjectsInit", "handles=100,101,102");
        List<TokenObject> first = token.withSession(false, s -> {
            try (Stream<TokenObject> objects = s.stream(Template.empty())) {
                return objects.limit(1).toList();
            }
        });
        assertEquals(100, first.get(0).handle());
        module.script("C_FindObjectsInit", "handles=100,101,102");
        token.withSession(false, s -> s.stream(Template.empty()).findFirst());
        assertEquals(4, module.count("C_FindObjectsFinal"));
        assertEquals(1, module.count("C_CloseSession"), "both sessions went back to the pool");
        assertEquals(1, token.pool().idle());
        assertEquals(globalsBefore, PKCS11Impl.globalReferenceCount(), "no global reference outlives the searches");
    }

    @Test
    void mixedObjectsAreViewedWithEveryValueInOneModuleCall() {
        String[][] objects = {  // the answer, the attributes of the view it lacks
            {"attr=0::" + Platform.ulongHex(CKO_PRIVATE_KEY) + " attr=3::6b31 attr=0x102::01 attr=0x100::"
                + Platform.ulongHex(CKK_EC) + " attr=0x180::06082a8648ce3d030107", "2"},
            {"attr=0::" + Platform.ulongHex(CKO_CERTIFICATE) + " attr=3::6331 attr=0x102::01 attr=0x80::"
                + Platform.ulongHex(CKC_X_509), "3"},
            {"attr=0::" + Platform.ulongHex(CKO_DATA) + " attr=3::6431 attr=0x10::617070", "4"},
        };
        module.script("C_FindObjectsInit", "handles=100,101,102");
        for (String[] o : objects) {
            // The lengths call, one call for each missing attribute's reason, the values call.
            for (int call = 0; call < Integer.parseInt(o[1]) + 2; call++) {
                module.script("C_GetAttributeValue", o[0]);
            }
        }
        List<TokenObject> found;
        try (Session s = layer.token(1).openSession(false)) {
            found = s.find(Template.empty());
        }
        assertEquals(CKK_EC, assertInstanceOf(KeyObject.class, found.get(0)).keyType());
        assertEquals(CKC_X_509, assertInstanceOf(zandrop.tesk.pkcs11.vorlen.token.CertificateObject.class,
                found.get(1)).certificateType());
        assertEquals("app", assertInstanceOf(zandrop.tesk.pkcs11.vorlen.token.DataObject.class,
                found.get(2)).application());
        assertEquals(List.of("k1", "c1", "d1"), found.stream().map(TokenObject::label).toList());
        // Not one call per attribute: the values call of each object carries the whole view, with
        // room for every readable value and none for the attributes it lacks.
        List<Call> reads = module.calls("C_GetAttributeValue");
        assertEquals(2 + 3 + 4 + 3 * 2, reads.size());
        int last = -1;
        for (String[] o : objects) {
            last += Integer.parseInt(o[1]) + 2;
            List<Call.Attr> values = reads.get(last).template("pTemplate");
            assertEquals(7, values.size());
            assertEquals(7 - Integer.parseInt(o[1]), values.stream().filter(a -> a.len() != Platform.ALL_BITS).count(),
                    values.toString());
        }
    }

    @Test
    void aModuleLyingInLenientReadsGivesUnavailableValuesNotStuckSessionsNorLeaks() {
        keyK1();
        Token token = layer.token(1);
        token.configurePool(1, Duration.ofSeconds(5));
        TokenObject key = token.withSession(false, s -> s.view(100));
        long globalsBefore = PKCS11Impl.globalReferenceCount();
        long blocksBefore = PKCS11Impl.heapBlockCount();
        String cls = "attr=0::" + Platform.ulongHex(CKO_SECRET_KEY);
        String[][] lies = {  // the lengths call, the values call
            {cls + " attr=3::6b31", cls + " attr=3:100:6b31 rv=0"},  // more bytes than the room, with CKR_OK
            {cls + " attr=3:unavail: rv=0", cls + " attr=3:unavail: rv=0"},  // CKR_OK, no length
            {cls + " attr=3:0x7fffffffffff:00 rv=0", cls + " attr=3:0x7fffffffffff:00 rv=0"},  // no Java array holds it
        };
        for (String[] lie : lies) {
            module.script("C_GetAttributeValue", lie[0]);
            module.script("C_GetAttributeValue", lie[1]);
            AttributeValues v = token.withSession(false, s -> s.read(key, Attr.CLASS, Attr.LABEL));
            assertEquals(CKO_SECRET_KEY, v.require(Attr.CLASS), lie[1]);
            assertEquals(AttributeValues.Status.UNAVAILABLE, v.status(Attr.LABEL), lie[1]);
        }
        module.script("C_GetAttributeValue", "rv=0x82");
        assertExactMessage(TokenException.class, "C_GetAttributeValue(object 100): CKR_OBJECT_HANDLE_INVALID (0x00000082)",
                () -> token.withSession(false, s -> s.read(key, Attr.CLASS, Attr.LABEL)));
        assertEquals(0, module.count("C_CloseSession"), "no operation left: the one session went back each time");
        assertEquals(1, token.pool().idle());
        assertEquals(globalsBefore, PKCS11Impl.globalReferenceCount());
        assertEquals(blocksBefore, PKCS11Impl.heapBlockCount());
    }

    @Test
    void thePoolBoundsWaitsDropsLostSessionsAndLogsInAgain() throws Exception {
        keyK1();
        Token token = layer.token(1);
        token.configurePool(2, Duration.ofMillis(50));
        SessionPool pool = token.pool();
        Session a = pool.borrow(true);
        Session b = pool.borrow(false);
        assertThrows(SessionPool.PoolTimeoutException.class, () -> pool.borrow(false));
        a.close();
        b.close();
        assertEquals(2, pool.idle());

        // An operation left active (the input failed): the session is closed, not reused.
        try (Session s = pool.borrow(true)) {
            TokenObject key = s.view(100);
            InputStream failing = new InputStream() {
                @Override
                public int read() throws IOException {
                    throw new IOException("disk gone");
                }
            };
            assertThrows(UncheckedIOException.class, () -> s.encrypt(Mechanism.of(CKM_AES_ECB), key, failing,
                    new ByteArrayOutputStream()));
        }
        assertEquals(1, module.count("C_CloseSession"));

        // The session is gone: the work runs again on a new one, and the idle ones are dropped.
        module.clear();
        module.script("C_Sign", "rv=0xB3");
        byte[] signature = token.withSession(false, s -> s.sign(Mechanism.of(CKM_RSA_PKCS), s.view(100), new byte[] {1}));
        assertEquals(64, signature.length);
        assertEquals(2, module.count("C_Sign"));
        assertEquals(1, module.count("C_OpenSession"), "a fresh session replaced the lost one");

        // The token forgot the login: logged in again from the PIN source.
        token.login(PinSource.of("1234".toCharArray()));
        module.clear();
        module.script("C_Sign", "rv=0x101");
        token.withSession(false, s -> s.sign(Mechanism.of(CKM_RSA_PKCS), s.view(100), new byte[] {1}));
        assertEquals(1, module.count("C_Login"));
        assertArrayEquals("1234".getBytes(), module.last("C_Login").bytes("pPin"));
        module.script("C_Login", "rv=0x100");  // CKR_USER_ALREADY_LOGGED_IN is no error
        token.login("1234".toCharArray());
        token.logout();
        module.script("C_Sign", "rv=0x101");
        TokenException e = assertThrows(TokenException.class,
                () -> token.withSession(false, s -> s.sign(Mechanism.of(CKM_RSA_PKCS), s.view(100), new byte[] {1})));
        assertEquals(CKR_USER_NOT_LOGGED_IN, e.code(), "without a PIN source, no second login");

        // Sessions lent and idle stay within the bound: an idle read-only one makes room for a
        // second read-write borrower.
        token.configurePool(2, Duration.ofSeconds(5));
        SessionPool fresh = token.pool();
        module.clear();
        fresh.borrow(false).close();
        Session c = fresh.borrow(true);
        fresh.borrow(true).close();
        c.close();
        assertEquals(2, fresh.idle());
        assertEquals(3, module.count("C_OpenSession"));
        assertEquals(1, module.count("C_CloseSession"));
    }

    @Test
    void aModuleThatLostItsDeviceIsInitialisedAgainAndItsOldSessionsForgotten() {
        keyK1();
        Token token = layer.token(1);
        token.login(PinSource.of("1234".toCharArray()));
        token.configurePool(2, Duration.ofSeconds(5));
        token.withSession(false, s -> s.random(4));
        assertEquals(1, token.pool().idle());
        module.clear();
        module.script("C_Sign", "rv=0x30");         // CKR_DEVICE_ERROR, and the module answers nothing else
        module.script("C_GetSlotList", "rv=0x30");
        byte[] signature = token.withSession(false, s -> s.sign(Mechanism.of(CKM_RSA_PKCS), s.view(100), new byte[] {1}));
        assertEquals(64, signature.length);
        assertEquals(1, module.count("C_Finalize"));
        assertEquals(1, module.count("C_Initialize"));
        assertEquals(0, module.count("C_CloseSession"), "handles of before may name new sessions: forgotten, not closed");
        assertEquals(1, module.count("C_Login"), "logged in again from the PIN source");
        assertEquals(1, token.pool().idle());

        // A device error of a module that still lists the slot: no new initialisation.
        module.script("C_Sign", "rv=0x30");
        token.withSession(false, s -> s.sign(Mechanism.of(CKM_RSA_PKCS), s.view(100), new byte[] {1}));
        assertEquals(1, module.count("C_Finalize"));
        assertEquals(1, module.count("C_Initialize"));
    }

    @Test
    void typedValuesAreCheckedBeforeTheModuleAndReadBackTyped() {
        @SuppressWarnings({"unchecked", "rawtypes"})
        Attr<Object> raw = (Attr) Attr.TOKEN;
        assertExactMessage(IllegalArgumentException.class, "CKA_TOKEN holds a Boolean, not a Long (1)", () -> Template.of(raw, 1L));
        assertThrows(IllegalArgumentException.class, () -> Attr.of(CKA_TOKEN, Long.class));
        assertThrows(IllegalArgumentException.class, () -> Template.of(Attr.MODULUS, BigInteger.ONE.negate()));
        Attr<Long> vendor = Attr.of(CKA_VENDOR_DEFINED | 7, Long.class);

        Template t = Template.of(Attr.LABEL, "clé").with(Attr.TOKEN, true).with(Attr.START_DATE, LocalDate.of(2026, 12, 8))
                .with(Attr.PUBLIC_EXPONENT, BigInteger.valueOf(65537)).with(vendor, 5L)
                .with(Attr.ALLOWED_MECHANISMS, new long[] {CKM_AES_GCM});
        try (Session s = layer.token(1).openSession(true)) {
            module.script("C_CreateObject", "handle=100");
            keyK1();
            s.create(t);
            List<Call.Attr> sent = module.last("C_CreateObject").template("pTemplate");
            assertEquals("636cc3a9", HexFormat.of().formatHex(sent.get(0).value()), "UTF-8");
            assertArrayEquals(new byte[] {1}, sent.get(1).value());
            assertEquals("3230323631323038", HexFormat.of().formatHex(sent.get(2).value()));
            assertEquals("010001", HexFormat.of().formatHex(sent.get(3).value()));
            assertArrayEquals(Platform.ulongBytes(5), sent.get(4).value());

            TokenObject object = s.view(100);
            String values = "attr=3::636cc3a9 attr=0x80000007::" + Platform.ulongHex(5) + " attr=0x122::010001 attr=0x11:unavail: rv=0x11";
            module.script("C_GetAttributeValue", values);
            module.script("C_GetAttributeValue", "attr=0x11:unavail: rv=0x11");  // CKA_VALUE alone
            module.script("C_GetAttributeValue", "attr=3::00");                  // CKA_ID alone: unknown
            module.script("C_GetAttributeValue", values);
            AttributeValues v = s.read(object, Attr.LABEL, vendor, Attr.PUBLIC_EXPONENT, Attr.VALUE, Attr.ID);
            assertEquals("clé", v.require(Attr.LABEL));
            assertEquals(5L, v.require(vendor));
            assertEquals(BigInteger.valueOf(65537), v.require(Attr.PUBLIC_EXPONENT));
            assertEquals(AttributeValues.Status.SENSITIVE, v.status(Attr.VALUE));
            assertEquals(AttributeValues.Status.UNKNOWN, v.status(Attr.ID));
        }
    }
}
