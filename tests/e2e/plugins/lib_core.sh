# The management-core stand-in fed line by line, for the plug-in scenarios.
# Needs lib.sh sourced and $work set.
#   start_core ZMOCORE [OPTIONS...]   zmocore reading the lines that ask sends
#   ask LINES                         runs lines; returns once they are done
#   after_last LINE                   what the core printed for its last LINE
# The core's output is $work/out, its errors $work/err.
start_core() {
  local zmocore=$1
  shift
  mkfifo "$work/in"
  "$zmocore" "$@" --script - <"$work/in" >"$work/out" 2>"$work/err" &
  core=$!
  exec 3>"$work/in"
  on_exit quiet_kill "$core"
}
ask() {
  # A line whose echo shows that the ones before it have finished; random,
  # as ask also runs in subshells.
  local mark="mark$SRANDOM$SRANDOM.invalid"
  echo "$1" >&3
  echo "resolve $mark 127.0.0.1 9" >&3
  wait_line "$work/out" "> resolve $mark" 30
}
after_last() {
  awk -v p="> $1" '$0 == p { buf = ""; on = 1; next } /^> / { on = 0 } on { buf = buf $0 "\n" } END { printf "%s", buf }' "$work/out"
}
# stop_core: quit and wait; fails when the core ended badly.
stop_core() {
  echo quit >&3
  wait "$core" || fail "the core ended badly: $(cat "$work/err")"
}
