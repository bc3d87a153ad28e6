#!/usr/bin/env bash
# The demo: installs what is missing, builds quindrel, starts throwaway MariaDB
# and PostgreSQL servers on 127.0.0.1, loads a small sample database
# (scripts/sample_db.sql), converts it into a live PostgreSQL database and into
# a PostgreSQL script file, and says where to look. The servers stop when the
# demo ends (after Enter when run from a terminal).
#
#   BUILD_DIR  build folder (default: build)
#   DEMO_DIR   folder for the servers and the script (default: a new temporary one)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/scripts/install_deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target quindrel
quindrel="$build/console/quindrel"

work=${DEMO_DIR:-$(mktemp -d /tmp/quindrel-demo.XXXXXX)}
mkdir -p "$work"
work=$(cd "$work" && pwd)
chmod 755 "$work"
servers="$work/servers"
stop_servers() {
  "$root/scripts/test_servers.sh" stop "$servers" || true
  rm -rf "$servers"
}
trap stop_servers EXIT
"$root/scripts/test_servers.sh" start "$servers"
# shellcheck disable=SC1091
source "$servers/env"
psql_bin="$TEST_PG_BIN/psql"

echo
echo "== Loading the sample database 'quindrel_demo' into MariaDB"
mariadb --no-defaults -h "$TEST_MYSQL_HOST" -P "$TEST_MYSQL_PORT" -u "$TEST_MYSQL_USER" \
  -p"$TEST_MYSQL_PASSWORD" < "$root/scripts/sample_db.sql"

mysql_options=(--mysqlh="$TEST_MYSQL_HOST" --myport="$TEST_MYSQL_PORT"
               --mysqlu="$TEST_MYSQL_USER" --mysqlp="$TEST_MYSQL_PASSWORD")
pg_options=(--posgsh="$TEST_PG_HOST" --pgport="$TEST_PG_PORT"
            --posgsu="$TEST_PG_USER" --posgsp="$TEST_PG_PASSWORD")

echo
echo "== Live conversion into the PostgreSQL database 'quindrel_demo' (rows by COPY)"
"$quindrel" --src=quindrel_demo --dest=quindrel_demo --fast_insert \
  "${mysql_options[@]}" "${pg_options[@]}"

script="$work/quindrel_demo.sql"
echo "== Conversion into the script file $script"
"$quindrel" --src=quindrel_demo --dest="$script" --dump "${mysql_options[@]}"

export PGPASSWORD="$TEST_PG_PASSWORD"
psql_args=(-X -h "$TEST_PG_HOST" -p "$TEST_PG_PORT" -U "$TEST_PG_USER")

echo "== The script loaded into a second database 'quindrel_demo_script'"
"$psql_bin" "${psql_args[@]}" -d postgres -qc 'CREATE DATABASE quindrel_demo_script'
PGOPTIONS='-c client_min_messages=warning' \
  "$psql_bin" "${psql_args[@]}" -d quindrel_demo_script -q -v ON_ERROR_STOP=1 -f "$script" >/dev/null

echo
echo "== What arrived"
"$psql_bin" "${psql_args[@]}" -d quindrel_demo -c '\d customers' \
  -c 'SELECT id, name, city, birthday, vip FROM customers ORDER BY id' \
  -c 'SELECT sku, title, price, encode(thumbnail, '"'"'hex'"'"') AS thumbnail FROM products ORDER BY sku'
for db in quindrel_demo quindrel_demo_script; do
  printf '%-22s rows: ' "$db"
  "$psql_bin" "${psql_args[@]}" -d "$db" -tAc \
    "SELECT string_agg(t || '=' || n, ', ' ORDER BY t) FROM (
       SELECT 'customers' t, count(*) n FROM customers UNION ALL
       SELECT 'products', count(*) FROM products UNION ALL
       SELECT 'orders', count(*) FROM orders UNION ALL
       SELECT 'order_items', count(*) FROM order_items) c"
done

echo
echo "== Where to look"
printf '  live database:  PGPASSWORD=%q %q -h %s -p %s -U %s -d quindrel_demo\n' \
  "$TEST_PG_PASSWORD" "$psql_bin" "$TEST_PG_HOST" "$TEST_PG_PORT" "$TEST_PG_USER"
printf '  from the script: the same with -d quindrel_demo_script\n'
printf '  script file:    %s\n' "$script"
printf '  MariaDB source: mariadb --no-defaults -h %s -P %s -u %s -p%q quindrel_demo\n' \
  "$TEST_MYSQL_HOST" "$TEST_MYSQL_PORT" "$TEST_MYSQL_USER" "$TEST_MYSQL_PASSWORD"
printf '  the program:    %s --help\n' "$quindrel"
if [ -t 0 ]; then
  echo
  read -r -p "The servers run until you press Enter. " _
else
  echo "  (the servers stop now; run the demo from a terminal to keep them until Enter)"
fi
