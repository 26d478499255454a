# Shared by the run and test scripts: installs the Debian packages that are missing, and builds.
# shellcheck shell=bash

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

build_packages=(cmake make g++ pkg-config qt6-base-dev qt6-svg-dev qt6-charts-dev qt6-qpa-plugins fonts-dejavu-core
    libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libspng-dev zlib1g-dev librsvg2-dev)
# Then what an OpenDSS engine for the study's test links to; chromium and python3-websocket drive
# the shared page in a real browser; Slurm and munge run the sweep's test on a Slurm of its own.
test_packages=(libgtest-dev libbenchmark-dev clang clang-tidy libclang-rt-14-dev xvfb xdotool x11-apps
    libklu1 libmetis5 libamd2 libcolamd2 libbtf1 chromium python3-websocket slurmctld slurmd slurm-client munge)

# Installs the named Debian packages that are not installed yet, through sudo when not root.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    echo "Installing ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

# build FOLDER [cmake options...]: configures once, then builds incrementally, saying what it
# builds and showing the compiler's progress.
build() {
    local folder=$1
    shift
    local name=${folder#"$repo_root"/}
    if [ ! -f "$folder/CMakeCache.txt" ]; then
        echo "Configuring $name (a first build compiles everything: a few minutes on two cores)"
    fi
    cmake -S "$repo_root" -B "$folder" "$@" >/dev/null
    echo "Building $name"
    cmake --build "$folder" -j "$(nproc)"
}
