#!/bin/sh
# Programs_test.sh CMAKE BUILD_DIR VERSION BINDIR MANDIR PROGRAM
#
# Installs BUILD_DIR with `cmake --install` into a scratch prefix, then checks
# that each installed program, with no display, prints "NAME VERSION" (or
# "NAME VERSION (git ...)") for --version and exits 0, that each has its page
# in MANDIR/man1, and that man shows PROGRAM's page with the usage line of its
# --help. The prefix is removed afterwards, and the build's
# install_manifest.txt (which `cmake --install` rewrites) is put back as it was.
set -eu
cmake=$1 build=$2 version=$3 bindir=$4 mandir=$5 shown=$6
: "${MAN:=man}"

scratch=$(mktemp -d)
manifest=$build/install_manifest.txt
restore() {
  if [ -e "$scratch/install_manifest.txt" ]; then
    mv -f "$scratch/install_manifest.txt" "$manifest"
  else
    rm -f "$manifest"
  fi
  rm -rf "$scratch"
}
if [ -e "$manifest" ]; then cp -p "$manifest" "$scratch/install_manifest.txt"; fi
trap restore EXIT
trap 'exit 1' INT TERM HUP
prefix=$scratch/prefix
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

if ! "$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log" >&2
  exit 1
fi

count=0
for program in "$prefix/$bindir"/*; do
  [ -f "$program" ] || continue
  name=${program##*/}
  count=$((count + 1))
  # Without a display: --version must not need one.
  if out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version); then
    case "$out" in
      "$name $version" | "$name $version (git "*")") ;;
      *) fail "$name --version printed '$out', not '$name $version'" ;;
    esac
  else
    fail "$name --version exited $?"
  fi
  [ -s "$prefix/$mandir/man1/$name.1" ] || fail "no manual page $mandir/man1/$name.1 for $name"
done
[ "$count" -gt 0 ] || fail "nothing was installed in $bindir"

# man finds the page by name in the prefix's manual tree and formats it; its
# synopsis is the usage line of the program's --help.
usage=$("$prefix/$bindir/$shown" --help | sed -n 's/^Usage: *//p' | head -n 1)
[ -n "$usage" ] || fail "$shown --help has no Usage: line"
page=$(MANWIDTH=80 MANPAGER=cat PAGER=cat "$MAN" -M "$prefix/$mandir" "$shown" 2>&1) || fail "man $shown: $page"
printf '%s\n' "$page" | grep -q "^SYNOPSIS" || fail "man $shown has no SYNOPSIS"
printf '%s\n' "$page" | grep -qF "$usage" || fail "man $shown does not show '$usage':
$page"

if [ "$failures" -ne 0 ]; then exit 1; fi
echo "$count programs installed, each with its version and manual page"
