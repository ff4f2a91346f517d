#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test:
#   1. the normal build and every test program;
#   2. the Debian packages from that build (cpack), listed; the runner's must need no Qt; both
#      must pass lintian without an error or a warning;
#   3. a second build with the address and undefined-behaviour sanitizers (build-asan/), which
#      runs the core's tests again: any leak, overflow or undefined behaviour fails them;
#   4. a short run of every fuzz target (clang, libFuzzer) from its seed corpus.
# TARNEX_SKIP_SANITIZE=1 and TARNEX_SKIP_FUZZ=1 leave out stages 3 and 4 on a developer's
# machine; CI runs all four. TARNEX_FUZZ_SECONDS sets the time per fuzz target (default 5).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
started=$SECONDS
stage_times=()
stage() { stage_times+=("$(printf '%-28s %4ds' "$1" "$2")"); }

"$root/scripts/setup.sh"

t=$SECONDS
"$root/scripts/build.sh"
TARNEX_REQUIRE_REAL_SERVER=1 ctest --test-dir "${BUILD_DIR:-$root/build}" --output-on-failure \
  -j "$jobs" --timeout 300
stage "build and tests" $((SECONDS - t))

t=$SECONDS
package_fault() { echo "test.sh: $*" >&2; exit 1; }
build=${BUILD_DIR:-$root/build}
debs=$build/packages
rm -rf "$debs"
(cd "$build" && cpack -G DEB -B "$debs" >/dev/null)
runner=$(compgen -G "$debs/tarnex-run_*.deb") || package_fault "cpack made no tarnex-run package"
desktop=$(compgen -G "$debs/tarnex_*.deb") || package_fault "cpack made no tarnex package"
runner_depends=$(dpkg-deb -f "$runner" Depends)
desktop_depends=$(dpkg-deb -f "$desktop" Depends)
echo "== $(basename "$runner"), depends: $runner_depends"
dpkg-deb -c "$runner"
echo "== $(basename "$desktop"), depends: $desktop_depends"
dpkg-deb -c "$desktop"
# The runner is for machines without a display: nothing of Qt in its package, neither as a
# dependency nor as a library its program loads.
[[ ${runner_depends,,} != *qt* ]] || package_fault "tarnex-run depends on Qt: $runner_depends"
dpkg-deb -x "$runner" "$debs/runner-root"
needed=$(readelf -d "$debs/runner-root/usr/bin/tarnex-run")
[[ ${needed,,} != *libqt* ]] || package_fault "tarnex-run links Qt"
[[ $desktop_depends == *"tarnex-run (= "* ]] ||
  package_fault "tarnex does not depend on its runner package: $desktop_depends"
[[ $desktop_depends == *fonts-* ]] ||
  package_fault "tarnex does not depend on a Japanese font: $desktop_depends"
# The manual pages render without a single warning.
for page in "$root"/packaging/man/*.1; do
  warnings=$(groff -ww -man -Tutf8 -z "$page" 2>&1)
  [[ -z $warnings ]] || package_fault "$page: $warnings"
done
# Both programs' --version and both changelogs name the packages' version.
version=$(dpkg-deb -f "$runner" Version)
dpkg-deb -x "$desktop" "$debs/desktop-root"
for program in runner-root/usr/bin/tarnex-run desktop-root/usr/bin/tarnex; do
  said=$(env -u DISPLAY -u WAYLAND_DISPLAY "$debs/$program" --version)
  [[ $said == "${program##*/} ${version%-*}" ]] ||
    package_fault "$program --version says '$said', the package is $version"
done
for doc in runner-root/usr/share/doc/tarnex-run desktop-root/usr/share/doc/tarnex; do
  latest=$(zcat "$debs/$doc/changelog.Debian.gz" | head -n 1)
  [[ $latest == "tarnex ($version) "* ]] ||
    package_fault "$doc: the changelog's latest entry is '$latest', the package is $version" \
      "(add an entry to packaging/changelog)"
done
# The scripts' file types: valid for shared-mime-info, and those the menu entry opens.
mime_xml=$debs/desktop-root/usr/share/mime/packages/tarnex.xml
mkdir -p "$debs/mime/packages" && cp "$mime_xml" "$debs/mime/packages/"
XDG_DATA_DIRS=$debs update-mime-database "$debs/mime" || package_fault "$mime_xml is no valid shared-mime-info"
for glob in '*.fcs' '*.fcx'; do
  grep -qF ":$glob" "$debs/mime/globs2" || package_fault "$mime_xml has no type for $glob"
done
types=$(grep -o '<mime-type type="[^"]*"' "$mime_xml" | cut -d'"' -f2 | sort)
opened=$(sed -n 's/^MimeType=//p' "$debs/desktop-root/usr/share/applications/tarnex.desktop" |
  tr ';' '\n' | sed '/^$/d' | sort)
[[ $types == "$opened" ]] || package_fault "tarnex.desktop opens [$opened], the types are [$types]"
# lintian: no error and no warning (every override is in packaging/lintian/, with its reason).
lintian --fail-on error,warning --tag-display-limit 0 "$runner" "$desktop" ||
  package_fault "lintian found errors or warnings in the packages"
stage "Debian packages" $((SECONDS - t))

if [[ ${TARNEX_SKIP_SANITIZE:-0} != 1 ]]; then
  t=$SECONDS
  asan=${ASAN_BUILD_DIR:-$root/build-asan}
  BUILD_DIR=$asan "$root/scripts/build.sh" -DTARNEX_SANITIZE=ON -DTARNEX_BUILD_GUI=OFF
  # Leaks are errors too; a report names every frame. The tests run as root in CI, where the
  # leak checker needs nothing more. One test is left out: it takes every file descriptor
  # away, and the sanitizers' runtime needs one (a pipe) to check a pointer.
  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  TARNEX_REQUIRE_REAL_SERVER=1 ctest --test-dir "$asan" --output-on-failure -j "$jobs" \
    --timeout 600 -E '^tarnex_socket_tests\.Construction\.NoSocketToBeHadIsReported$'
  stage "sanitizer build and tests" $((SECONDS - t))
fi

if [[ ${TARNEX_SKIP_FUZZ:-0} != 1 ]]; then
  t=$SECONDS
  "$root/fuzz/run.sh" "${TARNEX_FUZZ_SECONDS:-5}" "$jobs"
  stage "fuzz targets" $((SECONDS - t))
fi

echo
echo "test.sh: time per stage"
printf '  %s\n' "${stage_times[@]}"
echo "  total                        $((SECONDS - started))s"
