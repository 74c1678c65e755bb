# start_mariadb DIR / stop_mariadb: a private MariaDB server for tests and the demo.
start_mariadb() { :; }
stop_mariadb() { :; }
