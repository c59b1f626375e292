package zandrop.tesk.pkcs11.vorlen.bench;

import java.util.List;

import com.sun.jna.NativeLong;
import com.sun.jna.Pointer;
import com.sun.jna.Structure;

/** PKCS#11 structures for the JNA peer, in the platform's own layout (CK_ULONG as NativeLong). */
final class JnaTypes {
    private JnaTypes() {
    }

    /** CK_SESSION_INFO. */
    public static class SessionInfo extends Structure {
        public NativeLong slotID;
        public NativeLong state;
        public NativeLong flags;
        public NativeLong ulDeviceError;

        @Override
        protected List<String> getFieldOrder() {
            return List.of("slotID", "state", "flags", "ulDeviceError");
        }
    }

    /** CK_ATTRIBUTE. */
    public static class Attribute extends Structure {
        public NativeLong type;
        public Pointer pValue;
        public NativeLong ulValueLen;

        @Override
        protected List<String> getFieldOrder() {
            return List.of("type", "pValue", "ulValueLen");
        }
    }

    /** CK_MECHANISM. */
    public static class Mechanism extends Structure {
        public NativeLong mechanism;
        public Pointer pParameter;
        public NativeLong ulParameterLen;

        @Override
        protected List<String> getFieldOrder() {
            return List.of("mechanism", "pParameter", "ulParameterLen");
        }
    }
}
