class ApplicationsController < ApplicationController
  def index
    @applications = Application.by_id
    @application = Application.new
    @upload_dir = Settings.upload_dir
  end

  def create
    @application = Application.new(params.require(:application).permit(
      :id, :name, :filename, :execname, :installswitches, :uninstallname, :uninstallswitches))
    @application.id = nil if @application.id.to_i.zero?
    if @application.save
      redirect_to applications_path, notice: "Application #{@application.name} added with id #{@application.id}."
    else
      @applications = Application.by_id
      @upload_dir = Settings.upload_dir
      render :index, status: :unprocessable_entity
    end
  end

  # The server deletes the application, its installer and every job that refers to it.
  def destroy
    application = Application.find(params[:id])
    server_link.delete_application(application.id)
    redirect_to applications_path, notice: "The server was asked to delete #{application.name} and its jobs."
  end
end
