#!/usr/bin/env bash
# Installs what building, running and testing gorvex needs (Debian 12), when it is missing.
set -euo pipefail
pkgs=(cmake g++ make pkg-config qtbase5-dev libhttp-parser-dev librabbitmq-dev libhiredis-dev
      zlib1g-dev libgtest-dev googletest redis-server rabbitmq-server amqp-tools curl)
[ "${1:-}" = "--bench" ] && pkgs+=(wrk nginx)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
