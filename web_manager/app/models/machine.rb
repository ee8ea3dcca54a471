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
    "alarms" => "alarm_count",
  }.freeze

  scope :search, lambda { |text|
    next all if text.blank?
    pattern = "%#{sanitize_sql_like(text.strip.downcase)}%"
    where("LOWER(machines.name) LIKE :p OR machines.peerip LIKE :p", p: pattern)
  }

  # The list's rows with the number of recent alarms, counted in the same statement.
  scope :with_alarm_count, lambda { |since = nil|
    since ||= Time.now - ALARM_WINDOW
    select("machines.*", sanitize_sql_array([
      "(SELECT COUNT(*) FROM alarms WHERE alarms.mid = machines.id AND alarms.created_at >= ?) AS alarm_count",
      database_time(since)]))
  }

  scope :sorted, lambda { |key, direction|
    column = SORTS.fetch(key.to_s, SORTS["name"])
    dir = direction.to_s == "desc" ? "DESC" : "ASC"
    order(Arel.sql("#{column} #{dir}, machines.id #{dir}"))
  }

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
    has_attribute?(:alarm_count) ? alarm_count.to_i : alarms.where("created_at >= ?", self.class.database_time(Time.now - ALARM_WINDOW)).count
  end
end
