#!/usr/bin/env bash
# Checks the package that scripts/package.sh wrote: its files, its
# dependencies, the unit, and that the unpacked program runs.
set -euo pipefail
cd "$(dirname "$0")/.."
VERSION=$(sed -n 's/^project(quvo_hwclient VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
DEB=build-release/quvo-hwclient_${VERSION}_$(dpkg --print-architecture).deb
[ -f "$DEB" ] || { echo "FAIL: no $DEB"; exit 1; }
WORK=$(mktemp -d /tmp/quvo-deb.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

dpkg-deb -c "$DEB" | awk '{print $NF}' | sed 's|^\./|/|' > "$WORK/files"
for f in /usr/bin/quvo-hwclient /usr/lib/systemd/system/quvo-hwclient.service \
         /usr/share/applications/quvo-hwclient.desktop /usr/share/icons/hicolor/64x64/apps/quvo-hwclient.png \
         /usr/lib/sysusers.d/quvo-hwclient.conf /usr/share/doc/quvo-hwclient/copyright \
         /usr/share/doc/quvo-hwclient/README.md; do
  grep -qx "$f" "$WORK/files" || fail "$f is not in the package"
done
# Private libraries only while the project's libraries are shared.
if grep -q 'libquvo_' "$WORK/files"; then
  echo "note: the package still ships the project's shared libraries:"
  grep 'libquvo_' "$WORK/files" | sed 's/^/  /'
fi

[ "$(dpkg-deb -f "$DEB" Version)" = "$VERSION" ] || fail "package version is not $VERSION"
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
for lib in libqt6core6 libqt6network6 libsystemd0 libc6; do
  [[ "$DEPENDS" == *"$lib"* ]] || fail "Depends lacks $lib: $DEPENDS"
done
[[ "$DEPENDS" != *telldus* ]] || fail "Depends names Telldus: $DEPENDS"
dpkg-deb -e "$DEB" "$WORK/control"
for s in postinst prerm postrm; do sh -n "$WORK/control/$s" || fail "$s does not parse"; done

dpkg-deb -x "$DEB" "$WORK/root"
OUT=$(env -u DISPLAY -u WAYLAND_DISPLAY "$WORK/root/usr/bin/quvo-hwclient" --version)
[[ "$OUT" == *"$VERSION"* ]] || fail "--version printed \"$OUT\", not $VERSION"
echo "unpacked program: $OUT"

UNIT=$WORK/root/usr/lib/systemd/system/quvo-hwclient.service
grep -qx 'ExecStart=/usr/bin/quvo-hwclient --headless' "$UNIT" || fail "unit does not start /usr/bin/quvo-hwclient --headless"
# systemd-analyze checks that the program exists, so the copy it reads points
# at the unpacked one. Whatever it prints is a fault; if it cannot even
# accept a trivial unit here (no systemd in the container), it is skipped.
printf '[Service]\nExecStart=/bin/true\n' > "$WORK/probe.service"
if ! PROBE=$(systemd-analyze verify --man=no "$WORK/probe.service" 2>&1) || [ -n "$PROBE" ]; then
  echo "skipped: systemd-analyze verify cannot run here: ${PROBE:-exit code $?}"
else
  sed "s|^ExecStart=/usr/bin/|ExecStart=$WORK/root/usr/bin/|" "$UNIT" > "$WORK/quvo-hwclient.service"
  if ! REPORT=$(systemd-analyze verify --man=no "$WORK/quvo-hwclient.service" 2>&1) || [ -n "$REPORT" ]; then
    fail "systemd-analyze verify: $REPORT"
  fi
  echo "systemd-analyze verify accepts the unit"
fi
echo "package ok: $DEB"
