#!/usr/bin/env bash
# Exits 0 when this machine executes 32-bit x86 code (its kernel's IA32
# emulation) and 32-bit Wine is installed; otherwise 1. With --cpu, only
# the first: whether 32-bit Wine can be installed. Probed with a static
# i386 program that only calls exit(42).
set -u
if [ "${1:-}" != --cpu ] && [ ! -x /usr/lib/wine/wine ]; then
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '.globl _start\n_start:\n movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' > "$work/probe.s"
as --32 "$work/probe.s" -o "$work/probe.o" 2>/dev/null &&
  ld -m elf_i386 "$work/probe.o" -o "$work/probe" 2>/dev/null || exit 1
"$work/probe" 2>/dev/null
[ $? -eq 42 ]
