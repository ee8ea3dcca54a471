class MachinesController < ApplicationController
  def index
    @search = params[:q].to_s
    @sort = Machine::SORTS.key?(params[:sort]) ? params[:sort] : "name"
    @direction = params[:direction] == "desc" ? "desc" : "asc"
    per_page = Rails.configuration.x.kelvarix[:machines_per_page].to_i
    scope = Machine.search(@search)
    @total = scope.count
    @pages = [(@total + per_page - 1) / per_page, 1].max
    @page = params[:page].to_i.clamp(1, @pages)
    @machines = Machine.list_page(search: @search, sort: @sort, direction: @direction,
                                  limit: per_page, offset: (@page - 1) * per_page)
    @online = Machine.search(@search).where(status: Machine::ONLINE).count
  end

  def show
    @machine = Machine.find(params[:id])
    @sections = InventorySection.all
    @section = InventorySection.find(params[:section]) || @sections.first
    @counts = InventorySection.counts(@machine.id)
    @search = params[:search].to_s
    @rows = InventorySection.rows(@section, @machine.id, @search)
    @period = Monitoring::PERIODS.key?(params[:period]) ? params[:period] : "24h"
    @alarms = @machine.alarms.newest_first.limit(50)
    @assignments = @machine.assignments.includes(:assigned_job).order(id: :desc).limit(100)
  end
end
