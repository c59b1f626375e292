package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicLong;

import org.junit.jupiter.api.Test;

/**
 * Threads call into modules while others connect, rebind and disconnect the same objects.
 * This class never loads the test modules' control library, so the last disconnect really
 * unloads a module file: a call that ran into an unloaded module would crash the JVM, and the
 * module itself aborts when it is unloaded with a call still inside it.
 */
class ConnectStressTest {
    private static final long DURATION_MILLIS = 3000;

    private static boolean mapped(String path) throws Exception {
        String real = Path.of(path).toRealPath().toString();
        return Files.readAllLines(Path.of("/proc/self/maps")).stream().anyMatch(line -> line.endsWith(real));
    }

    @Test
    void callsRaceWithConnectAndDisconnect() throws Exception {
        PKCS11Impl.initializeLibrary();
        String[] modules = {TestModules.first(), TestModules.second()};
        PKCS11Impl[] objects = new PKCS11Impl[6];
        for (int i = 0; i < objects.length; i++) {
            objects[i] = new PKCS11Impl();
        }
        long globalRefsBefore = PKCS11Impl.globalReferenceCount();

        AtomicBoolean stop = new AtomicBoolean();
        AtomicLong completed = new AtomicLong();
        AtomicLong notConnected = new AtomicLong();
        AtomicLong connects = new AtomicLong();
        ConcurrentLinkedQueue<Throwable> failures = new ConcurrentLinkedQueue<>();
        List<Thread> threads = new ArrayList<>();

        for (int t = 0; t < 4; t++) {
            final long seed = 1000 + t;
            threads.add(new Thread(() -> {
                Random random = new Random(seed);
                while (!stop.get()) {
                    PKCS11Impl target = objects[random.nextInt(objects.length)];
                    try {
                        if (random.nextBoolean()) {
                            target.C_Initialize(null);
                        } else {
                            target.C_Finalize(null);
                        }
                        completed.incrementAndGet();
                    } catch (PKCS11RuntimeException e) {
                        if (!"This object is not connected to a module.".equals(e.getMessage())) {
                            failures.add(e);
                        }
                        notConnected.incrementAndGet();
                    } catch (Throwable e) {
                        failures.add(e);
                    }
                }
            }, "caller-" + t));
        }
        for (int t = 0; t < 2; t++) {
            final long seed = 2000 + t;
            threads.add(new Thread(() -> {
                Random random = new Random(seed);
                while (!stop.get()) {
                    PKCS11Impl target = objects[random.nextInt(objects.length)];
                    try {
                        if (random.nextInt(3) == 0) {
                            target.disconnect();
                        } else {
                            target.connect(modules[random.nextInt(modules.length)]);
                            connects.incrementAndGet();
                        }
                    } catch (Throwable e) {
                        failures.add(e);
                    }
                }
            }, "connector-" + t));
        }
        threads.forEach(Thread::start);
        Thread.sleep(DURATION_MILLIS);
        stop.set(true);
        for (Thread thread : threads) {
            thread.join();
        }
        for (PKCS11Impl object : objects) {
            object.disconnect();
        }

        assertTrue(failures.isEmpty(), () -> "unexpected failures: " + failures);
        assertTrue(completed.get() > 0, "some calls reached a module");
        assertTrue(notConnected.get() > 0, "some calls met an unbound object");
        assertTrue(connects.get() > 0, "objects were connected");
        assertEquals(globalRefsBefore, PKCS11Impl.globalReferenceCount(), "no global reference leaked");
        // Rebinding keeps the earlier module loaded; a fresh object connected and disconnected
        // alone shows that the last disconnect unloads its module file.
        PKCS11Impl alone = new PKCS11Impl();
        String path = TestModules.path("vorlen.testmodule.unload");
        alone.connect(path);
        assertTrue(mapped(path), "connected module is mapped");
        alone.C_Finalize(null);
        alone.disconnect();
        assertFalse(mapped(path), "the module is unloaded after the last disconnect");
    }
}
