// Reads the CSV that JMH writes (-rf csv) and prints, per workload, each binding's score with
// JMH's error (99.9% interval) and its ratio to the module's own loop, the ratio's error taken
// as the sum of the two relative errors (a bound, not a confidence interval); for the library,
// also its ratio to the floor (the cheapest JNI method with the same result) and to FFM and JNA.
//
// Usage: java bench/jmh/Ratios.java RESULTS.csv

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

public final class Ratios {
    private Ratios() {
    }

    public static void main(String[] args) throws Exception {
        List<String> lines = Files.readAllLines(Path.of(args[0]));
        List<String> header = split(lines.get(0));
        int score = header.indexOf("Score");
        int error = header.indexOf("Score Error (99.9%)");
        int unit = header.indexOf("Unit");
        int binding = header.indexOf("Param: binding");
        int workload = header.indexOf("Param: workload");
        Map<String, Map<String, double[]>> rows = new LinkedHashMap<>();
        Map<String, String> units = new LinkedHashMap<>();
        for (String line : lines.subList(1, lines.size())) {
            List<String> f = split(line);
            rows.computeIfAbsent(f.get(workload), k -> new LinkedHashMap<>())
                    .put(f.get(binding), new double[] {Double.parseDouble(f.get(score)), Double.parseDouble(f.get(error))});
            units.put(f.get(workload), f.get(unit));
        }
        System.out.println("| workload | binding | score | ratio to the module's loop | library / this |");
        System.out.println("|---|---|---|---|---|");
        for (Map.Entry<String, Map<String, double[]>> row : rows.entrySet()) {
            double[] module = row.getValue().get("module");
            double[] library = row.getValue().get("library");
            for (Map.Entry<String, double[]> cell : row.getValue().entrySet()) {
                double[] s = cell.getValue();
                String ratio = "";
                if (module != null && !cell.getKey().equals("module")) {
                    double r = s[0] / module[0];
                    double e = r * (s[1] / s[0] + module[1] / module[0]);
                    ratio = String.format("%.2f ± %.2f", r, e);
                }
                String toLibrary = "";
                if (library != null && !cell.getKey().equals("library") && !cell.getKey().equals("module")) {
                    double r = library[0] / s[0];
                    toLibrary = String.format("%.2f ± %.2f", r, r * (library[1] / library[0] + s[1] / s[0]));
                }
                System.out.printf("| %s | %s | %.3f ± %.3f %s | %s | %s |%n", row.getKey(), cell.getKey(), s[0], s[1],
                        units.get(row.getKey()), ratio, toLibrary);
            }
        }
    }

    private static List<String> split(String line) {
        List<String> fields = new ArrayList<>();
        for (String f : line.split(",(?=(?:[^\"]*\"[^\"]*\")*[^\"]*$)", -1)) {
            fields.add(f.replaceAll("^\"|\"$", ""));
        }
        return fields;
    }
}
