package zandrop.tesk.pkcs11.vorlen.token;

import java.util.Locale;

/** The text of flag words in the records' {@code toString()}. */
final class Flags {
    private Flags() {
    }

    static String slot(long flags) {
        return hex(flags);
    }

    static String token(long flags) {
        return hex(flags);
    }

    private static String hex(long flags) {
        return String.format(Locale.ROOT, "0x%X", flags);
    }
}
