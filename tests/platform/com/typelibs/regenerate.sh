#!/usr/bin/env bash
# Regenerates the type libraries of this folder from their IDL sources with Wine's widl (package
# wine64-tools). The tests read the committed .tlb files; run this after changing an .idl file.
set -euo pipefail
cd "$(dirname "$0")"
command -v widl >/dev/null || { echo "widl not found: apt-get install wine64-tools" >&2; exit 1; }
for idl in *.idl; do
  widl -t -o "${idl%.idl}.tlb" "$idl"
  echo "${idl%.idl}.tlb"
done
