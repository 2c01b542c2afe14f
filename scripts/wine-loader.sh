# Sourced by the Wine runners: which Wine loader can run a program here.
#
# wine_can_run_32bit: true when this kernel executes 32-bit x86 programs, which
#   Wine's 32-bit loader (and so every 32-bit Windows program) needs.
# wine_loader_for PROGRAM: prints the loader to run PROGRAM with (Debian's
#   `wine` where 32-bit programs run, which picks the right one itself; else the
#   64-bit loader for a 64-bit program); fails for a 32-bit program on a kernel
#   without 32-bit support.
wine_can_run_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

wine_loader_for() {
  if wine_can_run_32bit; then
    echo wine
    return 0
  fi
  case "$(file -b "$1" 2>/dev/null)" in
    *x86-64*) echo /usr/lib/wine/wine64 ;;
    *) return 1 ;;
  esac
}
