#!/usr/bin/env bash
# Exits 0 when this machine runs 32-bit x86 programs: builds the smallest
# such program with binutils alone (no 32-bit C library is needed) and runs
# it. Used by set-up to decide on 32-bit Wine.
set -u
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/exit.s"
as --32 "$dir/exit.s" -o "$dir/exit.o" 2>/dev/null &&
  ld -m elf_i386 "$dir/exit.o" -o "$dir/exit" 2>/dev/null &&
  "$dir/exit" 2>/dev/null
