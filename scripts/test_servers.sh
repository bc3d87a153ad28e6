#!/usr/bin/env bash
# Throwaway MariaDB and PostgreSQL servers on 127.0.0.1 for the tests.
#   test_servers.sh start DIR   starts both in DIR (created), writes DIR/env with the
#                               connection facts as shell exports, waits for logins
#   test_servers.sh stop DIR    stops exactly the servers started in DIR
set -euo pipefail
cmd=${1:?start or stop}
dir=${2:?folder}
PGBIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
PASSWORD='t3st pa$$'"'"'word'   # blank, dollar and quote: connection strings must escape them

free_port() {
  python3 - <<'PY' 2>/dev/null || echo $((20000 + RANDOM % 20000))
import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()
PY
}

as_pg() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }

start() {
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  chmod 755 "$dir"
  local my_port pg_port
  my_port=$(free_port); pg_port=$(free_port)
  while [ "$pg_port" = "$my_port" ]; do pg_port=$(free_port); done

  # PostgreSQL (never as root)
  mkdir -p "$dir/pg/data" "$dir/pg/sock"
  printf '%s\n' "$PASSWORD" > "$dir/pg/pwfile"
  [ "$(id -u)" -eq 0 ] && chown -R postgres:postgres "$dir/pg"
  as_pg "$PGBIN/initdb" -D "$dir/pg/data" -U postgres -E UTF8 --no-locale \
      --auth-local=peer --auth-host=scram-sha-256 --pwfile="$dir/pg/pwfile" >"$dir/pg/initdb.log" 2>&1
  as_pg setsid "$PGBIN/postgres" -D "$dir/pg/data" -h 127.0.0.1 -p "$pg_port" -k "$dir/pg/sock" \
      -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=200 \
      >"$dir/pg/server.log" 2>&1 < /dev/null &

  # MariaDB
  # Its temporary tables in a folder of its own: nothing else on the machine tidies them away.
  mkdir -p "$dir/my/data" "$dir/my/tmp"
  [ "$(id -u)" -eq 0 ] && chown -R mysql:mysql "$dir/my"
  local myuser=()
  [ "$(id -u)" -eq 0 ] && myuser=(--user=mysql)
  mariadb-install-db --no-defaults --datadir="$dir/my/data" "${myuser[@]}" \
      --auth-root-authentication-method=normal --skip-test-db >"$dir/my/install.log" 2>&1
  setsid mariadbd --no-defaults --datadir="$dir/my/data" "${myuser[@]}" \
      --bind-address=127.0.0.1 --skip-name-resolve --port="$my_port" --socket="$dir/my/sock" --pid-file="$dir/my/pid" \
      --tmpdir="$dir/my/tmp" --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
      --innodb-flush-log-at-trx-commit=0 --innodb-doublewrite=0 --skip-log-bin \
      --max-allowed-packet=256M --log-error="$dir/my/server.log" >/dev/null 2>&1 < /dev/null &

  local ok=0
  for _ in $(seq 1 120); do
    if "$PGBIN/pg_isready" -h 127.0.0.1 -p "$pg_port" -q && \
       mariadb-admin --no-defaults --socket="$dir/my/sock" -uroot ping >/dev/null 2>&1; then ok=1; break; fi
    sleep 0.5
  done
  [ "$ok" = 1 ] || { echo "test servers did not start" >&2; tail -n 20 "$dir/pg/server.log" "$dir/my/server.log" >&2; exit 1; }

  # Password logins over TCP only; drop the password-less accounts the install made.
  local esc=${PASSWORD//\'/\'\'}
  mariadb --no-defaults --socket="$dir/my/sock" -uroot <<SQL
CREATE USER IF NOT EXISTS 'root'@'127.0.0.1';
ALTER USER 'root'@'127.0.0.1' IDENTIFIED BY '$esc';
GRANT ALL PRIVILEGES ON *.* TO 'root'@'127.0.0.1' WITH GRANT OPTION;
DELETE FROM mysql.global_priv WHERE User='' OR (User='root' AND Host NOT IN ('127.0.0.1','localhost'));
FLUSH PRIVILEGES;
SQL
  mariadb --no-defaults -h127.0.0.1 -P"$my_port" -uroot -p"$PASSWORD" -e 'select 1' >/dev/null
  PGPASSWORD="$PASSWORD" "$PGBIN/psql" -h 127.0.0.1 -p "$pg_port" -U postgres -d postgres -tAc 'select 1' >/dev/null

  local q=${PASSWORD//\'/\'\\\'\'}
  cat > "$dir/env" <<ENV
export TEST_MYSQL_HOST=127.0.0.1
export TEST_MYSQL_PORT=$my_port
export TEST_MYSQL_USER=root
export TEST_MYSQL_PASSWORD='$q'
export TEST_PG_HOST=127.0.0.1
export TEST_PG_PORT=$pg_port
export TEST_PG_USER=postgres
export TEST_PG_PASSWORD='$q'
export TEST_PG_BIN=$PGBIN
export TEST_SERVERS_DIR=$dir
ENV
  echo "test servers up: mariadb 127.0.0.1:$my_port, postgresql 127.0.0.1:$pg_port ($dir/env)"
}

stop() {
  [ -d "$dir" ] || return 0
  dir=$(cd "$dir" && pwd)
  local pids=()
  [ -f "$dir/pg/data/postmaster.pid" ] && pids+=("$(head -n 1 "$dir/pg/data/postmaster.pid")")
  [ -f "$dir/my/pid" ] && pids+=("$(cat "$dir/my/pid")")
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for _ in $(seq 1 60); do
    local alive=0
    for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && alive=1; done
    [ "$alive" = 0 ] && break
    sleep 0.5
  done
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
}

case "$cmd" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
