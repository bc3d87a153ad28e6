#!/usr/bin/env bash
# Installs what the build and the tests need and is not on the machine yet.
set -euo pipefail
pkgs=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
      libpqxx-dev libpq-dev libmariadb-dev libmariadb-dev-compat
      mariadb-server mariadb-client postgresql postgresql-client postgresql-15-postgis-3
      locales qt6-base-dev fonts-dejavu-core)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Value texts must not follow the locale: the tests run some cases under de_DE.UTF-8.
if ! locale -a 2>/dev/null | grep -qi '^de_DE.utf8$'; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  if [ -f /etc/locale.gen ]; then
    $sudo_cmd sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    $sudo_cmd locale-gen >/dev/null 2>&1 || true
  fi
fi
