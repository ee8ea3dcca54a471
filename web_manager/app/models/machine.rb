# A managed computer; rows are the server's, the web manager only reads them.
class Machine < ApplicationRecord
  ONLINE = 1
  DEFAULT_AGENT_PORT = 6722
  ALARM_WINDOW = 24.hours

  has_many :assignments, class_name: "JobMachine", foreign_key: "machine"
  has_many :alarms, foreign_key: "mid"
  has_many :monitorings, foreign_key: "mid"

  # Sort keys of the list and the SQL each stands for; anything else sorts by name.
  SORTS = {
    "name" => "machines.name",
    "address" => "machines.peerip",
    "port" => "machines.port",
    "mode" => "machines.agenttype",
    "status" => "machines.status",
    "contact" => "machines.updated_at",
    "alarms" => "COALESCE(recent_alarms.alarm_count, 0)",
  }.freeze

  scope :search, lambda { |text|
    next all if text.blank?
    pattern = "%#{sanitize_sql_like(text.strip.downcase)}%"
    where("LOWER(machines.name) LIKE :p OR machines.peerip LIKE :p", p: pattern)
  }

  # The list's rows with the number of recent alarms, counted in one pass over the alarms.
  scope :with_alarm_count, lambda { |since = nil|
    since ||= Time.now - ALARM_WINDOW
    counts = sanitize_sql_array(["SELECT mid, COUNT(*) AS alarm_count FROM alarms WHERE created_at >= ? GROUP BY mid",
                                 database_time(since)])
    joins("LEFT JOIN (#{counts}) AS recent_alarms ON recent_alarms.mid = machines.id")
      .select("machines.*", "COALESCE(recent_alarms.alarm_count, 0) AS alarm_count")
  }

  scope :sorted, lambda { |key, direction|
    column = SORTS.fetch(key.to_s, SORTS["name"])
    dir = direction.to_s == "desc" ? "DESC" : "ASC"
    order(Arel.sql("#{column} #{dir}, machines.id #{dir}"))
  }

  # One page of the list. Recent alarms are counted in the same statement only when the list
  # is sorted by them; otherwise only for the page's rows, so a sort never counts them all.
  def self.list_page(search:, sort:, direction:, limit:, offset:)
    scope = search(search)
    if sort == "alarms"
      return scope.with_alarm_count.sorted(sort, direction).limit(limit).offset(offset).to_a
    end
    machines = scope.sorted(sort, direction).limit(limit).offset(offset).to_a
    counts = recent_alarm_counts(machines.map(&:id))
    machines.each { |machine| machine.recent_alarm_count = counts.fetch(machine.id, 0) }
  end

  def self.recent_alarm_counts(ids, since = Time.now - ALARM_WINDOW)
    Alarm.where(mid: ids).where("created_at >= ?", database_time(since)).group(:mid).count
  end

  attr_writer :recent_alarm_count

  def online?
    status.to_i == ONLINE
  end

  # A listening agent waits for blind packets; a polling one asks the server on its own.
  def listening?
    agenttype.to_i != 0
  end

  def agent_port
    port.to_i.zero? ? DEFAULT_AGENT_PORT : port.to_i
  end

  def last_contact
    self.class.to_time(updated_at)
  end

  def recent_alarm_count
    @recent_alarm_count ||= has_attribute?(:alarm_count) ? alarm_count.to_i : self.class.recent_alarm_counts([id]).fetch(id, 0)
  end
end
