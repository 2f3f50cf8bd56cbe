#!/usr/bin/env bash
# Builds the Debian package of a build with CPack and checks its control data
# and contents; the programs unpacked from it run.
#   tests/install/package-test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg") \
  >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
debs=("$work"/pkg/*.deb)
[ ${#debs[@]} = 1 ] && [ -s "${debs[0]}" ] || fail "no single .deb: ${debs[*]}"
deb=${debs[0]}

[ "$(dpkg-deb -f "$deb" Package)" = arvelo ] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
# The package names alone, one per line.
tr ',' '\n' <<<"$depends" | awk '{ print $1 }' >"$work/depends"
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libsqlite3-0 \
  libpq5; do
  grep -qxF "$package" "$work/depends" || fail "Depends lacks $package: $depends"
done

dpkg-deb -c "$deb" | awk '{ print $NF }' >"$work/contents"
for file in ./usr/bin/arvelo ./usr/bin/arvelo-cli ./usr/bin/arvelo-sim \
  ./usr/share/applications/arvelo.desktop ./usr/share/icons/hicolor/scalable/apps/arvelo.svg \
  ./usr/share/icons/hicolor/64x64/apps/arvelo.png ./usr/share/arvelo/samples/demo.bin \
  ./usr/share/doc/arvelo/user-guide.md; do
  grep -qx -- "$file" "$work/contents" || fail "$file is not in the package"
done

dpkg-deb -x "$deb" "$work/root"
# Whole, before it is searched: grep -q leaving early would cut the pipe.
"$work/root/usr/bin/arvelo-cli" --help >"$work/help.txt" || fail "arvelo-cli --help"
grep -q '^  arvelo-cli dump ' "$work/help.txt" || fail "arvelo-cli --help names dump"
"$work/root/usr/bin/arvelo-sim" --help >/dev/null || fail "arvelo-sim --help"
echo "package test passed: $(basename "$deb")"
