package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.LongAdder;

import org.junit.jupiter.api.Test;

/**
 * C_Finalize and C_Initialize, round after round, while eight threads open and close sessions on
 * SoftHSM2: C_Finalize waits for the calls inside the module, and calls that arrive meanwhile are
 * refused with CKR_CRYPTOKI_NOT_INITIALIZED. Nothing may crash; every call ends in a result or a
 * PKCS11Exception.
 */
class RealSoftHsmFinalizeTest {
    private static final int ROUNDS = Integer.getInteger("vorlen.finalize.rounds", 1000);
    private static final int THREADS = Integer.getInteger("vorlen.finalize.threads", 8);

    @Test
    void finalizeAndInitializeAgainstEightCallingThreads() throws Exception {
        long blocksBefore = PKCS11Impl.heapBlockCount();
        // The token's lasting slot ID, which SoftHSM2 gives it when it is initialised again.
        long slot = RealSoftHsmToken.initialiseAlone("vorlen finalize");
        PKCS11Impl pkcs11 = new PKCS11Impl(RealModules.softHsm2());
        CK_C_INITIALIZE_ARGS args = new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK);
        pkcs11.C_Initialize(args);

        AtomicBoolean stop = new AtomicBoolean();
        Map<Long, LongAdder> outcomes = new ConcurrentHashMap<>();  // CK_RV (0 = CKR_OK) -> calls
        ConcurrentLinkedQueue<Throwable> failures = new ConcurrentLinkedQueue<>();
        Map<Long, Long> ownOutcomes = new TreeMap<>();  // the finalizing thread's failures
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            threads.add(new Thread(() -> {
                while (!stop.get()) {
                    long rv = CKR_OK;
                    try {
                        long session = pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION, null, null);
                        pkcs11.C_GetSessionInfo(session);
                        pkcs11.C_CloseSession(session);
                    } catch (PKCS11Exception e) {
                        rv = e.getErrorCode();
                    } catch (Throwable e) {
                        failures.add(e);
                        return;
                    }
                    outcomes.computeIfAbsent(rv, k -> new LongAdder()).increment();
                }
            }, "caller " + t));
        }
        long started = System.nanoTime();
        threads.forEach(Thread::start);
        try {
            for (int round = 0; round < ROUNDS; round++) {
                pkcs11.C_Finalize(null);
                pkcs11.C_Initialize(args);
                // Initialised again: the module serves this thread as before.
                try {
                    pkcs11.C_CloseSession(pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION, null, null));
                } catch (PKCS11Exception e) {
                    ownOutcomes.merge(e.getErrorCode(), 1L, Long::sum);
                }
            }
        } finally {
            stop.set(true);
            for (Thread thread : threads) {
                thread.join();
            }
        }
        long millis = (System.nanoTime() - started) / 1_000_000;
        Map<String, Long> byCode = new TreeMap<>();
        outcomes.forEach((rv, count) -> byCode.put(rv == CKR_OK ? "CKR_OK" : "0x" + Long.toHexString(rv), count.sum()));
        System.out.println("C_Finalize/C_Initialize rounds: " + ROUNDS + ", " + THREADS + " threads, "
                + byCode.values().stream().mapToLong(Long::longValue).sum() + " session rounds in " + millis
                + " ms, outcomes " + byCode + "; the finalizing thread's own failures " + ownOutcomes);
        assertTrue(failures.isEmpty(), () -> "unexpected failures: " + failures);
        assertTrue(ownOutcomes.isEmpty(), () -> "after C_Initialize: " + ownOutcomes);
        for (long rv : outcomes.keySet()) {
            assertTrue(rv == CKR_OK || rv == CKR_CRYPTOKI_NOT_INITIALIZED || rv == CKR_SESSION_HANDLE_INVALID
                    || rv == CKR_SESSION_CLOSED, () -> "unexpected code 0x" + Long.toHexString(rv));
        }
        assertTrue(outcomes.containsKey(CKR_OK), "the callers got through between the rounds");
        assertTrue(outcomes.containsKey(CKR_CRYPTOKI_NOT_INITIALIZED), "and were refused while the module was finalised");
        pkcs11.C_Finalize(null);
        pkcs11.disconnect();
        assertEquals(blocksBefore, PKCS11Impl.heapBlockCount(), "every native block was freed");
    }
}
