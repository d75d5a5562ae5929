// The station's page: the status once a second, the live values from the event stream, a
// trend per gauge from the value history, the activity log's last lines.
"use strict";

const TEXTS = {
  en: {
    gauges: "Gauges", ports: "Ports", listeners: "Value listeners", log: "Activity log",
    download: "Download the value history (CSV)", version: "version", frontEnd: "front end",
    uptime: "up", mode: "serving", slot: "served slot", live: "live", lost: "connection lost",
    valid: "valid", "out of range": "out of range", "no value": "no value",
    "no answer": "no answer", simulated: "simulated", real: "real", unknown: "unknown",
    age: "reading age", path: "path", network: "network", holder: "held by", free: "free",
    since: "since", bytes: "bytes in / out", commands: "commands / answers",
    lastCommand: "last command", lastAnswer: "last answer", history: "value history",
    mqtt: "MQTT", off: "off", noHistory: "trend: the value history is off", file: "file",
    size: "size", logOff: "the log is off", single: "one port", "every-port": "every port",
    "served-slot": "the served port", listening: "listening", notListening: "not listening",
    minutes10: "10 min", hour1: "1 h", hours8: "8 h", noPoints: "no values in this span",
  },
  de: {
    gauges: "Messmittel", ports: "Schnittstellen", listeners: "Werte-Empfänger",
    log: "Protokoll", download: "Messwert-Verlauf herunterladen (CSV)", version: "Version",
    frontEnd: "Oberfläche", uptime: "läuft seit", mode: "Betrieb", slot: "bediente Schnittstelle",
    live: "verbunden", lost: "Verbindung verloren", valid: "gültig",
    "out of range": "außerhalb des Bereichs", "no value": "kein Wert",
    "no answer": "keine Antwort", simulated: "simuliert", real: "echt", unknown: "unbekannt",
    age: "Alter des Werts", path: "Pfad", network: "Netzwerk", holder: "belegt von",
    free: "frei", since: "seit", bytes: "Bytes ein / aus", commands: "Befehle / Antworten",
    lastCommand: "letzter Befehl", lastAnswer: "letzte Antwort", history: "Messwert-Verlauf",
    mqtt: "MQTT", off: "aus", noHistory: "Verlauf: der Messwert-Verlauf ist aus", file: "Datei",
    size: "Größe", logOff: "das Protokoll ist aus", single: "eine Schnittstelle",
    "every-port": "jede Schnittstelle", "served-slot": "die bediente Schnittstelle",
    listening: "empfangsbereit", notListening: "nicht empfangsbereit", minutes10: "10 min",
    hour1: "1 h", hours8: "8 h", noPoints: "keine Werte in dieser Spanne",
  },
  fr: {
    gauges: "Instruments", ports: "Ports", listeners: "Récepteurs des valeurs",
    log: "Journal", download: "Télécharger l'historique des valeurs (CSV)", version: "version",
    frontEnd: "interface", uptime: "en marche depuis", mode: "service", slot: "port servi",
    live: "connecté", lost: "connexion perdue", valid: "valide",
    "out of range": "hors plage", "no value": "pas de valeur", "no answer": "pas de réponse",
    simulated: "simulé", real: "réel", unknown: "inconnu", age: "âge de la mesure",
    path: "chemin", network: "réseau", holder: "occupé par", free: "libre", since: "depuis",
    bytes: "octets reçus / envoyés", commands: "commandes / réponses",
    lastCommand: "dernière commande", lastAnswer: "dernière réponse",
    history: "historique des valeurs", mqtt: "MQTT", off: "arrêté",
    noHistory: "tendance : l'historique des valeurs est arrêté", file: "fichier",
    size: "taille", logOff: "le journal est arrêté", single: "un port",
    "every-port": "chaque port", "served-slot": "le port servi", listening: "à l'écoute",
    notListening: "pas à l'écoute", minutes10: "10 min", hour1: "1 h", hours8: "8 h",
    noPoints: "aucune valeur dans cette période",
  },
};
const T = TEXTS[document.documentElement.lang] || TEXTS.en;
const SVG = "http://www.w3.org/2000/svg";
const RANGES = [["minutes10", 600], ["hour1", 3600], ["hours8", 28800]];
const MAX_POINTS = 2000;

let range = 600;
let historyOn = false;
const gauges = new Map();  // input "D.A" -> {card, value, badge, meta, svg, points}

function make(tag, className, text) {
  const element = document.createElement(tag);
  if (className) element.className = className;
  if (text !== undefined) element.textContent = text;
  return element;
}

function duration(seconds) {
  const h = Math.floor(seconds / 3600), m = Math.floor((seconds % 3600) / 60), s = seconds % 60;
  return (h > 0 ? h + " h " : "") + (h > 0 || m > 0 ? m + " min " : "") + s + " s";
}

function statusClass(status) { return status.replace(/[ _]/g, "-"); }

function statusWord(status) {
  // Events name the status as the history does (out_of_range), the status request in words.
  return status.replace(/_/g, " ");
}

function rows(table, pairs) {
  table.replaceChildren();
  for (const [name, value] of pairs) {
    const row = make("tr");
    row.append(make("td", "", name), make("td"));
    row.lastChild.append(make("code", "", value === null || value === undefined ? "" : String(value)));
    table.append(row);
  }
}

function gaugeCard(gauge) {
  let g = gauges.get(gauge.input);
  if (g) return g;
  const card = make("div", "card gauge");
  card.id = "gauge-" + gauge.input;
  const title = make("h3");
  const name = make("span", "name", gauge.name || gauge.input);
  const badge = make("span", "badge");
  title.append(name, badge);
  const value = make("div", "value", "–");
  const meta = make("div", "small");
  const svg = document.createElementNS(SVG, "svg");
  svg.setAttribute("class", "trend");
  svg.setAttribute("viewBox", "0 0 300 120");
  svg.setAttribute("preserveAspectRatio", "none");
  card.append(title, value, meta, svg);
  document.getElementById("gauges").append(card);
  g = { card, name, value, badge, meta, svg, points: [] };
  gauges.set(gauge.input, g);
  loadTrend(gauge.input);
  return g;
}

function showValue(g, number, status) {
  g.value.textContent = number === null || number === undefined ? "–" : String(Number(number.toFixed(6)));
  const word = statusWord(status);
  g.badge.textContent = T[word] || word;
  g.badge.className = "badge " + statusClass(word);
}

function drawTrend(input) {
  const g = gauges.get(input);
  if (!g) return;
  const now = Date.now();
  const from = now - range * 1000;
  const points = g.points.filter((p) => p[0] >= from && Number.isFinite(p[1]));
  g.svg.replaceChildren();
  const frame = document.createElementNS(SVG, "rect");
  frame.setAttribute("class", "frame");
  frame.setAttribute("x", "0");
  frame.setAttribute("y", "0");
  frame.setAttribute("width", "300");
  frame.setAttribute("height", "120");
  g.svg.append(frame);
  const label = document.createElementNS(SVG, "text");
  label.setAttribute("class", "label");
  label.setAttribute("x", "4");
  label.setAttribute("y", "12");
  if (!historyOn && points.length === 0) {
    label.textContent = T.noHistory;
    g.svg.append(label);
    return;
  }
  if (points.length === 0) {
    label.textContent = T.noPoints;
    g.svg.append(label);
    return;
  }
  let low = Math.min(...points.map((p) => p[1])), high = Math.max(...points.map((p) => p[1]));
  if (high === low) { high += 1; low -= 1; }
  const x = (t) => ((t - from) / (now - from)) * 296 + 2;
  const y = (v) => 112 - ((v - low) / (high - low)) * 96;
  let d = "";
  points.forEach((p, i) => { d += (i === 0 ? "M" : "L") + x(p[0]).toFixed(1) + " " + y(p[1]).toFixed(1); });
  // A single reading shows as a short level line.
  if (points.length === 1) d += "L" + (x(points[0][0]) + 3).toFixed(1) + " " + y(points[0][1]).toFixed(1);
  const path = document.createElementNS(SVG, "path");
  path.setAttribute("class", "line");
  path.setAttribute("d", d);
  label.textContent = low.toPrecision(6) + " … " + high.toPrecision(6);
  g.svg.append(path, label);
}

async function loadTrend(input) {
  const g = gauges.get(input);
  if (!g) return;
  if (!historyOn) { drawTrend(input); return; }
  const since = new Date(Date.now() - range * 1000).toISOString().replace(/\.\d+Z$/, "Z");
  try {
    const reply = await fetch("/api/values?gauge=" + encodeURIComponent(input) + "&since=" +
                              encodeURIComponent(since) + "&limit=" + MAX_POINTS);
    if (reply.ok) {
      const events = await reply.json();
      const live = g.points.filter((p) => p[2]);
      g.points = events.map((e) => [Date.parse(e.time), e.number, false]);
      const last = g.points.length ? g.points[g.points.length - 1][0] : 0;
      g.points.push(...live.filter((p) => p[0] > last));
    }
  } catch (error) { /* the next refresh tries again */ }
  drawTrend(input);
}

function showGauges(list) {
  for (const gauge of list) {
    const g = gaugeCard(gauge);
    g.name.textContent = gauge.name || gauge.input;
    showValue(g, gauge.value, gauge.status);
    const parts = [gauge.input, T[gauge.source] || gauge.source];
    if (gauge.age_ms !== null && gauge.age_ms !== undefined) parts.push(T.age + " " + (gauge.age_ms / 1000).toFixed(1) + " s");
    g.meta.textContent = parts.join(" · ");
  }
}

function holderText(client) {
  if (!client) return T.free;
  if (client.network) {
    return client.network + " (" + client.protocol + (client.tls ? ", TLS" : "") + ")" +
           (client.certificate ? " " + client.certificate : "");
  }
  if (client.pid !== null && client.pid !== undefined) return client.pid + " " + (client.program || "");
  return "?";
}

function showPorts(ports) {
  const box = document.getElementById("ports");
  box.replaceChildren();
  for (const port of ports) {
    const card = make("div", "card port");
    card.append(make("h3", "", port.name));
    const table = make("table");
    const network = port.network
      ? (port.network.listening ? port.network.address + ":" + port.network.port + " " + port.network.protocol +
         (port.network.tls ? " TLS" : "") : T.notListening + ": " + (port.network.error || ""))
      : "";
    const c = port.client;
    rows(table, [
      [T.path, port.path],
      [T.network, network],
      [T.holder, holderText(c)],
      [T.since, c ? c.since + " (" + duration(c.seconds) + ")" : ""],
      [T.bytes, c ? c.bytes_in + " / " + c.bytes_out : ""],
      [T.commands, c ? c.commands + " / " + c.answers : ""],
      [T.lastCommand, c ? c.last_command : ""],
      [T.lastAnswer, c ? c.last_answer : ""],
    ]);
    card.append(table);
    box.append(card);
  }
}

function showListeners(values) {
  const list = document.getElementById("listeners");
  list.replaceChildren();
  const h = values.history, m = values.mqtt;
  list.append(make("dt", "", T.history), make("dd", "", h
    ? (h.failing ? "failing" : "on") + " (queue " + h.queued + ", written " + h.written + ", dropped " + h.dropped + ")"
    : T.off));
  list.append(make("dt", "", T.mqtt), make("dd", "", m
    ? m.state + " (queue " + m.queued + ", published " + m.published + ", dropped " + m.dropped + ")"
    : T.off));
}

async function refreshStatus() {
  try {
    const reply = await fetch("/api/status");
    if (!reply.ok) return;
    const s = await reply.json();
    if (!s.version) return;
    document.getElementById("station").textContent = s.station || "Velk_VCP";
    document.title = (s.station || "") + " · Velk_VCP";
    const mode = s.serving || {};
    document.getElementById("program").textContent =
      "Velk_VCP " + T.version + " " + s.version + " · " + T.frontEnd + " " + s.front_end + " · " +
      T.uptime + " " + duration(s.uptime_s) + " · " + T.mode + " " + (T[mode.mode] || mode.mode) +
      " · " + T.slot + " " + mode.served_slot;
    const wasOn = historyOn;
    historyOn = !!(s.values && s.values.history);
    showGauges(s.gauges || []);
    showPorts(s.ports || []);
    showListeners(s.values || {});
    if (historyOn !== wasOn) for (const input of gauges.keys()) loadTrend(input);
  } catch (error) { /* shown as a lost connection by the event stream */ }
}

async function refreshLog() {
  try {
    const reply = await fetch("/api/log");
    if (!reply.ok) return;
    const log = await reply.json();
    document.getElementById("log-file").textContent = log.on || log.bytes !== null
      ? T.file + " " + log.file + " · " + T.size + " " + (log.bytes === null ? "–" : log.bytes + " B")
      : T.logOff;
    const lines = document.getElementById("log-lines");
    lines.textContent = log.lines.join("\n");
    lines.scrollTop = lines.scrollHeight;
  } catch (error) { /* tried again */ }
}

function listen() {
  const state = document.getElementById("connection");
  const events = new EventSource("/api/events");
  events.onopen = () => { state.textContent = T.live; state.className = "state live"; };
  events.onerror = () => { state.textContent = T.lost; state.className = "state lost"; };
  events.onmessage = (message) => {
    const e = JSON.parse(message.data);
    const g = gauges.get(e.gauge);
    if (!g) return;
    showValue(g, e.number, e.status);
    if (Number.isFinite(e.number)) {
      g.points.push([Date.parse(e.time), e.number, true]);
      if (g.points.length > MAX_POINTS * 2) g.points.splice(0, g.points.length - MAX_POINTS);
    }
    drawTrend(e.gauge);
  };
}

function start() {
  for (const element of document.querySelectorAll("[data-text]")) {
    element.textContent = T[element.dataset.text];
  }
  const ranges = document.getElementById("ranges");
  for (const [name, seconds] of RANGES) {
    const button = make("button", seconds === range ? "chosen" : "", T[name]);
    button.type = "button";
    button.addEventListener("click", () => {
      range = seconds;
      for (const other of ranges.children) other.className = other === button ? "chosen" : "";
      for (const input of gauges.keys()) loadTrend(input);
    });
    ranges.append(button);
  }
  refreshStatus();
  refreshLog();
  listen();
  setInterval(refreshStatus, 1000);
  setInterval(refreshLog, 5000);
  setInterval(() => { for (const input of gauges.keys()) drawTrend(input); }, 5000);
}

start();
