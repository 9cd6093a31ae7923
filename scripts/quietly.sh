# Sourced by the scripts that build: `quietly COMMAND...` runs a build step
# without its chatter, and shows all of it (the compiler's errors) when the
# step fails.
quietly() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "failed: $*" >&2
    return 1
  fi
  rm -f "$log"
}
