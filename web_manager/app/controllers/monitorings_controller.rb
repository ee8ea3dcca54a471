# Chart figures of one machine over a period, for the machine page's charts.
class MonitoringsController < ApplicationController
  def index
    machine = Machine.find(params[:machine_id])
    render json: Monitoring.chart_data(machine.id, params[:period])
  end
end
