package zandrop.tesk.pkcs11.vorlen.bench;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.ByteBuffer;

/**
 * The module's own cost, in this process: the benchmark's JNI helper calls the module n times in
 * a native loop, on the module instance, session and keys of the library's figures (the file is
 * already loaded: the library loaded it). The library to load is named by the system property
 * {@code vorlen.bench.loop}.
 */
final class ModuleLoop implements Workloads {
    static {
        System.load(System.getProperty("vorlen.bench.loop"));
    }

    private final long functions;

    ModuleLoop(String modulePath) {
        functions = functionList(modulePath);
    }

    private static native long functionList(String path);

    /** The function list of the module file already loaded at this path. */
    static long functions(String modulePath) {
        return functionList(modulePath);
    }
    private static native void sessionInfo(long f, long session, int n);
    private static native void random32(long f, long session, int n);
    private static native void sign(long f, long session, long mechanism, long key, ByteBuffer data, int n);
    private static native void attributes(long f, long session, long object, long[] types, int n);
    private static native void findObjects(long f, long session, int max, int n);
    private static native void digest(long f, long session, long mechanism, ByteBuffer data, ByteBuffer digest, int n);
    private static native void encrypt(long f, long session, long mechanism, ByteBuffer parameter, long key,
            ByteBuffer data, ByteBuffer output, int n);

    private static ByteBuffer direct(byte[] bytes) {
        return ByteBuffer.allocateDirect(bytes.length).put(bytes).flip();
    }

    @Override
    public Harness.Loop overhead(String workload) {
        ByteBuffer data = ByteBuffer.allocateDirect(32);
        switch (workload) {
            case SESSION_INFO: return n -> sessionInfo(functions, 1, n);
            case RANDOM_32: return n -> random32(functions, 1, n);
            case SIGN_32: return n -> sign(functions, 1, -1, 0, data, n);
            case ATTRIBUTES_5: return n -> attributes(functions, 1, 2, ATTRIBUTE_TYPES, n);
            case FIND_OBJECTS_100: return n -> findObjects(functions, 1, 100, n);
            default: throw new IllegalArgumentException(workload);
        }
    }

    @Override
    public Harness.Loop real(String workload, RealWork w) {
        ByteBuffer hash = direct(w.hash());
        ByteBuffer mebibyte = direct(w.mebibyte());
        ByteBuffer iv = direct(w.iv());
        switch (workload) {
            case SIGN_RSA: return n -> sign(functions, w.session(), CKM_RSA_PKCS, w.rsaKey(), hash, n);
            case SIGN_EC: return n -> sign(functions, w.session(), CKM_ECDSA, w.ecKey(), hash, n);
            case DIGEST_SHA256: {
                ByteBuffer digest = ByteBuffer.allocateDirect(32);
                return n -> digest(functions, w.session(), CKM_SHA256, mebibyte, digest, n);
            }
            case ENCRYPT_AES: {
                ByteBuffer out = ByteBuffer.allocateDirect(w.mebibyte().length + 16);
                return n -> encrypt(functions, w.session(), CKM_AES_CBC, iv, w.aesKey(), mebibyte, out, n);
            }
            default: throw new IllegalArgumentException(workload);
        }
    }
}
