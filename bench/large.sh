#!/usr/bin/env bash
# Large-file figures: grows a Jet 4 and an ACE file of the corpus to each size asked (bench/grow,
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
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/linux}"
sizes="${LARGE_SIZES:-100}"
out="${LARGE_DIR:-/tmp/tarsolin-large}"
corpus="${TARSOLIN_CORPUS:-$root/../shared/corpus}"
sources=("${LARGE_SOURCES[@]:-$corpus/jackcess/V2003/indexTestV2003.mdb $corpus/efcore-jet/JetProviderExceptionTests/Northwind.accdb}")
jetrepair="$build/tools/jetrepair/jetrepair"
[ -x "$jetrepair" ] || jetrepair="$build/jetrepair"
grow="$build/bench/grow_database"
stale="$build/bench/bench_repair"
export NODE_PATH="${TARSOLIN_NODE_MODULES:-$root/build/node/node_modules}"
for tool in "$jetrepair" "$grow" "$stale"; do
  [ -x "$tool" ] || { echo "falta $tool: compile jetrepair, grow_database y bench_repair" >&2; exit 2; }
done
mkdir -p "$out"

# Runs a command under /usr/bin/time -v; prints "wall_s rss_mb wchar_mb write_mb status".
# Written bytes come from the shell's own I/O account, which takes in its waited children.
measure() {
  local log
  log="$(mktemp)"
  set +e
  /usr/bin/time -v -o "$log" bash -c '"$@" > /dev/null 2>&1; s=$?; cat /proc/$$/io >&2; exit $s' _ "$@" 2> "$log.io"
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
  for source in ${sources[@]}; do
    name="$(basename "$source")"
    file="$out/${size}MB_$name"
    echo
    echo "== $name hasta $size MB"
    start=$(date +%s)
    "$grow" "$source" "$file" "$size" 1 > "$file.grow.log"
    echo "  generado en $(( $(date +%s) - start )) s: $(stat -c %s "$file") bytes, $(grep -c ' en total$' "$file.grow.log") tablas crecidas"
    compare_counts "$file" "$file.grow.log" || echo "  ¡los lectores no leen las filas que dice el generador!"
    findings="$("$jetrepair" check "$file" 2>&1 | tail -n +1 | grep -c . || true)"
    show "jetrepair check" "$(measure "$jetrepair" check "$file")"
    echo "  (salida de check: $findings líneas; salida 0 = sin hallazgos)"
    show "mdb-export de todas las tablas" "$(measure bash -c 'export_all "$1"' _ "$file")"
    "$stale" --stale-copy "$file" "$file.stale" > /dev/null
    cp "$file.stale" "$file.stale2"
    show "cp del archivo" "$(measure cp "$file.stale" "$file.copy")"
    show "jetrepair repair (recuento viejo)" "$(measure "$jetrepair" repair "$file.stale2")"
    show "jetrepair check tras reparar" "$(measure "$jetrepair" check "$file.stale2")"
    rm -f "$file.stale" "$file.stale2" "$file.copy" "$file".*.bak* 2> /dev/null || true
  done
done
