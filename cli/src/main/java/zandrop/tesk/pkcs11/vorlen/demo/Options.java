package zandrop.tesk.pkcs11.vorlen.demo;

import java.util.HashMap;
import java.util.Map;
import java.util.Set;

/** The command and its options, as given on the command line. */
final class Options {

    /** Options that take a value; each may be written "--name value" or "--name=value". */
    private static final Set<String> WITH_VALUE = Set.of("module", "slot", "pin", "label", "type",
            "bits", "curve", "data", "in", "signature", "bytes", "port");

    final String command;
    private final Map<String, String> values;

    private Options(String command, Map<String, String> values) {
        this.command = command;
        this.values = values;
    }

    static Options parse(String[] args) throws UsageException {
        String command = null;
        Map<String, String> values = new HashMap<>();
        for (int i = 0; i < args.length; i++) {
            String arg = args[i];
            if (arg.equals("-h") || arg.equals("--help")) {
                return new Options("help", values);
            }
            if (arg.equals("--version")) {
                return new Options("version", values);
            }
            if (!arg.startsWith("--")) {
                if (command != null) {
                    throw new UsageException("unexpected argument '" + arg + "'");
                }
                command = arg;
                continue;
            }
            String name = arg.substring(2);
            String value;
            int equals = name.indexOf('=');
            if (equals >= 0) {
                value = name.substring(equals + 1);
                name = name.substring(0, equals);
            } else if (WITH_VALUE.contains(name)) {
                if (i + 1 >= args.length) {
                    throw new UsageException("option --" + name + " needs a value");
                }
                value = args[++i];
            } else {
                throw new UsageException("unknown option --" + name);
            }
            if (!WITH_VALUE.contains(name)) {
                throw new UsageException("unknown option --" + name);
            }
            if (values.put(name, value) != null) {
                throw new UsageException("option --" + name + " given twice");
            }
        }
        return new Options(command == null ? "help" : command, values);
    }

    String get(String name) {
        return values.get(name);
    }

    boolean has(String name) {
        return values.containsKey(name);
    }

    String require(String name, String why) throws UsageException {
        String value = values.get(name);
        if (value == null) {
            throw new UsageException(why);
        }
        return value;
    }

    /** Sets an option that the command line did not give. */
    void setDefault(String name, String value) {
        values.putIfAbsent(name, value);
    }

    /** A number option in decimal or, with 0x, hexadecimal; the default when not given. */
    long number(String name, long defaultValue) throws UsageException {
        String text = values.get(name);
        if (text == null) {
            return defaultValue;
        }
        try {
            if (text.startsWith("0x") || text.startsWith("0X")) {
                return Long.parseUnsignedLong(text.substring(2), 16);
            }
            return Long.parseUnsignedLong(text);
        } catch (NumberFormatException e) {
            throw new UsageException("--" + name + " takes a number, not '" + text + "'");
        }
    }
}
