#!/usr/bin/env bash
# Benchmark: dumping a FoxPro table with a memo field to text, vfpsql "SELECT *" as CSV against
# PgDBF (Debian package pgdbf) on the same table, side by side in the same run. Each is run three
# times; the best time counts.
#
#   bench/vfpsql_csv.sh BUILD_DIR [rows=1000000] [folder=/tmp]
set -euo pipefail
build=${1:?usage: bench/vfpsql_csv.sh BUILD_DIR [rows] [folder]}
rows=${2:-1000000}
folder=${3:-/tmp}/vfpsql_csv_bench
vfpsql=$build/tools/vfpsql
command -v pgdbf >/dev/null || { echo "pgdbf is not installed (apt-get install pgdbf)" >&2; exit 2; }
[ -x "$vfpsql" ] || { echo "$vfpsql is not built" >&2; exit 2; }

rm -rf "$folder"
mkdir -p "$folder"
trap 'rm -rf "$folder"' EXIT

# Ten typical columns and a memo of 40 to 240 characters, some with commas and quotes.
{
  echo "CREATE TABLE orders (id I, customer C(30), city C(20), amount N(12,2), day D, stamp T, qty I, price B, paid L, note M)"
  awk -v n="$rows" 'BEGIN {
    for (r = 1; r <= n; r++) {
      note = "Order " r " for customer " (r % 977) ", delivered \"as agreed\""
      for (k = 0; k < r % 5; k++) note = note " and a further line of remarks"
      printf "INSERT INTO orders VALUES(%d, '\''Customer %d'\'', '\''Berlin'\'', %d.%02d, {^2021-08-%02d}, {^2021-08-31 12:34:%02d}, %d, %d.5, %s, '\''%s'\'')\n", \
        r, r % 977, r % 100000, r % 100, 1 + r % 28, r % 60, r % 50, r % 1000, (r % 2 ? ".T." : ".F."), note
    }
  }'
} | "$vfpsql" "$folder" >/dev/null

best() {  # best of three wall times of a command, in seconds
  local best=999999 t
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    best=$(echo "if ($t < $best) $t else $best" | bc -l)
  done
  printf '%.3f' "$best"
}

dbf=$(ls "$folder"/*.[dD][bB][fF])
fpt=$(ls "$folder"/*.[fF][pP][tT])
v=$(best "$vfpsql" "$folder" "SELECT * FROM orders")
p=$(best pgdbf -P -m "$fpt" "$dbf")
vbytes=$("$vfpsql" "$folder" "SELECT * FROM orders" | wc -c)
pbytes=$(pgdbf -P -m "$fpt" "$dbf" | wc -c)
echo "table: $rows rows, dbf $(du -m "$dbf" | cut -f1) MB, fpt $(du -m "$fpt" | cut -f1) MB"
echo "vfpsql SELECT * to CSV: $v s ($vbytes bytes)"
echo "pgdbf (PostgreSQL dump): $p s ($pbytes bytes)"
echo "RESULT vfpsql_csv_s=$v pgdbf_s=$p"
