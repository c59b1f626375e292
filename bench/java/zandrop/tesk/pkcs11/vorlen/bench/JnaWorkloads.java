package zandrop.tesk.pkcs11.vorlen.bench;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.Arrays;

import com.sun.jna.Memory;
import com.sun.jna.NativeLong;
import com.sun.jna.Pointer;
import com.sun.jna.Structure;
import com.sun.jna.ptr.NativeLongByReference;

/**
 * The peer: what a JNA user writes for each workload, through direct-mapped bindings
 * ({@link JnaOverhead} for the benchmark module, {@link JnaSoftHsm} for SoftHSM2). Its results
 * are plain arrays rather than the library's objects.
 */
final class JnaWorkloads implements Workloads {
    private static final NativeLong SESSION = new NativeLong(1);

    @Override
    public Harness.Loop overhead(String workload) {
        byte[] random = new byte[32];
        byte[] data = new byte[32];
        NativeLong length32 = new NativeLong(32);
        switch (workload) {
            case SESSION_INFO: {
                JnaTypes.SessionInfo info = new JnaTypes.SessionInfo();
                return Harness.loop(() -> check(JnaOverhead.C_GetSessionInfo(SESSION, info)));
            }
            case RANDOM_32: return Harness.loop(() -> check(JnaOverhead.C_GenerateRandom(SESSION, random, length32)));
            case SIGN_32: return Harness.loop(() -> {
                byte[] signature = new byte[256];
                NativeLongByReference length = new NativeLongByReference(new NativeLong(256));
                check(JnaOverhead.C_Sign(SESSION, data, length32, signature, length));
                Harness.sink = Arrays.copyOf(signature, length.getValue().intValue());
            });
            case ATTRIBUTES_5: return Harness.loop(() -> Harness.sink = attributes(ATTRIBUTE_TYPES));
            case FIND_OBJECTS_100: {
                NativeLong hundred = new NativeLong(100);
                return Harness.loop(() -> {
                    Memory handles = new Memory(100L * NativeLong.SIZE);
                    NativeLongByReference count = new NativeLongByReference();
                    check(JnaOverhead.C_FindObjects(SESSION, handles, hundred, count));
                    int n = count.getValue().intValue();
                    long[] result = new long[n];
                    for (int i = 0; i < n; i++) {
                        result[i] = handles.getNativeLong((long) i * NativeLong.SIZE).longValue();
                    }
                    Harness.sink = result;
                });
            }
            default: throw new IllegalArgumentException(workload);
        }
    }

    /** What a JNA user writes for C_GetAttributeValue: lengths, buffers, values as Java objects. */
    private static Object[] attributes(long[] types) {
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

    @Override
    public Harness.Loop real(String workload, RealWork w) {
        NativeLong session = new NativeLong(w.session());
        NativeLong hashLength = new NativeLong(w.hash().length);
        NativeLong mebibyteLength = new NativeLong(w.mebibyte().length);
        switch (workload) {
            case SIGN_RSA: return Harness.loop(() -> sign(session, CKM_RSA_PKCS, w.rsaKey(), w.hash(), hashLength));
            case SIGN_EC: return Harness.loop(() -> sign(session, CKM_ECDSA, w.ecKey(), w.hash(), hashLength));
            case DIGEST_SHA256: return Harness.loop(() -> {
                JnaTypes.Mechanism m = new JnaTypes.Mechanism();
                m.mechanism = new NativeLong(CKM_SHA256);
                check(JnaSoftHsm.C_DigestInit(session, m));
                NativeLongByReference length = new NativeLongByReference();
                check(JnaSoftHsm.C_Digest(session, w.mebibyte(), mebibyteLength, null, length));
                byte[] out = new byte[length.getValue().intValue()];
                check(JnaSoftHsm.C_Digest(session, w.mebibyte(), mebibyteLength, out, length));
                Harness.sink = out;
            });
            case ENCRYPT_AES: {
                Memory iv = new Memory(w.iv().length);
                iv.write(0, w.iv(), 0, w.iv().length);
                return Harness.loop(() -> {
                    JnaTypes.Mechanism m = new JnaTypes.Mechanism();
                    m.mechanism = new NativeLong(CKM_AES_CBC);
                    m.pParameter = iv;
                    m.ulParameterLen = new NativeLong(w.iv().length);
                    check(JnaSoftHsm.C_EncryptInit(session, m, new NativeLong(w.aesKey())));
                    NativeLongByReference length = new NativeLongByReference();
                    check(JnaSoftHsm.C_Encrypt(session, w.mebibyte(), mebibyteLength, null, length));
                    byte[] out = new byte[length.getValue().intValue()];
                    check(JnaSoftHsm.C_Encrypt(session, w.mebibyte(), mebibyteLength, out, length));
                    Harness.sink = out;
                });
            }
            default: throw new IllegalArgumentException(workload);
        }
    }

    private static void sign(NativeLong session, long mechanism, long key, byte[] data, NativeLong length) {
        JnaTypes.Mechanism m = new JnaTypes.Mechanism();
        m.mechanism = new NativeLong(mechanism);
        check(JnaSoftHsm.C_SignInit(session, m, new NativeLong(key)));
        byte[] signature = new byte[256];
        NativeLongByReference signatureLength = new NativeLongByReference(new NativeLong(256));
        check(JnaSoftHsm.C_Sign(session, data, length, signature, signatureLength));
        Harness.sink = Arrays.copyOf(signature, signatureLength.getValue().intValue());
    }

    static void check(NativeLong rv) {
        if (rv.longValue() != 0) {
            throw new IllegalStateException("JNA peer call failed: 0x" + Long.toHexString(rv.longValue()));
        }
    }
}
