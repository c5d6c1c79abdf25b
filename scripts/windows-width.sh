# Sourced by the Windows scripts: which width of Windows program this
# machine can run under Wine.

# Runs a 32-bit program: the smallest i386 Linux program there is (its
# only instructions are exit(42)). Prints why it could not run, if not.
runs_32bit_programs() {
  local probe status=0 said
  probe=$(mktemp /tmp/tamsa-i386-probe.XXXXXX)
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$probe"
  chmod +x "$probe"
  said=$( ("$probe") 2>&1) || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ] && return 0
  said=${said##*: }
  echo "${said:-exit status $status}"
  return 1
}
