# Wine helpers for scripts/test and the integration scripts. Source this file.
#
#   vx_wine_prefix [DIR]   create a fresh 64-bit prefix in DIR (default: a new temp dir),
#                          export WINEPREFIX, WINEARCH and WINEDEBUG; returns non-zero on failure
#   vx_wine_prefix_drop    stop that prefix's wineserver and delete it (only a prefix that
#                          vx_wine_prefix made)
#   vx_wine_prefix_copy DIR
#                          a copy of $WINEPREFIX in DIR, with a server and services of its own
#                          (its server must be down); the dlls are shared as hard links
#   vx_wine_ensure         reuse an initialised $WINEPREFIX, or make a fresh one
#   vx_wine_run SECS EXE [ARGS...]
#                          run EXE under wine with a time-out; returns the program's exit code
#                          (124 on time-out, as timeout(1) does)

vx_wine_prefix() {
    local dir=${1:-}
    if [ -z "$dir" ]; then
        dir=$(mktemp -d "${TMPDIR:-/tmp}/vxwine.XXXXXX") || return 1
    else
        mkdir -p "$dir" || return 1
    fi
    export WINEPREFIX=$dir
    export WINEARCH=win64
    export WINEDEBUG=${WINEDEBUG:--all}
    VX_WINE_OWNED_PREFIX=$dir
    # No Mono or Gecko installer prompts, no desktop menu entries; no display needed.
    # A prefix is finished only when its wineserver has gone.
    if ! WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" DISPLAY= \
        timeout 180 wineboot -i >/dev/null 2>&1; then
        echo "wineboot failed for $dir" >&2
        return 1
    fi
    timeout 60 wineserver -w >/dev/null 2>&1
    [ -f "$dir/system.reg" ] || { echo "no system.reg in $dir" >&2; return 1; }
}

vx_wine_prefix_drop() {
    local dir=${VX_WINE_OWNED_PREFIX:-}
    [ -n "$dir" ] && [ -d "$dir" ] || return 0
    WINEPREFIX=$dir wineserver -k >/dev/null 2>&1
    WINEPREFIX=$dir timeout 30 wineserver -w >/dev/null 2>&1
    rm -rf "$dir"
    VX_WINE_OWNED_PREFIX=
}

vx_wine_prefix_copy() {
    local dir=$1
    cp -al "$WINEPREFIX" "$dir" || return 1
    # Only the dlls stay shared: Wine rewrites some files in place (win.ini, say).
    find "$dir" -path "$dir/drive_c/windows/system32" -prune -o -type f -links +1 -print0 |
        while IFS= read -r -d '' f; do cp -p "$f" "$f.copy" && mv -f "$f.copy" "$f"; done
}

vx_wine_ensure() {
    export WINEDEBUG=${WINEDEBUG:--all}
    if [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ]; then
        return 0
    fi
    vx_wine_prefix
}

vx_wine_run() {
    local secs=$1
    shift
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" timeout -k 5 "$secs" wine "$@"
}
