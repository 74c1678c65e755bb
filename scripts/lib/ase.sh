# start_ase_testserver DIR / stop_ase_testserver: the TDS test server that stands in for
# Sybase ASE in the tests and the demo (build/bin/ase-testserver, a test tool, not part of
# Veltrane).
#
# start_ase_testserver DIR keeps the server's SQLite files under DIR/data and its log in
# DIR/server.log, starts it on a free loopback port with the database veltrane_test, and exports
# VELTRANE_TEST_ASE_{HOST,PORT,USER,PASSWORD,DATABASE}. The binary is taken from
# $VELTRANE_BIN_DIR (default: build/bin of this checkout).

_ase_log() { echo "ase-testserver: $*" >&2; }

start_ase_testserver() {
  local dir="${1:?start_ase_testserver needs a directory}"
  local root
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
  local bin="${VELTRANE_BIN_DIR:-$root/build/bin}/ase-testserver"
  local user=veltrane password=Velt-test-pw1 database=veltrane_test
  if [ ! -x "$bin" ]; then
    _ase_log "not built: $bin"
    return 1
  fi
  mkdir -p "$dir/data"
  : >"$dir/listening"
  "$bin" --port 0 --data-dir "$dir/data" --user "$user" --password "$password" \
    --database "$database" >"$dir/listening" 2>"$dir/server.log" &
  _veltrane_ase_pid=$!
  local port="" i
  for ((i = 0; i < 200; i++)); do
    port="$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$dir/listening")"
    [ -n "$port" ] && break
    if ! kill -0 "$_veltrane_ase_pid" 2>/dev/null; then
      _ase_log "exited before listening; its log:"
      cat "$dir/server.log" >&2
      _veltrane_ase_pid=""
      return 1
    fi
    sleep 0.1
  done
  if [ -z "$port" ]; then
    _ase_log "did not start within 20 s; its log:"
    cat "$dir/server.log" >&2
    stop_ase_testserver
    return 1
  fi
  _ase_log "listening on 127.0.0.1:$port (data in $dir/data)"
  unset VELTRANE_SKIP_ASE
  export VELTRANE_TEST_ASE_HOST=127.0.0.1
  export VELTRANE_TEST_ASE_PORT="$port"
  export VELTRANE_TEST_ASE_USER="$user"
  export VELTRANE_TEST_ASE_PASSWORD="$password"
  export VELTRANE_TEST_ASE_DATABASE="$database"
}

stop_ase_testserver() {
  local pid="${_veltrane_ase_pid:-}" i
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    _ase_log "did not stop on SIGTERM; killing it"
    kill -KILL "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
  _veltrane_ase_pid=""
}
