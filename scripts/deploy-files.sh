#!/usr/bin/env bash
# Writes deploy/'s files into OUT as a release zip holds them beside the
# programs, for the zip of ARCH (x64, x86 or arm64):
#   install.cmd, uninstall.cmd     CR LF: cmd.exe misreads labels and goto in
#                                  LF-only batch files; install.cmd names ARCH,
#                                  so that it refuses a machine that cannot run
#                                  that build (the x86 one runs everywhere)
#   detect.ps1, remediate.ps1,     CR LF, for Notepad and the consoles' script
#   configmgr-discovery.ps1        boxes
#   profile-sync-task.xml          UTF-16 with a byte order mark and CR LF, as
#                                  Task Scheduler exports a task and schtasks
#                                  /create /xml takes one on every Windows
#   hardened-unc-paths.reg         UTF-16 LE with a byte order mark and CR LF,
#                                  as regedit exports a "Windows Registry
#                                  Editor Version 5.00" file and reads one
#   policy/...                     deploy/policy's templates, whichever there
#                                  are, .admx and .adml with CR LF
# All but the templates must be ASCII: PowerShell 5.1 reads a script without a
# byte order mark in the ANSI code page, and cmd.exe a batch file in the OEM one.
#   deploy-files.sh ARCH OUT
set -euo pipefail
arch=$1
out=$2
deploy=$(cd "$(dirname "$0")/../deploy" && pwd)
case $arch in
  x64 | arm64) built_for=$arch ;;
  x86) built_for=any ;;
  *) echo "deploy-files.sh: no zip for $arch" >&2; exit 2 ;;
esac

scripts=(install.cmd uninstall.cmd detect.ps1 remediate.ps1 configmgr-discovery.ps1)
task=profile-sync-task.xml
reg=hardened-unc-paths.reg
for file in "${scripts[@]}" "$task" "$reg"; do
  if LC_ALL=C grep -n '[^[:print:][:space:]]' "$deploy/$file"; then
    echo "deploy-files.sh: deploy/$file has the characters above, which are not ASCII" >&2
    exit 1
  fi
done
crlf() { sed 's/\r*$/\r/' "$1"; }
utf16() { printf '\377\376' && iconv -f ASCII -t UTF-16LE; }

mkdir -p "$out"
for file in "${scripts[@]}"; do
  crlf "$deploy/$file" >"$out/$file"
done
sed -i "s/^set \"built_for=any\"\r\$/set \"built_for=$built_for\"\r/" "$out/install.cmd"
grep -q "^set \"built_for=$built_for\"" "$out/install.cmd" ||
  { echo "deploy-files.sh: install.cmd has no line set \"built_for=any\" to name $arch in" >&2; exit 1; }
crlf "$deploy/$task" | sed '1s/^<?xml version="1.0"?>/<?xml version="1.0" encoding="UTF-16"?>/' |
  utf16 >"$out/$task"
crlf "$deploy/$reg" | utf16 >"$out/$reg"

if [ -d "$deploy/policy" ]; then
  while IFS= read -r -d '' file; do
    mkdir -p "$out/$(dirname "$file")"
    case $file in
      *.admx | *.adml) crlf "$deploy/$file" >"$out/$file" ;;
      *) cp "$deploy/$file" "$out/$file" ;;
    esac
  done < <(cd "$deploy" && find policy -type f -print0)
fi
