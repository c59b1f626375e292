package zandrop.tesk.pkcs11.vorlen.bench;

import java.util.Arrays;

/**
 * A small, careful timing harness (JMH is not packaged for Debian): a warm-up, then several runs
 * of many calls each; the result is the median over the runs of the mean time per call.
 */
final class Harness {
    /** One call of a workload. */
    @FunctionalInterface
    interface Call {
        void run() throws Exception;
    }

    private final int warmup;
    private final int runs;
    private final int iterations;

    Harness(int warmup, int runs, int iterations) {
        this.warmup = warmup;
        this.runs = runs;
        this.iterations = iterations;
    }

    /** Median nanoseconds per call. */
    double measure(Call call) throws Exception {
        for (int i = 0; i < warmup; i++) {
            call.run();
        }
        double[] perCall = new double[runs];
        for (int r = 0; r < runs; r++) {
            long start = System.nanoTime();
            for (int i = 0; i < iterations; i++) {
                call.run();
            }
            perCall[r] = (System.nanoTime() - start) / (double) iterations;
        }
        Arrays.sort(perCall);
        return perCall[runs / 2];
    }

    /**
     * Median nanoseconds per call with {@code threads} threads calling at once: the time a call
     * takes divided by the number of threads, so that perfect scaling halves it.
     */
    double measureParallel(int threads, Call call) throws Exception {
        double[] perCall = new double[runs];
        for (int r = -1; r < runs; r++) {
            Thread[] workers = new Thread[threads];
            Exception[] failure = new Exception[1];
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
                    } catch (Exception e) {
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
