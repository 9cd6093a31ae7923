"use strict";
// The channel count and the limits come from the server, which has them from the library.
let rowsBuilt = false;
let token = sessionStorage.getItem("varek-token") || "";
// What the last action and the last refresh failed with: an action's error
// stays until the next action, a refresh's until a refresh succeeds.
let actionError = "", refreshError = "";

function showErrors() {
  document.getElementById("error").textContent = [actionError, refreshError].filter(Boolean).join(" | ");
}

async function api(method, path, body) {
  const headers = {};
  if (body !== undefined) headers["Content-Type"] = "application/json";
  if (token) headers["Authorization"] = "Bearer " + token;
  let response;
  try {
    response = await fetch("/api/v1/" + path, {method, headers, body: body === undefined ? undefined : JSON.stringify(body)});
  } catch (failure) {
    throw new Error("the server does not answer: is varek-server still running?");
  }
  const answer = await response.json().catch(() => ({error: "the server sent no JSON (HTTP " + response.status + ")"}));
  if (response.status === 401) document.getElementById("token-box").style.display = "block";
  if (!response.ok) throw new Error(answer.error || ("HTTP " + response.status));
  return answer;
}

function buildControls(instrument) {
  const limits = instrument.limits;
  const mode = document.getElementById("mode");
  for (let m = 0; m < limits.trigger_mode_count; ++m) mode.appendChild(new Option(String(m), String(m)));
  const frequency = document.getElementById("frequency-input");
  frequency.min = String(limits.min_trigger_freq);
  frequency.max = String(limits.max_trigger_freq);
  const body = document.getElementById("channels");
  const largest = String(limits.max_timing_value);
  for (let c = 1; c <= instrument.channel_count; ++c) {
    const row = document.createElement("tr");
    row.id = "channel-" + c;
    row.innerHTML = "<td>" + c + "</td>" +
      "<td><input type='number' min='0' max='" + largest + "' step='1' class='delay' aria-label='channel " + c + " delay'></td>" +
      "<td><input type='number' min='0' max='" + largest + "' step='1' class='width' aria-label='channel " + c + " pulse width'></td>" +
      "<td><select class='enabled'><option value=''>unchanged</option><option value='true'>on</option>" +
      "<option value='false'>off</option></select></td>" +
      "<td><button class='apply'>Set</button> <span class='now'></span></td>";
    row.querySelector(".apply").addEventListener("click", () => applyChannel(c, row));
    body.appendChild(row);
  }
  rowsBuilt = true;
}

async function applyChannel(channel, row) {
  const fields = {};
  const delay = row.querySelector(".delay").value;
  const width = row.querySelector(".width").value;
  const enabled = row.querySelector(".enabled").value;
  if (delay !== "") fields.delay = Number(delay);
  if (width !== "") fields.pulse_width = Number(width);
  if (enabled !== "") fields.enabled = enabled === "true";
  if (Object.keys(fields).length === 0) {
    actionError = "channel " + channel + ": enter a delay, a width or an output state";
    showErrors();
    return;
  }
  await act(() => api("PUT", "channels/" + channel, fields));
  row.querySelector(".delay").value = "";
  row.querySelector(".width").value = "";
}

async function act(action) {
  try { await action(); actionError = ""; } catch (failure) { actionError = failure.message; }
  showErrors();
  await refresh();
}

function niceStep(span) {
  const raw = span / 8;
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  for (const factor of [1, 2, 5, 10]) if (raw <= factor * power) return factor * power;
  return 10 * power;
}

function svgElement(name, attributes, text) {
  const element = document.createElementNS("http://www.w3.org/2000/svg", name);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
  if (text !== undefined) element.textContent = text;
  return element;
}

function drawDiagram(channels) {
  const svg = document.getElementById("diagram");
  while (svg.firstChild) svg.removeChild(svg.firstChild);
  const left = 80, right = 880, top = 20, rowHeight = 30;
  const end = Math.max(1, ...channels.map(ch => ch.delay + ch.pulse_width));
  const step = niceStep(end);
  const span = Math.ceil(end / step) * step;
  const x = value => left + (right - left) * value / span;
  const bottom = top + rowHeight * channels.length;
  for (let t = 0; t <= span + step / 2; t += step) {
    svg.appendChild(svgElement("line", {class: "tick", x1: x(t), x2: x(t), y1: top - 5, y2: bottom}));
    svg.appendChild(svgElement("text", {class: "label", x: x(t), y: bottom + 16, "text-anchor": "middle"}, String(t)));
  }
  svg.appendChild(svgElement("text", {class: "label", x: right, y: bottom + 32, "text-anchor": "end"}, "time, in the instrument's units"));
  channels.forEach((ch, i) => {
    const base = top + rowHeight * i + rowHeight - 6;
    svg.appendChild(svgElement("text", {class: "label", x: 8, y: base}, "channel " + ch.channel));
    svg.appendChild(svgElement("line", {class: "row-line", x1: left, x2: right, y1: base, y2: base}));
    const pulse = svgElement("rect", {class: "pulse", x: x(ch.delay), y: base - rowHeight + 12,
      width: Math.max(1, x(ch.delay + ch.pulse_width) - x(ch.delay)), height: rowHeight - 12});
    pulse.appendChild(svgElement("title", {}, "channel " + ch.channel + ": delay " + ch.delay + ", width " + ch.pulse_width));
    svg.appendChild(pulse);
  });
}

function show(instrument) {
  if (!rowsBuilt) buildControls(instrument);
  document.getElementById("port").textContent = "on " + instrument.port;
  document.getElementById("temperature").textContent = instrument.temperature === null ? "?" : instrument.temperature.toFixed(2);
  document.getElementById("frequency").textContent = instrument.internal_trigger_freq === null ? "?" : String(instrument.internal_trigger_freq);
  document.getElementById("trigger").textContent = String(instrument.reg130);
  document.getElementById("global").textContent = instrument.reg131 ? "on" : "off";
  for (const ch of instrument.channels) {
    document.querySelector("#channel-" + ch.channel + " .now").textContent = "now: delay " + ch.delay + ", width " + ch.pulse_width;
  }
  drawDiagram(instrument.channels);
}

async function refresh() {
  try { show(await api("GET", "instrument")); refreshError = ""; } catch (failure) { refreshError = failure.message; }
  showErrors();
}

document.getElementById("mode-set").addEventListener("click", () => act(() => api("PUT", "trigger", {mode: Number(document.getElementById("mode").value)})));
document.getElementById("frequency-set").addEventListener("click", () => act(() => api("PUT", "trigger", {frequency: Number(document.getElementById("frequency-input").value)})));
document.getElementById("output-on").addEventListener("click", () => act(() => api("PUT", "output", {enabled: true})));
document.getElementById("output-off").addEventListener("click", () => act(() => api("PUT", "output", {enabled: false})));
document.getElementById("fire").addEventListener("click", () => act(() => api("POST", "fire")));
document.getElementById("token-save").addEventListener("click", () => {
  token = document.getElementById("token").value;
  sessionStorage.setItem("varek-token", token);
  document.getElementById("token-box").style.display = "none";
  refresh();
});

refresh();
setInterval(refresh, 1000);
