#!/usr/bin/env bash
# The package's data files as they are in the source tree: the desktop entry passes
# desktop-file-validate, the AppStream metadata passes appstreamcli validate, names the desktop
# entry as its launchable, and its newest release is the project's version.
# Usage: data_files_test.sh SOURCE_DIR PROJECT_VERSION
set -uo pipefail
source_dir=$1
version=$2
id=com.brantlesoftware.Fennick
desktop=$source_dir/data/$id.desktop
metainfo=$source_dir/data/$id.metainfo.xml
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

for tool in desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps installs it)"; exit 1; }
done
desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate --no-net $metainfo"
grep -q "<id>$id</id>" "$metainfo" || fail "$metainfo: the id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "$metainfo: the launchable is not $id.desktop"
grep -qx "Icon=fennick" "$desktop" || fail "$desktop: Icon is not fennick"
grep -qx "Exec=fennick %F" "$desktop" || fail "$desktop: Exec does not start fennick"
# Releases are listed newest first.
newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
[[ $newest == "$version" ]] ||
  fail "$metainfo: the newest release is '$newest', the project's version is $version"

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "desktop entry and AppStream metadata are valid"
