# The inventory tables the server fills from an agent's document, each shown as one section
# of a machine's page: its title, its table and the columns worth showing, in order.
class InventorySection
  Section = Struct.new(:key, :title, :table, :columns, :searchable, keyword_init: true)

  SECTIONS = [
    Section.new(key: "system", title: "System", table: "os_details",
                columns: { "name" => "Computer", "os_caption" => "Operating system", "os_version" => "Version",
                           "os_servicepack" => "Service pack", "os_architecture" => "Architecture",
                           "os_serialnumber" => "Serial number" }),
    Section.new(key: "processors", title: "Processors", table: "cpus",
                columns: { "name" => "Name", "manufacturer" => "Manufacturer", "description" => "Description",
                           "architecture" => "Architecture", "numberofcores" => "Cores", "maxclockspeed" => "Max. clock (MHz)" }),
    Section.new(key: "memory", title: "Memory", table: "memories",
                columns: { "memory_id" => "Slot", "form" => "Form", "memory_type" => "Type", "size" => "Size",
                           "speed" => "Speed", "detail" => "Detail" }),
    Section.new(key: "drives", title: "Drives", table: "drives",
                columns: { "name" => "Name", "description" => "Description", "filesystem" => "File system",
                           "size" => "Size", "available" => "Available", "volumeserialnumber" => "Serial" }),
    Section.new(key: "network", title: "Network adapters", table: "network_adapters",
                columns: { "name" => "Name", "adaptertype" => "Type", "macaddress" => "MAC address",
                           "ipaddress" => "IP address", "ipsubnet" => "Subnet", "defaultipgateway" => "Gateway",
                           "dhcpenabled" => "DHCP", "dhcpserver" => "DHCP server" }),
    Section.new(key: "video", title: "Video", table: "video_controllers",
                columns: { "name" => "Name", "adapterram" => "Memory", "driverversion" => "Driver",
                           "videomode" => "Mode", "videoarch" => "Architecture" }),
    Section.new(key: "software", title: "Software", table: "softwares", searchable: true,
                columns: { "displayname" => "Name", "version" => "Version", "publisher" => "Publisher",
                           "installlocation" => "Location", "unistallstring" => "Uninstall" }),
    Section.new(key: "processes", title: "Processes", table: "processes", searchable: true,
                columns: { "pid" => "PID", "name" => "Name", "path" => "Path" }),
    Section.new(key: "services", title: "Services", table: "os_services", searchable: true,
                columns: { "display_name" => "Display name", "name" => "Name", "state" => "State",
                           "start_mode" => "Start", "process_id" => "PID", "path_name" => "Path" }),
    Section.new(key: "users", title: "Users", table: "os_users",
                columns: { "name" => "Name", "fullname" => "Full name", "domain" => "Domain", "caption" => "Caption" }),
    Section.new(key: "updates", title: "Updates", table: "updates", searchable: true,
                columns: { "hotfixid" => "Hot fix", "name" => "Name", "caption" => "Caption",
                           "status" => "Status", "installedon" => "Installed on" }),
    Section.new(key: "printers", title: "Printers", table: "printers",
                columns: { "name" => "Name", "caption" => "Caption", "status" => "Status", "portname" => "Port",
                           "sharename" => "Share", "shared" => "Shared", "network" => "Network" }),
    Section.new(key: "shares", title: "Shares", table: "shares",
                columns: { "name" => "Name", "path" => "Path", "description" => "Description", "caption" => "Caption" }),
    Section.new(key: "environment", title: "Environment", table: "environment_variables", searchable: true,
                columns: { "name" => "Name", "variablevalue" => "Value", "systemvariable" => "System" }),
    Section.new(key: "startup", title: "Start-up programs", table: "start_up_applications",
                columns: { "name" => "Name", "command" => "Command", "location" => "Location",
                           "username" => "User", "description" => "Description" }),
  ].freeze

  MAX_ROWS = 2000

  def self.all
    SECTIONS
  end

  def self.find(key)
    SECTIONS.find { |section| section.key == key.to_s }
  end

  # The model of a section's table, made once.
  def self.model(section)
    name = section.table.camelize.singularize + "Row"
    return const_get(name, false) if const_defined?(name, false)
    const_set(name, Class.new(ApplicationRecord) { self.table_name = section.table })
  end

  # A machine's rows of a section, filtered by a search text over the shown columns.
  def self.rows(section, machine_id, search = nil)
    scope = model(section).where(mid: machine_id).order(:id)
    if search.present? && section.searchable
      pattern = "%#{ActiveRecord::Base.sanitize_sql_like(search.strip.downcase)}%"
      clause = section.columns.keys.map { |column| "LOWER(#{column}) LIKE :p" }.join(" OR ")
      scope = scope.where(clause, p: pattern)
    end
    scope.limit(MAX_ROWS)
  end

  def self.counts(machine_id)
    SECTIONS.to_h { |section| [section.key, model(section).where(mid: machine_id).count] }
  end
end
