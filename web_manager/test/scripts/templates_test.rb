require "test_helper"
require "erb"
require "yaml"

# The set-up fills the two templates by plain text replacement; whatever it puts there must
# come out of Rails' reading of the files unchanged.
class TemplatesTest < ActiveSupport::TestCase
  self.fixture_table_names = []

  def filled(file, replacements)
    text = Rails.root.join("config", file).read
    replacements.each { |placeholder, value| text = text.gsub(placeholder, value) }
    YAML.safe_load(ERB.new(text).result, aliases: true)
  end

  test "each placeholder stands once, where the value belongs, and nowhere inside another name" do
    { "database.yml" => %w[DB_USERNAME DB_PASSWORD], "application.yml" => %w[WEB_SERVER_ADDRESS UPLOAD_DIR] }.each do |file, names|
      text = Rails.root.join("config", file).read
      names.each { |name| assert_equal 1, text.scan(name).size, "#{name} in #{file}" }
    end
  end

  test "the database account survives any characters in its password" do
    password = %q(p@ss: "x' #y\z %{} - [1])
    production = filled("database.yml", "DB_USERNAME" => "kelvarix", "DB_PASSWORD" => password)["production"]
    assert_equal ["postgresql", "127.0.0.1", "zvndb", "kelvarix", password],
                 production.values_at("adapter", "host", "database", "username", "password")
  end

  test "the web server address and the quoted upload directory are read as given" do
    production = filled("application.yml", "WEB_SERVER_ADDRESS" => "192.168.1.5",
                                           "UPLOAD_DIR" => '"/opt/kelvarix/server/upload"')["production"]
    assert_equal ["192.168.1.5", "/opt/kelvarix/server/upload", 6717, 1337, 6718],
                 production.values_at("web_server_address", "upload_dir", "server_manager_port", "websocket_port", "notice_port")
  end

  test "an unfilled template leaves the two settings unset" do
    production = filled("application.yml", {})["production"]
    Rails.configuration.x.kelvarix.stub(:[], ->(key) { production[key.to_s] }) do
      assert_nil Settings.upload_dir
      assert_nil Settings.websocket_host
      assert_equal 1337, Settings.websocket_port
    end
  end
end
