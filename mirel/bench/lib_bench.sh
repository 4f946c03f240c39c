# Sourced by the Mirel benchmarks after setting $root to the tree.
# bench_start "TARGET..." "$@": outside the namespace, builds the targets (a
# release into build/bench unless --build DIR names a build folder) and runs
# the calling script again inside nsrun; inside, reads --length SECONDS and
# --rounds N into $length and $rounds, sets $build and enters the harness.
bench_start() {
  local targets=$1
  shift
  if [ "${1:-}" != --inner ]; then
    build=$root/build/bench
    local args=()
    while [ $# -gt 0 ]; do
      case "$1" in
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        *) args+=("$1"); shift ;;
      esac
    done
    if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
      cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFW_SANITIZE=OFF -DFW_TESTS=OFF >/dev/null
    fi
    # shellcheck disable=SC2086
    cmake --build "$build" --target $targets >/dev/null
    export FW_SOURCE_DIR=$root
    exec "$root/tests/harness/nsrun" --hostname bench -- bash "$0" --inner "$build" "${args[@]}"
  fi
  shift
  build=$1
  shift
  length=3 rounds=3
  while [ $# -gt 0 ]; do
    case "$1" in
      --length) length=$2; shift 2 ;;
      --rounds) rounds=$2; shift 2 ;;
      *) echo "unknown option $1" >&2; exit 2 ;;
    esac
  done
  . "$root/tests/harness/lib.sh"
  require_scenario_ns
  command -v coap-server-notls >/dev/null || fail "coap-server-notls missing (package libcoap3-bin)"
}
