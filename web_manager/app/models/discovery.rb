require "ipaddr"

# A range of addresses the server wakes agents in (blind packets to each address).
class Discovery < ApplicationRecord
  # The server enumerates ranges in memory and its octet advance stops at a /16.
  WIDEST_PREFIX = 16

  validates :port, numericality: { only_integer: true, greater_than_or_equal_to: 0, less_than_or_equal_to: 65_535 }
  validate :range_valid

  before_validation { self.port ||= 0 }

  def prefix_length
    mask_text = mask.to_s.strip
    return mask_text.to_i if mask_text.match?(/\A\d{1,2}\z/) && mask_text.to_i <= 32
    bits = IPAddr.new(mask_text).to_i.to_s(2)
    bits.match?(/\A1*0*\z/) && bits.size == 32 ? bits.count("1") : nil
  rescue IPAddr::Error
    nil
  end

  def address_count
    prefix = prefix_length or return 0
    return 1 if prefix == 32 || loopback?
    [2**(32 - prefix) - 2, 0].max
  end

  # The server wakes only 127.0.0.1 for any range in 127.0.0.
  def loopback?
    net_ip.to_s.start_with?("127.0.0")
  end

  def to_s
    "#{net_ip}/#{mask}"
  end

  private

  def range_valid
    unless net_ip.to_s.match?(/\A(\d{1,3})(\.\d{1,3}){3}\z/) && net_ip.split(".").all? { |o| o.to_i <= 255 }
      errors.add(:net_ip, "is not a dotted IPv4 address")
    end
    prefix = prefix_length
    if prefix.nil?
      errors.add(:mask, "is neither a prefix length (0-32) nor a dotted netmask")
    elsif prefix < WIDEST_PREFIX && !loopback?
      errors.add(:mask, "is wider than /#{WIDEST_PREFIX}, which the server cannot scan")
    end
  end
end
