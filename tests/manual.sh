#!/usr/bin/env bash
# The manual page renders with no warning at all. Skipped (77) without groff.
set -euo pipefail
if ! command -v groff > /dev/null; then
    echo "groff not found: manual check skipped (apt-get install groff-base)"
    exit 77
fi
avisos=$(groff -man -ww -z "$1" 2>&1)
if [ -n "$avisos" ]; then
    echo "$avisos"
    exit 1
fi
echo "sanger.1 renders cleanly"
