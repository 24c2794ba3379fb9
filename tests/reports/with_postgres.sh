#!/usr/bin/env bash
# with_postgres.sh COMMAND [ARG]...: runs COMMAND beside a PostgreSQL
# server of its own, made for it from Debian's packages and removed after it,
# also when COMMAND fails or is interrupted. PostgreSQL refuses to run as
# root, so the cluster belongs to the "postgres" user; it listens on
# 127.0.0.1 on a free port, its socket in its own folder. COMMAND finds the
# server in ULMET_REPORTS_TEST_PG (a connection string without a database).
set -u
BIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -x "$BIN/initdb" ] || { echo "with_postgres: no PostgreSQL server installed (scripts/setup.sh)" >&2; exit 2; }
id postgres >/dev/null 2>&1 || { echo "with_postgres: no user postgres" >&2; exit 2; }

DIR=$(mktemp -d /tmp/ulmet-pg.XXXXXX)
chown postgres "$DIR"
as_pg() { runuser -u postgres -- "$@"; }
stop() {
  as_pg "$BIN/pg_ctl" -D "$DIR/data" -m immediate -w stop >/dev/null 2>&1
  rm -rf "$DIR"
}
trap stop EXIT
trap 'exit 130' INT TERM

port=
for p in $(seq 54320 54420); do
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then port=$p; break; fi
done
[ -n "$port" ] || { echo "with_postgres: no free port" >&2; exit 2; }

mkdir "$DIR/sock" && chown postgres "$DIR/sock"
if ! as_pg "$BIN/initdb" -D "$DIR/data" -U postgres -A trust -E UTF8 --no-locale --no-sync >"$DIR/initdb.log" 2>&1; then
  cat "$DIR/initdb.log" >&2
  exit 2
fi
if ! as_pg "$BIN/pg_ctl" -D "$DIR/data" -l "$DIR/server.log" -w -t 60 \
     -o "-c listen_addresses=127.0.0.1 -p $port -k $DIR/sock -c max_connections=200 -c shared_buffers=128MB" \
     start >/dev/null; then
  cat "$DIR/server.log" >&2
  exit 2
fi
export ULMET_REPORTS_TEST_PG="host=127.0.0.1 port=$port user=postgres"
echo "with_postgres: PostgreSQL $("$BIN/postgres" --version | awk '{print $3}') on 127.0.0.1:$port" >&2
"$@"
