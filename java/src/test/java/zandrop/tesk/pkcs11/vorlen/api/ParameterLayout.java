package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The size of a native PKCS#11 record on the platform the tests run on, from its members: natural
 * alignment on Linux, none on Windows, where the records are packed to 1 byte.
 */
final class ParameterLayout {
    private ParameterLayout() {
    }

    /** sizeof(void*). */
    static final int POINTER_SIZE = "64".equals(System.getProperty("sun.arch.data.model")) ? 8 : 4;

    private static final boolean PACKED = System.getProperty("os.name").startsWith("Windows");

    /** A member: its size and its alignment. */
    record Member(int size, int alignment) {}

    static final Member ULONG = new Member(Platform.ULONG_SIZE, Platform.ULONG_SIZE);
    static final Member POINTER = new Member(POINTER_SIZE, POINTER_SIZE);

    static int sizeof(Member... members) {
        int offset = 0;
        for (Member m : members) {
            int alignment = PACKED ? 1 : m.alignment();
            offset = (offset + alignment - 1) / alignment * alignment + m.size();
        }
        int alignment = alignment(members);
        return (offset + alignment - 1) / alignment * alignment;
    }

    private static int alignment(Member... members) {
        return java.util.Arrays.stream(members).mapToInt(m -> PACKED ? 1 : m.alignment()).reduce(1, Math::max);
    }
}
