# A job an administrator defined: what the agent runs (cmd and its parameters) and when
# (schedule type, date and count). The server sends cmd as the Command type, prm as its
# value, prm2 as its 8-bit flag and prm3 as its 100-byte text.
class Job < ApplicationRecord
  include JobKinds

  TEXT_BYTES = 100

  SCHEDULES = {
    0 => "Every N minutes",
    1 => "Every N hours",
    2 => "Every N days",
    3 => "Every N weeks",
    4 => "Every N months",
    5 => "Immediately",
    6 => "As soon as the machine is online",
    7 => "Once, at the date",
    8 => "On every newly registered machine",
  }.freeze
  REPEATING = (0..4).freeze
  IMMEDIATE = 5
  ONCE = 7
  NEW_MACHINES = 8

  has_many :assignments, class_name: "JobMachine", foreign_key: "job", dependent: :delete_all
  has_many :groups, class_name: "JobGroup", foreign_key: "job", dependent: :delete_all
  belongs_to :creator_user, class_name: "User", foreign_key: "creator", optional: true

  validates :cmd, inclusion: { in: COMMANDS.keys, message: "is not a job the agent runs" }
  validates :scheduletype, inclusion: { in: SCHEDULES.keys, message: "is not a schedule type" }
  validates :schedulecount, numericality: { only_integer: true, greater_than: 0, less_than: 100_000 },
                            if: -> { REPEATING.cover?(scheduletype.to_i) }
  validates :scheduledate, presence: true, if: -> { REPEATING.cover?(scheduletype.to_i) || scheduletype.to_i == ONCE }
  validates :prm, numericality: { only_integer: true, greater_than_or_equal_to: 0, less_than_or_equal_to: 65_535 }
  validates :prm2, numericality: { only_integer: true, greater_than_or_equal_to: 0, less_than_or_equal_to: 255 }
  validate :text_fits

  scope :newest_first, -> { order(id: :desc) }

  def schedule_name
    SCHEDULES.fetch(scheduletype.to_i, "Schedule #{scheduletype}")
  end

  def scheduled_at
    self.class.to_time(scheduledate)
  end

  # One assignment per chosen machine, waiting for the server's next job check.
  def assign_to(machine_ids)
    now = self.class.database_time
    Machine.where(id: machine_ids).pluck(:id).each do |machine_id|
      assignments.create!(creator: creator, machine: machine_id, active: 0,
                          status: JobMachine::PENDING, created_at: now, updated_at: now)
    end
  end

  private

  # The agent receives at most 100 bytes of text; a longer one would arrive cut short.
  def text_fits
    bytes = prm3.to_s.encode(Encoding::ISO_8859_1, undef: :replace).bytesize
    errors.add(:prm3, "is longer than #{TEXT_BYTES} bytes") if bytes > TEXT_BYTES
  rescue Encoding::InvalidByteSequenceError
    errors.add(:prm3, "holds characters the agent cannot receive")
  end
end
