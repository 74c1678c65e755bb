# run_bench TARGET [ARGS...]: builds the benchmark TARGET (bench/) and the TDS test server into
# build/, starts a private MariaDB server and the TDS test server on free loopback ports, runs
# the benchmark offscreen with ARGS and stops both servers at the end.

run_bench() {
  local target="${1:?run_bench needs a benchmark target}"
  shift
  local root
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
  "$root/scripts/setup"
  local build_dir="$root/build"
  cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build_dir" -j"$(nproc)" --target "$target" ase-testserver

  # shellcheck source=servers.sh
  source "$root/scripts/lib/servers.sh"
  export VELTRANE_BIN_DIR="$build_dir/bin"
  local servers_dir="$build_dir/bench-servers"
  rm -rf "$servers_dir/ase"
  trap 'stop_test_servers' EXIT
  start_test_servers "$servers_dir"
  # The benchmarks compare the client side with bare client loops. With a disk flush at every
  # commit both would wait on the disk for every row and the comparison would say nothing; the
  # flush is left to the server's background thread, the same for both sides.
  mariadb --no-defaults --socket="$_veltrane_mariadb_socket" -uroot \
    -e "SET GLOBAL innodb_flush_log_at_trx_commit = 2"

  QT_QPA_PLATFORM=offscreen "$build_dir/bin/$target" "$@"
}
