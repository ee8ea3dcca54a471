require "application_system_test_case"
require "zip"

# An administrator's round in the browser against the real server program and an agent
# service on loopback: every page, every live update, every kind of manager request.
class AdministratorTest < ApplicationSystemTestCase
  # The server and agent must see what the test writes: no fixtures, no wrapping transaction.
  self.fixture_table_names = []
  self.use_transactional_tests = false

  JOB_TIMEOUT = 90

  setup do
    Capybara.default_max_wait_time = 15
    database_lines = ENV.fetch("KELVARIX_PG_SERVER_INI").split("\n")
    @server = KelvarixPrograms::Server.new(database_lines)
    @server.start
    @agent = KelvarixPrograms::Agent.new(@server.agent_port)
    @settings = Rails.configuration.x.kelvarix
    @settings[:server_manager_port] = @server.manager_port
    @settings[:websocket_port] = @server.websocket_port
    @settings[:upload_dir] = File.join(@server.dir, "upload")
    User.create!(username: "admin", full_name: "Test Admin", password: "secret-pass")
  end

  teardown do
    @agent&.remove
    @server&.remove
  end

  def sign_in
    visit sign_in_path
    screenshot("sign_in")
    fill_in "User name", with: "admin"
    fill_in "Password", with: "secret-pass"
    click_on "Sign in"
    assert_selector "h1", text: "Machines"
  end

  # Creates a job for the machine from the form and waits until its assignment reports.
  def run_job(kind, machine, fields = {}, until_state: ["ok", "Succeeded"], shot: nil)
    visit new_job_path(machine_ids: [machine.id])
    select kind, from: "Command"
    fields.each do |label, value|
      case value
      when true then check label
      when Symbol then select value.to_s, from: label
      else fill_in label, with: value
      end
    end
    screenshot(shot) if shot
    click_on "Create job"
    assert_selector ".flash.notice", text: "created for 1 machine"
    job = Job.order(:id).last
    within("#job-#{job.id}") { assert_selector ".badge.#{until_state[0]}", text: until_state[1], wait: JOB_TIMEOUT }
    job
  end

  def installer_zip
    Zip::OutputStream.write_buffer do |zip|
      entry = Zip::Entry.new("", "setup.sh")
      entry.unix_perms = 0o755
      zip.put_next_entry(entry)
      zip.write("#!/bin/sh\necho \"installed $*\"\n")
    end.string
  end

  test "an administrator sees the agent arrive, inventories it, deploys, discovers and signs out" do
    sign_in
    assert_selector "#live-state.live", text: "live"
    assert_selector "#machine-rows td.empty"

    # The agent registers at start-up; the list shows it without a reload.
    @agent.start
    assert_selector "#machine-rows tr.online", count: 1, wait: 60
    machine = Machine.last
    assert_equal @agent.udp_port, machine.agent_port
    screenshot("machines")

    # Bursts of notices (a page's text reaches every page, this one included): each burst
    # refreshes the list once, and never sooner than a second after the last refresh.
    page.execute_script(<<~JS, Settings.websocket_port)
      var socket = new WebSocket("ws://" + window.location.hostname + ":" + arguments[0] + "/");
      window.kelvarixRefreshes = [];
      window.burst = function () { for (var i = 0; i < 50; i++) socket.send("Machine"); };
      socket.onopen = window.burst;
    JS
    list_refreshes = lambda do
      page.evaluate_script("window.kelvarixRefreshes.filter(function (r) { return r.id === 'machine-list'; }).map(function (r) { return r.at; })")
    end
    KelvarixPrograms.wait_until(20, "the first burst's refresh") { list_refreshes.call.size >= 1 }
    page.execute_script("window.burst()")
    KelvarixPrograms.wait_until(20, "the second burst's refresh") { list_refreshes.call.size >= 2 }
    times = list_refreshes.call
    assert times.each_cons(2).all? { |a, b| b - a >= 1000 }, "refreshes closer than a second: #{times.inspect}"

    # An immediate inventory job leaves at once and its state follows live.
    job = run_job("Inventory", machine)
    assert_equal "1111111111", job.prm3
    screenshot("jobs")

    click_on machine.name
    assert_selector "h1", text: machine.name
    within("#inventory") { assert_text "Microsoft Windows 7 Professional" }
    click_on "Software"
    within("#inventory") { assert_text "Editor <Pro> & Tools" }
    assert_selector "#charts[data-drawn]"
    refute_equal "0", find("#charts")["data-drawn"], "the inventory's monitoring row is charted"
    screenshot("machine")

    # An application: added, its installer uploaded to the server, deployed.
    visit applications_path
    fill_in "Name (the installer's directory)", with: "Tool Suite"
    fill_in "Installer file name", with: "tool.zip"
    fill_in "Program to run (inside a zip)", with: "setup.sh"
    fill_in "Install switches", with: "--quiet"
    click_on "Add application"
    assert_selector ".flash.notice", text: "Application Tool Suite added"
    application = Application.find_by!(name: "Tool Suite")
    zip_path = File.join(Dir.mktmpdir, "tool.zip")
    File.binwrite(zip_path, installer_zip)
    attach_file "installer-#{application.id}", zip_path
    click_on "upload-#{application.id}"
    assert_selector ".flash.notice", text: "sent to the server"
    KelvarixPrograms.wait_until(20, "the server to keep the installer") do
      File.exist?(@server.installer("Tool Suite", "tool.zip")) && File.binread(@server.installer("Tool Suite", "tool.zip")) == File.binread(zip_path)
    end
    visit applications_path
    within("#application-#{application.id}") { assert_text "#{File.size(zip_path)} Bytes" }
    screenshot("applications")

    deployment = run_job("Deploy application with switches", machine,
                         { "Application" => :"#{application.id}: Tool Suite", "Run the installer and wait for it" => true },
                         shot: "new_job")
    assert_includes JobMachine.find_by!(job: deployment.id).reportdata, "installed --quiet"

    # An alarm rule: the agent's figures exceed 1 % at once; then the rule goes again.
    # Rules are handed over without a report.
    handed_over = ["sent", "Sent to the agent"]
    run_job("Alarm rule: processor load", machine, { "Alarm above (percent)" => "1" }, until_state: handed_over)
    visit alarms_path
    assert_selector "#alarm-table td", text: "Processor load", wait: 30
    screenshot("alarms")
    run_job("Remove alarm rule", machine, { "Rule to remove" => :"Alarm rule: processor load" }, until_state: handed_over)

    # Discovery of 127.0.0.1/32 on the agent's port: the server reports the pass live.
    visit discoveries_path
    fill_in "Network address", with: "127.0.0.1"
    fill_in "Mask (prefix length or dotted)", with: "32"
    fill_in "Agent port (0 = default)", with: @agent.udp_port.to_s
    click_on "Add range"
    assert_selector "#discovery-1, .discoveries td", text: "127.0.0.1"
    assert_selector "#live-state.live"
    click_on "Discover now"
    assert_selector "#discovery-progress.done", text: "Discovery pass finished"
    screenshot("discovery")

    visit users_path
    click_on "Add an administrator"
    fill_in "User name", with: "second"
    fill_in "Password (at least 8 characters)", with: "another-pass"
    click_on "Add administrator"
    assert_selector "td", text: "second"
    screenshot("administrators")

    click_on "Sign out"
    assert_selector ".flash.notice", text: "Signed out."
    visit machines_path
    assert_current_path sign_in_path
  end
end
