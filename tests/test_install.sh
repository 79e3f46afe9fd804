#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs what was installed: each program's
# --version and --help (ASCII, at most 80 columns a line), its manual page through `man -l`
# with every section and no name broken at a hyphen (skipped where man is missing), the Python
# module's import (where it was built), and the Debian package that cpack makes: its fields,
# copyright file, changelog, stripped programs and the module (skipped without dpkg-shlibdeps),
# and lintian's verdict (skipped where lintian is missing).
# Usage: test_install.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: test_install.sh BUILD_DIR}" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
export LC_ALL=C

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"

# What each manual page must describe, read from the program's own --help.
declare -A option=([kestrane]="KVR13INH" [kestrane-batch]="--data-set" [kestrane-sample]="--force")

check_programs() {  # ROOT: a folder holding usr/bin and usr/share/man
  local root=$1 prog out page
  for prog in kestrane kestrane-batch kestrane-sample; do
    out=$("$root/usr/bin/$prog" --version) || fail "$prog --version exits $?"
    [ "$out" = "$prog $version" ] || fail "$prog --version printed '$out'"
    out=$("$root/usr/bin/$prog" --help) || fail "$prog --help exits $?"
    ! grep -n '[^ -~]' <<<"$out" || fail "$prog --help has a line that is not plain ASCII"
    ! grep -nE '^.{81}' <<<"$out" || fail "$prog --help has a line over 80 columns"
    page=$root/usr/share/man/man1/$prog.1.gz
    [ -f "$page" ] || fail "no manual page $page"
    if command -v man >/dev/null; then
      out=$(MANWIDTH=80 man -P cat -l "$page" 2>/dev/null) || fail "man -l $page"
      grep -q "^NAME" <<<"$out" || fail "$prog: the manual page has no NAME section"
      grep -q -- "${option[$prog]}" <<<"$out" || fail "$prog: the manual page lacks ${option[$prog]}"
      for section in SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES \
        "SEE ALSO"; do
        grep -qx "$section" <<<"$out" || fail "$prog: the manual page has no $section section"
      done
      # Nothing is hyphenated (.nh before the first section), and no option or file name is
      # broken across two lines at a hyphen, on a terminal of 80 columns or a narrow one.
      gzip -dc "$page" | sed -n '1,/^[.]SH /p' | grep -qx '[.]nh' ||
        fail "$prog: the manual page does not turn hyphenation off (.nh)"
      for width in 80 40; do
        broken=$(MANWIDTH=$width man -P cat -l "$page" 2>/dev/null |
          grep -E -- '(^|[[:space:]])(-|[^[:space:]]*/|kestrane)[^[:space:]]*-$') &&
          fail "$prog: at $width columns the manual page breaks a name at a hyphen: $broken"
      done
      if [ "$prog" = kestrane-batch ]; then
        # The six rows of the age table follow one another without a blank line.
        grep -A6 'Age groups of' <<<"$out" | tail -n 6 | grep -qv '^ *[1-6] ' &&
          fail "the age table of the manual page is broken by blank lines"
        for file in kestrane.lock kestrane.commit .partial -notes.csv .json; do
          grep -qF -- "$file" <<<"$out" || fail "FILES of $prog does not name $file"
        done
      fi
    else
      echo "man is missing: manual pages not shown"
    fi
  done
}

# The Python module, where the build made it: imported by Debian's python3 from the folder
# it is installed in.
check_module() {  # ROOT
  ls "$build"/python/kestrane.*.so >/dev/null 2>&1 || return 0
  local dir=$1/usr/lib/python3/dist-packages
  [ -f "$dir/kestrane.pyi" ] || fail "no kestrane.pyi in $dir"
  PYTHONPATH=$dir /usr/bin/python3 -c "import kestrane; kestrane.DoseRateFile" ||
    fail "python3 cannot import kestrane from $dir"
}

cmake --install "$build" --prefix "$tmp/inst/usr" >/dev/null
check_programs "$tmp/inst"
check_module "$tmp/inst"

if command -v dpkg-shlibdeps >/dev/null && command -v dpkg-deb >/dev/null; then
  (cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >/dev/null)
  deb=$(ls "$tmp"/pkg/*.deb)
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libc6 libstdc++6 libncurses; do
    grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib: $depends"
  done
  dpkg-deb -x "$deb" "$tmp/deb"
  check_programs "$tmp/deb"
  [[ "$(dpkg-deb -f "$deb" Version)" =~ ^"$version"-[0-9]+$ ]] ||
    fail "the package's version has no Debian revision: $(dpkg-deb -f "$deb" Version)"
  maintainer=$(dpkg-deb -f "$deb" Maintainer)
  [[ "$maintainer" =~ ^[^\<]+' <'[^@\>]+@[^@\>]+'>'$ && "$maintainer" != *@localhost* ]] ||
    fail "the maintainer is not a name and an address off localhost: $maintainer"
  [ "$(dpkg-deb -f "$deb" Description | wc -l)" -ge 4 ] || fail "the description has no long part"
  doc=$tmp/deb/usr/share/doc/kestrane
  grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$doc/copyright" || fail "no machine-readable copyright file"
  gzip -t "$doc/changelog.Debian.gz" || fail "no changelog.Debian.gz"
  [ -f "$doc/docs/sample-plot.svg" ] || fail "the README's picture is not installed"
  for prog in kestrane kestrane-batch kestrane-sample; do
    file "$tmp/deb/usr/bin/$prog" | grep -q ', stripped' || fail "$prog is not stripped"
  done
  if command -v lintian >/dev/null; then
    report=$(lintian --tag-display-limit 0 "$deb" 2>&1) || true
    echo "$report"
    ! grep -q '^E:' <<<"$report" || fail "lintian reports errors"
  else
    echo "lintian is missing: the package is not checked"
  fi
  check_module "$tmp/deb"
else
  echo "dpkg-shlibdeps is missing: Debian package not made"
fi
echo "install: ok"
