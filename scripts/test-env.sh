# Sourced by scripts/test and scripts/demo: a Wine prefix made for the test run (never
# the user's own), the test CA trusted in it, and an X display for message boxes.

quolva_free_display() {
    local n
    for n in $(seq 90 140); do
        if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then
            echo "$n"
            return 0
        fi
    done
    return 1
}

quolva_test_env_start() {
    local build="$1"
    export QUOLVA_BUILD_DIR="$build"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export QUOLVA_PKI_DIR="$build/pki"
    /usr/bin/python3 "$ROOT/tests/support/pki.py" "$QUOLVA_PKI_DIR" >/dev/null || return 1

    local template="$build/wine/template"
    if [ ! -f "$template/system.reg" ]; then
        echo "test-env: booting the template Wine prefix (once)"
        rm -rf "$template"
        mkdir -p "$(dirname "$template")"
        WINEPREFIX="$template" wineboot -i >/dev/null 2>&1
        WINEPREFIX="$template" wineserver -w
    fi
    export WINEPREFIX="$build/wine/unit"
    rm -rf "$WINEPREFIX"
    cp -a "$template" "$WINEPREFIX"
    wine "$build/helpers/install_ca.exe" "$(winepath -w "$QUOLVA_PKI_DIR/ca.der" 2>/dev/null)" || return 1

    local display
    display="$(quolva_free_display)" || return 1
    Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    QUOLVA_XVFB_PID=$!
    export DISPLAY=":$display"
    export QUOLVA_XVFB_PID
    sleep 1
}

quolva_test_env_stop() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
    [ -n "${QUOLVA_XVFB_PID:-}" ] && kill "$QUOLVA_XVFB_PID" >/dev/null 2>&1
    return 0
}
