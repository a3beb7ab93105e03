#!/usr/bin/env bash
# packages.sh RELEASE_BUILD WINDOWS_BUILD WORK: the release's packages as ./run release makes them
# (tools/release/make_packages.sh), checked as their users meet them.
# - The Debian package: named after the program's version, root's files with their modes, every
#   library the program links named in Depends, no error from lintian; installed into a scratch
#   root by dpkg (never this machine's /usr), it holds exactly its files, the program runs,
#   the manual page reads and names only files that are there, bash-completion finds the
#   completion; removed, it leaves nothing behind.
# - The Windows zip: exactly the exe, README.txt and SHA256SUMS, the sums right, README.txt in
#   CR LF lines with its parts and the notices the program's libraries ask for.
set -euo pipefail
release=$(realpath "$1") windows=$(realpath "$2") work=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/fail.sh"
rm -rf "$work" && mkdir -p "$work"
cd "$work"

made=$("$here/../../tools/release/make_packages.sh" "$release" "$windows" out) ||
    fail "make_packages.sh failed"
deb=out/$(sed -n 1p <<<"$made") zip=out/$(sed -n 2p <<<"$made")
version=$("$release/tev-upgrade" --version | sed -n '1s/^tev-upgrade //p')
arch=$(dpkg --print-architecture)
[ "$deb" = "out/tev-upgrade_${version}_$arch.deb" ] || fail "the package is $deb"
[ "$zip" = "out/tev-upgrade-$version-windows.zip" ] || fail "the zip is $zip"

# --- The package, as dpkg and lintian read it.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = tev-upgrade ] && [ "$(field Version)" = "$version" ] &&
    [ "$(field Architecture)" = "$arch" ] || fail "control: $(dpkg-deb --field "$deb")"
# Every entry root's; the program 0755, every other file 0644, every folder 0755.
dpkg-deb --contents "$deb" | awk '
    $2 != "root/root" { print "owner " $2 ": " $6; bad = 1 }
    $1 ~ /^d/ && $1 != "drwxr-xr-x" { print "mode " $1 ": " $6; bad = 1 }
    $1 ~ /^-/ && $1 != ($6 == "./usr/bin/tev-upgrade" ? "-rwxr-xr-x" : "-rw-r--r--") {
        print "mode " $1 ": " $6; bad = 1 }
    END { exit bad }' || fail "entries not as a package installs them"
depends=$(field Depends)
echo "Depends: $depends"
# The packages Depends names, one a line, without versions and alternatives' bars.
depended=$(sed 's/([^)]*)//g; s/[,|]/\n/g' <<<"$depends" | tr -d ' ' | grep .)
lintian --fail-on error "$deb" >lintian.txt 2>&1 || { cat lintian.txt; fail "lintian reports errors"; }
echo "lintian:"
cat lintian.txt

# --- Installed into a scratch root whose dpkg knows only the packages the program depends on,
# copied from this machine's (where their libraries are, that the program loads).
root=$PWD/root admin=$PWD/root/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
touch "$admin/available"
for name in $depended; do
    { dpkg-query --status "$name:$arch" 2>/dev/null || dpkg-query --status "$name"; } \
        >>"$admin/status" || fail "Depends names $name, not installed here"
    echo >>"$admin/status"
    touch "$admin/info/$name.list" "$admin/info/$name:$arch.list"
done
before=$(find "$root" | sort)
dpkg --root="$root" --install "$deb" >install.log 2>&1 || { cat install.log; fail "dpkg --install"; }

program=$root/usr/bin/tev-upgrade
[ "$("$program" --version | head -n1)" = "tev-upgrade $version" ] ||
    fail "the installed program says $("$program" --version | head -n1)"
# Each library the program loads comes from a package that Depends names.
for library in $(objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }'); do
    path=$(ldd "$program" | awk -v lib="$library" '$1 == lib { print $3 }')
    owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null ||
            dpkg -S "$(realpath "$path")") || fail "no package holds $library ($path)"
    owner=${owner%%:*}
    grep -qxF "$owner" <<<"$depended" || fail "$library is $owner's, not in Depends"
done

# The program, its page and completion, README with the pages of docs/ it links, the copyright
# and the changelog: nothing else.
installed=$(cd "$root" && find usr ! -type d | sort)
expected=$( (printf '%s\n' usr/bin/tev-upgrade usr/share/bash-completion/completions/tev-upgrade \
    usr/share/doc/tev-upgrade/README.md usr/share/doc/tev-upgrade/changelog.gz \
    usr/share/doc/tev-upgrade/copyright usr/share/man/man1/tev-upgrade.1.gz
    cd "$here/../.." && find docs -type f | sed 's|^|usr/share/doc/tev-upgrade/|') | sort)
[ "$installed" = "$expected" ] || fail "installed: $(diff <(echo "$expected") <(echo "$installed"))"

page=$root/usr/share/man/man1/tev-upgrade.1.gz
shown=$(MANWIDTH=200 man --warnings -l "$page" 2>man-warnings.txt | col -b)
[ ! -s man-warnings.txt ] || fail "man warns: $(cat man-warnings.txt)"
grep -q "tev-upgrade $version" <<<"$shown" || fail "the page names another version"
for path in $(grep -oE '/usr/share/[A-Za-z0-9/._-]*[A-Za-z0-9]' <<<"$shown" | sort -u); do
    [ -e "$root$path" ] || fail "the page names $path, which the package does not install"
done
# bash-completion loads the completion from the root's share folder when tev-upgrade is first
# completed, as it would from /usr/share.
loaded=$(XDG_DATA_DIRS=$root/usr/share bash -c '
    source /usr/share/bash-completion/bash_completion
    __load_completion tev-upgrade && complete -p tev-upgrade &&
    shopt -s extdebug && declare -F "$(complete -p tev-upgrade | sed -E "s/.* -F ([^ ]+) .*/\1/")"')
grep -qF "$root/usr/share/bash-completion/completions/tev-upgrade" <<<"$loaded" ||
    fail "bash-completion did not load the installed completion: $loaded"

dpkg --root="$root" --remove tev-upgrade >remove.log 2>&1 || { cat remove.log; fail "dpkg --remove"; }
status=$(dpkg-query --admindir="$admin" --show --showformat='${db:Status-Abbrev}' tev-upgrade 2>&1 || true)
[[ $status == un* || $status == *"no packages found"* ]] || fail "after the removal: $status"
left=$(comm -13 <(echo "$before") <(find "$root" | sort) | grep -v "^$admin/" || true)
[ -z "$left" ] || fail "left behind: $left"

# --- The zip, as a Windows user unpacks it.
[ "$(unzip -Z1 "$zip" | sort)" = "$(printf '%s\n' README.txt SHA256SUMS tev-upgrade.exe)" ] ||
    fail "the zip holds: $(unzip -Z1 "$zip")"
unzip -q "$zip" -d unpacked
(cd unpacked && sha256sum --check --quiet SHA256SUMS) || fail "SHA256SUMS does not match"
file unpacked/tev-upgrade.exe | grep -q "PE32 executable (GUI) Intel 80386" ||
    fail "the exe: $(file unpacked/tev-upgrade.exe)"
readme=unpacked/README.txt
! grep -q $'[^\r]$\|^$' "$readme" || fail "README.txt has a line without CR LF"
for part in "Running it" "Switches" "Exit status" "Many devices: the list window" "/device" \
    "/yes" "Permission is hereby granted"; do
    grep -qF -- "$part" "$readme" || fail "README.txt lacks '$part'"
done
echo "ok: $(basename "$deb") ($(stat -c %s "$deb") bytes), $(basename "$zip") ($(stat -c %s "$zip") bytes)"
