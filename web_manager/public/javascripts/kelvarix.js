// Live pages: the server's WebSocket says what changed ("Machine", "JobStateChanged",
// "DiscoveryExecute"); marked parts of the page fetch themselves again, at most once a second.
(function () {
  "use strict";

  var REFRESH_INTERVAL_MS = 1000;
  var RECONNECT_MS = 3000;

  function liveParts(message) {
    return Array.prototype.filter.call(document.querySelectorAll("[data-live]"), function (el) {
      return el.getAttribute("data-live").split(" ").indexOf(message) >= 0;
    });
  }

  // Checked boxes survive a refresh of the rows around them.
  function keepChecks(el, apply) {
    var checked = Array.prototype.map.call(el.querySelectorAll("input[type=checkbox]:checked"), function (box) { return box.id; });
    apply();
    checked.forEach(function (id) { var box = document.getElementById(id); if (box) box.checked = true; });
  }

  // The page is fetched again and the part with the same id takes the fresh content.
  function refresh(el) {
    fetch(window.location.href, { credentials: "same-origin" })
      .then(function (response) { return response.ok ? response.text() : Promise.reject(response.status); })
      .then(function (html) {
        keepChecks(el, function () {
          var fresh = new DOMParser().parseFromString(html, "text/html").getElementById(el.id);
          if (fresh) el.innerHTML = fresh.innerHTML;
        });
        el.setAttribute("data-refreshed", String(Date.now()));
      })
      .catch(function () { /* the next notice tries again */ });
  }

  // However many notices arrive, each part refreshes at most once per interval.
  var pending = new Map();
  // When each part refreshed, for whoever wants to check the pace.
  window.kelvarixRefreshes = [];
  function scheduleRefresh(el) {
    var state = pending.get(el) || { last: 0, timer: null };
    pending.set(el, state);
    if (state.timer) return;
    var wait = Math.max(0, state.last + REFRESH_INTERVAL_MS - Date.now());
    state.timer = setTimeout(function () {
      state.timer = null;
      state.last = Date.now();
      window.kelvarixRefreshes.push({ id: el.id, at: state.last });
      refresh(el);
    }, wait);
  }

  function discoveryFinished() {
    var progress = document.getElementById("discovery-progress");
    if (!progress) return;
    progress.hidden = false;
    progress.className = "progress done";
    progress.textContent = "Discovery pass finished at " + new Date().toLocaleTimeString() +
      ": the server has woken the agents of every range; new machines appear on the machine list.";
  }

  function connect() {
    var body = document.body;
    var port = body.getAttribute("data-websocket-port");
    if (!port || !document.querySelector(".who")) return;
    var host = body.getAttribute("data-websocket-host") || window.location.hostname;
    var state = document.getElementById("live-state");
    var socket;
    try {
      socket = new WebSocket("ws://" + host + ":" + port + "/");
    } catch (e) {
      setTimeout(connect, RECONNECT_MS);
      return;
    }
    socket.onopen = function () {
      if (state) { state.textContent = "live"; state.classList.add("live"); }
      body.setAttribute("data-live-connected", "1");
    };
    socket.onmessage = function (event) {
      var message = String(event.data);
      if (message === "DiscoveryExecute") discoveryFinished();
      liveParts(message).forEach(scheduleRefresh);
    };
    socket.onclose = function () {
      if (state) { state.textContent = "offline"; state.classList.remove("live"); }
      body.removeAttribute("data-live-connected");
      setTimeout(connect, RECONNECT_MS);
    };
  }

  // The job form shows only the fields of the chosen command and schedule.
  function toggleFields(select, selector) {
    if (!select) return;
    var update = function () {
      document.querySelectorAll(selector).forEach(function (el) {
        var on = el.getAttribute("data-for").split(" ").indexOf(select.value) >= 0;
        el.hidden = !on;
        el.querySelectorAll("input, select").forEach(function (input) { input.disabled = !on; });
      });
    };
    select.addEventListener("change", update);
    update();
  }

  var COLORS = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b"];
  function drawCharts() {
    var holder = document.getElementById("charts");
    if (!holder || typeof Chart === "undefined") return;
    fetch(holder.getAttribute("data-chart-url"), { credentials: "same-origin" })
      .then(function (response) { return response.json(); })
      .then(function (data) {
        var byKey = {};
        data.series.forEach(function (s) { byKey[s.key] = s; });
        document.querySelector(".chart-empty").hidden = data.labels.length > 0;
        holder.querySelectorAll("canvas").forEach(function (canvas) {
          var datasets = canvas.getAttribute("data-series").split(" ").map(function (key, i) {
            var s = byKey[key];
            return { label: s.label, data: s.values, borderColor: COLORS[i], backgroundColor: COLORS[i],
                     pointRadius: data.labels.length > 60 ? 0 : 2, spanGaps: true, tension: 0.2 };
          });
          var percent = canvas.getAttribute("data-series").indexOf("percentage") >= 0 ||
                        canvas.getAttribute("data-series") === "battery";
          new Chart(canvas, {
            type: "line",
            data: { labels: data.labels, datasets: datasets },
            options: { animation: false, responsive: true,
                       scales: { y: percent ? { min: 0, max: 100 } : { beginAtZero: true },
                                 x: { ticks: { maxTicksLimit: 6 } } },
                       plugins: { legend: { display: datasets.length > 1 } } }
          });
        });
        holder.setAttribute("data-drawn", String(data.labels.length));
      });
  }

  // "Discover now" in the background: the page and its WebSocket stay for the answer.
  function discoverInBackground(form) {
    if (!form) return;
    form.addEventListener("submit", function (event) {
      event.preventDefault();
      var progress = document.getElementById("discovery-progress");
      progress.hidden = false;
      progress.className = "progress waiting";
      progress.textContent = "Asking the server to discover ...";
      fetch(form.action, { method: "POST", body: new FormData(form), credentials: "same-origin",
                           headers: { "Accept": "application/json" } })
        .then(function (response) {
          return response.json().then(function (data) { return { ok: response.ok, message: data.message }; });
        })
        .then(function (result) {
          // The server may have finished the pass before its answer got here.
          if (!progress.classList.contains("waiting")) return;
          if (!result.ok) progress.className = "progress failed";
          progress.textContent = result.message;
        })
        .catch(function () { form.submit(); });
    });
  }

  document.addEventListener("click", function (event) {
    var target = event.target.closest("[data-confirm]");
    if (target && !window.confirm(target.getAttribute("data-confirm"))) event.preventDefault();
  });

  document.addEventListener("DOMContentLoaded", function () {
    toggleFields(document.getElementById("job_kind"), ".kind-fields");
    toggleFields(document.getElementById("job_scheduletype"), ".schedule-fields");
    discoverInBackground(document.getElementById("discover-now"));
    connect();
    drawCharts();
  });
})();
