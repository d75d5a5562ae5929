#!/bin/sh
# The installed program, installed into a temporary prefix by the build's install rules.
#   unit:        the systemd user unit passes systemd-analyze verify (exit 77: not available)
#   first-start: from an empty folder without a display, velk-vcp-config and Velk_VCP find
#                the per-user folder, whose first settings switch the example gauges on
#   lan-tool:    velk-qentrix, installed with its library to a prefix the loader does not
#                know (as ~/.local), runs from a clean environment
set -eu
build=$1
what=$2
prefix=$(mktemp -d /tmp/velk-install-XXXXXX)
pid=
cleanup() {
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  exit 1
}

if [ "$what" = lan-tool ]; then
  for component in lanlib lantool; do
    cmake --install "$build" --prefix "$prefix/local" --component "$component" >/dev/null
  done
  tool=$prefix/local/bin/velk-qentrix
  [ -x "$tool" ] || fail "bin/velk-qentrix is not installed"
  out=$(env -i PATH=/usr/bin:/bin "$tool" --help 2>&1) || fail "velk-qentrix --help: $out"
  case $out in usage:*) ;; *) fail "velk-qentrix --help printed: $out" ;; esac
  # The library it runs with is the one installed beside it, not the build's.
  loaded=$(env -i PATH=/usr/bin:/bin LD_TRACE_LOADED_OBJECTS=1 "$tool" | grep Velk_Qentrix) ||
    fail "no library traced"
  case $loaded in *"=> $prefix/local/"*) ;; *) fail "velk-qentrix loads: $loaded" ;; esac
  exit 0
fi

cmake --install "$build" --prefix "$prefix/usr" >/dev/null

if [ "$what" = unit ]; then
  command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not available"; exit 77; }
  unit=$prefix/usr/lib/systemd/user/velk-vcp.service
  grep -q "^ExecStart=$prefix/usr/bin/Velk_VCP --headless --user-folder$" "$unit" || fail "ExecStart"
  if ! out=$(systemd-analyze verify --man=no "$unit" 2>&1); then
    case $out in
      *"Failed to initialize manager"*) echo "systemd-analyze cannot run here: $out"; exit 77 ;;
    esac
    fail "systemd-analyze verify: $out"
  fi
  [ -z "$out" ] || fail "systemd-analyze verify says: $out"
  exit 0
fi

for file in bin/Velk_VCP bin/velk-ddk bin/velk-vcp-config share/man/man1/velk-vcp-config.1; do
  [ -e "$prefix/usr/$file" ] || fail "$file is not installed"
done
mkdir "$prefix/home" "$prefix/empty"
cd "$prefix/empty"
# No display, no folder or library named: as on a fresh machine (the prefix has no blanks).
run="env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_DATA_HOME -u VELK_DDK_LIBRARY
  -u VELK_VCP_PORT_DIR HOME=$prefix/home VELK_VCP_INPUT_DEVICES=none"
user=$prefix/home/.local/share/Velk_VCP
PATH=$prefix/usr/bin:$PATH
shown=$($run velk-vcp-config show 2>&1) || fail "velk-vcp-config show: $shown"
case $shown in
  *"folder: $user"*'input 1.1: on, command address "1", value address "10"'*) ;;
  *) fail "velk-vcp-config show printed: $shown" ;;
esac
$run Velk_VCP >"$prefix/out" 2>"$prefix/err" &
pid=$!
for i in $(seq 100); do
  grep -q "serving;" "$prefix/out" 2>/dev/null && break
  sleep 0.1
done
grep -q "serving;" "$prefix/out" || fail "not serving: $(cat "$prefix/out" "$prefix/err")"
port=$(sed -n 's/^Velk_VCP: slot 1 simulates .* at //p' "$prefix/out")
case $port in "$user"/ports/COM*) ;; *) fail "port path $port" ;; esac
answer=$(python3 - "$port" <<'PY'
import os, select, sys, time, tty
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
os.write(fd, b"M1\r")
data, end = b"", time.time() + 5
while not data.endswith(b"\n") and time.time() < end:
    if select.select([fd], [], [], 0.1)[0]:
        data += os.read(fd, 100)
print(data.decode(errors="replace").strip())
PY
)
echo "$answer" | grep -Eq '^10:[+-][0-9.]+$' || fail "M1 answered '$answer'"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" = 0 ] || fail "exit status $status: $(cat "$prefix/err")"
[ ! -e "$port" ] || fail "the port link stayed"
[ -z "$(ls -A "$prefix/empty")" ] || fail "files left in the start folder: $(ls -A)"
echo "installed program served $answer"
