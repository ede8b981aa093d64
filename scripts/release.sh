#!/usr/bin/env bash
# Builds a release into dist/ (or $VELLMARK_DIST): vellmark-VERSION-portable.zip (the
# program and its read-me), vellmark-VERSION-setup.exe (the installer) and
# vellmark-VERSION-SHA256SUMS.txt, VERSION being the one the program shows. Installs
# what is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Folders given relative to the caller's directory, made absolute before anything runs
# elsewhere (Wine needs an absolute prefix).
build=$(realpath -m "${VELLMARK_BUILD:-$root/build}")
dist=$(realpath -m "${VELLMARK_DIST:-$root/dist}")

"$root/scripts/setup.sh"
# The build leaves the installer out without NSIS, and a release without it is no release.
if ! command -v makensis >/dev/null; then
  echo "release.sh: makensis not found, so no installer can be built; install the nsis package" >&2
  exit 1
fi
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
cmake --build "$build" --target vellmark installer -j"$(nproc)"

version=$(cat "$build/packaging/version.txt")
name=vellmark-$version
setup=$build/packaging/$name-setup.exe

# The zip holds one folder, so that unpacking it never scatters files; the read-me gets
# Windows line ends for Notepad.
stage=$build/portable
rm -rf "$stage"
mkdir -p "$stage/$name" "$dist"
cp "$build/vellmark.exe" "$stage/$name/"
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$root/packaging/README.txt" >"$stage/$name/README.txt"
rm -f "$dist/$name-portable.zip" "$dist/$name-setup.exe" "$dist/$name-SHA256SUMS.txt"
(cd "$stage" && zip -q -X -r "$dist/$name-portable.zip" "$name")
cp "$setup" "$dist/$name-setup.exe"
(cd "$dist" && sha256sum "$name-portable.zip" "$name-setup.exe" >"$name-SHA256SUMS.txt")

echo "Release $version in $dist:"
(cd "$dist" && ls -l "$name-portable.zip" "$name-setup.exe" "$name-SHA256SUMS.txt")
