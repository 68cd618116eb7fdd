#!/usr/bin/env bash
# Unpacks the .deb CPack made into a staging folder and checks what a user would get:
# its control fields, the files it installs, jetrepair run from its installed path, the
# desktop entry and the AppStream data through their validators.
# Usage: installed_package_test.sh <build dir> <version> <corpus dir>
set -euo pipefail
build=$1 version=$2 corpus=$3
failed=0
fail() { echo "FALLO: $*"; failed=1; }

debs=("$build"/tarsolin_"$version"_*.deb)
[ -f "${debs[0]}" ] || { echo "FALLO: no hay paquete tarsolin_${version}_*.deb en $build"; exit 1; }
deb=${debs[0]}
stage=$(mktemp -d "${TMPDIR:-/tmp}/tarsolin-deb.XXXXXX")
trap 'rm -rf "$stage"' EXIT
dpkg-deb -x "$deb" "$stage"

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "versión del paquete: $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
# dpkg-shlibdeps names the libraries the programs link against.
for lib in libc6 libstdc++6 libqt6widgets6; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends no incluye $lib: $depends"
done

app=es.tarsolin.tarsolin
for f in usr/bin/tarsolin usr/bin/jetrepair \
         usr/share/applications/$app.desktop usr/share/metainfo/$app.metainfo.xml \
         usr/share/icons/hicolor/16x16/apps/tarsolin.png usr/share/icons/hicolor/32x32/apps/tarsolin.png \
         usr/share/man/man1/jetrepair.1.gz usr/share/man/man1/tarsolin.1.gz \
         usr/share/doc/tarsolin/copyright usr/share/doc/tarsolin/changelog.gz; do
  [ -f "$stage/$f" ] || fail "falta /$f"
done
[ -x "$stage/usr/bin/tarsolin" ] || fail "/usr/bin/tarsolin no es ejecutable"
zcat "$stage/usr/share/man/man1/jetrepair.1.gz" | grep -q "jetrepair $version" || fail "la página de manual no lleva la versión $version"

jetrepair=$stage/usr/bin/jetrepair
out=$("$jetrepair" --version) || fail "jetrepair --version terminó con error"
[[ "$out" == "jetrepair $version"* ]] || fail "jetrepair --version escribe: $out"

sample=$corpus/jackcess/V2003/test2V2003.mdb
if [ -f "$sample" ]; then
  "$jetrepair" check "$sample" >/dev/null || fail "jetrepair check $sample terminó con $?"
  json=$("$jetrepair" check --json "$sample") || fail "jetrepair check --json terminó con error"
  [[ "$json" == *'"exit_status": 0'* ]] || fail "jetrepair check --json escribe: $json"
else
  echo "SKIPPED: no hay corpus en $corpus: jetrepair check no se prueba"
fi

desktop-file-validate "$stage/usr/share/applications/$app.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$stage/usr/share/metainfo/$app.metainfo.xml" || fail "appstreamcli validate"

[ "$failed" -eq 0 ] && echo "Paquete $(basename "$deb"): correcto"
exit "$failed"
