#!/usr/bin/env bash
# Builds the tool for 64-bit Windows on this Debian machine and tests it under
# wine.
#
#   bash scripts/windows.sh            packages, dependencies, build, tests, zip, MSI
#   bash scripts/windows.sh --deps     only the packages and the dependencies
#   bash scripts/windows.sh --no-tests build, zip and MSI, no tests
#
# qtbase for Windows is cross-built once per machine from Debian's own source
# package (the same version as the Linux build) into a cache outside the
# checkout: ${QS_WIN_CACHE:-~/.cache/qs730-win}. It is kept under a key made
# of its package version, its configure flags and this script's toolchain
# file, so a change of any of them builds anew. The communication library
# needs nothing beyond the system: it owns its port and frames.
# The first qtbase build takes about half an hour on two cores.
#
# Result: dist/QS730_View-win64.zip and dist/QS730_View-<version>-win64.msi,
# made of the same files.
#
# Code signing: with QS_SIGN_PFX naming a code signing certificate with its
# key (PKCS#12, .pfx) and QS_SIGN_PASSWORD its password, osslsigncode signs
# the program, the communication library and the MSI; QS_SIGN_TIMESTAMP may
# name a time-stamping server (http://...), which keeps the signatures valid
# after the certificate expires. Without QS_SIGN_PFX nothing is signed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

mode=all
case "${1:-}" in
--deps) mode=deps ;;
--no-tests) mode=notests ;;
"") ;;
*)
  echo "usage: $0 [--deps|--no-tests]" >&2
  exit 2
  ;;
esac

jobs=$(nproc 2>/dev/null || echo 2)
triple=x86_64-w64-mingw32
win="$root/scripts/windows"
toolchain="$win/mingw-w64-x86_64.cmake"
cache="${QS_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qs730-win}"
mkdir -p "$cache"

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# --- packages ---------------------------------------------------------------
bash scripts/setup.sh windows

# The host Qt and the cross-built Qt must be the same version: both come from
# the installed Linux package's source.
qt_version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev)
# Debian's qtbase source leaves out SQLite, which the Qt SQL driver for it
# compiles in: the amalgamation is made from Debian's own SQLite source.
sqlite_version=$(dpkg-query -W -f='${source:Version}' libsqlite3-dev)

# Debian's source packages, fetched once into the cache. A deb-src entry is
# added for the fetch and removed again afterwards.
fetch_source() { # <source package> <version>
  local pkg=$1 ver=$2 dsc
  dsc="$cache/src/${pkg}_${ver#*:}.dsc"
  [ -f "$dsc" ] && return 0
  mkdir -p "$cache/src"
  local list=/etc/apt/sources.list.d/qs730-deb-src.sources
  # shellcheck disable=SC2064
  trap "$sudo rm -f $list" EXIT
  local codename
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n' \
    http://deb.debian.org/debian "$codename $codename-updates" \
    http://deb.debian.org/debian-security "$codename-security" | $sudo tee "$list" >/dev/null
  $sudo apt-get update -q >/dev/null
  (cd "$cache/src" && apt-get source --download-only "$pkg=$ver")
  $sudo rm -f "$list"
  trap - EXIT
  $sudo apt-get update -q >/dev/null
  [ -f "$dsc" ] || {
    echo "Could not fetch the source of $pkg $ver" >&2
    exit 1
  }
}

key_of() { # <text...>: a short hash of the text and of the files named after --
  local text=() files=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    text+=("$1")
    shift
  done
  [ "${1:-}" = -- ] && shift
  files=("$@")
  { printf '%s\n' "${text[@]}"; cat "${files[@]}"; } | sha256sum | cut -c1-16
}

# --- qtbase -------------------------------------------------------------------
# Only what the tool uses: Core, Gui, Widgets, Test, the windows platform and
# the vista style, with Qt's bundled third-party libraries. DirectWrite is off
# with Direct2D: Qt 6.4 builds its DirectWrite font database into Qt Gui only
# when Direct2D is on, yet the platform plugin would still refer to it.
# Debian's repacked source lacks the wintab headers, so tablet events are off.
qt_flags=(
  -G Ninja
  -DCMAKE_BUILD_TYPE=Release
  -DQT_HOST_PATH=/usr
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_sql=ON -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=OFF
  -DFEATURE_sql_odbc=ON -DFEATURE_sql_psql=OFF -DFEATURE_sql_mysql=OFF
  -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF -DFEATURE_sql_db2=OFF
  -DFEATURE_network=OFF -DFEATURE_dbus=OFF
  -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF
  -DFEATURE_icu=OFF -DFEATURE_printsupport=OFF -DFEATURE_tabletevent=OFF
  -DFEATURE_direct2d=OFF -DFEATURE_directwrite=OFF
  -DFEATURE_androiddeployqt=OFF -DFEATURE_zstd=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF
)
qt_key=$(key_of "qtbase $qt_version" "sqlite $sqlite_version" "${qt_flags[@]}" -- "$toolchain")
qt_prefix="$cache/qtbase-$qt_key"

# sqlite3.c and sqlite3.h, where Qt's SQLite driver looks for them: made by
# SQLite's own build (tclsh) from Debian's source package.
sqlite_amalgamation() { # <folder>
  local into=$1 work="$cache/build-sqlite"
  fetch_source sqlite3 "$sqlite_version"
  rm -rf "$work"
  dpkg-source --no-copy -x "$cache/src/sqlite3_${sqlite_version#*:}.dsc" "$work" >/dev/null
  (cd "$work" && ./configure >/dev/null && make sqlite3.c >/dev/null)
  mkdir -p "$into"
  cp "$work/sqlite3.c" "$work/sqlite3.h" "$into/"
  rm -rf "$work"
}

build_qtbase() {
  [ -f "$qt_prefix/.done" ] && return 0
  fetch_source qt6-base "$qt_version"
  echo "== qtbase $qt_version for Windows (about half an hour the first time)"
  local work="$cache/build-qtbase"
  # A build that was stopped half-way (a session or a CI run ended) goes on
  # where it stopped when it was configured under the same key: ninja redoes
  # whatever it had not recorded as finished.
  if [ "$(cat "$work/.key" 2>/dev/null)" = "$qt_key" ] && [ -f "$work/build/build.ninja" ]; then
    echo "   going on with the build left unfinished in $work"
  else
    rm -rf "$work" "$qt_prefix"
    mkdir -p "$work"
    dpkg-source --no-copy -x "$cache/src/qt6-base_${qt_version#*:}.dsc" "$work/src" >/dev/null
    sqlite_amalgamation "$work/src/src/3rdparty/sqlite"
    cmake -S "$work/src" -B "$work/build" "${qt_flags[@]}" \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$qt_prefix" \
      >"$work/configure.log" 2>&1 || {
      tail -40 "$work/configure.log" >&2
      exit 1
    }
    echo "$qt_key" >"$work/.key"
  fi
  cmake --build "$work/build" -j"$jobs" >"$work/build.log" 2>&1 || {
    grep -B5 -A20 -m3 'error' "$work/build.log" >&2 || tail -60 "$work/build.log" >&2
    exit 1
  }
  cmake --install "$work/build" --strip >/dev/null
  rm -rf "$work"
  touch "$qt_prefix/.done"
}

# Keeps one build of each in the cache: the one just made or found.
prune_cache() { # <prefix to keep>
  local keep=$1 other
  for other in "${keep%-*}"-*; do
    [ "$other" = "$keep" ] || rm -rf "$other"
  done
}

build_qtbase
prune_cache "$qt_prefix"
echo "qtbase:    $qt_prefix"
[ "$mode" = deps ] && exit 0

# --- the tool -----------------------------------------------------------------
mingw_dlls=(
  "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)"
  "$(x86_64-w64-mingw32-g++-posix -print-file-name=libgcc_s_seh-1.dll)"
  /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll
)

# What the program needs beside it on a Windows PC: the C++ runtime, Qt with
# its windows platform and style and its Russian translation (the Linux
# package's file: the same Qt version); the SQL drivers of the modules'
# history: SQLite for the local file, ODBC for the shared server.
stage_runtime() { # <folder>
  local dir=$1
  mkdir -p "$dir/platforms" "$dir/styles" "$dir/sqldrivers"
  cp "${mingw_dlls[@]}" "$dir/"
  cp /usr/share/qt6/translations/qtbase_ru.qm "$dir/"
  cp "$qt_prefix"/bin/Qt6{Core,Gui,Widgets,Sql}.dll "$dir/"
  cp "$qt_prefix/plugins/platforms/qwindows.dll" "$dir/platforms/"
  cp "$qt_prefix/plugins/styles/qwindowsvistastyle.dll" "$dir/styles/"
  cp "$qt_prefix/plugins/sqldrivers/qsqlite.dll" "$dir/sqldrivers/"
  if [ -f "$qt_prefix/plugins/sqldrivers/qsqlodbc.dll" ]; then
    cp "$qt_prefix/plugins/sqldrivers/qsqlodbc.dll" "$dir/sqldrivers/"
  fi
}

# From the Linux build: the technician's manual and the program's icon for
# the packages, and the simulated module the wine tests talk to. The build
# folder is the one scripts/test.sh makes, so its generator is left as it is.
linux_targets=(qs730-manual qs730-icon)
[ "$mode" = all ] && linux_targets+=(qs730-sim)
cmake -S . -B build >/dev/null
cmake --build build -j"$jobs" --target "${linux_targets[@]}"
manual="$root/build/bin/QS730_View-manual.pdf"
icon="$root/build/package/QS730_View.ico"

echo "== QS730_View for Windows"
win_build="$root/build-win"
cmake -S . -B "$win_build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DQS_WIN_PREFIXES="$qt_prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CROSSCOMPILING_EMULATOR=wine \
  -DQS_LINUX_SIM="$root/build/bin/qs730-sim" >/dev/null
cmake --build "$win_build" -j"$jobs"
stage_runtime "$win_build/bin"
# The single version source: the project's version, as in the version block.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win_build/CMakeCache.txt")

# --- wine ------------------------------------------------------------------------
# A prefix of the tests' own in the cache. Wine's built-in fonts do not reach
# it by themselves here: without Tahoma, Windows' dialog font, Qt falls back
# to the first family it finds (a mathematical serif font), and the GDI font
# engine then draws Latin words in serif and numbers not at all.
export WINEPREFIX="$cache/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== wine prefix"
  wineboot --init >/dev/null 2>&1 || true
fi
cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true

if [ "$mode" = all ]; then
  echo "== tests under wine"
  cp "$qt_prefix/bin/Qt6Test.dll" "$win_build/bin/"
  cp "$qt_prefix/plugins/platforms/qoffscreen.dll" "$win_build/bin/platforms/"
  # The GUI tests run on Qt's windows platform, which wine draws on X.
  xvfb-run -a -s '-screen 0 1024x768x24' ctest --test-dir "$win_build" --output-on-failure -j1
fi

# --- the zip ------------------------------------------------------------------------
echo "== dist/QS730_View-win64.zip"
dist="$root/dist"
package="$dist/QS730_View-win64"
rm -rf "$package" "$dist/QS730_View-win64.zip"
mkdir -p "$package/licenses"
cp "$win_build/bin/QS730_View.exe" "$win_build/bin/comm_mb.dll" "$package/"
stage_runtime "$package"
x86_64-w64-mingw32-strip "$package"/*.exe "$package"/*.dll "$package"/*/*.dll
cp "$manual" "$package/"
# The technician's guide, in Windows' own line ends, marked as UTF-8 for
# Notepad.
{
  printf '\xEF\xBB\xBF'
  sed 's/$/\r/' "$win/README.txt"
} >"$package/README.txt"
# Qt is an LGPL library, shipped as the DLLs it was built as.
cp /usr/share/common-licenses/LGPL-3 "$package/licenses/Qt-LGPL-3.0.txt"
cp /usr/share/common-licenses/GPL-3 "$package/licenses/GPL-3.0.txt"
cp /usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright "$package/licenses/gcc-runtime.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$package/licenses/mingw-w64.txt"
{
  echo "Qt $qt_version (Debian source package qt6-base): LGPL-3.0, Qt-LGPL-3.0.txt with GPL-3.0.txt"
  echo "qtbase_ru.qm, Qt's translation (Debian package qt6-translations-l10n): the same"
  echo "libstdc++, libgcc (GCC runtime library exception) and winpthreads of mingw-w64:"
  echo "  gcc-runtime.txt, mingw-w64.txt"
} | sed 's/$/\r/' >"$package/licenses/README.txt"
# Signed when a certificate is given (QS_SIGN_PFX).
bash "$win/sign.sh" "$package/QS730_View.exe" "$package/comm_mb.dll"

(cd "$dist" && zip -qr QS730_View-win64.zip QS730_View-win64)
ls -l "$dist/QS730_View-win64.zip"

# --- the MSI --------------------------------------------------------------------------
msi="$dist/QS730_View-$version-win64.msi"
echo "== $msi"
rm -f "$dist"/QS730_View-*-win64.msi
bash "$win/msi.sh" "$package" "$version" "$icon" "$msi"
bash "$win/sign.sh" "$msi"
ls -l "$msi"

if [ "$mode" = all ]; then
  echo "== the packaged program under wine and Xvfb"
  bash "$root/tests/windows/smoke.sh" "$dist/QS730_View-win64.zip" \
    "$win_build/bin/generic/qs730driver.dll" "$root/build/bin/qs730-sim"
  echo "== the MSI: contents, and installed, upgraded and removed under wine"
  # The same files packaged as an older version, to upgrade from.
  bash "$win/msi.sh" "$package" 0.0.1 "$icon" "$win_build/QS730_View-0.0.1-win64.msi"
  bash "$root/tests/windows/msi.sh" "$msi" "$win_build/QS730_View-0.0.1-win64.msi" \
    "$version" "$dist/QS730_View-win64.zip" \
    "$win_build/bin/generic/qs730driver.dll" "$root/build/bin/qs730-sim"
fi
