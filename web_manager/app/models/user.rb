require "digest/md5"

# An administrator. The set-up stores MD5 of the first password; a successful sign-in
# replaces any MD5 text by a salted bcrypt hash.
class User < ApplicationRecord
  MD5_TEXT = /\A\h{32}\z/
  MIN_PASSWORD_LENGTH = 8

  attr_reader :password

  validates :username, presence: true, length: { maximum: 64 },
                       format: { with: /\A[[:alnum:]_.@-]+\z/, message: "may hold letters, digits and _ . @ - only" }
  validates :username, uniqueness: true
  validates :password, length: { minimum: MIN_PASSWORD_LENGTH }, if: -> { password || new_record? }

  before_create { self.user_level ||= 1 }

  def self.authenticate(username, password)
    return nil if username.blank? || password.blank?
    where(username: username).order(:id).detect { |user| user.password_matches?(password) }
  end

  def password=(text)
    @password = text
    self.passwd = BCrypt::Password.create(text) if text.present?
  end

  def password_matches?(text)
    stored = passwd.to_s
    if stored.start_with?("$2")
      BCrypt::Password.new(stored).is_password?(text)
    elsif stored.match?(MD5_TEXT)
      ActiveSupport::SecurityUtils.secure_compare(Digest::MD5.hexdigest(text), stored.downcase) &&
        upgrade_password(text)
    else
      false
    end
  rescue BCrypt::Errors::InvalidHash
    false
  end

  def display_name
    full_name.presence || username
  end

  private

  def upgrade_password(text)
    update_columns(passwd: BCrypt::Password.create(text))
    true
  end
end
