#!/usr/bin/env bash
# Makes a sample release of the sample product for the local update service:
# an installer package and the service's answer that offers it.
#   make_release.sh --out DIR (--product-dir DIR | --windows-dir WINDIR)
#                   --version V --from V0 [--min V] [--size BYTES] [--md5 HEX]
#                   [--sign-key SECRET_KEY --product P [--signed-version V] [--tamper]]
# DIR/packages/sample-setup-V.sh is a real installer: started by the updater,
# it writes V into the product's version.txt, appends a line to install.log
# and, when the product folder has a restart.sh, starts it detached (so the
# new version comes up). Random bytes after its last command pad it to
# --size (default 4 MiB) so that it is fetched in four ranges.
# With --windows-dir (the Windows path of the product's folder, such as
# 'C:\Program Files\Sample' or, under Wine, 'Z:\tmp\product') the installer
# is DIR/packages/sample-setup-V.bat instead, for the Windows product: it
# writes version.txt and appends to install.log the same way, and is padded
# with remarks after its last command.
# DIR/answer.json offers V to a product running V0 (--min sets min_ver,
# default V0; --md5 announces a wrong digest on purpose). The answer names
# the service as {host}, which update_service fills in. Prints the package
# path and its MD5 digest.
# --sign-key: signs the package with minisign and that secret key (one
# without a password, such as demo_release.key), with the trusted comment
# "version=V product=P" (P: --product, the product's -prod value, written as
# the update query sends it: UTF-8, percent-encoded; --signed-version names
# another V on purpose), and puts the signature into the answer's
# "signature". --tamper then changes one byte of
# the signed package and announces the changed package's MD5 digest, as an
# attacker on the way would. Also prints the signing key's id.
#
# demo_release.key is the demo's key only: it is public in this repository,
# so a product that trusted it would install anyone's package. Never build a
# product with demo_release.pub.
set -euo pipefail

out="" product_dir="" windows_dir="" version="" from="" min="" size=$((4 * 1024 * 1024)) md5_override=""
sign_key="" signed_version="" product="" tamper=0
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$2 ;;
    --product-dir) product_dir=$2 ;;
    --windows-dir) windows_dir=$2 ;;
    --version) version=$2 ;;
    --from) from=$2 ;;
    --min) min=$2 ;;
    --size) size=$2 ;;
    --md5) md5_override=$2 ;;
    --sign-key) sign_key=$2 ;;
    --signed-version) signed_version=$2 ;;
    --product) product=$2 ;;
    --tamper) tamper=1; shift; continue ;;
    *) echo "make_release.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
if [ -z "$out" ] || [ -z "$product_dir$windows_dir" ] || [ -z "$version" ] || [ -z "$from" ]; then
  echo "usage: make_release.sh --out DIR (--product-dir DIR | --windows-dir WINDIR) --version V --from V0" \
    "[--min V] [--size BYTES] [--md5 HEX]" >&2
  exit 2
fi
case "$version$from$min" in
  *[!A-Za-z0-9._-]*) echo "make_release.sh: versions are letters, digits, '.', '_' and '-'" >&2; exit 2 ;;
esac
if [ -n "$sign_key" ] && [ -z "$product" ]; then
  echo "make_release.sh: --sign-key needs --product, the product the release is for" >&2
  exit 2
fi
[ -n "$min" ] || min=$from
mkdir -p "$out/packages"

# The Windows installer: a batch file. Its folder is written into it as it
# is, so characters that cmd reads as syntax are refused. Remarks after its
# last command pad it (cmd never reads past "exit"). A failed move is told
# by "if errorlevel" (Wine's cmd runs "||" after a redirected command even
# when it succeeded).
windows_package() {
  case "$windows_dir" in
    *[\"%\&\|\<\>^!]*) echo "make_release.sh: the Windows folder may not hold \" % & | < > ^ !" >&2; exit 2 ;;
  esac
  package="$out/packages/sample-setup-$version.bat"
  {
    printf '@echo off\r\n'
    printf 'rem Installer of the sample product, version %s.\r\n' "$version"
    printf 'set "product_dir=%s"\r\n' "$windows_dir"
    printf '>"%%product_dir%%\\version.txt.new" echo %s\r\n' "$version"
    printf 'move /y "%%product_dir%%\\version.txt.new" "%%product_dir%%\\version.txt" >nul\r\n'
    printf 'if errorlevel 1 exit 1\r\n'
    printf '>>"%%product_dir%%\\install.log" echo installed %s from %%~f0\r\n' "$version"
    printf 'exit 0\r\n'
  } >"$package"
  local current
  current=$(stat -c %s "$package")
  if [ "$size" -gt "$current" ]; then
    yes 'rem padding of the sample installer' | sed 's/$/\r/' | head -c $((size - current)) >>"$package" || true
  fi
}

shell_package() {
  product_dir=$(cd "$product_dir" && pwd)
  case "$product_dir" in *\'*) echo "make_release.sh: the product folder's path may not hold a quote" >&2; exit 2 ;; esac
  package="$out/packages/sample-setup-$version.sh"
  cat > "$package" <<SCRIPT
#!/bin/sh
# Installer of the sample product, version $version.
product_dir='$product_dir'
printf '%s\n' '$version' > "\$product_dir/version.txt.new" && mv "\$product_dir/version.txt.new" "\$product_dir/version.txt"
printf 'installed %s from %s by pid %s\n' '$version' "\$0" "\$\$" >> "\$product_dir/install.log"
if [ -x "\$product_dir/restart.sh" ]; then
  setsid "\$product_dir/restart.sh" </dev/null >/dev/null 2>&1 &
fi
exit 0
SCRIPT
  chmod +x "$package"
  local current
  current=$(stat -c %s "$package")
  if [ "$size" -gt "$current" ]; then
    head -c $((size - current)) /dev/urandom >> "$package"
  fi
}

if [ -n "$windows_dir" ]; then windows_package; else shell_package; fi

# A text as the update query sends a value: bytes other than letters,
# digits and ._*~- as %XX (upper case).
encode_query_value() {
  local LC_ALL=C
  local text=$1 out="" c i
  for ((i = 0; i < ${#text}; i++)); do
    c=${text:i:1}
    case "$c" in
      [A-Za-z0-9._*~-]) out+=$c ;;
      *) out+=$(printf '%%%02X' "'$c") ;;
    esac
  done
  printf '%s' "$out"
}

# The signature as a JSON member: the .minisig text with its line feeds escaped
# (base64 and the comments minisign writes hold no quote or backslash).
signature_member=""
if [ -n "$sign_key" ]; then
  case "${signed_version:-$version}" in
    *[!A-Za-z0-9._-]*) echo "make_release.sh: versions are letters, digits, '.', '_' and '-'" >&2; exit 2 ;;
  esac
  rm -f "$package.minisig"
  minisign -S -s "$sign_key" -m "$package" \
    -t "version=${signed_version:-$version} product=$(encode_query_value "$product")" </dev/null >/dev/null
  signature_member=", \"signature\": \"$(sed 's/\\/\\\\/g; s/"/\\"/g' "$package.minisig" | awk '{printf "%s\\n", $0}')\""
  key_id=$(sed -n '2p' "$package.minisig" | base64 -d 2>/dev/null | head -c 10 | tail -c 8 | od -An -tx1 |
    tr -d ' \n' | sed 's/\(..\)/\1 /g' | awk '{for (i = NF; i > 0; i--) printf "%s", toupper($i)}' |
    sed 's/^0*//; s/^$/0/')  # as minisign writes it: no leading zeros
  rm -f "$package.minisig"
  if [ "$tamper" = 1 ]; then
    # One byte near the end (padding), flipped in place.
    offset=$(( $(stat -c %s "$package") - 2 ))
    byte=$(od -An -tu1 -j "$offset" -N1 "$package" | tr -d ' ')
    printf "\\$(printf '%03o' $(( byte ^ 1 )))" | dd of="$package" bs=1 seek="$offset" conv=notrunc status=none
  fi
fi

digest=$(md5sum "$package" | cut -d' ' -f1)
announced=${md5_override:-$digest}

name=$(basename "$package")
cat > "$out/answer.json" <<JSON
{"code": 0, "data": {"version": "$version", "min_ver": "$min",
 "blockurl": [{"url": "http://{host}/packages/$name", "md5": "$announced", "type": 1, "ver_range": "$from-$version"$signature_member}]}}
JSON
echo "package=$package"
echo "md5=$digest"
if [ -n "$sign_key" ]; then echo "key=$key_id"; fi
