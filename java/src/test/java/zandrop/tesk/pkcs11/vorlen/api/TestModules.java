package zandrop.tesk.pkcs11.vorlen.api;

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

    /** A new object connected to the given module file. */
    static PKCS11Impl connected(String path) throws Exception {
        PKCS11Impl pkcs11 = new PKCS11Impl();
        pkcs11.connect(path);
        return pkcs11;
    }
}
