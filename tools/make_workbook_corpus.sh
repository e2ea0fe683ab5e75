#!/usr/bin/env bash
# Regenerates the workbook corpus in tests/workbooks: workbooks as real
# programs write them, each with the texts LibreOffice shows for its first
# sheet (NAME.csv beside NAME), hand-made files for what no program here
# writes (with their expected texts, or NAME.refused holding a text the
# refusal names), and small hostile files (hostile/, see
# tests/workbook_hostile_test.cpp).
#
# The programs are pinned Debian packages; LibreOffice runs headless in a
# profile of its own with the Chinese (PRC) locale, and its text export
# writes UTF-8 with "save cell contents as shown" (token 9 of the filter
# options) on. The files are committed; the build and the tests never run
# this script.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../tests/workbooks}
PINNED=(libreoffice-calc-nogui=4:7.4.7-1+deb12u14 gnumeric=1.12.55-1
  python3-openpyxl=3.0.9-1 python3-xlsxwriter=3.0.2-2 python3-xlwt=1.3.0-4)

missing=()
for p in "${PINNED[@]}"; do
  [ "$(dpkg-query -W -f='${Version}' "${p%%=*}" 2>/dev/null)" = "${p#*=}" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/src" "$work/profile/user"

# LibreOffice's settings: the locale of the shown texts, and formulas
# computed when a file is loaded that holds no results for them (the sources
# written by XlsxWriter) - except for the text export, which shows what the
# file holds.
profile() {
  cat >"$work/profile/user/registrymodifications.xcu" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Setup/L10N"><prop oor:name="ooSetupSystemLocale" oor:op="fuse"><value>zh-CN</value></prop></item>
<item oor:path="/org.openoffice.Setup/L10N"><prop oor:name="ooLocale" oor:op="fuse"><value>en-US</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse"><value>$1</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="ODFRecalcMode" oor:op="fuse"><value>$1</value></prop></item>
</oor:items>
EOF
}
soffice_convert() {  # filter outdir files...
  local filter=$1 dir=$2
  shift 2
  timeout 300 soffice -env:UserInstallation="file://$work/profile" --headless --norestore \
    --convert-to "$filter" --outdir "$dir" "$@" >/dev/null
}

/usr/bin/python3 "$here/workbook_corpus.py" sources "$work/src"
/usr/bin/python3 "$here/workbook_corpus.py" direct "$out"
/usr/bin/python3 "$here/workbook_corpus.py" handmade "$out"
/usr/bin/python3 "$here/workbook_corpus.py" hostile "$out/hostile"

# LibreOffice files, .xlsx and .xls, from the sources (formulas computed).
profile 0
for name in participants dates1904 long_numbers; do
  soffice_convert 'xlsx:Calc MS Excel 2007 XML' "$work/lo" "$work/src/$name.xlsx"
  soffice_convert 'xls:MS Excel 97' "$work/lo" "$work/src/$name.xlsx"
  cp "$work/lo/$name.xlsx" "$out/libreoffice_$name.xlsx"
  cp "$work/lo/$name.xls" "$out/libreoffice_$name.xls"
done
# Gnumeric's converter, from LibreOffice's file.
ssconvert --export-type=Gnumeric_Excel:xlsx2 "$out/libreoffice_participants.xlsx" \
  "$out/gnumeric_participants.xlsx" 2>/dev/null

# The expected texts: the first sheet as LibreOffice shows it (results as
# the files hold them).
profile 1
for f in "$out"/libreoffice_*.xls* "$out"/gnumeric_*.xlsx "$out"/xlsxwriter_*.xlsx \
  "$out"/openpyxl_*.xlsx "$out"/xlwt_*.xls; do
  rm -rf "$work/csv"
  soffice_convert 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,1' \
    "$work/csv" "$f"
  mv "$work/csv"/*.csv "$f.csv"
done
ls -l "$out"
