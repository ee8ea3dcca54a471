# Server time per page of the machine list with 10,000 machines (and 50,000 recent alarms),
# for each sort key, a search and pages at both ends. Run through run-bench.sh.
require "benchmark"

MACHINES = Integer(ENV.fetch("KELVARIX_BENCH_MACHINES", 10_000))
ALARMS = MACHINES * 5
ROUNDS = Integer(ENV.fetch("KELVARIX_BENCH_ROUNDS", 20))

def fill
  [Alarm, Machine, User].each(&:delete_all)
  now = Time.now
  MACHINES.times.each_slice(1000) do |slice|
    Machine.insert_all(slice.map do |i|
      { name: format("pc-%05d", i), peerip: "10.#{i / 65_536}.#{(i / 256) % 256}.#{i % 256}", port: 0,
        agentType: i % 3, status: i.even? ? 1 : 0, uuid: i + 1,
        created_at: Machine.database_time(now), updated_at: Machine.database_time(now - i) }.transform_keys { |k| Machine.column_names.find { |c| c.casecmp?(k.to_s) } }
    end)
  end
  ids = Machine.pluck(:id)
  ALARMS.times.each_slice(5000) do |slice|
    Alarm.insert_all(slice.map do |i|
      { alarm_id: 22, data: "97", mid: ids[(i * 7919) % ids.size],
        created_at: Alarm.database_time(now - (i % 172_800)), updated_at: Alarm.database_time(now) }
    end)
  end
  %w[machines alarms].each { |table| Machine.connection.execute("ANALYZE #{table}") } if Machine.connection.adapter_name =~ /postg/i
  User.create!(username: "bench", password: "bench-password")
end

def measure(session, path)
  session.get(path) # warm
  raise "#{path}: #{session.response.status}" unless session.response.status == 200
  times = ROUNDS.times.map { Benchmark.realtime { session.get(path) } * 1000 }.sort
  [times[times.size / 2], times[(times.size * 0.95).floor.clamp(0, times.size - 1)]]
end

fill
session = ActionDispatch::Integration::Session.new(Rails.application)
session.post("/sign_in", params: { username: "bench", password: "bench-password" })
raise "sign-in failed" unless session.response.status == 302

pages = (MACHINES + 49) / 50
scenarios = {
  "page 1, by name" => "/machines",
  "page #{pages / 2}, by name" => "/machines?page=#{pages / 2}",
  "last page, by name" => "/machines?page=#{pages}",
  "page 1, by address" => "/machines?sort=address",
  "page 1, by status" => "/machines?sort=status&direction=desc",
  "page 1, by last contact" => "/machines?sort=contact&direction=desc",
  "page 1, by alarms (24 h)" => "/machines?sort=alarms&direction=desc",
  "last page, by alarms (24 h)" => "/machines?sort=alarms&direction=desc&page=#{pages}",
  "search 'pc-09' (1000 hits)" => "/machines?q=pc-09",
  "search address '10.0.7.'" => "/machines?q=10.0.7.",
}
adapter = Machine.connection.adapter_name
puts "#{MACHINES} machines, #{ALARMS} alarms, #{adapter}, #{ROUNDS} requests each (ms of server time per page)"
puts format("%-34s %8s %8s", "page", "median", "p95")
scenarios.each do |name, path|
  median, p95 = measure(session, path)
  puts format("%-34s %8.1f %8.1f", name, median, p95)
end
