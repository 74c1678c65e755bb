# start_ase_testserver DIR / stop_ase_testserver: the TDS test server for tests and the demo.
# Until the TDS test server can be started here, the Sybase ASE tests are skipped, loudly.
start_ase_testserver() {
  echo "NOTE: no TDS test server yet: tests that need the Sybase ASE side are skipped" >&2
  export VELTRANE_SKIP_ASE=1
}
stop_ase_testserver() { :; }
