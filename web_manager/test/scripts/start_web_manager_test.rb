require "test_helper"
require "fileutils"
require "net/http"
require "tmpdir"
require "open3"
require_relative "../support/kelvarix_programs"

# The start script as the set-up installs it: a copy of the application in a directory of
# its own, started in production against an SQLite database.
class StartWebManagerTest < ActiveSupport::TestCase
  self.fixture_table_names = []

  setup do
    @base = Dir.mktmpdir("kelvarix-base-")
    @app = File.join(@base, "application")
    FileUtils.mkdir_p(@app)
    %w[app bin config public config.ru].each { |entry| FileUtils.cp_r(Rails.root.join(entry), @app) }
    FileUtils.rm_f(File.join(@app, "config", "secret_key_base"))
    @database = File.join(@base, "zvndb.sqlite")
    system("sqlite3", @database, in: File.join(ENV.fetch("KELVARIX_SQL_DIR", Rails.root.join("../sql").to_s), "zvn_struct_sqlite.sql"), exception: true)
    @port = KelvarixPrograms.free_port
  end

  teardown do
    Process.kill("KILL", @pid) if @pid && (Process.waitpid(@pid, Process::WNOHANG).nil? rescue false)
    FileUtils.rm_rf(@base)
  end

  def start(*arguments)
    env = { "DATABASE_URL" => "sqlite3:#{@database}", "RAILS_ENV" => nil, "SECRET_KEY_BASE" => nil }
    @pid = Process.spawn(env, File.join(@app, "bin", "start-web-manager"), *arguments,
                         out: File.join(@base, "console.log"), err: [:child, :out])
  end

  def pid_file
    File.join(@app, "tmp", "pids", "server.pid")
  end

  test "it serves in production on the given port, keeps its pid file and makes its own session key" do
    start("--port", @port.to_s, "--bind", "127.0.0.1")
    response = KelvarixPrograms.wait_until(60, "the web manager to answer") do
      Net::HTTP.get_response(URI("http://127.0.0.1:#{@port}/sign_in")) rescue nil
    end
    assert_equal "200", response.code
    assert_includes response.body, "Sign in"
    assert_equal @pid, File.read(pid_file).to_i, "the pid file names the running process"
    key = File.join(@app, "config", "secret_key_base")
    assert_equal 128, File.read(key).strip.size
    assert_equal "600", format("%o", File.stat(key).mode & 0o777)
    assert File.exist?(File.join(@app, "log", "production.log"))

    Process.kill("TERM", @pid)
    Process.waitpid(@pid)
    @pid = nil
    refute File.exist?(pid_file), "a clean stop removes the pid file"
  end

  test "a stale pid file does not stop it; bad arguments do" do
    FileUtils.mkdir_p(File.dirname(pid_file))
    File.write(pid_file, "999999\n")
    start("--port", @port.to_s)
    KelvarixPrograms.wait_until(60, "the web manager to answer") do
      Net::HTTP.get_response(URI("http://127.0.0.1:#{@port}/sign_in")) rescue nil
    end
    assert_equal @pid, File.read(pid_file).to_i

    out, status = Open3.capture2e(File.join(@app, "bin", "start-web-manager"), "--port", "eighty")
    assert_equal 2, status.exitstatus
    assert_match(/needs a number/, out)
  end
end
