"use strict";
// The channel count, the limits, the unit and every rule come from the server,
// which has them from the library; this page shows and asks, nothing more.
let rowsBuilt = false;
let token = sessionStorage.getItem("varek-token") || "";
// What the last action and the last refresh failed with: an action's error
// stays until the next action, a refresh's until a refresh succeeds.
let actionError = "", refreshError = "";
// The trigger mode as set when the menu was last brought in line with it,
// so that a refresh never overrides a choice being made.
let shownMode;

function showErrors() {
  document.getElementById("error").textContent = [actionError, refreshError].filter(Boolean).join(" | ");
}

function notice(text) {
  document.getElementById("notice").textContent = text;
}

// `body` goes as JSON, or as it is when it is already text (a setup file).
async function api(method, path, body) {
  const headers = {};
  if (body !== undefined) headers["Content-Type"] = "application/json";
  if (token) headers["Authorization"] = "Bearer " + token;
  const payload = body === undefined ? undefined : typeof body === "string" ? body : JSON.stringify(body);
  let response;
  try {
    response = await fetch("/api/v1/" + path, {method, headers, body: payload});
  } catch (failure) {
    throw new Error("the server does not answer: is varek-server still running?");
  }
  const answer = await response.json().catch(() => ({error: "the server sent no JSON (HTTP " + response.status + ")"}));
  // Failures are told apart by their outcome's name, as the API documents them.
  if (answer.outcome === "unauthorized") document.getElementById("token-box").style.display = "block";
  if (!response.ok) {
    const failure = new Error(answer.error || ("HTTP " + response.status));
    failure.outcome = answer.outcome;
    if (answer.outcome === "setup_differs") failure.differences = answer.differences;
    throw failure;
  }
  return answer;
}

function asSet(value) {
  return value === null || value === undefined ? "unknown" : value === true ? "on" : value === false ? "off" : String(value);
}

function buildControls(instrument) {
  const limits = instrument.limits;
  const mode = document.getElementById("mode");
  for (let m = 0; m < limits.trigger_mode_count; ++m) mode.appendChild(new Option(String(m), String(m)));
  const frequency = document.getElementById("frequency-input");
  frequency.min = String(limits.min_trigger_freq);
  frequency.max = String(limits.max_trigger_freq);
  const body = document.getElementById("channels");
  const raw = document.getElementById("raw-channels");
  // With a declared unit a time such as 12.5us is accepted; the server checks it.
  const placeholder = instrument.unit ? "units, or 12.5us" : "units";
  for (let c = 1; c <= instrument.channel_count; ++c) {
    const row = document.createElement("tr");
    row.id = "channel-" + c;
    row.innerHTML = "<td>" + c + "</td>" +
      "<td><input type='text' inputmode='decimal' class='delay' placeholder='" + placeholder + "' aria-label='channel " + c + " delay'></td>" +
      "<td><input type='text' inputmode='decimal' class='width' placeholder='" + placeholder + "' aria-label='channel " + c + " pulse width'></td>" +
      "<td><select class='enabled'><option value=''>keep</option><option value='true'>on</option>" +
      "<option value='false'>off</option></select></td>" +
      "<td><button class='apply'>Set</button></td><td class='now'></td><td class='output-as-set'></td>";
    row.querySelector(".apply").addEventListener("click", () => applyChannel(c, row));
    body.appendChild(row);
    const rawRow = document.createElement("tr");
    rawRow.id = "raw-channel-" + c;
    rawRow.innerHTML = "<td>" + c + "</td><td class='value-a'></td><td class='value-b'></td>";
    raw.appendChild(rawRow);
  }
  rowsBuilt = true;
}

// A typed value: a whole number goes as a number, anything else as text for
// the server to read in the declared unit (and to refuse, naming why).
function typedValue(text) {
  const trimmed = text.trim();
  return /^\d+$/.test(trimmed) ? Number(trimmed) : trimmed;
}

async function applyChannel(channel, row) {
  const fields = {};
  const delay = row.querySelector(".delay").value;
  const width = row.querySelector(".width").value;
  const enabled = row.querySelector(".enabled").value;
  if (delay.trim() !== "") fields.delay = typedValue(delay);
  if (width.trim() !== "") fields.pulse_width = typedValue(width);
  if (enabled !== "") fields.enabled = enabled === "true";
  if (Object.keys(fields).length === 0) {
    actionError = "channel " + channel + ": enter a delay, a width or an output state";
    showErrors();
    return;
  }
  // What was typed stays when it fails, so that it can be mended.
  const ok = await act(() => api("PUT", "channels/" + channel, fields), "channel " + channel);
  if (ok) {
    row.querySelector(".delay").value = "";
    row.querySelector(".width").value = "";
    row.querySelector(".enabled").value = "";
  }
}

async function act(action, what) {
  let ok = false;
  try { await action(); actionError = ""; ok = true; } catch (failure) { actionError = (what ? what + ": " : "") + failure.message; }
  showErrors();
  await refresh();
  return ok;
}

// A round step for about eight ticks: 1, 2 or 5 times a power of ten, never
// below one unit.
function niceStep(span) {
  const raw = Math.max(1, span / 8);
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  for (const factor of [1, 2, 5, 10]) if (raw <= factor * power) return Math.max(1, factor * power);
  return 10 * power;
}

function svgElement(name, attributes, text) {
  const element = document.createElementNS("http://www.w3.org/2000/svg", name);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
  if (text !== undefined) element.textContent = text;
  return element;
}

let lastInstrument;

function drawDiagram(instrument) {
  const channels = instrument.channels;
  const svg = document.getElementById("diagram");
  svg.replaceChildren();
  const width = Math.max(300, svg.getBoundingClientRect().width);
  const left = 80, right = width - 20, top = 20, rowHeight = 30;
  const end = Math.max(1, ...channels.map(ch => ch.delay + ch.pulse_width));
  const step = niceStep(end);
  const ticks = Math.ceil(end / step);
  const span = ticks * step;
  const x = value => left + (right - left) * value / span;
  const bottom = top + rowHeight * channels.length;
  for (let i = 0; i <= ticks; ++i) {
    const t = i * step;
    svg.appendChild(svgElement("line", {class: "tick", x1: x(t), x2: x(t), y1: top - 5, y2: bottom}));
    svg.appendChild(svgElement("text", {class: "label", x: x(t), y: bottom + 16, "text-anchor": "middle"}, String(t)));
  }
  const caption = instrument.unit ? "time, in units of " + instrument.unit : "time, in the instrument's units";
  svg.appendChild(svgElement("text", {class: "label", x: right, y: bottom + 32, "text-anchor": "end"}, caption));
  channels.forEach((ch, i) => {
    const base = top + rowHeight * i + rowHeight - 6;
    svg.appendChild(svgElement("text", {class: "label", x: 8, y: base}, "channel " + ch.channel));
    svg.appendChild(svgElement("line", {class: "row-line", x1: left, x2: right, y1: base, y2: base}));
    if (ch.pulse_width === 0) {
      svg.appendChild(svgElement("text", {class: "label no-pulse", x: x(ch.delay) + 4, y: base - 4}, "no pulse"));
      return;
    }
    const pulse = svgElement("rect", {class: "pulse", x: x(ch.delay), y: base - rowHeight + 12,
      width: Math.max(1, x(ch.delay + ch.pulse_width) - x(ch.delay)), height: rowHeight - 12});
    pulse.appendChild(svgElement("title", {}, "channel " + ch.channel + ": delay " + ch.delay + ", width " + ch.pulse_width));
    svg.appendChild(pulse);
  });
}

// The temperature of the last ten minutes, as the server read it: a line
// scaled to its own range, with that range written beside it.
function drawTemperature(history) {
  const svg = document.getElementById("temperature-chart");
  svg.replaceChildren();
  if (history.length === 0) return;
  const width = Math.max(200, svg.getBoundingClientRect().width), height = 60, left = 110, right = width - 10;
  const now = history[history.length - 1][0], span = 600;
  const values = history.map(h => h[1]);
  const low = Math.min(...values), high = Math.max(...values);
  const range = Math.max(high - low, 0.5);
  const x = t => left + (right - left) * (1 - (now - t) / span);
  const y = v => height - 8 - (height - 16) * (v - low) / range;
  const points = history.map(([t, v]) => x(t).toFixed(1) + "," + y(v).toFixed(1)).join(" ");
  svg.appendChild(svgElement("polyline", {class: "temperature-line", points}));
  svg.appendChild(svgElement("text", {class: "label", x: 4, y: 14}, high.toFixed(2) + " °C"));
  svg.appendChild(svgElement("text", {class: "label", x: 4, y: height - 4}, low.toFixed(2) + " °C"));
  svg.appendChild(svgElement("text", {class: "label", x: 4, y: height / 2 + 4}, "last 10 min"));
}

function show(instrument) {
  if (!rowsBuilt) buildControls(instrument);
  lastInstrument = instrument;
  document.getElementById("port").textContent = "on " + instrument.port;
  document.getElementById("temperature").textContent = instrument.temperature === null ? "?" : instrument.temperature.toFixed(2);
  document.getElementById("frequency").textContent = instrument.internal_trigger_freq === null ? "?" : String(instrument.internal_trigger_freq);
  document.getElementById("mode-as-set").textContent = asSet(instrument.trigger_mode);
  document.getElementById("global").textContent = asSet(instrument.global_output);
  document.getElementById("unit-box").style.display = instrument.unit ? "" : "none";
  document.getElementById("unit").textContent = instrument.unit || "";
  const mode = instrument.trigger_mode === null ? "" : String(instrument.trigger_mode);
  if (mode !== shownMode) {
    document.getElementById("mode").value = mode;
    shownMode = mode;
  }
  const drift = {};
  for (const d of instrument.drift) drift[d.field] = d;
  for (const ch of instrument.channels) {
    const row = document.getElementById("channel-" + ch.channel);
    const delay = ch.delay_time || String(ch.delay), width = ch.pulse_width_time || String(ch.pulse_width);
    const drifted = ["delay", "pulse_width"].map(f => drift["channels." + ch.channel + "." + f]).filter(Boolean);
    row.querySelector(".now").textContent = "delay " + delay + ", width " + width +
      drifted.map(d => "; drift: " + d.field.split(".")[2] + " set " + d.set + ", reads " + d.read).join("");
    row.classList.toggle("drift", drifted.length > 0);
    row.querySelector(".output-as-set").textContent = asSet(ch.output);
    document.querySelector("#raw-channel-" + ch.channel + " .value-a").textContent = String(ch.value_a);
    document.querySelector("#raw-channel-" + ch.channel + " .value-b").textContent = String(ch.value_b);
  }
  const frequencyDrift = drift["trigger.frequency"];
  document.getElementById("frequency").classList.toggle("drift", Boolean(frequencyDrift));
  if (frequencyDrift) document.getElementById("frequency").textContent += " (set " + frequencyDrift.set + ")";
  document.getElementById("registers").textContent = ["reg128", "reg130", "reg131", "reg136", "reg137", "reg138"]
    .map(name => name + " " + instrument[name]).join("   ");
  drawDiagram(instrument);
  drawTemperature(instrument.temperature_history);
}

async function refresh() {
  try { show(await api("GET", "instrument")); refreshError = ""; } catch (failure) { refreshError = failure.message; }
  showErrors();
}

async function saveSetup() {
  const setup = await api("GET", "setup");
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([JSON.stringify(setup, null, 2) + "\n"], {type: "application/json"}));
  link.download = "varek-setup.json";
  document.body.appendChild(link);
  link.click();
  link.remove();
  notice("setup saved as varek-setup.json");
}

async function loadSetup(file) {
  const text = await file.text();
  try {
    await api("PUT", "setup", text);
    notice("setup " + file.name + " applied and read back");
  } catch (failure) {
    const differences = (failure.differences || []).map(d => d.field + " set " + d.set + ", reads " + d.read);
    throw new Error(file.name + ": " + [failure.message].concat(differences).join("; "));
  }
}

document.getElementById("mode-set").addEventListener("click", () => {
  const mode = document.getElementById("mode").value;
  if (mode === "") {
    actionError = "choose a trigger mode first: the instrument cannot say which one it is in";
    showErrors();
    return;
  }
  act(() => api("PUT", "trigger", {mode: Number(mode)}), "trigger mode");
});
document.getElementById("frequency-set").addEventListener("click", () => act(() => api("PUT", "trigger", {frequency: Number(document.getElementById("frequency-input").value)}), "frequency"));
document.getElementById("output-on").addEventListener("click", () => act(() => api("PUT", "output", {enabled: true}), "global output"));
document.getElementById("output-off").addEventListener("click", () => act(() => api("PUT", "output", {enabled: false}), "global output"));
document.getElementById("fire").addEventListener("click", () => act(async () => {
  await api("POST", "fire");
  notice("fired at " + new Date().toLocaleTimeString());
}, "fire"));
document.getElementById("setup-save").addEventListener("click", () => act(saveSetup, "save setup"));
document.getElementById("setup-file").addEventListener("change", event => {
  const file = event.target.files[0];
  if (file) act(() => loadSetup(file), "load setup").then(() => { event.target.value = ""; });
});
document.getElementById("token-save").addEventListener("click", () => {
  token = document.getElementById("token").value;
  sessionStorage.setItem("varek-token", token);
  document.getElementById("token-box").style.display = "none";
  refresh();
});
window.addEventListener("resize", () => { if (lastInstrument) drawDiagram(lastInstrument); });

refresh();
setInterval(refresh, 1000);
