#!/usr/bin/env bash
# Makes the Debian package from a build folder, unpacks it into a scratch root
# and uses what was installed as a user would: the installed tavel-batch on the
# installed example, the desktop program's start. Checks that the package
# holds every file a user needs, that its dependencies name the package of
# every shared library the programs load, and that the manual page knows every
# option of --help.
#   tests/package/run_package_test.sh [build dir, default: build-release]
set -euo pipefail
cd "$(dirname "$0")/../.."

build="${1:-build-release}"
failures=0
fail() {
  echo "package test: FAIL: $*" >&2
  failures=$((failures + 1))
}

command -v dpkg-deb >/dev/null || { echo "package test: dpkg-deb is needed" >&2; exit 1; }
rm -f "$build"/tavel_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/tavel_*.deb)"
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"

# A short root: tavel-batch refuses data paths of 100 characters or more.
root="$(mktemp -d /tmp/tavel-pkg.XXXXXX)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

# --- contents
for f in usr/bin/tavel usr/bin/tavel-batch usr/share/applications/tavel.desktop \
         usr/share/icons/hicolor/scalable/apps/tavel.svg usr/share/man/man1/tavel-batch.1.gz \
         usr/share/tavel/examples/reaction_rates.dat usr/share/tavel/examples/reaction_rates.csv; do
  [ -s "$root/$f" ] || fail "the package has no $f"
done
desktop="$root/usr/share/applications/tavel.desktop"
grep -qx 'Exec=tavel' "$desktop" || fail "the desktop entry does not start tavel"
grep -qx 'Icon=tavel' "$desktop" || fail "the desktop entry does not name the icon tavel"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
fi

# --- dependencies: the package of every library the programs name directly
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
listed=" $(echo "$depends" | sed -E 's/\([^)]*\)//g; s/[,|]/ /g') "
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)"
for program in tavel tavel-batch; do
  binary="$root/usr/bin/$program"
  if readelf -d "$binary" | grep -Eq '\((RPATH|RUNPATH)\)'; then
    fail "$program keeps a library search path: $(readelf -d "$binary" | grep -E 'R(UN)?PATH')"
  fi
  for soname in $(readelf -d "$binary" | sed -nE 's/.*\(NEEDED\).*\[(.*)\]/\1/p'); do
    pkg="$(dpkg -S "*/$soname" 2>/dev/null |
           awk -v tail="/$multiarch/$soname" 'substr($0, length($0) - length(tail) + 1) == tail' |
           head -n1 | cut -d: -f1)" || true
    if [ -z "$pkg" ]; then
      fail "no installed package provides $soname, which $program needs"
    elif [[ "$listed" != *" $pkg "* ]]; then
      fail "$program needs $soname from $pkg, which the package does not depend on"
    fi
  done
done
for pkg in fonts-liberation fonts-dejavu-core; do
  [[ "$listed" == *" $pkg "* ]] || fail "the package does not depend on $pkg (the graph fonts)"
done

# --- the manual page names every option of --help
help="$("$root/usr/bin/tavel-batch" --help)"
manual="$(zcat "$root/usr/share/man/man1/tavel-batch.1.gz" | sed 's/\\-/-/g')"
for option in $(echo "$help" | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u); do
  grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" <<<"$manual" ||
    fail "the manual page does not describe $option"
done

# --- the installed tavel-batch on the installed example
example="$root/usr/share/tavel/examples/reaction_rates.dat"
args=(--dep _ln_RATE --indep T --indep P --indep CATALYST --flag T=monotone --flag P=monotone
      --flag CATALYST=unorderable --captures)
status=0
"$root/usr/bin/tavel-batch" "${args[@]}" --outdir "$root/out" "$example" \
  >"$root/stdout.txt" 2>"$root/stderr.txt" || status=$?
if [ "$status" -ne 0 ]; then
  fail "the installed tavel-batch exited with $status: $(cat "$root/stderr.txt")"
fi
for f in Tavel.log Taveltr.xls pic_A.bmp; do
  [ -s "$root/out/$f" ] || fail "the installed tavel-batch wrote no $f"
done
# The same numbers as the program in the build folder.
"$build/main/tavel-batch" "${args[@]}" --outdir "$root/ref" "$example" >/dev/null
cmp -s "$root/out/Taveltr.xls" "$root/ref/Taveltr.xls" ||
  fail "the installed program's Taveltr.xls differs from the build's"

# --- the desktop program starts (offscreen) and keeps running until stopped
mkdir -p "$root/gui"
status=0
(cd "$root/gui" && QT_QPA_PLATFORM=offscreen timeout 5 "$root/usr/bin/tavel" >/dev/null 2>&1) ||
  status=$?
[ "$status" -eq 124 ] || fail "the installed tavel ended on its own with status $status"

if ((failures)); then
  echo "package test: $failures failed" >&2
  exit 1
fi
echo "package test: passed"
