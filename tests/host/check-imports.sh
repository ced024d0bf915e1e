#!/bin/sh
# The product's import table: comctl32 only by ordinal 17, and none of the
# functions that exist only on some Windows families imported by name.
#   check-imports.sh OBJDUMP PRODUCT.exe
set -eu
objdump=$1
exe=$2
table=$("$objdump" -p "$exe")
fail=0

# The entries listed under one DLL, up to the next DLL.
imports_of() {
  printf '%s\n' "$table" | awk -v dll="$1" '
    /DLL Name:/ { inside = (tolower($3) == tolower(dll)); next }
    inside && NF == 0 { inside = 0 }
    inside && $1 ~ /^[0-9a-f]+$/ { print }'
}

comctl=$(imports_of comctl32.dll)
if [ "$(printf '%s\n' "$comctl" | grep -c .)" -ne 1 ] ||
   ! printf '%s\n' "$comctl" | grep -Eq '^\s*[0-9a-f]+\s+17\s+<none>'; then
  echo "comctl32.dll must be imported once, by ordinal 17; found:"; printf '%s\n' "$comctl"
  fail=1
fi

for dll in psapi.dll ntdll.dll; do
  if printf '%s\n' "$table" | grep -qi "DLL Name: $dll"; then
    echo "$dll is imported statically"; fail=1
  fi
done

# Tool-help, process-status and native functions are resolved at run time.
names='CreateToolhelp32Snapshot|Process32First|Process32Next|Module32First|Module32Next|Thread32First|Thread32Next|EnumProcesses|EnumProcessModules|GetModuleFileNameExA|GetModuleBaseNameA|NtQuerySystemInformation|NtQueryInformationProcess'
found=$(printf '%s\n' "$table" | awk '/DLL Name:/ { inside = 1 } inside' | grep -Ew "$names" || true)
if [ -n "$found" ]; then
  echo "imported by name:"; printf '%s\n' "$found"; fail=1
fi

[ $fail -eq 0 ] && echo "imports OK"
exit $fail
