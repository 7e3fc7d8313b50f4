#!/usr/bin/env bash
# Installs the Debian packages a task needs, when they are missing.
#   tools/deps.sh build     compiler, CMake, Ninja, the compiler cache, Qt 6 (with its SVG
#                           module), and the development files of SQLite and of PostgreSQL's
#                           client library (libpq, with pg_config)
#   tools/deps.sh postgres  PostgreSQL's server, which the tests alone use: each test program
#                           starts one of its own (tests/support/PostgresServer.h); the
#                           package is kept from making and starting a cluster of the system's
#   tools/deps.sh fonts     free fonts for the design's Tahoma (Wine's), Arial (Liberation Sans)
#                           and Lucida Sans Unicode (Open Sans), and ones that draw the control
#                           pictures (U+2400...) and the Japanese name of a file type in the
#                           save dialog
#   tools/deps.sh run       what the program needs on a desktop (Qt's platform plugins, fonts)
#   tools/deps.sh check     what CI's extra checks need (clang-format)
#   tools/deps.sh fuzz      clang with libFuzzer and its sanitizer runtimes
#   tools/deps.sh memcheck  valgrind
#   tools/deps.sh coverage  gcovr, for tools/coverage.sh
#   tools/deps.sh package   what tools/package.sh needs (lintian, validators, debootstrap, a
#                           virtual X server for the installed program)
#   tools/deps.sh bench     what the line-rate benchmark needs (a virtual X server, fonts)
#   tools/deps.sh cost      what bench/journal_cost.sh needs (Python for the timing, strace)
#   tools/deps.sh shots     what tools/screenshots.sh needs (a virtual X server, xdotool)
#   tools/deps.sh a11y      what tools/a11y-check.sh needs (the accessibility bus, its Python
#                           client, D-Bus, a virtual X server)
# Several sets may be named at once. As root it installs with apt-get; otherwise it prints
# the one command to run and fails.
set -euo pipefail

# A virtual X server, its cookie and the probe that says it serves (tools/common.sh's
# start_display).
display=(xvfb xauth x11-utils)
fonts=(fonts-wine fonts-open-sans fonts-dejavu-core fonts-dejavu-extra fonts-liberation2
    fonts-freefont-ttf fonts-vlgothic)
packages=()
for set in "$@"; do
    case "$set" in
    build) packages+=(g++ make cmake ninja-build ccache qt6-base-dev qt6-serialport-dev qt6-svg-dev libsqlite3-dev libpq-dev) ;;
    postgres) packages+=(postgresql-15) ;;
    fonts) packages+=("${fonts[@]}") ;;
    run) packages+=(qt6-qpa-plugins "${fonts[@]}") ;;
    check) packages+=(clang-format) ;;
    bench) packages+=("${display[@]}" qt6-qpa-plugins "${fonts[@]}") ;;
    cost) packages+=(python3 strace) ;;
    shots) packages+=("${display[@]}" xdotool imagemagick) ;;
    a11y) packages+=(at-spi2-core python3-pyatspi dbus "${display[@]}") ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    memcheck) packages+=(valgrind) ;;
    coverage) packages+=(gcovr) ;;
    package) packages+=(dpkg-dev lintian desktop-file-utils appstream debootstrap "${display[@]}" x11-apps) ;;
    *) echo "deps.sh: unknown package set '$set' (build, postgres, fonts, run, check, fuzz, memcheck, coverage, package, bench, cost, shots, a11y)" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

# Debian's server package makes a cluster of the system's and starts it, unless the settings
# for new clusters say otherwise before it is installed. The line is appended, and the last
# one holds. Where there was no such file, the package finds this one in its place and,
# installed without questions, keeps it as the local version.
no_cluster=""
if [[ " ${missing[*]} " == *" postgresql-15 "* ]]; then
    no_cluster=/etc/postgresql-common/createcluster.conf
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "These Debian packages are missing. Install them with:" >&2
    if [ -n "$no_cluster" ]; then
        echo "  sudo sh -c 'mkdir -p ${no_cluster%/*} && echo \"create_main_cluster = false\" >>$no_cluster && apt-get install -y ${missing[*]}'" >&2
    else
        echo "  sudo apt-get install -y ${missing[*]}" >&2
    fi
    exit 1
fi

if [ -n "$no_cluster" ]; then
    mkdir -p "${no_cluster%/*}"
    grep -Eqs '^[[:space:]]*create_main_cluster[[:space:]]*=[[:space:]]*false[[:space:]]*$' "$no_cluster" ||
        echo "create_main_cluster = false" >>"$no_cluster"
fi

echo "Installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
