# The application runs on the Rails and gems Debian installs system-wide; nothing is
# resolved or downloaded at start, so there is no Gemfile and no Bundler.
ENV["RAILS_ENV"] ||= ENV["RACK_ENV"] || "development"
require "pathname"
