#!/usr/bin/env bash
# Builds TALVOR's Debian package from the Linux deliverables with Debian's own
# tools only (dpkg-shlibdeps, dpkg-deb; no network):
#
#   make-deb.sh --dist DIR --work DIR --out FILE.deb --name NAME --version V \
#               --maintainer "NAME <EMAIL>" --homepage URL [--arch ARCH] [--strip STRIP]
#
# DIR is dist/linux-x86_64 (ARCH amd64, the default) or dist/linux-aarch64
# (ARCH arm64, STRIP aarch64-linux-gnu-strip: the host's strip knows x86-64
# only); what goes where is listed in linux-plugins.txt beside this script
# (kind K -> /usr/lib/K/, preset folders -> /usr/share/). The package holds stripped
# copies of the modules, the copyright file and the changelog. Called by
# packaging/CMakeLists.txt.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
die() { printf 'make-deb.sh: %s\n' "$*" >&2; exit 1; }

dist= work= out= name= version= maintainer= homepage= arch=amd64 strip=strip
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || die "$1 needs a value"
  case $1 in
    --dist) dist=$2 ;; --work) work=$2 ;; --out) out=$2 ;; --name) name=$2 ;;
    --version) version=$2 ;; --maintainer) maintainer=$2 ;; --homepage) homepage=$2 ;;
    --arch) arch=$2 ;; --strip) strip=$2 ;;
    *) die "unknown option $1" ;;
  esac
  shift 2
done
for v in dist work out name version maintainer homepage; do
  [ -n "${!v}" ] || die "--$v is missing"
done
package=$(printf '%s' "$name" | tr '[:upper:]' '[:lower:]')
changelog_version=$(dpkg-parsechangelog -l "$here/debian/changelog" -SVersion)
[ "$changelog_version" = "$version" ] \
  || die "packaging/debian/changelog is at version $changelog_version, the project at $version: add an entry"

root=$work/root
rm -rf "$work"
mkdir -p "$root/DEBIAN" "$root/usr/share/doc/$package" "$work/debian"

# The plug-ins, into the folders Debian's own plug-in packages use; the
# factory presets' folders, by their files, into /usr/share.
modules=()
while read -r item kind; do
  case $item in ''|'#'*) continue ;; esac
  [ -e "$dist/$item" ] || die "$dist/$item is missing (build the Linux modules first)"
  case $item in
    */) mkdir -p "$root/usr/$kind" && cp "$dist/$item"* "$root/usr/$kind/" ;;
    *) mkdir -p "$root/usr/lib/$kind" && cp -R "$dist/$item" "$root/usr/lib/$kind/" ;;
  esac
done <"$here/linux-plugins.txt"
while IFS= read -r -d '' so; do modules+=("$so"); done \
  < <(find "$root/usr/lib" -type f -name '*.so' -print0 | sort -z)
[ ${#modules[@]} -gt 0 ] || die "no modules found in $dist"
"$strip" --strip-unneeded --remove-section=.comment --remove-section=.note "${modules[@]}"

cp "$here/debian/copyright" "$root/usr/share/doc/$package/copyright"
# A native package's changelog is changelog.gz.
gzip -9n <"$here/debian/changelog" >"$root/usr/share/doc/$package/changelog.gz"
find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +

# Depends: what the modules' shared libraries need, as dpkg-shlibdeps works it
# out from the installed packages' symbol files (for arm64, those of the
# multiarch arm64 libraries).
printf 'Source: %s\n\nPackage: %s\nArchitecture: %s\n' "$package" "$package" "$arch" >"$work/debian/control"
# dpkg-architecture checks the target against the C compiler's: name the
# target's (the cross compiler, for arm64 on x86-64).
CC=$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)-gcc
export CC
shlibs=$(cd "$work" && dpkg-architecture -a"$arch" -c dpkg-shlibdeps -O "${modules[@]/#/-e}" 2>"$work/shlibdeps.log") \
  || { cat "$work/shlibdeps.log" >&2; die "dpkg-shlibdeps failed"; }
depends=${shlibs#shlibs:Depends=}
[ -n "$depends" ] && [ "$depends" != "$shlibs" ] || die "dpkg-shlibdeps found no dependencies"

size=$(du -sk --apparent-size "$root/usr" | cut -f1)
sed -e "s|@PACKAGE@|$package|" -e "s|@VERSION@|$version|" -e "s|@MAINTAINER@|$maintainer|" \
    -e "s|@INSTALLED_SIZE@|$size|" -e "s|@DEPENDS@|$depends|" -e "s|@HOMEPAGE@|$homepage|" \
    -e "s|@NAME@|$name|" -e "s|@ARCH@|$arch|" "$here/debian/control.in" >"$root/DEBIAN/control"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

# Reproducible: every time stamp is the changelog's.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$here/debian/changelog" -STimestamp)
export SOURCE_DATE_EPOCH
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
mkdir -p "$(dirname "$out")"
dpkg-deb --root-owner-group -Zxz --build "$root" "$out.tmp" >/dev/null
mv "$out.tmp" "$out"
echo "Built $out"
