require "test_helper"

class JobTest < ActiveSupport::TestCase
  FORMS = {
    "command line" => [{ kind: "4", command_text: " ls -l " }, [4, 0, 0, "ls -l"]],
    "detached start" => [{ kind: "detached", command_text: "notepad.exe" }, [4, 0, 0, "cmd.exe /c notepad.exe"]],
    "detached start already through cmd.exe" => [{ kind: "detached", command_text: "cmd.exe /c x" }, [4, 0, 0, "cmd.exe /c x"]],
    "inventory of three sections" => [{ kind: "2", sections: %w[0 3 9] }, [2, 0, 0, "1001000001"]],
    "deployment waiting for the installer" => [{ kind: "3", application_id: "4", run_and_wait: "1" }, [3, 1, 4, ""]],
    "deployment with switches" => [{ kind: "19", application_id: "4", run_and_wait: "0" }, [19, 0, 4, ""]],
    "removal" => [{ kind: "18", application_id: "4" }, [18, 0, 4, ""]],
    "removal with switches" => [{ kind: "20", application_id: "4" }, [20, 0, 4, ""]],
    "processor rule" => [{ kind: "22", threshold: "80" }, [22, 0, 80, ""]],
    "disk rule" => [{ kind: "23", threshold: "90" }, [23, 0, 90, ""]],
    "memory rule" => [{ kind: "24", threshold: "70" }, [24, 0, 70, ""]],
    "process rule" => [{ kind: "25", process_name: "sshd" }, [25, 0, 0, "sshd"]],
    "changes rule" => [{ kind: "26" }, [26, 0, 0, ""]],
    "rule removal" => [{ kind: "33", rule_id: "25" }, [33, 25, 0, ""]],
  }.freeze

  FORMS.each do |name, (fields, expected)|
    test "form to job: #{name}" do
      job = Job.from_form(fields.merge(scheduletype: "5"), creator: 1)
      assert job.valid?, job.errors.full_messages.inspect
      assert_equal expected, [job.cmd, job.prm, job.prm2, job.prm3]
    end
  end

  INVALID = {
    "empty command line" => { kind: "4", command_text: "  " },
    "inventory without section" => { kind: "2" },
    "deployment of an unknown application" => { kind: "3", application_id: "99" },
    "threshold above 100" => { kind: "22", threshold: "150" },
    "process rule without a name" => { kind: "25" },
    "removal of a code that is no rule" => { kind: "33", rule_id: "4" },
    "a command the agent does not run" => { kind: "7" },
    "text longer than the agent receives" => { kind: "4", command_text: "x" * 101 },
  }.freeze

  INVALID.each do |name, fields|
    test "form refused: #{name}" do
      refute Job.from_form(fields.merge(scheduletype: "5"), creator: 1).valid?
    end
  end

  test "schedules: repeating ones need a date and a count, immediate ones get now" do
    form = { kind: "26" }
    assert Job.from_form(form.merge(scheduletype: "0", scheduledate: "2026-05-01T10:30", schedulecount: "5"), creator: 1).valid?
    refute Job.from_form(form.merge(scheduletype: "1", scheduledate: "2026-05-01T10:30"), creator: 1).valid?
    refute Job.from_form(form.merge(scheduletype: "7", scheduledate: ""), creator: 1).valid?
    refute Job.from_form(form.merge(scheduletype: "9"), creator: 1).valid?
    once = Job.from_form(form.merge(scheduletype: "7", scheduledate: "2026-05-01T10:30"), creator: 1)
    assert_equal "2026-05-01 10:30:00", once.scheduledate.is_a?(String) ? once.scheduledate : once.scheduledate.strftime("%F %T")
    immediate = Job.from_form(form.merge(scheduletype: "5"), creator: 1)
    assert_in_delta Time.now, Job.to_time(immediate.scheduledate), 5
  end

  test "a saved job reads back in the form the server parses, with one waiting row per machine" do
    job = Job.from_form({ kind: "2", sections: %w[0 1], scheduletype: "0", scheduledate: "2026-05-01T10:30", schedulecount: "2" }, creator: 1)
    job.save!
    job.assign_to([1, 2, 999])
    raw = Job.connection.select_value("SELECT scheduledate FROM jobs WHERE id = #{job.id}")
    assert_equal "2026-05-01 10:30:00", raw.is_a?(String) ? raw[0, 19] : raw.strftime("%F %T")
    rows = JobMachine.where(job: job.id).order(:machine)
    assert_equal [[1, 1, 0, 235], [1, 2, 0, 235]], rows.map { |r| [r.creator, r.machine, r.active, r.status] }
  end

  test "deleting a job takes its assignments and groups along" do
    jobs(:deploy_tool).destroy!
    refute JobMachine.exists?(job: 2)
    refute JobGroup.exists?(job: 2)
    assert JobMachine.exists?(job: 1)
  end
end
