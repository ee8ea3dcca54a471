require "test_helper"

class SessionsControllerTest < ActionDispatch::IntegrationTest
  PAGES = %w[/machines /machines/1 /machines/1/monitorings /jobs /jobs/new /applications /discoveries /alarms /users /users/new].freeze

  test "every page asks for sign-in first, then comes back to it" do
    PAGES.each do |path|
      get path
      assert_redirected_to sign_in_path, path
    end
    post sign_in_path, params: { username: "admin", password: "secret-pass" }
    assert_redirected_to "/users/new"
  end

  test "a wrong password shows the form again; sign-out ends the session" do
    post sign_in_path, params: { username: "admin", password: "nope" }
    assert_response :unprocessable_entity
    assert_select ".flash.alert", "Unknown user name or wrong password."

    sign_in_as users(:admin)
    PAGES.each do |path|
      get path
      assert_response :success, path
    end
    delete sign_out_path
    assert_redirected_to sign_in_path
    get machines_path
    assert_redirected_to sign_in_path
  end

  test "a session whose administrator was removed no longer signs anyone in" do
    sign_in_as users(:admin)
    users(:admin).destroy!
    get machines_path
    assert_redirected_to sign_in_path
  end

  test "forms without the session's token are refused" do
    ActionController::Base.allow_forgery_protection = true
    get sign_in_path
    token = css_select("meta[name=csrf-token]").first["content"]
    post sign_in_path, params: { username: "admin", password: "secret-pass" }
    assert_response :unprocessable_entity
    post sign_in_path, params: { username: "admin", password: "secret-pass", authenticity_token: token }
    assert_redirected_to machines_path
    delete sign_out_path
    assert_response :unprocessable_entity
  ensure
    ActionController::Base.allow_forgery_protection = false
  end
end
