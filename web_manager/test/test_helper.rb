ENV["RAILS_ENV"] = "test"

# Without a PostgreSQL cluster from the test runner, the tests use a fresh SQLite file made
# from the repository's schema, as the embedded default database is.
unless ENV["KELVARIX_TEST_DATABASE"] == "postgresql"
  require "fileutils"
  sql_dir = ENV.fetch("KELVARIX_SQL_DIR", File.expand_path("../../sql", __dir__))
  database = File.expand_path(ENV["KELVARIX_SQLITE_DATABASE"] ||= File.expand_path("../tmp/test.sqlite3", __dir__))
  FileUtils.mkdir_p(File.dirname(database))
  FileUtils.rm_f(database)
  %w[zvn_struct_sqlite.sql zvn_fill.sql].each do |file|
    system("sqlite3", database, in: File.join(sql_dir, file), exception: true)
  end
end

require_relative "../config/environment"
require "rails/test_help"
require "minitest/mock"

# Fixtures name columns in lower case, as PostgreSQL folds them; SQLite keeps the schema's
# mixed case, so each fixture key is matched to its column without regard to case.
module FixtureColumnCase
  private

  def build_fixture_sql(fixtures, table_name)
    columns = schema_cache.columns_hash(table_name).keys.index_by(&:downcase)
    super(fixtures.map { |row| row.to_h.transform_keys { |key| columns.fetch(key.to_s.downcase, key.to_s) } }, table_name)
  end
end
ActiveRecord::ConnectionAdapters::AbstractAdapter.prepend(FixtureColumnCase)

class ActiveSupport::TestCase
  # The schema belongs to sql/: nothing here may try to migrate it.
  self.use_instantiated_fixtures = false
  fixtures :all
end

class ActionDispatch::IntegrationTest
  def sign_in_as(user, password = "secret-pass")
    post sign_in_path, params: { username: user.username, password: password }
    assert_redirected_to machines_path
  end
end
