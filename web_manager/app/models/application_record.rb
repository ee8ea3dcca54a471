class ApplicationRecord < ActiveRecord::Base
  self.abstract_class = true

  # Date-times go to the shared tables as the server writes them: local wall-clock text.
  TIME_FORMAT = "%Y-%m-%d %H:%M:%S".freeze

  self.record_timestamps = false
  before_create :stamp_created
  before_update :stamp_updated

  class << self
    # The schema's identifiers are unquoted: PostgreSQL folds them to lower case, SQLite
    # keeps them as written. Every column is also reachable by its lower-case name, which
    # is the name the code uses on both.
    def load_schema!
      super
      attribute_names.each do |name|
        lower = name.downcase
        alias_attribute(lower, name) unless lower == name || attribute_names.include?(lower)
      end
    end

    def database_time(time = Time.now)
      time.strftime(TIME_FORMAT)
    end
  end

  # A stored date-time as Time: PostgreSQL gives one, SQLite gives the text the server wrote.
  def self.to_time(value)
    case value
    when Time, DateTime then value.to_time
    when String then Time.strptime(value[0, 19].tr("T", " "), TIME_FORMAT) rescue nil
    end
  end

  private

  def stamp_created
    now = self.class.database_time
    # SQLite's column defaults are expressions Rails would store as literal text.
    %w[created_at updated_at].each do |column|
      self[column] = now if has_attribute?(column) && !attribute_changed?(column)
    end
  end

  def stamp_updated
    self[:updated_at] = self.class.database_time if has_attribute?(:updated_at)
  end
end
