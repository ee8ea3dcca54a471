class SessionsController < ApplicationController
  allow_signed_out only: %i[new create]
  layout "sign_in"

  def new
  end

  def create
    user = User.authenticate(params[:username], params[:password])
    if user
      target = session[:return_to]
      sign_in(user)
      redirect_to(target.presence || machines_path)
    else
      flash.now[:alert] = "Unknown user name or wrong password."
      render :new, status: :unprocessable_entity
    end
  end

  def destroy
    sign_out
    redirect_to sign_in_path, notice: "Signed out."
  end
end
