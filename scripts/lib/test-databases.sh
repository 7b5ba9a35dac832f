# Sourced by the test and benchmark scripts: starts a private PostgreSQL
# server and a private MariaDB server on loopback and a test-local ODBC
# driver list, and stops the servers when the calling script exits.
#
# Exports:
#   ODBCSYSINI, ODBCINI        the test-local odbcinst.ini / odbc.ini (unixODBC)
#   QUORVANE_TEST_PG_PORT      the server's port on 127.0.0.1
#   QUORVANE_TEST_PG_ADMIN     the superuser's name (password in QUORVANE_TEST_PG_ADMIN_PASSWORD)
#   QUORVANE_TEST_PG_CTL, QUORVANE_TEST_PG_DATA, QUORVANE_TEST_PG_OPTIONS
#                              pg_ctl, the data folder and the server's options,
#                              for tests that stop and restart the server
#   QUORVANE_TEST_SQLITE_DRIVER  the SQLite ODBC driver's name in odbcinst.ini
#   QUORVANE_TEST_MARIADB_PORT   the MariaDB server's port on 127.0.0.1
#   QUORVANE_TEST_MARIADB_ADMIN  its administrator (password in
#                                QUORVANE_TEST_MARIADB_ADMIN_PASSWORD)
#   QUORVANE_TEST_MARIADB_DRIVER Connector/ODBC's name in odbcinst.ini
#   QUORVANE_TEST_DIR          a scratch folder, removed at exit
#
# The drivers stay loaded until exit (DontDLClose), so that the leak checker
# can name them. The driver name "Microsoft ODBC for Oracle" is registered for the psqlODBC
# Unicode driver, so the program's own connection string reaches PostgreSQL;
# the same driver is registered as "PostgreSQL Unicode" too, the name its
# package gives it, for the logons that choose a driver, and odbc.ini has the
# data sources "Quorvane Test PostgreSQL" (the server's postgres database)
# and "Quorvane Test SQLite" (a file the SID names).

driver_path() { # driver_path PACKAGE FILE
    dpkg -L "$1" 2>/dev/null | grep -m1 "/$2\$"
}

free_port() { # free_port FIRST: the first port from FIRST on that nobody listens on
    local port
    for port in $(seq "$1" 55632); do
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    return 1
}

stop_test_databases() {
    if [ -n "${QUORVANE_TEST_DIR:-}" ] && [ -d "$QUORVANE_TEST_DIR/pgdata" ]; then
        as_postgres "$PG_BIN/pg_ctl" -D "$QUORVANE_TEST_DIR/pgdata" -m immediate stop >/dev/null 2>&1 || true
    fi
    if [ -n "${QUORVANE_TEST_DIR:-}" ] && [ -f "$QUORVANE_TEST_DIR/mariadb/server.pid" ]; then
        local pid
        pid=$(cat "$QUORVANE_TEST_DIR/mariadb/server.pid")
        kill -9 "$pid" 2>/dev/null || true
        while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
    fi
    [ -n "${QUORVANE_TEST_DIR:-}" ] && rm -rf "$QUORVANE_TEST_DIR"
}

as_mysql() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u mysql -- "$@"
    else
        "$@"
    fi
}

as_postgres() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

start_test_databases() {
    PG_BIN=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
    QUORVANE_TEST_DIR=$(mktemp -d /tmp/quorvane-test.XXXXXX)
    chmod 755 "$QUORVANE_TEST_DIR"
    trap stop_test_databases EXIT

    local psqlodbc sqliteodbc mariadbodbc
    psqlodbc=$(driver_path odbc-postgresql psqlodbcw.so)
    sqliteodbc=$(driver_path libsqliteodbc libsqlite3odbc.so)
    mariadbodbc=$(driver_path odbc-mariadb libmaodbc.so)
    mkdir -p "$QUORVANE_TEST_DIR/odbc"
    cat >"$QUORVANE_TEST_DIR/odbc/odbcinst.ini" <<INI
[Microsoft ODBC for Oracle]
Description=psqlODBC (Unicode) under the name the program asks for
Driver=$psqlodbc
DontDLClose=1

[PostgreSQL Unicode]
Description=psqlODBC (Unicode) under its own name
Driver=$psqlodbc
DontDLClose=1

[SQLite3]
Description=SQLite3 ODBC driver
Driver=$sqliteodbc
DontDLClose=1

[MariaDB Unicode]
Description=MariaDB Connector/ODBC (Unicode), as Debian's odbc-mariadb registers it
Driver=$mariadbodbc
DontDLClose=1
INI
    : >"$QUORVANE_TEST_DIR/odbc/odbc.ini"
    export ODBCSYSINI="$QUORVANE_TEST_DIR/odbc"
    export ODBCINI="$QUORVANE_TEST_DIR/odbc/odbc.ini"
    export QUORVANE_TEST_SQLITE_DRIVER=SQLite3
    export QUORVANE_TEST_MARIADB_DRIVER="MariaDB Unicode"
    export QUORVANE_TEST_DIR

    local port=55431 password pgdata
    password="admin-$RANDOM$RANDOM"
    pgdata="$QUORVANE_TEST_DIR/pgdata"
    mkdir -p "$pgdata"
    echo "$password" >"$QUORVANE_TEST_DIR/pwfile"
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres "$pgdata" "$QUORVANE_TEST_DIR/pwfile"
    fi
    as_postgres "$PG_BIN/initdb" -D "$pgdata" -U quorvane_admin --pwfile="$QUORVANE_TEST_DIR/pwfile" \
        --auth-local=trust --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$QUORVANE_TEST_DIR/initdb.log" 2>&1 \
        || { cat "$QUORVANE_TEST_DIR/initdb.log"; return 1; }
    # Another server may take the port between the test and the start: try on.
    local options attempt
    for attempt in 1 2 3 4 5; do
        port=$(free_port $((port + 1)))
        options="-p $port -k $pgdata -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=200"
        if as_postgres "$PG_BIN/pg_ctl" -D "$pgdata" -w -l "$pgdata/server.log" -o "$options" start >/dev/null; then
            break
        fi
        [ "$attempt" -eq 5 ] && { cat "$pgdata/server.log"; return 1; }
    done

    cat >"$QUORVANE_TEST_DIR/odbc/odbc.ini" <<INI
[Quorvane Test PostgreSQL]
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$port
Database=postgres

[Quorvane Test SQLite]
Driver=SQLite3
INI
    export QUORVANE_TEST_PG_PORT=$port
    export QUORVANE_TEST_PG_ADMIN=quorvane_admin
    export QUORVANE_TEST_PG_ADMIN_PASSWORD=$password
    export QUORVANE_TEST_PG_CTL="$PG_BIN/pg_ctl"
    export QUORVANE_TEST_PG_DATA="$pgdata"
    export QUORVANE_TEST_PG_OPTIONS="$options"
    echo "Test PostgreSQL server on 127.0.0.1:$port ($PG_BIN)"
    start_test_mariadb
}

# A MariaDB server of its own, in the scratch folder, with an administrator
# that the tests reach over TCP as a user would.
start_test_mariadb() {
    local dir="$QUORVANE_TEST_DIR/mariadb" password port attempt
    password="admin-$RANDOM$RANDOM"
    mkdir -p "$dir/data"
    [ "$(id -u)" -eq 0 ] && chown -R mysql "$dir"
    as_mysql mariadb-install-db --no-defaults --datadir="$dir/data" --skip-test-db \
        --auth-root-authentication-method=normal >"$dir/install.log" 2>&1 \
        || { cat "$dir/install.log"; return 1; }
    port=$((QUORVANE_TEST_PG_PORT + 100))
    # Debian's own configuration's character set and collation, as users have them.
    for attempt in 1 2 3 4 5; do
        port=$(free_port $((port + 1)))
        as_mysql /usr/sbin/mariadbd --no-defaults --datadir="$dir/data" --socket="$dir/server.sock" \
            --port="$port" --bind-address=127.0.0.1 --pid-file="$dir/server.pid" \
            --log-error="$dir/server.log" --skip-log-bin --max-connections=300 \
            --innodb-buffer-pool-size=128M --innodb-flush-log-at-trx-commit=0 \
            --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
            >>"$dir/start.log" 2>&1 &
        disown
        local waited
        for waited in $(seq 1 300); do
            mariadb-admin --no-defaults --socket="$dir/server.sock" -u root ping >/dev/null 2>&1 && break
            kill -0 $! 2>/dev/null || break
            sleep 0.1
        done
        if mariadb-admin --no-defaults --socket="$dir/server.sock" -u root ping >/dev/null 2>&1; then
            break
        fi
        [ "$attempt" -eq 5 ] && { cat "$dir/server.log"; return 1; }
    done
    mariadb --no-defaults --socket="$dir/server.sock" -u root -e \
        "CREATE USER quorvane_admin@'127.0.0.1' IDENTIFIED BY '$password';
         GRANT ALL ON *.* TO quorvane_admin@'127.0.0.1' WITH GRANT OPTION;"
    export QUORVANE_TEST_MARIADB_PORT=$port
    export QUORVANE_TEST_MARIADB_ADMIN=quorvane_admin
    export QUORVANE_TEST_MARIADB_ADMIN_PASSWORD=$password
    echo "Test MariaDB server on 127.0.0.1:$port"
}
