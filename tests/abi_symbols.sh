#!/usr/bin/env bash
# The library's dynamic interface, read from its dynamic symbol table: it
# exports exactly the six operations and g_CameraMgr, imports nothing but
# the nine platform operations beyond the C and C++ runtimes, and needs the
# three platform libraries by name.
set -euo pipefail
lib=$1
readelf=${READELF:-readelf}
fail=0

syms=$("$readelf" --dyn-syms --wide "$lib" | awk '$1 ~ /^[0-9]+:$/ && NF >= 8 {print $5, $6, $7, $8}')

defined=$(awk '$3 != "UND" && $1 != "LOCAL" && $4 != "" {print $4}' <<<"$syms" | sort)
expected_defined=$(printf '%s\n' CameraInit CloseCameraEx ConfigCamera HwInit OpenCameraEx ReadCameraFrame g_CameraMgr | sort)
if [ "$defined" != "$expected_defined" ]; then
    echo "exported symbols differ:"; diff <(echo "$expected_defined") <(echo "$defined") || true; fail=1
fi

# Runtime imports carry a symbol version (GLIBC_, GLIBCXX_, ...); the rest
# are toolchain and sanitizer hooks, and the C library's output functions,
# which a sanitizer build imports without a version.
undefined=$(awk '$3 == "UND" && $4 != "" {print $4}' <<<"$syms" | grep -v '@' |
    grep -Ev '^(_ITM_(de)?registerTMCloneTable|__gmon_start__|__cxa_finalize|printf|puts|putchar|fwrite|__(asan|ubsan|lsan|sanitizer|gcov)_.*)$' |
    sort || true)
expected_undefined=$(printf '%s\n' MediaLibInit QueryCameraStatus OpenCamera SetCameraProperty ReadFrameFromCamera \
    CloseCamera aclAppLog acldvppMalloc acldvppFree | sort)
if [ "$undefined" != "$expected_undefined" ]; then
    echo "imported platform symbols differ:"; diff <(echo "$expected_undefined") <(echo "$undefined") || true; fail=1
fi

needed=$("$readelf" -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for name in libmedia_mini.so libascendcl.so libacl_dvpp.so; do
    grep -qx "$name" <<<"$needed" || { echo "NEEDED lacks $name"; fail=1; }
done
if grep -q '^libstdc++' <<<"$needed"; then echo "note: links libstdc++"; fi

[ $fail -eq 0 ] && echo "dynamic interface as expected: $(wc -l <<<"$defined") exports, $(wc -l <<<"$undefined") platform imports"
exit $fail
