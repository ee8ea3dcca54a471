require "cgi"

# Values of inventory and alarm rows as the agent saw them. The server stores each value in
# its XML-serialized form (&amp;, &lt;, &gt;) and the agent writes a percent sign as "%";
# both are undone once for display, where the view escapes the text again as HTML.
module ReportedText
  QUOTED_PERCENT = '"%"'.freeze

  def self.decode(value)
    return value unless value.is_a?(String)
    CGI.unescapeHTML(value).gsub(QUOTED_PERCENT, "%")
  end
end
