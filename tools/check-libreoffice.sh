#!/bin/sh
# Has LibreOffice read the .xlsx, CSV (UTF-8 and GBK) and .xls files the program writes, under
# an English locale, and compares every cell with what was written. Not part of the test suite:
# LibreOffice is too large an install for every build machine.
#
#   cmake --build --preset dev --target lianbu-exchange-samples
#   tools/check-libreoffice.sh [build/dev]
set -eu
build=${1:-build/dev}
soffice=$(command -v soffice || command -v libreoffice || true)
if [ -z "$soffice" ]; then
    echo "LibreOffice (soffice) is not installed: apt-get install libreoffice-calc-nogui" >&2
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/lianbu-exchange-samples" "$work"
mkdir "$work/out"
status=0
# CSV filter options: field separator 44 (","), text delimiter 34 ('"'), then the character
# set: by name for the files read in, 76 (UTF-8) for what LibreOffice writes out.
for file in customers.xlsx customers-utf8.csv customers-gbk.csv customers.xls; do
    case $file in
        customers-gbk.csv) infilter=':"Text - txt - csv (StarCalc)":44,34,GBK' ;;
        *.csv) infilter=':"Text - txt - csv (StarCalc)":44,34,UTF-8' ;;
        *) infilter='' ;;
    esac
    mkdir -p "$work/out/$file"
    env LC_ALL=C.UTF-8 LANG=en_US.UTF-8 HOME="$work" "$soffice" --headless \
        ${infilter:+"--infilter=${infilter#:}"} \
        --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76' --outdir "$work/out/$file" "$work/$file" >/dev/null 2>&1
    got=$(ls "$work/out/$file"/*.csv 2>/dev/null | head -n 1)
    if [ -z "$got" ]; then
        echo "FAIL $file: LibreOffice wrote nothing"
        status=1
        continue
    fi
    if python3 - "$work/expected.csv" "$got" <<'PY'
import csv, sys
def rows(path):
    with open(path, encoding="utf-8-sig", newline="") as f:
        return [r for r in csv.reader(f)]
expected = rows(sys.argv[1])
got = rows(sys.argv[2])
title = expected[0]
# The spreadsheets carry a title block above the titles: start where the titles are.
start = next((i for i, r in enumerate(got) if r[:len(title)] == title), None)
if start is None:
    print("  titles not found; first rows:", got[:4])
    sys.exit(1)
bad = 0
for k, want in enumerate(expected):
    have = got[start + k] if start + k < len(got) else []
    have = (have + [""] * len(want))[:len(want)]
    for c, (w, h) in enumerate(zip(want, have)):
        if w != h:
            print(f"  row {k} column {c}: expected {w!r}, got {h!r}")
            bad += 1
sys.exit(1 if bad else 0)
PY
    then echo "ok   $file"; else echo "FAIL $file"; status=1; fi
done
exit $status
