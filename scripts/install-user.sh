#!/usr/bin/env bash
# Installs TALVOR's Linux plug-ins for the current user, without root:
#
#   scripts/install-user.sh [--from DIR]      copy into ~/.vst3, ~/.vst, ~/.lv2
#   scripts/install-user.sh --uninstall       remove them again
#
# DIR defaults to dist/linux-x86_64 or dist/linux-aarch64, whichever is this
# machine's (built by scripts/setup.sh). What goes where is listed in
# packaging/linux-plugins.txt (kind K -> ~/.K/). Folders are created when
# missing and never removed; an earlier copy of a plug-in is replaced whole;
# nothing but TALVOR's own plug-ins is touched.
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

plugins=()
while read -r item kind; do
  case $item in ''|'#'*) continue ;; esac
  plugins+=("$item $kind")
done <"$root/packaging/linux-plugins.txt"

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
  exit 0
fi

# Everything is checked before anything is copied.
for entry in "${plugins[@]}"; do
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
