# Grouping of jobs; only removed together with its job.
class JobGroup < ApplicationRecord
end
