// urea-reactor serve's page: the store's windows, findings and alerts drawn
// from the JSON API (/api/v1/), read again when watch has kept a new pass.
// Plant text is only ever set as textContent.
"use strict";

(() => {
  const POLL_MS = 5000;
  const REQUEST_MS = 20000;
  const state = { passes: null, windows: [], starts: [], x: [], charts: [], meterBias: null, meters: [], syncing: false };

  // ---- Small helpers ----
  const $ = (id) => document.getElementById(id);
  function el(tag, text, cls) {
    const e = document.createElement(tag);
    if (text !== undefined && text !== null) e.textContent = String(text);
    if (cls) e.className = cls;
    return e;
  }
  function clear(e) { while (e.firstChild) e.removeChild(e.firstChild); }
  // A time as the store writes it ("2026-03-01T06:00:00", UTC unless it says
  // otherwise) to seconds since 1970.
  function seconds(text) {
    if (text === null || text === undefined) return null;
    const zoned = /[zZ]$|[+-]\d\d(:?\d\d)?$/.test(text);
    const ms = Date.parse(zoned ? text : text + "Z");
    return Number.isNaN(ms) ? null : ms / 1000;
  }
  function number(v, digits) {
    if (v === null || v === undefined || typeof v !== "number") return "–";
    if (v !== 0 && (Math.abs(v) < 1e-3 || Math.abs(v) >= 1e5)) return v.toExponential(digits ?? 3);
    return v.toPrecision(digits ?? 4);
  }
  function ago(s) {
    if (s === null || s === undefined) return "–";
    if (s < 120) return Math.round(s) + " s";
    if (s < 7200) return Math.round(s / 60) + " min";
    if (s < 172800) return (s / 3600).toFixed(1) + " h";
    return (s / 86400).toFixed(1) + " d";
  }
  async function api(path) {
    const control = new AbortController();
    const timer = setTimeout(() => control.abort(), REQUEST_MS);
    try {
      const r = await fetch(path, { signal: control.signal, credentials: "same-origin", cache: "no-store" });
      const body = await r.json();
      if (!r.ok) throw new Error((body.error && body.error.message) || "HTTP " + r.status);
      return body;
    } finally {
      clearTimeout(timer);
    }
  }
  async function allWindows() {
    const out = [];
    let offset = 0;
    for (;;) {
      const page = await api("/api/v1/windows?limit=10000&offset=" + offset);
      out.push(...page.windows);
      if (page.next_offset === null) return out;
      offset = page.next_offset;
    }
  }

  // ---- Charts ----
  const utc = (ts) => uPlot.tzDate(new Date(ts * 1000), "Etc/UTC");
  function width(id) { return Math.max(320, $(id).clientWidth || 800); }

  // Mouse wheel zooms the time axis about the cursor; shift-drag pans it.
  function wheelAndPan() {
    return {
      hooks: {
        ready: (u) => {
          const over = u.over;
          over.addEventListener("wheel", (e) => {
            e.preventDefault();
            const { left } = u.cursor;
            const x = u.posToVal(left, "x");
            const min = u.scales.x.min, max = u.scales.x.max;
            const f = e.deltaY < 0 ? 0.8 : 1.25;
            u.setScale("x", { min: x - (x - min) * f, max: x + (max - x) * f });
          }, { passive: false });
          over.addEventListener("mousedown", (e) => {
            if (!e.shiftKey) return;
            e.preventDefault();
            e.stopPropagation();
            const x0 = e.clientX, min = u.scales.x.min, max = u.scales.x.max;
            const perPx = (max - min) / u.bbox.width * devicePixelRatio;
            const move = (m) => {
              const dx = (m.clientX - x0) * perPx;
              u.setScale("x", { min: min - dx, max: max - dx });
            };
            const up = () => { document.removeEventListener("mousemove", move); document.removeEventListener("mouseup", up); };
            document.addEventListener("mousemove", move);
            document.addEventListener("mouseup", up);
          }, true);
          // A click (no drag) on a window: its detail.
          let downAt = null;
          over.addEventListener("mousedown", (e) => { downAt = [e.clientX, e.clientY]; });
          over.addEventListener("mouseup", (e) => {
            if (!downAt || Math.abs(e.clientX - downAt[0]) > 3 || Math.abs(e.clientY - downAt[1]) > 3) return;
            const i = u.cursor.idx;
            if (i !== null && i !== undefined) showDetail(i);
          });
        },
        // Zooming one chart zooms them all to the same span.
        setScale: (u, key) => {
          if (key !== "x" || state.syncing) return;
          state.syncing = true;
          for (const c of state.charts) {
            if (c !== u && (c.scales.x.min !== u.scales.x.min || c.scales.x.max !== u.scales.x.max)) {
              c.setScale("x", { min: u.scales.x.min, max: u.scales.x.max });
            }
          }
          state.syncing = false;
        },
      },
    };
  }

  // Marks over a chart: vertical lines with labels that never overlap (a
  // label that would overlap the one before it is left out; the line stays),
  // and shaded spans.
  function marksPlugin(getMarks) {
    return {
      hooks: {
        draw: (u) => {
          const { lines, spans } = getMarks();
          const ctx = u.ctx;
          const top = u.bbox.top, height = u.bbox.height;
          ctx.save();
          ctx.beginPath();
          ctx.rect(u.bbox.left, top, u.bbox.width, height);
          ctx.clip();
          for (const s of spans) {
            const x0 = u.valToPos(s.from, "x", true), x1 = u.valToPos(s.to, "x", true);
            ctx.fillStyle = s.color;
            ctx.fillRect(x0, top, Math.max(1, x1 - x0), height);
          }
          ctx.font = `${11 * devicePixelRatio}px system-ui, sans-serif`;
          ctx.textAlign = "left";
          ctx.textBaseline = "alphabetic";
          let lastRight = -Infinity;
          for (const m of lines.slice().sort((a, b) => a.x - b.x)) {
            const x = u.valToPos(m.x, "x", true);
            ctx.strokeStyle = m.color;
            ctx.lineWidth = 1.5 * devicePixelRatio;
            ctx.setLineDash([6 * devicePixelRatio, 4 * devicePixelRatio]);
            ctx.beginPath();
            ctx.moveTo(x, top);
            ctx.lineTo(x, top + height);
            ctx.stroke();
            const w = ctx.measureText(m.label).width;
            if (x + 3 > lastRight + 6 * devicePixelRatio) {
              ctx.fillStyle = m.color;
              ctx.fillText(m.label, x + 3 * devicePixelRatio, top + 12 * devicePixelRatio);
              lastRight = x + 3 * devicePixelRatio + w;
            }
          }
          ctx.restore();
        },
      },
    };
  }

  const timeAxis = { space: 90, stroke: "#333", grid: { stroke: "#eee" }, ticks: { stroke: "#ccc" } };
  function chart(id, series, axes, scales, plugins, data) {
    const opts = {
      width: width(id),
      height: 300,
      tzDate: utc,
      cursor: { sync: { key: "urea-windows" }, drag: { x: true, y: false } },
      scales: Object.assign({ x: { time: true } }, scales),
      series: [{ label: "window (UTC)" }].concat(series),
      axes: [timeAxis].concat(axes),
      plugins: [wheelAndPan()].concat(plugins || []),
    };
    return new uPlot(opts, data, $(id));
  }

  let a2Chart = null, conversionChart = null, meterChart = null;
  let findings = { drifts: [], trends: [], meters: [] };

  function a2Marks() {
    return {
      lines: findings.drifts.map((d) => ({ x: seconds(d.time), color: "#a40000", label: "×" + number(d.ratio, 3) })),
      spans: findings.trends.map((t) => ({ from: seconds(t.start), to: seconds(t.end), color: "rgba(230, 140, 0, 0.15)" })),
    };
  }
  function meterMarks() {
    const name = $("meter-choice").value;
    return {
      lines: findings.meters.filter((m) => m.column === name).map((m) => ({ x: seconds(m.found), color: "#a40000", label: "biased " + number(m.bias * 100, 2) + " %" })),
      spans: findings.meters.filter((m) => m.column === name).map((m) => ({ from: seconds(m.start), to: seconds(m.end), color: "rgba(164, 0, 0, 0.08)" })),
    };
  }

  function column(name) { return state.windows.map((w) => (typeof w[name] === "number" ? w[name] : null)); }
  function meterData() {
    const name = $("meter-choice").value;
    const m = state.meterBias && state.meterBias.meters[name];
    const n = state.x.length;
    const pct = (a) => (a ? a.map((v) => (v === null ? null : v * 100)) : new Array(n).fill(null));
    return [state.x, pct(m && m.bias), pct(m && m.lower), pct(m && m.upper)];
  }

  function drawCharts() {
    const a2Data = [state.x, column("a2"), column("a2_profile95_lower"), column("a2_profile95_upper")];
    const convData = [state.x, column("co2_conversion_measured"), column("co2_conversion_predicted"),
      column("co2_conversion_equilibrium"), column("approach")];
    if (!a2Chart) {
      a2Chart = chart("a2-chart", [
        { label: "a2", stroke: "#1f5fa8", scale: "a2", width: 2, points: { show: true, size: 5 }, value: (u, v) => number(v) },
        { label: "95 % lower", stroke: "#7da7d9", scale: "a2", dash: [4, 3], value: (u, v) => number(v) },
        { label: "95 % upper", stroke: "#7da7d9", scale: "a2", dash: [4, 3], value: (u, v) => number(v) },
      ], [{ label: "a2", scale: "a2", size: 70, values: (u, vals) => vals.map((v) => number(v, 3)) }],
      { a2: {} }, [marksPlugin(a2Marks)], a2Data);
      conversionChart = chart("conversion-chart", [
        { label: "measured", stroke: "#1b1f24", width: 2, points: { show: true, size: 5 }, scale: "frac", value: (u, v) => number(v) },
        { label: "predicted", stroke: "#1f5fa8", width: 2, scale: "frac", value: (u, v) => number(v) },
        { label: "at equilibrium", stroke: "#2d6a2d", dash: [6, 3], scale: "frac", value: (u, v) => number(v) },
        { label: "approach", stroke: "#a05a00", scale: "approach", value: (u, v) => number(v) },
      ], [{ label: "conversion", scale: "frac", size: 60 }, { label: "approach", scale: "approach", side: 1, size: 60, grid: { show: false } }],
      { frac: {}, approach: {} }, [], convData);
      meterChart = chart("meter-chart", [
        { label: "bias, %", stroke: "#6a2d8f", width: 2, points: { show: true, size: 5 }, scale: "pct", value: (u, v) => number(v, 3) },
        { label: "95 % lower", stroke: "#b9a0cc", dash: [4, 3], scale: "pct", value: (u, v) => number(v, 3) },
        { label: "95 % upper", stroke: "#b9a0cc", dash: [4, 3], scale: "pct", value: (u, v) => number(v, 3) },
      ], [{ label: "% of reconciled", scale: "pct", size: 60 }], { pct: {} }, [marksPlugin(meterMarks)], meterData());
      state.charts = [a2Chart, conversionChart, meterChart];
      a2Chart.addBand({ series: [3, 2], fill: "rgba(31, 95, 168, 0.12)" });
      meterChart.addBand({ series: [3, 2], fill: "rgba(106, 45, 143, 0.12)" });
      window.addEventListener("resize", () => {
        for (const [c, id] of [[a2Chart, "a2-chart"], [conversionChart, "conversion-chart"], [meterChart, "meter-chart"]]) {
          c.setSize({ width: width(id), height: 300 });
        }
      });
      $("meter-choice").addEventListener("change", () => { meterChart.setData(meterData(), false); drawMeterSpans(); });
    } else {
      // New windows: drawn keeping the span the user zoomed to, unless the
      // whole history was in view.
      const whole = a2Chart.scales.x.max >= (state.previousLast ?? Infinity);
      a2Chart.setData(a2Data, whole);
      conversionChart.setData(convData, whole);
      meterChart.setData(meterData(), whole);
    }
    state.previousLast = state.x.length ? state.x[state.x.length - 1] : null;
  }

  // ---- Tables and lists ----
  function row(cells, cls) {
    const tr = el("tr", null, cls);
    for (const c of cells) {
      const td = el("td");
      if (c instanceof Node) td.appendChild(c); else td.textContent = c === null || c === undefined ? "–" : String(c);
      tr.appendChild(td);
    }
    return tr;
  }
  function drawAlerts(alerts) {
    const body = $("alerts").tBodies[0];
    clear(body);
    const order = { firing: 0, pending: 1, resolved: 2 };
    const sorted = alerts.slice().sort((a, b) => (order[a.state] - order[b.state]) || (b.id - a.id));
    for (const a of sorted) {
      body.appendChild(row([a.state, a.kind, a.subject, a.since, a.fired, a.resolved, a.summary,
        el("pre", JSON.stringify(a.evidence, null, 1))], a.state));
    }
    if (!alerts.length) body.appendChild(row(["none", "", "", "", "", "", "no alert raised", ""]));
  }
  function drawDrifts() {
    const ul = $("drifts");
    clear(ul);
    for (const d of findings.drifts) {
      ul.appendChild(el("li", `${d.time}: a2 changed ×${number(d.ratio, 3)} (95 % ${number(d.ratio95[0], 3)} to ${number(d.ratio95[1], 3)}, p = ${number(d.p_value, 2)})`));
    }
    for (const t of findings.trends) {
      ul.appendChild(el("li", `${t.start} to ${t.end}: a2 trending ${number(t.rate_per_day, 3)} a day over ${t.windows} windows (${number(t.from, 3)} to ${number(t.to, 3)})`));
    }
    if (!ul.firstChild) ul.appendChild(el("li", "none found"));
  }
  function drawMeterSpans() {
    const body = $("meter-spans").tBodies[0];
    clear(body);
    for (const m of findings.meters) {
      body.appendChild(row([m.column, m.start, m.end, m.windows, number(m.bias * 100, 3) + " %",
        number(m.bias95[0] * 100, 3) + " to " + number(m.bias95[1] * 100, 3) + " %"]));
    }
    if (!findings.meters.length) body.appendChild(row(["none biased", "", "", "", "", ""]));
  }
  function drawMeterChoice() {
    const select = $("meter-choice");
    const names = state.meterBias ? Object.keys(state.meterBias.meters) : [];
    if (names.join("\n") === state.meters.join("\n")) return;
    const keep = select.value;
    clear(select);
    for (const n of names) {
      const o = el("option", n);
      o.value = n;
      select.appendChild(o);
    }
    const biased = findings.meters.length ? findings.meters[0].column : null;
    select.value = names.includes(keep) ? keep : (names.includes(biased) ? biased : names[0] || "");
    state.meters = names;
  }
  function drawScreening(screening) {
    const body = $("screening").tBodies[0];
    clear(body);
    for (const c of screening) {
      body.appendChild(row([c.column, c.values, c.missing, (c.stagnant || []).length, c.out_of_range, c.spikes]));
    }
    if (!body.firstChild) body.appendChild(row(["none", "", "", "", "", ""]));
  }
  function drawProvenance(reads) {
    const ul = $("provenance");
    clear(ul);
    for (const r of reads.slice(-50).reverse()) {
      ul.appendChild(el("li", `pass ${r.pass}: ${r.name}, lines ${r.first_line}..${r.last_line}, ${r.rows} rows (${r.first_time ?? "–"} to ${r.last_time ?? "–"}), SHA-256 ${r.sha256}`));
    }
    if (reads.length > 50) ul.appendChild(el("li", `and ${reads.length - 50} earlier reads`));
  }
  function definitions(target, pairs) {
    const dl = el("dl");
    for (const [k, v] of pairs) {
      dl.appendChild(el("dt", k));
      dl.appendChild(el("dd", v === null || v === undefined ? "–" : v));
    }
    target.appendChild(dl);
  }
  function drawStatus(s) {
    $("store-name").textContent = `${s.store.name} (${s.store.kind})`;
    const status = $("status");
    const latest = s.latest_window;
    const span = latest ? (seconds(latest.end) - seconds(latest.start)) : null;
    const stale = s.data_age_s !== null && span !== null && s.data_age_s > 2 * span;
    status.textContent = `${s.passes} passes, the last ${s.last_pass ?? "–"}; last row ${s.last_row ?? "–"}, ${ago(s.data_age_s)} ago` +
      (stale ? " — no new data for more than two windows" : "") + `; ${s.windows} windows; alerts: ${s.alerts.firing} firing, ${s.alerts.pending} pending`;
    status.className = stale ? "stale" : "";
    const dl = $("latest");
    clear(dl);
    const pairs = latest ? [["window", `${latest.start} to ${latest.end}`], ["rows", latest.rows], ["lab samples", latest.lab_samples],
      ["steady", latest.steady ? "yes" : "no"], ["fitted", latest.fitted ? "yes" : "no"], ["flags", latest.flags], ["reason", latest.reason],
      ["a2", `${number(latest.a2)} (95 % ${number(latest.a2_profile95_lower)} to ${number(latest.a2_profile95_upper)})`],
      ["conversion measured", number(latest.co2_conversion_measured)], ["predicted", number(latest.co2_conversion_predicted)],
      ["at equilibrium", number(latest.co2_conversion_equilibrium)], ["approach", number(latest.approach)],
      ["data age", ago(s.data_age_s)]] : [["window", "none followed yet"]];
    for (const [k, v] of pairs) {
      dl.appendChild(el("dt", k));
      dl.appendChild(el("dd", v === null || v === undefined ? "–" : v));
    }
  }

  async function showDetail(i) {
    const w = state.windows[i];
    if (!w) return;
    const target = $("detail");
    $("detail-hint").textContent = `Window ${w.start} to ${w.end}`;
    try {
      const d = await api("/api/v1/windows/detail?start=" + encodeURIComponent(w.start));
      clear(target);
      definitions(target, [["rows", d.rows], ["lab samples", d.lab_samples], ["steady", d.steady ? "yes" : "no"],
        ["fitted", d.fitted ? "yes" : "no"], ["flags", (d.flags || []).join("; ")], ["reason", d.reason],
        ["a2", `${number(d.a2.value)} (95 % ${number(d.a2.profile95[0])} to ${number(d.a2.profile95[1])})`],
        ["conversion", `measured ${number(d.conversion.measured)}, predicted ${number(d.conversion.predicted)}, at equilibrium ${number(d.conversion.equilibrium)}`],
        ["approach", number(d.approach)],
        ["balance test", d.balance.tested ? `p = ${number(d.balance.p_value, 3)}, chi-square ${number(d.balance.chi_square)} on ${d.balance.dof} degrees of freedom` : (d.balance.why_not || "not tested")],
        ["suspect", d.balance.suspect ? `${d.balance.suspect} (error ${number(d.balance.suspect_error)})` : null]]);
      if (d.balance.reconciled) {
        const table = el("table");
        const head = el("tr");
        for (const h of ["reading", "measured", "reconciled", "sigma"]) head.appendChild(el("th", h));
        table.appendChild(el("thead")).appendChild(head);
        const body = el("tbody");
        for (const [name, v] of Object.entries(d.balance.reconciled)) body.appendChild(row([name, number(v.measured), number(v.reconciled), number(v.sigma)]));
        table.appendChild(body);
        target.appendChild(table);
      }
    } catch (e) {
      clear(target);
      target.appendChild(el("p", "The window's detail could not be read: " + e.message, "refused"));
    }
  }

  // ---- Reading the store ----
  async function load(status) {
    const [windows, drifts, trends, meters, bias, alerts, screening, reads] = await Promise.all([
      allWindows(), api("/api/v1/drifts"), api("/api/v1/trends"), api("/api/v1/meters"), api("/api/v1/meters/bias"),
      api("/api/v1/alerts"), api("/api/v1/screening"), api("/api/v1/provenance")]);
    state.windows = windows;
    state.x = windows.map((w) => (seconds(w.start) + seconds(w.end)) / 2);
    state.meterBias = bias;
    findings = { drifts, trends, meters };
    drawMeterChoice();
    drawCharts();
    drawAlerts(alerts);
    drawDrifts();
    drawMeterSpans();
    drawScreening(screening);
    drawProvenance(reads);
    drawStatus(status);
    state.passes = status.passes;
    document.body.dataset.windows = String(windows.length);
    // When the page first had every panel drawn (bench/serve reads it).
    if (!performance.getEntriesByName("charts-drawn").length) performance.mark("charts-drawn");
  }

  async function poll() {
    try {
      const status = await api("/api/v1/status");
      if (status.passes !== state.passes) await load(status); else drawStatus(status);
    } catch (e) {
      const s = $("status");
      s.textContent = "The store cannot be read just now: " + e.message;
      s.className = "stale";
    } finally {
      setTimeout(poll, POLL_MS);
    }
  }
  poll();
})();
