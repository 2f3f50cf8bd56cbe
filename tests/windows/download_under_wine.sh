#!/usr/bin/env bash
# arvelo-cli.exe, run under Wine, downloads the virtual reader through a Wine
# COM port (a link in the prefix's dosdevices to the reader's pseudo-terminal)
# and saves the files the Linux arvelo-cli saves from the same reader, byte for
# byte, but for the two lines that must differ: the time of the download and
# the file's own path. Locations a Windows file name cannot take as they are
# get Windows names. Prints the download's time on the paced line and its
# line-rate ratio (wire time of every byte / time taken).
#   tests/windows/download_under_wine.sh LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
linux=$(realpath "$1")
windows=$(realpath "$2")
root=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$windows/wineprefix} WINEDEBUG=-all
work=$(mktemp -d)
export XDG_CONFIG_HOME=$work/config # the readers' COM links stay in here
export XDG_DATA_HOME=$work/data     # and the Linux download's archive
link=$WINEPREFIX/dosdevices/com21
readers=()
cleanup() {
  kill "${readers[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -f "$link"
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

sim=$linux/tools/sim/arvelo-sim
images=()
for f in "$root"/tools/sim/samples/*.json "$root/tests/windows/hostile-names.json"; do
  images+=(--logs "$f")
done
"$sim" make-image "${images[@]}" --out "$work/reader.bin" 2>/dev/null

# Starts a virtual reader on the image; sets port and device from its ready line.
serve() {
  local ready=$work/ready.${#readers[@]}
  "$sim" serve --image "$work/reader.bin" "$@" >"$ready" 2>/dev/null &
  readers+=($!)
  for _ in $(seq 100); do
    grep -q '^ready' "$ready" && break
    sleep 0.1
  done
  read -r _ port device <"$ready" || fail "the virtual reader did not start"
}

# The Linux build's files, from an unpaced reader.
serve --fast
mkdir "$work/linux"
"$linux/tools/cli/arvelo-cli" download --port "$port" --out "$work/linux" --name-parts 2 \
  --timeout 5 --archive "$work/linux.sqlite" >"$work/linux.out" 2>&1 ||
  fail "the Linux download failed"

# The Windows build's files, from a reader paced at 9600 baud.
serve --baud 9600
ln -sfn "$device" "$link"
mkdir "$work/windows"
winpath() { echo "Z:${1//\//\\}"; }
start=$(date +%s%N)
wine "$windows/tools/cli/arvelo-cli.exe" download --port COM21 --out "$(winpath "$work/windows")" \
  --name-parts 2 --timeout 5 --trace "$(winpath "$work/trace.txt")" \
  --archive "$(winpath "$work/windows.sqlite")" >"$work/windows.out" 2>&1 ||
  fail "the download under Wine failed: $(cat "$work/windows.out")"
nanoseconds=$(($(date +%s%N) - start))

# The Windows names of the locations Windows cannot take as they are.
declare -A windows_name=(
  ['CON.omb']='CONa.omb'
  ['a\b*c?d"e<f>g|h.omb']='a_b_c_d_e_f_g_h.omb'
)
mapfile -t linux_saved < <(sed -n 's/^saved //p' "$work/linux.out")
mapfile -t windows_saved < <(sed -n 's/^saved //p' "$work/windows.out" | tr -d '\r')
[ "${#linux_saved[@]}" -ge 6 ] || fail "the Linux download saved ${#linux_saved[@]} files"
[ "${#windows_saved[@]}" -eq "${#linux_saved[@]}" ] ||
  fail "Linux saved ${#linux_saved[@]} files, Windows ${#windows_saved[@]}"
# shellcheck source=tests/windows/same-as-linux.sh
. "$root/tests/windows/same-as-linux.sh"
for i in "${!linux_saved[@]}"; do
  linux_file=${linux_saved[i]}
  name=$(basename "$linux_file")
  expected=${windows_name[$name]:-$name}
  saved=${windows_saved[i]}
  [ "${saved##*\\}" = "$expected" ] || fail "Windows named $name '${saved##*\\}', not '$expected'"
  windows_file=$work/windows/$expected
  [ -f "$windows_file" ] || fail "Windows reported $saved but $windows_file is not there"
  why=$(same_as_linux "$linux_file" "$windows_file" "$saved") || fail "$expected $why"
done

# The archive under Wine holds what the Linux build's holds, and gives its
# first download back byte for byte. The time of each import aside.
archive_linux() { "$linux/tools/cli/arvelo-cli" archive "$@" --archive "$work/linux.sqlite"; }
archive_windows() {
  wine "$windows/tools/cli/arvelo-cli.exe" archive "$@" --archive "$(winpath "$work/windows.sqlite")" |
    tr -d '\r'
}
imported='s/[0-9-]\{10\}T[0-9:]\{8\}Z/(imported)/g'
for listing in loggers gaps conflicts; do
  cmp -s <(archive_linux "$listing" | sed "$imported") <(archive_windows "$listing" | sed "$imported") ||
    fail "archive $listing differs under Wine: $(archive_windows "$listing")"
done
serial=$(archive_linux loggers | awk 'NR == 1 { p = index($0, "instrument") } NR == 2 {
  s = substr($0, 1, p - 1); sub(/ +$/, "", s); print s }')
cmp -s <(archive_linux series "$serial" 1) <(archive_windows series "$serial" 1) ||
  fail "archive series $serial 1 differs under Wine"
archive_windows export --download 1 --out "$(winpath "$work/exported.omb")" >/dev/null
cmp -s "$work/exported.omb" "$work/windows/${windows_saved[0]##*\\}" ||
  fail "the first download exported under Wine is not its file"

# Wire time: ten bits a byte at 9600 baud for every byte of the trace.
read -r bytes first last < <(awk '
  / (->|<-) / {
    split($1, t, ":"); s = t[1] * 3600 + t[2] * 60 + t[3]
    if (first == "") first = s
    last = s
    for (i = 3; i <= NF && $i !~ /^\|/; i++) n++
  }
  END { print n, first, last }' "$work/trace.txt")
echo "windows_e2e: ${#windows_saved[@]} files equal the Linux build's; $bytes bytes on the line"
awk -v ns="$nanoseconds" -v bytes="$bytes" -v first="$first" -v last="$last" 'BEGIN {
  printf "wine_download_seconds %.1f s (arvelo-cli.exe under Wine, start to exit)\n", ns / 1e9
  printf "wine_download_line_rate_ratio %.3f\n", bytes * 10 / 9600 / (last - first)
}'
