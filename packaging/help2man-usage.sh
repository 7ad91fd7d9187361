#!/bin/sh
# Runs a tool for help2man, writing the further synopsis lines of its usage
# block ("Usage: tool a" then "       tool b") in the "  or: tool b" form that
# help2man reads as more synopses instead of as the description.
# Usage: help2man-usage.sh TOOL ARGS...
tool=$1
shift
out=$("$tool" "$@") || exit $?
name=$(basename "$tool")
printf '%s\n' "$out" | sed "1,/^\$/ s/^ \{2,\}\($name \)/  or: \1/"
