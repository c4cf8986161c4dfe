# Sourced by the tray benchmarks: a private X session (Xvfb, openbox, trayer)
# with its own message bus and XDG folders, and the tray application in it;
# or a private headless GNOME Shell with the indicator extension, whose
# Xwayland the application then uses.
# Every process started here is remembered by its id and stopped by e2e_stop;
# whatever the session's daemons start on their own carries E2E_SWEEP_TAG in
# its environment and is swept by that.

e2e_pids=()
E2E_SWEEP_TAG=

# e2e_start WORKDIR [EDGE] [ALIGN] [HOST]: HOST is the tray: trayer (the
# default), xfce4-panel or lxqt-panel, each along EDGE; or gnome-shell (its
# bar is always at the top).
e2e_start() {
    E2E_DIR=$1
    local edge=${2:-top} align=${3:-right} host=${4:-trayer}
    if [ "$host" = gnome-shell ]; then
        e2e_start_gnome_shell
        return
    fi
    for tool in Xvfb openbox trayer xdotool xwininfo dbus-daemon; do
        command -v "$tool" >/dev/null || { echo "missing $tool (run scripts/setup-deps)" >&2; return 1; }
    done
    mkdir -p "$E2E_DIR/home"
    Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp >"$E2E_DIR/xvfb.out" 2>"$E2E_DIR/xvfb.err" &
    e2e_pids+=($!)
    for _ in $(seq 100); do [ -s "$E2E_DIR/xvfb.out" ] && break; sleep 0.05; done
    export DISPLAY=":$(head -n1 "$E2E_DIR/xvfb.out")"
    e2e_bus "$E2E_DIR/bus" || return 1
    export HOME=$E2E_DIR/home XDG_CONFIG_HOME=$E2E_DIR/home/config
    export XDG_STATE_HOME=$E2E_DIR/home/state XDG_RUNTIME_DIR=$E2E_DIR/home
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$E2E_DIR/bus DBUS_SESSION_BUS_ADDRESS=unix:path=$E2E_DIR/bus
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM
    openbox >"$E2E_DIR/openbox.log" 2>&1 &
    e2e_pids+=($!)
    sleep 0.5
    E2E_EDGE=$edge
    case $host in
    xfce4-panel)
        mkdir -p "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
        cat >"$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml" <<XML
<?xml version="1.0"?>
<channel name="xfce4-panel" version="1.0">
<property name="configver" type="int" value="2"/>
<property name="panels" type="array"><value type="int" value="1"/>
<property name="dark-mode" type="bool" value="true"/>
<property name="panel-1" type="empty">
<property name="position" type="string" value="$([ "$edge" = top ] && echo 'p=6;x=0;y=0' || echo 'p=10;x=0;y=0')"/>
<property name="length" type="uint" value="100"/>
<property name="position-locked" type="bool" value="true"/>
<property name="size" type="uint" value="28"/>
<property name="plugin-ids" type="array"><value type="int" value="1"/><value type="int" value="2"/></property>
</property></property>
<property name="plugins" type="empty">
<property name="plugin-1" type="string" value="separator"><property name="expand" type="bool" value="true"/><property name="style" type="uint" value="0"/></property>
<property name="plugin-2" type="string" value="systray"/>
</property>
</channel>
XML
        /usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd >"$E2E_DIR/xfconfd.log" 2>&1 &
        e2e_pids+=($!)
        xfce4-panel --disable-wm-check >"$E2E_DIR/panel.log" 2>&1 &
        e2e_pids+=($!)
        sleep 2
        ;;
    lxqt-panel)
        mkdir -p "$XDG_CONFIG_HOME/lxqt"
        printf '[General]\npanels=panel1\n\n[panel1]\nplugins=spacer, statusnotifier\nposition=%s\npanelSize=28\n\n[spacer]\ntype=spacer\nexpandable=true\n\n[statusnotifier]\ntype=statusnotifier\n' \
            "$([ "$edge" = top ] && echo Top || echo Bottom)" >"$XDG_CONFIG_HOME/lxqt/panel.conf"
        xcompmgr -n >"$E2E_DIR/xcompmgr.log" 2>&1 &
        e2e_pids+=($!)
        lxqt-panel >"$E2E_DIR/panel.log" 2>&1 &
        e2e_pids+=($!)
        sleep 2
        ;;
    *)
        trayer --edge "$edge" --align "$align" --widthtype request --height 24 --SetDockType true \
            --SetPartialStrut true --transparent false >"$E2E_DIR/trayer.log" 2>&1 &
        e2e_pids+=($!)
        sleep 0.5
        ;;
    esac
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

# The tray icon's centre, "X Y": its own window in an XEmbed tray, else what
# stands out from the right end of the bar (hosts draw notifier items).
e2e_icon_centre() {
    local found
    found=$(xwininfo -root -tree | sed -n 's/.*"vesperine": ("vesperine" "vesperine") *\([0-9]*\)x\([0-9]*\)+[-0-9]*+[-0-9]* *+\([-0-9]*\)+\([-0-9]*\).*/\1 \2 \3 \4/p' |
        awk '$1 > 1 && $1 < 64 { print $3 + int($1 / 2), $4 + int($2 / 2); exit }')
    if [ -n "$found" ]; then echo "$found"; return; fi
    local top height
    read -r top height < <(xprop -root _NET_WORKAREA | awk -F', ' '{ sub(/.*= /, "", $1); print $2, $4 }')
    local band_top=0 band_height=$top
    [ "${E2E_EDGE:-top}" = bottom ] && band_top=$((top + height)) && band_height=$((800 - band_top))
    import -window root "$E2E_DIR/bar.png"
    convert "$E2E_DIR/bar.png" -crop "160x$((band_height - 6))+1120+$((band_top + 3))" +repage \
        -fuzz 25% -trim -format '%w %h %X %Y' info: |
        awk -v t=$((band_top + 3)) '{ print 1120 + $3 + int($1 / 2), t + $4 + int($2 / 2) }'
}

# The panel is the one window titled "Vesperine" (the tray's are lower case).
e2e_panel_id() { xwininfo -root -tree | sed -n 's/^ *\(0x[0-9a-f]*\) "Vesperine":.*/\1/p' | head -n1; }

# e2e_bus SOCKET: a message bus with no services of its own to start.
e2e_bus() {
    cat >"$1.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=$1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow own="*"/><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
  </policy>
</busconfig>
CONF
    E2E_SWEEP_TAG=$E2E_SWEEP_TAG dbus-daemon --nofork --config-file="$1.conf" >"$1.log" 2>&1 &
    e2e_pids+=($!)
    for _ in $(seq 200); do [ -S "$1" ] && return 0; sleep 0.05; done
    echo "the bus at $1 did not start: $(cat "$1.log")" >&2
    return 1
}

# e2e_shell_eval SCRIPT: what org.gnome.Shell.Eval returns for SCRIPT, as
# JSON (strings keep their quotes); empty when it fails.
e2e_shell_eval() {
    gdbus call --session --timeout 10 --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method org.gnome.Shell.Eval "$1" 2>/dev/null | sed -n "s/^(true, '\(.*\)')\$/\1/p"
}

# A headless GNOME Shell on a private session bus, with a second, empty bus
# as the system bus (the shell insists on reaching logind) and a test-only
# extension that opens Eval; the application then runs on its Xwayland.
e2e_start_gnome_shell() {
    for tool in gnome-shell gdbus dbus-daemon xwininfo; do
        command -v "$tool" >/dev/null || { echo "missing $tool (run scripts/setup-deps)" >&2; return 1; }
    done
    E2E_SWEEP_TAG=vesperine-bench-$$-$RANDOM
    local home=$E2E_DIR/home
    local unsafe=$home/data/gnome-shell/extensions/unsafe@vesperine.test
    mkdir -p "$unsafe" "$home/config/glib-2.0/settings" "$home/cache" "$home/state" "$E2E_DIR/sys"
    chmod 700 "$home"
    printf '%s\n' '{"uuid": "unsafe@vesperine.test", "name": "unsafe", "description": "benchmarks only", "shell-version": ["43"]}' \
        >"$unsafe/metadata.json"
    printf '%s\n' 'function init() {' \
        '    return { enable() { global.context.unsafe_mode = true; }, disable() {} };' '}' >"$unsafe/extension.js"
    printf '%s\n' '[org/gnome/shell]' \
        "enabled-extensions=['ubuntu-appindicators@ubuntu.com', 'unsafe@vesperine.test']" \
        "welcome-dialog-last-shown-version='999'" >"$home/config/glib-2.0/settings/keyfile"
    # The folders first: the buses and all they start take them over.
    export HOME=$home XDG_CONFIG_HOME=$home/config XDG_STATE_HOME=$home/state
    export XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache XDG_RUNTIME_DIR=$home NO_AT_BRIDGE=1
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM DISPLAY XAUTHORITY
    e2e_bus "$E2E_DIR/bus" || return 1
    e2e_bus "$E2E_DIR/sys/bus" || return 1
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$E2E_DIR/bus
    E2E_SWEEP_TAG=$E2E_SWEEP_TAG DBUS_SYSTEM_BUS_ADDRESS=unix:path=$E2E_DIR/sys/bus \
        XDG_SESSION_TYPE=wayland GSETTINGS_BACKEND=keyfile LIBGL_ALWAYS_SOFTWARE=1 \
        gnome-shell --headless --wayland --virtual-monitor 1280x720 >"$E2E_DIR/shell.out" 2>"$E2E_DIR/shell.err" &
    E2E_SHELL_PID=$!
    e2e_pids+=($E2E_SHELL_PID)
    local ready=
    for _ in $(seq 150); do
        [ "$(e2e_shell_eval Main.layoutManager._startingUp)" = false ] && ready=1 && break
        kill -0 "$E2E_SHELL_PID" 2>/dev/null || break
        sleep 0.2
    done
    [ -n "$ready" ] || { echo "gnome-shell did not start: $(tail -n 5 "$E2E_DIR/shell.err")" >&2; return 1; }
    e2e_shell_eval 'Main.overview.hide()' >/dev/null
    # Its Xwayland: DISPLAY and XAUTHORITY from the command line.
    local xwayland= arguments=() stat pid name state parent
    for _ in $(seq 100); do
        for stat in /proc/[0-9]*/stat; do
            read -r pid name state parent _ 2>/dev/null <"$stat" || continue
            [ "$name" = "(Xwayland)" ] && [ "$parent" = "$E2E_SHELL_PID" ] && xwayland=$pid && break
        done
        [ -n "$xwayland" ] && break
        sleep 0.1
    done
    [ -n "$xwayland" ] || { echo "gnome-shell started no Xwayland" >&2; return 1; }
    mapfile -d '' -t arguments <"/proc/$xwayland/cmdline"
    local i
    for ((i = 1; i < ${#arguments[@]}; i++)); do
        [ "${arguments[i - 1]}" = -auth ] && export XAUTHORITY=${arguments[i]}
    done
    export DISPLAY=${arguments[1]} XDG_CURRENT_DESKTOP=GNOME
    [ -n "${XAUTHORITY:-}" ] || { echo "no -auth on Xwayland's command line" >&2; return 1; }
    for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
    E2E_EDGE=top
}

e2e_stop() {
    local i
    for ((i = ${#e2e_pids[@]} - 1; i >= 0; i--)); do
        kill "${e2e_pids[i]}" 2>/dev/null || true
        wait "${e2e_pids[i]}" 2>/dev/null || true
    done
    e2e_pids=()
    # What the session's daemons started themselves (Xwayland, input method
    # daemons, services started by the bus): found by the tag they inherited.
    if [ -n "$E2E_SWEEP_TAG" ]; then
        local signal environ found
        for signal in TERM TERM KILL; do
            found=
            for environ in $(grep -lzxF "E2E_SWEEP_TAG=$E2E_SWEEP_TAG" /proc/[0-9]*/environ 2>/dev/null); do
                environ=${environ#/proc/}
                kill -s "$signal" "${environ%/environ}" 2>/dev/null && found=1
            done
            [ -n "$found" ] || break
            sleep 0.5
        done
    fi
}
