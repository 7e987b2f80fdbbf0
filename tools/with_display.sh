#!/usr/bin/env bash
# Runs a command under a virtual X display when xvfb-run is there, so that window tests neither
# need nor disturb the desktop; without it, the command runs as it is.
# Decided when the command runs, not when make starts: `make test` installs xvfb itself first.
#   with_display.sh COMMAND [ARGUMENTS...]
if command -v xvfb-run >/dev/null 2>&1; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
fi
exec "$@"
