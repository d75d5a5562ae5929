#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (listed in packages.txt).
# Asks apt only when something is missing, so a prepared machine starts at once; a name that
# an installed package provides counts as installed. An apt held by another run (unattended
# upgrades) is waited for, up to $VELK_APT_LOCK_WAIT seconds (600 by default).
#   tools/setup.sh --check   installs nothing: lists every name of packages.txt that is not
#                            an installed package of that very name (missing, or only
#                            provided by another package) and exits 1 when there is any
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
check=0
case ${1:-} in
  --check) check=1 ;;
  "") ;;
  *)
    echo "usage: tools/setup.sh [--check]" >&2
    exit 2
    ;;
esac
mapfile -t wanted < <(grep -vE '^\s*(#|$)' "$here/packages.txt" | sed 's/\s*#.*//; s/\s*$//')

# The installed packages, and what each provides (a virtual name, with or without a version).
declare -A installed=() provider=()
while IFS=$'\t' read -r status package provides; do
  [[ $status == ii* ]] || continue
  package=${package%%:*}
  installed[$package]=1
  IFS=',' read -ra names <<< "$provides"
  for name in "${names[@]}"; do
    name=${name%%(*}
    name=${name// /}
    [ -n "$name" ] && provider[$name]=$package
  done
done < <(dpkg-query -W -f='${db:Status-Abbrev}\t${Package}\t${Provides}\n' 2>/dev/null)

missing=()
bad=0
for p in "${wanted[@]}"; do
  [ -n "${installed[$p]:-}" ] && continue
  if [ -n "${provider[$p]:-}" ]; then
    if [ $check -eq 1 ]; then
      echo "$p: not a package of its own; provided by ${provider[$p]}, name that one"
      bad=1
    fi
    continue
  fi
  missing+=("$p")
done

if [ $check -eq 1 ]; then
  for p in ${missing[@]+"${missing[@]}"}; do echo "$p: not installed"; done
  [ $bad -eq 0 ] && [ ${#missing[@]} -eq 0 ] || exit 1
  echo "all ${#wanted[@]} packages of packages.txt are installed"
  exit 0
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  wait=${VELK_APT_LOCK_WAIT:-600}
  lock=(-o "DPkg::Lock::Timeout=$wait")
  # The timeout covers dpkg's lock; the lists' lock of an update is waited for here.
  deadline=$((SECONDS + wait))
  until out=$("${sudo_cmd[@]}" apt-get "${lock[@]}" update -qq 2>&1); do
    case $out in
      *"Could not get lock"* | *"Unable to lock"*) [ $SECONDS -lt $deadline ] || break ;;
      *) break ;;
    esac
    [ -n "${waited:-}" ] || echo "apt is busy; waiting up to $wait s for it"
    waited=1
    sleep 5
  done
  [ -z "$out" ] || printf '%s\n' "$out" >&2
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${lock[@]}" install -y -qq \
    --no-install-recommends "${missing[@]}"
fi
