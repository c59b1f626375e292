package zandrop.tesk.pkcs11.vorlen.bench;

import java.util.Map;

import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.NativeLibrary;
import com.sun.jna.NativeLong;
import com.sun.jna.Pointer;
import com.sun.jna.ptr.NativeLongByReference;

/** The peer: the overhead module's entries through a JNA direct-mapped binding. */
final class JnaOverhead {
    private JnaOverhead() {
    }

    static void bind(String path) {
        // RTLD_LAZY | RTLD_LOCAL: JNA's default RTLD_GLOBAL would let this module's C_ names
        // take the place of another module's own (symbol interposition).
        Native.register(JnaOverhead.class, NativeLibrary.getInstance(path, Map.of(Library.OPTION_OPEN_FLAGS, 1)));
    }

    static native NativeLong C_Initialize(Pointer args);
    static native NativeLong C_GetSessionInfo(NativeLong session, JnaTypes.SessionInfo info);
    static native NativeLong C_GenerateRandom(NativeLong session, byte[] out, NativeLong length);
    static native NativeLong C_Sign(NativeLong session, byte[] data, NativeLong length, byte[] signature,
            NativeLongByReference signatureLength);
    static native NativeLong C_GetAttributeValue(NativeLong session, NativeLong object, JnaTypes.Attribute template,
            NativeLong count);
    static native NativeLong C_FindObjects(NativeLong session, Pointer handles, NativeLong max,
            NativeLongByReference count);
}
