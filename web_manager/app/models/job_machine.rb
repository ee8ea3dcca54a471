# One job assigned to one machine: the unit the server dispatches and records results in.
class JobMachine < ApplicationRecord
  PENDING = 235
  STATUSES = {
    235 => "Pending",
    236 => "Succeeded",
    237 => "Failed",
    238 => "Installer not found",
    239 => "Not understood by the agent",
    251 => "Closed: machine offline",
  }.freeze
  ACTIVE = { 0 => "waiting", 1 => "dispatched", 2 => "finished" }.freeze

  belongs_to :assigned_job, class_name: "Job", foreign_key: "job", optional: true
  belongs_to :assigned_machine, class_name: "Machine", foreign_key: "machine", optional: true

  # Alarm rules are never reported on: for them being handed over is the end.
  def status_name
    return "Sent to the agent" if status.to_i == PENDING && active.to_i == 1
    STATUSES.fetch(status.to_i) { status.nil? ? "Pending" : "Result #{status}" }
  end

  def state_name
    ACTIVE.fetch(active.to_i, active.to_s)
  end

  def finished?
    active.to_i == 2
  end

  def status_class
    return "sent" if status.to_i == PENDING && active.to_i == 1
    { 236 => "ok", 237 => "bad", 238 => "bad", 239 => "bad", 251 => "bad" }.fetch(status.to_i, "pending")
  end

  def reported_at
    self.class.to_time(updated_at) if status.to_i != PENDING
  end
end
