#!/bin/sh
# scripts/install-user.sh in a private HOME: into missing folders, over an
# earlier copy, uninstalled twice; other plug-ins in the folders and the
# user's own presets stay.
#   install-user.sh SCRIPT DIST_DIR WORK_DIR
set -u
script=$1 dist=$2 work=$3
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work/home"
export HOME="$work/home"
vst3=$HOME/.vst3/TALVOR.vst3 vst=$HOME/.vst/TALVOR.so lv2=$HOME/.lv2/TALVOR.lv2
vst3_presets=$HOME/.vst3/presets/SilverMeadowLab/TALVOR fxp=$HOME/.local/share/talvor/presets

bash "$script" --from "$dist" || fail "install into missing folders"
diff -r "$dist/TALVOR.vst3" "$vst3" >/dev/null || fail "VST3 bundle"
cmp -s "$dist/TALVOR.so" "$vst" || fail "VST2 module"
for f in manifest.ttl TALVOR.ttl presets.ttl TALVOR.so TALVOR_ui.so; do
  cmp -s "$dist/TALVOR.lv2/$f" "$lv2/$f" || fail "LV2 bundle: $f"
done
[ "$(ls "$dist/vst3-presets" | wc -l)" -ge 20 ] || fail "fewer than 20 VST3 presets in $dist/vst3-presets"
diff -r "$dist/vst3-presets" "$vst3_presets" >/dev/null || fail "VST3 presets"
diff -r "$dist/presets" "$fxp" >/dev/null || fail "VST2 presets"
echo mine >"$vst3_presets/My Own.vstpreset"

mkdir -p "$HOME/.vst3/Other.vst3" && echo mine >"$HOME/.vst3/Other.vst3/keep" && echo mine >"$HOME/.vst/other.so"
echo stale >"$vst3/Contents/stale"
bash "$script" --from "$dist" || fail "install over an earlier copy"
[ ! -e "$vst3/Contents/stale" ] || fail "the earlier copy was not replaced whole"
[ -z "$(find "$HOME" -name '.TALVOR*')" ] || fail "temporary copies left"

bash "$script" --from "$work/nowhere" >/dev/null 2>&1 && fail "installing from a missing folder succeeded"
[ -f "$vst" ] || fail "a refused install touched the installed copy"

bash "$script" --uninstall || fail "uninstall"
bash "$script" --uninstall | grep -q 'not installed' || fail "second uninstall"
[ ! -e "$vst3" ] && [ ! -e "$vst" ] && [ ! -e "$lv2" ] && [ ! -e "$fxp" ] || fail "TALVOR left after uninstall"
[ "$(ls "$vst3_presets")" = "My Own.vstpreset" ] || fail "VST3 presets after uninstall: $(ls "$vst3_presets")"
[ "$(cat "$HOME/.vst3/Other.vst3/keep" "$HOME/.vst/other.so")" = "mine
mine" ] || fail "other plug-ins were touched"
echo "OK: install-user.sh installs, replaces and uninstalls TALVOR and its factory presets only"
