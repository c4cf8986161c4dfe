# Sourced by the tray benchmarks: a private X session (Xvfb, openbox, trayer)
# with its own message bus and XDG folders, and the tray application in it.
# Every process started here is remembered by its id and stopped by e2e_stop.

e2e_pids=()

# e2e_start WORKDIR [EDGE] [ALIGN]
e2e_start() {
    E2E_DIR=$1
    local edge=${2:-top} align=${3:-right}
    for tool in Xvfb openbox trayer xdotool xwininfo dbus-daemon; do
        command -v "$tool" >/dev/null || { echo "missing $tool (run scripts/setup-deps)" >&2; return 1; }
    done
    mkdir -p "$E2E_DIR/home"
    Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp >"$E2E_DIR/xvfb.out" 2>"$E2E_DIR/xvfb.err" &
    e2e_pids+=($!)
    for _ in $(seq 100); do [ -s "$E2E_DIR/xvfb.out" ] && break; sleep 0.05; done
    export DISPLAY=":$(head -n1 "$E2E_DIR/xvfb.out")"
    cat >"$E2E_DIR/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=$E2E_DIR/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow own="*"/><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --nofork --config-file="$E2E_DIR/bus.conf" >"$E2E_DIR/bus.log" 2>&1 &
    e2e_pids+=($!)
    export HOME=$E2E_DIR/home XDG_CONFIG_HOME=$E2E_DIR/home/config
    export XDG_STATE_HOME=$E2E_DIR/home/state XDG_RUNTIME_DIR=$E2E_DIR/home
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$E2E_DIR/bus DBUS_SESSION_BUS_ADDRESS=unix:path=$E2E_DIR/bus
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM
    openbox >"$E2E_DIR/openbox.log" 2>&1 &
    e2e_pids+=($!)
    sleep 0.5
    trayer --edge "$edge" --align "$align" --widthtype request --height 24 --SetDockType true \
        --SetPartialStrut true --transparent false >"$E2E_DIR/trayer.log" 2>&1 &
    e2e_pids+=($!)
    sleep 0.5
}

# e2e_launch BINARY: starts the tray application; E2E_APP_PID is its id.
e2e_launch() {
    "$1" >"$E2E_DIR/app.out" 2>"$E2E_DIR/app.err" &
    E2E_APP_PID=$!
    e2e_pids+=($E2E_APP_PID)
    for _ in $(seq 200); do grep -q created "$E2E_DIR/app.err" 2>/dev/null && return 0; sleep 0.05; done
    echo "the tray application did not start: $(cat "$E2E_DIR/app.err")" >&2
    return 1
}

# The tray icon's centre, "X Y".
e2e_icon_centre() {
    xwininfo -root -tree | sed -n 's/.*"vesperine": ("vesperine" "vesperine") *\([0-9]*\)x\([0-9]*\)+[-0-9]*+[-0-9]* *+\([-0-9]*\)+\([-0-9]*\).*/\1 \2 \3 \4/p' |
        awk '$1 > 1 && $1 < 64 { print $3 + int($1 / 2), $4 + int($2 / 2); exit }'
}

# The panel is the one window titled "Vesperine" (the tray's are lower case).
e2e_panel_id() { xwininfo -root -tree | sed -n 's/^ *\(0x[0-9a-f]*\) "Vesperine":.*/\1/p' | head -n1; }

e2e_stop() {
    local i
    for ((i = ${#e2e_pids[@]} - 1; i >= 0; i--)); do
        kill "${e2e_pids[i]}" 2>/dev/null || true
        wait "${e2e_pids[i]}" 2>/dev/null || true
    done
    e2e_pids=()
}
