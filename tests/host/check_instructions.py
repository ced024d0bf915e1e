#!/usr/bin/env python3
"""The shipped program runs on the i486 and later: no instruction in any of
its code sections may be one that came with a later processor.

    check_instructions.py OBJDUMP PRODUCT.exe

Fails naming each address and instruction: conditional moves (cmov*,
fcmov*, Pentium Pro), the flag-setting FPU compares (fcomi, fcomip,
fucomi, fucomip, Pentium Pro), cmpxchg8b, rdtsc, rdmsr, wrmsr and cpuid
(Pentium; cpuid also on late 486s, but not on all), rdpmc (Pentium MMX),
sysenter and sysexit (Pentium II), syscall and sysret (K6-2), and any MMX,
SSE or AVX register or instruction (emms, fxsave, ldmxcsr, prefetch,
fences, ...), and later integer additions (popcnt, lzcnt, movbe, crc32,
the BMI set).
"""
import re
import subprocess
import sys

FORBIDDEN = re.compile(
    r"^(cmov\w+|fcmov\w+|fcomip?|fucomip?|cmpxchg8b|cmpxchg16b|rdtscp?|rdpmc|rdmsr|wrmsr|cpuid|"
    r"sysenter|sysexit|syscall|sysret\w*|emms|femms|fxsave\w*|fxrstor\w*|xsave\w*|xrstor\w*|xgetbv|"
    r"ldmxcsr|stmxcsr|prefetch\w*|[lms]fence|clflush\w*|movnti|popcnt\w*|lzcnt\w*|tzcnt\w*|movbe\w*|"
    r"crc32\w*|andn|bextr|blsi|blsmsk|blsr|bzhi|mulx|pdep|pext|rorx|sarx|shlx|shrx|adcx|adox|"
    r"rdrand|rdseed)$")
# %mm0-7 (MMX, 3DNow!), %xmm (SSE), %ymm and %zmm (AVX), %k0-7 (AVX-512 masks).
VECTOR_REGISTER = re.compile(r"%(mm[0-7]|[xyz]mm\d+|k[0-7])\b")
LINE = re.compile(r"^\s*([0-9a-f]+):\s+(\S.*)$")


def code_sections(objdump, exe):
    headers = subprocess.run([objdump, "-h", exe], check=True, capture_output=True, text=True).stdout
    sections, name = [], None
    for line in headers.splitlines():
        match = re.match(r"\s*\d+\s+(\S+)\s+[0-9a-f]+\s", line)
        if match:
            name = match.group(1)
        elif name and "CODE" in line:
            sections.append(name)
            name = None
    return sections


def main():
    objdump, exe = sys.argv[1], sys.argv[2]
    sections = code_sections(objdump, exe)
    if not sections:
        print("%s: no code section" % exe)
        return 1
    problems, count = [], 0
    for section in sections:
        listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", "-j", section, exe],
                                 check=True, capture_output=True, text=True).stdout
        for line in listing.splitlines():
            match = LINE.match(line)
            if not match:
                continue
            count += 1
            address, instruction = match.group(1), match.group(2).strip()
            words = instruction.split()
            # Prefixes stand before the mnemonic: "lock cmpxchg8b (%esi)".
            while words and words[0] in ("lock", "rep", "repz", "repnz", "repe", "repne", "data16", "addr16"):
                words.pop(0)
            mnemonic = words[0] if words else ""
            if FORBIDDEN.match(mnemonic) or VECTOR_REGISTER.search(instruction):
                problems.append("%s %s: %s" % (section, address, instruction))
    for problem in problems:
        print(problem)
    if problems:
        print("%d instructions the i486 lacks in %s" % (len(problems), exe))
        return 1
    print("instructions OK: %d in %s, none beyond the i486" % (count, ", ".join(sections)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
