package zandrop.tesk.pkcs11.vorlen.bench;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

import zandrop.tesk.pkcs11.vorlen.api.CK_C_INITIALIZE_ARGS;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

/**
 * The benchmark: the same workloads through this library, through a JNA direct-mapped peer,
 * through an FFM peer (on a JDK 22 or later) and as the module's own loop in this process
 * ({@link ModuleLoop}), all on one module instance and, for the real work, on one session and
 * the same keys; the implementations of each workload are measured interleaved
 * ({@link Harness#interleaved}). Printed as one table with the spread of the runs.
 *
 * <p>Usage: {@code Bench <overhead module> [<softhsm module> <pin>]}, with the system property
 * {@code vorlen.bench.loop} naming the benchmark's JNI helper.
 */
public final class Bench {
    private static final String MODULE = "module";
    private static final String LIBRARY = "library";
    private static final String JNA = "JNA";
    private static final String FFM = "FFM";
    private static final String FLOOR = "floor";
    private static final String DIRECT = "library, direct buffers";
    private static final String[] COLUMNS = {MODULE, LIBRARY, FLOOR, JNA, FFM};

    /** Rounds of every workload: the system property vorlen.bench.rounds, 41 by default. */
    private static final int RUNS = Integer.getInteger("vorlen.bench.rounds", 41);
    private final Harness harness = new Harness(RUNS, 100, 10);
    private final Map<String, Map<String, Harness.Stats>> rows = new LinkedHashMap<>();
    private final List<String> notes = new ArrayList<>();

    private Bench() {
    }

    public static void main(String[] args) throws Throwable {
        if (args.length != 1 && args.length != 3) {
            System.err.println("usage: Bench <overhead module> [<softhsm module> <pin>]");
            System.exit(2);
        }
        Bench bench = new Bench();
        bench.overhead(args[0]);
        if (args.length == 3) {
            bench.realWork(args[1], args[2].toCharArray());
        }
        bench.print();
    }

    /** The FFM peer on this module, or null (with a note) when this JDK has no FFM API. */
    private Workloads ffm(String path) {
        if (Runtime.version().feature() < 22) {
            return null;
        }
        try {
            return (Workloads) Class.forName("zandrop.tesk.pkcs11.vorlen.bench.FfmWorkloads")
                    .getConstructor(String.class).newInstance(path);
        } catch (ReflectiveOperationException | LinkageError e) {
            notes.add("FFM peer not measured: " + e);
            return null;
        }
    }

    /**
     * Measures the loops interleaved; the library through direct buffers, when among them, gets
     * a row of its own beside the same module figures.
     */
    private void measureWithDirect(String row, Map<String, Harness.Loop> loops) throws Throwable {
        Map<String, Harness.Stats> stats = harness.interleaved(loops);
        Harness.Stats direct = stats.remove(DIRECT);
        rows.put(row, stats);
        if (direct != null) {
            Map<String, Harness.Stats> directRow = new LinkedHashMap<>();
            directRow.put(MODULE, stats.get(MODULE));
            directRow.put(LIBRARY, direct);
            rows.put(row + " (direct buffers)", directRow);
        }
    }

    // ---- the overhead module ----

    private void overhead(String path) throws Throwable {
        PKCS11Impl pkcs11 = new PKCS11Impl(path);
        pkcs11.C_Initialize(null);
        LibraryWorkloads library = new LibraryWorkloads(pkcs11);
        ModuleLoop module = new ModuleLoop(path);
        JnaOverhead.bind(path);
        JnaWorkloads jna = new JnaWorkloads();
        Workloads ffm = ffm(path);
        Floor floor = new Floor(path);
        SameResults.check(pkcs11, floor);
        for (String workload : Workloads.OVERHEAD) {
            Map<String, Harness.Loop> loops = new LinkedHashMap<>();
            loops.put(MODULE, module.overhead(workload));
            loops.put(LIBRARY, library.overhead(workload));
            loops.put(FLOOR, floor.overhead(workload));
            loops.put(JNA, jna.overhead(workload));
            if (ffm != null) {
                loops.put(FFM, ffm.overhead(workload));
            }
            if (workload.equals(Workloads.SIGN_32)) {
                loops.put(DIRECT, library.directSign32());
            }
            measureWithDirect("overhead." + workload, loops);
        }

        // Scale: other objects connected, and threads calling at once.
        List<PKCS11Impl> others = new ArrayList<>();
        for (int n : new int[] {0, 1, 10, 100, 1000}) {
            while (others.size() < n) {
                others.add(new PKCS11Impl(path));
            }
            Harness.Stats s = harness.interleaved(Map.of(LIBRARY, library.overhead(Workloads.SESSION_INFO)))
                    .get(LIBRARY);
            notes.add(String.format("C_GetSessionInfo with %4d other objects connected: %s ns", n, s));
        }
        for (PKCS11Impl other : others) {
            other.disconnect();
        }
        double one = harness.measureParallel(1, 50_000, 300_000, () -> pkcs11.C_GetSessionInfo(1));
        double two = harness.measureParallel(2, 50_000, 300_000, () -> pkcs11.C_GetSessionInfo(1));
        notes.add("threads (wall-clock time, so only as good as the machine is idle):");
        notes.add(String.format("C_GetSessionInfo, 1 thread:  %8.1f ns per call", one));
        notes.add(String.format("C_GetSessionInfo, 2 threads: %8.1f ns per call (throughput x%.2f)", two, one / two));
        byte[] data = new byte[32];
        double sign1 = harness.measureParallel(1, 50_000, 300_000, () -> pkcs11.C_Sign(1, data));
        double sign2 = harness.measureParallel(2, 50_000, 300_000, () -> pkcs11.C_Sign(1, data));
        notes.add(String.format("C_Sign32, 1 thread:  %8.1f ns per call", sign1));
        notes.add(String.format("C_Sign32, 2 threads: %8.1f ns per call (throughput x%.2f)", sign2, sign1 / sign2));
        pkcs11.disconnect();
    }

    // ---- real work on SoftHSM2 ----

    private void realWork(String path, char[] pin) throws Throwable {
        PKCS11Impl pkcs11 = new PKCS11Impl(path);
        pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
        Workloads.RealWork work = Workloads.RealWork.create(pkcs11, pin);

        LibraryWorkloads library = new LibraryWorkloads(pkcs11);
        ModuleLoop module = new ModuleLoop(path);
        JnaWorkloads jna = null;
        try {
            JnaSoftHsm.bind(path);
            jna = new JnaWorkloads();
        } catch (RuntimeException | LinkageError e) {
            notes.add("JNA peer on SoftHSM2 not measured: " + e);
        }
        Workloads ffm = ffm(path);
        for (String workload : Workloads.REAL) {
            Map<String, Harness.Loop> loops = new LinkedHashMap<>();
            loops.put(MODULE, module.real(workload, work));
            loops.put(LIBRARY, library.real(workload, work));
            if (jna != null) {
                loops.put(JNA, jna.real(workload, work));
            }
            if (ffm != null) {
                loops.put(FFM, ffm.real(workload, work));
            }
            Harness.Loop direct = library.direct(workload, work);
            if (direct != null) {
                loops.put(DIRECT, direct);
            }
            measureWithDirect("real." + workload, loops);
        }
        pkcs11.C_Logout(work.session());
        pkcs11.C_CloseSession(work.session());
        pkcs11.C_Finalize(null);
        pkcs11.disconnect();
    }

    // ---- the table ----

    private static String cell(Map<String, Harness.Stats> row, String column) {
        Harness.Stats s = row.get(column);
        return s == null ? "-" : s.toString();
    }

    private static String ratio(Map<String, Harness.Stats> row, String a, String b) {
        Harness.Stats x = row.get(a);
        Harness.Stats y = row.get(b);
        return x == null || y == null ? "-" : String.format("%.2f", x.ratioTo(y));
    }

    private void print() {
        System.out.printf("Java %s (%s), %d processors; ns of the calling thread's CPU time per call,"
                + " median of %d interleaved runs [fastest-slowest]; ratios are medians of the per-round ratios%n",
                Runtime.version(), System.getProperty("java.vm.name"), Runtime.getRuntime().availableProcessors(), RUNS);
        System.out.printf("%-46s %-24s %-24s %-24s %-24s %-24s %10s %10s %9s %8s %8s%n", "workload", "module (same process)",
                "library", "floor", "JNA", "FFM", "lib-module", "lib/module", "lib/floor", "lib/FFM", "lib/JNA");
        for (Map.Entry<String, Map<String, Harness.Stats>> row : rows.entrySet()) {
            Map<String, Harness.Stats> v = row.getValue();
            String difference = v.containsKey(MODULE) && v.containsKey(LIBRARY)
                    ? String.format("%.1f", v.get(LIBRARY).median() - v.get(MODULE).median()) : "-";
            System.out.printf("%-46s %-24s %-24s %-24s %-24s %-24s %10s %10s %9s %8s %8s%n", row.getKey(),
                    cell(v, COLUMNS[0]), cell(v, COLUMNS[1]), cell(v, COLUMNS[2]), cell(v, COLUMNS[3]),
                    cell(v, COLUMNS[4]), difference, ratio(v, LIBRARY, MODULE), ratio(v, LIBRARY, FLOOR),
                    ratio(v, LIBRARY, FFM), ratio(v, LIBRARY, JNA));
        }
        if (Runtime.version().feature() < 22) {
            System.out.println("FFM: not measured on this JDK (the FFM API is final from JDK 22)");
        }
        System.out.printf("%nscale and notes:%n");
        for (String line : notes) {
            System.out.println("  " + line);
        }
    }
}
