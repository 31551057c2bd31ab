# Sourced by the scripts that run a list of checks: check runs one and
# counts it, finish prints the counts and ends the script, failing when a
# check failed.
passed=0
failed=0
check() {  # <name> <command...>: the command's output goes to the log on failure
  local name="$1"
  shift
  if out=$("$@" 2>&1); then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name"
    echo "$out" | sed 's/^/    /'
  fi
}
finish() {
  echo "$passed passed, $failed failed"
  [[ $failed == 0 ]]
  exit
}
