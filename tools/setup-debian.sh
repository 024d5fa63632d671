#!/usr/bin/env bash
# Installs every Debian 12 package kestrova-viewer needs to build, run and test.
# Idempotent: a second run only confirms what is there. Run as root.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build ccache pkg-config git clang libclang-rt-14-dev
    # Qt 5.15 and its QML modules
    qtbase5-dev qtdeclarative5-dev qtquickcontrols2-5-dev qtwebengine5-dev qtmultimedia5-dev libqt5svg5-dev
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls2 qml-module-qtquick-layouts
    qml-module-qtwebengine qml-module-qtmultimedia qml-module-qttest qml-module-qtgraphicaleffects
    libqt5multimedia5-plugins qttools5-dev-tools
    # GStreamer
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-gl gstreamer1.0-qt5
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly
    gstreamer1.0-libav gstreamer1.0-tools
    # libraries
    libgoogle-glog-dev libgflags-dev libzstd-dev zstd libsystemd-dev libbotan-2-dev libp11-kit-dev
    libmicrohttpd-dev libkf5networkmanagerqt-dev libjs-underscore
    # test and benchmark tools
    xvfb xauth libgl1-mesa-dri x11-utils dbus dbus-daemon libglib2.0-bin python3-dbusmock python3-zstandard
    softhsm2 opencryptoki opensc openssl curl wrk util-linux
    googletest libgtest-dev libgmock-dev libbenchmark-dev imagemagick
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "setup: installing ${#missing[@]} packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "setup: all ${#packages[@]} packages present"
fi
