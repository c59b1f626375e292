package zandrop.tesk.pkcs11.vorlen.bench;

import static java.lang.foreign.ValueLayout.ADDRESS;
import static java.lang.foreign.ValueLayout.JAVA_BYTE;
import static java.lang.foreign.ValueLayout.JAVA_LONG;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.lang.foreign.Arena;
import java.lang.foreign.FunctionDescriptor;
import java.lang.foreign.Linker;
import java.lang.foreign.MemoryLayout;
import java.lang.foreign.MemorySegment;
import java.lang.foreign.SymbolLookup;
import java.lang.invoke.MethodHandle;
import java.nio.file.Path;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.CK_SESSION_INFO;

/**
 * The peer: a straightforward binding through the FFM API (java.lang.foreign, JDK 22 and later)
 * that yields the same Java results as the library: a new CK_SESSION_INFO, the caller's byte[]
 * filled, a new signature byte[], the CK_ATTRIBUTE objects' values as the library converts them
 * (Long, char[], Boolean, byte[]), a new long[] of handles. Native memory is one scratch area
 * reused by every call (one thread); byte[] inputs are copied into it, as the library copies
 * them. Downcalls are plain (no critical option): a module call may block.
 *
 * <p>Built and loaded only with a JDK 22 or later, where CK_ULONG (a C long) has 64 bits.
 */
public final class FfmWorkloads implements Workloads {
    private static final Linker LINKER = Linker.nativeLinker();

    private final Arena arena = Arena.ofAuto();
    private final SymbolLookup module;
    /** The scratch area: 64 KiB for small values, then room for 1 MiB in and 1 MiB + 16 out. */
    private final MemorySegment scratch = arena.allocate(64 * 1024 + 2 * (1 << 20) + 16, 16);
    private static final long BIG_IN = 64 * 1024;
    private static final long BIG_OUT = BIG_IN + (1 << 20);

    /** The layout of CK_ATTRIBUTE and CK_MECHANISM: a CK_ULONG, a pointer, a CK_ULONG. */
    private static final MemoryLayout TRIPLE = MemoryLayout.structLayout(JAVA_LONG, ADDRESS, JAVA_LONG);

    // One handle per shape of entry, taking the entry's address first: constants that the
    // compiler can inline, whichever module the addresses belong to.
    private static final MethodHandle SESSION_POINTER = shape(JAVA_LONG, ADDRESS);
    private static final MethodHandle SESSION_POINTER_ULONG = shape(JAVA_LONG, ADDRESS, JAVA_LONG);
    private static final MethodHandle TRANSFORM = shape(JAVA_LONG, ADDRESS, JAVA_LONG, ADDRESS, ADDRESS);
    private static final MethodHandle ATTRIBUTES = shape(JAVA_LONG, JAVA_LONG, ADDRESS, JAVA_LONG);
    private static final MethodHandle FIND = shape(JAVA_LONG, ADDRESS, JAVA_LONG, ADDRESS);

    private final MemorySegment getSessionInfo;
    private final MemorySegment generateRandom;
    private final MemorySegment sign;
    private final MemorySegment getAttributeValue;
    private final MemorySegment findObjects;
    private final MemorySegment signInit;
    private final MemorySegment digestInit;
    private final MemorySegment digest;
    private final MemorySegment encryptInit;
    private final MemorySegment encrypt;

    public FfmWorkloads(String modulePath) {
        if (LINKER.canonicalLayouts().get("long").byteSize() != 8) {
            throw new UnsupportedOperationException("the FFM peer is written for a 64-bit C long");
        }
        // Opened by its path: the process already has the module loaded, so this is the
        // library's instance, with its sessions and keys.
        module = SymbolLookup.libraryLookup(Path.of(modulePath), arena);
        getSessionInfo = entry("C_GetSessionInfo");
        generateRandom = entry("C_GenerateRandom");
        sign = entry("C_Sign");
        getAttributeValue = entry("C_GetAttributeValue");
        findObjects = entry("C_FindObjects");
        signInit = entry("C_SignInit");
        digestInit = entry("C_DigestInit");
        digest = entry("C_Digest");
        encryptInit = entry("C_EncryptInit");
        encrypt = entry("C_Encrypt");
    }

    private static MethodHandle shape(MemoryLayout... arguments) {
        return LINKER.downcallHandle(FunctionDescriptor.of(JAVA_LONG, arguments));
    }

    private MemorySegment entry(String name) {
        return module.find(name).orElseThrow(() -> new IllegalStateException("no " + name));
    }

    private static void check(long rv) {
        if (rv != 0) {
            throw new IllegalStateException("FFM peer call failed: 0x" + Long.toHexString(rv));
        }
    }

    // ---- overhead ----

    @Override
    public Harness.Loop overhead(String workload) {
        byte[] random = new byte[32];
        byte[] data = new byte[32];
        CK_ATTRIBUTE[] template = Workloads.attributeTemplate();
        switch (workload) {
            case SESSION_INFO: return Harness.loop(() -> Harness.sink = sessionInfo(1));
            case RANDOM_32: return Harness.loop(() -> random(1, random));
            case SIGN_32: return Harness.loop(() -> Harness.sink = sign(1, data));
            case ATTRIBUTES_5: return Harness.loop(() -> {
                Workloads.clearValues(template);
                attributes(1, 2, template);
            });
            case FIND_OBJECTS_100: return Harness.loop(() -> Harness.sink = findObjects(1, 100));
            default: throw new IllegalArgumentException(workload);
        }
    }

    private CK_SESSION_INFO sessionInfo(long session) throws Throwable {
        check((long) SESSION_POINTER.invokeExact(getSessionInfo, session, scratch));
        CK_SESSION_INFO info = new CK_SESSION_INFO();
        info.slotID = scratch.get(JAVA_LONG, 0);
        info.state = scratch.get(JAVA_LONG, 8);
        info.flags = scratch.get(JAVA_LONG, 16);
        info.ulDeviceError = scratch.get(JAVA_LONG, 24);
        return info;
    }

    private void random(long session, byte[] out) throws Throwable {
        check((long) SESSION_POINTER_ULONG.invokeExact(generateRandom, session, scratch, (long) out.length));
        MemorySegment.copy(scratch, JAVA_BYTE, 0, out, 0, out.length);
    }

    /** As the library: the data copied, 256 bytes offered, exactly the reported length on a retry. */
    private byte[] sign(long session, byte[] data) throws Throwable {
        MemorySegment in = scratch.asSlice(BIG_IN, data.length);
        MemorySegment.copy(data, 0, in, JAVA_BYTE, 0, data.length);
        MemorySegment length = scratch.asSlice(0, 8);
        MemorySegment signature = scratch.asSlice(64, 256);
        length.set(JAVA_LONG, 0, 256);
        long rv = (long) TRANSFORM.invokeExact(sign, session, in, (long) data.length, signature, length);
        if (rv == CKR_BUFFER_TOO_SMALL) {
            signature = scratch.asSlice(BIG_OUT, length.get(JAVA_LONG, 0));
            rv = (long) TRANSFORM.invokeExact(sign, session, in, (long) data.length, signature, length);
        }
        check(rv);
        return signature.asSlice(0, length.get(JAVA_LONG, 0)).toArray(JAVA_BYTE);
    }

    /** As the library: the lengths, one block for the values, the values converted by type. */
    private void attributes(long session, long object, CK_ATTRIBUTE[] template) throws Throwable {
        int n = template.length;
        long size = TRIPLE.byteSize();
        MemorySegment t = scratch.asSlice(0, n * size);
        for (int i = 0; i < n; i++) {
            t.set(JAVA_LONG, i * size, template[i].type);
            t.set(ADDRESS, i * size + 8, MemorySegment.NULL);
            t.set(JAVA_LONG, i * size + 16, 0);
        }
        check((long) ATTRIBUTES.invokeExact(getAttributeValue, session, object, t, (long) n));
        long offset = n * size;
        for (int i = 0; i < n; i++) {
            long length = t.get(JAVA_LONG, i * size + 16);
            offset = (offset + 7) & ~7L;
            t.set(ADDRESS, i * size + 8, scratch.asSlice(offset, length));
            offset += length;
        }
        check((long) ATTRIBUTES.invokeExact(getAttributeValue, session, object, t, (long) n));
        for (int i = 0; i < n; i++) {
            long length = t.get(JAVA_LONG, i * size + 16);
            MemorySegment value = t.get(ADDRESS, i * size + 8).reinterpret(length);
            template[i].pValue = convert(template[i].type, value);
        }
    }

    /** The Java value of an attribute, of the class the library gives that type. */
    private static Object convert(long type, MemorySegment value) {
        if (type == CKA_CLASS || type == CKA_KEY_TYPE) {
            return value.get(JAVA_LONG, 0);
        }
        if (type == CKA_TOKEN) {
            return value.get(JAVA_BYTE, 0) == 1;
        }
        if (type == CKA_LABEL) {
            char[] chars = new char[(int) value.byteSize()];
            for (int i = 0; i < chars.length; i++) {
                chars[i] = (char) (value.get(JAVA_BYTE, i) & 0xFF);
            }
            return chars;
        }
        return value.toArray(JAVA_BYTE);
    }

    private long[] findObjects(long session, long max) throws Throwable {
        MemorySegment count = scratch.asSlice(0, 8);
        MemorySegment handles = scratch.asSlice(64, max * 8);
        check((long) FIND.invokeExact(findObjects, session, handles, max, count));
        return handles.asSlice(0, count.get(JAVA_LONG, 0) * 8).toArray(JAVA_LONG);
    }

    // ---- real work ----

    @Override
    public Harness.Loop real(String workload, RealWork w) {
        long s = w.session();
        switch (workload) {
            case SIGN_RSA: return Harness.loop(() -> {
                init(signInit, s, CKM_RSA_PKCS, null, w.rsaKey());
                Harness.sink = sign(s, w.hash());
            });
            case SIGN_EC: return Harness.loop(() -> {
                init(signInit, s, CKM_ECDSA, null, w.ecKey());
                Harness.sink = sign(s, w.hash());
            });
            case DIGEST_SHA256: return Harness.loop(() -> {
                MemorySegment m = mechanism(CKM_SHA256, null);
                check((long) SESSION_POINTER.invokeExact(digestInit, s, m));
                Harness.sink = transform(digest, s, w.mebibyte());
            });
            case ENCRYPT_AES: return Harness.loop(() -> {
                init(encryptInit, s, CKM_AES_CBC, w.iv(), w.aesKey());
                Harness.sink = transform(encrypt, s, w.mebibyte());
            });
            default: throw new IllegalArgumentException(workload);
        }
    }

    /** A CK_MECHANISM in the scratch area, with its parameter bytes after it. */
    private MemorySegment mechanism(long type, byte[] parameter) {
        MemorySegment m = scratch.asSlice(0, TRIPLE.byteSize());
        m.set(JAVA_LONG, 0, type);
        if (parameter == null) {
            m.set(ADDRESS, 8, MemorySegment.NULL);
            m.set(JAVA_LONG, 16, 0);
        } else {
            MemorySegment p = scratch.asSlice(64, parameter.length);
            MemorySegment.copy(parameter, 0, p, JAVA_BYTE, 0, parameter.length);
            m.set(ADDRESS, 8, p);
            m.set(JAVA_LONG, 16, parameter.length);
        }
        return m;
    }

    private void init(MemorySegment entry, long session, long type, byte[] parameter, long key) throws Throwable {
        check((long) SESSION_POINTER_ULONG.invokeExact(entry, session, mechanism(type, parameter), key));
    }

    /** As the library: the input copied, a size query, then the output into a new byte[]. */
    private byte[] transform(MemorySegment entry, long session, byte[] data) throws Throwable {
        MemorySegment in = scratch.asSlice(BIG_IN, data.length);
        MemorySegment.copy(data, 0, in, JAVA_BYTE, 0, data.length);
        MemorySegment length = scratch.asSlice(0, 8);
        length.set(JAVA_LONG, 0, 0);
        check((long) TRANSFORM.invokeExact(entry, session, in, (long) data.length, MemorySegment.NULL, length));
        MemorySegment out = scratch.asSlice(BIG_OUT, length.get(JAVA_LONG, 0));
        check((long) TRANSFORM.invokeExact(entry, session, in, (long) data.length, out, length));
        return out.asSlice(0, length.get(JAVA_LONG, 0)).toArray(JAVA_BYTE);
    }
}
