package zandrop.tesk.pkcs11.vorlen.api;

import java.io.File;

/**
 * The fault injector of testmodule/jnicount: it makes the n-th call of a JNI function (or of any
 * JNI function that can fail for want of memory) fail as the VM fails it, on the calling thread
 * and on threads attached meanwhile; or the n-th heap block that the library asks for. Only usable where {@link #load()} returned true.
 */
final class JniFaults {
    private JniFaults() {
    }

    /** Loads the injector; false when the build made none (Windows). */
    static boolean load() {
        File injector = new File(TestModules.path("vorlen.build.dir"),
                "testmodule/" + System.mapLibraryName("vorlenjnicounter"));
        if (!injector.isFile()) {
            return false;
        }
        System.load(injector.getAbsolutePath());
        return true;
    }

    /**
     * Arms the injector: the n-th call of {@code function} (null: of every function that can
     * fail) fails; n = 0 only counts the calls. {@code "heapAlloc"} counts and refuses the
     * library's heap blocks instead. A negative n fails the (-n)-th call and every later one.
     */
    static native void arm(String function, long n);

    /** Disarms the injector; returns the number of calls of the armed kind it saw. */
    static native long disarm();

    /** The function whose call failed, with "@thread" when on an attached thread; or null. */
    static native String failed();
}
