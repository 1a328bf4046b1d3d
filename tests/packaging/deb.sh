#!/bin/sh
# Checks the Debian package as built:
#   deb.sh contents DEB WORK_DIR   file list, control fields, moduleinfo.json;
#                                  extracts the package into WORK_DIR/root for
#                                  the host tests (tests/hosts)
#   deb.sh reinstall DEB WORK_DIR  installed twice over itself, then removed,
#                                  with dpkg in a private root (WORK_DIR/sys)
#   deb.sh lintian DEB             no lintian error
# TALVOR_DEB_ARCH names the architecture the package is built for (amd64, the
# default, or arm64).
set -u

mode=$1 deb=$2 work=${3:-}
fail() { echo "FAIL: $*"; exit 1; }
[ -f "$deb" ] || fail "no package at $deb"
arch=${TALVOR_DEB_ARCH:-amd64}
case $arch in
  amd64) vst3_arch=x86_64-linux machine="Advanced Micro Devices X86-64" ;;
  arm64) vst3_arch=aarch64-linux machine=AArch64 ;;
  *) fail "unknown architecture $arch" ;;
esac

case $mode in
contents)
  # Mode and path (paths may hold spaces: the presets are named for people).
  files=$(dpkg-deb -c "$deb" | sed -E 's|^([^ ]+) +[^ ]+ +[^ ]+ +[^ ]+ +[^ ]+ +\./|\1 /|' | sort)
  expected=$(sed "s|@VST3_ARCH@|$vst3_arch|" <<'LIST' | sort
drwxr-xr-x /
drwxr-xr-x /usr/
drwxr-xr-x /usr/lib/
drwxr-xr-x /usr/lib/lv2/
drwxr-xr-x /usr/lib/lv2/TALVOR.lv2/
-rw-r--r-- /usr/lib/lv2/TALVOR.lv2/TALVOR.so
-rw-r--r-- /usr/lib/lv2/TALVOR.lv2/TALVOR.ttl
-rw-r--r-- /usr/lib/lv2/TALVOR.lv2/TALVOR_ui.so
-rw-r--r-- /usr/lib/lv2/TALVOR.lv2/manifest.ttl
-rw-r--r-- /usr/lib/lv2/TALVOR.lv2/presets.ttl
drwxr-xr-x /usr/lib/vst/
-rw-r--r-- /usr/lib/vst/TALVOR.so
drwxr-xr-x /usr/lib/vst3/
drwxr-xr-x /usr/lib/vst3/TALVOR.vst3/
drwxr-xr-x /usr/lib/vst3/TALVOR.vst3/Contents/
drwxr-xr-x /usr/lib/vst3/TALVOR.vst3/Contents/Resources/
-rw-r--r-- /usr/lib/vst3/TALVOR.vst3/Contents/Resources/moduleinfo.json
drwxr-xr-x /usr/lib/vst3/TALVOR.vst3/Contents/Resources/Snapshots/
-rw-r--r-- /usr/lib/vst3/TALVOR.vst3/Contents/Resources/Snapshots/F2AEE70D00DE4F4E536D6C62546C7631_snapshot.png
-rw-r--r-- /usr/lib/vst3/TALVOR.vst3/Contents/Resources/Snapshots/F2AEE70D00DE4F4E536D6C62546C7631_snapshot_2.0x.png
drwxr-xr-x /usr/lib/vst3/TALVOR.vst3/Contents/@VST3_ARCH@/
-rw-r--r-- /usr/lib/vst3/TALVOR.vst3/Contents/@VST3_ARCH@/TALVOR.so
drwxr-xr-x /usr/share/
drwxr-xr-x /usr/share/doc/
drwxr-xr-x /usr/share/doc/talvor/
-rw-r--r-- /usr/share/doc/talvor/changelog.gz
-rw-r--r-- /usr/share/doc/talvor/copyright
LIST
)
  # The factory presets, one file a format: the table's names.
  table=$(dirname "$0")/../../resources/presets/factory-presets.txt
  names=$(sed -n '/^Name |/,$s/^\([^#|][^|]*[^ |]\) *|.*/\1/p' "$table" | tail -n +2)
  [ "$(printf '%s\n' "$names" | wc -l)" -ge 20 ] || fail "the preset table lists $(printf '%s\n' "$names" | wc -l) presets"
  presets=$(printf 'drwxr-xr-x /usr/share/talvor/\ndrwxr-xr-x /usr/share/talvor/presets/\n'
            printf 'drwxr-xr-x /usr/share/vst3/\ndrwxr-xr-x /usr/share/vst3/presets/\n'
            printf 'drwxr-xr-x /usr/share/vst3/presets/SilverMeadowLab/\ndrwxr-xr-x /usr/share/vst3/presets/SilverMeadowLab/TALVOR/\n'
            printf '%s\n' "$names" | while IFS= read -r n; do
              printf -- '-rw-r--r-- /usr/share/talvor/presets/%s.fxp\n' "$n"
              printf -- '-rw-r--r-- /usr/share/vst3/presets/SilverMeadowLab/TALVOR/%s.vstpreset\n' "$n"
            done)
  expected=$(printf '%s\n%s\n' "$expected" "$presets" | sort)
  [ "$files" = "$expected" ] || fail "file list differs; it is:
$files"
  [ -z "$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')" ] || fail "files not owned by root"

  for field in "Package=talvor" "Version=2.0.0" "Architecture=$arch" "Section=sound" \
               "Maintainer=SilverMeadowLab <support@silvermeadowlab.example>"; do
    got=$(dpkg-deb -f "$deb" "${field%%=*}")
    [ "$got" = "${field#*=}" ] || fail "${field%%=*} is '$got', expected '${field#*=}'"
  done
  # Worked out by dpkg-shlibdeps: the C and C++ runtimes and libpng, with versions.
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libc6 libstdc++6 libpng16-16; do
    case ", $depends" in *", $lib (>= "*) ;; *) fail "Depends lacks $lib: $depends" ;; esac
  done

  rm -rf "$work"
  mkdir -p "$work"
  dpkg-deb -x "$deb" "$work/root" || fail "cannot extract"
  info=$work/root/usr/lib/vst3/TALVOR.vst3/Contents/Resources/moduleinfo.json
  python3 -m json.tool "$info" >/dev/null || fail "moduleinfo.json is no JSON"
  grep -q '"CID": "F2AEE70D00DE4F4E536D6C62546C7631"' "$info" || fail "moduleinfo.json has another class id"
  for so in usr/lib/vst/TALVOR.so usr/lib/vst3/TALVOR.vst3/Contents/$vst3_arch/TALVOR.so \
            usr/lib/lv2/TALVOR.lv2/TALVOR.so usr/lib/lv2/TALVOR.lv2/TALVOR_ui.so; do
    readelf -S "$work/root/$so" | grep -q '\.debug_' && fail "$so is not stripped"
    # The declared architecture is the modules' own: a loader refuses them elsewhere.
    readelf -h "$work/root/$so" | grep -q "Machine: *$machine\$" || fail "$so is not built for $arch"
  done
  echo "OK: $(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version): files, fields, moduleinfo.json"
  ;;
reinstall)
  sys=$work/sys
  rm -rf "$work"
  mkdir -p "$sys/var/lib/dpkg/info" "$sys/var/lib/dpkg/updates" "$sys/usr/lib/vst3/Other.vst3"
  : >"$sys/var/lib/dpkg/status"
  # A private dpkg knows only the machine's own architecture.
  [ "$arch" = "$(dpkg --print-architecture)" ] || printf '%s\n' "$arch" >"$sys/var/lib/dpkg/arch"
  echo mine >"$sys/usr/lib/vst3/Other.vst3/keep"
  # dpkg wants ldconfig and start-stop-daemon on PATH, which users often lack.
  dpkg_sys() { PATH="$PATH:/usr/sbin:/sbin" dpkg --root="$sys" --force-not-root --force-depends --force-script-chrootless --log="$work/dpkg-history.log" "$@" >>"$work/dpkg.log" 2>&1; }
  dpkg_sys -i "$deb" || fail "first install: $(cat "$work/dpkg.log")"
  dpkg_sys -i "$deb" || fail "install over itself: $(cat "$work/dpkg.log")"
  [ "$(dpkg-query --admindir="$sys/var/lib/dpkg" -W -f='${Status}' talvor)" = "install ok installed" ] \
    || fail "not installed after the second install"
  [ -f "$sys/usr/lib/vst3/TALVOR.vst3/Contents/$vst3_arch/TALVOR.so" ] || fail "module missing"
  dpkg_sys -r talvor || fail "remove: $(cat "$work/dpkg.log")"
  left=$(cd "$sys" && find . -path ./var -prune -o -print | grep -i talvor)
  [ -z "$left" ] || fail "left after removal: $left"
  [ "$(cat "$sys/usr/lib/vst3/Other.vst3/keep")" = mine ] || fail "another plug-in was touched"
  echo "OK: installed twice over itself and removed; other files untouched"
  ;;
lintian)
  out=$(lintian --fail-on error "$deb" 2>&1)
  rc=$?
  printf '%s\n' "$out" | grep -v 'running with root privileges'
  [ $rc -eq 0 ] || fail "lintian reports errors"
  echo "OK: lintian reports no error"
  ;;
*) fail "unknown mode $mode" ;;
esac
