#!/usr/bin/env bash
# Builds the Windows program with Debian's mingw-w64 cross compilers:
# installs what is missing, builds libcurl (HTTP and HTTPS over Schannel),
# jsoncpp, FreeType and libsodium from Debian's source packages once (cached in
# build-win32/deps/), then the program: build-win32/TamsaUpdate.exe.
#   scripts/build-windows.sh                   the 32-bit program (as it ships)
#   scripts/build-windows.sh --tests           the program and the test suites
#   scripts/build-windows.sh --arch x86_64     the same for x86-64 Windows, in build-win64/
#   scripts/build-windows.sh --curl-tool       also curl.exe from the same libcurl source and
#                                              options, for the download benchmark (cached
#                                              beside the libraries: <deps>/prefix/bin/curl.exe)
# TAMSA_WINDOWS_DEPS_CACHE=DIR keeps the built dependencies in DIR/<host>
# instead of the build folder, so that several checkouts share them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

usage() {
  echo "usage: scripts/build-windows.sh [--tests] [--curl-tool] [--arch i686|x86_64]" >&2
  exit 2
}

with_tests=OFF
with_curl_tool=0
arch=i686
while [ $# -gt 0 ]; do
  case "$1" in
    --tests) with_tests=ON ;;
    --curl-tool) with_curl_tool=1 ;;
    --arch) [ $# -ge 2 ] || usage; arch=$2; shift ;;
    *) usage ;;
  esac
  shift
done
case "$arch" in
  i686) build_dir=$root/build-win32 ;;
  x86_64) build_dir=$root/build-win64 ;;
  *) usage ;;
esac
host=$arch-w64-mingw32
toolchain=$root/cmake/mingw-w64-$arch.cmake

# Source package versions; a change rebuilds that dependency.
curl_version=7.88.1-10+deb12u15
jsoncpp_version=1.9.5-4
freetype_version=2.12.1+dfsg-5+deb12u4
httplib_version=0.11.4+ds-1+deb12u1
sodium_version=1.0.18-1+deb12u1

if [ -n "${TAMSA_WINDOWS_DEPS_CACHE:-}" ]; then
  deps=$TAMSA_WINDOWS_DEPS_CACHE/$host
else
  deps=$build_dir/deps
fi
prefix=$deps/prefix
jobs=${TAMSA_JOBS:-2}

# Debian names the x86-64 packages with a dash where the triplet has "_".
debian_arch=${arch//_/-}
packages=(
  g++-mingw-w64-$debian_arch-posix gcc-mingw-w64-$debian_arch-posix binutils-mingw-w64-$debian_arch
  mingw-w64-$debian_arch-dev libz-mingw-w64-dev
  dpkg-dev cmake ninja-build pkg-config g++ zlib1g-dev googletest libstb-dev make autoconf automake libtool
)

sudo_cmd() {
  if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

apt_get() {
  sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@"
}

# apt-get source needs deb-src entries; add them beside the binary ones once.
ensure_source_entries() {
  if grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return 0
  fi
  echo "build-windows: adding deb-src entries"
  sudo_cmd tee /etc/apt/sources.list.d/debian-src.sources >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  apt_get update -qq
}

install_missing() {
  local missing=() p
  for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "build-windows: installing ${missing[*]}"
    apt_get update -qq
    apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# The version to fetch: the pinned one while the archive offers it. A
# security update replaces a version in the archive, and then the newest one
# offered is taken instead, with a note, so a fresh machine still builds.
offered_version() {
  local package=$1 pinned=$2 offered newest
  offered=$(apt-cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p')
  if grep -qxF -- "$pinned" <<<"$offered"; then
    echo "$pinned"
    return 0
  fi
  newest=$(sort -V <<<"$offered" | tail -n 1)
  [ -n "$newest" ] || { echo "build-windows: the archive offers no source of $package" >&2; return 1; }
  echo "build-windows: $package $pinned is no longer offered; building $newest" >&2
  echo "$newest"
}

# Unpacks one source package at a pinned version into $deps/src; prints the
# unpacked folder.
fetch_source() {
  local package=$1 version=$2 dir wanted
  mkdir -p "$deps/src/$package-$version"
  dir=$(find "$deps/src/$package-$version" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  if [ -z "$dir" ]; then
    wanted=$(offered_version "$package" "$version") || return 1
    (cd "$deps/src/$package-$version" && apt-get source -qq "$package=$wanted" >/dev/null)
    dir=$(find "$deps/src/$package-$version" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  fi
  [ -n "$dir" ] || { echo "build-windows: no source for $package $version" >&2; return 1; }
  echo "$dir"
}

cmake_cross() {
  cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
}

# libcurl with only HTTP and HTTPS, TLS through Windows' own Schannel.
curl_options=(
  -DHTTP_ONLY=ON -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF
  -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF
  -DCURL_USE_LIBPSL=OFF -DENABLE_MANUAL=OFF -DBUILD_TESTING=OFF
  -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DENABLE_UNIX_SOCKETS=OFF
)
build_curl() {
  local stamp=$prefix/.curl-$curl_version src
  [ -f "$stamp" ] && return 0
  echo "build-windows: building libcurl $curl_version"
  src=$(fetch_source curl "$curl_version")
  rm -rf "$deps/build/curl"
  cmake_cross -S "$src" -B "$deps/build/curl" "${curl_options[@]}" -DBUILD_CURL_EXE=OFF >/dev/null
  cmake --build "$deps/build/curl" -j "$jobs" >/dev/null
  cmake --install "$deps/build/curl" >/dev/null
  touch "$stamp"
}

# curl's own command-line program from the same source with the same
# options, linked statically like the program: the peer of the download
# benchmark under Wine. Built in a folder of its own, so the library that
# the program links stays as it was; only curl.exe is copied out. The
# toolchain defines UNICODE, so the tool's entry point is wmain, which
# ENABLE_UNICODE tells curl's build to link for.
build_curl_tool() {
  local stamp=$prefix/.curl-tool-$curl_version src
  [ -f "$stamp" ] && [ -x "$prefix/bin/curl.exe" ] && return 0
  echo "build-windows: building curl.exe $curl_version"
  src=$(fetch_source curl "$curl_version")
  rm -rf "$deps/build/curl-tool"
  cmake_cross -S "$src" -B "$deps/build/curl-tool" "${curl_options[@]}" -DBUILD_CURL_EXE=ON \
    -DENABLE_UNICODE=ON -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s >/dev/null
  cmake --build "$deps/build/curl-tool" -j "$jobs" --target curl >/dev/null
  mkdir -p "$prefix/bin"
  cp "$deps/build/curl-tool/src/curl.exe" "$prefix/bin/curl.exe"
  touch "$stamp"
}

build_jsoncpp() {
  local stamp=$prefix/.jsoncpp-$jsoncpp_version src
  [ -f "$stamp" ] && return 0
  echo "build-windows: building jsoncpp $jsoncpp_version"
  src=$(fetch_source libjsoncpp "$jsoncpp_version")
  rm -rf "$deps/build/jsoncpp"
  cmake_cross -S "$src" -B "$deps/build/jsoncpp" \
    -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF -DJSONCPP_WITH_TESTS=OFF \
    -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_EXAMPLE=OFF >/dev/null
  cmake --build "$deps/build/jsoncpp" -j "$jobs" >/dev/null
  cmake --install "$deps/build/jsoncpp" >/dev/null
  touch "$stamp"
}

# FreeType for the toolkit's text (drawn by the toolkit itself on both
# systems), with zlib and nothing else.
build_freetype() {
  local stamp=$prefix/.freetype-$freetype_version src
  [ -f "$stamp" ] && return 0
  echo "build-windows: building FreeType $freetype_version"
  src=$(fetch_source freetype "$freetype_version")
  rm -rf "$deps/build/freetype"
  cmake_cross -S "$src" -B "$deps/build/freetype" \
    -DFT_REQUIRE_ZLIB=ON -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON \
    -DFT_DISABLE_BROTLI=ON -DZLIB_LIBRARY=/usr/$host/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/$host/include >/dev/null
  cmake --build "$deps/build/freetype" -j "$jobs" >/dev/null
  cmake --install "$deps/build/freetype" >/dev/null
  touch "$stamp"
}

# libsodium for the release signatures (Ed25519, BLAKE2b), static, with its
# own configure script (the source package has no CMake build, and Debian
# makes the configure script at build time: autoreconf does it here).
build_sodium() {
  local stamp=$prefix/.sodium-$sodium_version src
  [ -f "$stamp" ] && return 0
  echo "build-windows: building libsodium $sodium_version"
  src=$(fetch_source libsodium "$sodium_version")
  [ -x "$src/configure" ] || (cd "$src" && autoreconf -fi >/dev/null 2>&1)
  rm -rf "$deps/build/sodium"
  mkdir -p "$deps/build/sodium"
  (cd "$deps/build/sodium" &&
    "$src/configure" --host="$host" --prefix="$prefix" --disable-shared --enable-static --disable-pie \
      --disable-dependency-tracking CC="$host-gcc-posix" CFLAGS="-O2" >/dev/null &&
    make -j "$jobs" >/dev/null && make install >/dev/null)
  touch "$stamp"
}

# cpp-httplib for the test servers: the single header of the source package
# (Debian's -dev package holds a header split from its compiled library).
fetch_httplib() {
  local stamp=$prefix/.httplib-$httplib_version src
  [ -f "$stamp" ] && return 0
  src=$(fetch_source cpp-httplib "$httplib_version")
  mkdir -p "$prefix/include"
  cp "$src/httplib.h" "$prefix/include/httplib.h"
  touch "$stamp"
}

install_missing
ensure_source_entries
mkdir -p "$prefix" "$build_dir"
# Runs that share the dependencies or the build folder take turns.
exec 8>"$deps/.lock"
flock 8
build_curl
build_jsoncpp
build_freetype
build_sodium
if [ "$with_tests" = ON ]; then fetch_httplib; fi
if [ "$with_curl_tool" = 1 ]; then build_curl_tool; fi
flock -u 8
exec 9>"$build_dir/.build.lock"
flock 9

# Optimised (-O2; GCC 12's -O3 warns falsely about std::string copies) and
# stripped: the program as it ships.
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s \
  -DTAMSA_WIN32_DEPS="$prefix" -DTAMSA_WERROR=ON -DTAMSA_BENCH=OFF -DTAMSA_TESTS="$with_tests" >/dev/null
cmake --build "$build_dir" -j "$jobs"
echo "build-windows: $build_dir/TamsaUpdate.exe"
if [ "$with_curl_tool" = 1 ]; then echo "build-windows: $prefix/bin/curl.exe"; fi
