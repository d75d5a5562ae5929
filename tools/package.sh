#!/usr/bin/env bash
# Builds the Debian packages from the build folder (build/, or $VELK_BUILD_DIR) into
# <build>/packages:
#   velk-vcp                     the port program, its simulated device library, tools, data
#   libvelk-qentrix-control1     the LAN control library (run time)
#   libvelk-qentrix-control-dev  its header, pkg-config file and unversioned link
#   velk-qentrix                 its command-line tool
# and a -dbgsym package of debug symbols for each package with binaries. Binaries are
# stripped; their symbols go into /usr/lib/debug/.build-id of the -dbgsym package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELK_BUILD_DIR:-$root/build}
out=${VELK_PACKAGE_DIR:-$build/packages}

upstream=$(sed -n 's/^project(Velk VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
version=$(sed -n '1s/^velk (\([^)]*\)).*/\1/p' "$root/data/debian/changelog")
if [ "${version%-*}" != "$upstream" ]; then
  echo "package.sh: data/debian/changelog names $version, the project is $upstream" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
maintainer="Velk Developers <developers@velk.example.com>"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"

# Descriptions: the summary line, then the extended description.
describe() {
  case $1 in
    velk-vcp) cat <<'EOF'
Virtual COM port driver serving gauge values on simulated serial ports
 Velk_VCP reads measured values from up to eight gauge interfaces through a
 device driver library and serves them on up to four simulated serial ports
 (pseudo-terminals named COM1 to COM16 in a port folder). Statistical process
 control software, data collectors and spreadsheets send configured commands
 and receive formatted values; values are also sent when a foot switch or a
 gauge's data key is pressed.
 .
 The package holds the program (with windows where a display is available,
 headless otherwise), a device library that simulates gauges and reads real
 serial gauges and USB foot pedals, the operator tool velk-ddk, the settings
 tool velk-vcp-config, the client launchers velk-client and velk-wine with
 their client layer, the command format presets, language files, icons,
 desktop entries and a systemd user unit.
EOF
    ;;
    libvelk-qentrix-control1) cat <<'EOF'
Remote control of the Qentrix gauge software over TCP (library)
 libVelk_Qentrix_Control lets other programs remote-control the Qentrix gauge
 software over TCP: characteristic values and their time stamps, nominal
 values, limits, masters, units, registers, data sets, statistics, the active
 test order, and pushed trigger values. It keeps up to 100 independent
 connections; every call returns within a bound.
 .
 This package holds the shared library.
EOF
    ;;
    libvelk-qentrix-control-dev) cat <<'EOF'
Remote control of the Qentrix gauge software over TCP (development files)
 libVelk_Qentrix_Control lets other programs remote-control the Qentrix gauge
 software over TCP through 36 C functions.
 .
 This package holds the C header, the pkg-config file and the link needed to
 build programs against the library.
EOF
    ;;
    velk-qentrix) cat <<'EOF'
Command-line tool for the Qentrix LAN control library
 velk-qentrix runs one function of libVelk_Qentrix_Control against a running
 Qentrix gauge software from a shell and prints its output and result code,
 for scripts and for trying out a connection.
EOF
    ;;
  esac
}

section_of() {
  case $1 in
    libvelk-qentrix-control1) echo libs ;;
    libvelk-qentrix-control-dev) echo libdevel ;;
    *) echo science ;;
  esac
}

is_elf() { [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = '177ELF' ]; }

# Moves the debug symbols of every ELF file of tree into dbgtree and strips the file;
# prints the build ids.
strip_tree() {
  local tree=$1 dbgtree=$2 file id
  while IFS= read -r -d '' file; do
    is_elf "$file" || continue
    id=$(readelf -n "$file" | sed -n 's/^ *Build ID: *//p')
    [ -n "$id" ] || { echo "package.sh: $file has no build id" >&2; exit 1; }
    mkdir -p "$dbgtree/usr/lib/debug/.build-id/${id:0:2}"
    objcopy --only-keep-debug --compress-debug-sections "$file" \
      "$dbgtree/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug"
    chmod 0644 "$dbgtree/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug"
    case $file in
      *.so | *.so.*) strip --remove-section=.comment --remove-section=.note --strip-unneeded "$file" ;;
      *) strip --remove-section=.comment --remove-section=.note "$file" ;;
    esac
    echo "$id"
  done < <(find "$tree" -type f -print0 | sort -z)
}

# Writes md5sums and the control file of tree and builds the package.
build_deb() {
  local name=$1 tree=$2 depends=$3 extra=${4:-}
  local size
  size=$(du -sk --exclude=DEBIAN "$tree" | cut -f1)
  (cd "$tree" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
    xargs -0 -r md5sum > DEBIAN/md5sums)
  {
    echo "Package: $name"
    echo "Source: velk"
    echo "Version: $version"
    echo "Architecture: $arch"
    echo "Maintainer: $maintainer"
    echo "Installed-Size: $size"
    [ -n "$depends" ] && echo "Depends: $depends"
    [ -n "$extra" ] && printf '%s\n' "$extra"
    echo "Homepage: https://velk.example.com/"
    if [[ $name == *-dbgsym ]]; then
      echo "Section: debug"
      echo "Priority: optional"
      echo "Description: debug symbols for ${name%-dbgsym}"
    else
      echo "Section: $(section_of "$name")"
      echo "Priority: optional"
      echo "Description: $(describe "$name")"
    fi
  } > "$tree/DEBIAN/control"
  dpkg-deb --root-owner-group -Zxz --build "$tree" "$out/${name}_${version}_${arch}.deb" >/dev/null
  echo "built $out/${name}_${version}_${arch}.deb"
}

# Debian's run-time dependencies of the binaries in tree, with our own library known.
shlib_depends() {
  local tree=$1 file files=()
  while IFS= read -r -d '' file; do
    is_elf "$file" && files+=("$file")
  done < <(find "$tree" -type f ! -path '*/DEBIAN/*' -print0)
  [ ${#files[@]} -gt 0 ] || return 0
  mkdir -p "$work/shlibs/debian"
  printf 'Source: velk\n\nPackage: velk\nArchitecture: any\n' > "$work/shlibs/debian/control"
  (cd "$work/shlibs" && dpkg-shlibdeps -O -L"$work/local-shlibs" \
    -l"$work/stage/lanlib/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)" \
    --ignore-missing-info "${files[@]}" 2>/dev/null) | sed -n 's/^shlibs:Depends=//p'
}

# Stage every component.
for component in vcp lanlib landev lantool; do
  DESTDIR="$work/stage/$component" cmake --install "$build" --prefix /usr \
    --component "$component" >/dev/null
done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
soname=$(objdump -p "$work/stage/lanlib/usr/lib/$multiarch/libVelk_Qentrix_Control.so.1" |
  sed -n 's/^ *SONAME *//p')
echo "${soname%%.so.*} ${soname##*.so.} libvelk-qentrix-control1 (>= $upstream)" \
  > "$work/local-shlibs"

declare -A component_of=(
  [velk-vcp]=vcp [libvelk-qentrix-control1]=lanlib
  [libvelk-qentrix-control-dev]=landev [velk-qentrix]=lantool)
for name in velk-vcp libvelk-qentrix-control1 libvelk-qentrix-control-dev velk-qentrix; do
  tree="$work/pkg/$name"
  dbg="$work/pkg/$name-dbgsym"
  mkdir -p "$tree/DEBIAN" "$dbg/DEBIAN"
  cp -a "$work/stage/${component_of[$name]}/." "$tree/"
  # Manual pages and the changelog compressed, the copyright beside them.
  find "$tree/usr/share/man" -type f -name '*.[1-9]' -exec gzip -9n {} \; 2>/dev/null || true
  doc="$tree/usr/share/doc/$name"
  mkdir -p "$doc"
  cp "$root/data/debian/copyright" "$doc/copyright"
  gzip -9nc "$root/data/debian/changelog" > "$doc/changelog.Debian.gz"
  find "$tree" -path "$tree/DEBIAN" -prune -o -type d -exec chmod 0755 {} +
  ids=$(strip_tree "$tree" "$dbg" | tr '\n' ' ')
  depends=$(shlib_depends "$tree")
  extra=""
  case $name in
    velk-vcp)
      depends="${depends:+$depends, }qt6-qpa-plugins"
      # velk-wine runs Windows software under Wine; pyserial is what the examples use.
      extra="Suggests: wine, python3-serial"
      install -m 0755 "$root/data/debian/velk-vcp.postinst" "$tree/DEBIAN/postinst" ;;
    libvelk-qentrix-control1)
      cp "$work/local-shlibs" "$tree/DEBIAN/shlibs"
      # Every export with its symbol version, available since this version.
      {
        echo "$soname libvelk-qentrix-control1 #MINVER#"
        echo "* Build-Depends-Package: libvelk-qentrix-control-dev"
        nm -D --defined-only "$tree/usr/lib/$multiarch/$soname" |
          awk -v v="$upstream" '$2 == "T" { sub("@@", "@", $3); print " " $3 " " v }' | sort
      } > "$tree/DEBIAN/symbols"
      echo "activate-noawait ldconfig" > "$tree/DEBIAN/triggers"
      extra="Multi-Arch: same" ;;
    libvelk-qentrix-control-dev)
      depends="libvelk-qentrix-control1 (= $version)"
      extra="Multi-Arch: same" ;;
  esac
  build_deb "$name" "$tree" "$depends" "$extra"
  if [ -n "${ids// /}" ]; then
    mkdir -p "$dbg/usr/share/doc"
    ln -s "$name" "$dbg/usr/share/doc/$name-dbgsym"
    build_deb "$name-dbgsym" "$dbg" "$name (= $version)" \
      "Build-Ids: ${ids% }
Auto-Built-Package: debug-symbols"
  fi
done
