# An installable package. Its id travels in the Command's 8-bit flag, so it lies in 1..255;
# its name is the installer's directory below the server's upload directory.
class Application < ApplicationRecord
  IDS = (1..255).freeze
  # The server makes directories of these names and deletes them again: no path tricks.
  SAFE_NAME = /\A(?!\.{1,2}\z)[^\/\\\0]+\z/

  validates :id, inclusion: { in: IDS, message: "must lie between 1 and 255" }
  validate :id_free, on: :create
  validates :name, presence: true, length: { maximum: 100 }, format: { with: SAFE_NAME, message: "cannot be . or .. or hold a slash" }
  validates :name, uniqueness: true
  validates :filename, presence: true, length: { maximum: 100 }, format: { with: SAFE_NAME, message: "cannot be . or .. or hold a slash" }
  validates :execname, length: { maximum: 100 }

  before_validation(on: :create) { self.id ||= self.class.free_id }

  scope :by_id, -> { order(:id) }

  def self.free_id
    taken = pluck(:id).to_set
    IDS.find { |id| !taken.include?(id) }
  end

  # Where the server keeps the installer, when the set-up named its upload directory.
  def installer_path(upload_dir)
    File.join(upload_dir, name.to_s, filename.to_s) if upload_dir.present?
  end

  def jobs
    Job.where(prm2: id, cmd: Job::APPLICATION_COMMANDS)
  end

  private

  def id_free
    errors.add(:id, "is taken") if id && Application.exists?(id: id)
    errors.add(:id, "none is free: 255 applications exist") if id.nil?
  end
end
