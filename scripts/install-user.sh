#!/usr/bin/env bash
# Installs TALVOR's Linux plug-ins and factory presets for the current user,
# without root:
#
#   scripts/install-user.sh [--from DIR]      copy into ~/.vst3, ~/.vst, ~/.lv2
#   scripts/install-user.sh --uninstall       remove them again
#
# DIR defaults to dist/linux-x86_64 or dist/linux-aarch64, whichever is this
# machine's (built by scripts/setup.sh). What goes where is listed in
# packaging/linux-plugins.txt (kind K -> ~/.K/; the presets into
# ~/.vst3/presets/SilverMeadowLab/TALVOR and ~/.local/share/talvor/presets).
# Folders are created when missing and never removed, except the presets'
# folders once empty; an earlier copy of a plug-in is replaced whole; nothing
# but TALVOR's own plug-ins and factory presets is touched.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
die() { printf 'install-user.sh: %s\n' "$*" >&2; exit 1; }

from=$root/dist/linux-$(uname -m)
uninstall=0
while [ $# -gt 0 ]; do
  case $1 in
    --uninstall) uninstall=1 ;;
    --from) [ $# -ge 2 ] || die "--from needs a folder"; from=$2; shift ;;
    -h|--help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) die "unknown option $1 (try --help)" ;;
  esac
  shift
done
[ -n "${HOME:-}" ] && [ -d "$HOME" ] || die "HOME is not set to a folder"

plugins=() preset_dirs=()
while read -r item kind; do
  case $item in ''|'#'*) continue ;; esac
  case $item in
    */) preset_dirs+=("$item $kind") ;;
    *) plugins+=("$item $kind") ;;
  esac
done <"$root/packaging/linux-plugins.txt"
# The factory presets' names, from the table their files are made from.
mapfile -t preset_names < <(sed -n '/^Name |/,$s/^\([^#|][^|]*[^ |]\) *|.*/\1/p' \
  "$root/resources/presets/factory-presets.txt" | tail -n +2)
[ ${#preset_names[@]} -gt 0 ] || die "no presets in resources/presets/factory-presets.txt"
# share/vst3/Q -> ~/.vst3/Q, where VST3 hosts look for a user's presets; share/P -> ~/.local/share/P.
preset_target() {
  case $1 in
    share/vst3/*) printf '%s/.vst3/%s' "$HOME" "${1#share/vst3/}" ;;
    *) printf '%s/.local/share/%s' "$HOME" "${1#share/}" ;;
  esac
}
# Removes the factory presets (only those) from FOLDER, then the folder and
# its parents up to ~/.vst3 or ~/.local/share once they are empty.
remove_presets() {
  local dir=$1 name f
  for name in "${preset_names[@]}"; do
    for f in "$dir/$name".*; do
      case $f in *.vstpreset|*.fxp) [ -f "$f" ] && rm -f -- "$f" ;; esac
    done
  done
  while [ "$dir" != "$HOME/.vst3" ] && [ "$dir" != "$HOME/.local/share" ] && rmdir -- "$dir" 2>/dev/null; do
    dir=$(dirname "$dir")
  done
}

if [ $uninstall -eq 1 ]; then
  for entry in "${plugins[@]}"; do
    target=$HOME/.${entry#* }/${entry%% *}
    if [ -e "$target" ] || [ -L "$target" ]; then
      rm -rf -- "$target"
      echo "removed $target"
    else
      echo "not installed: $target"
    fi
  done
  for entry in "${preset_dirs[@]}"; do
    target=$(preset_target "${entry#* }")
    if [ -d "$target" ]; then
      remove_presets "$target"
      echo "removed the factory presets from $target"
    fi
  done
  exit 0
fi

# Everything is checked before anything is copied.
for entry in "${plugins[@]}" "${preset_dirs[@]}"; do
  [ -e "$from/${entry%% *}" ] || die "$from/${entry%% *} not found: build it first (scripts/setup.sh)"
done
for entry in "${plugins[@]}"; do
  item=${entry%% *}
  dir=$HOME/.${entry#* }
  mkdir -p -- "$dir"
  # Copied beside the target, then swapped in, so that a host never sees half a plug-in.
  tmp=$(mktemp -d "$dir/.$item.XXXXXX")
  cp -R -- "$from/$item" "$tmp/$item"
  rm -rf -- "${dir:?}/$item"
  mv -- "$tmp/$item" "$dir/$item"
  rmdir -- "$tmp"
  echo "installed $dir/$item"
done
for entry in "${preset_dirs[@]}"; do
  target=$(preset_target "${entry#* }")
  mkdir -p -- "$target"
  # File by file: a user's own presets in the same folder stay.
  cp -- "$from/${entry%% *}"* "$target/"
  echo "installed the factory presets into $target"
done
