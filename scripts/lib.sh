# Shared by the scripts: installing the toolchain and building. Sourced, not run.

LUMIVANE_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64
                   googletest procps python3 wixl msitools osslsigncode openssl)

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
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
        "${missing[@]}" >/dev/null
}

# Configures once and builds every target into build/.
lumivane_build() {
    if [ ! -f build/build.ninja ]; then
        cmake --preset mingw >/dev/null
    fi
    cmake --build --preset mingw
}

# Writes <build>/<name>-run.sh: like wine-run.sh, for the Wine prefix given.
lumivane_prefix_runner() {
    local prefix=$1 runner=$2 loader=$3
    cat >"$runner" <<TEXT
#!/bin/sh
export WINEPREFIX="$prefix" WINEDEBUG="\${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
exec "$loader" "\$@"
TEXT
    chmod +x "$runner"
}

# Turns a prepared prefix into the simulated notebook's: the BIOS driver, and the Task
# Scheduler double in place of the platform's (Wine's lacks logon triggers).
lumivane_prepare_doubles() {
    local prefix=$1 loader=$2 runner=$3
    bash tools/simbios/install-simbios.sh "$prefix" build/tools/simbios/zvkacpisim.sys "$loader" \
        >/dev/null
    sh tools/taskdouble/register-double.sh "$runner" "$(pwd)/build/tools/taskdouble/taskdouble.dll"
}
