#!/usr/bin/env bash
# Large-file figures: grows a Jet 3, a Jet 4 and an ACE file of the corpus to each size asked (bench/grow,
# written by Jackcess), checks that mdbtools and mdb-reader read every grown table with the
# row count the grower gives, then times and measures (wall time, peak RSS, bytes written):
#   jetrepair check            against mdb-export of every user table,
#   jetrepair repair of a copy with one stale row count   against cp of the same copy.
# Prints figures; never a test. Needs: scripts/deps.sh --bench (once), a build of the
# targets jetrepair, grow_database and bench_repair.
#
#   bench/large.sh [BUILD_DIR]            (default build/linux)
#   LARGE_SIZES="100 1024" bench/large.sh  sizes in MB (default 100; below 2048)
#   LARGE_DIR=/tmp/x bench/large.sh        where the grown files go (default /tmp/tarsolin-large)
#   LARGE_SOURCES="a.mdb b.accdb"          files to grow (default a Jet 3, a Jet 4 and an ACE file of the corpus)
#   LARGE_REUSE=1                          keep a grown file already there (same source, size, seed)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/linux}" && pwd)"
sizes="${LARGE_SIZES:-100}"
out="${LARGE_DIR:-/tmp/tarsolin-large}"
corpus="${TARSOLIN_CORPUS:-$root/../shared/corpus}"
sources="${LARGE_SOURCES:-$corpus/jackcess/V1997/indexTestV1997.mdb $corpus/jackcess/V2003/indexTestV2003.mdb $corpus/efcore-jet/JetProviderExceptionTests/Northwind.accdb}"
jetrepair="$build/tools/jetrepair/jetrepair"
[ -x "$jetrepair" ] || jetrepair="$build/jetrepair"
grow="$build/bench/grow_database"
stale="$build/bench/bench_repair"
export NODE_PATH="${TARSOLIN_NODE_MODULES:-$root/build/node/node_modules}"
for tool in "$jetrepair" "$grow" "$stale"; do
  [ -x "$tool" ] || { echo "falta $tool: compile jetrepair, grow_database y bench_repair" >&2; exit 2; }
done
mkdir -p "$out"
export MEASURE_OUT=/dev/null

# Runs a command under /usr/bin/time -v; prints "wall_s rss_mb wchar_mb write_mb status".
# Its output goes to $MEASURE_OUT.
# Written bytes come from the shell's own I/O account, which takes in its waited children.
measure() {
  local log
  log="$(mktemp)"
  set +e
  /usr/bin/time -v -o "$log" bash -c '"$@" > "$MEASURE_OUT" 2>&1; s=$?; cat /proc/$$/io >&2; exit $s' _ "$@" 2> "$log.io"
  local status=$?
  set -e
  awk -v status=$status '
    /Elapsed \(wall clock\)/ { n = split($NF, t, ":"); wall = (n == 3 ? t[1] * 3600 + t[2] * 60 + t[3] : t[1] * 60 + t[2]) }
    /Maximum resident set size/ { rss = $NF / 1024 }
    END { printf "%.2f %.1f ", wall, rss }' "$log"
  awk -v status=$status '/^wchar:/ { w = $2 } /^write_bytes:/ { b = $2 }
    END { printf "%.1f %.1f %d\n", w / 1048576, b / 1048576, status }' "$log.io"
  rm -f "$log" "$log.io"
}

show() {  # label, "wall rss wchar write status"
  read -r wall rss wchar written status <<< "$2"
  printf '  %-34s %8.2f s  pico %7.1f MB  escrito %8.1f MB (a disco %8.1f MB)  salida %s\n' \
    "$1" "$wall" "$rss" "$wchar" "$written" "$status"
}

# Rows per table from both readers against what the grower printed.
compare_counts() {  # file, grower log
  local file="$1" log="$2" ok=1
  declare -A reader
  while IFS=$'\t' read -r name rows; do reader["$name"]=$rows; done < <(node "$root/bench/count_rows.js" "$file")
  while IFS= read -r line; do
    name="${line#tabla }"; name="${name%%: *}"
    total="$(sed -E 's/.*, ([0-9]+) en total/\1/' <<< "$line")"
    mdbtools="$(mdb-export -H -R '@@ROW@@' "$file" "$name" | grep -a -o '@@ROW@@' | wc -l)"
    mark=ok
    [ "$mdbtools" = "$total" ] && [ "${reader[$name]:-?}" = "$total" ] || { mark=DISTINTO; ok=0; }
    printf '  %-24s %9s filas  mdbtools %9s  mdb-reader %9s  %s\n' "$name" "$total" "$mdbtools" "${reader[$name]:-?}" "$mark"
  done < <(grep -E ' en total$' "$log")
  [ $ok = 1 ]
}

export_all() {  # every user table through mdb-export, as a user would dump them
  mdb-tables -1 "$1" | while IFS= read -r t; do mdb-export "$1" "$t" > /dev/null; done
}
export -f export_all

echo "máquina: $(nproc) núcleos, $(awk '/MemTotal/ {printf "%.1f GB", $2 / 1048576}' /proc/meminfo); commit $(git -C "$root" rev-parse --short HEAD); $(date -u +%F)"
for size in $sizes; do
  for source in $sources; do
    name="$(basename "$source")"
    # Jet 3 files end below 1 GB.
    grown=$size
    [ "$(od -An -tu1 -j20 -N1 "$source" | tr -d ' ')" = 0 ] && [ "$size" -ge 1024 ] && grown=1000
    file="$out/${grown}MB_$name"
    echo
    echo "== $name hasta $grown MB"
    start=$(date +%s)
    if [ -z "${LARGE_REUSE:-}" ] || [ ! -s "$file.grow.log" ]; then
      "$grow" "$source" "$file" "$grown" 1 > "$file.grow.log"
      echo "  generado en $(( $(date +%s) - start )) s"
    fi
    echo "  $(stat -c %s "$file") bytes, $(grep -c ' en total$' "$file.grow.log") tablas crecidas"
    compare_counts "$file" "$file.grow.log" || echo "  ¡los lectores no leen las filas que dice el generador!"
    show "jetrepair check" "$(MEASURE_OUT="$file.check.txt" measure "$jetrepair" check "$file")"
    echo "  hallazgos por código: $(cut -f1,2 "$file.check.txt" | grep -v '^Se han\|^No se' | sort | uniq -c | awk '{printf "%s %s×%s  ", $2, $3, $1}')"
    show "mdb-export de todas las tablas" "$(measure bash -c 'export_all "$1"' _ "$file")"
    # Jackcess leaves its global map's window past most of the file (pages outside it read
    # as free): the repair of one stale count would rewrite that map too. The figures start
    # from the grown file once repaired, which checks clean.
    cp "$file" "$file.clean"
    "$jetrepair" repair "$file.clean" > /dev/null 2>&1 || true
    echo "  tras una reparación del mapa global: $("$jetrepair" check "$file.clean" 2>&1 | tail -n 1)"
    "$stale" --stale-copy "$file.clean" "$file.stale" > /dev/null
    cp "$file.stale" "$file.stale2"
    show "cp del archivo" "$(measure cp "$file.stale" "$file.copy")"
    rm -f "$file.copy"
    show "cp del archivo y sync (la reparación sincroniza)" "$(measure bash -c 'cp "$1" "$2" && sync "$2"' _ "$file.stale" "$file.copy")"
    show "jetrepair repair (recuento viejo)" "$(MEASURE_OUT="$file.repair.txt" measure "$jetrepair" repair "$file.stale2")"
    echo "  reparación: $(grep -c . "$file.repair.txt") líneas de salida; $(tail -n 1 "$file.repair.txt")"
    show "jetrepair check tras reparar" "$(MEASURE_OUT="$file.after.txt" measure "$jetrepair" check "$file.stale2")"
    echo "  tras reparar: $(tail -n 1 "$file.after.txt")"
    rm -f "$file.clean" "$file.stale" "$file.stale2" "$file.copy" "$out"/*"(copia de seguridad)"* 2> /dev/null || true
  done
done
