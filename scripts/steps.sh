# Sourced by scripts/test.sh: runs named steps side by side, each after the
# steps it needs, and prints each step's output whole, in the order the steps
# were declared, with the time it took, as soon as it and every step before it
# have ended. A failed step ends the run: the steps still running are stopped,
# and the failed step's output is printed in full with the others before it.
#
#   step NAME "NEEDS..." COMMAND...   declare a step (NEEDS: names of earlier steps)
#   run_steps UNITS                   run them, their weights adding up to UNITS at most
#
# A step weighs 2 units, a CPU's worth (a compile, qemu); one that mostly
# waits (Wine round trips) 1 (STEP_WEIGHT=1). A step
# declared with STEP_FIRST=1 is started before the others when a slot is
# free: the head of the longest chain, whose output may still print late.

step_names=()
declare -A step_needs step_command step_weight step_state step_log step_took
step_first=()
step_dir=$(mktemp -d)

step() {
  local name=$1 needs=$2
  shift 2
  step_names+=("$name")
  step_needs[$name]=$needs
  step_weight[$name]=${STEP_WEIGHT:-2}
  [ -z "${STEP_FIRST:-}" ] || step_first+=("$name")
  step_state[$name]=waiting
  step_command[$name]=$(printf '%q ' "$@")
}

_step_ready() {
  local need
  for need in ${step_needs[$1]}; do
    [ "${step_state[$need]}" = passed ] || return 1
  done
}

declare -A _step_pid _step_start
_step_running=0 _step_printed=0 _step_failed=""

_step_print_done() {
  local name
  while [ "$_step_printed" -lt ${#step_names[@]} ]; do
    name=${step_names[$_step_printed]}
    case ${step_state[$name]} in
    passed | failed) ;;
    *) return 0 ;;
    esac
    cat "${step_log[$name]}"
    step_log[$name]=printed
    echo "test.sh: $name took ${step_took[$name]} s"
    _step_printed=$((_step_printed + 1))
  done
}

_step_stop_all() {
  local name
  for name in "${!_step_pid[@]}"; do
    kill -TERM -- "-${_step_pid[$name]}" 2>/dev/null || true
  done
  wait 2>/dev/null || true
}

run_steps() {
  local slots=$1 name pid status ended
  set -m # each step in a process group of its own, so that a stop reaches its children
  while :; do
    for name in "${step_first[@]}" "${step_names[@]}"; do
      [ "${step_state[$name]}" = waiting ] && _step_ready "$name" || continue
      # A step may always start alone, whatever its weight.
      [ "$_step_running" -eq 0 ] || [ $((_step_running + step_weight[$name])) -le "$slots" ] || continue
      step_log[$name]=$step_dir/$name.log
      _step_start[$name]=$SECONDS
      (eval "${step_command[$name]}") >"${step_log[$name]}" 2>&1 </dev/null &
      _step_pid[$name]=$!
      step_state[$name]=running
      _step_running=$((_step_running + step_weight[$name]))
    done
    [ ${#_step_pid[@]} -gt 0 ] || break
    status=0
    wait -n -p pid "${_step_pid[@]}" 2>/dev/null || status=$?
    for name in "${!_step_pid[@]}"; do
      [ "${_step_pid[$name]}" = "$pid" ] && ended=$name
    done
    unset "_step_pid[$ended]"
    _step_running=$((_step_running - step_weight[$ended]))
    step_took[$ended]=$((SECONDS - _step_start[$ended]))
    if [ "$status" -eq 0 ]; then
      step_state[$ended]=passed
    else
      step_state[$ended]=failed
      _step_failed=$ended
      _step_stop_all
      for name in "${!_step_pid[@]}"; do
        step_state[$name]=stopped
      done
    fi
    _step_print_done
    if [ -n "$_step_failed" ]; then
      # The failed step's output, whole, even while a step before it was stopped.
      [ "${step_log[$_step_failed]}" = printed ] || cat "${step_log[$_step_failed]}"
      for name in "${step_names[@]}"; do
        case ${step_state[$name]} in
        stopped) echo "test.sh: $name stopped after $((SECONDS - _step_start[$name])) s" ;;
        waiting) echo "test.sh: $name not started" ;;
        esac
      done
      echo "test.sh: $_step_failed failed (exit $status)"
      set +m
      return 1
    fi
  done
  set +m
}
