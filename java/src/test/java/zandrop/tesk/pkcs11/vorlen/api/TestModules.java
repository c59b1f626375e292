package zandrop.tesk.pkcs11.vorlen.api;

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
        TestModule module = TestModule.load(v3());
        module.reset();
        return module;
    }

    /** A library that exports no C_GetFunctionList. */
    static String withoutFunctionList() {
        return path("vorlen.testmodule.nogfl");
    }

    /** Control of the first module, reset to its built-in behaviour. */
    static TestModule firstModule() {
        TestModule module = TestModule.load(first());
        module.reset();
        return module;
    }

    /** Control of the second module, reset to its built-in behaviour. */
    static TestModule secondModule() {
        TestModule module = TestModule.load(second());
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

    /** A new object connected to the given module file. */
    static PKCS11Impl connected(String path) throws Exception {
        PKCS11Impl pkcs11 = new PKCS11Impl();
        pkcs11.connect(path);
        return pkcs11;
    }
}
