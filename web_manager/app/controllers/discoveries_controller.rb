class DiscoveriesController < ApplicationController
  def index
    @discoveries = Discovery.order(:id)
    @discovery = Discovery.new(port: 0)
  end

  def create
    @discovery = Discovery.new(params.require(:discovery).permit(:net_ip, :mask, :port))
    if @discovery.save
      redirect_to discoveries_path, notice: "Range #{@discovery} added."
    else
      @discoveries = Discovery.order(:id)
      render :index, status: :unprocessable_entity
    end
  end

  def destroy
    discovery = Discovery.find(params[:id])
    discovery.destroy!
    redirect_to discoveries_path, notice: "Range #{discovery} removed."
  end
end
