# Starts and stops the two private test servers. Sourced by scripts/test and scripts/demo.
# start_test_servers DIR exports VELTRANE_TEST_MYSQL_* and VELTRANE_TEST_ASE_*
# (HOST, PORT, USER, PASSWORD, DATABASE); stop_test_servers stops whatever was started.

lib_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=mariadb.sh
source "$lib_dir/mariadb.sh"
# shellcheck source=ase.sh
source "$lib_dir/ase.sh"

start_test_servers() {
  local dir="$1"
  mkdir -p "$dir"
  start_mariadb "$dir/mariadb"
  start_ase_testserver "$dir/ase"
}

stop_test_servers() {
  stop_ase_testserver || true
  stop_mariadb || true
}
