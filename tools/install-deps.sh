#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Kelvarix needs.
# Idempotent: packages already present are left as they are.
set -euo pipefail

packages=(
    build-essential cmake ninja-build
    qtbase5-dev libqt5xmlpatterns5-dev libqt5sql5-psql libqt5sql5-sqlite
    sqlite3 postgresql unzip apache2-bin
    xvfb xauth xfce4-panel trayer x11-apps imagemagick
    python3-websocket chromium-headless-shell
    # The agent's probe library: gzip for rotated package logs, PCI vendor names.
    zlib1g-dev pci.ids
    # The web manager: Rails and the gems it loads, all from Debian (the "rails" package
    # itself also pulls in webpacker's Node.js tool chain, which it does not need).
    ruby-rails ruby-pg ruby-sqlite3 puma ruby-bcrypt libjs-chart.js
    # and its browser tests
    ruby-capybara ruby-selenium-webdriver ruby-zip chromium chromium-driver
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
