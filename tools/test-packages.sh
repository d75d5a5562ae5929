#!/usr/bin/env bash
# Builds the Debian packages (tools/package.sh) and tries them:
# 1. lintian: any error or warning fails (pedantic findings are shown, see docs/PACKAGING.md);
# 2. unpacked into a fresh folder, the installed program serves a port to a client, and a C
#    program built against the installed development files connects the installed library
#    to the test peer on 127.0.0.1;
# 3. as root: the packages install with apt on this machine, the installed program and tool
#    run from PATH, and they remove again without leaving files.
# Called by tools/test.sh; VELK_SKIP_PACKAGES=1 there leaves it out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELK_BUILD_DIR:-$root/build}
out=${VELK_PACKAGE_DIR:-$build/packages}
"$root/tools/package.sh"
debs=("$out"/*.deb)

echo "== lintian"
lintian --fail-on error,warning --display-level '>=pedantic' --display-experimental \
  --suppress-tags-from-file "$root/data/debian/lintian-explained" "${debs[@]}"

work=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "test-packages: $*" >&2
  exit 1
}

echo "== unpacked: the program serves a port"
for deb in "${debs[@]}"; do
  case $deb in *-dbgsym_*) continue ;; esac
  dpkg-deb -x "$deb" "$work/root"
done
home="$work/home"
mkdir -p "$home"
# Started as the desktop entry and the user unit start it, without a display.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" XDG_DATA_HOME="$home/data" \
  VELK_VCP_PORT_DIR="$work/ports" "$work/root/usr/bin/Velk_VCP" --user-folder --headless \
  > "$work/vcp.out" 2> "$work/vcp.err" &
server=$!
for _ in $(seq 100); do
  grep -q "serving" "$work/vcp.out" 2>/dev/null && break
  kill -0 "$server" 2>/dev/null || { cat "$work/vcp.err" >&2; fail "the installed program ended"; }
  sleep 0.1
done
port=$(ls "$work/ports" | grep -m1 '^COM') || fail "no port in $work/ports"
# Debian's python3, which has python3-serial.
answer=$(/usr/bin/python3 - "$work/ports/$port" <<'EOF'
import sys, serial
with serial.Serial(sys.argv[1], timeout=2) as s:
    s.write(b"NCH?\r")
    print(s.read_until(b"\n").decode(errors="replace").strip())
EOF
)
[ -n "$answer" ] || fail "no answer from the installed program on $port"
echo "$port answered: $answer"
kill -TERM "$server"
wait "$server" || fail "the installed program did not end cleanly"
server=""
[ ! -e "$work/ports/$port" ] || fail "the port link outlived the program"

echo "== unpacked: a program built against the installed library reaches the test peer"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
cat > "$work/client.c" <<'EOF'
#include <stdio.h>
#include <stdlib.h>
#include <velk_qentrix_control.h>
int main(int argc, char** argv) {
  if (Control_Init(0, "127.0.0.1", atoi(argv[1])) != 0) return 2;
  double value = 0;
  int result = Control_GetActCharValue(0, 1, &value);
  Control_DeInit(0);
  printf("result %d value %f\n", result, value);
  return result;
}
EOF
export PKG_CONFIG_SYSROOT_DIR="$work/root"
export PKG_CONFIG_LIBDIR="$work/root/usr/lib/$multiarch/pkgconfig"
# shellcheck disable=SC2046
cc -o "$work/client" "$work/client.c" $(pkg-config --cflags --libs velk-qentrix-control)
# The peer reads commands from its standard input until it ends: a pipe that stays open.
mkfifo "$work/peer.in"
exec 9<> "$work/peer.in"
"$build/bin/velk-qentrix-peer" < "$work/peer.in" > "$work/peer.out" 2>&1 &
server=$!
for _ in $(seq 50); do
  peer_port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/peer.out" | head -1)
  [ -n "$peer_port" ] && break
  sleep 0.1
done
[ -n "${peer_port:-}" ] || fail "the test peer did not start: $(cat "$work/peer.out")"
LD_LIBRARY_PATH="$work/root/usr/lib/$multiarch" "$work/client" "$peer_port" ||
  fail "the installed library did not talk to the peer"
echo quit >&9
wait "$server" 2>/dev/null || true
server=""
exec 9>&-

if [ "$(id -u)" -eq 0 ] && [ "${VELK_SKIP_PACKAGE_INSTALL:-0}" != 1 ]; then
  echo "== installed with apt, then removed"
  installable=()
  for deb in "${debs[@]}"; do
    case $deb in *-dbgsym_*) ;; *) installable+=("$deb") ;; esac
  done
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${installable[@]}" > "$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt install"; }
  Velk_VCP --help > /dev/null || fail "Velk_VCP from PATH"
  velk-qentrix --help > /dev/null 2>&1 || [ $? -eq 64 ] || fail "velk-qentrix from PATH"
  ldconfig -p | grep -q libVelk_Qentrix_Control.so.1 || fail "the library is not known to ldconfig"
  names=()
  for deb in "${installable[@]}"; do names+=("$(dpkg-deb -f "$deb" Package)"); done
  listed=$(for n in "${names[@]}"; do dpkg -L "$n"; done | sort -u)
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${names[@]}" > "$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt purge"; }
  while IFS= read -r path; do
    [ -f "$path" ] && fail "$path left behind after removal"
  done <<< "$listed"
fi
echo "packages: all checks passed"
