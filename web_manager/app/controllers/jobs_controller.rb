class JobsController < ApplicationController
  def index
    @jobs = Job.newest_first.includes(assignments: :assigned_machine).limit(200)
  end

  def new
    @job = Job.new(scheduletype: Job::IMMEDIATE, cmd: Job::INVENTORY, prm3: "1" * Job::INVENTORY_SECTIONS.size)
    @chosen = Array(params[:machine_ids]).map(&:to_i)
    load_choices
  end

  def create
    @job = Job.from_form(job_fields, creator: current_user.id)
    @chosen = Array(params.dig(:job, :machine_ids)).reject(&:blank?).map(&:to_i)
    @job.validate
    @job.errors.add(:base, "Choose at least one machine") if @chosen.empty? && @job.scheduletype.to_i != Job::NEW_MACHINES
    if @job.errors.empty?
      Job.transaction do
        @job.save!
        @job.assign_to(@chosen)
      end
      # Immediate jobs leave at once instead of at the server's next observer tick.
      tell_server("Job #{@job.id} created for #{@chosen.size} machine(s).", &:job_check)
      redirect_to jobs_path
    else
      load_choices
      render :new, status: :unprocessable_entity
    end
  end

  def destroy
    job = Job.find(params[:id])
    Job.transaction { job.destroy! }
    redirect_to jobs_path, notice: "Job #{job.id} deleted."
  end

  private

  def job_fields
    params.require(:job).permit(:kind, :command_text, :application_id, :run_and_wait, :threshold,
                                :process_name, :rule_id, :scheduletype, :scheduledate, :schedulecount,
                                sections: [])
  end

  def load_choices
    @machines = Machine.order(:name).limit(1000)
    @applications = Application.by_id
  end
end
