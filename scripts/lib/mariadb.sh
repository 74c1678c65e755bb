# start_mariadb DIR / stop_mariadb: a private MariaDB server for tests and the demo.
#
# start_mariadb DIR keeps the server's data directory, socket, pid file and log under DIR,
# listens on 127.0.0.1 only, on a free port, with utf8mb4 as the server character set and the
# MySQL 5.6 default sql_mode, which is not strict (Veltrane must not rely on the server's). It
# creates a test user and database and exports VELTRANE_TEST_MYSQL_{HOST,PORT,USER,PASSWORD,
# DATABASE}. Running it again is safe: a server left over from an earlier run with the same DIR
# is stopped first, and a data directory that does not start is created afresh.
# stop_mariadb stops the server that start_mariadb started, whatever state it is in.

_veltrane_mariadb_pid=""
_veltrane_mariadb_dir=""
_veltrane_mariadb_socket=""

_mariadb_log() { echo "mariadb: $*" >&2; }

_mariadb_alive() {
  local pid="$1"
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null
}

# True when PID is a mariadbd that uses DATADIR, so that only our own server is ever stopped.
_mariadb_is_ours() {
  local pid="$1" datadir="$2"
  [ -r "/proc/$pid/cmdline" ] || return 1
  tr '\0' '\n' <"/proc/$pid/cmdline" | grep -qxF -- "--datadir=$datadir"
}

_mariadb_stop_pid() {
  local pid="$1" socket="$2" i
  _mariadb_alive "$pid" || return 0
  if [ -n "$socket" ] && [ -S "$socket" ]; then
    mariadb-admin --no-defaults --socket="$socket" -uroot --connect-timeout=2 shutdown \
      >/dev/null 2>&1 || true
  fi
  for i in $(seq 1 50); do
    _mariadb_alive "$pid" || return 0
    [ "$i" -eq 5 ] && kill -TERM "$pid" 2>/dev/null
    sleep 0.2
  done
  kill -KILL "$pid" 2>/dev/null || true
  for i in $(seq 1 25); do
    _mariadb_alive "$pid" || return 0
    sleep 0.2
  done
  _mariadb_log "process $pid did not stop"
  return 0
}

_mariadb_port_in_use() {
  ss -Hltn "sport = :$1" 2>/dev/null | grep -q .
}

_mariadb_free_port() {
  local port i
  for i in $(seq 1 200); do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 30000))
    if ! _mariadb_port_in_use "$port"; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

_mariadb_install() {
  local datadir="$1" log="$2"
  shift 2
  rm -rf "$datadir"
  mkdir -p "$datadir"
  # "normal" root: a password-less root@localhost reachable through the socket whoever runs
  # this script, not only the system's root user.
  if ! mariadb-install-db --no-defaults --datadir="$datadir" "$@" \
    --auth-root-authentication-method=normal --skip-test-db >"$log" 2>&1; then
    _mariadb_log "mariadb-install-db failed, see $log"
    return 1
  fi
  touch "$datadir/.veltrane-ready"
}

# Starts mariadbd in the background and waits until it answers on the socket.
# Returns 2 when the port was taken by someone else meanwhile, 1 on any other failure.
_mariadb_launch() {
  local dir="$1" port="$2" socket="$3"
  shift 3
  local log="$dir/mariadbd.log" i
  : >"$log"
  /usr/sbin/mariadbd --no-defaults "$@" \
    --datadir="$dir/data" --socket="$socket" --pid-file="$dir/mariadbd.pid" \
    --port="$port" --bind-address=127.0.0.1 --skip-name-resolve \
    --character-set-server=utf8mb4 --collation-server=utf8mb4_unicode_ci \
    --sql-mode=NO_ENGINE_SUBSTITUTION \
    --max-allowed-packet=64M --innodb-buffer-pool-size=64M --innodb-log-file-size=48M \
    --skip-log-bin --log-error="$log" </dev/null >/dev/null 2>&1 &
  _veltrane_mariadb_pid=$!
  for i in $(seq 1 300); do
    if ! _mariadb_alive "$_veltrane_mariadb_pid"; then
      wait "$_veltrane_mariadb_pid" 2>/dev/null || true
      _veltrane_mariadb_pid=""
      if grep -qiE 'address already in use|Do you already have another' "$log"; then
        return 2
      fi
      return 1
    fi
    if mariadb-admin --no-defaults --socket="$socket" -uroot --connect-timeout=1 ping \
      >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.1
  done
  _mariadb_log "server did not answer within 30 seconds, see $log"
  _mariadb_stop_pid "$_veltrane_mariadb_pid" "$socket"
  _veltrane_mariadb_pid=""
  return 1
}

start_mariadb() {
  local dir="${1:?start_mariadb needs a directory}"
  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  local datadir="$dir/data"
  local user_args=()
  if [ "$(id -u)" -eq 0 ]; then
    user_args=(--user=root)
  fi

  # A socket path must fit in sockaddr_un (108 bytes); fall back to a short private path.
  local socket="$dir/mariadbd.sock"
  if [ "${#socket}" -gt 100 ]; then
    mkdir -p "/tmp/veltrane-mariadb-$(id -u)"
    socket="/tmp/veltrane-mariadb-$(id -u)/$(echo "$dir" | md5sum | cut -c1-12).sock"
  fi

  # A server left over from an earlier run of this directory.
  local old_pid=""
  [ -r "$dir/mariadbd.pid" ] && old_pid="$(cat "$dir/mariadbd.pid" 2>/dev/null || true)"
  if [ -n "$old_pid" ] && _mariadb_alive "$old_pid" && _mariadb_is_ours "$old_pid" "$datadir"; then
    _mariadb_log "stopping leftover server $old_pid"
    _mariadb_stop_pid "$old_pid" "$socket"
  fi
  rm -f "$dir/mariadbd.pid" "$socket" "$socket.lock"

  if [ ! -e "$datadir/.veltrane-ready" ]; then
    _mariadb_install "$datadir" "$dir/install.log" "${user_args[@]}" || return 1
  fi

  local attempt port rc fresh=0
  for attempt in 1 2 3 4 5 6; do
    port="$(_mariadb_free_port)" || {
      _mariadb_log "no free port found"
      return 1
    }
    rc=0
    _mariadb_launch "$dir" "$port" "$socket" "${user_args[@]}" || rc=$?
    if [ "$rc" -eq 0 ]; then
      break
    elif [ "$rc" -eq 2 ]; then
      continue
    elif [ "$fresh" -eq 0 ]; then
      # A data directory that does not start (killed mid-write, other server version): rebuild.
      _mariadb_log "server did not start, recreating $datadir (log: $dir/mariadbd.log)"
      fresh=1
      _mariadb_install "$datadir" "$dir/install.log" "${user_args[@]}" || return 1
    else
      _mariadb_log "server did not start, see $dir/mariadbd.log"
      return 1
    fi
  done
  if ! _mariadb_alive "$_veltrane_mariadb_pid"; then
    _mariadb_log "server did not start, see $dir/mariadbd.log"
    return 1
  fi
  _veltrane_mariadb_dir="$dir"
  _veltrane_mariadb_socket="$socket"

  local db_user="veltrane" db_password="Velt-test-pw1" db_name="veltrane_test"
  if ! mariadb --no-defaults --socket="$socket" -uroot --batch >"$dir/setup.log" 2>&1 <<SQL; then
CREATE DATABASE IF NOT EXISTS \`$db_name\` CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
CREATE USER IF NOT EXISTS '$db_user'@'127.0.0.1' IDENTIFIED BY '$db_password';
CREATE USER IF NOT EXISTS '$db_user'@'localhost' IDENTIFIED BY '$db_password';
ALTER USER '$db_user'@'127.0.0.1' IDENTIFIED BY '$db_password';
ALTER USER '$db_user'@'localhost' IDENTIFIED BY '$db_password';
GRANT ALL PRIVILEGES ON \`$db_name\`.* TO '$db_user'@'127.0.0.1';
GRANT ALL PRIVILEGES ON \`$db_name\`.* TO '$db_user'@'localhost';
-- Tests that need a database of their own (an empty one, or tables no other test touches)
-- create and drop databases named after the test database.
GRANT ALL PRIVILEGES ON \`${db_name}\\_%\`.* TO '$db_user'@'127.0.0.1';
GRANT ALL PRIVILEGES ON \`${db_name}\\_%\`.* TO '$db_user'@'localhost';
FLUSH PRIVILEGES;
SQL
    _mariadb_log "creating the test user and database failed, see $dir/setup.log"
    stop_mariadb
    return 1
  fi

  export VELTRANE_TEST_MYSQL_HOST=127.0.0.1
  export VELTRANE_TEST_MYSQL_PORT="$port"
  export VELTRANE_TEST_MYSQL_USER="$db_user"
  export VELTRANE_TEST_MYSQL_PASSWORD="$db_password"
  export VELTRANE_TEST_MYSQL_DATABASE="$db_name"
  _mariadb_log "listening on 127.0.0.1:$port (pid $_veltrane_mariadb_pid, data $datadir)"
}

stop_mariadb() {
  if [ -n "$_veltrane_mariadb_pid" ]; then
    _mariadb_stop_pid "$_veltrane_mariadb_pid" "$_veltrane_mariadb_socket" || true
    wait "$_veltrane_mariadb_pid" 2>/dev/null || true
  fi
  _veltrane_mariadb_pid=""
  _veltrane_mariadb_dir=""
  _veltrane_mariadb_socket=""
  return 0
}
