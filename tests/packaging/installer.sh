#!/usr/bin/env bash
# The Windows installer under Wine, in a fresh prefix:
#   installer.sh SETUP.exe TEST_WIN64.exe WORK_DIR
# 1. silent install: every file where expected (the factory presets too),
#    the uninstaller registered, the installed modules load through their
#    exports (test_win64's module tests run on the installed copies);
# 2. installed again over an older hand-made install (the bare module at the
#    bundle's path), into another VST2 folder: the old copies go;
# 3. silent uninstall leaves nothing behind but a preset the user saved among
#    the factory ones; a stray copy of the uninstaller run afterwards touches
#    nothing.
set -u
setup=$1 tests=$2 work=$3
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
server=/usr/lib/wine/wineserver
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix
trap '"$server" -k 2>/dev/null' EXIT
win() { "$root/scripts/wine-run.sh" "$@" >>"$work/wine.log" 2>&1; }
# Waits until every program of the prefix has ended (the uninstaller goes on
# in a copy of itself after the one started has returned).
settle() { "$server" -w; }

win wineboot -i || fail "wineboot: $(tail -5 "$work/wine.log")"
settle
c=$WINEPREFIX/drive_c
# Everything outside Windows' own folder and the temporary folders.
snapshot() {
  (cd "$c" && find . \( -path ./windows -o -ipath '*/temp' \) -prune -o -print | sort)
}
before=$(snapshot)

vst3='C:\Program Files\Common Files\VST3\TALVOR.vst3'
bundle="$c/Program Files/Common Files/VST3/TALVOR.vst3"
home="$c/Program Files/SilverMeadowLab/TALVOR"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TALVOR'
modules_test() {  # VST2_FOLDER (Windows path)
  TALVOR_TEST_VST3_MODULE="$vst3\\Contents\\x86_64-win\\TALVOR.vst3" TALVOR_TEST_VST2_MODULE="$1\\TALVOR.dll" \
    "$root/scripts/wine-run.sh" "$tests" \
    --gtest_filter='Vst3Module.ExportsAFactoryWithTheOneEffectClass:Vst2Module.EntryGivesAFilledEffectThatProcesses' \
    >"$work/modules.log" 2>&1 || { cat "$work/modules.log"; fail "the installed modules ($1)"; }
  grep -q '\[  PASSED  \] 2 tests' "$work/modules.log" || { cat "$work/modules.log"; fail "module tests did not run"; }
}

# 1. Fresh install.
win "$setup" /S || fail "silent install"
settle
for f in "$bundle/Contents/x86_64-win/TALVOR.vst3" "$bundle/Contents/Resources/moduleinfo.json" \
         "$c/Program Files/VSTPlugins/TALVOR.dll" \
         "$home/LICENSE.txt" "$home/README.txt" "$home/Uninstall.exe"; do
  [ -f "$f" ] || fail "not installed: ${f#"$c"/}"
done
"$root/scripts/wine-run.sh" reg query "$uninstall_key" >"$work/reg.log" 2>&1 || fail "no uninstaller registered"
for want in 'DisplayName.*TALVOR' 'DisplayVersion.*2\.0\.0' 'Publisher.*SilverMeadowLab' \
            'QuietUninstallString.*Uninstall\.exe" /S'; do
  grep -q "$want" "$work/reg.log" || { cat "$work/reg.log"; fail "registration lacks $want"; }
done
presets="$c/ProgramData/VST3 Presets/SilverMeadowLab/TALVOR"
table="$root/resources/presets/factory-presets.txt"
count=$(sed -n '/^Name |/,$s/^\([^#|][^|]*[^ |]\) *|.*/\1/p' "$table" | tail -n +2 | wc -l)
[ "$count" -ge 20 ] || fail "the preset table lists $count presets"
[ "$(ls "$presets"/*.vstpreset | wc -l)" -eq "$count" ] || fail "VST3 presets in ${presets#"$c"/}: $(ls "$presets")"
[ "$(ls "$home/presets"/*.fxp | wc -l)" -eq "$count" ] || fail "VST2 presets in ${home#"$c"/}/presets: $(ls "$home/presets")"
[ -f "$presets/Flat.vstpreset" ] && [ -f "$home/presets/Flat.fxp" ] || fail "no Flat preset"
modules_test 'C:\Program Files\VSTPlugins'
echo "installed: $(cd "$c" && find "Program Files" -ipath '*talvor*' -type f | sort | tr '\n' ' ')"

# 2. Over an older install, into another VST2 folder.
rm -rf "$bundle"
cp "$root/LICENSE" "$bundle"
win "$setup" /S '/VST2DIR=C:\Audio\VST' || fail "install over an older install"
settle
[ -f "$bundle/Contents/x86_64-win/TALVOR.vst3" ] || fail "the bare module was not replaced by the bundle"
[ -f "$c/Audio/VST/TALVOR.dll" ] || fail "not installed into the chosen VST2 folder"
[ ! -e "$c/Program Files/VSTPlugins" ] || fail "the previous VST2 copy (or its folder, made by the installer) is left"
modules_test 'C:\Audio\VST'

# 3. Uninstall, then a stray copy of the uninstaller beside someone's files.
stray="$c/users/Public/stray"
mkdir -p "$stray"
cp "$home/Uninstall.exe" "$stray/"
echo mine >"$stray/LICENSE.txt"
mkdir -p "$c/Audio/VST/Other" && echo mine >"$c/Audio/VST/Other/keep"
echo mine >"$presets/My Own.vstpreset"
win "$home/Uninstall.exe" /S || fail "silent uninstall"
settle
[ "$(ls "$presets")" = "My Own.vstpreset" ] || fail "VST3 presets after uninstall: $(ls "$presets")"
rm -rf "$c/ProgramData/VST3 Presets"
win "$stray/Uninstall.exe" /S
settle
[ "$(cat "$stray/LICENSE.txt")" = mine ] || fail "the stray uninstaller deleted a file beside it"
[ -f "$c/Audio/VST/Other/keep" ] || fail "another plug-in in the VST2 folder was touched"
rm -rf "$stray" "$c/Audio"
win reg query "$uninstall_key" && fail "the uninstaller is still registered"
win reg query 'HKLM\Software\SilverMeadowLab' && fail "settings left in the registry"
after=$(snapshot)
[ "$before" = "$after" ] || fail "left behind or removed: $(diff <(echo "$before") <(echo "$after") | grep '^[<>]')"
"$server" -k 2>/dev/null
rm -rf "$WINEPREFIX"  # some 700 MB of Wine's own files
echo "OK: silent install, reinstall over an older install, silent uninstall leaving nothing"
