class AlarmsController < ApplicationController
  PER_PAGE = 100

  def index
    scope = Alarm.all
    scope = scope.where(alarm_id: params[:kind].to_i) if params[:kind].present?
    @total = scope.count
    @pages = [(@total + PER_PAGE - 1) / PER_PAGE, 1].max
    @page = params[:page].to_i.clamp(1, @pages)
    @alarms = scope.newest_first.includes(:machine).limit(PER_PAGE).offset((@page - 1) * PER_PAGE)
  end
end
