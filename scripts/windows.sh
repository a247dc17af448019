#!/usr/bin/env bash
# Builds Tarvo_64.dll for 64-bit Windows with the MinGW-w64 cross compiler, checks that it
# imports nothing but Windows' own DLLs, and runs the Windows test host under Wine. The host
# compares its results with those of the Linux build on the same model, which this script
# produces first with the same host program built natively.
#
# Installs what it needs (Debian packages). Environment:
#   BUILD_DIR        the Windows build folder (default build-windows); the DLL lands at its root
#   LINUX_BUILD_DIR  a Linux build folder to take libTarvo_64.so from (default $BUILD_DIR/linux)
#   TARVO_WERROR     ON|OFF, warnings as errors (default OFF)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

bash scripts/deps.sh g++-mingw-w64-x86-64-posix wine wine64

build="${BUILD_DIR:-build-windows}"
linux="${LINUX_BUILD_DIR:-$build/linux}"
werror="${TARVO_WERROR:-OFF}"
jobs="$(nproc)"
mkdir -p "$build"
build="$(cd "$build" && pwd)"

# 1. The DLL and the test host, cross-built.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_WERROR="$werror" \
  -DTARVO_TESTS=OFF -DTARVO_TOOLS=OFF -DTARVO_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target Tarvo_64 tarvo_windows_host tarvo_windows_platform_test
dll="$build/Tarvo_64.dll"
host="$build/tarvo_windows_host.exe"
platform_test="$build/tarvo_windows_platform_test.exe"

# 2. Nothing but Windows' own DLLs may be imported, and the calls are exported undecorated.
system_dlls='^(kernel32|user32|advapi32|ntdll|msvcrt|ucrtbase|oleaut32|ole32|api-ms-win-[a-z0-9-]+)\.dll$'
for binary in "$dll" "$host" "$platform_test"; do
  imports="$(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p')"
  echo "$(basename "$binary") imports: $(echo $imports)"
  while read -r name; do
    if ! echo "$name" | tr 'A-Z' 'a-z' | grep -Eq "$system_dlls"; then
      echo "error: $(basename "$binary") imports $name, which Windows does not ship" >&2
      exit 1
    fi
  done <<<"$imports"
done
exports="$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p')"
for name in Calcul_initial Simulation Ajustement Fin Tarvo_last_failure; do
  if ! grep -Eq "\] $name\$" <<<"$exports"; then
    echo "error: Tarvo_64.dll does not export $name" >&2
    exit 1
  fi
done

# 3. Reference results from the Linux build, by the same host program.
if [[ ! -f "$linux/CMakeCache.txt" ]]; then
  cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_WERROR="$werror" \
    -DTARVO_TESTS=OFF -DTARVO_TOOLS=OFF -DTARVO_BENCH=OFF >/dev/null
fi
cmake --build "$linux" -j"$jobs" --target Tarvo_64
linux="$(cd "$linux" && pwd)"
g++ -std=c++20 -O2 -Wall -Wextra -Werror -ffp-contract=off -Isrc tests/windows/host_main.cpp \
  src/api/host_records.cpp src/platform/utf8.cpp -ldl -o "$build/linux_host"
rm -rf "$build/run-linux" && mkdir -p "$build/run-linux"
(cd "$build/run-linux" &&
  "$build/linux_host" --library "$linux/libTarvo_64.so" --write-reference "$build/reference.txt")

# 4. The Windows host under Wine, in a fresh prefix.
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="  # no .NET or browser engine to install
rm -rf "$WINEPREFIX" "$build/run-windows"
mkdir -p "$build/run-windows"
cp "$build/reference.txt" "$build/run-windows/"
status=0
(cd "$build/run-windows" && timeout 900 wine "$platform_test" &&
  timeout 900 wine "$host" --reference reference.txt) || status=$?
wineserver -k 2>/dev/null || true
if ((status != 0)); then
  echo "error: the Windows tests failed under Wine (status $status)" >&2
  exit "$status"
fi
echo "Tarvo_64.dll: $dll"
