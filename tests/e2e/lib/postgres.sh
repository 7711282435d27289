# A throw-away PostgreSQL cluster for a test: data and Unix socket in one
# folder under the build tree, no TCP port. initdb refuses to run as root, so
# under root the cluster runs as nobody.
#   pg_cluster_start DIR   -> sets PG_URL (postgresql://... over the socket)
#   pg_cluster_stop        (call from the script's EXIT trap)
# The newest installed server version unless KESTROVA_PG_BIN says otherwise.
PG_BIN=${KESTROVA_PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
PG_BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}
PG_DIR=

pg_as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi
}

pg_cluster_start() {
  PG_DIR=$1
  rm -rf "$PG_DIR"
  mkdir -p "$PG_DIR"
  [ "$(id -u)" -eq 0 ] && chown nobody "$PG_DIR"
  # A socket path must fit in 107 bytes, and under root the folder must be
  # reachable by nobody; otherwise the cluster goes to a temporary folder.
  if [ ${#PG_DIR} -gt 90 ] || ! pg_as_owner test -w "$PG_DIR"; then
    rm -rf "$PG_DIR"
    PG_DIR=$(mktemp -d /tmp/kestrova-pg.XXXXXX)
    [ "$(id -u)" -eq 0 ] && chown nobody "$PG_DIR"
    echo "PostgreSQL test cluster in $PG_DIR (the build folder is out of reach or its path too long)" >&2
  fi
  pg_as_owner "$PG_BIN/initdb" -D "$PG_DIR/data" -A trust -E UTF8 --no-locale >"$PG_DIR.initdb.log" 2>&1 ||
    { cat "$PG_DIR.initdb.log" >&2; return 1; }
  pg_as_owner "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/data/server.log" -w -t 60 \
    -o "-c listen_addresses='' -k $PG_DIR -c max_connections=100 -c fsync=on" start >/dev/null ||
    { cat "$PG_DIR/data/server.log" >&2; return 1; }
  local owner
  owner=$(if [ "$(id -u)" -eq 0 ]; then echo nobody; else id -un; fi)
  # The socket folder must be reachable by whoever runs the clients.
  chmod 755 "$PG_DIR"
  PG_URL="postgresql:///postgres?host=$PG_DIR&user=$owner"
}

pg_cluster_stop() {
  [ -n "$PG_DIR" ] || return 0
  if [ -f "$PG_DIR/data/postmaster.pid" ]; then
    pg_as_owner "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
  fi
  rm -rf "$PG_DIR" "$PG_DIR.initdb.log"
  PG_DIR=
}
