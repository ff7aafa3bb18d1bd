#!/usr/bin/env python3
"""Checks the vector code of a built QUILL32.DLL (objdump -d) for what would
fault on Windows stacks: no aligned vector move at all (the build turns them
into unaligned ones), and, for i686 (whose callers promise 4-byte stack
alignment only), every function that hands a stack slot to a legacy-coded
SSE instruction needing 16-byte alignment realigns its stack at entry.
Usage: check_vector_moves.py OBJDUMP DLL ARCH"""
import re
import subprocess
import sys

# Aligned moves, legacy and VEX/EVEX coded.
ALIGNED_MOVE = re.compile(r"^(v?mov(aps|apd|dqa|dqa32|dqa64|ntdqa|ntps|ntpd|ntdq))$")
# Legacy SSE instructions whose memory operand may be unaligned.
UNALIGNED_OK = re.compile(
    r"^(movups|movupd|movdqu|movq|movd|movss|movsd|movlps|movhps|movlpd|movhpd|lddqu"
    r"|pinsrw|pinsrb|pinsrd|pextrw|pextrb|pextrd|cvt\w*|comis\w|ucomis\w"
    r"|\w+ss|\w+sd|prefetch\w*)$")
STACK = re.compile(r"\((%esp|%ebp)[,)]")
REALIGN = re.compile(r"\band\s+\$0xff+[0-9a-f]0,%esp")


def main():
    objdump, dll, arch = sys.argv[1:4]
    text = subprocess.run([objdump, "-d", "--no-show-raw-insn", dll], check=True,
                          capture_output=True, text=True).stdout
    problems, vector_functions = [], 0
    for chunk in re.split(r"\n(?=[0-9a-f]+ <[^>]+>:\n)", text):
        name = re.match(r"[0-9a-f]+ <([^>]+)>:", chunk)
        if not name:
            continue
        realigns = REALIGN.search(chunk) is not None
        uses_vectors = False
        for line in chunk.splitlines()[1:]:
            fields = line.split("\t")
            if len(fields) < 2:
                continue
            parts = fields[1].split(None, 1)
            if not parts:
                continue
            mnemonic, operands = parts[0], (parts[1] if len(parts) > 1 else "")
            if "mm" not in operands:
                continue
            uses_vectors = True
            if ALIGNED_MOVE.match(mnemonic):
                problems.append(f"{name.group(1)}: aligned move: {fields[1].strip()}")
            elif (arch == "i686" and not mnemonic.startswith("v") and "%xmm" in operands
                  and STACK.search(operands) and not UNALIGNED_OK.match(mnemonic)
                  and not realigns):
                problems.append(f"{name.group(1)}: 16-byte stack operand without "
                                f"realignment: {fields[1].strip()}")
        vector_functions += uses_vectors
    for p in problems[:20]:
        print(p)
    if problems:
        print(f"{dll}: {len(problems)} unsafe vector accesses")
        return 1
    if vector_functions == 0:
        print(f"{dll}: no vector code found (is it built with the kernels?)")
        return 1
    print(f"{dll}: {vector_functions} functions with vector code, no unsafe stack access")
    return 0


if __name__ == "__main__":
    sys.exit(main())
