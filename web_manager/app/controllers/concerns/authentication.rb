# Every page needs a signed-in administrator; the session cookie holds only the user's id.
module Authentication
  extend ActiveSupport::Concern

  included do
    before_action :require_sign_in
    helper_method :current_user, :signed_in?
  end

  class_methods do
    def allow_signed_out(**options)
      skip_before_action :require_sign_in, **options
    end
  end

  private

  def current_user
    return @current_user if defined?(@current_user)
    @current_user = session[:user_id] && User.find_by(id: session[:user_id])
  end

  def signed_in?
    current_user.present?
  end

  def require_sign_in
    return if signed_in?
    session[:return_to] = request.fullpath if request.get?
    redirect_to sign_in_path
  end

  def sign_in(user)
    reset_session
    session[:user_id] = user.id
    @current_user = user
  end

  def sign_out
    reset_session
    @current_user = nil
  end
end
