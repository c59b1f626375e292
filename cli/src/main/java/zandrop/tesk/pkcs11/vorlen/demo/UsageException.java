package zandrop.tesk.pkcs11.vorlen.demo;

/** A command line that the program does not understand; reported with exit status 2. */
final class UsageException extends Exception {

    private static final long serialVersionUID = 1L;

    UsageException(String message) {
        super(message);
    }
}
