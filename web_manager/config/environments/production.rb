Rails.application.configure do
  config.cache_classes = true
  config.eager_load = true
  config.consider_all_requests_local = false
  config.action_controller.perform_caching = true
  config.log_level = :info
  config.log_tags = [:request_id]
  config.active_support.deprecation = :notify
  config.active_record.dump_schema_after_migration = false
  if ENV["RAILS_LOG_TO_STDOUT"].present?
    config.logger = ActiveSupport::TaggedLogging.new(ActiveSupport::Logger.new($stdout))
  end

  # bin/start-web-manager creates this file on first start when no key is configured.
  key_file = Rails.root.join("config", "secret_key_base")
  config.secret_key_base = ENV["SECRET_KEY_BASE"].presence || (key_file.read.strip if key_file.exist?)
end
