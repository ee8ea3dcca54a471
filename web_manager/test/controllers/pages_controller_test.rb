require "test_helper"
require "socket"

class PagesControllerTest < ActionDispatch::IntegrationTest
  setup do
    sign_in_as users(:admin)
    @settings = Rails.configuration.x.kelvarix
    @saved_port = @settings[:server_manager_port]
  end

  teardown do
    @settings[:server_manager_port] = @saved_port
    @listener&.close
  end

  # Manager requests go to a loopback listener that records each connection's bytes.
  def listen_as_server
    @listener = TCPServer.new("127.0.0.1", 0)
    @settings[:server_manager_port] = @listener.addr[1]
    -> { client = @listener.accept; ManagerCommand.decode_header(client.read).tap { client.close } }
  end

  def stop_server
    port = TCPServer.new("127.0.0.1", 0).then { |s| s.addr[1].tap { s.close } }
    @settings[:server_manager_port] = port
  end

  test "what agents report is shown as text, never as markup" do
    get machines_path
    assert_response :success
    assert_includes response.body, "&lt;script&gt;document.title="
    refute_includes response.body, "<script>document.title="
    get machine_path(machines(:alpha), section: "software")
    assert_includes response.body, "&quot;quoted&amp;"
    get jobs_path
    assert_includes response.body, "&lt;inventory &amp; more&gt;"
  end

  test "the machine list sorts, searches and pages" do
    get machines_path(sort: "alarms", direction: "desc")
    assert_select "#machine-rows tr", 3
    assert_select "#machine-rows tr:first-child td:nth-child(2)", "alpha"
    assert_select "#machine-rows tr:first-child a.alarm-count", "2"
    get machines_path(q: "bet")
    assert_select "#machine-rows tr", 1
    @settings[:machines_per_page], per_page = 2, @settings[:machines_per_page]
    get machines_path(sort: "name", page: 2)
    assert_select "#machine-rows tr", 1
    assert_select ".pager span", "Page 2 of 2"
    @settings[:machines_per_page] = per_page
    get machines_path(q: "nothing-like-this")
    assert_select "td.empty"
  end

  test "a machine shows each inventory section, its charts' figures, alarms and jobs" do
    get machine_path(machines(:alpha))
    assert_select "#inventory td", "Debian GNU/Linux 12"
    assert_select "#alarms td", "a&b.exe"
    assert_select "#assignment-rows .badge", "Succeeded"
    get machine_path(machines(:alpha), section: "software", search: "bash")
    assert_select "#inventory tbody tr", 1
    get machine_monitorings_path(machines(:alpha), period: "all")
    assert_equal [30.0, 45.0, nil], response.parsed_body["series"].first["values"]
    get machine_path(999)
    assert_response :not_found
  end

  test "a new job is stored with one waiting assignment per machine and the server checks jobs at once" do
    request = listen_as_server
    post jobs_path, params: { job: { kind: "2", sections: %w[0 1 2], scheduletype: "5", machine_ids: %w[1 3] } }
    assert_redirected_to jobs_path
    job = Job.order(:id).last
    assert_equal [2, "1110000000", 5, 1], [job.cmd, job.prm3, job.scheduletype, job.creator]
    assert_equal [[1, 0], [3, 0]], JobMachine.where(job: job.id).order(:machine).pluck(:machine, :active)
    sent = request.call
    assert_equal [12, users(:admin).id], [sent.type, sent.agent_id]
  end

  test "a stopped server leaves the job saved and says so; a refused form says why" do
    stop_server
    post jobs_path, params: { job: { kind: "26", scheduletype: "6", machine_ids: %w[2] } }
    assert_redirected_to jobs_path
    follow_redirect!
    assert_select ".flash.alert", /cannot be reached/
    assert_equal 26, Job.order(:id).last.cmd

    assert_no_difference -> { Job.count } do
      post jobs_path, params: { job: { kind: "22", threshold: "0", scheduletype: "5", machine_ids: [] } }
    end
    assert_response :unprocessable_entity
    assert_select ".flash.alert p", 2
  end

  test "deleting an application is the server's work; without the server nothing is deleted" do
    request = listen_as_server
    delete application_path(applications(:tool))
    assert_redirected_to applications_path
    assert_equal [6, 4], request.call.then { |c| [c.type, c.reference] }

    stop_server
    delete application_path(applications(:tool))
    assert_response :bad_gateway
    assert_select "section.unavailable p", /cannot be reached/
    assert Application.exists?(4)
  end

  test "an uploaded installer is streamed to the server for its application" do
    listener = TCPServer.new("127.0.0.1", 0)
    @listener = listener
    @settings[:server_manager_port] = listener.addr[1]
    received = Thread.new { client = listener.accept; client.read.tap { client.close } }
    post application_installer_path(applications(:tool)),
         params: { installer: Rack::Test::UploadedFile.new(StringIO.new("PK\x03\x04 installer"), "application/zip", original_filename: "tool.zip") }
    assert_redirected_to applications_path
    bytes = received.value
    header = ManagerCommand.decode_header(bytes)
    assert_equal [5, 4, 14], [header.type, header.reference, header.payload_length]
    assert_equal "PK\x03\x04 installer".b, bytes.byteslice(118..)
  end

  test "applications, ranges and administrators are added and removed with their rules" do
    post applications_path, params: { application: { id: "", name: "Editor", filename: "editor.zip", execname: "setup.exe" } }
    assert_redirected_to applications_path
    assert_equal 1, Application.find_by(name: "Editor").id
    post applications_path, params: { application: { id: "300", name: "../etc", filename: "x" } }
    assert_response :unprocessable_entity

    request = listen_as_server
    post discoveries_path, params: { discovery: { net_ip: "127.0.0.1", mask: "32", port: "0" } }
    assert_redirected_to discoveries_path
    post discovery_run_path
    assert_equal 8, request.call.type
    stop_server
    post discovery_run_path, headers: { "Accept" => "application/json" }
    assert_response :bad_gateway
    assert_match(/cannot be reached/, response.parsed_body["message"])
    post discoveries_path, params: { discovery: { net_ip: "10.0.0.0", mask: "8" } }
    assert_response :unprocessable_entity

    post users_path, params: { user: { username: "ops", full_name: "Ops", password: "long-enough" } }
    assert_redirected_to users_path
    delete user_path(users(:admin))
    assert_redirected_to users_path
    assert User.exists?(users(:admin).id), "nobody removes themselves"
    delete user_path(User.find_by(username: "ops"))
    refute User.exists?(username: "ops")
  end

  test "an unreachable database gives a clear page, not a stack trace" do
    Machine.stub(:search, ->(*) { raise ActiveRecord::ConnectionNotEstablished, "could not connect to server" }) do
      get machines_path
    end
    assert_response :service_unavailable
    assert_select "section.unavailable p", /database cannot be reached/
    refute_includes response.body, "could not connect"
  end
end
