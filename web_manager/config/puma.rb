# One process, a few threads: administrators are few, and the database pool matches.
threads_count = ENV.fetch("RAILS_MAX_THREADS", 5).to_i
threads threads_count, threads_count
environment ENV.fetch("RAILS_ENV", "production")
# Puma writes requests' errors to the Rails log; its own lines go to standard output.
quiet
