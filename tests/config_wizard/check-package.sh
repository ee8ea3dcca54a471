#!/usr/bin/env bash
# Builds the Debian package kelvarix-server from a build tree and checks that it holds the
# server machine's layout under /opt/kelvarix-server, marks the files the set-up fills as
# configuration files, and depends on the services the set-up drives.
#   check-package.sh BUILD_DIR
set -euo pipefail
build=$1
out=$(mktemp -d /tmp/kx-package-XXXXXX)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -G DEB -B "$out" > "$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/kelvarix-server_*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' > "$out/files"
dpkg-deb -f "$deb" Package Depends > "$out/control"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles > "$out/conffiles"

failed=0
expect() { grep -qx -- "$2" "$out/$1" || { echo "missing in $1: $2"; failed=1; }; }
base=/opt/kelvarix-server
for f in kelvarix/KelvarixServer kelvarix/KelvarixConfig kelvarix/kelvarix-ctl \
         kelvarix/kelvarix-manager kelvarix/Server.ini kelvarix/Services.ini \
         kelvarix/sql/zvn_struct_postgresql.sql kelvarix/sql/zvn_fill.sql kelvarix/upload \
         postgresql httpd/conf/httpd.conf httpd/conf/mime.types httpd/htdocs/index.html \
         httpd/cgi-bin httpd/logs bin/rails_pid application/bin/start-web-manager \
         application/config/database.yml application/config/application.yml; do
    expect files "$base/$f"
done
for f in kelvarix/Server.ini kelvarix/Services.ini httpd/conf/httpd.conf \
         application/config/database.yml application/config/application.yml; do
    expect conffiles "$base/$f"
done
expect control "Package: kelvarix-server"
for p in postgresql apache2-bin libqt5sql5-psql ruby-rails puma; do
    grep -q "Depends:.*\b$p\b" "$out/control" || { echo "not a dependency: $p"; failed=1; }
done
# A developer's own session key, logs and databases never go along.
if grep -E 'secret_key_base|/log/.+|/tmp/.+|\.sqlite3|/application/test' "$out/files"; then
    echo "files of a developer's runs are in the package"; failed=1
fi
[ "$failed" -eq 0 ] && echo "package $(basename "$deb") holds the server machine's layout"
exit "$failed"
