#!/usr/bin/env bash
# Builds the reference manual into OUT/html, warnings as errors: the C and C++
# reference from the public headers (Doxygen; an undocumented public name
# fails), the Python API from its docstrings (Sphinx with autodoc, after a
# check that fails on an undocumented public name), the task pages of
# docs/manual, and the programs' help and man pages from the build in BIN.
#   build-manual.sh BIN OUT VERSION
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "$1")
out=$(realpath -m "$2")
version=$3
scripts/install-deps.sh package
rm -rf "$out"
mkdir -p "$out/src" "$out/extra/man"

VAREK_VERSION=$version VAREK_HEADERS=$PWD/include/varek VAREK_DOXYGEN_OUT=$out/doxygen doxygen docs/manual/Doxyfile
mv "$out/doxygen/html" "$out/extra/c-api"

cp -r docs/manual/. "$out/src/"
cp packaging/README-windows.txt "$out/src/"
{
  echo "# Programs"
  echo
  echo "Each program's \`--help\`, as its man page (in \`man/\` beside this manual) has it."
  for program in varekctl varek-sim varek-server; do
    printf '\n## %s\n\n```text\n' "$program"
    "$bin/$program" --help
    printf '```\n'
  done
} >"$out/src/programs.md"
cp "$bin"/../man/*.1.gz "$out/extra/man/"

export VAREK_LIBRARY=$bin/libvarek.so VAREK_VERSION=$version VAREK_PYTHON_SOURCE=$PWD/python \
       VAREK_DOXYGEN_HTML=$out/extra
# Debian's Python and Sphinx: the frameworks the adapters use are mocked where absent.
/usr/bin/python3 docs/manual/check_python_docs.py python
/usr/bin/python3 -m sphinx -W --keep-going -q -b html -d "$out/doctrees" "$out/src" "$out/html"
echo "$out/html/index.html"
