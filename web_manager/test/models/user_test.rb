require "test_helper"

class UserTest < ActiveSupport::TestCase
  test "the set-up's MD5 password signs in once and is replaced by a salted hash" do
    legacy = users(:legacy)
    assert_nil User.authenticate("legacy", "wrong-password")
    assert_match(/\A\h{32}\z/, legacy.reload.passwd, "a failed sign-in changes nothing")

    assert_equal legacy, User.authenticate("legacy", "set-up-pass")
    stored = legacy.reload.passwd
    assert stored.start_with?("$2"), "bcrypt hash expected, got #{stored}"
    assert_equal legacy, User.authenticate("legacy", "set-up-pass")
    assert_equal stored, legacy.reload.passwd, "an upgraded hash is kept"
  end

  test "sign-in refuses unknown users, blanks and unusable stored passwords" do
    assert_nil User.authenticate("nobody", "secret-pass")
    assert_nil User.authenticate("admin", "")
    users(:admin).update_columns(passwd: "not a hash")
    assert_nil User.authenticate("admin", "not a hash")
  end

  test "a new administrator needs a unique name and a long enough password" do
    assert User.new(username: "ops", password: "long-enough").save
    assert User.authenticate("ops", "long-enough")
    refute User.new(username: "ops", password: "long-enough").valid?
    refute User.new(username: "short", password: "1234567").valid?
    refute User.new(username: "bad name", password: "long-enough").valid?
  end
end
