package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.File;
import java.nio.ByteBuffer;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.TreeMap;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * The JNI calls each benchmark workload makes per call, counted by a wrapper of the JNI function
 * table (testmodule/jnicount), on the benchmark module, whose entries return at once. Each shape
 * has a budget of calls, stated per JNI function: a change that adds a lookup, a check or an
 * object to a hot path fails here. docs/design.md has the same table.
 */
class JniCallBudgetTest {
    private static final int CALLS = 200;
    private static PKCS11Impl pkcs11;

    private static native void startCounting();

    private static native String stopCounting();

    @BeforeAll
    static void loadCounterAndConnect() throws Exception {
        String build = TestModules.path("vorlen.build.dir");
        File counter = new File(build, "testmodule/" + System.mapLibraryName("vorlenjnicounter"));
        File benchModule = new File(build, "bench/" + System.mapLibraryName("vorlenbenchmodule"));
        Assumptions.assumeTrue(counter.isFile() && benchModule.isFile(), "no counter or benchmark module built");
        System.load(counter.getAbsolutePath());
        pkcs11 = new PKCS11Impl(benchModule.getAbsolutePath());
        pkcs11.C_Initialize(null);
    }

    @AfterAll
    static void disconnect() {
        if (pkcs11 != null) {
            pkcs11.disconnect();
        }
    }

    /**
     * The JNI calls of one call, by function: the counts over CALLS calls divided by CALLS (a
     * few calls of the JDK's own native code on the same thread fall away in the division).
     */
    private static Map<String, Integer> perCall(TestModules.ThrowingRunnable call) throws Exception {
        call.run();  // classes loaded, caches warm
        startCounting();
        String counted;
        try {
            for (int i = 0; i < CALLS; i++) {
                call.run();
            }
        } finally {
            counted = stopCounting();
        }
        Map<String, Integer> result = new TreeMap<>();
        for (String pair : counted.split(" ")) {
            if (pair.isEmpty()) {
                continue;
            }
            String[] nameAndCount = pair.split("=");
            int n = (int) (Long.parseLong(nameAndCount[1]) / CALLS);
            if (n > 0) {
                result.put(nameAndCount[0], n);
            }
        }
        return result;
    }

    private static Map<String, Integer> budget(Object... nameAndCount) {
        Map<String, Integer> m = new TreeMap<>();
        for (int i = 0; i < nameAndCount.length; i += 2) {
            m.put((String) nameAndCount[i], (Integer) nameAndCount[i + 1]);
        }
        return m;
    }

    @Test
    void eachWorkloadMakesTheJniCallsOfItsBudget() throws Exception {
        byte[] random = new byte[32];
        byte[] data = new byte[32];
        CK_ATTRIBUTE[] template = new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_CLASS), new CK_ATTRIBUTE(CKA_KEY_TYPE),
            new CK_ATTRIBUTE(CKA_LABEL), new CK_ATTRIBUTE(CKA_TOKEN), new CK_ATTRIBUTE(CKA_ID)};
        ByteBuffer in = ByteBuffer.allocateDirect(32);
        ByteBuffer out = ByteBuffer.allocateDirect(256);

        // Every call: the binding (IsSameObject; the handle field is read only when the thread's
        // last call was on another object); no exception check unless a callback ran on the thread.
        Map<String, Map<String, Integer>> budgets = new LinkedHashMap<>();
        budgets.put("C_GetSessionInfo", budget("IsSameObject", 1,
                "AllocObject", 1, "SetLongField", 4));
        budgets.put("C_GenerateRandom32", budget("IsSameObject", 1,
                "GetArrayLength", 1, "SetByteArrayRegion", 1));
        budgets.put("C_Sign32", budget("IsSameObject", 1,
                "GetArrayLength", 1, "GetByteArrayRegion", 1, "NewByteArray", 1, "SetByteArrayRegion", 1));
        budgets.put("C_Sign32, direct buffers", budget("IsSameObject", 1,
                "GetDirectBufferAddress", 2));
        budgets.put("C_FindObjects100", budget("IsSameObject", 1,
                "NewLongArray", 1, "SetLongArrayRegion", 1));
        // Per attribute: its element, type and value read; a new CK_ATTRIBUTE with its type and
        // value stored. Booleans and small Longs are shared objects; the references are kept (room
        // ensured once for up to 16 attributes); only the first store is checked.
        budgets.put("C_GetAttributeValue5", budget("GetLongField", 5, "IsSameObject", 1, "ExceptionCheck", 1,
                "GetArrayLength", 1, "EnsureLocalCapacity", 1, "GetObjectArrayElement", 5, "GetObjectField", 5,
                "AllocObject", 5, "SetLongField", 5, "SetObjectField", 5, "SetObjectArrayElement", 5,
                "NewCharArray", 1, "SetCharArrayRegion", 1, "NewByteArray", 1, "SetByteArrayRegion", 1));

        Map<String, TestModules.ThrowingRunnable> workloads = new LinkedHashMap<>();
        workloads.put("C_GetSessionInfo", () -> pkcs11.C_GetSessionInfo(1));
        workloads.put("C_GenerateRandom32", () -> pkcs11.C_GenerateRandom(1, random));
        workloads.put("C_Sign32", () -> pkcs11.C_Sign(1, data));
        workloads.put("C_Sign32, direct buffers", () -> pkcs11.C_Sign(1, in.clear(), out.clear()));
        workloads.put("C_FindObjects100", () -> assertEquals(100, pkcs11.C_FindObjects(1, 100).length));
        workloads.put("C_GetAttributeValue5", () -> {
            for (CK_ATTRIBUTE attribute : template) {
                attribute.pValue = null;
            }
            pkcs11.C_GetAttributeValue(1, 2, template);
        });

        StringBuilder failures = new StringBuilder();
        for (Map.Entry<String, TestModules.ThrowingRunnable> w : workloads.entrySet()) {
            Map<String, Integer> counted = perCall(w.getValue());
            Map<String, Integer> expected = budgets.get(w.getKey());
            for (Map.Entry<String, Integer> e : counted.entrySet()) {
                int allowed = expected.getOrDefault(e.getKey(), 0);
                if (e.getValue() > allowed) {
                    failures.append(String.format("%s: %d %s, budget %d%n", w.getKey(), e.getValue(), e.getKey(), allowed));
                }
            }
            System.out.println(w.getKey() + ": " + counted);
        }
        assertTrue(failures.length() == 0, failures.toString());
        assertTrue(template[3].pValue == Boolean.TRUE || template[3].pValue == Boolean.FALSE,
                "CKA_TOKEN comes back as the shared Boolean");
    }
}
