#!/usr/bin/env bash
# The Debian packages, installed into a temporary root with dpkg-deb -x: quillmere-tools holds
# vfpsql and quillmere-transfer with their man pages and asks only for the libraries they link;
# quillmere holds the program and asks for the tools package of its own version. The program
# starts from the installed path to its connection window (under Xvfb), and the tools run.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "$*" >&2
  exit 1
}

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null)
tools=$(ls "$work"/pkg/quillmere-tools_*.deb)
program=$(ls "$work"/pkg/quillmere_*.deb)
[[ $(ls "$work"/pkg/*.deb | wc -l) -eq 2 ]] || fail "not two packages: $(ls "$work"/pkg)"

# Each package holds its own files and none of the other's.
contents() { dpkg-deb -c "$1" | awk '{print $NF}' | sed 's|^\./|/|'; }
check_holds() {  # deb, then the files it must hold
  local deb=$1 listing
  shift
  listing=$(contents "$deb")
  for f in "$@"; do
    grep -qx -- "/usr/$f" <<<"$listing" || fail "missing in $(basename "$deb"): /usr/$f"
  done
}
tool_files=(bin/quillmere-transfer bin/vfpsql share/man/man1/vfpsql.1
  share/man/man1/quillmere-transfer.1)
program_files=(bin/quillmere share/applications/quillmere.desktop
  share/icons/hicolor/64x64/apps/quillmere.png share/metainfo/example.tarnwick.Quillmere.metainfo.xml
  share/man/man1/quillmere.1 share/quillmere/HAND-M.CUR)
check_holds "$tools" "${tool_files[@]}"
check_holds "$program" "${program_files[@]}"
# Listings are held in variables: grep -q leaves a pipe early, and under pipefail the writer's
# SIGPIPE would turn a found file into "not found".
tools_listing=$(contents "$tools")
program_listing=$(contents "$program")
for f in "${program_files[@]}"; do
  ! grep -qx -- "/usr/$f" <<<"$tools_listing" || fail "the tools package holds /usr/$f"
done
for f in "${tool_files[@]}"; do
  ! grep -qx -- "/usr/$f" <<<"$program_listing" || fail "the program's package holds /usr/$f"
done

# The program needs the tools of its own version.
version=$(dpkg-deb -f "$program" Version)
[[ $(dpkg-deb -f "$tools" Version) == "$version" ]] || fail "the two packages differ in version"
[[ ", $(dpkg-deb -f "$program" Depends), " == *", quillmere-tools (= $version), "* ]] ||
  fail "the program does not depend on quillmere-tools (= $version): $(dpkg-deb -f "$program" Depends)"

dpkg-deb -x "$tools" "$work/root"
dpkg-deb -x "$program" "$work/root"
r=$work/root/usr

# The tools package asks for the packages of the libraries the tools link, and nothing else:
# no window system unless a tool links one.
linked=$(for b in quillmere-transfer vfpsql; do
  ldd "$r/bin/$b" | awk '$2 == "=>" && $3 ~ /^\// {print $3}'
done | sort -u)
needed=$(for b in quillmere-transfer vfpsql; do
  objdump -p "$r/bin/$b" | awk '$1 == "NEEDED" {print $2}'
done | sort -u)
owners=$(for soname in $needed; do
  path=$(grep -m1 "/$soname\$" <<<"$linked") || fail "ldd finds no $soname"
  dpkg -S "$path" 2>/dev/null || dpkg -S "$(readlink -f "$path")"
done | cut -d: -f1 | sort -u)
depends=$(dpkg-deb -f "$tools" Depends | tr ',|' '\n\n' | awk 'NF {print $1}' | sort -u)
[[ -n $depends ]] || fail "the tools package names no dependencies"
extra=$(comm -23 <(echo "$depends") <(echo "$owners"))
[[ -z $extra ]] || fail "the tools package asks for what no tool links: $extra"

# vfpsql from the installed path: a table made and read back.
mkdir "$work/fox"
"$r/bin/vfpsql" "$work/fox" "CREATE TABLE t (n I)" "INSERT INTO t VALUES (42)" >/dev/null
out=$("$r/bin/vfpsql" "$work/fox" "SELECT * FROM t")
[[ $out == *42* ]] || { echo "installed vfpsql printed: $out" >&2; exit 1; }
help=$("$r/bin/quillmere-transfer" --help)
grep -q -- "--to-mysql" <<<"$help" || fail "installed quillmere-transfer --help names no --to-mysql"

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
echo "package ok: $tools $program"
