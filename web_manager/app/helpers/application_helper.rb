module ApplicationHelper
  def format_time(time)
    time ? time.strftime("%Y-%m-%d %H:%M:%S") : "-"
  end

  # A column heading that sorts the machine list, flipping the direction on a second click.
  def sort_link(label, key)
    current = @sort == key
    direction = current && @direction == "asc" ? "desc" : "asc"
    arrow = current ? (@direction == "asc" ? " \u25B2" : " \u25BC") : ""
    link_to "#{label}#{arrow}", machines_path(q: @search.presence, sort: key, direction: direction), class: ("sorted" if current)
  end
end
