class UsersController < ApplicationController
  def index
    @users = User.order(:username)
  end

  def new
    @user = User.new
  end

  def create
    @user = User.new(params.require(:user).permit(:username, :full_name, :password))
    if @user.save
      redirect_to users_path, notice: "Administrator #{@user.username} added."
    else
      render :new, status: :unprocessable_entity
    end
  end

  def destroy
    user = User.find(params[:id])
    if user == current_user
      redirect_to users_path, alert: "You cannot remove yourself."
    elsif User.count <= 1
      redirect_to users_path, alert: "The last administrator cannot be removed."
    else
      user.destroy!
      redirect_to users_path, notice: "Administrator #{user.username} removed."
    end
  end
end
