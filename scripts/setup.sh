#!/usr/bin/env bash
# Installs the Debian packages the tool, its simulator and its tests need.
#
#   setup.sh            everything: building, packaging and the tests
#   setup.sh package    what scripts/package.sh needs: building and packaging
#   setup.sh windows    what scripts/windows.sh needs: building (the simulated
#                       module the wine tests talk to), fetching Debian's
#                       sources, cross-building for Windows, wine
set -euo pipefail

# The technician's manual is drawn in DejaVu Sans, which has Cyrillic.
# libmodbus is for the simulated module (a slave built on it) and for the
# tests, which hold the communication library against it; the tool and its
# library do not use it.
# The history keeps a local SQLite file or writes to a PostgreSQL server
# through Qt's SQL drivers.
build=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools libxcb1-dev
  libqt6sql6-sqlite libqt6sql6-psql
  libmodbus-dev
  fonts-dejavu-core
)
# CPack's Debian generator finds the dependencies with dpkg-shlibdeps, which
# tells the files apart with `file`.
package=(dpkg-dev file)
# The history's tests start a PostgreSQL server of their own (initdb in a
# temporary folder), from Debian's package.
tests=(
  libgtest-dev ccache postgresql
  mbpoll
  xvfb xauth poppler-utils
  desktop-file-utils
)

# Qt needs mingw-w64's posix thread model; Qt's SQLite driver takes SQLite's amalgamation, which tcl makes
# from Debian's source; wine runs the tests and needs Windows' dialog font
# (fonts-wine); wixl and msitools make and check the MSI, osslsigncode signs.
windows=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix qt6-translations-l10n
  wine64 wine ninja-build
  xz-utils zip unzip tcl libsqlite3-dev
  libgtest-dev googletest
  xvfb xauth fonts-dejavu-core fonts-wine
  wixl msitools osslsigncode openssl
)

packages=("${build[@]}" "${package[@]}")
case "${1:-}" in
package) ;;
windows) packages+=("${windows[@]}") ;;
*) packages+=("${tests[@]}") ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
