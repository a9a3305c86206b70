# Shared by scripts/run, scripts/test and the other scripts: package installation and the build.
# Source it; it expects ROOT to be the repository root.

# Installs the packages of scripts/packages.txt that are missing. As root it runs apt-get
# non-interactively; otherwise it prints the exact command and stops.
install_packages() {
    local wanted missing=()
    wanted=$(grep -v '^\s*#' "$ROOT/scripts/packages.txt" | grep -v '^\s*$')
    for p in $wanted; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local cmd="apt-get install -y --no-install-recommends ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages. Run as root:"
        echo "  apt-get update && DEBIAN_FRONTEND=noninteractive $cmd"
        return 1
    fi
    echo "Installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get update -q || return 1
    DEBIAN_FRONTEND=noninteractive $cmd -q || return 1
}

# configure_and_build BUILD_DIR [extra cmake args...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null || return 1
    cmake --build "$dir" -j"$(nproc)" || return 1
}

# Lists the C++ files whose layout clang-format (with .clang-format) would change; fails if any.
check_format() {
    local f unformatted=()
    while IFS= read -r f; do
        clang-format --dry-run --Werror "$ROOT/$f" >/dev/null 2>&1 || unformatted+=("$f")
    done < <(cd "$ROOT" && find app phone store ui tests bench -name '*.cpp' -o -name '*.h' | sort)
    [ ${#unformatted[@]} -eq 0 ] && return 0
    echo "clang-format would change these files (clang-format -i FILE lays them out):"
    printf '    %s\n' "${unformatted[@]}"
    return 1
}
