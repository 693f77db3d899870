# shellcheck shell=bash
# Installs the Debian packages the builds and tests need, only those that are missing.

# The Linux build (its unit tests included), enough for scripts/demo.
VX_DEPS_LINUX=(cmake ninja-build g++ pkg-config libusb-1.0-0-dev libgtest-dev libgmock-dev)
# The Windows build and running it under Wine (scripts/demo --wine).
VX_DEPS_WINE=(g++-mingw-w64-x86-64-posix wine wine64)

vx_install_deps() {  # [package...]: these, or everything scripts/test needs
    # The GUI tests also need Wine's own fonts, xwd (x11-apps) and ImageMagick (screenshots).
    local pkgs=("$@")
    [ ${#pkgs[@]} -gt 0 ] ||
        pkgs=("${VX_DEPS_LINUX[@]}" "${VX_DEPS_WINE[@]}" xvfb xauth fonts-wine x11-apps
              imagemagick clang libclang-rt-14-dev python3 procps umockdev libumockdev-dev
              libcap2-bin util-linux)
    local missing=()
    local p
    for p in "${pkgs[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        local sudo=""
        if [ "$(id -u)" -ne 0 ]; then
            command -v sudo >/dev/null || {
                echo "missing packages: ${missing[*]}; run as root or with sudo" >&2
                return 1
            }
            sudo=sudo
        fi
        echo "== installing: ${missing[*]}${sudo:+ (with sudo)}"
        $sudo apt-get update -qq >/dev/null
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null || { echo "apt-get install failed" >&2; return 1; }
    fi
}
