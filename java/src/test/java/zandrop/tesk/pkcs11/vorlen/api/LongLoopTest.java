package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.lang.reflect.Method;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.TestModule;

/**
 * A long loop of every PKCS#11 method: the library's native heap blocks and global references
 * end where they started, and the process's resident memory stays flat once warmed up.
 */
class LongLoopTest {
    private static final int WARMUP_ROUNDS = 2000;
    private static final int ROUNDS = Integer.getInteger("vorlen.loop.rounds", 12000);

    private static long residentKiB() throws Exception {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        throw new IllegalStateException("no VmRSS in /proc/self/status");
    }

    private static void rounds(TestModule module, PKCS11Impl pkcs11, List<Method> methods, int count)
            throws Exception {
        CK_NOTIFY notify = (session, event, application) -> { };
        for (int round = 0; round < count; round++) {
            long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "app", notify);
            for (Method method : methods) {
                String name = method.getName();
                if (!name.equals("C_WaitForSlotEvent") && !name.startsWith("C_Close")) {
                    AllMethods.call(method, pkcs11, session);
                }
            }
            pkcs11.C_CloseSession(session);
            if (round % 200 == 199) {
                module.clear(); // the test module's own record must not grow
            }
        }
    }

    @Test
    void memoryStaysFlatOverALongLoopOfEveryMethod() throws Exception {
        TestModule module = TestModules.firstModule();
        String wrap = Long.toUnsignedString(CKA_WRAP_TEMPLATE);
        module.setDefault("C_GetAttributeValue", "attr=3::6b6579 attr=" + CKA_VALUE + "::0102 attr=" + wrap
                + ":: nested=" + wrap + ":0::" + Platform.ulongHex(CKO_SECRET_KEY)
                + " nested=" + wrap + ":3::6b6579");
        PKCS11Impl pkcs11 = TestModules.connected(TestModules.first());
        List<Method> methods = AllMethods.pkcs11Methods();
        rounds(module, pkcs11, methods, WARMUP_ROUNDS);
        System.gc();
        long blocks = PKCS11Impl.heapBlockCount();
        long refs = PKCS11Impl.globalReferenceCount();
        long residentBefore = residentKiB();
        long javaHeapBefore = Runtime.getRuntime().totalMemory() / 1024;
        rounds(module, pkcs11, methods, ROUNDS);
        System.gc();
        long residentAfter = residentKiB();
        long javaHeapAfter = Runtime.getRuntime().totalMemory() / 1024;
        long calls = (long) ROUNDS * (methods.size() - 2);
        System.out.printf("long loop: %d rounds, %d calls; resident %d KiB -> %d KiB, Java heap %d KiB -> %d KiB%n",
                ROUNDS, calls, residentBefore, residentAfter, javaHeapBefore, javaHeapAfter);
        assertEquals(blocks, PKCS11Impl.heapBlockCount(), "native heap blocks");
        assertEquals(refs, PKCS11Impl.globalReferenceCount(), "global references");
        // A leak of even one small block per call would add megabytes over this many calls.
        // Under AddressSanitizer freed memory waits in its quarantine, so resident memory says
        // nothing there; the counters above still do.
        String preload = System.getenv().getOrDefault("LD_PRELOAD", "");
        if (!preload.contains("libasan")) {
            assertTrue(residentAfter - residentBefore < 24 * 1024,
                    "resident memory grew by " + (residentAfter - residentBefore) + " KiB");
        }
        pkcs11.disconnect();
    }
}
