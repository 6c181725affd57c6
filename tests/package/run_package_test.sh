#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the Debian package from a build folder, checks it as Debian would
# (lintian, desktop-file-validate, appstreamcli), unpacks it into a scratch
# root and uses what was installed as a user would: the installed tavel-batch
# on the installed example, the desktop program's start with and without a
# file. Checks that the package holds every file a user needs, that its
# dependencies name the package of every shared library the programs load,
# that the manual pages and --help name the same options, and that the
# programs, the package, the manual pages, the changelog and the metainfo say
# one version.
#   tests/package/run_package_test.sh [build dir, default: build-release]
set -euo pipefail
cd "$(dirname "$0")/../.."

build="${1:-build-release}"
failures=0
fail() {
  echo "package test: FAIL: $*" >&2
  failures=$((failures + 1))
}

for tool in dpkg-deb lintian desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "package test: $tool is needed" >&2; exit 1; }
done
rm -f "$build"/tavel_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/tavel_*.deb)"
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"

# A short root: tavel-batch refuses data paths of 100 characters or more.
root="$(mktemp -d /tmp/tavel-pkg.XXXXXX)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

# --- lintian: nothing at the error and warning levels (the package's own
# overrides apply), and none of the hardening or stripping notes of the
# informational level either: the release build has dpkg-buildflags' flags.
status=0
lintian_out="$(lintian -I --fail-on error,warning "$deb" 2>&1)" || status=$?
lintian_out="$(grep -v '^running with root privileges' <<<"$lintian_out" || true)"
[ -z "$lintian_out" ] || echo "$lintian_out"
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings (above), or did not run"
if grep -E 'hardening-|binary-has-unneeded-section|unstripped' <<<"$lintian_out" >/dev/null; then
  fail "the programs lack a hardening flag or are not stripped (lintian notes above)"
fi

# --- contents
metainfo=usr/share/metainfo/localhost.tavel.Tavel.metainfo.xml
for f in usr/bin/tavel usr/bin/tavel-batch usr/share/applications/tavel.desktop \
         usr/share/icons/hicolor/scalable/apps/tavel.svg usr/share/man/man1/tavel-batch.1.gz \
         usr/share/man/man1/tavel.1.gz usr/share/doc/tavel/copyright \
         usr/share/doc/tavel/changelog.Debian.gz "$metainfo" \
         usr/share/tavel/examples/reaction_rates.dat usr/share/tavel/examples/reaction_rates.csv; do
  [ -s "$root/$f" ] || fail "the package has no $f"
done
desktop="$root/usr/share/applications/tavel.desktop"
grep -qx 'Exec=tavel %f' "$desktop" || fail "the desktop entry does not start tavel with a file"
grep -qx 'Icon=tavel' "$desktop" || fail "the desktop entry does not name the icon tavel"
for type in text/csv text/tab-separated-values \
            application/vnd.openxmlformats-officedocument.spreadsheetml.sheet \
            application/vnd.oasis.opendocument.spreadsheet; do
  grep -Eq "^MimeType=(.*;)?$type;" "$desktop" || fail "the desktop entry does not open $type"
done
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
appstreamcli validate --no-net "$root/$metainfo" >"$root/appstream.txt" 2>&1 ||
  fail "appstreamcli rejects the metainfo: $(cat "$root/appstream.txt")"
grep -q '<launchable type="desktop-id">tavel.desktop</launchable>' "$root/$metainfo" ||
  fail "the metainfo does not launch tavel.desktop"

# --- one version: the programs', the package's, the manual pages', the
# changelog's and the metainfo's
version="$(dpkg-deb -f "$deb" Version)"
upstream="${version%-*}"
for program in tavel tavel-batch; do
  said="$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$root/usr/bin/$program" --version)" ||
    fail "$program --version needs a display or fails"
  [ "$said" = "$program $upstream" ] || fail "$program --version says '$said', the package $version"
  zcat "$root/usr/share/man/man1/$program.1.gz" | grep -q "^\.TH .* \"Tavel $upstream\"" ||
    fail "the manual page of $program does not say Tavel $upstream"
done
zcat "$root/usr/share/doc/tavel/changelog.Debian.gz" | head -n1 | grep -qF "tavel ($version) " ||
  fail "the changelog's latest entry is not $version"
grep -qF "<release version=\"$upstream\"" "$root/$metainfo" ||
  fail "the metainfo's release is not $upstream"

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

# --- the manual pages and --help name the same options
for program in tavel tavel-batch; do
  bash tests/package/check_manual_options.sh "$root/usr/bin/$program" \
    "$root/usr/share/man/man1/$program.1.gz" || fail "the manual page of $program and its --help differ"
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

# --- tavel FILE, as a file manager starts it: the file is read (the scan
# keeps it open for the Run) and the program waits in the Prepare dialog
mkdir -p "$root/open"
(cd "$root/open" && exec env QT_QPA_PLATFORM=offscreen "$root/usr/bin/tavel" "$example" \
   >/dev/null 2>&1) &
gui=$!
opened=0
for _ in $(seq 50); do
  if ls -l /proc/$gui/fd 2>/dev/null | grep -qF -- "-> $example"; then
    opened=1
    break
  fi
  sleep 0.2
done
kill "$gui" 2>/dev/null || true
wait "$gui" 2>/dev/null || true
[ "$opened" -eq 1 ] || fail "tavel FILE did not read the file it was given"

if ((failures)); then
  echo "package test: $failures failed" >&2
  exit 1
fi
echo "package test: passed"
