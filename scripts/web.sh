#!/usr/bin/env bash
# Builds the browser page (the codec as WebAssembly, with emscripten) into
# build/web/site and serves that folder on this machine, printing its URL.
#   bash scripts/web.sh                 build, then serve on 127.0.0.1:8036
#   bash scripts/web.sh --port N        another port (0: any free one)
#   bash scripts/web.sh --build-only    build, print the folder, and stop
# The folder is the whole page: any static server can serve it.
set -euo pipefail
cd "$(dirname "$0")/.."
port=8036
serve=yes
while [ $# -gt 0 ]; do
  case $1 in
    --port) port=$2; shift 2 ;;
    --build-only) serve=no; shift ;;
    *) echo "web.sh: unknown option $1 (see the comment at the top)" >&2; exit 2 ;;
  esac
done
bash scripts/setup.sh --web
# Debian's node does not search Debian's own modules, which emscripten's
# optimizer needs (acorn).
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
# The build's output goes to a log, shown only when the build fails.
mkdir -p build/web
log=build/web/build.log
if ! { [ -f build/web/CMakeCache.txt ] || emcmake cmake -S web -B build/web; } >"$log" 2>&1 ||
  ! cmake --build build/web -j 2 >>"$log" 2>&1; then
  cat "$log" >&2
  echo "web.sh: the page's build failed (the log above is in $log)" >&2
  exit 1
fi
site=$PWD/build/web/site
if [ $serve = no ]; then
  echo "$site"
  exit 0
fi
exec /usr/bin/python3 - "$site" "$port" <<'PY'
import functools, http.server, sys
site, port = sys.argv[1], int(sys.argv[2])
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=site)
server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
print(f"QUILL32 page: http://127.0.0.1:{server.server_address[1]}/  (Ctrl-C stops it)", flush=True)
try:
    server.serve_forever()
except KeyboardInterrupt:
    pass
PY
