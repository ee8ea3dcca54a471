Rails.application.routes.draw do
  get "sign_in", to: "sessions#new"
  post "sign_in", to: "sessions#create"
  delete "sign_out", to: "sessions#destroy"

  resources :machines, only: %i[index show] do
    resources :monitorings, only: :index
  end
  resources :jobs, only: %i[index new create destroy]
  resources :applications, only: %i[index create destroy] do
    resource :installer, only: :create
  end
  resources :discoveries, only: %i[index create destroy]
  resource :discovery_run, only: :create
  resources :alarms, only: :index
  resources :users, only: %i[index new create destroy]

  # Chart.js as Debian installs it.
  mount Rack::Files.new(Rails.configuration.x.kelvarix[:chart_js_dir]), at: "/vendor/chartjs"

  root to: redirect("/machines")
end
