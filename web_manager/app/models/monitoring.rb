# One row of performance figures from an inventory (texts, as the agent reported them).
class Monitoring < ApplicationRecord
  SERIES = {
    "cpuusagepercentage" => "CPU %",
    "memoryusagepercentage" => "Memory %",
    "diskusagepercentage" => "Disk %",
    "netadapterusagepercentage" => "Network %",
    "numberofprocess" => "Processes",
    "numberofthread" => "Threads",
    "battery" => "Battery %",
  }.freeze

  PERIODS = { "1h" => 1.hour, "24h" => 24.hours, "7d" => 7.days, "30d" => 30.days, "all" => nil }.freeze
  MAX_POINTS = 2000

  scope :since, ->(time) { time ? where("created_at >= ?", database_time(time)) : all }

  # Chart data for a machine over a period: times and one number (or nil) per series.
  def self.chart_data(machine_id, period)
    span = PERIODS.fetch(period.to_s, PERIODS["24h"])
    rows = where(mid: machine_id).since(span && Time.now - span).order(id: :desc).limit(MAX_POINTS).to_a.reverse
    {
      labels: rows.map { |row| to_time(row.created_at)&.strftime(TIME_FORMAT) },
      series: SERIES.map { |column, label| { key: column, label: label, values: rows.map { |row| number(row[column]) } } },
    }
  end

  def self.number(text)
    Float(text.to_s.strip)
  rescue ArgumentError
    nil
  end
end
