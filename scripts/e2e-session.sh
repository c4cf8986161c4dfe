#!/usr/bin/env bash
# Private desktop sessions for the benchmarks and the end-to-end tests: a
# message bus, Xvfb with openbox, a tray (trayer, xfce4-panel, lxqt-panel), a
# headless GNOME Shell with the indicator extension, KWin or mutter with
# gsd-color; each with its own XDG folders.
#
# Sourced (the tray benchmarks): e2e_start puts a whole session together in
# this shell, e2e_launch starts the tray application in it, e2e_stop ends it.
#
# Executed (the tests), one part of a session at a time:
#   scripts/e2e-session.sh serve DIR PART [ARGS...]
# starts PART in the environment it was given (HOME, XDG folders, DISPLAY and
# bus addresses as the caller has them), with its programs' output in DIR,
# waits until it is ready and writes the variables it adds, NAME=VALUE a
# line, to DIR/PART.env. Then it stays until SIGTERM (or until its parent
# goes) and stops what it started. A part that cannot start exits 1 with one
# line on stderr saying why. PART and its ARGS:
#   bus [services]          a bus at DIR/bus; with "services" it starts the
#                           installed session services (dconf) on demand
#   xserver OPTION...       Xvfb with these options
#   display                 Xvfb at 1280x800 and openbox managing it
#   tray EDGE ALIGN         trayer along EDGE at ALIGN, once it owns the tray
#   panel PANEL EDGE [dark] xfce4-panel or lxqt-panel (with xcompmgr) and its tray
#   gnome-shell             GNOME Shell with the indicator extension, on its Xwayland
#   kwin                    kwin_wayland, once Night Color answers and kwinrc settled
#   mutter                  mutter and gsd-color, once Night Light answers
#
# Every process started here is remembered by its id and stopped by e2e_stop;
# whatever the session's daemons start on their own carries E2E_SWEEP_TAG in
# its environment and is swept by that.

e2e_pids=()
e2e_waiter=
E2E_SWEEP_TAG=
E2E_WIDTH=1280
E2E_HEIGHT=800

e2e_need() {
    local tool
    for tool; do
        command -v "$tool" >/dev/null || { echo "missing $tool (run scripts/setup-deps)" >&2; return 1; }
    done
}

# e2e_bg NAME COMMAND...: COMMAND in the background, its output in
# $E2E_DIR/NAME.out and NAME.err; E2E_PID is its id.
e2e_bg() {
    local name=$1
    shift
    "$@" </dev/null >"$E2E_DIR/$name.out" 2>"$E2E_DIR/$name.err" &
    E2E_PID=$!
    e2e_pids+=("$E2E_PID")
}

# e2e_wait SECONDS COMMAND...: polls COMMAND every 0.1 s until it succeeds.
e2e_wait() {
    local tries=$(($1 * 10))
    shift
    while ((tries-- > 0)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# The last lines of a log file, on one line.
e2e_tail() { tail -n "${2:-3}" "$E2E_DIR/$1" 2>/dev/null | tr '\n' ' '; }

# A property through gdbus: "(<true>,)", "(<uint32 4200>,)"; empty on failure.
e2e_property() {
    gdbus call --session --timeout 5 --dest "$1" --object-path "$2" \
        --method org.freedesktop.DBus.Properties.Get "$3" "$4" 2>/dev/null
}

# e2e_folders HOME: the private home and XDG folders, exported; the buses and
# all they start take them over, so this comes first.
e2e_folders() {
    mkdir -p "$1/config" "$1/state" "$1/data" "$1/cache"
    chmod 700 "$1"
    export HOME=$1 XDG_CONFIG_HOME=$1/config XDG_STATE_HOME=$1/state XDG_DATA_HOME=$1/data
    export XDG_CACHE_HOME=$1/cache XDG_RUNTIME_DIR=$1 NO_AT_BRIDGE=1
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM DISPLAY XAUTHORITY
}

# e2e_bus SOCKET [services]: a message bus where anyone may own any name and
# send anything; with "services" it starts the session services on demand.
e2e_bus() {
    local services=
    [ "${2:-}" = services ] && services='<standard_session_servicedirs/>'
    cat >"$1.conf" <<CONF
<busconfig><listen>unix:path=$1</listen><auth>EXTERNAL</auth>$services
<policy context="default"><allow own="*"/><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow send_type="signal"/></policy></busconfig>
CONF
    dbus-daemon --nofork --config-file="$1.conf" </dev/null >"$1.log" 2>&1 &
    e2e_pids+=($!)
    e2e_wait 10 test -S "$1" || { echo "the bus at $1 did not start: $(tail -n 3 "$1.log" | tr '\n' ' ')" >&2; return 1; }
}

# e2e_session_bus [services]: the session's bus at $E2E_DIR/bus, also its
# system bus; the services it starts find it in their environment.
e2e_session_bus() {
    e2e_need dbus-daemon || return 1
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$E2E_DIR/bus DBUS_SYSTEM_BUS_ADDRESS=unix:path=$E2E_DIR/bus
    e2e_bus "$E2E_DIR/bus" "$@"
}

# e2e_xserver OPTION...: Xvfb on a free display; DISPLAY becomes it.
e2e_xserver() {
    e2e_need Xvfb || return 1
    e2e_bg xvfb Xvfb -displayfd 1 -nolisten tcp "$@"
    e2e_wait 20 grep -q . "$E2E_DIR/xvfb.out" || { echo "Xvfb did not start: $(e2e_tail xvfb.err)" >&2; return 1; }
    DISPLAY=:$(head -n1 "$E2E_DIR/xvfb.out")
    export DISPLAY
}

e2e_wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# Xvfb and openbox, once the window manager has taken the screen. A loaded
# machine occasionally loses the race for a display number or starts the
# window manager slowly; one fresh try covers that.
e2e_display() {
    e2e_need Xvfb openbox xprop || return 1
    local first=${#e2e_pids[@]}
    for _ in 1 2; do
        if e2e_xserver -screen 0 "${E2E_WIDTH}x${E2E_HEIGHT}x24" 2>/dev/null; then
            e2e_bg openbox openbox
            e2e_wait 20 e2e_wm_ready && e2e_alive "$E2E_PID" && return 0
        fi
        e2e_stop "$first"
    done
    echo "no window manager on ${DISPLAY:-no display}: $(e2e_tail openbox.err) $(e2e_tail xvfb.err)" >&2
    return 1
}

# Whether a tray owns the tray selection of the first screen.
e2e_tray_owned() {
    python3 -c 'import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XInternAtom.restype = ctypes.c_ulong
x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XGetSelectionOwner.restype = ctypes.c_ulong
d = x.XOpenDisplay(None)
sys.exit(0 if d and x.XGetSelectionOwner(d, x.XInternAtom(d, b"_NET_SYSTEM_TRAY_S0", 0)) else 1)'
}

e2e_tray_settled() { e2e_tray_owned || ! e2e_alive "$E2E_PID"; }

# e2e_tray EDGE ALIGN: trayer as the XEmbed tray along EDGE ("top",
# "bottom") at ALIGN ("center", "right"), 24 high, once it owns the tray.
e2e_tray() {
    e2e_need trayer python3 || return 1
    e2e_bg trayer trayer --edge "$1" --align "$2" --widthtype request --height 24 --SetDockType true \
        --SetPartialStrut true --transparent false
    e2e_wait 10 e2e_tray_settled && e2e_tray_owned || { echo "trayer took no tray: $(e2e_tail trayer.err)" >&2; return 1; }
}

# Whether something took a strut: the work area is smaller than the screen.
e2e_strut_taken() { ! xprop -root _NET_WORKAREA 2>/dev/null | grep -q "= 0, 0, $E2E_WIDTH, $E2E_HEIGHT"; }

# e2e_panel PANEL EDGE [dark]: xfce4-panel (dark or light) or lxqt-panel
# with its tray at the right end of one bar along EDGE, once the bar is there.
e2e_panel() {
    local panel=$1 edge=$2 dark=false
    [ "${3:-}" = dark ] && dark=true
    case $panel in
    xfce4-panel)
        e2e_need xfce4-panel || return 1
        mkdir -p "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
        # One bar across the screen: a gap, then the tray at the right end.
        cat >"$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml" <<XML
<?xml version="1.0"?>
<channel name="xfce4-panel" version="1.0">
<property name="configver" type="int" value="2"/>
<property name="panels" type="array"><value type="int" value="1"/>
<property name="dark-mode" type="bool" value="$dark"/>
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
        e2e_bg xfconfd /usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd
        e2e_bg panel xfce4-panel --disable-wm-check
        ;;
    lxqt-panel)
        e2e_need lxqt-panel xcompmgr || return 1
        mkdir -p "$XDG_CONFIG_HOME/lxqt"
        printf '[General]\npanels=panel1\n\n[panel1]\nplugins=spacer, statusnotifier\nposition=%s\npanelSize=28\n\n[spacer]\ntype=spacer\nexpandable=true\n\n[statusnotifier]\ntype=statusnotifier\n' \
            "$([ "$edge" = top ] && echo Top || echo Bottom)" >"$XDG_CONFIG_HOME/lxqt/panel.conf"
        # Its bar is translucent: drawn as on a desktop under a compositor.
        e2e_bg xcompmgr xcompmgr -n
        e2e_bg panel lxqt-panel
        ;;
    *)
        echo "no such panel: $panel" >&2
        return 1
        ;;
    esac
    e2e_wait 15 e2e_strut_taken || { echo "$panel showed no bar: $(e2e_tail panel.err)" >&2; return 1; }
}

# e2e_shell_eval SCRIPT: what org.gnome.Shell.Eval returns for SCRIPT, as
# JSON (strings keep their quotes); empty when it fails.
e2e_shell_eval() {
    gdbus call --session --timeout 10 --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method org.gnome.Shell.Eval "$1" 2>/dev/null | sed -n "s/^(true, '\(.*\)')\$/\1/p"
}

# Whether the shell has started up, or ended.
e2e_shell_settled() {
    [ "$(e2e_shell_eval Main.layoutManager._startingUp)" = false ] || ! e2e_alive "$E2E_SHELL_PID"
}

# A headless GNOME Shell on the session bus, with a second, empty bus as the
# system bus (the shell insists on reaching logind) and a test-only extension
# that opens Eval and Screenshot; DISPLAY and XAUTHORITY become its Xwayland's.
e2e_gnome_shell() {
    e2e_need gnome-shell gdbus xwininfo || return 1
    local unsafe=$XDG_DATA_HOME/gnome-shell/extensions/unsafe@vesperine.test
    mkdir -p "$unsafe" "$XDG_CONFIG_HOME/glib-2.0/settings" "$XDG_CACHE_HOME" "$E2E_DIR/sys"
    printf '%s\n' '{"uuid": "unsafe@vesperine.test", "name": "unsafe", "description": "tests only", "shell-version": ["43"]}' \
        >"$unsafe/metadata.json"
    printf '%s\n' 'function init() {' \
        '    return { enable() { global.context.unsafe_mode = true; }, disable() {} };' '}' >"$unsafe/extension.js"
    printf '%s\n' '[org/gnome/shell]' \
        "enabled-extensions=['ubuntu-appindicators@ubuntu.com', 'unsafe@vesperine.test']" \
        "welcome-dialog-last-shown-version='999'" >"$XDG_CONFIG_HOME/glib-2.0/settings/keyfile"
    e2e_bus "$E2E_DIR/sys/bus" || return 1
    e2e_bg shell env DBUS_SYSTEM_BUS_ADDRESS=unix:path=$E2E_DIR/sys/bus \
        XDG_SESSION_TYPE=wayland GSETTINGS_BACKEND=keyfile LIBGL_ALWAYS_SOFTWARE=1 \
        gnome-shell --headless --wayland --virtual-monitor 1280x720
    E2E_SHELL_PID=$E2E_PID
    e2e_wait 30 e2e_shell_settled && e2e_alive "$E2E_SHELL_PID" ||
        { echo "gnome-shell did not start: $(e2e_tail shell.err 5)" >&2; return 1; }
    e2e_shell_eval 'Main.overview.hide()' >/dev/null
    # Its Xwayland: DISPLAY and XAUTHORITY from the command line.
    local xwayland='' arguments=() stat pid name parent i
    for _ in $(seq 100); do
        for stat in /proc/[0-9]*/stat; do
            read -r pid name _ parent _ 2>/dev/null <"$stat" || continue
            [ "$name" = "(Xwayland)" ] && [ "$parent" = "$E2E_SHELL_PID" ] && xwayland=$pid && break
        done
        [ -n "$xwayland" ] && break
        sleep 0.1
    done
    [ -n "$xwayland" ] || { echo "gnome-shell started no Xwayland" >&2; return 1; }
    mapfile -d '' -t arguments <"/proc/$xwayland/cmdline"
    for ((i = 1; i < ${#arguments[@]}; i++)); do
        [ "${arguments[i - 1]}" = -auth ] && export XAUTHORITY=${arguments[i]}
    done
    export DISPLAY=${arguments[1]} XDG_CURRENT_DESKTOP=GNOME
    [ -n "${XAUTHORITY:-}" ] || { echo "no -auth on Xwayland's command line" >&2; return 1; }
    e2e_wait 10 xwininfo -root >/dev/null 2>&1 || { echo "Xwayland on $DISPLAY does not answer" >&2; return 1; }
}

e2e_night_color() {
    [ "$(e2e_property org.kde.KWin /ColorCorrect org.kde.kwin.ColorCorrect available)" = "(<true>,)" ]
}

# kwin_wayland on "wayland-kwin", once Night Color answers and KWin has
# rewritten kwinrc (the file stayed the same for 3 s; its tiling layout comes
# about 2 s after the rest).
e2e_kwin() {
    e2e_need kwin_wayland gdbus || return 1
    # The installed binary carries a file capability a container may refuse
    # to grant; a plain copy runs without it.
    cp "$(command -v kwin_wayland)" "$E2E_DIR/kwin_wayland" || return 1
    e2e_bg kwin env QT_QPA_PLATFORM=offscreen "$E2E_DIR/kwin_wayland" --virtual --width 1280 \
        --height 720 --socket wayland-kwin --no-lockscreen
    export WAYLAND_DISPLAY=wayland-kwin
    e2e_wait 30 e2e_night_color || { echo "KWin's Night Color did not answer: $(e2e_tail kwin.err)" >&2; return 1; }
    local last='' now unchanged=0 tries=200
    while ((unchanged < 30)); do
        ((tries-- > 0)) || { echo "KWin kept rewriting kwinrc" >&2; return 1; }
        now=$(cat "$XDG_CONFIG_HOME/kwinrc" 2>/dev/null)
        if [ -n "$now" ] && [ "$now" = "$last" ]; then unchanged=$((unchanged + 1)); else unchanged=0; fi
        last=$now
        sleep 0.1
    done
}

e2e_night_light() {
    [ -n "$(e2e_property org.gnome.SettingsDaemon.Color /org/gnome/SettingsDaemon/Color \
        org.gnome.SettingsDaemon.Color NightLightActive)" ]
}

# mutter on "wayland-mutter" and gsd-color, once Night Light answers.
e2e_mutter() {
    e2e_need mutter /usr/libexec/gsd-color gdbus || return 1
    e2e_bg mutter mutter --headless --wayland --no-x11 --virtual-monitor 1280x720 --wayland-display wayland-mutter
    e2e_wait 30 test -S "$XDG_RUNTIME_DIR/wayland-mutter" || { echo "mutter did not start: $(e2e_tail mutter.err)" >&2; return 1; }
    export WAYLAND_DISPLAY=wayland-mutter
    e2e_bg gsd-color /usr/libexec/gsd-color
    e2e_wait 30 e2e_night_light || { echo "gsd-color's Night Light did not answer: $(e2e_tail gsd-color.err)" >&2; return 1; }
}

# e2e_start WORKDIR [EDGE] [ALIGN] [HOST]: a whole session in this shell.
# HOST is the tray: trayer (the default), xfce4-panel or lxqt-panel, each
# along EDGE; or gnome-shell (its bar is always at the top).
e2e_start() {
    E2E_DIR=$1
    local edge=${2:-top} align=${3:-right} host=${4:-trayer}
    export E2E_SWEEP_TAG=vesperine-bench-$$-$RANDOM
    e2e_need xdotool xwininfo || return 1
    e2e_folders "$E2E_DIR/home"
    e2e_session_bus || return 1
    E2E_EDGE=$edge
    case $host in
    gnome-shell) E2E_EDGE=top && e2e_gnome_shell ;;
    trayer) e2e_display && e2e_tray "$edge" "$align" ;;
    *) e2e_display && e2e_panel "$host" "$edge" dark ;;
    esac
}

# e2e_launch BINARY: starts the tray application; E2E_APP_PID is its id.
e2e_launch() {
    "$1" >"$E2E_DIR/app.out" 2>"$E2E_DIR/app.err" &
    E2E_APP_PID=$!
    e2e_pids+=("$E2E_APP_PID")
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

# Whether process $1 lives (a zombie does not).
e2e_alive() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

# e2e_stop [FIRST]: stops what was started, the last first (from the FIRST
# started on; all of it and the sweep without FIRST).
e2e_stop() {
    local first=${1:-0} i pid tries
    for ((i = ${#e2e_pids[@]} - 1; i >= first; i--)); do
        pid=${e2e_pids[i]}
        kill "$pid" 2>/dev/null || true
        tries=30
        while ((tries-- > 0)) && e2e_alive "$pid"; do sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    e2e_pids=("${e2e_pids[@]:0:first}")
    # What the session's daemons started themselves (Xwayland, input method
    # daemons, services started by the bus): found by the tag they inherited.
    if [ -n "$E2E_SWEEP_TAG" ] && [ "$first" = 0 ]; then
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

# serve DIR PART [ARGS...]: see the top of this file.
e2e_serve() {
    E2E_DIR=$1
    local part=$2 names=(DISPLAY XAUTHORITY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
        DBUS_SYSTEM_BUS_ADDRESS XDG_CURRENT_DESKTOP) before=() i name
    shift 2
    export E2E_SWEEP_TAG=vesperine-test-$$-$RANDOM
    trap 'exit 143' TERM INT
    trap '[ -n "$e2e_waiter" ] && kill "$e2e_waiter" 2>/dev/null; e2e_stop' EXIT
    rm -f "$E2E_DIR/$part.env"
    for name in "${names[@]}"; do before+=("${!name-}"); done
    case $part in
    bus) e2e_session_bus "$@" ;;
    xserver) e2e_xserver "$@" ;;
    display) e2e_display ;;
    tray) e2e_tray "$@" ;;
    panel) e2e_panel "$@" ;;
    gnome-shell) e2e_gnome_shell ;;
    kwin) e2e_kwin ;;
    mutter) e2e_mutter ;;
    *) echo "no such part: $part" >&2 && false ;;
    esac || exit 1
    for i in "${!names[@]}"; do
        name=${names[i]}
        [ "${!name-}" != "${before[i]}" ] && printf '%s=%s\n' "$name" "${!name-}"
    done >"$E2E_DIR/$part.env.new"
    mv "$E2E_DIR/$part.env.new" "$E2E_DIR/$part.env"
    while kill -0 "$PPID" 2>/dev/null; do
        sleep 0.5 &
        e2e_waiter=$!
        wait "$e2e_waiter"
    done
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -u
    [ "${1:-}" = serve ] && [ $# -ge 3 ] || { echo "usage: $0 serve DIR PART [ARGS...]" >&2; exit 2; }
    shift
    e2e_serve "$@"
fi
