require "test_helper"
require "socket"

class ServerLinkTest < ActiveSupport::TestCase
  # A loopback listener that keeps everything each connection sends.
  def with_listener
    server = TCPServer.new("127.0.0.1", 0)
    received = Queue.new
    thread = Thread.new { loop { client = server.accept; received << client.read; client.close } }
    yield ServerLink.new(host: "127.0.0.1", port: server.addr[1], user_id: 42, timeout: 5), received
  ensure
    thread&.kill
    server&.close
  end

  test "each request is one Command on its own connection, sent for the administrator" do
    with_listener do |link, received|
      link.job_check
      link.discover
      link.delete_application(17)
      requests = 3.times.map { ManagerCommand.decode_header(received.pop) }
      assert_equal [12, 8, 6], requests.map(&:type)
      assert_equal [42] * 3, requests.map(&:agent_id)
      assert_equal [0, 0, 17], requests.map(&:reference)
      assert_equal [0] * 3, requests.map(&:check)
    end
  end

  test "an installer follows its header whole, announced by payloadLength" do
    with_listener do |link, received|
      data = Random.new(1).bytes(250_000)
      link.upload_installer(4, StringIO.new(data), data.bytesize)
      bytes = received.pop
      header = ManagerCommand.decode_header(bytes)
      assert_equal [5, 4, 250_000], [header.type, header.reference, header.payload_length]
      assert_equal data, bytes.byteslice(118..)
    end
  end

  test "a file shorter than announced is an error, not a silent partial upload" do
    with_listener do |link, _received|
      assert_raises(ServerLink::Unreachable) { link.upload_installer(4, StringIO.new("abc"), 10) }
    end
  end

  test "a server that does not listen is reported as unreachable" do
    port = TCPServer.new("127.0.0.1", 0).then { |s| s.addr[1].tap { s.close } }
    error = assert_raises(ServerLink::Unreachable) do
      ServerLink.new(host: "127.0.0.1", port: port, user_id: 1, timeout: 2).hello
    end
    assert_match(/cannot be reached/, error.message)
  end
end
