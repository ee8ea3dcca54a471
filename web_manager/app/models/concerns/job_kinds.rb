# The job commands the agent runs and how a job form's fields become cmd, prm, prm2, prm3.
module JobKinds
  extend ActiveSupport::Concern

  INVENTORY = 2
  DEPLOY = 3
  COMMAND_LINE = 4
  UNDEPLOY = 18
  DEPLOY_WITH_SWITCHES = 19
  UNDEPLOY_WITH_SWITCHES = 20
  CPU_RULE = 22
  DISK_RULE = 23
  MEMORY_RULE = 24
  PROCESS_RULE = 25
  CHANGES_RULE = 26
  REMOVE_RULE = 33

  COMMANDS = {
    COMMAND_LINE => "Command line",
    INVENTORY => "Inventory",
    DEPLOY => "Deploy application",
    DEPLOY_WITH_SWITCHES => "Deploy application with switches",
    UNDEPLOY => "Remove application",
    UNDEPLOY_WITH_SWITCHES => "Remove application with switches",
    CPU_RULE => "Alarm rule: processor load",
    DISK_RULE => "Alarm rule: disk usage",
    MEMORY_RULE => "Alarm rule: memory usage",
    PROCESS_RULE => "Alarm rule: process",
    CHANGES_RULE => "Alarm rule: hardware and software changes",
    REMOVE_RULE => "Remove alarm rule",
  }.freeze

  APPLICATION_COMMANDS = [DEPLOY, DEPLOY_WITH_SWITCHES, UNDEPLOY, UNDEPLOY_WITH_SWITCHES].freeze
  THRESHOLD_RULES = [CPU_RULE, DISK_RULE, MEMORY_RULE].freeze
  RULES = (CPU_RULE..CHANGES_RULE).to_a.freeze

  # One character per section, in position order, "1" to run it.
  INVENTORY_SECTIONS = [
    "Hardware, printers, network adapters, drives",
    "Software",
    "Processes",
    "Monitoring figures",
    "Users",
    "Services",
    "Start-up programs",
    "Environment",
    "Updates",
    "Shares",
  ].freeze

  # Command lines the agent hands to the Windows command interpreter start detached.
  DETACHED_PREFIX = "cmd.exe /c ".freeze

  # The form's choice "detached" is a command line run through the command interpreter.
  FORM_KINDS = [["Command line", COMMAND_LINE.to_s], ["Start detached (cmd.exe)", "detached"]] +
               COMMANDS.except(COMMAND_LINE).map { |code, name| [name, code.to_s] }

  class_methods do
    # A job from the job form's fields; the caller validates and saves it.
    def from_form(fields, creator:)
      fields = fields.to_h.with_indifferent_access
      kind = fields[:kind].to_s
      job = new(creator: creator, prm: 0, prm2: 0, prm3: "",
                scheduletype: fields[:scheduletype].presence&.to_i,
                schedulecount: fields[:schedulecount].presence&.to_i,
                scheduledate: form_time(fields[:scheduledate]))
      job.cmd = kind == "detached" ? COMMAND_LINE : kind.to_i
      case job.cmd
      when COMMAND_LINE
        text = fields[:command_text].to_s.strip
        detached = kind == "detached" && !text.empty? && !text.start_with?("cmd.exe")
        job.prm3 = detached ? DETACHED_PREFIX + text : text
      when INVENTORY
        chosen = Array(fields[:sections]).map(&:to_i)
        job.prm3 = INVENTORY_SECTIONS.each_index.map { |i| chosen.include?(i) ? "1" : "0" }.join
      when *APPLICATION_COMMANDS
        job.prm2 = fields[:application_id].to_i
        job.prm = fields[:run_and_wait].to_s == "1" ? 1 : 0
      when *THRESHOLD_RULES
        job.prm2 = fields[:threshold].to_i
      when PROCESS_RULE
        job.prm3 = fields[:process_name].to_s.strip
      when REMOVE_RULE
        job.prm = fields[:rule_id].to_i
      end
      job.scheduledate ||= database_time if job.scheduletype.to_i >= Job::IMMEDIATE && job.scheduletype.to_i != Job::ONCE
      job
    end

    private

    # A datetime-local field ("2026-05-01T10:30") as the server's local date-time text.
    def form_time(text)
      return nil if text.blank?
      database_time(Time.strptime(text.to_s.tr("T", " ")[0, 16], "%Y-%m-%d %H:%M"))
    rescue ArgumentError
      nil
    end
  end

  included do
    validate :parameters_fit_command
  end

  def command_name
    COMMANDS.fetch(cmd.to_i, "Command #{cmd}")
  end

  def application
    Application.find_by(id: prm2) if APPLICATION_COMMANDS.include?(cmd.to_i)
  end

  # What the job does, in a line.
  def summary
    case cmd.to_i
    when COMMAND_LINE then prm3.to_s
    when INVENTORY
      names = INVENTORY_SECTIONS.each_index.select { |i| prm3.to_s[i] == "1" }.map { |i| INVENTORY_SECTIONS[i].split(",").first }
      names.size == INVENTORY_SECTIONS.size ? "All sections" : names.join(", ")
    when *APPLICATION_COMMANDS then application&.name || "Application #{prm2} (deleted)"
    when *THRESHOLD_RULES then "above #{prm2} %"
    when PROCESS_RULE then prm3.to_s
    when REMOVE_RULE then COMMANDS.fetch(prm.to_i, "rule #{prm}")
    else ""
    end
  end

  private

  def parameters_fit_command
    case cmd.to_i
    when COMMAND_LINE
      errors.add(:base, "A command line is needed") if prm3.blank?
    when INVENTORY
      errors.add(:base, "Choose at least one inventory section") unless prm3.to_s.include?("1")
    when *APPLICATION_COMMANDS
      errors.add(:base, "Choose an application") unless Application.exists?(id: prm2)
    when *THRESHOLD_RULES
      errors.add(:base, "The threshold is a percentage from 1 to 100") unless (1..100).cover?(prm2.to_i)
    when PROCESS_RULE
      errors.add(:base, "Name the process to watch") if prm3.blank?
    when REMOVE_RULE
      errors.add(:base, "Choose the rule to remove") unless RULES.include?(prm.to_i)
    end
  end
end
