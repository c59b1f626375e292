package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicReference;

import zandrop.tesk.pkcs11.vorlen.testmodule.TestModule;

/** Paths of the test modules the build made, and connected objects for tests. */
final class TestModules {
    private TestModules() {
    }

    static String path(String property) {
        String path = System.getProperty(property);
        if (path == null) {
            throw new IllegalStateException("system property " + property + " is not set (run the tests through ctest)");
        }
        return path;
    }

    /** The first scriptable module file. */
    static String first() {
        return path("vorlen.testmodule");
    }

    /** A second, independent module file (its own state). */
    static String second() {
        return path("vorlen.testmodule2");
    }

    /** The module file that also exports C_GetInterfaceList and C_GetInterface (3.0). */
    static String v3() {
        return path("vorlen.testmodule.v3");
    }

    /** Control of the 3.0 module, reset to its built-in behaviour. */
    static TestModule v3Module() {
        return control(v3());
    }

    /** A library that exports no C_GetFunctionList. */
    static String withoutFunctionList() {
        return path("vorlen.testmodule.nogfl");
    }

    /** Control of the first module, reset to its built-in behaviour. */
    static TestModule firstModule() {
        return control(first());
    }

    /** Control of the second module, reset to its built-in behaviour. */
    static TestModule secondModule() {
        return control(second());
    }

    /** Control of the module file, reset to its built-in behaviour. */
    static TestModule control(String path) {
        TestModule module = TestModule.load(path);
        module.reset();
        return module;
    }

    /** A body that may throw, run on a thread of its own. */
    interface ThrowingRunnable {
        void run() throws Exception;
    }

    /** Starts a thread that runs the body; the first thread's failure of those sharing it is kept in failure. */
    static Thread start(String name, ThrowingRunnable body, AtomicReference<Throwable> failure) {
        Thread thread = new Thread(() -> {
            try {
                body.run();
            } catch (Throwable t) {
                failure.compareAndSet(null, t);
            }
        }, name);
        thread.start();
        return thread;
    }

    /**
     * Threads that each repeat their round until stopped. A round's throwable is a failure: it is
     * kept, and ends that thread.
     */
    static final class Crowd {
        final AtomicBoolean stop = new AtomicBoolean();
        final ConcurrentLinkedQueue<Throwable> failures = new ConcurrentLinkedQueue<>();
        private final List<Thread> threads = new ArrayList<>();

        void repeat(String name, ThrowingRunnable round) {
            threads.add(new Thread(() -> {
                try {
                    while (!stop.get()) {
                        round.run();
                    }
                } catch (Throwable t) {
                    failures.add(t);
                }
            }, name));
        }

        /** Runs the threads for the given time (less if one fails), then stops them and waits for them. */
        void runFor(long millis) throws InterruptedException {
            threads.forEach(Thread::start);
            long deadline = System.nanoTime() + millis * 1_000_000L;
            while (System.nanoTime() < deadline && failures.isEmpty()) {
                Thread.sleep(20);
            }
            stop.set(true);
            for (Thread thread : threads) {
                thread.join();
            }
        }
    }

    /** Waits up to 10 s for the module's record to hold {@code count} calls of the function, and asserts it does. */
    static void awaitCount(TestModule module, String function, int count) throws InterruptedException {
        for (int i = 0; i < 2000 && module.count(function) < count; i++) {
            Thread.sleep(5);
        }
        assertEquals(count, module.count(function), function + " reached the module");
    }

    /** Whether the module file is mapped into this process. */
    static boolean mapped(String path) throws IOException {
        String real = Path.of(path).toRealPath().toString();
        return Files.readAllLines(Path.of("/proc/self/maps")).stream().anyMatch(line -> line.endsWith(real));
    }

    /** A body run with an object of its own. */
    interface WithConnection {
        void run(PKCS11Impl object) throws Exception;
    }

    /** Runs the body on a new object connected to the module file, and disconnects the object after it. */
    static void withConnection(String path, WithConnection body) throws Exception {
        PKCS11Impl object = connected(path);
        try {
            body.run(object);
        } finally {
            object.disconnect();
        }
    }

    /** A new object connected to the given module file. */
    static PKCS11Impl connected(String path) throws Exception {
        PKCS11Impl pkcs11 = new PKCS11Impl();
        pkcs11.connect(path);
        return pkcs11;
    }
}
