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
