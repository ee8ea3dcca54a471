# An alarm an agent raised; rows are only ever added, by the server.
class Alarm < ApplicationRecord
  KINDS = {
    22 => "Processor load",
    23 => "Disk usage",
    24 => "Memory usage",
    27 => "Hardware changed",
    28 => "Software installed",
    29 => "Software removed",
    30 => "Process started",
    31 => "Process stopped",
  }.freeze

  belongs_to :machine, foreign_key: "mid", optional: true

  scope :newest_first, -> { order(id: :desc) }

  def kind_name
    KINDS.fetch(alarm_id.to_i, "Alarm #{alarm_id}")
  end

  def value
    ReportedText.decode(data.to_s)
  end

  def raised_at
    self.class.to_time(created_at)
  end
end
