#!/bin/sh
# Checks the built LV2 bundle with lilv's tools as a host sees it: lv2ls lists
# both plug-ins, lv2info reads their ports, features and editor, and
# sord_validate finds the Turtle valid against the LV2 vocabularies; both list
# every factory preset of presets.ttl.
#   describe.sh BUNDLE_DIR SORD_VALIDATE
set -u
bundle=$1 sord_validate=$2
fail() { echo "FAIL: $*"; exit 1; }
[ -f "$bundle/manifest.ttl" ] || fail "no bundle at $bundle"

# The bundle and the installed specifications (for the plug-in classes), no other plug-ins.
specs=/usr/lib/lv2
LV2_PATH=$(dirname "$bundle")
export LV2_PATH
uris=$(lv2ls 2>&1) || fail "lv2ls failed: $uris"
echo "$uris"
base=$(sed -n 's/^<\(.*\)\/stereo>$/\1/p' "$bundle/manifest.ttl")
[ -n "$base" ] || fail "no stereo plug-in in the manifest"
[ "$uris" = "$(printf '%s\n%s' "$base/mono" "$base/stereo")" ] || fail "lv2ls lists other than the two plug-ins"

for kind in stereo mono; do
  info=$(LV2_PATH=$LV2_PATH:$specs lv2info "$base/$kind" 2>&1) || fail "lv2info $kind failed"
  echo "$info"
  case $info in *error*|*warning*) fail "lilv reported a problem loading $kind" ;; esac
  for want in "Class:             Equaliser Plugin" "Author:            SilverMeadowLab" \
              "Has latency:       no" "Class:  http://lv2plug.in/ns/extensions/ui#X11UI" \
              "lv2core#hardRTCapable" "urid#map" "options#options" \
              "Extension Data:    http://lv2plug.in/ns/ext/state#interface" \
              "Designation: http://lv2plug.in/ns/lv2core#enabled" "1 = \"1.1 kHz\""; do
    case $info in *"$want"*) ;; *) fail "$kind: lv2info does not show: $want" ;; esac
  done
  presets=$(sed -n 's/^    rdfs:label "\(.*\)" ;$/\1/p' "$bundle/presets.ttl" | sort)
  [ "$(printf '%s\n' "$presets" | wc -l)" -ge 20 ] || fail "presets.ttl holds $(printf '%s\n' "$presets" | wc -l) presets"
  listed=$(printf '%s\n' "$info" | awk '/^[[:space:]]*Presets:/ {on = 1; next} on && !NF {exit} on {sub(/^[[:space:]]+/, ""); print}' | sort)
  [ "$listed" = "$presets" ] || fail "$kind: lv2info lists the presets
$listed
instead of
$presets"
  symbols=$(printf '%s\n' "$info" | sed -n 's/^[[:space:]]*Symbol:[[:space:]]*//p' | tr '\n' ' ')
  if [ $kind = stereo ]; then audio="in_l in_r out_l out_r"; else audio="in out"; fi
  [ "$symbols" = "low_gain low_freq mid_gain mid_freq high_gain high_freq input output bypass filter link $audio " ] \
    || fail "$kind: ports are $symbols"
done

# Valid Turtle, every term defined by the vocabularies it uses.
vocabularies=
for v in schemas core ui state urid options buf-size units atom presets; do
  vocabularies="$vocabularies $(ls "$specs/$v.lv2/"*.ttl)"
done
# shellcheck disable=SC2086
report=$("$sord_validate" $vocabularies "$bundle"/*.ttl 2>&1)
echo "$report"
case $report in *"Found 0 errors"*) ;; *) fail "sord_validate found errors" ;; esac
echo "OK: both plug-ins described as built"
