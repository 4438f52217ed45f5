#!/usr/bin/env bash
# A private PulseAudio server with one null sink, for tests that need a real
# sound server. Everything lives in one folder (socket, runtime dir, logs,
# pid files), so it never touches a user's session and sessions in parallel
# never meet.
#
#   pulse-session.sh start [DIR] [--rate HZ] [--owner PID]
#       Starts the server (as root too), loads a null sink "testsink" at HZ
#       (48000 by default, so that 44.1 kHz clients are resampled as on most
#       machines), makes it the default sink and its monitor the default
#       source, and prints the environment for clients as KEY=VALUE lines:
#         set -a; eval "$(scripts/pulse-session.sh start)"; set +a
#       With --owner, the session stops itself once PID has exited, so a
#       crashed test leaves nothing running.
#       Exit status 77: PulseAudio is missing or cannot run on this machine.
#   pulse-session.sh stop DIR
#       Stops everything that start left running and removes DIR.
set -euo pipefail

WAIT_S=20  # bound of every wait

die() { echo "pulse-session: $*" >&2; exit "${2:-1}"; }

# Clients of this session: the server's socket, no autospawn, no cookie
# needed (the socket accepts anonymous clients).
client_env() {
  local dir=$1
  export PULSE_SERVER="unix:$dir/native"
  export PULSE_CLIENTCONFIG="$dir/client.conf"
  export PULSE_COOKIE="$dir/cookie"
  export HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config" XDG_RUNTIME_DIR="$dir/runtime"
}

# Alive and not a zombie waiting for init to reap it.
pid_alive() {
  local state
  [ -n "${1:-}" ] || return 1
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# SIGTERM, then SIGKILL after a bounded wait. With "group", the whole process
# group that PID leads (started with setsid).
end_pid() {
  local pid=$1 target=$1 i
  pid_alive "$pid" || return 0
  [ "${2:-}" = group ] && target="-$pid"
  kill -TERM -- "$target" 2>/dev/null || true
  for ((i = 0; i < WAIT_S * 10; i++)); do
    pid_alive "$pid" || return 0
    sleep 0.1
  done
  kill -KILL -- "$target" 2>/dev/null || true
}

stop_session() {
  local dir=$1 f pid
  [ -f "$dir/.pulse-session" ] || die "$dir is not a pulse session folder"
  # The watcher first (unless it is the one asking), then the clients, then
  # the server.
  for f in watcher keepalive; do
    pid=$(cat "$dir/$f.pid" 2>/dev/null || true)
    [ "$pid" = "$$" ] || [ "$pid" = "$PPID" ] && continue
    end_pid "$pid" group
  done
  pid=$(cat "$dir/runtime/pulse/pid" 2>/dev/null || true)
  end_pid "$pid"
  rm -rf -- "$dir"
}

start_session() {
  local dir="" rate=48000 owner=""
  while [ $# -gt 0 ]; do
    case $1 in
      --rate) rate=$2; shift 2 ;;
      --owner) owner=$2; shift 2 ;;
      -*) die "unknown option $1" ;;
      *) dir=$1; shift ;;
    esac
  done
  for tool in pulseaudio pactl pacat; do
    command -v "$tool" >/dev/null || die "$tool is not installed (scripts/install-deps.sh)" 77
  done
  if [ -z "$dir" ]; then
    dir=$(mktemp -d "${TMPDIR:-/tmp}/pulse-session.XXXXXX")
  fi
  case $dir in *[[:space:]]*) die "the session folder must not contain spaces: $dir" ;; esac
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  # The socket path must fit in sun_path (108 bytes).
  [ ${#dir} -le 90 ] || die "session folder path too long for a socket: $dir"
  touch "$dir/.pulse-session"
  mkdir -p "$dir/home/.config" "$dir/runtime"
  chmod 700 "$dir/runtime"
  printf 'autospawn = no\n' >"$dir/client.conf"

  # From here on, a failure stops what was started.
  SESSION_DIR=$dir
  trap 'if [ -n "${SESSION_DIR:-}" ]; then stop_session "$SESSION_DIR" >/dev/null 2>&1 || true; fi' EXIT

  client_env "$dir"
  # -n: no default script, so no hardware or desktop modules; no realtime
  # priority on a machine shared with others.
  if ! timeout "$WAIT_S" pulseaudio -n --daemonize=yes --exit-idle-time=-1 \
      --use-pid-file=yes --disallow-exit=yes --realtime=no --high-priority=no \
      --log-target="file:$dir/pulse.log" --log-level=notice \
      -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
      -L "module-null-sink sink_name=testsink rate=$rate channels=2" \
      </dev/null >>"$dir/start.log" 2>&1; then
    local why
    why=$(tail -n 5 "$dir/pulse.log" "$dir/start.log" 2>/dev/null | tr '\n' ' ')
    die "pulseaudio did not start: $why" 77
  fi

  local i ok=""
  for ((i = 0; i < WAIT_S * 10; i++)); do
    if timeout 5 pactl info >/dev/null 2>&1; then ok=1; break; fi
    sleep 0.1
  done
  [ -n "$ok" ] || die "pulseaudio started but does not answer on $dir/native"
  timeout 5 pactl set-default-sink testsink
  timeout 5 pactl set-default-source testsink.monitor

  # An idle null sink holds up a new stream for up to 2 s; a steady stream of
  # silence keeps it running.
  setsid pacat --playback -d testsink --latency-msec=20 --raw /dev/zero \
    </dev/null >>"$dir/keepalive.log" 2>&1 &
  echo $! >"$dir/keepalive.pid"

  if [ -n "$owner" ]; then
    local self
    self=$(readlink -f "$0")
    # shellcheck disable=SC2016  # expanded by the inner shell
    setsid bash -c 'while kill -0 "$1" 2>/dev/null; do sleep 1; done; exec bash "$2" stop "$3"' \
      watcher "$owner" "$self" "$dir" </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/watcher.pid"
  fi

  # Let the sink settle, then make sure the keepalive is still there.
  sleep 0.5
  pid_alive "$(cat "$dir/keepalive.pid")" || die "the keepalive stream ended: $(cat "$dir/keepalive.log")"
  SESSION_DIR=""

  echo "PULSE_SESSION_DIR=$dir"
  echo "PULSE_SERVER=$PULSE_SERVER"
  echo "PULSE_CLIENTCONFIG=$PULSE_CLIENTCONFIG"
  echo "PULSE_COOKIE=$PULSE_COOKIE"
}

case ${1:-} in
  start) shift; start_session "$@" ;;
  stop) [ $# -eq 2 ] || die "usage: $0 stop DIR"; stop_session "$2" ;;
  *) die "usage: $0 start [DIR] [--rate HZ] [--owner PID] | stop DIR" 2 ;;
esac
