# Sourced by the scripts that run kernwell away from the real user's files:
# enter_sandbox DIR points HOME and every XDG folder into DIR (creating them)
# and leaves the user's D-Bus session, so that nothing reaches the real
# user's fonts, keyring or configuration.
enter_sandbox() {
    mkdir -p "$1/home" "$1/runtime"
    chmod 700 "$1/runtime"
    export HOME="$1/home"
    export XDG_DATA_HOME="$1/home/.local/share"
    export XDG_CONFIG_HOME="$1/home/.config"
    export XDG_CACHE_HOME="$1/home/.cache"
    export XDG_STATE_HOME="$1/home/.local/state"
    export XDG_RUNTIME_DIR="$1/runtime"
    unset DBUS_SESSION_BUS_ADDRESS
}
