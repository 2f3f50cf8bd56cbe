# shellcheck shell=bash
# Sourced by the Windows download checks (tests/windows/download_under_wine.sh
# and scripts/windows-qt --test): what may differ between a file the Linux
# build saves and the same log saved on Windows.
#
# same_as_linux LINUX_FILE WINDOWS_FILE WINDOWS_PATH: the Windows file holds
# the Linux file's bytes but for the two lines that must differ, the time of
# the download and the file's own path, which it names as WINDOWS_PATH. Says
# which of the two failed, and returns 1, when not.
same_as_linux() {
  local comparable='^\(TIME\|FILENAME\) *:'
  cmp -s <(grep -av "$comparable" "$1") <(grep -av "$comparable" "$2") ||
    { echo "differs from the Linux build's file"; return 1; }
  grep -aqxF "FILENAME   : $3"$'\r' "$2" || { echo "does not name itself"; return 1; }
}
