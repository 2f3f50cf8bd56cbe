#!/usr/bin/env bash
# Installs a build into a temporary prefix, checks what was installed, and
# downloads the installed sample reader with the installed arvelo-cli from the
# installed arvelo-sim (fast mode), the way a user of the installation would.
#   tests/install/install-test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
  { cat "$work/install.log"; fail "cmake --install"; }

for file in bin/arvelo bin/arvelo-cli bin/arvelo-sim \
  share/applications/arvelo.desktop \
  share/icons/hicolor/scalable/apps/arvelo.svg share/icons/hicolor/64x64/apps/arvelo.png \
  share/arvelo/samples/demo.bin share/arvelo/samples/pump-test.json \
  share/arvelo/samples/well-field-visit-1.bin share/arvelo/samples/well-field-visit-2.bin \
  share/arvelo/samples/well-field-visit-3.bin \
  share/doc/arvelo/user-guide.md share/doc/arvelo/sim-image-format.md; do
  [ -s "$prefix/$file" ] || fail "$file is not installed"
done
for program in arvelo arvelo-cli arvelo-sim; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
  ! ldd "$prefix/bin/$program" | grep 'not found' || fail "bin/$program misses a library"
  ! readelf -d "$prefix/bin/$program" | grep -E 'R(UN)?PATH' | grep -qF "$build" ||
    fail "bin/$program still looks into the build folder"
done
grep -qx 'Exec=arvelo' "$prefix/share/applications/arvelo.desktop" || fail "desktop entry Exec"
grep -qx 'Icon=arvelo' "$prefix/share/applications/arvelo.desktop" || fail "desktop entry Icon"
# Every picture the guide shows is installed beside it.
guide=$prefix/share/doc/arvelo
for picture in $(grep -o 'screenshots/[A-Za-z0-9_.-]*\.png' "$guide/user-guide.md" | sort -u); do
  [ -s "$guide/$picture" ] || fail "the guide shows $picture, which is not installed"
done

# Private configuration and data folders: its own COM links, no stored
# settings, its own archive.
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
"$prefix/bin/arvelo-sim" serve --image "$prefix/share/arvelo/samples/demo.bin" --fast \
  >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
port=""
for _ in $(seq 100); do
  port=$(awk '$1 == "ready" { print $2; exit }' "$work/sim.out")
  [ -n "$port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.err"; fail "arvelo-sim did not start"; }
  sleep 0.1
done
[ -n "$port" ] || fail "arvelo-sim did not say ready"
"$prefix/bin/arvelo-cli" ports | grep -q "^$port: " || fail "arvelo-cli ports does not list $port"

out=$work/out
mkdir "$out"
"$prefix/bin/arvelo-cli" download --port "$port" --out "$out" >"$work/cli.out" 2>"$work/cli.err" ||
  { cat "$work/cli.err"; fail "arvelo-cli download exited $?"; }

# The first-use file names: location, serial number, last date.
expected="saved $out/HARBOUR_GAUGE_320417_03_31_24.omb
saved $out/WELLFIELD_NORTH_PT231882_05_14_24.omb
saved $out/FLUME_A_OUTFALL40551_06_05_24.omb
saved $out/RAIN_GAUGE_HILLTOP60913_09_16_24.omb"
[ "$(cat "$work/cli.out")" = "$expected" ] ||
  { cat "$work/cli.out"; fail "arvelo-cli did not report the four sample logs"; }
[ "$(find "$out" -type f | wc -l)" = 4 ] || fail "other files than the four logs in $out"

# Each file is whole: its title, CR LF line ends, as many data lines as its
# count says, the closing line.
for file in "$out"/*.omb; do
  tr -d '\r' <"$file" >"$work/lines"
  [ "$(grep -c $'\r$' "$file")" = "$(wc -l <"$file")" ] || fail "$file: not every line ends in CR LF"
  [ "$(head -1 "$work/lines")" = "Data file for ZozuVaduru." ] || fail "$file: title"
  [ "$(tail -1 "$work/lines")" = "END OF DATA FILE OF ZOZUVADURU FOR WINDOWS" ] ||
    fail "$file: closing line"
  count=$(awk '/^\[Data\]/ { getline; print; exit }' "$work/lines")
  data=$(awk '/^\[Data\]/ { getline; on = 1; next } /^END OF DATA FILE/ { on = 0 } on' \
    "$work/lines" | wc -l)
  [ "$count" -gt 0 ] && [ "$count" = "$data" ] || fail "$file: [Data] says $count, holds $data"
done
grep -q '^  Location                =HARBOUR GAUGE 3' "$out/HARBOUR_GAUGE_320417_03_31_24.omb" ||
  fail "the first log's location"
echo "install test passed: $(ls "$out" | wc -l) logs downloaded with the installed programs"
