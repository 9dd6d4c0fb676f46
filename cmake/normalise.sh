#!/usr/bin/env bash
# Gives a staged tree the modes and times that packing fixes: directories
# 0755, files 0644 but the executable 0755, every time EPOCH.
# Usage: normalise.sh TREE EXECUTABLE EPOCH (EXECUTABLE relative to TREE)
set -euo pipefail
tree=$1 exe=$2 epoch=$3
find "$tree" -type d -exec chmod 0755 {} +
find "$tree" -type f -exec chmod 0644 {} +
chmod 0755 "$tree/$exe"
find "$tree" -exec touch -h -d "@$epoch" {} +
