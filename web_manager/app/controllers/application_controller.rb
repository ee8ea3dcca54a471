class ApplicationController < ActionController::Base
  include Authentication

  protect_from_forgery with: :exception

  # Neither an unreachable database nor a stopped server shows a stack trace.
  rescue_from ActiveRecord::ConnectionNotEstablished, ActiveRecord::StatementInvalid,
              with: :database_unavailable
  rescue_from ServerLink::Unreachable, with: :server_unreachable
  rescue_from ActiveRecord::RecordNotFound, with: :not_found

  private

  def server_link
    ServerLink.for(current_user)
  end

  # Runs a manager request; a stopped server leaves a message, not an error page.
  def tell_server(success = nil)
    yield server_link
    flash[:notice] = success if success
    true
  rescue ServerLink::Unreachable => e
    flash[:alert] = "#{e.message} The change is saved; the server will pick it up at its next check."
    false
  end

  def database_unavailable(error)
    logger.error("Database unavailable: #{error.class}: #{error.message}")
    @message = "The database cannot be reached or refused the request. Check that PostgreSQL is " \
               "running and that config/database.yml names the right account; the log has the details."
    render "errors/unavailable", status: :service_unavailable, layout: "application"
  end

  def server_unreachable(error)
    @message = error.message
    render "errors/unavailable", status: :bad_gateway, layout: "application"
  end

  def not_found
    @message = "There is no such #{controller_name.singularize.humanize.downcase}."
    render "errors/unavailable", status: :not_found, layout: "application"
  end
end
