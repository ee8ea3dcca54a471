require_relative "boot"

require "rails"
require "active_model/railtie"
require "active_record/railtie"
require "action_controller/railtie"
require "action_view/railtie"
require "rails/test_unit/railtie"
require "bcrypt"

module WebManager
  class Application < Rails::Application
    config.load_defaults 6.1

    # The database belongs to the server: its schema comes from the repository's sql/
    # files, never from migrations, and times are the server's local wall-clock times.
    config.active_record.default_timezone = :local
    config.active_record.schema_format = :sql
    config.active_record.dump_schema_after_migration = false

    # Behind the web server every request reaches the application, stylesheets and scripts too.
    config.public_file_server.enabled = true

    config.generators.system_tests = nil
    config.x.kelvarix = config_for(:application)
  end
end
