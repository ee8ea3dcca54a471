# The web manager's own settings (config/application.yml); a placeholder the set-up has
# not replaced counts as unset.
class Settings
  PLACEHOLDERS = %w[WEB_SERVER_ADDRESS UPLOAD_DIR].freeze

  def self.[](key)
    value = ENV["KELVARIX_#{key.to_s.upcase}"].presence || Rails.configuration.x.kelvarix[key.to_sym]
    value.is_a?(String) && (value.strip.empty? || PLACEHOLDERS.include?(value.strip)) ? nil : value
  end

  def self.upload_dir
    self[:upload_dir]
  end

  # Browsers reach the server's WebSocket on the server machine: the address the set-up
  # named, else the host the page itself came from.
  def self.websocket_host
    self[:web_server_address]
  end

  def self.websocket_port
    self[:websocket_port].to_i
  end
end
