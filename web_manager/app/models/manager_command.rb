# One message of the manager protocol: the fixed 118-byte big-endian header the server
# reads, its Latin-1 text payload, and the datagram form of the server's notices.
class ManagerCommand
  HEADER_SIZE = 118
  TEXT_SIZE = 100
  VERSION = 1
  SIGNATURE = 0xAA
  BAD_VERSION = 28
  BAD_SIGNATURE = 29
  NULL_STRING = 0xFFFFFFFF

  # version, signature, agentId, reference, type, value, flag, text, payloadLength
  HEADER_LAYOUT = "CCl>l>CnCa#{TEXT_SIZE}l>".freeze

  FILE_UPLOAD = 5
  DELETE_APPLICATION = 6
  MACHINES_CHANGED = 7
  IDENTITY = 8
  MANAGER_HELLO = 10
  HELLO = 12
  JOB_RESULT = 14
  DISCOVERY = 16
  OBSERVER_TICK = 17

  attr_accessor :version, :signature, :agent_id, :reference, :type, :value, :flag,
                :payload_length, :payload
  attr_reader :text_bytes

  def initialize(agent_id: 0, type: 0, reference: 0)
    @version = VERSION
    @signature = SIGNATURE
    @agent_id = agent_id
    @reference = reference
    @type = type
    @value = 0
    @flag = 0
    @text_bytes = "".b
    @payload_length = 0
    @payload = ""
  end

  # 0 when valid; the version is tested before the signature.
  def check
    return BAD_VERSION unless version == VERSION
    return BAD_SIGNATURE unless signature == SIGNATURE
    0
  end

  # The parameter text: Latin-1, NUL-terminated when shorter than 100 bytes, else cut.
  def text=(string)
    self.text_bytes = latin1(string)
  end

  def text_bytes=(bytes)
    @text_bytes = bytes.b.byteslice(0, TEXT_SIZE)
  end

  def text
    text_bytes.split("\0", 2).first.to_s.dup.force_encoding(Encoding::ISO_8859_1).encode(Encoding::UTF_8)
  end

  # Payload bytes as sent on TCP; payload_length follows them unless a file is sent instead.
  def payload_bytes
    latin1(payload)
  end

  def encode_header
    [version, signature, agent_id, reference, type, value & 0xFFFF, flag, text_bytes,
     payload_length].pack(HEADER_LAYOUT)
  end

  def encode
    self.payload_length = payload_bytes.bytesize
    encode_header + payload_bytes
  end

  def encode_datagram
    utf16 = payload.nil? ? nil : payload.encode(Encoding::UTF_16BE).b
    encode_header + [utf16 ? utf16.bytesize : NULL_STRING].pack("N") + utf16.to_s
  end

  def self.decode_header(bytes)
    return nil if bytes.nil? || bytes.bytesize < HEADER_SIZE
    fields = bytes.byteslice(0, HEADER_SIZE).unpack(HEADER_LAYOUT)
    new.tap do |command|
      command.version, command.signature, command.agent_id, command.reference, command.type,
        command.value, command.flag, text, command.payload_length = fields
      command.text_bytes = text
    end
  end

  # Header, then the payload as a length-prefixed UTF-16BE string; nil when short or bad.
  def self.decode_datagram(bytes)
    command = decode_header(bytes)
    return nil unless command && bytes.bytesize >= HEADER_SIZE + 4
    length = bytes.byteslice(HEADER_SIZE, 4).unpack1("N")
    if length == NULL_STRING
      command.payload = nil
    else
      data = bytes.byteslice(HEADER_SIZE + 4, length)
      return nil if data.nil? || data.bytesize < length || length.odd?
      command.payload = data.force_encoding(Encoding::UTF_16BE).encode(Encoding::UTF_8)
    end
    command
  end

  private

  # Characters outside Latin-1 cannot travel; they become "?" rather than corrupting bytes.
  def latin1(string)
    string.to_s.encode(Encoding::ISO_8859_1, invalid: :replace, undef: :replace, replace: "?").b
  end
end
