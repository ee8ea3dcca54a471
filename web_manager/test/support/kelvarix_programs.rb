require "fileutils"
require "json"
require "socket"
require "tmpdir"

# The real Kelvarix programs on loopback for browser tests: the server program headless
# with its own Server.ini and working directory, and agent services with fixture probes.
module KelvarixPrograms
  STOP_TIMEOUT = 20

  def self.free_port(kind = :tcp)
    socket = kind == :udp ? UDPSocket.new : TCPServer.new("127.0.0.1", 0)
    socket.bind("127.0.0.1", 0) if kind == :udp
    socket.addr[1]
  ensure
    socket&.close
  end

  def self.wait_until(timeout, what)
    deadline = Process.clock_gettime(Process::CLOCK_MONOTONIC) + timeout
    until (result = yield)
      raise "timed out after #{timeout} s waiting for #{what}" if Process.clock_gettime(Process::CLOCK_MONOTONIC) > deadline
      sleep 0.1
    end
    result
  end

  # A program run in a directory of its own, its output kept in console.log there.
  class Program
    attr_reader :dir, :pid

    def initialize(name)
      @dir = Dir.mktmpdir("kelvarix-#{name}-")
      File.chmod(0o755, @dir)
    end

    def log
      File.exist?(console) ? File.read(console, encoding: "BINARY") : ""
    end

    def console
      File.join(dir, "console.log")
    end

    def spawn_program(env, *command)
      @pid = Process.spawn(env, *command, chdir: dir, out: console, err: [:child, :out], pgroup: true)
    end

    def running?
      pid && Process.waitpid(pid, Process::WNOHANG).nil?
    rescue Errno::ECHILD
      false
    end

    def stop
      return unless running?
      Process.kill("TERM", pid)
      KelvarixPrograms.wait_until(STOP_TIMEOUT, "#{pid} to end") { !running? }
    rescue RuntimeError
      Process.kill("KILL", pid)
      Process.waitpid(pid)
    ensure
      @pid = nil
    end

    def remove
      stop
      FileUtils.rm_rf(dir)
    end
  end

  class Server < Program
    attr_reader :manager_port, :agent_port, :notice_port, :default_agent_port, :websocket_port

    def initialize(database_lines)
      super("server")
      @manager_port = KelvarixPrograms.free_port
      @agent_port = KelvarixPrograms.free_port
      @notice_port = KelvarixPrograms.free_port(:udp)
      @default_agent_port = KelvarixPrograms.free_port(:udp)
      @websocket_port = KelvarixPrograms.free_port
      File.write(File.join(dir, "Server.ini"), (database_lines + [
        "[Ports]", "ServerManagerPort=#{manager_port}", "ServerAgentPort=#{agent_port}",
        "ManagerPort=#{notice_port}", "AgentPort=#{default_agent_port}", "WebSocketPort=#{websocket_port}"
      ]).join("\n") + "\n")
    end

    def start
      spawn_program({}, ENV.fetch("KELVARIX_SERVER_PROGRAM"), "--headless", "--config-dir", dir)
      KelvarixPrograms.wait_until(30, "the server to run") do
        raise "the server ended:\n#{log}" unless running?
        log.include?("Kelvarix Server is running .....")
      end
    end

    def installer(name, file)
      File.join(dir, "upload", name, file)
    end
  end

  class Agent < Program
    attr_reader :udp_port

    def initialize(server_agent_port)
      super("agent")
      @udp_port = KelvarixPrograms.free_port(:udp)
      FileUtils.cp(ENV.fetch("KELVARIX_AGENT_PROGRAM"), dir)
      File.write(File.join(dir, "registry.json"), JSON.generate(
        uninstall: [
          { key: "editor", DisplayName: "Editor <Pro> & Tools", DisplayVersion: "2.1", Publisher: "Example Ltd" },
          { key: "viewer", DisplayName: "Viewer", DisplayVersion: "1.0", Publisher: "Example Ltd" },
        ], run: {}))
      # Never polls: only its start-up hello and the server's blind packets bring it in.
      File.write(File.join(dir, "Agent.ini"), <<~INI)
        [Client]
        Address=127.0.0.1
        ServerPort=#{server_agent_port}
        AgentPort=#{udp_port}
        PollServer=0
        NegotiateOnStartup=1
        TimerPeriod=1000
      INI
    end

    def start
      env = { "INVPROBE_FIXTURE" => ENV.fetch("KELVARIX_AGENT_FIXTURE"),
              "INVPROBE_REGISTRY" => File.join(dir, "registry.json") }
      spawn_program(env, File.join(dir, File.basename(ENV.fetch("KELVARIX_AGENT_PROGRAM"))))
    end
  end
end
