#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, benchmark and
# run the demo. Idempotent: installs only what is missing and refreshes the
# package lists only when something is.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  clang libclang-rt-14-dev
  libcurl4-openssl-dev libssl-dev openssl curl
  libjsoncpp-dev zlib1g-dev libstb-dev libsodium-dev minisign
  libx11-dev libxext-dev libfreetype-dev libfontconfig-dev fonts-wqy-microhei
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  nginx-light xvfb openbox xdotool x11-utils x11-apps imagemagick aria2 procps python3 time bc
  apache2 lighttpd tinyproxy squid
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

# Without root, sudo may only be used when it needs no password: a prompt
# would leave an unattended run waiting for ever.
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    SUDO=(sudo -n)
  else
    echo "bootstrap: these packages are missing: ${missing[*]}" >&2
    echo "bootstrap: installing them needs root; run this once, then try again:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
fi

echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# The web servers and proxies are started by the tests that need them, each
# on a port and with a configuration of its own: their system services must
# not start on installation. policy-rc.d tells the maintainer scripts so.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${SUDO[@]}" tee "$policy" >/dev/null
  "${SUDO[@]}" chmod 755 "$policy"
  trap '"${SUDO[@]}" rm -f "$policy"' EXIT
fi
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
