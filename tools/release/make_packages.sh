#!/usr/bin/env bash
# make_packages.sh RELEASE_BUILD WINDOWS_BUILD OUT: into OUT, the Debian package of the console
# program, tev-upgrade_VERSION_ARCH.deb (CPack over RELEASE_BUILD's install rules), and the
# Windows zip, tev-upgrade-VERSION-windows.zip (WINDOWS_BUILD's program, README.txt with CR LF
# line ends and SHA256SUMS of both). VERSION is the console program's own, from its --version.
# Prints the two files' names. RELEASE_BUILD must hold the built program and its texts.
set -euo pipefail
release=$(realpath "$1") windows=$(realpath "$2")
mkdir -p "$3"
out=$(realpath "$3")
source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$release/CMakeCache.txt")
version=$("$release/tev-upgrade" --version | sed -n '1s/^tev-upgrade //p')
[ -n "$version" ] || { echo "$release/tev-upgrade --version names no version" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The package: CPack installs the rules' files below a staging /usr, strips the program, and
# has dpkg-shlibdeps compute the dependencies.
cpack --config "$release/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; exit 1; }
packages=("$work"/deb/tev-upgrade_"$version"_*.deb)
[ -f "${packages[0]}" ] || { cat "$work/cpack.log" >&2; echo "cpack made no package" >&2; exit 1; }
deb=$(basename "${packages[0]}")
mv "${packages[0]}" "$out/$deb"

# The zip: what a Windows user unpacks anywhere, with a text Notepad reads.
mkdir "$work/zip"
i686-w64-mingw32-strip -o "$work/zip/tev-upgrade.exe" "$windows/tev-upgrade.exe"
{
    cat "$release/README.txt"
    printf '\r\nCopyright\r\n---------\r\n'
    sed 's/$/\r/' "$source_dir/deploy/debian/copyright"
} >"$work/zip/README.txt"
(cd "$work/zip" && sha256sum tev-upgrade.exe README.txt >SHA256SUMS)
zip_name=tev-upgrade-$version-windows.zip
rm -f "$out/$zip_name"
(cd "$work/zip" && zip -q -X "$out/$zip_name" tev-upgrade.exe README.txt SHA256SUMS)
echo "$deb"
echo "$zip_name"
