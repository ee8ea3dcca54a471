# "Discover now": the server wakes the agents of every range at once. The page posts it in
# the background when it can, so that its WebSocket stays open for the server's answer.
class DiscoveryRunsController < ApplicationController
  def create
    server_link.discover
    respond_to do |format|
      format.html { redirect_to discoveries_path, notice: "Discovery started." }
      format.json { render json: { message: "The server is waking the agents of every range ..." } }
    end
  rescue ServerLink::Unreachable => e
    respond_to do |format|
      format.html { raise }
      format.json { render json: { message: e.message }, status: :bad_gateway }
    end
  end
end
