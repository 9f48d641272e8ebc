#!/bin/sh
# The program's main job on the sample profile: shows the profile's layer tree, then
# exports a group from it and imports it into a scratch copy of the profile.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-$top/build}"
qxctl="$build/bin/qxctl"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r "$top/samples/profile" "$scratch/profile"

echo "== Layer tree of the sample profile"
"$qxctl" --profile "$scratch/profile" tree
echo "== Export of the group \"Media\" and import as a new group"
"$qxctl" --profile "$scratch/profile" export "{6C1F7C52-1D3A-4E55-9C0B-2F0D4B1B8A01}" "$scratch/media.layers"
"$qxctl" --profile "$scratch/profile" import "$scratch/media.layers"
"$qxctl" --profile "$scratch/profile" tree
