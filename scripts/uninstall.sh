#!/bin/sh
# Removes what scripts/install.sh installed last from this tree: the files it wrote and the
# folders it made, where they are empty; folders that were there before stay. BUILD names
# the tree it installed from.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/release}
manifest="$build/install_manifest.txt"
folders="$build/install_folders.txt"
[ -f "$manifest" ] || { echo "nothing was installed from $build" >&2; exit 1; }

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    while read -r file || [ -n "$file" ]; do
        [ -w "$(dirname "$file")" ] || sudo="sudo"
    done < "$manifest"
fi
while read -r file || [ -n "$file" ]; do
    $sudo rm -f "$file"
done < "$manifest"
# Deepest first, so that a folder is empty by the time it is tried.
[ -f "$folders" ] && sort -r "$folders" | while read -r folder; do
    $sudo rmdir "$folder" 2>/dev/null || true
done
rm -f "$manifest" "$folders" 2>/dev/null || $sudo rm -f "$manifest" "$folders"
