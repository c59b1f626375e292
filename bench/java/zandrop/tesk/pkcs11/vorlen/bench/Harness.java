package zandrop.tesk.pkcs11.vorlen.bench;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A small, careful timing harness (JMH is not packaged for Debian). Competing implementations of
 * one workload are measured interleaved: each is warmed up, its number of calls per run is set
 * so that a run takes about the same time for all, and then the runs take turns, one of each
 * implementation per round, in a new random order each round (none always runs right after
 * the same other one, whose garbage or cache footprint it would inherit). So every implementation
 * sees the same moments of a busy machine. The figure of each is the median over the runs of
 * the mean time per call, with the fastest and slowest runs as its spread.
 *
 * <p>Time is the calling thread's CPU time: on a machine shared with other work, the time the
 * thread waits for a processor is not the workload's cost (the compiler's and the collector's
 * threads are not counted either). Warm-up lasts a minimum time and a minimum number of calls,
 * so that the compiler has seen the loop however busy the machine is.
 */
final class Harness {
    /** n calls of a workload, made one by one in Java or in one native loop. */
    @FunctionalInterface
    interface Loop {
        void run(int n) throws Throwable;
    }

    /** One call of a workload. */
    @FunctionalInterface
    interface Call {
        void run() throws Throwable;
    }

    /** Results stored here escape, so that the compiler cannot drop the work that made them. */
    static Object sink;

    /** ns per call: the median run and the spread of the runs; {@code rounds} in round order. */
    record Stats(double median, double min, double max, double[] rounds) {
        @Override
        public String toString() {
            return String.format("%.1f [%.1f-%.1f]", median, min, max);
        }

        /**
         * The median over the rounds of this figure's run divided by the other's run of the same
         * round: both ran within the same moments of the machine, so its load largely cancels.
         */
        double ratioTo(Stats other) {
            double[] r = new double[rounds.length];
            for (int i = 0; i < r.length; i++) {
                r[i] = rounds[i] / other.rounds[i];
            }
            Arrays.sort(r);
            return r[r.length / 2];
        }
    }

    private static final java.lang.management.ThreadMXBean THREADS =
            java.lang.management.ManagementFactory.getThreadMXBean();
    /** Calls of each loop before it is measured, unless that takes longer than the cap. */
    private static final long WARMUP_CALLS = 20_000;
    private static final long WARMUP_CAP_NANOS = 300_000_000L;

    private final int runs;
    private final long warmupNanos;
    private final long runNanos;

    /** The calling thread's CPU time in ns. */
    static long now() {
        return THREADS.getCurrentThreadCpuTime();
    }

    Harness(int runs, long warmupMillis, long runMillis) {
        this.runs = runs;
        this.warmupNanos = warmupMillis * 1_000_000L;
        this.runNanos = runMillis * 1_000_000L;
    }

    static Loop loop(Call call) {
        return n -> {
            for (int i = 0; i < n; i++) {
                call.run();
            }
        };
    }

    /** The implementations of one workload, measured interleaved. */
    Map<String, Stats> interleaved(Map<String, Loop> loops) throws Throwable {
        List<String> names = new ArrayList<>(loops.keySet());
        int[] iterations = new int[names.size()];
        for (int k = 0; k < names.size(); k++) {
            iterations[k] = calibrate(loops.get(names.get(k)));
        }
        double[][] perCall = new double[names.size()][runs];
        java.util.Random order = new java.util.Random(18);
        List<Integer> turns = new ArrayList<>();
        for (int k = 0; k < names.size(); k++) {
            turns.add(k);
        }
        for (int r = 0; r < runs; r++) {
            java.util.Collections.shuffle(turns, order); // no implementation always follows the same one
            for (int k : turns) {
                Loop loop = loops.get(names.get(k));
                long start = now();
                loop.run(iterations[k]);
                perCall[k][r] = (now() - start) / (double) iterations[k];
            }
        }
        Map<String, Stats> result = new LinkedHashMap<>();
        for (int k = 0; k < names.size(); k++) {
            double[] v = perCall[k].clone();
            Arrays.sort(v);
            result.put(names.get(k), new Stats(v[runs / 2], v[0], v[runs - 1], perCall[k]));
        }
        return result;
    }

    /** Warms the loop up for the warm-up time; returns the calls that fill one run. */
    private int calibrate(Loop loop) throws Throwable {
        int chunk = 1;
        long calls = 0;
        long start = now();
        long elapsed = 0;
        while ((elapsed < warmupNanos || calls < WARMUP_CALLS) && elapsed < WARMUP_CAP_NANOS) {
            loop.run(chunk);
            calls += chunk;
            elapsed = now() - start;
            if (chunk < 10_000) {
                chunk *= 2;
            }
        }
        double nsPerCall = elapsed / (double) calls;
        return (int) Math.max(1, Math.min(50_000_000, runNanos / nsPerCall));
    }

    /**
     * Median nanoseconds per call with {@code threads} threads calling at once: the time a call
     * takes divided by the number of threads, so that perfect scaling halves it.
     */
    double measureParallel(int threads, int warmup, int iterations, Call call) throws Throwable {
        double[] perCall = new double[runs];
        for (int r = -1; r < runs; r++) {
            Thread[] workers = new Thread[threads];
            Throwable[] failure = new Throwable[1];
            final int count = r < 0 ? warmup : iterations;
            java.util.concurrent.CyclicBarrier barrier = new java.util.concurrent.CyclicBarrier(threads + 1);
            for (int t = 0; t < threads; t++) {
                workers[t] = new Thread(() -> {
                    try {
                        barrier.await();
                        for (int i = 0; i < count; i++) {
                            call.run();
                        }
                        barrier.await();
                    } catch (Throwable e) {
                        failure[0] = e;
                    }
                });
                workers[t].start();
            }
            barrier.await();
            long start = System.nanoTime();
            barrier.await();
            long elapsed = System.nanoTime() - start;
            for (Thread worker : workers) {
                worker.join();
            }
            if (failure[0] != null) {
                throw failure[0];
            }
            if (r >= 0) {
                perCall[r] = elapsed / (double) count / threads;
            }
        }
        Arrays.sort(perCall);
        return perCall[runs / 2];
    }
}
