#!/bin/sh
# Runs tests/hosts/ardour-session.lua in Ardour's headless Lua session tool on
# the dummy audio backend with one built module.
#   session.sh LUA_TOOL SCANNER vst3|vst2|lv2 MODULE_FILE WORK_DIR
# For LV2, MODULE_FILE is the plug-in's shared object in its bundle, and
# SCANNER is not used: Ardour finds LV2 bundles itself, through lilv.
# Everything Ardour writes (configuration, plug-in cache, the session) stays
# below WORK_DIR, and Ardour is shown no plug-in but TALVOR.
set -u

lua_tool=$1 scanner=$2 kind=$3 module=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)

fail() { echo "FAIL: $*"; exit 1; }
[ -e "$module" ] || fail "no module at $module"

rm -rf "$work"
# Ardour looks for VST3 bundles in ~/.vst3, for VST2 modules in ~/.vst and for
# LV2 bundles in ~/.lv2 (here: LV2_PATH). A VST module
# that is not older than its cache entry (compared to the second) is not loaded, so
# the copies are dated well in the past: a module built in the same second as the
# scan would otherwise be refused now and then.
plugins=$work/home
mkdir -p "$work/cache" "$plugins/.vst3" "$plugins/.vst" "$plugins/.lv2" "$work/none"

case $kind in
  vst3)
    bundle=$(dirname "$(dirname "$(dirname "$module")")")
    case $bundle in *.vst3) ;; *) fail "$module is not inside a .vst3 bundle" ;; esac
    cp -Rp "$bundle" "$plugins/.vst3/" || fail "copying the bundle"
    target=$plugins/.vst3/$(basename "$bundle")
    ptype=VST3
    ;;
  vst2)
    cp -p "$module" "$plugins/.vst/" || fail "copying the module"
    target=$plugins/.vst/$(basename "$module")
    ptype=LXVST
    ;;
  lv2)
    bundle=$(dirname "$module")
    case $bundle in *.lv2) ;; *) fail "$module is not inside a .lv2 bundle" ;; esac
    cp -Rp "$bundle" "$plugins/.lv2/" || fail "copying the bundle"
    target=$plugins/.lv2/$(basename "$bundle")
    ptype=LV2
    ;;
  *) fail "unknown kind '$kind'" ;;
esac
find "$target" -exec touch -h -d '2001-01-01 00:00:00 UTC' {} + || fail "dating the copy"

# ardour7-lua keeps its settings in .../ardour7
confdir=$work/config/$(basename "$lua_tool" | sed 's/-lua$//')
mkdir -p "$confdir"
cat >"$confdir/config" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="hide-dummy-backend" value="0"/>
    <Option name="plugin-path-vst3" value="$plugins/.vst3"/>
    <Option name="plugin-path-lxvst" value="$plugins/.vst"/>
  </Config>
</Ardour>
XML

export HOME="$work/home" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config"
export VST3_PATH="$plugins/.vst3" LXVST_PATH="$plugins/.vst" VST_PATH="$work/none"
export LV2_PATH="$plugins/.lv2" LADSPA_PATH="$work/none"

# The session tool finds VST plug-ins only through the scanner's cache.
if [ "$kind" != lv2 ]; then
  LD_LIBRARY_PATH=$(dirname "$scanner")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} \
    "$scanner" --force --quiet "$target" </dev/null || fail "scanner exited with status $?"
fi

out=$work/session.log
TALVOR_PTYPE=$ptype TALVOR_SESSION_DIR=$work/session \
  "$lua_tool" "$here/ardour-session.lua" >"$out" 2>&1 </dev/null
rc=$?
grep -v -e 'MIDI buffer' -e 'call-slot' -e 'call slot' "$out"
[ $rc -eq 0 ] || fail "$(basename "$lua_tool") exited with status $rc"
grep -q '^OK: ' "$out" || fail "the session script did not finish"
