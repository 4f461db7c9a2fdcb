#!/usr/bin/env bash
# Builds the Windows Installer package from the folder the zip is made of:
#
#   msi.sh <folder> <version> <icon.ico> <output.msi>
#
# QS730_View.wxs beside this script describes the package; every other file
# of <folder> goes into Program Files\QS730_View as it lies in <folder>.
# wixl (Debian's msitools) builds it: 64-bit with -a x64 and every component
# marked Win64. The product code is derived from the version, so a package of
# the same version never installs twice beside itself.
#
# wixl writes the database's strings in the code page of WINDOWS_LANGUAGE
# (Western without it, which has no Cyrillic and loses those strings), and
# leaves the code page unmarked; msibuild then marks it 1251, so that Windows
# reads the strings right whatever its own language. The summary information
# (the file's properties in Explorer) holds UTF-8 from wixl and is rewritten
# in ASCII: Windows reads it in a code page of its own.
set -euo pipefail
stage=$1
version=$2
icon=$3
output=$4
here="$(cd "$(dirname "$0")" && pwd)"

for tool in wixl msibuild; do
  command -v "$tool" >/dev/null || {
    echo "msi.sh: $tool is missing (Debian packages wixl and msitools)" >&2
    exit 1
  }
done
[ -f "$stage/QS730_View.exe" ] || {
  echo "msi.sh: no QS730_View.exe in $stage" >&2
  exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

upgrade_code=808AE7B2-1B71-46AE-8962-AC5B0412555B
grep -q "UpgradeCode=\"$upgrade_code\"" "$here/QS730_View.wxs" || {
  echo "msi.sh: the upgrade code differs from QS730_View.wxs" >&2
  exit 1
}
# A name-based GUID (as RFC 4122 version 5) of the upgrade code and the version.
hash=$(printf '%s %s' "$upgrade_code" "$version" | sha1sum | cut -c1-32)
variant=$(printf '%x' $(((0x${hash:16:1} & 3) | 8)))
product_code=$(printf '%s-%s-5%s-%s%s-%s' "${hash:0:8}" "${hash:8:4}" "${hash:13:3}" \
  "$variant" "${hash:17:3}" "${hash:20:12}" | tr a-f A-F)

# ---- Every file but the program, folder by folder
xml() { sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g; s/"/\&quot;/g'; }
id_of() { printf 'p%s' "$(printf '%s' "$1" | sha1sum | cut -c1-24)"; }
components=()
emit_folder() { # <path relative to the stage, "" for its top>
  local rel=$1 entry name path id
  while IFS= read -r -d '' entry; do
    name=$(basename "$entry")
    path=${rel:+$rel/}$name
    id=$(id_of "$path")
    if [ -d "$entry" ]; then
      printf '<Directory Id="d%s" Name="%s">\n' "${id#p}" "$(printf '%s' "$name" | xml)"
      emit_folder "$path"
      printf '</Directory>\n'
    elif [ "$path" != QS730_View.exe ]; then
      printf '<Component Id="c%s" Guid="*" Win64="yes"><File Id="%s" Source="stage/%s" KeyPath="yes"/></Component>\n' \
        "${id#p}" "$id" "$(printf '%s' "$path" | xml)"
      echo "c${id#p}" >>"$work/components"
    fi
  done < <(find "$stage/$rel" -mindepth 1 -maxdepth 1 -print0 | sort -z)
}
: >"$work/components"
{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi"><Fragment>'
  echo '<DirectoryRef Id="INSTALLDIR">'
  emit_folder ""
  echo '</DirectoryRef>'
  echo '<ComponentGroup Id="Payload">'
  sed 's/.*/<ComponentRef Id="&"\/>/' "$work/components"
  echo '</ComponentGroup></Fragment></Wix>'
} >"$work/payload.wxs"

# ---- The package
# wixl takes the files' paths relative to the folder it runs in.
ln -s "$(cd "$stage" && pwd)" "$work/stage"
cp "$icon" "$work/QS730_View.ico"
(cd "$work" && WINDOWS_LANGUAGE=ru wixl -a x64 \
  -D Version="$version" -D ProductCode="$product_code" -D Stage=stage -D Icon=QS730_View.ico \
  -o package.msi "$here/QS730_View.wxs" payload.wxs) 2>"$work/wixl.log" || {
  cat "$work/wixl.log" >&2
  echo "msi.sh: wixl failed" >&2
  exit 1
}
printf '\r\n\r\n1251\t_ForceCodepage\r\n' >"$work/_ForceCodepage.idt"
WINDOWS_LANGUAGE=ru msibuild "$work/package.msi" -i "$work/_ForceCodepage.idt" \
  -s "QS730_View $version" "QS730_View" "x64;1049"
mv "$work/package.msi" "$output"
