#!/usr/bin/env bash
# Runs a validator (its command line as the arguments) and passes only when it succeeds
# without a single remark: no error, warning, hint, info or pedantic note.
out=$("$@" 2>&1)
rc=$?
[ -n "$out" ] && echo "$out"
[ $rc -eq 0 ] && ! grep -qE '^[A-Z]: |: (error|warning|hint): ' <<<"$out"
