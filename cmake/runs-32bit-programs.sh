#!/usr/bin/env bash
# Exits 0 when this machine runs 32-bit x86 programs, 1 when it cannot (some
# kernels are built without 32-bit support: every i386 program, Wine's
# 32-bit loader too, fails with "Exec format error"). It finds out by running
# one: a 96-byte static i386 program that exits with 42.
# QUELMOR_ASSUME_NO_32BIT=1 answers "cannot", so that machine's path can be
# tried anywhere.
set -u
if [ "${QUELMOR_ASSUME_NO_32BIT:-0}" = 1 ]; then
  echo "cannot (QUELMOR_ASSUME_NO_32BIT=1)"
  exit 1
fi
probe=$(mktemp "${TMPDIR:-/tmp}/runs32.XXXXXX")
trap 'rm -f "$probe"' EXIT
# ELF header, one loadable segment, then: mov eax, 1; mov ebx, 42; int 0x80.
printf '%b' \
  '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
  '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
  '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
  '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08' \
  '\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00' \
  '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
if [ $? -eq 42 ]; then
  echo "runs 32-bit programs"
  exit 0
fi
echo "cannot execute 32-bit programs"
exit 1
