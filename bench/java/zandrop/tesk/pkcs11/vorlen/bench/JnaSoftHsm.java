package zandrop.tesk.pkcs11.vorlen.bench;

import java.util.Map;

import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.NativeLibrary;
import com.sun.jna.NativeLong;
import com.sun.jna.ptr.NativeLongByReference;

/** The peer: SoftHSM2's entries through a JNA direct-mapped binding. */
final class JnaSoftHsm {
    private JnaSoftHsm() {
    }

    static void bind(String path) {
        // RTLD_LAZY | RTLD_LOCAL: JNA's default RTLD_GLOBAL would let this module's C_ names
        // take the place of another module's own (symbol interposition).
        Native.register(JnaSoftHsm.class, NativeLibrary.getInstance(path, Map.of(Library.OPTION_OPEN_FLAGS, 1)));
    }

    static native NativeLong C_SignInit(NativeLong session, JnaTypes.Mechanism mechanism, NativeLong key);
    static native NativeLong C_Sign(NativeLong session, byte[] data, NativeLong length, byte[] signature,
            NativeLongByReference signatureLength);
    static native NativeLong C_DigestInit(NativeLong session, JnaTypes.Mechanism mechanism);
    static native NativeLong C_Digest(NativeLong session, byte[] data, NativeLong length, byte[] digest,
            NativeLongByReference digestLength);
    static native NativeLong C_EncryptInit(NativeLong session, JnaTypes.Mechanism mechanism, NativeLong key);
    static native NativeLong C_Encrypt(NativeLong session, byte[] data, NativeLong length, byte[] out,
            NativeLongByReference outLength);
}
