package zandrop.tesk.pkcs11.vorlen.token;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_HW_SLOT;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_REMOVABLE_DEVICE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_TOKEN_PRESENT;

import java.nio.charset.StandardCharsets;

import zandrop.tesk.pkcs11.vorlen.api.CK_SLOT_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_VERSION;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Exception;

/**
 * A slot of a module. Its information is read when asked for, so it shows the present state.
 */
public final class Slot {
    private final Pkcs11Module module;
    private final long id;

    Slot(Pkcs11Module module, long id) {
        this.module = module;
        this.id = id;
    }

    /**
     * Returns the slot's ID.
     *
     * @return the {@code CK_SLOT_ID}
     */
    public long id() {
        return id;
    }

    /**
     * Reads the slot's information.
     *
     * @return the information, decoded
     */
    public Info info() {
        try {
            return new Info(module.pkcs11().C_GetSlotInfo(id));
        } catch (PKCS11Exception e) {
            throw new TokenException("C_GetSlotInfo", "slot " + id, e);
        }
    }

    /**
     * Returns the token in this slot.
     *
     * @return the token, which need not be present
     */
    public Token token() {
        return module.token(id);
    }

    @Override
    public String toString() {
        return "slot " + id;
    }

    /**
     * A slot's information, decoded.
     *
     * @param description the description, trimmed
     * @param manufacturer the manufacturer, trimmed
     * @param flags the {@code CKF_} flags
     * @param hardwareVersion "major.minor"
     * @param firmwareVersion "major.minor"
     */
    public record Info(String description, String manufacturer, long flags, String hardwareVersion,
            String firmwareVersion) {

        Info(CK_SLOT_INFO info) {
            this(text(info.slotDescription), text(info.manufacturerID), info.flags, version(info.hardwareVersion),
                    version(info.firmwareVersion));
        }

        /**
         * Whether a token is present.
         *
         * @return {@code CKF_TOKEN_PRESENT}
         */
        public boolean tokenPresent() {
            return (flags & CKF_TOKEN_PRESENT) != 0;
        }

        /**
         * Whether the token is removable.
         *
         * @return {@code CKF_REMOVABLE_DEVICE}
         */
        public boolean removable() {
            return (flags & CKF_REMOVABLE_DEVICE) != 0;
        }

        /**
         * Whether the slot is a hardware slot.
         *
         * @return {@code CKF_HW_SLOT}
         */
        public boolean hardware() {
            return (flags & CKF_HW_SLOT) != 0;
        }

        /**
         * Returns the names of the flags.
         *
         * @return such as {@code CKF_TOKEN_PRESENT}
         */
        public java.util.List<String> flagNames() {
            return zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.slotFlagNames(flags);
        }

        @Override
        public String toString() {
            return "\"" + description + "\" by \"" + manufacturer + "\", flags " + Flags.slot(flags) + ", hardware "
                    + hardwareVersion + ", firmware " + firmwareVersion;
        }
    }

    /** Blank-padded text of an information record: its UTF-8 bytes, trailing blanks cut. */
    static String text(char[] padded) {
        if (padded == null) {
            return "";
        }
        byte[] bytes = new byte[padded.length];
        for (int i = 0; i < bytes.length; i++) {
            bytes[i] = (byte) padded[i];
        }
        String s = new String(bytes, StandardCharsets.UTF_8);
        int end = s.length();
        while (end > 0 && (s.charAt(end - 1) == ' ' || s.charAt(end - 1) == '\0')) {
            end--;
        }
        return s.substring(0, end);
    }

    static String version(CK_VERSION v) {
        return v == null ? "" : (v.major & 0xFF) + "." + (v.minor & 0xFF);
    }
}
