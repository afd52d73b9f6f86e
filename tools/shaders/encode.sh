#!/bin/sh
# Writes the shader image node's programs as the Base64 resource files the node loads:
#   image.vert -> Resources/imageSDK/i.v, image.frag -> Resources/imageSDK/id.f
# Run after editing either source; the display tests check that the files match.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out="$here/../../Resources/imageSDK"
mkdir -p "$out"
base64 -w0 "$here/image.vert" > "$out/i.v"
base64 -w0 "$here/image.frag" > "$out/id.f"
