# shellcheck shell=bash disable=SC2034  # sets variables for the script that sources it
# Sourced by scripts/windows and scripts/windows-qt: the Windows builds are
# made from Debian's own sources of what they need.
#
# unpack_source PACKAGE VERSION NAME FOLDER: unpacks Debian's source of
# package=version (with Debian's patches, its security fixes among them)
# into FOLDER/NAME-VERSION, once, and sets src to that folder. apt-get source
# needs a deb-src entry; the machine may have only deb ones.
unpack_source() {
  local package=$1 version=$2 name=$3 folder=$4 sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  src=$folder/$name-${version#*:}
  mkdir -p "$folder"
  if [ -d "$src" ]; then
    return
  fi
  if ! (cd "$folder" && apt-get source --download-only -qq "$package=$version"); then
    local codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "adding Debian's source packages to apt (/etc/apt/sources.list.d/arvelo-deb-src.sources)"
    printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" \
      "Suites: $codename $codename-updates" "Components: main" \
      "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
      $sudo tee /etc/apt/sources.list.d/arvelo-deb-src.sources >/dev/null
    $sudo apt-get update -qq
    (cd "$folder" && apt-get source --download-only -qq "$package=$version")
  fi
  rm -rf "$src.part"
  (cd "$folder" && dpkg-source -x "${package}_${version#*:}.dsc" "$src.part") \
    >"$folder/$name.unpack.log" 2>&1 || { cat "$folder/$name.unpack.log"; exit 1; }
  mv "$src.part" "$src"
}

# archive_sources: the archive's SQLite and zlib for a Windows build, from
# Debian's sources of the versions installed here: zlib as it is, SQLite as
# its one-file amalgamation, which the source's own tools make once (tclsh
# and the host's compiler, some 20 seconds). Both are kept in
# $ARVELO_WINDOWS_SOURCES (default ~/.cache/arvelo/windows-sources); sets
# zlib and sqlite to their folders, to be passed as ARVELO_ZLIB_SOURCE and
# ARVELO_SQLITE_SOURCE.
archive_sources() {
  local sources=${ARVELO_WINDOWS_SOURCES:-${XDG_CACHE_HOME:-$HOME/.cache}/arvelo/windows-sources}
  unpack_source zlib "$(dpkg-query -W -f='${source:Version}' zlib1g-dev)" zlib "$sources"
  zlib=$src
  local sqlite_version
  sqlite_version=$(dpkg-query -W -f='${source:Version}' libsqlite3-dev)
  unpack_source sqlite3 "$sqlite_version" sqlite "$sources"
  sqlite=$sources/sqlite-amalgamation-$sqlite_version
  if [ ! -f "$sqlite/sqlite3.c" ]; then
    rm -rf "$sqlite.part"
    mkdir -p "$sqlite.part/build"
    (cd "$sqlite.part/build" && "$src/configure" --disable-tcl && make sqlite3.c) \
      >"$sources/sqlite-amalgamation.log" 2>&1 || { cat "$sources/sqlite-amalgamation.log"; exit 1; }
    mv "$sqlite.part/build/sqlite3.c" "$sqlite.part/build/sqlite3.h" "$sqlite.part/"
    rm -rf "$sqlite.part/build"
    mv "$sqlite.part" "$sqlite"
  fi
}
