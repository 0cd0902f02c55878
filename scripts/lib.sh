# Shared by the scripts: installing the toolchain and building. Sourced, not run.

LUMIVANE_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64
                   googletest)

# Installs the Debian packages that are missing; a second run installs nothing.
lumivane_install_tools() {
    local missing=()
    local package
    for package in "${LUMIVANE_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# Configures once and builds every target into build/.
lumivane_build() {
    if [ ! -f build/build.ninja ]; then
        cmake --preset mingw >/dev/null
    fi
    cmake --build --preset mingw
}
