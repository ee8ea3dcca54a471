# Sends an application's installer to the server, which keeps it for deployments.
class InstallersController < ApplicationController
  def create
    application = Application.find(params[:application_id])
    file = params[:installer]
    if file.blank? || !file.respond_to?(:read)
      redirect_to applications_path, alert: "Choose an installer file to upload."
      return
    end
    File.open(file.path, "rb") { |io| server_link.upload_installer(application.id, io, io.size) }
    redirect_to applications_path, notice: "Installer #{application.filename} (#{file.size} bytes) sent to the server as #{application.filename}."
  end
end
