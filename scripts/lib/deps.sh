# Installs the Debian packages the builds and tests need, only those that are missing.
vx_install_deps() {
    # The GUI tests also need Wine's own fonts, xwd (x11-apps) and ImageMagick (screenshots).
    local pkgs=(cmake ninja-build g++ g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth
                fonts-wine x11-apps imagemagick libgtest-dev libgmock-dev libusb-1.0-0-dev
                pkg-config clang libclang-rt-14-dev python3 procps umockdev libumockdev-dev
                libcap2-bin util-linux)
    local missing=()
    local p
    for p in "${pkgs[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update -qq >/dev/null
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null || { echo "apt-get install failed" >&2; return 1; }
    fi
}
