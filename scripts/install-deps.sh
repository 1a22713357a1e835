#!/usr/bin/env bash
# Installs the Debian packages Tabulon needs. Idempotent.
#   install-deps.sh          what building and running the program needs
#   install-deps.sh --test   that, and what the tests need besides
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
pkgs=(build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools libqt6printsupport6 libgl-dev
      libsqlite3-dev sqlite3 mdbtools-dev libpq-dev libssl-dev fonts-dejavu-core)
if [ "${1:-}" = "--test" ]; then
    # GoogleTest; mdb-export and the JavaScript reader (node/npm) that the Jet writer's tests compare
    # against; a virtual display and xdotool (the keyboard-only test); PDF tools; appstreamcli and
    # shared-mime-info (the install test).
    pkgs+=(libgtest-dev googletest mdbtools xvfb xauth xdotool poppler-utils appstream shared-mime-info)
    # A NodeSource node already brings npm, so only a machine without them gets Debian's.
    if ! command -v npm >/dev/null 2>&1; then pkgs+=(nodejs npm); fi
fi
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -qq
    # env after sudo: sudo drops DEBIAN_FRONTEND from the environment
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
