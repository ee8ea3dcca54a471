Rails.application.configure do
  config.cache_classes = true
  config.eager_load = false
  config.consider_all_requests_local = false
  config.action_controller.perform_caching = false
  config.action_dispatch.show_exceptions = true
  config.action_controller.allow_forgery_protection = false
  config.active_support.deprecation = :stderr
  config.log_level = :warn
  config.active_record.maintain_test_schema = false
  # Parallel test runs keep their logs apart.
  config.paths["log"] = ENV["KELVARIX_TEST_LOG"] if ENV["KELVARIX_TEST_LOG"]
end
