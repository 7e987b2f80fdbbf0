#!/usr/bin/env bash
# Installs every Debian package listed in tools/deps/*.txt that is not installed yet.
# Each list belongs to one part of the build (core, window, Windows, benchmarks), so a
# part can add what it needs without touching the others.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wanted=$(grep -hv '^[[:space:]]*\(#\|$\)' "$here"/deps/*.txt | sort -u)
missing=()
for pkg in $wanted; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
