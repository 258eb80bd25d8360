#!/bin/sh
# The shipped programs are hardened as Debian hardens its packages, read from the ELF itself:
# hardening-check 2.23 takes a static-pie for a shared library and looks for symbols a stripped
# binary lacks. Position-independent and loaded without an interpreter (static), relro with
# immediate binding; in the tool's own code a stack canary, control-flow protection, Fortify's
# checked calls and, on x86-64, stack-clash probes (GCC probes arm64 frames only past 64 KiB,
# and the tool has none).
#   hardening_test.sh BUILD_DIR OBJDUMP
set -eu
build=$1
objdump=$2
fail() {
  echo "FAIL: $*"
  exit 1
}

for program in nodestart nodestart-probe; do
  elf=$build/$program
  readelf -h "$elf" | grep -q 'Type: *DYN' || fail "$program is not position-independent"
  if readelf -l "$elf" | grep -q INTERP; then fail "$program has an interpreter"; fi
  readelf -l "$elf" | grep -q GNU_RELRO || fail "$program has no relro"
  readelf -d "$elf" | grep -q BIND_NOW || fail "$program does not bind at once"
done

# The code of the tool's function NAME (any of its clones), not its cold part, which the compiler
# may place before it.
function_code() {
  "$objdump" -d --no-show-raw-insn "$build/nodestart" | awk "/<$1[^>]*>:\$/ && !/\.cold>:\$/,/^\$/"
}
# The kernel files' reader keeps 4 KiB on its stack; the start CPUs' reader is called from
# elsewhere, so it carries the control-flow mark.
frame=$(function_code _Z9ReadParts)
code=$(function_code _Z12StartCpusFort)
printf '%s\n' "$frame" | grep -q '<__stack_chk_fail>' || fail "no stack canary: $frame"
case $(readelf -h "$build/nodestart" | sed -n 's/ *Machine: *//p') in
  *X86-64*)
    printf '%s\n' "$code" | head -n 2 | grep -q endbr64 || fail "no control-flow mark: $code"
    printf '%s\n' "$frame" | grep -qE 'or[q]? +\$0x0,.*\(%rsp\)' || fail "no stack-clash probe: $frame"
    ;;
  *AArch64*)
    printf '%s\n' "$code" | head -n 2 | grep -qE 'paciasp|bti' || fail "no branch protection: $code"
    ;;
esac
function_code _Z15RefusedNodeText | grep -q '_chk>' || fail "no call checked by Fortify in the refusal's reason"
echo "hardening: PIE without interpreter, relro, BIND_NOW; canary, control flow, Fortify"
