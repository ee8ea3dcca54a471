require "socket"

# Manager requests to the Kelvarix server: one Command per TCP connection to its manager
# port, sent on behalf of one administrator; the server never answers.
class ServerLink
  class Unreachable < StandardError; end

  CHUNK_SIZE = 100_000
  MAX_FILE_SIZE = 2**31 - 1 # payloadLength is a signed 32-bit number

  attr_reader :host, :port, :user_id, :timeout

  def self.for(user, settings = Rails.configuration.x.kelvarix)
    new(host: settings[:server_address], port: settings[:server_manager_port].to_i,
        user_id: user.id, timeout: settings[:request_timeout].to_f)
  end

  def initialize(host:, port:, user_id:, timeout: 10)
    @host = host
    @port = port
    @user_id = user_id
    @timeout = timeout
  end

  # Presence, and the server checks this administrator's jobs now.
  def job_check
    deliver(command(ManagerCommand::HELLO))
  end

  # Presence, and the server runs every discovery range now.
  def discover
    deliver(command(ManagerCommand::IDENTITY))
  end

  def hello
    deliver(command(ManagerCommand::MANAGER_HELLO))
  end

  def delete_application(application_id)
    deliver(command(ManagerCommand::DELETE_APPLICATION, reference: application_id))
  end

  # The installer travels as file payload: the header announces its size, the bytes follow.
  def upload_installer(application_id, io, size)
    raise ArgumentError, "installer larger than #{MAX_FILE_SIZE} bytes" if size > MAX_FILE_SIZE
    header = command(ManagerCommand::FILE_UPLOAD, reference: application_id)
    header.payload_length = size
    connect do |socket|
      socket.write(header.encode_header)
      sent = 0
      while sent < size && (chunk = io.read([CHUNK_SIZE, size - sent].min))
        socket.write(chunk)
        sent += chunk.bytesize
      end
      raise Unreachable, "the installer was cut short after #{sent} of #{size} bytes" if sent < size
    end
  end

  private

  def command(type, reference: 0)
    ManagerCommand.new(agent_id: user_id, type: type, reference: reference)
  end

  def deliver(request)
    connect { |socket| socket.write(request.encode) }
  end

  def connect
    socket = Socket.tcp(host, port, connect_timeout: timeout)
    begin
      yield socket
      socket.close_write
    ensure
      socket.close
    end
    true
  rescue SystemCallError, IOError, SocketError => e
    raise Unreachable, "The Kelvarix server at #{host}:#{port} cannot be reached (#{e.message})."
  end
end
