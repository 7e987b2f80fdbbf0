#!/usr/bin/env bash
# Checks the Debian package that `make deb` made, without installing it: lintian finds no error,
# the dependencies were derived, the package holds what an installation needs, and the programs,
# manual pages, completion, desktop entry and AppStream metadata work from the unpacked files.
#   check_deb.sh BUILD
set -uo pipefail
build=${1:?usage: check_deb.sh BUILD}
src=$(cd "$(dirname "$0")/.." && pwd)
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

debs=("$build"/quarnel_*_amd64.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "FAIL: expected one $build/quarnel_<version>_amd64.deb, found: ${debs[*]}"
    exit 1
fi
deb=${debs[0]}
version=$("$build/quarnel-cli" --version | grep -o '[0-9][0-9.]*' | head -n 1)
[ "$(basename "$deb")" == "quarnel_${version}_amd64.deb" ] ||
    fail "$(basename "$deb") is not named quarnel_${version}_amd64.deb"

# Dependencies come from dpkg-shlibdeps: the C library and GTK at least, with versions.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libgtk-3-0; do
    grep -q "$library (>= " <<<"$depends" || fail "Depends lacks $library: $depends"
done

# lintian: no error. Warnings are shown; the ones left are explained in docs/development.md.
if command -v lintian >/dev/null; then
    report=$(lintian --fail-on error "$deb" 2>&1)
    status=$?
    grep -v 'running with root privileges' <<<"$report"
    [ "$status" -eq 0 ] || fail "lintian reports errors"
else
    fail "lintian is not installed (make deps installs it)"
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
for file in usr/bin/quarnel usr/bin/quarnel-cli usr/share/man/man1/quarnel.1.gz \
    usr/share/man/man1/quarnel-cli.1.gz usr/share/bash-completion/completions/quarnel-cli \
    usr/share/quarnel/readme.txt usr/share/applications/quarnel.desktop \
    usr/share/metainfo/org.quarnel.Quarnel.metainfo.xml usr/share/doc/quarnel/copyright \
    usr/share/icons/hicolor/48x48/apps/quarnel.png usr/share/icons/hicolor/scalable/apps/quarnel.svg; do
    [ -s "$root/$file" ] || fail "the package lacks /$file"
done

# The programs from the package: they find their libraries, and the command line prints what
# the build's does.
cli=$root/usr/bin/quarnel-cli
ldd "$root/usr/bin/quarnel" "$cli" | grep -q 'not found' && fail "a library is missing: $(ldd "$root/usr/bin/quarnel" | grep 'not found')"
# Help reads readme.txt from the data folder compiled into the window: the package's.
grep -q -a /usr/share/quarnel "$root/usr/bin/quarnel" && ! grep -q -a /usr/local/share "$root/usr/bin/quarnel" ||
    fail "the packaged quarnel does not look for readme.txt in /usr/share/quarnel"
[ "$("$cli" --version)" == "$("$build/quarnel-cli" --version)" ] || fail "quarnel-cli --version differs"
sample=$src/samples/sample.elf
checksum=$("$cli" --checksum "$sample") || fail "quarnel-cli --checksum failed"
[ "$checksum" == "$("$build/quarnel-cli" --checksum "$sample")" ] || fail "the checksum differs: $checksum"
cmp -s <("$cli" --search "$src/samples/search.txt" --replace "$src/samples/replace.txt" "$sample") \
    <("$build/quarnel-cli" --search "$src/samples/search.txt" --replace "$src/samples/replace.txt" "$sample") ||
    fail "the packaged quarnel-cli's result differs from the build's"

# The manual pages read with man, the completion loads, the desktop files validate.
if command -v man >/dev/null; then
    for page in quarnel-cli quarnel; do
        text=$(MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1.gz" 2>&1)
        grep -q "^NAME" <<<"$text" && grep -q "$page - " <<<"$text" || fail "man $page: $text"
    done
else
    fail "man is not installed (make deps installs it)"
fi
bash -c "source '$root/usr/share/bash-completion/completions/quarnel-cli' && complete -p quarnel-cli" \
    >/dev/null || fail "the completion does not register for quarnel-cli"
desktop-file-validate "$root/usr/share/applications/quarnel.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --explain "$root/usr/share/metainfo/org.quarnel.Quarnel.metainfo.xml" >/dev/null ||
    fail "appstreamcli validate: $(appstreamcli validate --no-net "$root/usr/share/metainfo/org.quarnel.Quarnel.metainfo.xml")"

[ $failed -eq 0 ] && echo "$(basename "$deb"): ok ($(dpkg-deb -f "$deb" Installed-Size) KiB installed; Depends: $depends)"
exit $failed
