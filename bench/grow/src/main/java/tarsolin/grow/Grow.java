package tarsolin.grow;

import com.healthmarketscience.jackcess.Column;
import com.healthmarketscience.jackcess.DataType;
import com.healthmarketscience.jackcess.Database;
import com.healthmarketscience.jackcess.DatabaseBuilder;
import com.healthmarketscience.jackcess.Index;
import com.healthmarketscience.jackcess.Row;
import com.healthmarketscience.jackcess.Table;
import com.healthmarketscience.jackcess.impl.IndexImpl;

import java.io.File;
import java.io.IOException;
import java.math.BigDecimal;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;
import java.time.LocalDateTime;
import java.util.ArrayList;
import java.util.Date;
import java.util.HashMap;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Random;
import java.util.Set;
import java.util.TreeSet;
import java.util.UUID;

// Grows a copy of a real database to a chosen size by adding rows to its user tables, written
// by Jackcess: an independent writer keeps the result a fair test of our reading. New rows copy
// an existing row (so relationships stay satisfied), take fresh values in the columns that
// keep their unique indexes unique, and long memo/OLE values that span pages.
public final class Grow {
    private static final int BATCH = 250;
    private static final int TEMPLATES = 2000;

    public static void main(String[] args) throws Exception {
        if (args.length < 3 || args.length > 4) {
            System.err.println("uso: grow_database ORIGEN DESTINO TAMAÑO_MB [SEMILLA]");
            System.exit(2);
        }
        File source = new File(args[0]);
        File target = new File(args[1]);
        long goal = Long.parseLong(args[2]) * 1024L * 1024L;
        long seed = args.length == 4 ? Long.parseLong(args[3]) : 1L;
        if (goal >= 2048L * 1024 * 1024) {
            System.err.println("el tamaño debe quedar por debajo de 2048 MB");
            System.exit(2);
        }
        Files.copy(source.toPath(), target.toPath(), StandardCopyOption.REPLACE_EXISTING);
        target.setWritable(true);
        try (Database db = new DatabaseBuilder(target).setAutoSync(false).open()) {
            Database.FileFormat format = db.getFileFormat();
            if (format == Database.FileFormat.V1997) {
                System.err.println("Jackcess no escribe este formato (" + format + ")");
                System.exit(3);
            }
            List<Grower> growers = new ArrayList<>();
            for (String name : new TreeSet<>(db.getTableNames())) {
                if (name.startsWith("MSys")) continue;  // Access's own, whatever their flags say
                Table table = db.getTable(name);
                String why = Grower.refusal(table);
                if (why != null) {
                    System.out.println("tabla " + name + ": sin crecer (" + why + ")");
                    continue;
                }
                growers.add(new Grower(table, new Random(seed * 7919 + growers.size())));
            }
            if (growers.isEmpty()) {
                System.err.println("ninguna tabla se puede hacer crecer");
                System.exit(4);
            }
            grow(db, target, goal, growers);
            for (Grower g : growers)
                System.out.println("tabla " + g.table.getName() + ": " + g.added + " filas añadidas, " +
                                   g.table.getRowCount() + " en total");
        }
        System.out.println("archivo " + target + ": " + target.length() + " bytes");
    }

    private static void grow(Database db, File target, long goal, List<Grower> growers) throws IOException {
        while (target.length() < goal) {
            boolean any = false;
            for (Grower g : growers) {
                if (target.length() >= goal) break;
                any |= g.addBatch(BATCH);
            }
            db.flush();
            if (!any) {
                System.out.println("las tablas no admiten más filas nuevas");
                break;
            }
        }
    }

    // One table being grown: its template rows and the columns that need fresh values.
    static final class Grower {
        final Table table;
        final Random random;
        final List<Row> templates = new ArrayList<>();
        final Map<String, Fresh> fresh = new LinkedHashMap<>();
        final Set<String> indexed = new HashSet<>();
        long added = 0;
        boolean exhausted = false;

        static String refusal(Table table) throws IOException {
            if (table.getRowCount() == 0) return "sin filas que copiar";
            for (Column c : table.getColumns()) {
                if (c.getType() == DataType.COMPLEX_TYPE) return "columna compleja " + c.getName();
                if (c.isCalculated()) return "columna calculada " + c.getName();
            }
            Set<String> children = childColumns(table);
            for (Index ix : table.getIndexes()) {
                if (!ix.isUnique()) continue;
                if (freshColumn(table, ix, children) == null && !hasAutoNumber(ix))
                    return "índice único " + ix.getName() + " sin columna que variar";
            }
            return null;
        }

        Grower(Table table, Random random) throws IOException {
            this.table = table;
            this.random = random;
            Set<String> children = childColumns(table);
            for (Index ix : table.getIndexes())
                for (Index.Column c : ix.getColumns()) indexed.add(c.getName());
            for (Index ix : table.getIndexes()) {
                if (!ix.isUnique() || hasAutoNumber(ix)) continue;
                Column c = freshColumn(table, ix, children);
                if (!fresh.containsKey(c.getName())) fresh.put(c.getName(), new Fresh(c));
            }
            for (Row row : table) {
                if (templates.size() < TEMPLATES) templates.add(row);
                for (Fresh f : fresh.values()) f.see(row.get(f.column.getName()));
            }
        }

        // Columns on the referencing side of a relationship keep their template's value.
        static Set<String> childColumns(Table table) throws IOException {
            Set<String> out = new HashSet<>();
            for (Index ix : table.getIndexes())
                if (ix.isForeignKey() && !((IndexImpl) ix).getReference().isPrimaryTable())
                    for (Index.Column c : ix.getColumns()) out.add(c.getName());
            return out;
        }

        static boolean hasAutoNumber(Index ix) {
            for (Index.Column c : ix.getColumns())
                if (c.getColumn().isAutoNumber()) return true;
            return false;
        }

        static Column freshColumn(Table table, Index ix, Set<String> children) {
            for (Index.Column ic : ix.getColumns()) {
                Column c = ic.getColumn();
                if (!children.contains(c.getName()) && Fresh.supports(c.getType())) return c;
            }
            return null;
        }

        boolean addBatch(int count) throws IOException {
            if (exhausted) return false;
            List<Map<String, Object>> rows = new ArrayList<>(count);
            for (int i = 0; i < count; ++i) {
                Map<String, Object> row = newRow();
                if (row == null) {
                    exhausted = true;
                    break;
                }
                rows.add(row);
            }
            if (rows.isEmpty()) return false;
            table.addRowsFromMaps(rows);
            added += rows.size();
            return true;
        }

        Map<String, Object> newRow() {
            Row template = templates.get(random.nextInt(templates.size()));
            Map<String, Object> row = new HashMap<>(template);
            for (Column c : table.getColumns()) {
                String name = c.getName();
                if (c.isAutoNumber()) row.put(name, Column.AUTO_NUMBER);
                else if (fresh.containsKey(name)) {
                    Object v = fresh.get(name).next();
                    if (v == null) return null;
                    row.put(name, v);
                } else if (c.getType() == DataType.MEMO && !indexed.contains(name)) {
                    row.put(name, random.nextInt(6) == 0 ? longText() : "nota " + random.nextInt(1000000));
                } else if (c.getType() == DataType.OLE) {
                    // Copied pictures would make the size in a few rows: most rows get a short value.
                    row.put(name, random.nextInt(6) == 0 ? longBytes() : shortBytes());
                }
            }
            return row;
        }

        private static final String[] WORDS = {"agua", "tierra", "camino", "piedra", "río", "monte", "cielo",
                                               "viento", "fuego", "árbol", "casa", "puerta", "libro", "mar"};

        String longText() {
            int length = 3000 + random.nextInt(12000);
            StringBuilder out = new StringBuilder(length + 16);
            while (out.length() < length) out.append(WORDS[random.nextInt(WORDS.length)]).append(' ');
            return out.toString();
        }

        byte[] shortBytes() {
            byte[] out = new byte[16 + random.nextInt(200)];
            random.nextBytes(out);
            return out;
        }

        byte[] longBytes() {
            byte[] out = new byte[4000 + random.nextInt(16000)];
            random.nextBytes(out);
            return out;
        }
    }

    // Values no row of the column holds yet, in increasing order from past the largest.
    static final class Fresh {
        final Column column;
        final Set<String> taken = new HashSet<>();
        double max = 0;
        Date maxDate = null;
        LocalDateTime maxLocal = null;
        long counter = 0;

        Fresh(Column column) { this.column = column; }

        static boolean supports(DataType t) {
            switch (t) {
                case BYTE: case INT: case LONG: case BIG_INT: case MONEY: case NUMERIC: case FLOAT: case DOUBLE:
                case SHORT_DATE_TIME: case TEXT: case GUID:
                    return true;
                default:
                    return false;
            }
        }

        void see(Object v) {
            if (v == null) return;
            if (v instanceof Number) max = Math.max(max, ((Number) v).doubleValue());
            else if (v instanceof Date) {
                if (maxDate == null || ((Date) v).after(maxDate)) maxDate = (Date) v;
            } else if (v instanceof LocalDateTime) {
                if (maxLocal == null || ((LocalDateTime) v).isAfter(maxLocal)) maxLocal = (LocalDateTime) v;
            } else taken.add(v.toString().toLowerCase(Locale.ROOT));
        }

        Object next() {
            ++counter;
            long base = (long) Math.floor(max);
            switch (column.getType()) {
                case BYTE: return base + counter <= 255 ? (Object) (byte) (base + counter) : null;
                case INT: return base + counter <= Short.MAX_VALUE ? (Object) (short) (base + counter) : null;
                case LONG: return base + counter <= Integer.MAX_VALUE ? (Object) (int) (base + counter) : null;
                case BIG_INT: return base + counter;
                case MONEY: case NUMERIC: return BigDecimal.valueOf(base + counter);
                case FLOAT: case DOUBLE: return (double) (base + counter);
                case SHORT_DATE_TIME:
                    if (maxLocal != null) return maxLocal.plusMinutes(counter);
                    long from = maxDate == null ? 946684800000L : maxDate.getTime();
                    return new Date(from + counter * 60000L);
                case GUID: return "{" + new UUID(0x7a6eL << 48 | counter, counter * 0x9e3779b97f4a7c15L) + "}";
                case TEXT: return text();
                default: return null;
            }
        }

        // Base-36 counters behind a "Z", as short as the column allows (a fixed-length
        // column takes only values of its whole length: zeros fill them), skipping values
        // already there (the comparison in an index ignores case).
        Object text() {
            int units = Math.max(1, column.getLengthInUnits());
            while (true) {
                String digits = Long.toString(counter, 36).toUpperCase(Locale.ROOT);
                String prefix = units > 1 ? "Z" : "";
                if (prefix.length() + digits.length() > units) return null;
                if (!column.isVariableLength()) digits = "0".repeat(units - prefix.length() - digits.length()) + digits;
                String v = prefix + digits;
                if (!taken.contains(v.toLowerCase(Locale.ROOT))) return v;
                ++counter;
            }
        }
    }
}
