package zandrop.tesk.pkcs11.vorlen.token;

import java.io.ByteArrayOutputStream;
import java.math.BigInteger;
import java.util.Arrays;

/**
 * The little DER that the JDK's formats need: reading and writing tag-length-value items with
 * definite, minimal lengths, and object identifiers. Malformed input gives an
 * {@link IllegalArgumentException} that names what is wrong.
 */
final class Der {
    static final int INTEGER = 0x02;
    static final int BIT_STRING = 0x03;
    static final int OCTET_STRING = 0x04;
    static final int OID = 0x06;
    static final int PRINTABLE_STRING = 0x13;
    static final int SEQUENCE = 0x30;

    private Der() {
    }

    /** One item: its tag, its contents. */
    static byte[] item(int tag, byte[]... contents) {
        ByteArrayOutputStream body = new ByteArrayOutputStream();
        for (byte[] content : contents) {
            body.writeBytes(content);
        }
        ByteArrayOutputStream out = new ByteArrayOutputStream(body.size() + 6);
        out.write(tag);
        int length = body.size();
        if (length < 0x80) {
            out.write(length);
        } else {
            int bytes = (32 - Integer.numberOfLeadingZeros(length) + 7) / 8;
            out.write(0x80 | bytes);
            for (int i = bytes - 1; i >= 0; i--) {
                out.write(length >>> (8 * i));
            }
        }
        out.writeBytes(body.toByteArray());
        return out.toByteArray();
    }

    /** The DER INTEGER of a number. */
    static byte[] integer(BigInteger value) {
        return item(INTEGER, value.toByteArray());
    }

    /** The DER OBJECT IDENTIFIER of a dotted identifier such as 1.3.101.112. */
    static byte[] oid(String dotted) {
        String[] arcs = dotted.split("\\.");
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        writeArc(out, Long.parseLong(arcs[0]) * 40 + Long.parseLong(arcs[1]));
        for (int i = 2; i < arcs.length; i++) {
            writeArc(out, Long.parseLong(arcs[i]));
        }
        return item(OID, out.toByteArray());
    }

    private static void writeArc(ByteArrayOutputStream out, long arc) {
        int groups = Math.max(1, (64 - Long.numberOfLeadingZeros(arc) + 6) / 7);
        for (int i = groups - 1; i >= 0; i--) {
            out.write((int) ((arc >>> (7 * i)) & 0x7F) | (i > 0 ? 0x80 : 0));
        }
    }

    /** The dotted form of the contents of an OBJECT IDENTIFIER. */
    static String oidText(byte[] contents) {
        if (contents.length == 0 || (contents[contents.length - 1] & 0x80) != 0) {
            throw new IllegalArgumentException("malformed object identifier");
        }
        StringBuilder text = new StringBuilder();
        long arc = 0;
        boolean first = true;
        for (int i = 0; i < contents.length; i++) {
            if (arc == 0 && (contents[i] & 0xFF) == 0x80) {
                throw new IllegalArgumentException("malformed object identifier: an arc with a leading zero group");
            }
            if (arc >>> 56 != 0) {
                throw new IllegalArgumentException("object identifier arc too large");
            }
            arc = arc << 7 | (contents[i] & 0x7F);
            if ((contents[i] & 0x80) == 0) {
                if (first) {
                    long top = Math.min(arc / 40, 2);
                    text.append(top).append('.').append(arc - 40 * top);
                    first = false;
                } else {
                    text.append('.').append(arc);
                }
                arc = 0;
            }
        }
        return text.toString();
    }

    /** Reads items one after the other from an array, strictly. */
    static final class Reader {
        private final byte[] data;
        private final int end;
        private int at;
        private final String what;

        /**
         * @param data the encoding
         * @param what what it is, for the messages
         */
        Reader(byte[] data, String what) {
            this(data, 0, data.length, what);
        }

        private Reader(byte[] data, int start, int end, String what) {
            this.data = data;
            this.at = start;
            this.end = end;
            this.what = what;
        }

        boolean atEnd() {
            return at == end;
        }

        /** The tag of the next item, or -1 at the end. */
        int peekTag() {
            return at < end ? data[at] & 0xFF : -1;
        }

        /** Reads the next item, which must have the tag, and returns its contents. */
        byte[] read(int tag) {
            int[] bounds = next(tag);
            return Arrays.copyOfRange(data, bounds[0], bounds[1]);
        }

        /** Reads the next item, which must have the tag, as a reader of its contents. */
        Reader readNested(int tag) {
            int[] bounds = next(tag);
            return new Reader(data, bounds[0], bounds[1], what);
        }

        /** Fails unless every byte was read. */
        void expectEnd() {
            if (at != end) {
                throw new IllegalArgumentException(what + ": " + (end - at) + " bytes after the end of the encoding");
            }
        }

        private int[] next(int tag) {
            if (at >= end) {
                throw new IllegalArgumentException(what + ": the encoding ends where an item was expected");
            }
            int actual = data[at] & 0xFF;
            if (actual != tag) {
                throw new IllegalArgumentException(String.format("%s: tag 0x%02X where 0x%02X was expected", what, actual, tag));
            }
            if (at + 1 >= end) {
                throw new IllegalArgumentException(what + ": the encoding ends within an item's length");
            }
            int first = data[at + 1] & 0xFF;
            int position = at + 2;
            long length;
            if (first < 0x80) {
                length = first;
            } else {
                int bytes = first & 0x7F;
                if (bytes == 0) {
                    throw new IllegalArgumentException(what + ": indefinite length, which DER does not allow");
                }
                if (bytes > 4 || position + bytes > end) {
                    throw new IllegalArgumentException(what + ": a length longer than the encoding");
                }
                if (data[position] == 0) {
                    throw new IllegalArgumentException(what + ": a length with a leading zero byte, which DER does not allow");
                }
                length = 0;
                for (int i = 0; i < bytes; i++) {
                    length = length << 8 | (data[position + i] & 0xFF);
                }
                position += bytes;
                if (length < 0x80) {
                    throw new IllegalArgumentException(what + ": a short length in the long form, which DER does not allow");
                }
            }
            if (length > end - position) {
                throw new IllegalArgumentException(what + ": an item of " + length + " bytes where "
                        + (end - position) + " remain");
            }
            at = position + (int) length;
            return new int[] {position, at};
        }
    }
}
