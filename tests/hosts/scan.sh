#!/bin/sh
# Runs one of Ardour's plug-in scanners on a built module and checks what it
# reports about TALVOR.
#   scan.sh SCANNER vst3|vst2 MODULE_FILE WORK_DIR
# MODULE_FILE is the module's shared object; for VST3 the bundle around it is
# scanned. The scanner writes its cache below WORK_DIR, never into $HOME.
set -u

scanner=$1 kind=$2 module=$3 work=$4

fail() { echo "FAIL: $*"; exit 1; }

case $kind in
  vst3)
    # .../TALVOR.vst3/Contents/x86_64-linux/TALVOR.so -> .../TALVOR.vst3
    target=$(dirname "$(dirname "$(dirname "$module")")")
    case $target in *.vst3) ;; *) fail "$module is not inside a .vst3 bundle" ;; esac
    ;;
  vst2) target=$module ;;
  *) fail "unknown kind '$kind'" ;;
esac
[ -e "$module" ] || fail "no module at $module"

rm -rf "$work"
mkdir -p "$work/home" "$work/cache" "$work/config"
out=$work/scan.log

HOME=$work/home XDG_CACHE_HOME=$work/cache XDG_CONFIG_HOME=$work/config \
  LD_LIBRARY_PATH=$(dirname "$scanner")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} \
  "$scanner" --force --verbose "$target" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
[ $rc -eq 0 ] || fail "scanner exited with status $rc"

# The record the scanner caches: one element with every attribute on its line.
if [ "$kind" = vst3 ]; then
  info=$(grep '<VST3Info ' "$out")
  # The class id as Ardour stores it in projects: the same text as on Windows.
  expect='uid="F2AEE70D00DE4F4E536D6C62546C7631" name="TALVOR" vendor="SilverMeadowLab" category="Fx|EQ" version="2.0.0"'
  expect_io='n_inputs="2" n_outputs="2" n_aux_inputs="0" n_aux_outputs="0" n_midi_inputs="0" n_midi_outputs="0"'
else
  info=$(grep '<VST2Info ' "$out")
  # 1416394289 is 'Tlv1'
  expect='id="1416394289" name="TALVOR" creator="SilverMeadowLab" category="Effect"'
  expect_io='n_inputs="2" n_outputs="2" n_midi_inputs="0" n_midi_outputs="0" is_instrument="0" can_process_replace="1" has_editor="1"'
fi
[ -n "$info" ] || fail "the scanner reported no plug-in"
[ "$(printf '%s\n' "$info" | wc -l)" -eq 1 ] || fail "the scanner reported more than one plug-in"
for want in "$expect" "$expect_io"; do
  case $info in
    *"$want"*) ;;
    *) fail "expected: $want" ;;
  esac
done
echo "OK: $kind module reported as TALVOR by $(basename "$scanner")"
