# Sourced by the CI steps that check Windows DLLs: check_dll OBJDUMP FORMAT DLL.
# Each DLL exports exactly velt_exit and WEP, undecorated, and imports only
# from the system (no libgcc, libstdc++ or winpthread DLL at the queue manager).
check_dll() {
  local objdump=$1 format=$2 dll=$3 headers exports imports clock32
  headers=$("$objdump" -p "$dll")
  if ! grep -q "file format $format" <<<"$headers"; then
    echo "$dll is not $format"
    return 1
  fi
  exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
         on && /^\t\[/ { print $NF; next }
         on { on = 0 }' <<<"$headers" | sort | tr '\n' ' ')
  if [ "$exports" != "WEP velt_exit " ]; then
    echo "$dll exports: $exports(expected exactly velt_exit and WEP)"
    return 1
  fi
  imports=$(awk '/DLL Name:/ { print $3 }' <<<"$headers" | sort -u | tr '\n' ' ')
  if [ "$imports" != "KERNEL32.dll msvcrt.dll " ]; then
    echo "$dll imports from: $imports(expected KERNEL32.dll and msvcrt.dll only)"
    return 1
  fi
  # The 32-bit runtime's time and localtime stop working in 2038; the exits
  # take the 64-bit calls.
  clock32=$(awk '/DLL Name:/ { dll = $3; next }
         dll == "msvcrt.dll" && ($NF == "time" || $NF == "localtime" || $NF == "_time32" || $NF == "_localtime32") { print $NF }' <<<"$headers" | tr '\n' ' ')
  if [ -n "$clock32" ]; then
    echo "$dll imports 32-bit clock calls: $clock32"
    return 1
  fi
  echo "$dll: exports $exports; imports $imports"
}
