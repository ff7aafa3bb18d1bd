#!/usr/bin/env bash
# Set-up's decisions against a stand-in apt-get and dpkg: a mirror whose
# update fails once or always, an optional package that cannot be had, a
# required one that cannot, and a second run on a complete machine.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"

cat >"$work/bin/dpkg" <<'STAND_IN'
#!/usr/bin/env bash
case "$1" in
  -s) ! grep -qxF "$2" "$FAKE/missing" ;;
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) cat "$FAKE/foreign" ;;
  --add-architecture) echo "$2" >>"$FAKE/foreign" && echo "dpkg $*" >>"$FAKE/log" ;;
  --remove-architecture) sed -i "/^$2\$/d" "$FAKE/foreign" && echo "dpkg $*" >>"$FAKE/log" ;;
esac
STAND_IN
cat >"$work/bin/apt-get" <<'STAND_IN'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE/log"
case "$1" in
  update)
    if [ "$(cat "$FAKE/update")" = always ] || { [ "$(cat "$FAKE/update")" = once ] && [ ! -e "$FAKE/failed" ]; }; then
      touch "$FAKE/failed"
      echo "E: Failed to fetch i386/Packages  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
      exit 100
    fi ;;
  install)
    for p in "$@"; do
      if grep -qxF -- "$p" "$FAKE/refuse"; then
        echo "E: Unable to locate package $p" >&2
        exit 100
      fi
    done
    for p in "$@"; do sed -i "/^$p\$/d" "$FAKE/missing"; done ;;
esac
STAND_IN
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

failures=0
# name | update fails | missing | refused | runs 32-bit | runs | status | printed | calls match | calls do not match
cases=(
  "update fails once|once|clang|-|yes|1|0|installing: clang|(apt-get update -q ){2}apt-get install .* clang|"
  "update fails always|always|clang|-|yes|1|0|going on with the package lists|(apt-get update -q ){3}apt-get install .* clang|"
  "optional refused|ok|wine32:i386|wine32:i386|yes|1|0|will say SKIPPED|remove-architecture i386|"
  "optional refused, run again|ok|wine32:i386|wine32:i386|yes|2|0||add-architecture i386 .*install .* wine32:i386|apt-get update.*apt-get update"
  "required refused|always|lintian clang|lintian|yes|1|1|required packages lintian: E: Unable to locate package lintian|--no-install-recommends clang |"
  "no 32-bit kernel|ok|wine32:i386|-|no|1|0|does not run 32-bit programs||apt-get"
  "nothing missing|ok||-|yes|1|0|||apt-get"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name update missing refused runs32 runs status printed has lacks <<<"$row"
  export FAKE="$work/$RANDOM$RANDOM"
  mkdir -p "$FAKE/home"
  echo "$update" >"$FAKE/update"
  tr ' ' '\n' <<<"$missing" >"$FAKE/missing"
  tr ' ' '\n' <<<"$refused" >"$FAKE/refuse"
  : >"$FAKE/foreign"
  : >"$FAKE/log"
  for _ in $(seq "$runs"); do
    PATH="$work/bin:$PATH" HOME="$FAKE/home" XDG_CACHE_HOME="" QUILL32_32BIT=$runs32 QUILL32_APT_PAUSE=0 \
      bash "$top/scripts/setup.sh" --tests >"$FAKE/out" 2>&1
    got=$?
  done
  log=$(tr '\n' ' ' <"$FAKE/log")
  problem=""
  [ "$got" -eq "$status" ] || problem="exit status $got, not $status"
  [ -z "$printed" ] || grep -qF -- "$printed" "$FAKE/out" || problem+=" output lacks '$printed'"
  [ -z "$has" ] || grep -qE -- "$has" <<<"$log" || problem+=" calls do not match '$has'"
  [ -z "$lacks" ] || ! grep -qE -- "$lacks" <<<"$log" || problem+=" calls match '$lacks'"
  if [ -n "$problem" ]; then
    echo "FAIL: $name:$problem"
    sed 's/^/    /' "$FAKE/out"
    echo "    calls: $log"
    failures=$((failures + 1))
  else
    echo "ok: $name"
  fi
done
[ $failures -eq 0 ]
