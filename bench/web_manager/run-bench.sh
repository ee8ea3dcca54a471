#!/usr/bin/env bash
# Server time per page of the web manager's machine list with 10,000 machines, on a
# throwaway PostgreSQL cluster and on the embedded SQLite database.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELVARIX_BENCH_BUILD_DIR:-$top/build-bench}
"$top/tools/install-deps.sh" >/dev/null
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target web_manager_pg_env -j "$(nproc)" >/dev/null
cd "$top/web_manager"
script=$top/bench/web_manager/machine_list.rb
export RAILS_ENV=test KELVARIX_TEST_LOG=$build/web_manager_bench.log
echo "== PostgreSQL"
"$build/bin/web_manager_pg_env" ruby bin/rails runner "$script"
echo "== SQLite"
database=$build/web_manager_bench.sqlite3
rm -f "$database"
sqlite3 "$database" < "$top/sql/zvn_struct_sqlite.sql"
KELVARIX_SQLITE_DATABASE=$database ruby bin/rails runner "$script"
