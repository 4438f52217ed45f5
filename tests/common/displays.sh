# Sourced by the display test runners (tests/x11/under_xvfb.sh,
# tests/wayland/under_weston.sh), which set $tmp.

# wait_until PID TEST...: until TEST succeeds, for at most 10 s or while the
# process PID (a server starting) lives.
wait_until() {
  local pid=$1 _
  shift
  for _ in $(seq 100); do
    "$@" && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# start_xvfb SCREEN: an Xvfb of its own (pid in $xvfb, log in
# $tmp/xvfb.log) with one screen of SCREEN (WxHxDEPTH); exports DISPLAY once
# it accepts connections. When Xvfb cannot start it says why ("skipped:
# ...") and returns 1.
start_xvfb() {
  if ! command -v Xvfb >/dev/null; then
    echo "skipped: Xvfb is not installed (the xvfb package)"
    return 1
  fi
  Xvfb -displayfd 3 -nolisten tcp -screen 0 "$1" 3>"$tmp/display" 2>"$tmp/xvfb.log" &
  xvfb=$!
  # Xvfb writes its display number once it accepts connections.
  if ! wait_until "$xvfb" test -s "$tmp/display"; then
    echo "skipped: Xvfb did not start: $(head -c 500 "$tmp/xvfb.log")"
    return 1
  fi
  export DISPLAY=":$(head -n1 "$tmp/display")"
}
