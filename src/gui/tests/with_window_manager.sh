#!/bin/sh
# Runs a window test on an X display of its own, managed by openbox: what it
# captures from the screen is then what a desktop shows, no other test's
# window covers it, and its window can be the active one. Listing the tests
# needs no display.
case " $* " in *" --gtest_list_tests"*) exec "$@" ;; esac
dir=$(mktemp -d)
server=
manager=
trap 'kill $manager $server 2>/dev/null; rm -rf "$dir"' EXIT
# -displayfd: the server picks a free display itself (tests start in
# parallel) and names it once it takes connections.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$dir/display" 2>"$dir/server.log" &
server=$!
while [ ! -s "$dir/display" ]; do
  kill -0 "$server" 2>/dev/null || { cat "$dir/server.log" >&2; exit 1; }
  sleep 0.05
done
DISPLAY=:$(cat "$dir/display")
export DISPLAY
openbox --sm-disable >/dev/null 2>&1 &
manager=$!
"$@"
