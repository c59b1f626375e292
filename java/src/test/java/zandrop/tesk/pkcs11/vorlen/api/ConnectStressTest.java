package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Arrays;
import java.util.Random;
import java.util.concurrent.atomic.AtomicLong;
import java.util.stream.Stream;

import org.junit.jupiter.api.Test;

/**
 * Threads call into modules while others connect, rebind and disconnect the same objects.
 * This class never loads the test modules' control library, so the last disconnect really
 * unloads a module file: a call that ran into an unloaded module would crash the JVM, and the
 * module itself aborts when it is unloaded with a call still inside it.
 */
class ConnectStressTest {
    private static final long DURATION_MILLIS = 3000;

    @Test
    void callsRaceWithConnectAndDisconnect() throws Exception {
        PKCS11Impl.initializeLibrary();
        String[] modules = {TestModules.first(), TestModules.second()};
        PKCS11Impl[] objects = Stream.generate(PKCS11Impl::new).limit(6).toArray(PKCS11Impl[]::new);
        long globalRefsBefore = PKCS11Impl.globalReferenceCount();

        AtomicLong completed = new AtomicLong();
        AtomicLong notConnected = new AtomicLong();
        AtomicLong connects = new AtomicLong();
        TestModules.Crowd crowd = new TestModules.Crowd();
        for (int t = 0; t < 4; t++) {
            Random random = new Random(1000 + t);
            crowd.repeat("caller-" + t, () -> {
                PKCS11Impl target = objects[random.nextInt(objects.length)];
                try {
                    if (random.nextBoolean()) {
                        target.C_Initialize(null);
                    } else {
                        target.C_Finalize(null);
                    }
                    completed.incrementAndGet();
                } catch (PKCS11RuntimeException e) {
                    if (!ConnectedToTestModule.NOT_CONNECTED.equals(e.getMessage())) {
                        throw e;
                    }
                    notConnected.incrementAndGet();
                }
            });
        }
        for (int t = 0; t < 2; t++) {
            Random random = new Random(2000 + t);
            crowd.repeat("connector-" + t, () -> {
                PKCS11Impl target = objects[random.nextInt(objects.length)];
                if (random.nextInt(3) == 0) {
                    target.disconnect();
                } else {
                    target.connect(modules[random.nextInt(modules.length)]);
                    connects.incrementAndGet();
                }
            });
        }
        crowd.runFor(DURATION_MILLIS);
        Arrays.stream(objects).forEach(PKCS11Impl::disconnect);

        assertTrue(crowd.failures.isEmpty(), () -> "unexpected failures: " + crowd.failures);
        assertTrue(completed.get() > 0, "some calls reached a module");
        assertTrue(notConnected.get() > 0, "some calls met an unbound object");
        assertTrue(connects.get() > 0, "objects were connected");
        assertEquals(globalRefsBefore, PKCS11Impl.globalReferenceCount(), "no global reference leaked");
        // Rebinding keeps the earlier module loaded; a fresh object connected and disconnected
        // alone shows that the last disconnect unloads its module file.
        String path = TestModules.path("vorlen.testmodule.unload");
        PKCS11Impl alone = TestModules.connected(path);
        assertTrue(TestModules.mapped(path), "connected module is mapped");
        alone.C_Finalize(null);
        alone.disconnect();
        assertFalse(TestModules.mapped(path), "the module is unloaded after the last disconnect");
    }
}
