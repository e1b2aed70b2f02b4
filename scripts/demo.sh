#!/bin/bash
# The whole journey, run by itself: start the local font service and kernwell,
# sign in through the service's sign-in page, add two styles on the library
# page, then many at once, and remove one, and print after each step what the
# tray shows, which synced fonts fc-list sees and which notifications kernwell
# posted. With a virtual X server, each step is also photographed: the screen,
# and, once signed in, the Kernwell window alone (its list and status line,
# and the progress while the many styles arrive).
#
# Everything runs in a throwaway sandbox: its own HOME and XDG folders, a
# private D-Bus session, an unlocked throwaway keyring and, without a display
# or with --headless, a virtual X server. The user's fonts, keyring and
# configuration are never touched. The sandbox is removed at the end (unless
# --keep); screenshots are kept under the build tree.
#
# Usage: scripts/demo.sh [--headless] [--keep] [--timeout SECONDS] [--build-dir DIR]
#   --headless        use a virtual X server even when a display is there
#   --keep            keep the sandbox (logs, service data) and print where it is
#   --timeout N       seconds each step may take (default 30)
#   --build-dir DIR   use an existing build instead of building the release preset
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/scripts/sandbox-env.sh"
SELF="$ROOT/scripts/$(basename "$0")"
BUNDLE_ID=org.kernwell.Kernwell
SESSION_PATH=/org/kernwell/Kernwell/Session
EMAIL=ada@example.org

usage() { sed -n '2,/^set -/p' "$0" | sed -e '/^set -/d' -e 's/^# \{0,1\}//'; }

# ---------------------------------------------------------------------------
# Outside the sandbox: build, lay out the sandbox, re-run this script in it.
# ---------------------------------------------------------------------------
outside() {
    local headless=no keep=no timeout=30 build=""
    while [ $# -gt 0 ]; do
        case "$1" in
            --headless) headless=yes ;;
            --keep) keep=yes ;;
            --timeout)
                [ $# -ge 2 ] && [[ "$2" =~ ^[1-9][0-9]*$ ]] || { echo "demo.sh: --timeout needs a number of seconds" >&2; exit 2; }
                timeout="$2"; shift ;;
            --build-dir)
                [ $# -ge 2 ] || { echo "demo.sh: --build-dir needs a folder" >&2; exit 2; }
                build="$(cd "$2" && pwd)"; shift ;;
            -h|--help) usage; exit 0 ;;
            *) echo "demo.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
        esac
        shift
    done
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        headless=yes
    fi

    if [ -z "$build" ]; then
        echo "== Building (release)"
        "$ROOT/scripts/build.sh" release
        build="$ROOT/build/release"
    fi
    for program in bin/kernwell localservice/kernwell-localservice share/kernwell/Info.plist; do
        if [ ! -e "$build/$program" ]; then
            echo "demo.sh: $build/$program is missing: is that a complete build?" >&2
            exit 1
        fi
    done
    local missing=""
    for tool in dbus-run-session dbus-send dbus-monitor gnome-keyring-daemon curl fc-list xvfb-run import; do
        command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
    done
    if [ -n "$missing" ]; then
        echo "demo.sh: missing tools:$missing (scripts/install-deps.sh installs them)" >&2
        exit 1
    fi

    local sandbox
    sandbox="$(mktemp -d /tmp/kernwell-demo-XXXXXX)"
    if [ "$keep" = yes ]; then
        trap 'echo "Sandbox kept: '"$sandbox"'"' EXIT
    else
        trap 'rm -rf "'"$sandbox"'"' EXIT
    fi
    mkdir -p "$sandbox/logs" "$sandbox/catalog" "$sandbox/service"
    # A small catalog keeps the library page short: the DejaVu families.
    cp /usr/share/fonts/truetype/dejavu/DejaVu*.ttf "$sandbox/catalog/"
    local shots="$build/demo-screenshots"
    rm -rf "$shots"
    mkdir -p "$shots"

    if [ "$headless" = no ]; then
        # The display's cookie stays where it was when HOME moves into the sandbox.
        export XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}"
    fi
    enter_sandbox "$sandbox"
    export DEMO_SANDBOX="$sandbox" DEMO_BUILD="$build" DEMO_SHOTS="$shots" DEMO_TIMEOUT="$timeout"
    unset SESSION_MANAGER
    local status=0
    if [ "$headless" = yes ]; then
        unset WAYLAND_DISPLAY
        export DEMO_SCREENSHOTS=yes
        # The X server's and the bus daemon's chatter goes to a log; the journey gets stderr back as fd 3.
        xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- "$BASH" "$SELF" --inside \
            3>&2 2>"$sandbox/logs/session.log" || status=$?
    else
        # On the user's display only the kernwell window is shared; the screen is not recorded.
        export DEMO_SCREENSHOTS=no
        dbus-run-session -- "$BASH" "$SELF" --inside 3>&2 2>"$sandbox/logs/session.log" || status=$?
    fi
    if [ "$status" -ne 0 ]; then
        echo "Last lines of the logs (--keep keeps the whole sandbox):"
        tail -n 20 "$sandbox"/logs/session.log "$sandbox"/logs/service.log "$sandbox"/logs/kernwell*.log 2>/dev/null || true
    fi
    exit "$status"
}

# ---------------------------------------------------------------------------
# Inside the sandbox (private D-Bus session, maybe a virtual X server).
# ---------------------------------------------------------------------------
SERVICE_PID="" KERNWELL_PID="" MONITOR_PID="" KEYRING_PID=""
STEP=0
SEEN_NOTIFICATIONS=0

stop_started() {
    local pid
    for pid in "$KERNWELL_PID" "$SERVICE_PID" "$MONITOR_PID" "$KEYRING_PID"; do
        if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
}

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# wait_for "what" command...: retries the command until it succeeds or the step's time is up.
wait_for() {
    local what="$1"; shift
    local deadline=$((SECONDS + DEMO_TIMEOUT))
    until "$@" >/dev/null 2>&1; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            fail "$what did not happen within $DEMO_TIMEOUT s"
        fi
        if [ -n "$KERNWELL_PID" ] && ! kill -0 "$KERNWELL_PID" 2>/dev/null; then
            fail "kernwell ended while waiting until $what"
        fi
        sleep 0.2
    done
}

bus_has_owner() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

# One property of the running kernwell's session view, or nothing.
session_property() {
    dbus-send --session --print-reply --dest="$BUNDLE_ID" "$SESSION_PATH" org.freedesktop.DBus.Properties.Get \
        "string:$BUNDLE_ID.Session" "string:$1" 2>/dev/null | sed -n -e 's/^ *variant *string "\(.*\)"$/\1/p' \
        -e 's/^ *variant *\(boolean\|u\{0,1\}int[0-9]*\) \(.*\)$/\2/p' || true
}

tray_state_is() { [ "$(session_property ConnectionState)" = "$1" ]; }

# "family style<TAB>file" of every font fontconfig finds under the sandbox's data folder.
synced_fonts() {
    fc-list --format '%{family[0]} %{style[0]}\t%{file}\n' | grep -F "$XDG_DATA_HOME/" | sort || true
}

# Style ids are made of [a-z0-9-]; the file may carry an extension.
font_listed() { synced_fonts | grep -qE "/$1(\.[A-Za-z]+)?$"; }
font_not_listed() { ! font_listed "$1"; }
all_listed() {
    local style
    for style in "$@"; do
        font_listed "$style" || return 1
    done
}

# "title: body" (or the one text when both are the same) of each Notify call
# seen on the bus, in order.
notifications() {
    awk '
        /member=Notify$/ { n = 0; collecting = 1; next }
        collecting && /^ *string "/ {
            n++
            line = $0; sub(/^ *string "/, "", line); sub(/"$/, "", line)
            if (n == 3) summary = line
            if (n == 4) { print (summary == line ? line : summary ": " line); collecting = 0 }
        }
        /^(method call|signal|method return|error) / { if (n < 4) collecting = 0 }
    ' "$DEMO_SANDBOX/logs/notifications.log"
}

notification_containing() { notifications | grep -qF "$1"; }

screenshot() {
    if [ "$DEMO_SCREENSHOTS" = yes ]; then
        import -window root "$DEMO_SHOTS/$1.png" 2>/dev/null || echo "  (screenshot $1 could not be taken)"
    fi
}

# The X window whose role is $1: the Kernwell window is told from the
# sign-in window of the same title that way.
window_with_role() {
    local id
    for id in $(xwininfo -root -children 2>/dev/null | sed -n 's/^ *\(0x[0-9a-f]*\) ".*/\1/p'); do
        if xprop -id "$id" WM_WINDOW_ROLE 2>/dev/null | grep -q "\"$1\""; then
            echo "$id"
            return 0
        fi
    done
    return 1
}

kernwell_window() { window_with_role MenuBarWindow; }
fonts_window() { window_with_role FontsWindow; }

# Opens the Kernwell window the way a user does without a tray, by launching
# kernwell again, and photographs it alone. Only once signed in: before, a
# launch opens the sign-in window, which the screen shot already shows.
screenshot_kernwell_window() {
    if [ "$DEMO_SCREENSHOTS" != yes ] || [ "$(session_property SignedIn)" != true ]; then
        return 0
    fi
    "$DEMO_BUILD/bin/kernwell" >>"$DEMO_SANDBOX/logs/kernwell-second.log" 2>&1 || {
        echo "  (the Kernwell window could not be opened)"
        return 0
    }
    wait_for "the Kernwell window to open" kernwell_window
    sleep 0.5 # let it paint
    import -window "$(kernwell_window)" "$DEMO_SHOTS/$1.png" 2>/dev/null \
        || echo "  (screenshot $1 could not be taken)"
}

# Opens "Fonts on this computer" through the application's D-Bus action, as
# the account panel's row does, prints what the command line lists, and
# photographs the window.
show_fonts_window() {
    echo "  kernwell --list:"
    "$DEMO_BUILD/bin/kernwell" --list 2>&1 | sed 's/^/    /'
    if [ "$DEMO_SCREENSHOTS" != yes ]; then
        return 0
    fi
    # dbus-send cannot send the action's empty array of variants; gdbus can.
    gdbus call --session --dest "$BUNDLE_ID" --object-path "/${BUNDLE_ID//.//}" \
        --method org.freedesktop.Application.ActivateAction show-fonts '[]' '{}' >/dev/null 2>&1 || {
        echo "  (the fonts window could not be opened)"
        return 0
    }
    wait_for "the fonts window to open" fonts_window
    sleep 0.5 # let it paint
    import -window "$(fonts_window)" "$DEMO_SHOTS/$1.png" 2>/dev/null || echo "  (screenshot $1 could not be taken)"
}

report() {
    STEP=$((STEP + 1))
    local state username
    state="$(session_property ConnectionState)"
    username="$(session_property Username)"
    echo
    echo "== Step $STEP: $1"
    echo "  Tray state: ${state:-unknown (kernwell does not export its session)}${username:+ ($username)}"
    local fonts
    fonts="$(synced_fonts)"
    if [ -n "$fonts" ]; then
        echo "  Synced fonts (fc-list):"
        printf '%s\n' "$fonts" | while IFS="$(printf '\t')" read -r name file; do
            echo "    $name  ${file#"$XDG_DATA_HOME"/}"
        done
    else
        echo "  Synced fonts (fc-list): none"
    fi
    local all count
    all="$(notifications)"
    count=0
    [ -z "$all" ] || count="$(printf '%s\n' "$all" | wc -l)"
    if [ "$count" -gt "$SEEN_NOTIFICATIONS" ]; then
        echo "  Notifications posted:"
        printf '%s\n' "$all" | tail -n +"$((SEEN_NOTIFICATIONS + 1))" | sed 's/^/    /'
    else
        echo "  Notifications posted: none new"
    fi
    SEEN_NOTIFICATIONS="$count"
    screenshot "$(printf '%02d' "$STEP")-$2"
    screenshot_kernwell_window "$(printf '%02d' "$STEP")-$2-kernwell-window"
}

adding_in_progress() {
    local added toAdd
    added="$(session_property FontsAdded)"
    toAdd="$(session_property FontsToAdd)"
    [ "${toAdd:-0}" -gt 1 ] && [ "${added:-0}" -ge 1 ] && [ "$added" -lt "$toAdd" ]
}

# Adds or removes a style on the library page as the signed-in browser would;
# prints the page's note.
change_library() {
    local action="$1" style="$2" page note
    page="$(curl -sS --fail -b "$DEMO_SANDBOX/cookies" -c "$DEMO_SANDBOX/cookies" -L \
        --data-urlencode "style=$style" --data-urlencode "action=$action" "$SERVICE_URL/library")" \
        || fail "the library page refused to $action $style"
    note="$(printf '%s' "$page" | sed -n 's/.*<p class="note" id="note">\([^<]*\)<\/p>.*/\1/p')"
    echo "  Library page: ${note:-no note}"
}

inside() {
    exec 2>&3 3>&-
    trap stop_started EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    local logs="$DEMO_SANDBOX/logs"
    echo "== Sandbox: $DEMO_SANDBOX (HOME, XDG folders, private D-Bus session${DISPLAY:+, display $DISPLAY})"

    # A throwaway login keyring: an empty line creates it unlocked with an empty password.
    printf '\n' | gnome-keyring-daemon --foreground --unlock --components=secrets >"$logs/keyring.log" 2>&1 &
    KEYRING_PID=$!
    wait_for "the throwaway keyring to start" bus_has_owner org.freedesktop.secrets

    # No notification server runs in the sandbox: the monitor sees kernwell's calls all the same.
    dbus-monitor --session --monitor "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
        >"$logs/notifications.log" 2>"$logs/dbus-monitor.log" &
    MONITOR_PID=$!

    # --control: the journey reads the service's state to know when kernwell is connected.
    "$DEMO_BUILD/localservice/kernwell-localservice" --control --port 0 --fonts-dir "$DEMO_SANDBOX/catalog" \
        --data-dir "$DEMO_SANDBOX/service" >"$logs/service.out" 2>"$logs/service.log" &
    SERVICE_PID=$!
    wait_for "the local font service to start" grep -q '^http://' "$logs/service.out"
    SERVICE_URL="$(head -n 1 "$logs/service.out")"
    local hostport="${SERVICE_URL#http://}"
    echo "== Local font service: $SERVICE_URL"

    # The bundle's configuration, pointed at this service instead of the default port.
    sed "s|127\.0\.0\.1:47800|$hostport|g" "$DEMO_BUILD/share/kernwell/Info.plist" >"$DEMO_SANDBOX/Info.plist"
    export KERNWELL_INFO_PLIST="$DEMO_SANDBOX/Info.plist"

    "$DEMO_BUILD/bin/kernwell" >"$logs/kernwell.out" 2>"$logs/kernwell.log" &
    KERNWELL_PID=$!
    wait_for "kernwell to start and own $BUNDLE_ID on the bus" bus_has_owner "$BUNDLE_ID"
    sleep 1 # let the window paint before the first screenshot
    report "kernwell started, nobody signed in" started

    # Sign in the way the browser does: the page answers with the kernwell:// callback.
    local page callback
    page="$(curl -sS --fail -c "$DEMO_SANDBOX/cookies" --data-urlencode "email=$EMAIL" "$SERVICE_URL/signin")" \
        || fail "the sign-in page refused $EMAIL"
    callback="$(printf '%s' "$page" | sed -n 's/.*id="callback" href="\([^"]*\)".*/\1/p' | sed 's/&amp;/\&/g')"
    [ -n "$callback" ] || fail "the sign-in page gave no kernwell:// callback"
    echo
    echo "== Signed in on $SERVICE_URL/signin as $EMAIL; handing the callback to kernwell:"
    echo "   kernwell '${callback%%token=*}token=…&email=${callback##*email=}'"
    "$DEMO_BUILD/bin/kernwell" "$callback" >>"$logs/kernwell-second.log" 2>&1 \
        || fail "the second kernwell could not hand the callback over"
    wait_for "the sync connection to open" sh -c "curl -s -H 'Content-Type: application/json' '$SERVICE_URL/_control/state?email=$EMAIL' | grep -q '\"openSockets\": *[1-9]'"
    if [ -n "$(session_property ConnectionState)" ]; then
        wait_for "the tray to show SignedIn" tray_state_is SignedIn
    fi
    report "signed in" signed-in

    local styles
    styles="$(curl -sS -b "$DEMO_SANDBOX/cookies" "$SERVICE_URL/library" | grep -o 'data-style-id="[^"]*"' | sed 's/data-style-id="\(.*\)"/\1/' || true)"
    local first second
    first="$(printf '%s\n' "$styles" | sed -n 1p)"
    second="$(printf '%s\n' "$styles" | sed -n 2p)"
    [ -n "$first" ] && [ -n "$second" ] || fail "the library page lists fewer than two styles"

    echo
    echo "== Adding $first on the library page"
    change_library add "$first"
    wait_for "$first to show in fc-list" font_listed "$first"
    wait_for "the notification \"Added …\"" notification_containing "Added"
    report "one style added" added-one

    echo
    echo "== Adding $second on the library page"
    change_library add "$second"
    wait_for "$second to show in fc-list" font_listed "$second"
    report "two styles added" added-two

    # Many styles in one change, as when a whole family is picked; the service
    # serves each file a little late here, so that the progress can be seen.
    local rest
    rest="$(printf '%s\n' "$styles" | sed -n '3,$p')"
    if [ -n "$rest" ]; then
        local ids count
        ids="$(printf '%s\n' "$rest" | sed 's/.*/"&"/' | paste -sd, -)"
        count="$(printf '%s\n' "$rest" | wc -l)"
        echo
        echo "== Adding $count styles at once (every download held back 400 ms)"
        curl -sS --fail -H 'Content-Type: application/json' \
            -d "{\"fault\": \"delay\", \"count\": $count, \"delayMs\": 400}" "$SERVICE_URL/_control/downloads" >/dev/null \
            || fail "the service refused to slow its downloads"
        curl -sS --fail -H 'Content-Type: application/json' -d "{\"email\": \"$EMAIL\", \"append\": [$ids]}" \
            "$SERVICE_URL/_control/styles" >/dev/null || fail "the service refused to add $count styles"
        if [ -n "$(session_property FontsToAdd)" ]; then
            wait_for "the progress to show" adding_in_progress
            echo "  Progress: $(session_property FontsAdded) of $(session_property FontsToAdd) fonts in place"
            screenshot_kernwell_window "$(printf '%02d' "$((STEP + 1))")-adding-many-in-progress"
        fi
        # shellcheck disable=SC2086
        wait_for "the $count styles to show in fc-list" all_listed $rest
        report "$count more styles added at once" added-many
        show_fonts_window "$(printf '%02d' "$STEP")-added-many-fonts-window"
    fi

    echo
    echo "== Removing $first on the library page"
    change_library remove "$first"
    wait_for "$first to leave fc-list" font_not_listed "$first"
    wait_for "the notification \"Removed …\"" notification_containing "Removed"
    report "one style removed" removed-one

    kill "$KERNWELL_PID"
    wait "$KERNWELL_PID" 2>/dev/null || true
    KERNWELL_PID=""
    STEP=$((STEP + 1))
    echo
    echo "== Step $STEP: kernwell quit"
    if [ -n "$(synced_fonts)" ]; then
        echo "  Fonts still registered:"; synced_fonts | sed 's/^/    /'
    else
        echo "  Synced fonts (fc-list): none (unregistered at quit)"
    fi
    echo
    if [ "$DEMO_SCREENSHOTS" = yes ]; then
        echo "Screenshots: $DEMO_SHOTS"
        ls -1 "$DEMO_SHOTS" | sed 's/^/  /'
    fi
    echo "The journey is complete."
}

if [ "${1:-}" = "--inside" ]; then
    inside
else
    outside "$@"
fi
