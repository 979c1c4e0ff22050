#!/usr/bin/env bash
# Style checks: clang-format over every C++ file of the product, tools, tests and benchmarks, and
# clang-tidy (naming and bug-prone checks of .clang-tidy) over the product's translation units.
# Exits non-zero on any finding.
#   tools/check-style.sh [format|tidy|all] [build dir, default build/default]
# The build dir needs compile_commands.json and the Qt generated sources, so build it first.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
what="${1:-all}"
build="$(cd "${2:-build/default}" 2>/dev/null && pwd || true)"
jobs="${CHECK_STYLE_JOBS:-2}"
# The product folders whose translation units and headers clang-tidy checks.
product="platform|socket|engine|settings|mime|components|ui|app|model|desktop|tools"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
status=0

if [[ "$what" == all || "$what" == format ]]; then
  start=$SECONDS
  git ls-files -z -- '*.cpp' '*.h' \
    | xargs -0 -r clang-format --dry-run -Werror >"$out/format.log" 2>&1 || true
  # One line per badly formatted file, however many places it has.
  grep -oE '^[^:]+:[0-9]+:[0-9]+: (error|warning)' "$out/format.log" | cut -d: -f1 | sort -u \
    >"$out/format.files" || true
  n=$(wc -l <"$out/format.files")
  if ((n > 0)); then
    echo "clang-format: $n file(s) not formatted (fix with clang-format -i):"
    sed 's/^/  /' "$out/format.files"
    status=1
  fi
  echo "clang-format: $(git ls-files -- '*.cpp' '*.h' | wc -l) files, $n not formatted," \
    "$((SECONDS - start)) s"
fi

if [[ "$what" == all || "$what" == tidy ]]; then
  start=$SECONDS
  if [[ -z "$build" || ! -f "$build/compile_commands.json" ]]; then
    echo "clang-tidy: no compile_commands.json in ${2:-build/default}; build that preset first" >&2
    exit 2
  fi
  # Product translation units only: no tests, benchmarks or generated sources.
  grep -oE '"file": *"[^"]+"' "$build/compile_commands.json" | sed -E 's/^"file": *"(.*)"$/\1/' \
    | grep -E "^$root/($product)/" | grep -v "^$build/" | sort -u >"$out/units"
  # One log per unit so parallel runs never interleave; a unit that fails to parse counts too.
  xargs -r -P "$jobs" -I{} sh -c \
    'f="$1"; log="$2/$(echo "$f" | tr / _).log"
     clang-tidy -p "$3" --quiet --header-filter="$4" "$f" >"$log" 2>&1 || echo "$f" >>"$2/failed"' \
    _ {} "$out" "$build" "^$root/($product)/" <"$out/units"
  # A header's finding shows up once per unit that includes it: print each once.
  cat "$out"/*.log 2>/dev/null | grep -E '^/.*:[0-9]+:[0-9]+: (warning|error):' \
    | sed "s|^$root/||" | sort -u >"$out/tidy.findings" || true
  n=$(wc -l <"$out/tidy.findings")
  if ((n > 0)); then
    echo "clang-tidy findings:"
    sed 's/^/  /' "$out/tidy.findings"
    echo "clang-tidy: by check:"
    grep -oE '\[[a-z0-9.,-]+\]$' "$out/tidy.findings" | sort | uniq -c | sort -rn | sed 's/^/  /'
    status=1
  elif [[ -s "$out/failed" ]]; then
    echo "clang-tidy: failed without a finding on:"
    sed 's/^/  /' "$out/failed"
    cat "$out"/*.log | head -40
    status=1
  fi
  echo "clang-tidy: $(wc -l <"$out/units") units, $n finding(s), $((SECONDS - start)) s"
fi

exit $status
