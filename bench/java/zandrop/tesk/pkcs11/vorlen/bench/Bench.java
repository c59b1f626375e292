package zandrop.tesk.pkcs11.vorlen.bench;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

import com.sun.jna.Memory;
import com.sun.jna.NativeLong;
import com.sun.jna.Pointer;
import com.sun.jna.Structure;
import com.sun.jna.ptr.NativeLongByReference;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.CK_C_INITIALIZE_ARGS;
import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

/**
 * The benchmark: the same calls through this library, straight from C++ (results read from the
 * native harness's output) and through a JNA direct-mapped peer, printed as one table.
 *
 * <p>Usage: {@code Bench <overhead module> <direct results file> [<softhsm module> <pin>]}
 */
public final class Bench {
    private static final NativeLong SESSION = new NativeLong(1);

    private final Map<String, double[]> rows = new LinkedHashMap<>(); // direct, binding, jna
    private final List<String> scale = new ArrayList<>();

    private Bench() {
    }

    private void put(String name, int column, double ns) {
        rows.computeIfAbsent(name, k -> new double[] {Double.NaN, Double.NaN, Double.NaN})[column] = ns;
    }

    public static void main(String[] args) throws Exception {
        if (args.length != 2 && args.length != 4) {
            System.err.println("usage: Bench <overhead module> <direct results> [<softhsm module> <pin>]");
            System.exit(2);
        }
        Bench bench = new Bench();
        for (String line : Files.readAllLines(Path.of(args[1]))) {
            String[] parts = line.trim().split(" ");
            if (parts.length == 2) {
                bench.put(parts[0], 0, Double.parseDouble(parts[1]));
            }
        }
        bench.overhead(args[0]);
        if (args.length == 4) {
            bench.realWork(args[2], args[3].toCharArray());
        }
        bench.print();
    }

    // ---- the overhead module ----

    private void overhead(String path) throws Exception {
        Harness h = new Harness(200_000, 9, 500_000);
        PKCS11Impl pkcs11 = new PKCS11Impl(path);
        pkcs11.C_Initialize(null);
        byte[] random = new byte[32];
        byte[] data = new byte[32];
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_CLASS), new CK_ATTRIBUTE(CKA_KEY_TYPE),
            new CK_ATTRIBUTE(CKA_LABEL), new CK_ATTRIBUTE(CKA_TOKEN), new CK_ATTRIBUTE(CKA_ID)};

        put("overhead.C_GetSessionInfo", 1, h.measure(() -> pkcs11.C_GetSessionInfo(1)));
        put("overhead.C_GenerateRandom32", 1, h.measure(() -> pkcs11.C_GenerateRandom(1, random)));
        put("overhead.C_Sign32", 1, h.measure(() -> pkcs11.C_Sign(1, data)));
        put("overhead.C_GetAttributeValue5", 1, h.measure(() -> {
            for (CK_ATTRIBUTE attribute : template) {
                attribute.pValue = null;
            }
            pkcs11.C_GetAttributeValue(1, 2, template);
        }));
        put("overhead.C_FindObjects100", 1, h.measure(() -> pkcs11.C_FindObjects(1, 100)));

        // Scale: other objects connected, and threads calling at once.
        List<PKCS11Impl> others = new ArrayList<>();
        for (int n : new int[] {0, 1, 10, 100, 1000}) {
            while (others.size() < n) {
                others.add(new PKCS11Impl(path));
            }
            double ns = h.measure(() -> pkcs11.C_GetSessionInfo(1));
            scale.add(String.format("C_GetSessionInfo with %4d other objects connected: %8.1f ns", n, ns));
        }
        for (PKCS11Impl other : others) {
            other.disconnect();
        }
        Harness parallel = new Harness(200_000, 7, 2_000_000);
        double one = parallel.measureParallel(1, () -> pkcs11.C_GetSessionInfo(1));
        double two = parallel.measureParallel(2, () -> pkcs11.C_GetSessionInfo(1));
        scale.add(String.format("C_GetSessionInfo, 1 thread:  %8.1f ns per call", one));
        scale.add(String.format("C_GetSessionInfo, 2 threads: %8.1f ns per call (throughput x%.2f)", two, one / two));
        double sign1 = parallel.measureParallel(1, () -> pkcs11.C_Sign(1, data));
        double sign2 = parallel.measureParallel(2, () -> pkcs11.C_Sign(1, data));
        scale.add(String.format("C_Sign32, 1 thread:  %8.1f ns per call", sign1));
        scale.add(String.format("C_Sign32, 2 threads: %8.1f ns per call (throughput x%.2f)", sign2, sign1 / sign2));
        pkcs11.disconnect();

        // The peer.
        JnaOverhead.bind(path);
        JnaOverhead.C_Initialize(Pointer.NULL);
        JnaTypes.SessionInfo info = new JnaTypes.SessionInfo();
        put("overhead.C_GetSessionInfo", 2, h.measure(() -> check(JnaOverhead.C_GetSessionInfo(SESSION, info))));
        NativeLong length32 = new NativeLong(32);
        put("overhead.C_GenerateRandom32", 2, h.measure(() -> check(JnaOverhead.C_GenerateRandom(SESSION, random, length32))));
        put("overhead.C_Sign32", 2, h.measure(() -> {
            byte[] signature = new byte[256];
            NativeLongByReference length = new NativeLongByReference(new NativeLong(256));
            check(JnaOverhead.C_Sign(SESSION, data, length32, signature, length));
            java.util.Arrays.copyOf(signature, length.getValue().intValue());
        }));
        long[] types = {CKA_CLASS, CKA_KEY_TYPE, CKA_LABEL, CKA_TOKEN, CKA_ID};
        put("overhead.C_GetAttributeValue5", 2, h.measure(() -> jnaAttributes(types)));
        NativeLong hundred = new NativeLong(100);
        put("overhead.C_FindObjects100", 2, h.measure(() -> {
            Memory handles = new Memory(100L * NativeLong.SIZE);
            NativeLongByReference count = new NativeLongByReference();
            check(JnaOverhead.C_FindObjects(SESSION, handles, hundred, count));
            int n = count.getValue().intValue();
            long[] result = new long[n];
            for (int i = 0; i < n; i++) {
                result[i] = handles.getNativeLong((long) i * NativeLong.SIZE).longValue();
            }
        }));
    }

    /** What a JNA user writes for C_GetAttributeValue: lengths, buffers, values as Java objects. */
    private static Object[] jnaAttributes(long[] types) {
        JnaTypes.Attribute first = new JnaTypes.Attribute();
        Structure[] template = first.toArray(types.length);
        for (int i = 0; i < types.length; i++) {
            JnaTypes.Attribute a = (JnaTypes.Attribute) template[i];
            a.type = new NativeLong(types[i]);
            a.pValue = Pointer.NULL;
        }
        check(JnaOverhead.C_GetAttributeValue(SESSION, new NativeLong(2), first, new NativeLong(types.length)));
        Memory[] buffers = new Memory[types.length];
        for (int i = 0; i < types.length; i++) {
            JnaTypes.Attribute a = (JnaTypes.Attribute) template[i];
            a.read();
            buffers[i] = new Memory(Math.max(1, a.ulValueLen.longValue()));
            a.pValue = buffers[i];
        }
        check(JnaOverhead.C_GetAttributeValue(SESSION, new NativeLong(2), first, new NativeLong(types.length)));
        Object[] values = new Object[types.length];
        for (int i = 0; i < types.length; i++) {
            JnaTypes.Attribute a = (JnaTypes.Attribute) template[i];
            a.read();
            values[i] = buffers[i].getByteArray(0, a.ulValueLen.intValue());
        }
        return values;
    }

    private static void check(NativeLong rv) {
        if (rv.longValue() != 0) {
            throw new IllegalStateException("JNA peer call failed: 0x" + Long.toHexString(rv.longValue()));
        }
    }

    // ---- real work on SoftHSM2 ----

    private void realWork(String path, char[] pin) throws Exception {
        PKCS11Impl pkcs11 = new PKCS11Impl(path);
        pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
        long slot = pkcs11.C_GetSlotList(true)[0];
        long session = pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, null, null);
        pkcs11.C_Login(session, CKU_USER, pin);
        long[] rsa = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN),
                new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_MODULUS_BITS, 2048L),
                    new CK_ATTRIBUTE(CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1}), new CK_ATTRIBUTE(CKA_VERIFY, true)},
                new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_SIGN, true), new CK_ATTRIBUTE(CKA_TOKEN, true),
                    new CK_ATTRIBUTE(CKA_LABEL, "bench-rsa")});
        byte[] p256 = {0x06, 0x08, 0x2a, (byte) 0x86, 0x48, (byte) 0xce, 0x3d, 0x03, 0x01, 0x07};
        long[] ec = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_EC_KEY_PAIR_GEN),
                new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_EC_PARAMS, p256), new CK_ATTRIBUTE(CKA_VERIFY, true)},
                new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_SIGN, true), new CK_ATTRIBUTE(CKA_TOKEN, true),
                    new CK_ATTRIBUTE(CKA_LABEL, "bench-ec")});
        long aes = pkcs11.C_GenerateKey(session, new CK_MECHANISM(CKM_AES_KEY_GEN),
                new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_VALUE_LEN, 32L), new CK_ATTRIBUTE(CKA_ENCRYPT, true),
                    new CK_ATTRIBUTE(CKA_TOKEN, true), new CK_ATTRIBUTE(CKA_LABEL, "bench-aes")});
        byte[] hash = new byte[32];
        hash[0] = 1;
        byte[] mebibyte = new byte[1 << 20];
        java.util.Arrays.fill(mebibyte, (byte) 0x5A);
        byte[] iv = new byte[16];

        put("real.C_Sign.RSA-2048", 1, new Harness(20, 7, 200).measure(() -> {
            pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_RSA_PKCS), rsa[1]);
            pkcs11.C_Sign(session, hash);
        }));
        put("real.C_Sign.ECDSA-P256", 1, new Harness(50, 7, 1000).measure(() -> {
            pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_ECDSA), ec[1]);
            pkcs11.C_Sign(session, hash);
        }));
        Harness big = new Harness(10, 7, 50);
        put("real.C_Digest.SHA-256.1MiB", 1, big.measure(() -> {
            pkcs11.C_DigestInit(session, new CK_MECHANISM(CKM_SHA256));
            pkcs11.C_Digest(session, mebibyte);
        }));
        put("real.C_Encrypt.AES-CBC.1MiB", 1, big.measure(() -> {
            pkcs11.C_EncryptInit(session, new CK_MECHANISM(CKM_AES_CBC, iv), aes);
            pkcs11.C_Encrypt(session, mebibyte);
        }));

        try {
            jnaRealWork(path, slot, pin, hash, mebibyte, iv);
        } catch (RuntimeException e) {
            scale.add("JNA peer on SoftHSM2 not measured: " + e.getMessage());
        }
        pkcs11.C_Logout(session);
        pkcs11.C_CloseSession(session);
        pkcs11.C_Finalize(null);
        pkcs11.disconnect();
    }

    /** The real-work workloads through the JNA peer, on keys it finds by label. */
    private void jnaRealWork(String path, long slot, char[] pin, byte[] hash, byte[] mebibyte, byte[] iv)
            throws Exception {
        Harness big = new Harness(10, 7, 50);
        // The peer, on the same instance of the module: its initialisation and login are
        // already done (the module says so), and it finds the keys by label.
        JnaSoftHsm.bind(path);
        JnaSoftHsm.C_Initialize(Pointer.NULL); // CKR_CRYPTOKI_ALREADY_INITIALIZED
        NativeLongByReference peerSessionRef = new NativeLongByReference();
        check(JnaSoftHsm.C_OpenSession(new NativeLong(slot), new NativeLong(CKF_SERIAL_SESSION | CKF_RW_SESSION),
                Pointer.NULL, Pointer.NULL, peerSessionRef));
        NativeLong peer = peerSessionRef.getValue();
        byte[] pinBytes = new String(pin).getBytes(java.nio.charset.StandardCharsets.US_ASCII);
        long login = JnaSoftHsm.C_Login(peer, new NativeLong(CKU_USER), pinBytes, new NativeLong(pinBytes.length)).longValue();
        if (login != 0 && login != CKR_USER_ALREADY_LOGGED_IN) {
            check(new NativeLong(login));
        }
        long peerRsa = jnaFind(peer, "bench-rsa");
        long peerEc = jnaFind(peer, "bench-ec");
        long peerAes = jnaFind(peer, "bench-aes");
        NativeLong hashLength = new NativeLong(hash.length);
        put("real.C_Sign.RSA-2048", 2, new Harness(20, 7, 200).measure(() -> jnaSign(peer, CKM_RSA_PKCS, peerRsa, hash, hashLength)));
        put("real.C_Sign.ECDSA-P256", 2, new Harness(50, 7, 1000).measure(() -> jnaSign(peer, CKM_ECDSA, peerEc, hash, hashLength)));
        NativeLong mebibyteLength = new NativeLong(mebibyte.length);
        put("real.C_Digest.SHA-256.1MiB", 2, big.measure(() -> {
            JnaTypes.Mechanism m = new JnaTypes.Mechanism();
            m.mechanism = new NativeLong(CKM_SHA256);
            check(JnaSoftHsm.C_DigestInit(peer, m));
            NativeLongByReference length = new NativeLongByReference();
            check(JnaSoftHsm.C_Digest(peer, mebibyte, mebibyteLength, null, length));
            byte[] out = new byte[length.getValue().intValue()];
            check(JnaSoftHsm.C_Digest(peer, mebibyte, mebibyteLength, out, length));
        }));
        Memory ivMemory = new Memory(16);
        ivMemory.write(0, iv, 0, 16);
        put("real.C_Encrypt.AES-CBC.1MiB", 2, big.measure(() -> {
            JnaTypes.Mechanism m = new JnaTypes.Mechanism();
            m.mechanism = new NativeLong(CKM_AES_CBC);
            m.pParameter = ivMemory;
            m.ulParameterLen = new NativeLong(16);
            check(JnaSoftHsm.C_EncryptInit(peer, m, new NativeLong(peerAes)));
            NativeLongByReference length = new NativeLongByReference();
            check(JnaSoftHsm.C_Encrypt(peer, mebibyte, mebibyteLength, null, length));
            byte[] out = new byte[length.getValue().intValue()];
            check(JnaSoftHsm.C_Encrypt(peer, mebibyte, mebibyteLength, out, length));
        }));
        check(JnaSoftHsm.C_CloseSession(peer));
    }

    /** The handle of the one object with this label, found through the peer. */
    private static long jnaFind(NativeLong session, String label) {
        byte[] text = label.getBytes(java.nio.charset.StandardCharsets.US_ASCII);
        Memory value = new Memory(text.length);
        value.write(0, text, 0, text.length);
        JnaTypes.Attribute attribute = new JnaTypes.Attribute();
        attribute.type = new NativeLong(CKA_LABEL);
        attribute.pValue = value;
        attribute.ulValueLen = new NativeLong(text.length);
        check(JnaSoftHsm.C_FindObjectsInit(session, attribute, new NativeLong(1)));
        Memory handles = new Memory(4L * NativeLong.SIZE);
        NativeLongByReference count = new NativeLongByReference();
        check(JnaSoftHsm.C_FindObjects(session, handles, new NativeLong(4), count));
        check(JnaSoftHsm.C_FindObjectsFinal(session));
        if (count.getValue().longValue() != 1) {
            throw new IllegalStateException("the peer finds " + count.getValue() + " objects labelled " + label);
        }
        return handles.getNativeLong(0).longValue();
    }

    private static void jnaSign(NativeLong session, long mechanism, long key, byte[] data, NativeLong length) {
        JnaTypes.Mechanism m = new JnaTypes.Mechanism();
        m.mechanism = new NativeLong(mechanism);
        check(JnaSoftHsm.C_SignInit(session, m, new NativeLong(key)));
        byte[] signature = new byte[512];
        NativeLongByReference signatureLength = new NativeLongByReference(new NativeLong(256));
        check(JnaSoftHsm.C_Sign(session, data, length, signature, signatureLength));
        java.util.Arrays.copyOf(signature, signatureLength.getValue().intValue());
    }

    // ---- the table ----

    private void print() {
        System.out.printf("%-30s %12s %12s %12s %14s %12s%n", "workload (ns per call)", "direct C++", "binding",
                "JNA peer", "binding-direct", "JNA/binding");
        for (Map.Entry<String, double[]> row : rows.entrySet()) {
            double[] v = row.getValue();
            System.out.printf("%-30s %12.1f %12.1f %12.1f %14.1f %12.1f%n", row.getKey(), v[0], v[1], v[2],
                    v[1] - v[0], v[2] / v[1]);
        }
        System.out.printf("%nratios: binding/direct per workload:%n");
        for (Map.Entry<String, double[]> row : rows.entrySet()) {
            double[] v = row.getValue();
            System.out.printf("  %-30s %8.3f%n", row.getKey(), v[1] / v[0]);
        }
        System.out.printf("%nscale:%n");
        for (String line : scale) {
            System.out.println("  " + line);
        }
    }
}
