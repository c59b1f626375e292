package zandrop.tesk.pkcs11.vorlen.bench;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.ByteBuffer;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

/** The workloads through this library: byte[] in and out, or direct buffers ({@link #direct}). */
final class LibraryWorkloads implements Workloads {
    private final PKCS11Impl pkcs11;

    LibraryWorkloads(PKCS11Impl pkcs11) {
        this.pkcs11 = pkcs11;
    }

    @Override
    public Harness.Loop overhead(String workload) {
        byte[] random = new byte[32];
        byte[] data = new byte[32];
        CK_ATTRIBUTE[] template = Workloads.attributeTemplate();
        switch (workload) {
            case SESSION_INFO: return Harness.loop(() -> Harness.sink = pkcs11.C_GetSessionInfo(1));
            case RANDOM_32: return Harness.loop(() -> pkcs11.C_GenerateRandom(1, random));
            case SIGN_32: return Harness.loop(() -> Harness.sink = pkcs11.C_Sign(1, data));
            case ATTRIBUTES_5: return Harness.loop(() -> {
                Workloads.clearValues(template);
                pkcs11.C_GetAttributeValue(1, 2, template);
            });
            case FIND_OBJECTS_100: return Harness.loop(() -> Harness.sink = pkcs11.C_FindObjects(1, 100));
            default: throw new IllegalArgumentException(workload);
        }
    }

    @Override
    public Harness.Loop real(String workload, RealWork w) {
        long s = w.session();
        switch (workload) {
            case SIGN_RSA: return Harness.loop(() -> {
                pkcs11.C_SignInit(s, new CK_MECHANISM(CKM_RSA_PKCS), w.rsaKey());
                Harness.sink = pkcs11.C_Sign(s, w.hash());
            });
            case SIGN_EC: return Harness.loop(() -> {
                pkcs11.C_SignInit(s, new CK_MECHANISM(CKM_ECDSA), w.ecKey());
                Harness.sink = pkcs11.C_Sign(s, w.hash());
            });
            case DIGEST_SHA256: return Harness.loop(() -> {
                pkcs11.C_DigestInit(s, new CK_MECHANISM(CKM_SHA256));
                Harness.sink = pkcs11.C_Digest(s, w.mebibyte());
            });
            case ENCRYPT_AES: return Harness.loop(() -> {
                pkcs11.C_EncryptInit(s, new CK_MECHANISM(CKM_AES_CBC, w.iv()), w.aesKey());
                Harness.sink = pkcs11.C_Encrypt(s, w.mebibyte());
            });
            default: throw new IllegalArgumentException(workload);
        }
    }

    /** C_Sign32 on the benchmark module through direct buffers. */
    Harness.Loop directSign32() {
        ByteBuffer data = ByteBuffer.allocateDirect(32);
        ByteBuffer signature = ByteBuffer.allocateDirect(256);
        return Harness.loop(() -> pkcs11.C_Sign(1, data.clear(), signature.clear()));
    }

    /** The bulk-data workloads through direct buffers (null for the others). */
    Harness.Loop direct(String workload, RealWork w) {
        long s = w.session();
        ByteBuffer in = ByteBuffer.allocateDirect(w.mebibyte().length).put(w.mebibyte()).flip();
        switch (workload) {
            case DIGEST_SHA256: {
                ByteBuffer digest = ByteBuffer.allocateDirect(32);
                return Harness.loop(() -> {
                    pkcs11.C_DigestInit(s, new CK_MECHANISM(CKM_SHA256));
                    pkcs11.C_Digest(s, in.clear(), digest.clear());
                });
            }
            case ENCRYPT_AES: {
                ByteBuffer out = ByteBuffer.allocateDirect(w.mebibyte().length + 16);
                return Harness.loop(() -> {
                    pkcs11.C_EncryptInit(s, new CK_MECHANISM(CKM_AES_CBC, w.iv()), w.aesKey());
                    pkcs11.C_Encrypt(s, in.clear(), out.clear());
                });
            }
            default: return null;
        }
    }
}
