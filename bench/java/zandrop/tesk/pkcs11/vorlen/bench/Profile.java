package zandrop.tesk.pkcs11.vorlen.bench;

import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

/**
 * Runs one overhead workload of the library a given number of times on the benchmark module,
 * for a profiler that counts instructions (valgrind --tool=callgrind), whose counts repeat from
 * run to run where times on a shared machine do not:
 *
 * <pre>
 * valgrind --tool=callgrind --toggle-collect='Java_*PKCS11Impl_C_1*' --toggle-collect='Java_*bufferCall' \
 *     java -cp vorlen-bench.jar:vorlen-pkcs11.jar zandrop.tesk.pkcs11.vorlen.bench.Profile \
 *     libvorlenbenchmodule.so C_GetAttributeValue5 10000
 * </pre>
 *
 * Instructions inside the library's native methods, divided by the count, are the library's
 * native cost per call (the JNI functions it calls included, the VM's transition not).
 */
public final class Profile {
    private Profile() {
    }

    public static void main(String[] args) throws Throwable {
        PKCS11Impl pkcs11 = new PKCS11Impl(args[0]);
        pkcs11.C_Initialize(null);
        LibraryWorkloads library = new LibraryWorkloads(pkcs11);
        String workload = args[1];
        int count = Integer.parseInt(args[2]);
        Harness.Loop loop = workload.equals("C_Sign32 (direct buffers)") ? library.directSign32()
                : library.overhead(workload);
        loop.run(count);
        pkcs11.disconnect();
    }
}
