#!/usr/bin/env bash
# Damage at scale: every damage kind of the damage tests (made by their own functions,
# bench_damage_apply) on a copy of each large file, then `jetrepair repair` of the copy.
# Per kind it prints the repair's outcome, its time and peak memory, and the rows of every
# user table: what the reader gets from the damaged file (the floor) against what it gets
# from the repaired one, and rows lost below the floor. Prints figures; never a test. The
# large files are read only; the copies go to DAMAGE_DIR.
#
#   bench/damage_at_scale.sh [BUILD_DIR] [FILE...]   (default build/linux; the 100 MB files
#                                                    bench/large.sh grows in /tmp/tarsolin-large)
#   DAMAGE_KINDS="torn-page stale-row-count"          only these kinds (bench_damage_apply --kinds)
#   DAMAGE_READER=mdb-reader                          judge with mdb-reader instead of mdbtools
#   DAMAGE_DIR=/tmp/x                                 where the copies go (default /tmp/tarsolin-damage)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/linux}" && pwd)"
shift || true
files=("$@")
[ ${#files[@]} -gt 0 ] || files=(/tmp/tarsolin-large/100MB_indexTestV1997.mdb /tmp/tarsolin-large/100MB_indexTestV2003.mdb
                                  /tmp/tarsolin-large/100MB_Northwind.accdb)
jetrepair="$build/tools/jetrepair/jetrepair"
[ -x "$jetrepair" ] || jetrepair="$build/jetrepair"
apply="$build/bench/bench_damage_apply"
for tool in "$jetrepair" "$apply"; do
  [ -x "$tool" ] || { echo "falta $tool: compile jetrepair y bench_damage_apply" >&2; exit 2; }
done
reader="${DAMAGE_READER:-mdbtools}"
export NODE_PATH="${TARSOLIN_NODE_MODULES:-$root/build/node/node_modules}"
out="${DAMAGE_DIR:-/tmp/tarsolin-damage}"
mkdir -p "$out"
kinds="${DAMAGE_KINDS:-$("$apply" --kinds | tr '\n' ' ')}"

# "table<TAB>rows" for every user table; a table the reader cannot read counts 0 rows.
count_rows() {
  if [ "$reader" = mdb-reader ]; then
    timeout 300 node "$root/bench/count_rows.js" "$1" 2>/dev/null || true
  else
    timeout 120 mdb-tables -1 "$1" 2>/dev/null | while IFS= read -r t; do
      printf '%s\t%s\n' "$t" "$(timeout 120 mdb-export -H -R '@@ROW@@' "$1" "$t" 2>/dev/null | grep -a -o '@@ROW@@' | wc -l)"
    done
  fi
}

# Sums over the tables of two countings: "floor kept below" (below: rows under the floor,
# table by table, so one table's gain never hides another's loss).
compare() {
  awk -F'\t' 'FILENAME == ARGV[1] { floor[$1] = $2; next } { kept[$1] = $2 }
    END { for (t in floor) { f += floor[t]; k += kept[t]; if (kept[t] < floor[t]) b += floor[t] - kept[t] }
          for (t in kept) if (!(t in floor)) k += kept[t]
          printf "%d %d %d\n", f, k, b }' "$1" "$2"
}

echo "máquina: $(nproc) núcleos, $(awk '/MemTotal/ {printf "%.1f GB", $2 / 1048576}' /proc/meminfo); commit $(git -C "$root" rev-parse --short HEAD); $(date -u +%F); lector $reader"
for file in "${files[@]}"; do
  name="$(basename "$file")"
  copy="$out/work/$name"  # the folder also takes the backup and the recovered data
  echo "== $name ($(( $(stat -c %s "$file") / 1048576 )) MB)"
  count_rows "$file" > "$out/intact.rows"
  printf '  %-22s %-12s %8s %6s %10s %10s %7s  %s\n' clase reparación s "MB" "suelo" "quedan" "perdidas" nota
  for kind in $kinds; do
    rm -rf "$out/work" && mkdir -p "$out/work"
    set +e
    note="$("$apply" "$file" "$copy" "$kind" 2>&1)"
    status=$?
    set -e
    if [ $status -eq 3 ]; then printf '  %-22s sin objetivo en este archivo\n' "$kind"; continue; fi
    [ $status -eq 0 ] || { printf '  %-22s error al dañar: %s\n' "$kind" "$note"; continue; }
    count_rows "$copy" > "$out/damaged.rows"
    set +e
    /usr/bin/time -f '%e %M' -o "$out/time" "$jetrepair" repair "$copy" > "$out/repair.log" 2>&1
    status=$?
    set -e
    read -r wall rss < <(tail -1 "$out/time")
    case $status in
      0) outcome=reparada ;;
      4) outcome=reparada ;;
      *) outcome="rehusada($status)" ;;
    esac
    grep -q 'no tiene problemas' "$out/repair.log" && outcome=intacta
    count_rows "$copy" > "$out/repaired.rows"
    read -r floor kept below < <(compare "$out/damaged.rows" "$out/repaired.rows")
    printf '  %-22s %-12s %8.2f %6.0f %10d %10d %7d  %s\n' "$kind" "$outcome" "$wall" "$((rss / 1024))" \
      "$floor" "$kept" "$below" "$note"
  done
  read -r intact _ _ < <(compare "$out/intact.rows" "$out/intact.rows")
  echo "  filas del archivo intacto: $intact"
  rm -rf "$out/work"
done
