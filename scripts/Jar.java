// Writes a jar whose bytes depend on its contents alone: the manifest first, then every file and
// folder in the order of their names, each with the same time and no permissions or owners. Two
// builds of the same sources, in different folders and at different times, give the same jar.
//
// The time is SOURCE_DATE_EPOCH (seconds since 1970, UTC; the build takes it from the commit),
// written as the zip format's local date and time read in UTC, so that the machine's time zone
// plays no part. The manifest is the given file with "Manifest-Version: 1.0" put first.
//
// Usage: java scripts/Jar.java OUT.jar MANIFEST SOURCE_DATE_EPOCH DIR...
//   Each DIR's files go into the jar under their paths relative to DIR; a path given by two
//   folders is an error. MANIFEST may be "-" for a jar without one.

import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TimeZone;
import java.util.TreeMap;
import java.util.stream.Stream;
import java.util.zip.ZipEntry;
import java.util.zip.ZipOutputStream;

public final class Jar {

    private Jar() {
    }

    public static void main(String[] args) throws IOException {
        if (args.length < 4) {
            System.err.println("usage: java Jar.java OUT.jar MANIFEST|- SOURCE_DATE_EPOCH DIR...");
            System.exit(2);
        }
        Path out = Path.of(args[0]);
        long time = Long.parseLong(args[2].trim()) * 1000L;
        // The zip format keeps a local date and time: UTC, whatever the machine's zone.
        TimeZone.setDefault(TimeZone.getTimeZone("UTC"));

        Map<String, Path> files = new TreeMap<>();
        for (int i = 3; i < args.length; i++) {
            Path root = Path.of(args[i]);
            try (Stream<Path> walk = Files.walk(root)) {
                for (Path path : (Iterable<Path>) walk::iterator) {
                    if (path.equals(root)) {
                        continue;
                    }
                    String name = root.relativize(path).toString().replace('\\', '/')
                            + (Files.isDirectory(path) ? "/" : "");
                    if (name.equalsIgnoreCase("META-INF/MANIFEST.MF") || name.equals("META-INF/")) {
                        continue;
                    }
                    Path earlier = files.put(name, path);
                    if (earlier != null && !Files.isDirectory(path)) {
                        throw new IOException(name + " is in " + earlier + " and " + path);
                    }
                }
            }
        }

        Path temporary = out.resolveSibling(out.getFileName() + ".tmp");
        try (ZipOutputStream zip = new ZipOutputStream(Files.newOutputStream(temporary))) {
            if (!args[1].equals("-")) {
                put(zip, "META-INF/", null, time);
                put(zip, "META-INF/MANIFEST.MF", manifest(Path.of(args[1])), time);
            }
            for (Map.Entry<String, Path> entry : files.entrySet()) {
                put(zip, entry.getKey(), entry.getKey().endsWith("/") ? null
                        : Files.readAllBytes(entry.getValue()), time);
            }
        }
        Files.move(temporary, out, StandardCopyOption.REPLACE_EXISTING, StandardCopyOption.ATOMIC_MOVE);
    }

    /** The manifest: "Manifest-Version: 1.0", then the file's lines, CRLF-ended as the jar tool writes. */
    private static byte[] manifest(Path file) throws IOException {
        List<String> lines = new ArrayList<>(List.of("Manifest-Version: 1.0"));
        for (String line : Files.readAllLines(file, StandardCharsets.UTF_8)) {
            if (!line.isBlank() && !line.startsWith("Manifest-Version:")) {
                lines.add(line);
            }
        }
        return (String.join("\r\n", lines) + "\r\n\r\n").getBytes(StandardCharsets.UTF_8);
    }

    private static void put(ZipOutputStream zip, String name, byte[] content, long time) throws IOException {
        ZipEntry entry = new ZipEntry(name);
        entry.setTime(time);
        zip.putNextEntry(entry);
        if (content != null) {
            OutputStream out = zip;
            out.write(content);
        }
        zip.closeEntry();
    }
}
