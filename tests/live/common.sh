# Shared by the live tests: a private folder, the processes a test starts and
# their end on exit, free ports, results.
# shellcheck shell=bash
passed=0
failed=0
started_pids=()

ok() { passed=$((passed + 1)); echo "ok   $*"; }
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
finish() { echo "$passed passed, $failed failed"; [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]; }

# Stops every process the test started (its process group where it leads one).
stop_started() {
    local pid
    for pid in "${started_pids[@]}"; do
        kill -TERM "$pid" 2> /dev/null
    done
    for pid in "${started_pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2> /dev/null
        wait "$pid" 2> /dev/null
    done
    started_pids=()
}

# Exits with status 2 and a clear message when a host is not installed.
require() {  # COMMAND PACKAGE ...
    while [ $# -gt 0 ]; do
        if ! command -v "$1" > /dev/null; then
            echo "FAIL $1 is missing: install the Debian package $2 (scripts/install-deps.sh does)"
            exit 2
        fi
        shift 2
    done
}

# A TCP port on 127.0.0.1 that nothing listens on now.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# Waits until something listens on 127.0.0.1:PORT (at most SECONDS).
wait_port() {  # PORT SECONDS
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null && return 0
        sleep 0.1
    done
    return 1
}
