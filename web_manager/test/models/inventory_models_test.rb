require "test_helper"

class InventoryModelsTest < ActiveSupport::TestCase
  test "machines search, sort and count recent alarms in one statement" do
    names = ->(scope) { scope.map(&:name) }
    assert_equal %w[alpha], names.(Machine.search("ALP").sorted("name", "asc"))
    assert_equal %w[beta], names.(Machine.search("10.0.0.12"))
    assert_equal %w[beta alpha], names.(Machine.where(id: [1, 2]).sorted("name", "desc"))
    counted = Machine.with_alarm_count.sorted("alarms", "desc").to_a
    assert_equal [1, 2], [counted.first.id, counted.first.recent_alarm_count], "the old alarm of beta is not recent"
    assert_equal 0, counted.find { |m| m.id == 2 }.recent_alarm_count
    assert_equal %w[alpha beta], names.(Machine.where(id: [1, 2]).sorted("no such column; DROP TABLE machines", "asc"))
  end

  test "a search for LIKE's wildcards matches them literally" do
    assert_empty Machine.search("%")
    assert_empty Machine.search("_")
  end

  test "machine modes, ports and contact times" do
    alpha, beta = machines(:alpha), machines(:beta)
    assert alpha.listening?
    refute beta.listening?
    assert_equal [6722, 7000], [alpha.agent_port, beta.agent_port]
    assert_equal Time.new(2026, 1, 2, 3, 4, 5), alpha.last_contact
  end

  test "applications: ids 1-255, the next free one by default, names that are safe directories" do
    app = Application.create!(name: "Editor", filename: "editor.zip")
    assert_equal 1, app.id
    assert_equal 2, Application.create!(name: "Viewer", filename: "viewer.msi").id
    refute Application.new(id: 256, name: "Big", filename: "a.zip").valid?
    refute Application.new(id: 4, name: "Dup id", filename: "a.zip").valid?
    refute Application.new(name: "Tool Suite", filename: "a.zip").valid?, "names are directories and must differ"
    ["..", ".", "a/b", "a\\b", ""].each do |name|
      refute Application.new(name: name, filename: "a.zip").valid?, "name #{name.inspect} accepted"
      refute Application.new(name: "ok", filename: name).valid?, "file name #{name.inspect} accepted"
    end
  end

  test "discovery ranges: prefix lengths and netmasks the server can scan" do
    {
      ["192.168.1.0", "24"] => 254, ["192.168.1.0", "255.255.255.0"] => 254, ["127.0.0.1", "32"] => 1,
      ["127.0.0.5", "8"] => 1, ["10.0.0.8", "32"] => 1, ["10.0.0.8", "31"] => 0, ["10.0.0.0", "16"] => 65_534,
    }.each do |(ip, mask), count|
      range = Discovery.new(net_ip: ip, mask: mask)
      assert range.valid?, "#{ip}/#{mask}: #{range.errors.full_messages}"
      assert_equal count, range.address_count, "#{ip}/#{mask}"
    end
    [%w[10.0.0.0 15], %w[10.0.0.0 255.0.255.0], %w[10.0.0.0 33], %w[300.1.1.1 24], ["host.example", "24"]].each do |ip, mask|
      refute Discovery.new(net_ip: ip, mask: mask).valid?, "#{ip}/#{mask} accepted"
    end
    refute Discovery.new(net_ip: "10.0.0.0", mask: "24", port: 70_000).valid?
  end

  test "chart figures: one value per series per row, unreadable texts as gaps" do
    data = Monitoring.chart_data(1, "24h")
    assert_equal 3, data[:labels].size
    cpu = data[:series].find { |s| s[:key] == "cpuusagepercentage" }
    assert_equal [30.0, 45.0, nil], cpu[:values]
    assert_equal 2, Monitoring.chart_data(1, "1h")[:labels].size
    assert_empty Monitoring.chart_data(2, "all")[:labels]
  end

  test "reported values are shown as the agent saw them, decoded once" do
    assert_equal "a&b.exe", alarms(:recent_process).value
    assert_equal 'Editor <Pro> & "x" 50%', ReportedText.decode('Editor &lt;Pro&gt; &amp; "x" 50"%"')
    assert_equal "&lt;", ReportedText.decode("&amp;lt;"), "decoded once only"
    assert_equal "Process started", alarms(:recent_process).kind_name
  end

  test "inventory sections read the server's tables, searched over their shown columns" do
    software = InventorySection.find("software")
    assert_equal 5, InventorySection.rows(software, 1).count
    assert_equal %w[openssl], InventorySection.rows(software, 1, "SSL").map { |row| row["displayname"] }
    assert_equal 1, InventorySection.counts(1)["system"]
    InventorySection.all.each { |section| InventorySection.rows(section, 1, "x").to_a } # every column exists
  end
end
