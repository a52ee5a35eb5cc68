#!/usr/bin/env bash
# The style and static checks: clang-format --dry-run --Werror over every
# C++ file, and clang-tidy (.clang-tidy; any warning fails) over the
# programs' sources in src/ and tools/, with the compile commands of a
# configured build folder (build/ or the one given). A file that passed is
# remembered in BUILD/lint-cache under a key of everything its result
# depends on, so a second run checks only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
for tool in clang-format clang-tidy; do
  command -v "$tool" >/dev/null || { echo "scripts/lint.sh: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"

if [ ! -f "$build/compile_commands.json" ]; then
  echo "scripts/lint.sh: no $build/compile_commands.json: configure first (scripts/build.sh $build)" >&2
  exit 1
fi
# The key of a file: its text, every project header (any may be included),
# the check settings, the tool's version and the file's compile command.
cache="$build/lint-cache"
mkdir -p "$cache"
shared=$( { git ls-files -s 'src/*.h' 'tools/*.h'; git ls-files -s '.clang-tidy' '*/.clang-tidy';
            git diff --no-ext-diff -- 'src/*.h' 'tools/*.h' '.clang-tidy' '*/.clang-tidy';
            clang-tidy --version; } | sha256sum | cut -d' ' -f1)
mapfile -t pending < <(python3 - "$build/compile_commands.json" "$cache" "$shared" "$PWD" \
    $(git ls-files 'src/*.cpp' 'tools/*.cpp') <<'PY'
import hashlib, json, os, sys
commands, cache, shared, root, files = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:]
entries = {os.path.realpath(e["file"]): e.get("command") or " ".join(e["arguments"])
           for e in json.load(open(commands))}
for name in files:
    command = entries.get(os.path.realpath(os.path.join(root, name)))
    if command is None:
        continue  # not built here (a platform's own file, or a target not configured)
    with open(name, "rb") as text:
        key = hashlib.sha256(text.read() + command.encode() + shared.encode()).hexdigest()
    if not os.path.exists(os.path.join(cache, key)):
        print(name + " " + key)
PY
)
echo "scripts/lint.sh: clang-tidy on ${#pending[@]} changed files of src/ and tools/"
[ ${#pending[@]} -eq 0 ] && exit 0
export build cache
printf '%s\n' "${pending[@]}" | xargs -P "$(nproc)" -L 1 bash -c \
  'clang-tidy -p "$build" --extra-arg=-Wno-unknown-warning-option --quiet --use-color=false "$0" 2>/dev/null && touch "$cache/$1"'
