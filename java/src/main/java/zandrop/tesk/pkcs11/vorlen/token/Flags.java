package zandrop.tesk.pkcs11.vorlen.token;

import java.util.List;

import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;

/** The text of flag words in the records' {@code toString()}: their names. */
final class Flags {
    private Flags() {
    }

    static String slot(long flags) {
        return text(PKCS11Constants.slotFlagNames(flags));
    }

    static String token(long flags) {
        return text(PKCS11Constants.tokenFlagNames(flags));
    }

    private static String text(List<String> names) {
        return names.isEmpty() ? "none" : String.join("|", names);
    }
}
