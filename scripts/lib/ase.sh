# start_ase_testserver DIR / stop_ase_testserver: the TDS test server for tests and the demo.
start_ase_testserver() { :; }
stop_ase_testserver() { :; }
