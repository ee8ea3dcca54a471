require "test_helper"
require "fileutils"
require "selenium-webdriver"
require_relative "support/kelvarix_programs"

# Pages in real headless Chromium (Debian's chromium and chromium-driver).
class ApplicationSystemTestCase < ActionDispatch::SystemTestCase
  # Debian's chromedriver; given as a proc, the form Rails calls before each session.
  Selenium::WebDriver::Chrome::Service.driver_path = -> { ENV.fetch("KELVARIX_CHROMEDRIVER", "/usr/bin/chromedriver") }

  driven_by :selenium, using: :headless_chrome, screen_size: [1400, 1000] do |options|
    options.binary = ENV.fetch("KELVARIX_CHROMIUM", "/usr/bin/chromium")
    # Chromium's sandbox refuses to start as root, which CI is.
    options.add_argument("--no-sandbox")
    options.add_argument("--disable-dev-shm-usage")
  end

  SCREENSHOT_DIR = File.join(ENV.fetch("KELVARIX_TEST_OUTPUT_DIR", Rails.root.join("tmp").to_s), "screenshots")

  # Saves the page as it looks now; the path is printed so that a reader can open it.
  def screenshot(name)
    FileUtils.mkdir_p(SCREENSHOT_DIR)
    path = File.join(SCREENSHOT_DIR, "#{name}.png")
    # The whole page, not only what fits the window.
    window = page.driver.browser.manage.window
    height = page.evaluate_script("document.documentElement.scrollHeight").to_i
    window.resize_to(1400, [height + 150, 1000].max)
    page.execute_script("window.scrollTo(0, 0)")
    page.save_screenshot(path)
    window.resize_to(1400, 1000)
    puts "screenshot: #{path}"
    path
  end
end
