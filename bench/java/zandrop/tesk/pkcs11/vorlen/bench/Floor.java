package zandrop.tesk.pkcs11.vorlen.bench;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.CK_SESSION_INFO;

/**
 * The floor of the overhead workloads: for each, the cheapest JNI native method that returns
 * the same Java result as the library (bench/native/floor.cpp, in the benchmark's JNI helper).
 * Each reads the module's function list from a field of this object, as the library reads its
 * binding handle, and calls the module instance that the library loaded.
 */
final class Floor implements Workloads {
    static {
        System.load(System.getProperty("vorlen.bench.loop"));
        if (!init()) {
            throw new IllegalStateException("the floor's JNI helper could not set itself up");
        }
    }

    /** Read by every native method, as the library's binding handle is. */
    private final long functions;

    Floor(String modulePath) {
        functions = ModuleLoop.functions(modulePath);
    }

    private static native boolean init();
    native CK_SESSION_INFO sessionInfo(long session);
    native void random(long session, byte[] out);
    native byte[] sign(long session, byte[] data);
    native long[] findObjects(long session, int max);
    native void attributes(long session, long object, CK_ATTRIBUTE[] template);

    @Override
    public Harness.Loop overhead(String workload) {
        byte[] random = new byte[32];
        byte[] data = new byte[32];
        CK_ATTRIBUTE[] template = Workloads.attributeTemplate();
        switch (workload) {
            case SESSION_INFO: return Harness.loop(() -> Harness.sink = sessionInfo(1));
            case RANDOM_32: return Harness.loop(() -> random(1, random));
            case SIGN_32: return Harness.loop(() -> Harness.sink = sign(1, data));
            case ATTRIBUTES_5: return Harness.loop(() -> {
                Workloads.clearValues(template);
                attributes(1, 2, template);
            });
            case FIND_OBJECTS_100: return Harness.loop(() -> Harness.sink = findObjects(1, 100));
            default: throw new IllegalArgumentException(workload);
        }
    }

    @Override
    public Harness.Loop real(String workload, RealWork work) {
        throw new UnsupportedOperationException("the floor covers the overhead workloads only");
    }
}
