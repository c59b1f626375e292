package zandrop.tesk.pkcs11.vorlen.api;

/**
 * A date as PKCS #11 stores it: four characters of the year, two of the month and two of the
 * day, all decimal digits (for example 2004, 07, 01). It is the value of the attributes
 * {@code CKA_START_DATE} and {@code CKA_END_DATE}.
 *
 * <p>Each character stands for one byte of the native date: only its low 8 bits reach the
 * module, and a byte read from the module becomes a character by zero extension. An empty
 * date, as a module reports it, holds zero characters or blanks.
 */
public class CK_DATE {

    /** The year, four characters. */
    public char[] year;

    /** The month, two characters from {@code 01} to {@code 12}. */
    public char[] month;

    /** The day, two characters from {@code 01} to {@code 31}. */
    public char[] day;

    /** Creates a date whose fields are null; natively that is an all-zero date. */
    public CK_DATE() {
    }

    /**
     * Creates a date from its three fields. The arrays are used as they are, not copied.
     *
     * @param year the year, four characters
     * @param month the month, two characters
     * @param day the day, two characters
     */
    public CK_DATE(char[] year, char[] month, char[] day) {
        this.year = year;
        this.month = month;
        this.day = day;
    }

    /**
     * Returns the date as {@code CK_DATE[2004-07-01]}, or {@code CK_DATE[empty]} for an empty
     * date.
     */
    @Override
    public String toString() {
        String y = Format.chars(year);
        String m = Format.chars(month);
        String d = Format.chars(day);
        if (y.isEmpty() && m.isEmpty() && d.isEmpty()) {
            return "CK_DATE[empty]";
        }
        return "CK_DATE[" + y + "-" + m + "-" + d + "]";
    }
}
