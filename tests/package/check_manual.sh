#!/usr/bin/env bash
# The technician's manual as the build made it, read back as a reader's PDF
# viewer would, and the tool that makes it refusing sources with a fault:
#
#   check_manual.sh <manual.pdf> <chapters.txt> <qs730-manual-pdf>
#
# The PDF: A4, every chapter's heading both in the contents and on a page of
# its own, every section heading, the Cyrillic text as written, a picture for
# each one the chapters show.
set -euo pipefail
pdf=$1
list=$2
tool=$3
folder=$(dirname "$list")

fail() {
  echo "manual test: $*" >&2
  exit 1
}
for t in pdftotext pdfinfo pdfimages; do
  command -v "$t" >/dev/null || fail "$t is missing (poppler-utils; scripts/setup.sh installs it)"
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ---- The PDF the build made
[ -f "$pdf" ] || fail "no $pdf"
pdfinfo "$pdf" >"$work/info"
grep -q '^Page size:.*(A4)' "$work/info" || fail "not A4: $(grep 'Page size' "$work/info")"
grep -q '^Title:.*Руководство пользователя' "$work/info" || fail "no title: $(grep Title "$work/info")"
pdftotext -layout "$pdf" "$work/text"
# One line per heading: what pdftotext makes of it, blanks squeezed.
tr -d '\f' <"$work/text" | tr -s ' ' | sed 's/^ //; s/ $//' >"$work/lines"
chapters=$(grep -v '^#' "$list" | grep -c .)
images=0
while read -r chapter; do
  case "$chapter" in "" | "#"*) continue ;; esac
  heading=$(sed -n '1s/^# //p' "$folder/$chapter")
  # In the contents (followed by its page number) and as the chapter's title.
  grep -q "^$heading [0-9]*$" "$work/lines" || fail "$chapter: \"$heading\" is not in the contents"
  grep -qx "$heading" "$work/lines" || fail "$chapter: no chapter titled \"$heading\""
  while IFS= read -r section; do
    grep -qxF "$section" "$work/lines" || fail "$chapter: no section \"$section\""
  done < <(sed -n 's/^##* //p' "$folder/$chapter" | tail -n +2)
  images=$((images + $({ grep -o '!\[[^]]*\]([^)]*)' "$folder/$chapter" || true; } | wc -l)))
done <"$list"
shown=$(pdfimages -list "$pdf" | tail -n +3 | wc -l)
[ "$shown" -ge "$images" ] || fail "$shown pictures in the PDF, the chapters show $images"
pages=$(sed -n 's/^Pages: *//p' "$work/info")
[ "$pages" -gt "$chapters" ] || fail "$pages pages for $chapters chapters and the contents"
echo "manual: $chapters chapters, $pages pages, $shown pictures"

# ---- Sources with a fault stop the build, naming the file
run_tool() { # <case>: the tool on a copy of the chapters with that fault
  rm -rf "$work/src"
  mkdir -p "$work/src/manual" "$work/src/screenshots"
  printf 'a.md\nb.md\n' >"$work/src/manual/chapters.txt"
  printf '# Первая\n\n![Окно](../screenshots/x.png)\n' >"$work/src/manual/a.md"
  printf '# Вторая\n\nТекст.\n' >"$work/src/manual/b.md"
  cp "$(dirname "$folder")/screenshots/main.png" "$work/src/screenshots/x.png"
  case "$1" in
  whole) ;;
  "listed chapter missing") rm "$work/src/manual/b.md" ;;
  "chapter not listed") printf '# Третья\n' >"$work/src/manual/c.md" ;;
  "no heading") printf 'Текст без заголовка.\n' >"$work/src/manual/b.md" ;;
  "picture missing") rm "$work/src/screenshots/x.png" ;;
  esac
  ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen \
    "$tool" "$work/src/manual/chapters.txt" 1.2.3 "$work/out.pdf" >"$work/tool.out" 2>&1
}
run_tool whole || { cat "$work/tool.out" >&2; fail "the tool refused whole sources"; }
[ "$(pdfinfo "$work/out.pdf" | sed -n 's/^Pages: *//p')" = 3 ] ||
  fail "two chapters did not make the contents and two pages"
for case in "listed chapter missing:b.md" "chapter not listed:c.md" "no heading:b.md" \
  "picture missing:x.png"; do
  rm -f "$work/out.pdf"
  if run_tool "${case%%:*}"; then
    fail "${case%%:*}: the tool did not fail"
  fi
  grep -q "manual: .*${case#*:}" "$work/tool.out" ||
    fail "${case%%:*}: the message does not name ${case#*:}: $(cat "$work/tool.out")"
  [ ! -e "$work/out.pdf" ] || fail "${case%%:*}: a PDF was made all the same"
done
echo "manual test passed"
