require "test_helper"

class ManagerCommandTest < ActiveSupport::TestCase
  def hello(agent_id: 7)
    ManagerCommand.new(agent_id: agent_id, type: ManagerCommand::HELLO)
  end

  test "an empty request is exactly the 118-byte header with every field at its offset" do
    command = ManagerCommand.new(agent_id: -1, type: ManagerCommand::FILE_UPLOAD, reference: 5)
    command.value = 236
    command.flag = 9
    command.text = "abc"
    bytes = command.encode
    assert_equal 118, bytes.bytesize
    assert_equal [0x01, 0xAA], bytes.bytes[0, 2]
    assert_equal [0xFF] * 4, bytes.bytes[2, 4]
    assert_equal [0, 0, 0, 5], bytes.bytes[6, 4]
    assert_equal 5, bytes.getbyte(10)
    assert_equal [0x00, 0xEC], bytes.bytes[11, 2]
    assert_equal 9, bytes.getbyte(13)
    assert_equal "abc".b + "\0" * 97, bytes.byteslice(14, 100)
    assert_equal [0, 0, 0, 0], bytes.bytes[114, 4]
  end

  test "a text of 100 bytes or more is cut to 100 bytes without terminator" do
    command = hello
    command.text = "x" * 150
    assert_equal "x" * 100, command.encode_header.byteslice(14, 100)
    assert_equal "x" * 100, ManagerCommand.decode_header(command.encode_header).text
  end

  test "the payload goes as Latin-1 bytes and its length is the byte count" do
    command = hello
    command.payload = "Grüße"
    bytes = command.encode
    assert_equal 5, command.payload_length
    assert_equal [0, 0, 0, 5], bytes.bytes[114, 4]
    assert_equal "Gr\xFC\xDFe".b, bytes.byteslice(118, 5)
  end

  test "decoding reads back every field and refuses short input" do
    command = ManagerCommand.new(agent_id: 123_456, type: ManagerCommand::DELETE_APPLICATION, reference: -2)
    command.value = 65_535
    command.text = "name<SPLITAG>"
    decoded = ManagerCommand.decode_header(command.encode)
    assert_equal [1, 0xAA, 123_456, -2, 6, 65_535, 0, "name<SPLITAG>", 0],
                 [decoded.version, decoded.signature, decoded.agent_id, decoded.reference, decoded.type,
                  decoded.value, decoded.flag, decoded.text, decoded.payload_length]
    assert_nil ManagerCommand.decode_header(command.encode.byteslice(0, 117))
  end

  test "the version is checked before the signature" do
    bytes = hello.encode
    assert_equal 0, ManagerCommand.decode_header(bytes).check
    bytes.setbyte(0, 2)
    assert_equal ManagerCommand::BAD_VERSION, ManagerCommand.decode_header(bytes).check
    bytes.setbyte(0, 1)
    bytes.setbyte(1, 0xAB)
    assert_equal ManagerCommand::BAD_SIGNATURE, ManagerCommand.decode_header(bytes).check
  end

  test "a notice datagram carries its payload as a length-prefixed UTF-16BE string" do
    packet = ManagerCommand.new(agent_id: 1, type: 11, reference: 5)
    packet.payload = "BPacket"
    packet.payload_length = 7
    bytes = packet.encode_datagram
    assert_equal 136, bytes.bytesize
    assert_equal [0, 0, 0, 7], bytes.bytes[114, 4]
    assert_equal [0, 0, 0, 14, 0, 0x42, 0, 0x50], bytes.bytes[118, 8]
    assert_equal "BPacket", ManagerCommand.decode_datagram(bytes).payload

    packet.payload = nil
    assert_equal [0xFF] * 4, packet.encode_datagram.bytes[118..]
    assert_nil ManagerCommand.decode_datagram(packet.encode_datagram).payload
    assert_nil ManagerCommand.decode_datagram(bytes.byteslice(0, 130)), "a cut string is refused"
  end
end
