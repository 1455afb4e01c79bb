# Shared by the shell tools; sourced, never run:  . "$root/tools/lib.sh"
# The tools run under "set -euo pipefail"; what is here holds under it.
#   dv_init_work PREFIX     a work folder in $dv_work, and the cleanup on exit (dv_keep_work=1 keeps the folder;
#                           a function dv_before_cleanup, when the tool defines one, runs first)
#   dv_track PID            a process the cleanup ends
#   dv_stop PID             ends one process now and waits for it; one already gone is no error
#   dv_start_devserver ARGS the development document service on loopback; waits for its line, sets dv_url
#   dv_write_setting KEY [TYPE] VALUE, dv_seed_account URL FOLDER USER PASSWORD   the client's settings
# dv_build names the build tree (bin/docuvane-devserver, bin/docuvane-defaults).

dv_work=
dv_keep_work=0
dv_pids=()
dv_domain=com.docuvane.DocuvaneFetch

# Runs on every exit, errors included: ends what was started, then removes the work folder. Processes that
# have already ended and commands that fail here must not cut it short, whatever "set -e" says.
dv_cleanup() {
    local status=$?
    set +e
    local pid
    declare -F dv_before_cleanup >/dev/null && dv_before_cleanup
    for pid in "${dv_pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "${dv_pids[@]}"; do wait "$pid" 2>/dev/null; done
    if [ -n "$dv_work" ]; then
        if [ "$dv_keep_work" = 1 ]; then echo "Work folder kept: $dv_work" >&2; else rm -rf "$dv_work"; fi
    fi
    exit "$status"
}

dv_init_work() { # prefix
    dv_work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
    trap dv_cleanup EXIT
}

dv_track() { dv_pids+=("$1"); }

dv_stop() { # pid
    kill -TERM "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# Starts bin/docuvane-devserver with the given arguments, its output in $dv_work/devserver.{out,err}, and waits
# until it says where it listens (or ends). Sets dv_url and dv_server_pid; fails when the service did not start.
dv_start_devserver() { # devserver arguments...
    "$dv_build/bin/docuvane-devserver" "$@" >"$dv_work/devserver.out" 2>"$dv_work/devserver.err" &
    dv_server_pid=$!
    dv_track "$dv_server_pid"
    local _
    for _ in $(seq 200); do
        grep -q '^listening on ' "$dv_work/devserver.out" && break
        kill -0 "$dv_server_pid" 2>/dev/null || break
        sleep 0.05
    done
    dv_url=$(sed -n 's/^listening on //p' "$dv_work/devserver.out" | head -n 1)
    if [ -z "$dv_url" ]; then
        echo "the development document service did not start:" >&2
        cat "$dv_work/devserver.err" >&2
        return 1
    fi
}

dv_write_setting() { # key [type] value, as docuvane-defaults takes them
    "$dv_build/bin/docuvane-defaults" write "$dv_domain" "$@"
}

# The settings of a client signed in to the service at url, with its fetch folder (no service when url is empty).
dv_seed_account() { # url folder user password
    dv_write_setting email "$3"
    dv_write_setting password -password "$4"
    [ -z "$1" ] || dv_write_setting DocuvaneServerURL "$1"
    dv_write_setting dropboxFolderPath "$2"
}
