#!/usr/bin/env bash
# The Debian package, installed into a temporary root with dpkg-deb -x: its program starts from
# the installed path to its connection window (under Xvfb), and its vfpsql and
# quillmere-transfer run. Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null)
deb=$(ls "$work"/pkg/*.deb)
dpkg-deb -x "$deb" "$work/root"
r=$work/root/usr
for f in bin/quillmere bin/quillmere-transfer bin/vfpsql share/applications/quillmere.desktop \
  share/icons/hicolor/64x64/apps/quillmere.png share/metainfo/example.tarnwick.Quillmere.metainfo.xml \
  share/man/man1/quillmere.1 share/man/man1/vfpsql.1 share/man/man1/quillmere-transfer.1 \
  share/quillmere/HAND-M.CUR; do
  [[ -e $r/$f ]] || { echo "missing in the package: /usr/$f" >&2; exit 1; }
done

# vfpsql from the installed path: a table made and read back.
mkdir "$work/fox"
"$r/bin/vfpsql" "$work/fox" "CREATE TABLE t (n I)" "INSERT INTO t VALUES (42)" >/dev/null
out=$("$r/bin/vfpsql" "$work/fox" "SELECT * FROM t")
[[ $out == *42* ]] || { echo "installed vfpsql printed: $out" >&2; exit 1; }
"$r/bin/quillmere-transfer" --help | grep -q -- "--to-mysql"

# The program from the installed path, with settings of its own, until its window appears
# (within a minute: the test shares the machine with the rest of the suite).
export XDG_CONFIG_HOME=$work/config
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  "$1" & pid=$!
  for _ in $(seq 1 300); do
    if xdotool search --onlyvisible --name "^Quillmere$" >/dev/null 2>&1; then
      kill $pid; wait $pid 2>/dev/null; exit 0
    fi
    kill -0 $pid 2>/dev/null || { echo "the installed program exited" >&2; exit 1; }
    sleep 0.2
  done
  kill $pid; echo "no window from the installed program" >&2; exit 1' _ "$r/bin/quillmere"
echo "package ok: $deb"
