#!/usr/bin/env bash
# Whole-conversion benchmark: generates a MySQL database of ROWS rows across
# three tables (integers, DECIMAL, VARCHAR, DATETIME, TEXT, BLOB), then times
#   quindrel live with COPY, live with INSERT, and into a script file,
# next to the baseline of `mariadb --batch --quick` piped into `psql \copy` of the
# same rows, and prints rows/s, the ratio to the baseline and peak memory
# (maximum resident set size from /usr/bin/time -v). A second COPY run with a
# tenth of the rows shows whether peak memory grows with the row count; a last
# COPY run of the same rows plus one 3 MB row shows that such a row does not
# slow the rest down (it stays in the COPY stream, sent in pieces).
#
# Two more shapes follow:
#  - an HR-shaped database (bench/make_hr_db.sh: six tables, about 3.9 million
#    rows at the default size, dates in every large table, keys and foreign
#    keys) by live COPY, next to the same pipe run table after table on bare
#    tables, and the pipe followed by the keys, indexes and foreign keys;
#  - large values: one row holding a text of LARGE_VALUE_MB megabytes (plain, and with a tab
#    every 8 bytes) and a byte array of as many megabytes, and 1,000 rows of 1 MB texts, by live
#    COPY and live INSERT, with peak memory (bounded by the bytes in flight, not by the row count);
#  - many small tables (3 columns, a primary key, 10 rows each) by live COPY:
#    the time per table at 100 tables and at the larger counts, which must not
#    grow with the number of tables before it;
#  - one table with a primary key and 8 indexes by live COPY, next to the same
#    run without indexes: the difference is the time after the table's last row,
#    which must be about that of its largest index, not their sum.
#
#   bench/bench_conversion.sh [ROWS]        (default 1000000)
#
# Uses the servers of the TEST_* variables when they are set (source the env
# file of scripts/test_servers.sh), otherwise starts throwaway ones.
#   BUILD_DIR     build folder with console/quindrel (default: build; built when missing)
#   SKIP_INSERT   1 to leave out the (slow) live INSERT run
#   HR_EMPLOYEES  employees of the HR-shaped set (default 300024, about 3.9 M rows; 0 leaves it out)
#   SMALL_TABLES  counts of small tables (default "1000 5000"; empty leaves them out)
#   INDEXED_ROWS  rows of the table with 8 indexes (default 2000000; 0 leaves it out)
#   LARGE_VALUE_MB  megabytes of the one large value (default 64; 0 leaves the large values out)
set -euo pipefail
rows=${1:-1000000}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
quindrel="$build/console/quindrel"
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed (apt-get install time)" >&2; exit 1; }
if [ ! -x "$quindrel" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"$(nproc)" --target quindrel
fi

work=$(mktemp -d /tmp/quindrel-bench.XXXXXX)
chmod 755 "$work"
own_servers=0
if [ -z "${TEST_MYSQL_PORT:-}" ] || [ -z "${TEST_PG_PORT:-}" ]; then
  own_servers=1
  "$root/scripts/test_servers.sh" start "$work/servers" >/dev/null
  # shellcheck disable=SC1091
  source "$work/servers/env"
fi
PGBIN=${TEST_PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)}
export PGPASSWORD="$TEST_PG_PASSWORD"
src="qbench_src_$$"
dbs=("qbench_copy_$$" "qbench_copy_small_$$" "qbench_insert_$$" "qbench_base_$$" "qbench_copy_big_$$"
     "qbench_hr_$$" "qbench_hr_base_$$" "qbench_tables_$$" "qbench_indexed_$$" "qbench_indexed_bare_$$"
     "qbench_large_$$")
hr_employees=${HR_EMPLOYEES:-300024}
small_tables=${SMALL_TABLES-1000 5000}
indexed_rows=${INDEXED_ROWS:-2000000}
large_mb=${LARGE_VALUE_MB:-64}
[[ "$large_mb" =~ ^[0-9]+$ ]] || { echo "LARGE_VALUE_MB must be a whole number" >&2; exit 1; }
[[ "$hr_employees" =~ ^[0-9]+$ ]] || { echo "HR_EMPLOYEES must be a whole number" >&2; exit 1; }
[[ "$indexed_rows" =~ ^[0-9]+$ ]] || { echo "INDEXED_ROWS must be a whole number" >&2; exit 1; }
for n in $small_tables; do [[ "$n" =~ ^[0-9]+$ ]] && [ "$n" -gt 0 ] || { echo "SMALL_TABLES must list whole numbers" >&2; exit 1; }; done

my() { mariadb --no-defaults -h "$TEST_MYSQL_HOST" -P "$TEST_MYSQL_PORT" -u "$TEST_MYSQL_USER" -p"$TEST_MYSQL_PASSWORD" "$@"; }
pg() { "$PGBIN/psql" -X -q -h "$TEST_PG_HOST" -p "$TEST_PG_PORT" -U "$TEST_PG_USER" "$@"; }

cleanup() {
  my -e "DROP DATABASE IF EXISTS \`$src\`; DROP DATABASE IF EXISTS \`${src}_small\`;
        DROP DATABASE IF EXISTS \`${src}_hr\`; DROP DATABASE IF EXISTS \`${src}_tables\`;
        DROP DATABASE IF EXISTS \`${src}_indexed\`; DROP DATABASE IF EXISTS \`${src}_large\`" 2>/dev/null || true
  for db in "${dbs[@]}"; do pg -d postgres -c "DROP DATABASE IF EXISTS \"$db\" WITH (FORCE)" 2>/dev/null || true; done
  [ "$own_servers" = 1 ] && "$root/scripts/test_servers.sh" stop "$work/servers"
  rm -rf "$work"
}
trap cleanup EXIT

# Rows: 40 % numbers, 40 % texts and dates, 20 % binary values.
generate() {  # database, row count
  local db=$1 n=$2
  local n_num=$((n * 4 / 10)) n_txt=$((n * 4 / 10))
  local n_bin=$((n - n_num - n_txt))
  my <<SQL
DROP DATABASE IF EXISTS \`$db\`;
CREATE DATABASE \`$db\` CHARACTER SET utf8mb4;
USE \`$db\`;
CREATE TABLE t_numbers (id BIGINT PRIMARY KEY, a INT NOT NULL, b BIGINT NOT NULL, amount DECIMAL(18,4) NOT NULL,
                        KEY ix_a (a));
CREATE TABLE t_texts (id INT PRIMARY KEY, name VARCHAR(100) NOT NULL, created DATETIME NOT NULL, body MEDIUMTEXT NOT NULL);
CREATE TABLE t_binary (id INT PRIMARY KEY, data BLOB NOT NULL, note VARCHAR(50) NOT NULL);
INSERT INTO t_numbers SELECT seq, seq % 100000, seq * 7919, seq / 13 FROM seq_1_to_$n_num;
INSERT INTO t_texts SELECT seq, CONCAT('name ', seq, ' Zoë'), '2024-01-01' + INTERVAL seq SECOND,
       CONCAT(REPEAT('lorem ipsum ', 1 + seq % 8), '\t', seq, '\nend') FROM seq_1_to_$n_txt;
INSERT INTO t_binary SELECT seq, UNHEX(SHA2(seq, 512)), CONCAT('n', seq) FROM seq_1_to_$n_bin;
SQL
}

# Runs a command under /usr/bin/time -v; sets secs and peak_kb.
measure() {
  local out="$work/time.txt"
  /usr/bin/time -v -o "$out" "$@" >"$work/cmd.out" 2>"$work/cmd.err" || {
    echo "failed: $*" >&2; cat "$work/cmd.out" "$work/cmd.err" >&2; exit 1; }
  local wall
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$out")
  secs=$(awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }' <<<"$wall")
  peak_kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$out")
}

conn=(--mysqlh="$TEST_MYSQL_HOST" --myport="$TEST_MYSQL_PORT" --mysqlu="$TEST_MYSQL_USER" --mysqlp="$TEST_MYSQL_PASSWORD"
      --posgsh="$TEST_PG_HOST" --pgport="$TEST_PG_PORT" --posgsu="$TEST_PG_USER" --posgsp="$TEST_PG_PASSWORD")

echo "generating $rows rows ..."
generate "$src" "$rows"
generate "${src}_small" $((rows / 10))

declare -a names times peaks
record() { names+=("$1"); times+=("$secs"); peaks+=("$peak_kb"); }

measure "$quindrel" --src="$src" --dest="${dbs[0]}" --fast_insert "${conn[@]}"
record "quindrel live COPY"
copy_secs=$secs
measure "$quindrel" --src="${src}_small" --dest="${dbs[1]}" --fast_insert "${conn[@]}"
small_secs=$secs small_peak=$peak_kb
if [ "${SKIP_INSERT:-0}" != 1 ]; then
  measure "$quindrel" --src="$src" --dest="${dbs[2]}" "${conn[@]}"
  record "quindrel live INSERT"
fi
measure "$quindrel" --src="$src" --dest="$work/script.sql" --dump "${conn[@]}"
record "quindrel script"
script_mb=$(( $(stat -c %s "$work/script.sql") / 1048576 ))
rm -f "$work/script.sql"

# Baseline: the same tables (structure taken from the COPY run), rows streamed
# by the MySQL client in batch mode into psql's \copy. Binary values travel as
# PostgreSQL's hex form.
pg -d postgres -c "CREATE DATABASE \"${dbs[3]}\""
"$PGBIN/pg_dump" -h "$TEST_PG_HOST" -p "$TEST_PG_PORT" -U "$TEST_PG_USER" --schema-only "${dbs[0]}" |
  pg -d "${dbs[3]}" -v ON_ERROR_STOP=1 >/dev/null
cat >"$work/baseline.sh" <<EOF
set -euo pipefail
copy() {
  mariadb --no-defaults --batch --quick --skip-column-names -h "$TEST_MYSQL_HOST" -P "$TEST_MYSQL_PORT" \
    -u "$TEST_MYSQL_USER" -p"\$MYPW" "$src" -e "\$1" |
    "$PGBIN/psql" -X -q -h "$TEST_PG_HOST" -p "$TEST_PG_PORT" -U "$TEST_PG_USER" -d "${dbs[3]}" -c "\\\\copy \$2 FROM STDIN"
}
copy "SELECT id, a, b, amount FROM t_numbers" t_numbers
copy "SELECT id, name, created, body FROM t_texts" t_texts
copy "SELECT id, CONCAT('\\\\\\\\x', HEX(data)), note FROM t_binary" t_binary
EOF
export MYPW="$TEST_MYSQL_PASSWORD"
measure bash "$work/baseline.sh"
base_secs=$secs
names+=("baseline mariadb | psql \\copy"); times+=("$secs"); peaks+=("$peak_kb")

check=$(pg -d "${dbs[3]}" -tAc "SELECT (SELECT count(*) FROM t_numbers) + (SELECT count(*) FROM t_texts) + (SELECT count(*) FROM t_binary)")
copied=$(pg -d "${dbs[0]}" -tAc "SELECT (SELECT count(*) FROM t_numbers) + (SELECT count(*) FROM t_texts) + (SELECT count(*) FROM t_binary)")
[ "$check" = "$rows" ] && [ "$copied" = "$rows" ] || { echo "row counts differ: baseline $check, COPY $copied, expected $rows" >&2; exit 1; }

# The same rows plus one row of 3 MB, by COPY.
my "$src" -e "INSERT INTO t_texts VALUES ($rows + 1, 'big', '2024-01-01', REPEAT('x', 3145728))"
measure "$quindrel" --src="$src" --dest="${dbs[4]}" --fast_insert "${conn[@]}"
big_secs=$secs
big_rows=$(pg -d "${dbs[4]}" -tAc "SELECT count(*) FROM t_texts WHERE length(body) = 3145728")
[ "$big_rows" = 1 ] || { echo "the 3 MB row did not arrive" >&2; exit 1; }

echo
printf '%-32s %10s %12s %16s %12s\n' "method ($rows rows)" "seconds" "rows/s" "vs baseline" "peak MB"
for i in "${!names[@]}"; do
  name="${names[$i]}" awk -v s="${times[$i]}" -v r="$rows" -v b="$base_secs" -v p="${peaks[$i]}" \
    'BEGIN { printf "%-32s %10.2f %12.0f %15.2fx %12.1f\n", ENVIRON["name"], s, (s > 0 ? r / s : 0), (s > 0 ? b / s : 0), p / 1024 }'
done
echo "script file: $script_mb MB"
awk -v big="${peaks[0]}" -v small="$small_peak" -v r="$rows" -v s="$small_secs" -v c="$copy_secs" \
  'BEGIN { printf "peak memory of live COPY: %.1f MB at %d rows, %.1f MB at %d rows (%.2fx for 10x the rows; %.2f s vs %.2f s)\n",
           big / 1024, r, small / 1024, r / 10, (small > 0 ? big / small : 0), c, s }'
awk -v b="$base_secs" -v c="$copy_secs" \
  'BEGIN { printf "goal: live COPY at least as fast as the baseline: %s (%.2fx)\n", (c > 0 && b / c >= 1.0 ? "met" : "NOT met"), (c > 0 ? b / c : 0) }'
if [ "${SKIP_INSERT:-0}" != 1 ]; then
  awk -v c="$copy_secs" -v i="${times[1]}" \
    'BEGIN { printf "goal: live INSERT at least a third of live COPY: %s (%.2fx)\n", (i > 0 && c / i >= 1 / 3 ? "met" : "NOT met"), (i > 0 ? c / i : 0) }'
fi
awk -v big="${peaks[0]}" -v small="$small_peak" \
  'BEGIN { printf "goal: peak memory under 64 MB and flat: %s\n", (big < 65536 && big <= small * 1.25 + 4096 ? "met" : "NOT met") }'
awk -v c="$copy_secs" -v g="$big_secs" \
  'BEGIN { printf "goal: with one 3 MB row within 1.5x of live COPY: %s (%.2f s vs %.2f s, %.2fx)\n", (c > 0 && g / c <= 1.5 ? "met" : "NOT met"), g, c, (c > 0 ? g / c : 0) }'

# --- The HR-shaped set -----------------------------------------------------------------------
if [ "$hr_employees" -gt 0 ]; then
  echo
  echo "generating the HR-shaped set ($hr_employees employees) ..."
  "$root/bench/make_hr_db.sh" "${src}_hr" "$hr_employees" >/dev/null
  hr_tables=(departments dept_emp dept_manager employees salaries titles)
  measure "$quindrel" --src="${src}_hr" --dest="${dbs[5]}" --fast_insert "${conn[@]}"
  hr_secs=$secs hr_peak=$peak_kb
  # The pipe: bare tables made like the COPY run's (pg_dump's pre-data section), filled one
  # after the other; then the keys, indexes and foreign keys (its post-data section). NULL
  # travels as the client's "NULL" text, which no value of this set holds.
  pg -d postgres -c "CREATE DATABASE \"${dbs[6]}\""
  "$PGBIN/pg_dump" -h "$TEST_PG_HOST" -p "$TEST_PG_PORT" -U "$TEST_PG_USER" --section=pre-data "${dbs[5]}" |
    pg -d "${dbs[6]}" -v ON_ERROR_STOP=1 >/dev/null
  "$PGBIN/pg_dump" -h "$TEST_PG_HOST" -p "$TEST_PG_PORT" -U "$TEST_PG_USER" --section=post-data "${dbs[5]}" \
    >"$work/hr_post.sql"
  {
    echo 'set -euo pipefail'
    for t in "${hr_tables[@]}"; do
      echo "mariadb --no-defaults --batch --quick --skip-column-names -h '$TEST_MYSQL_HOST' -P '$TEST_MYSQL_PORT' \\"
      echo "  -u '$TEST_MYSQL_USER' -p\"\$MYPW\" '${src}_hr' -e 'SELECT * FROM $t' |"
      echo "  '$PGBIN/psql' -X -q -h '$TEST_PG_HOST' -p '$TEST_PG_PORT' -U '$TEST_PG_USER' -d '${dbs[6]}' \\"
      echo "  -c \"\\\\copy $t FROM STDIN WITH (NULL 'NULL')\""
    done
  } >"$work/hr_pipe.sh"
  measure bash "$work/hr_pipe.sh"
  hr_pipe_secs=$secs
  measure "$PGBIN/psql" -X -q -h "$TEST_PG_HOST" -p "$TEST_PG_PORT" -U "$TEST_PG_USER" -d "${dbs[6]}" \
    -v ON_ERROR_STOP=1 -f "$work/hr_post.sql"
  hr_keys_secs=$secs
  count_rows() {  # database
    local q="SELECT 0" t
    for t in "${hr_tables[@]}"; do q+=" + (SELECT count(*) FROM $t)"; done
    pg -d "$1" -tAc "$q"
  }
  hr_rows=$(count_rows "${dbs[5]}")
  [ "$hr_rows" = "$(count_rows "${dbs[6]}")" ] || { echo "HR set: row counts differ" >&2; exit 1; }
  echo
  printf '%-44s %10s %12s %12s\n' "HR-shaped set ($hr_rows rows, 6 tables)" "seconds" "rows/s" "peak MB"
  awk -v s="$hr_secs" -v r="$hr_rows" -v p="$hr_peak" \
    'BEGIN { printf "%-44s %10.2f %12.0f %12.1f\n", "quindrel live COPY (keys, foreign keys)", s, r / s, p / 1024 }'
  awk -v s="$hr_pipe_secs" -v r="$hr_rows" 'BEGIN { printf "%-44s %10.2f %12.0f\n", "mariadb | psql \\copy, bare tables", s, r / s }'
  awk -v s="$hr_pipe_secs" -v k="$hr_keys_secs" -v r="$hr_rows" \
    'BEGIN { printf "%-44s %10.2f %12.0f\n", "the same, then keys, indexes, foreign keys", s + k, r / (s + k) }'
  awk -v q="$hr_secs" -v b="$hr_pipe_secs" -v k="$hr_keys_secs" \
    'BEGIN { printf "goal: live COPY within the pipe with keys: %s (%.2f s vs %.2f s, %.2fx; bare pipe %.2fx)\n", (q <= b + k ? "met" : "NOT met"), q, b + k, (b + k) / q, b / q }'
fi

# --- Large values -----------------------------------------------------------------------------
if [ "$large_mb" -gt 0 ]; then
  echo
  large_run() {  # label, expected rows, expected bytes; then the mode's options
    local label=$1 want_rows=$2 want_bytes=$3; shift 3
    pg -d postgres -c "DROP DATABASE IF EXISTS \"${dbs[10]}\" WITH (FORCE)" 2>/dev/null
    measure "$quindrel" --src="${src}_large" --dest="${dbs[10]}" "$@" "${conn[@]}"
    local got
    got=$(pg -d "${dbs[10]}" -tAc "SELECT count(*) || ' ' || sum(length(body)) FROM t")
    [ "$got" = "$want_rows $want_bytes" ] || { echo "$label: $got arrived, $want_rows $want_bytes expected" >&2; exit 1; }
    awk -v l="$label" -v s="$secs" -v p="$peak_kb" -v n="$want_bytes" -v r="$want_rows" \
      'BEGIN { printf "%-44s %10.2f %12.1f %14.2f\n", l, s, p / 1024, (r == 1 ? p * 1024 / n : 0) }'
  }
  printf '%-44s %10s %12s %14s\n' "large values" "seconds" "peak MB" "peak / value"
  # The client may need a larger packet than the server's default for the value.
  my -e "SET GLOBAL max_allowed_packet = GREATEST(@@global.max_allowed_packet, $(( (large_mb + 16) * 1048576 )))"
  my -e "DROP DATABASE IF EXISTS \`${src}_large\`; CREATE DATABASE \`${src}_large\` CHARACTER SET utf8mb4"
  my "${src}_large" -e "CREATE TABLE t (id INT PRIMARY KEY, body LONGTEXT);
    INSERT INTO t VALUES (1, REPEAT('abcdefgh', $large_mb * 131072))"
  large_run "one value of $large_mb MB, live COPY" 1 $((large_mb * 1048576)) --fast_insert
  large_run "one value of $large_mb MB, live INSERT" 1 $((large_mb * 1048576))
  # The same with a tab every 8 bytes: 12.5 % of it escaped in the COPY line.
  my "${src}_large" -e "DROP TABLE t; CREATE TABLE t (id INT PRIMARY KEY, body LONGTEXT);
    INSERT INTO t VALUES (1, REPEAT('abcdefg\\t', $large_mb * 131072))"
  large_run "one value of $large_mb MB, a tab in 8, live COPY" 1 $((large_mb * 1048576)) --fast_insert
  large_run "one value of $large_mb MB, a tab in 8, live INSERT" 1 $((large_mb * 1048576))
  # A byte array of the same size: by COPY its hexadecimal digits, twice its bytes.
  my "${src}_large" -e "DROP TABLE t; CREATE TABLE t (id INT PRIMARY KEY, body LONGBLOB);
    INSERT INTO t VALUES (1, REPEAT(UNHEX('00FF5C0941420A0D'), $large_mb * 131072))"
  large_run "one byte array of $large_mb MB, live COPY" 1 $((large_mb * 1048576)) --fast_insert
  large_run "one byte array of $large_mb MB, live INSERT" 1 $((large_mb * 1048576))
  my "${src}_large" -e "DROP TABLE t; CREATE TABLE t (id INT PRIMARY KEY, body MEDIUMTEXT);
    INSERT INTO t SELECT seq, REPEAT(CHAR(97 + seq % 26), 1048576) FROM seq_1_to_1000"
  large_run "1,000 rows of 1 MB, live COPY" 1000 1048576000 --fast_insert
  large_run "1,000 rows of 1 MB, live INSERT" 1000 1048576000
fi

# --- Many small tables ------------------------------------------------------------------------
if [ -n "$small_tables" ]; then
  echo
  make_tables() {  # count
    {
      echo "DROP DATABASE IF EXISTS \`${src}_tables\`; CREATE DATABASE \`${src}_tables\`; USE \`${src}_tables\`;"
      for ((i = 1; i <= $1; ++i)); do
        printf 'CREATE TABLE t%05d (id INT PRIMARY KEY, name VARCHAR(20) NOT NULL, amount INT);\n' "$i"
        printf 'INSERT INTO t%05d SELECT seq, CONCAT("n", seq), seq * 7 FROM seq_1_to_10;\n' "$i"
      done
    } | my
  }
  printf '%-44s %10s %12s %12s\n' "small tables (3 columns, key, 10 rows)" "seconds" "ms/table" "peak MB"
  per_table_100=0
  for n in 100 $small_tables; do
    make_tables "$n"
    measure "$quindrel" --src="${src}_tables" --dest="${dbs[7]}" --fast_insert "${conn[@]}"
    made=$(pg -d "${dbs[7]}" -tAc "SELECT count(*) FROM pg_tables WHERE schemaname = 'public'")
    [ "$made" = "$n" ] || { echo "small tables: $made of $n tables made" >&2; exit 1; }
    ms=$(awk -v s="$secs" -v n="$n" 'BEGIN { printf "%.1f", 1000 * s / n }')
    [ "$n" = 100 ] && [ "$per_table_100" = 0 ] && per_table_100=$ms
    awk -v n="$n" -v s="$secs" -v m="$ms" -v p="$peak_kb" -v b="$per_table_100" \
      'BEGIN { printf "%-44s %10.2f %12.1f %12.1f  (%.2fx the cost at 100)\n", n " tables by live COPY", s, m, p / 1024, m / b }'
  done
fi

# --- One table, a primary key and 8 indexes -----------------------------------------------------
if [ "$indexed_rows" -gt 0 ]; then
  echo
  echo "generating a table of $indexed_rows rows with a primary key and 8 indexes ..."
  my <<SQL
DROP DATABASE IF EXISTS \`${src}_indexed\`; CREATE DATABASE \`${src}_indexed\`; USE \`${src}_indexed\`;
CREATE TABLE t_indexed (id INT PRIMARY KEY, a INT NOT NULL, b INT NOT NULL, c BIGINT NOT NULL, d VARCHAR(30) NOT NULL,
  e VARCHAR(40) NOT NULL, f DATE NOT NULL, g INT NOT NULL, h VARCHAR(20) NOT NULL,
  KEY ia (a), KEY ib (b), KEY ic (c), KEY id_ (d), KEY ie (e), KEY i_f (f), KEY ig (g), KEY ih (h, a));
INSERT INTO t_indexed SELECT seq, seq % 1000, (seq * 7919) % 1000003, seq * 31, CONCAT('d', (seq * 13) % 99991),
  MD5(seq), '2000-01-01' + INTERVAL (seq % 9000) DAY, seq % 17, CONCAT('h', seq % 5003) FROM seq_1_to_$indexed_rows;
SQL
  measure "$quindrel" --src="${src}_indexed" --dest="${dbs[8]}" --fast_insert "${conn[@]}"
  indexed_secs=$secs indexed_peak=$peak_kb
  made=$(pg -d "${dbs[8]}" -tAc "SELECT count(*) FROM pg_indexes WHERE tablename = 't_indexed'")
  [ "$made" = 9 ] || { echo "indexed table: $made of 9 indexes made" >&2; exit 1; }
  measure "$quindrel" --src="${src}_indexed" --dest="${dbs[9]}" --fast_insert --skip_idx "${conn[@]}"
  bare_secs=$secs
  printf '%-44s %10s %12s %12s\n' "table with key and 8 indexes ($indexed_rows rows)" "seconds" "rows/s" "peak MB"
  awk -v s="$indexed_secs" -v r="$indexed_rows" -v p="$indexed_peak" \
    'BEGIN { printf "%-44s %10.2f %12.0f %12.1f\n", "quindrel live COPY", s, r / s, p / 1024 }'
  awk -v s="$bare_secs" -v r="$indexed_rows" 'BEGIN { printf "%-44s %10.2f %12.0f\n", "the same without indexes (--skip_idx)", s, r / s }'
  awk -v s="$indexed_secs" -v b="$bare_secs" 'BEGIN { printf "time after the last row (the difference): %.2f s\n", s - b }'
fi
