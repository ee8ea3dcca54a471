# Tests create many hashes; the cheapest cost keeps them fast. Production keeps the default.
BCrypt::Engine.cost = BCrypt::Engine::MIN_COST if Rails.env.test?
