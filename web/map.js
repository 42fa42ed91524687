// Kestrelmap live map: draws the hunt the program serves and keeps it current over the
// WebSocket at /live. Everything from the network is checked before it reaches Leaflet or the
// page; a bad field is skipped, text is shown as text.
"use strict";

(function () {
  if (typeof L === "undefined") {
    const s = document.getElementById("km-status");
    if (s) s.textContent = "The map library did not load.";
    return;
  }

  // ---- Checking values --------------------------------------------------------------------
  const num = (v) => (typeof v === "number" && Number.isFinite(v) ? v : null);
  const text = (v) => (typeof v === "string" ? v : typeof v === "number" && Number.isFinite(v) ? String(v) : "");
  const colour = (v, dflt) => (typeof v === "string" && /^#[0-9a-fA-F]{6}$/.test(v) ? v : dflt);
  const isObj = (v) => v !== null && typeof v === "object" && !Array.isArray(v);
  const escapeHtml = (s) => text(s).replace(/[&<>"']/g, (c) => "&#" + c.charCodeAt(0) + ";");

  // [lon, lat] -> [lat, lon], or null when it is not a position.
  function position(c) {
    if (!Array.isArray(c) || c.length < 2) return null;
    const lon = num(c[0]), lat = num(c[1]);
    if (lon === null || lat === null || Math.abs(lat) > 90 || Math.abs(lon) > 540) return null;
    return [lat, lon];
  }
  function positions(list) {
    return Array.isArray(list) ? list.map(position).filter((p) => p !== null) : [];
  }
  // A LineString or MultiLineString as parts of 2+ points. Parts after the first are moved by
  // whole turns so that a line split at the antimeridian is drawn in one piece.
  function lineParts(g) {
    if (!isObj(g)) return [];
    const raw = g.type === "LineString" ? [g.coordinates] : g.type === "MultiLineString" && Array.isArray(g.coordinates) ? g.coordinates : [];
    const parts = raw.map(positions).filter((p) => p.length >= 2);
    for (let i = 1; i < parts.length; i++) {
      const prev = parts[i - 1][parts[i - 1].length - 1][1];
      const shift = Math.round((prev - parts[i][0][1]) / 360) * 360;
      if (shift !== 0) parts[i] = parts[i].map(([la, lo]) => [la, lo + shift]);
    }
    return parts;
  }
  function pointOf(g) {
    return isObj(g) && g.type === "Point" ? position(g.coordinates) : null;
  }

  // Stamps are MMDDYY_HHMMSS.
  function stampText(s) {
    const m = /^(\d\d)(\d\d)(\d\d)_(\d\d)(\d\d)(\d\d)$/.exec(text(s));
    return m ? `20${m[3]}-${m[1]}-${m[2]} ${m[4]}:${m[5]}:${m[6]}` : text(s) || "?";
  }
  function localTime(iso) {
    const d = new Date(text(iso));
    if (!text(iso) || Number.isNaN(d.getTime())) return text(iso) || "—";
    return d.toLocaleTimeString([], { hour: "2-digit", minute: "2-digit", second: "2-digit", hour12: false });
  }
  const deg = (v) => (num(v) === null ? "—" : `${String(Math.round(num(v))).padStart(3, "0")}°`);

  // ---- DOM helpers --------------------------------------------------------------------------
  function el(tag, cls, content) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (content !== undefined && content !== null) e.textContent = text(content);
    return e;
  }
  const SVG = "http://www.w3.org/2000/svg";
  function svg(tag, attrs, children) {
    const e = document.createElementNS(SVG, tag);
    for (const k of Object.keys(attrs)) e.setAttribute(k, attrs[k]);
    for (const c of children || []) e.appendChild(c);
    return e;
  }
  // A popup body: a title and rows of label/value, all as text.
  function infoTable(title, rows) {
    const box = el("div", "km-info");
    box.appendChild(el("div", "km-info-title", title));
    const table = el("table");
    for (const [k, v] of rows) {
      if (v === "" || v === null || v === undefined) continue;
      const tr = el("tr");
      tr.appendChild(el("th", "", k));
      tr.appendChild(el("td", "", v));
      table.appendChild(tr);
    }
    box.appendChild(table);
    return box;
  }
  const $ = (id) => document.getElementById(id);

  // A plot's verdict, and the same in words.
  const VERDICTS = ["used", "rejected", "excluded", "none"];
  const plotVerdict = (p) => (p.excluded === true ? "excluded" : VERDICTS.includes(p.verdict) ? p.verdict : "none");
  const VERDICT_WORDS = { used: "used in the fix", rejected: "left out as a wild bearing", excluded: "left out by hand", none: "no bearing" };
  // A bearing the estimate left out for how it was taken says so, not "wild".
  const LEFT_OUT_WORDS = { turning: "left out: taken while turning", "low confidence": "left out: the direction finder's confidence was low" };
  const verdictWords = (v, p) => (v === "rejected" && p && LEFT_OUT_WORDS[p.left_out_as]) || VERDICT_WORDS[v] || VERDICT_WORDS.none;
  const noteOf = (p) => (typeof p.note === "string" && p.note.trim() !== "" ? p.note : "");

  // The plot review card (review.js) listens here; the map works without it.
  const hooks = {};
  function notify(name, ...args) {
    const fn = hooks[name];
    if (typeof fn !== "function") return;
    try { fn(...args); } catch (e) { console.warn(`review ${name}:`, e); }
  }

  // ---- The map, its panes and controls ------------------------------------------------------
  const map = L.map("km-map", { center: [0, 0], zoom: 3, zoomControl: true, worldCopyJump: false });
  map.attributionControl.setPrefix(false);
  L.control.scale({ metric: true, imperial: true }).addTo(map);
  // Drawing order, bottom to top: ellipse, track, plot lines, live ray, then the markers.
  for (const [name, z] of [["kmEllipse", 380], ["kmTrack", 390], ["kmBearings", 400], ["kmLive", 450]]) {
    map.createPane(name).style.zIndex = String(z);
  }

  // A plain grid drawn here: a map background that needs no tiles.
  const GridLayer = L.GridLayer.extend({
    createTile(coords) {
      const size = this.getTileSize();
      const c = document.createElement("canvas");
      c.width = size.x; c.height = size.y;
      const g = c.getContext("2d");
      g.fillStyle = "#eef0ea"; g.fillRect(0, 0, size.x, size.y);
      g.strokeStyle = "#d3d8cc"; g.lineWidth = 1;
      for (let i = 0; i < size.x; i += size.x / 4) {
        g.beginPath(); g.moveTo(i + 0.5, 0); g.lineTo(i + 0.5, size.y); g.stroke();
        g.beginPath(); g.moveTo(0, i + 0.5); g.lineTo(size.x, i + 0.5); g.stroke();
      }
      g.strokeStyle = "#b4bbab"; g.strokeRect(0.5, 0.5, size.x, size.y);
      g.fillStyle = "#9aa391"; g.font = "11px sans-serif";
      g.fillText(`${coords.z}/${coords.x}/${coords.y}`, 6, 16);
      return c;
    },
  });
  const gridLayer = new GridLayer({ minZoom: 0, maxZoom: 22 });
  let layerControl = null, layersLoaded = false;

  function tileLayer(layerInfo, online) {
    if (!isObj(layerInfo) || !text(layerInfo.url)) return null;
    const url = text(layerInfo.url);
    if (!online && !url.startsWith("/tiles/")) return null;
    const opts = { maxZoom: 22, attribution: escapeHtml(layerInfo.attribution) };
    const minz = num(layerInfo.minzoom), maxz = num(layerInfo.maxzoom);
    opts.minZoom = minz !== null && minz >= 0 && minz <= 22 ? Math.floor(minz) : 0;
    opts.maxNativeZoom = maxz !== null && maxz >= opts.minZoom && maxz <= 22 ? Math.floor(maxz) : online ? 19 : 22;
    const b = Array.isArray(layerInfo.bounds) ? layerInfo.bounds.map(num) : null;
    if (b && b.length === 4 && !b.includes(null) && b[1] < b[3]) opts.bounds = L.latLngBounds([b[1], b[0]], [b[3], b[2]]);
    return L.tileLayer(url, opts);
  }
  // Without internet the online map only fails: once a few of its tiles have failed and none
  // has come, the grid stands in, so the hunter still sees a map under the lines.
  function fallBackToGrid(online) {
    let loaded = 0, failed = 0;
    online.on("tileload", () => { loaded++; });
    online.on("tileerror", () => {
      if (++failed === 4 && loaded === 0 && map.hasLayer(online)) {
        map.removeLayer(online);
        gridLayer.addTo(map);
      }
    });
  }
  function savedLayer() { try { return localStorage.getItem("km-base") || ""; } catch (e) { return ""; } }

  async function loadLayers() {
    const bases = [];
    try {
      const doc = await getJSON("/layers");
      const list = isObj(doc) && Array.isArray(doc.layers) ? doc.layers : [];
      for (const layerInfo of list) {
        const layer = tileLayer(layerInfo, false);
        if (layer) bases.push([text(layerInfo.name) || text(layerInfo.id) || "Layer", layer]);
      }
      const online = isObj(doc) ? tileLayer(doc.online, true) : null;
      if (online) {
        bases.push(["Online map", online]);
        fallBackToGrid(online);
      }
      layersLoaded = true;
    } catch (e) {
      console.warn("layers:", e);
    }
    bases.push(["Grid", gridLayer]);
    if (layerControl) layerControl.remove();
    map.eachLayer((l) => { if (l instanceof L.GridLayer) map.removeLayer(l); });
    const named = {};
    const seen = new Set();
    for (const [name, layer] of bases) {
      let n = name, i = 2;
      while (seen.has(n)) n = `${name} (${i++})`;
      seen.add(n);
      named[escapeHtml(n)] = layer;
      layer._kmName = n;
    }
    const first = bases.find(([, l]) => l._kmName === savedLayer()) || bases[0];
    first[1].addTo(map);
    layerControl = L.control.layers(named, null, { collapsed: true }).addTo(map);
  }
  map.on("baselayerchange", (e) => { try { localStorage.setItem("km-base", e.layer._kmName || ""); } catch (x) { /* private mode */ } });

  // ---- Drawing one feature ------------------------------------------------------------------
  // Each kind builds a fresh layer from its feature; a feature named again replaces its layer.
  const drawn = new Map(); // id -> { kind, layer }
  const hunt = { stamp: "", vectorColour: "#1f6fd1", night: false, live: true, token: "" };

  function divMarker(ll, cls, content, size, opts) {
    const icon = L.divIcon({ className: cls, html: content, iconSize: size, iconAnchor: [size[0] / 2, size[1] / 2] });
    return L.marker(ll, Object.assign({ icon }, opts || {}));
  }

  function drawCar(f, p) {
    const ll = pointOf(f.geometry);
    if (!ll) return null;
    const dir = num(p.heading) !== null ? num(p.heading) : num(p.course);
    const box = el("div", "km-car-body");
    if (dir === null) {
      box.appendChild(svg("svg", { viewBox: "0 0 32 32", width: "32", height: "32" }, [svg("circle", { cx: "16", cy: "16", r: "8" })]));
    } else {
      box.appendChild(svg("svg", { viewBox: "0 0 32 32", width: "32", height: "32" }, [svg("path", { d: "M16 2 L27 29 L16 22 L5 29 Z" })]));
      box.style.transform = `rotate(${dir}deg)`;
    }
    const m = divMarker(ll, "km-car" + (dir === null ? " km-car-nodir" : ""), box, [32, 32], { zIndexOffset: 1000 });
    const spd = num(p.speed_kn);
    m.bindTooltip(infoTable("This car", [["Course", deg(p.course)], ["Heading", deg(p.heading)], ["Speed", spd === null ? "—" : `${spd} kn`]]));
    return m;
  }

  function drawLine(f, p, cls, pane, style) {
    const parts = lineParts(f.geometry);
    if (!parts.length) return null;
    return L.polyline(parts, Object.assign({ className: cls, pane, interactive: true }, style));
  }

  function drawBearing(f, p) {
    // Left out by hand wins over left out as wild: it is the user's word.
    const excluded = p.excluded === true;
    const rejected = !excluded && p.rejected === true;
    const team = p.vehicle !== null && p.vehicle !== undefined && text(p.vehicle) !== "";
    const cls = "km-bearing" + (rejected ? " km-rejected" : "") + (excluded ? " km-excluded" : "") + (team ? " km-team" : "");
    const style = { color: colour(p.colour, hunt.vectorColour), weight: rejected ? 2 : 3, opacity: rejected ? 0.4 : 0.9 };
    if (rejected) style.dashArray = "6 8";
    if (excluded) Object.assign(style, { color: "#7d868f", weight: 1.5, opacity: 0.75, dashArray: "16 10" });
    const line = drawLine(f, p, cls, "kmBearings", style);
    if (line) {
      const verdict = excluded ? "excluded" : rejected ? "rejected" : "used";
      const rows = [["Bearing", deg(p.bearing)], ["Length", num(p.range_mi) === null ? "" : `${num(p.range_mi)} mi`], ["Vehicle", team ? text(p.vehicle) : "this car"], ["Used", verdictWords(verdict, p)], ["Note", noteOf(p)]];
      line.bindTooltip(infoTable(`Plot ${text(p.plot) || "?"}`, rows), { sticky: true });
    }
    return line;
  }

  // A plot's marker; a tap on it opens its card (review.js), the tooltip gives the gist.
  function drawPlot(f, p) {
    const ll = pointOf(f.geometry);
    if (!ll) return null;
    const verdict = plotVerdict(p);
    const team = text(p.vehicle) !== "";
    const note = noteOf(p);
    const box = el("div", "km-plot-body");
    box.appendChild(el("span", "km-plot-dot"));
    box.appendChild(el("span", "km-plot-label", text(p.plot) || "?"));
    if (note) box.appendChild(el("span", "km-plot-note"));
    const cls = `km-plot km-verdict-${verdict}` + (verdict === "excluded" ? " km-excluded" : "") + (team ? " km-team" : "") + (note ? " km-has-note" : "");
    const m = divMarker(ll, cls, box, [14, 14]);
    const title = `Plot ${text(p.plot) || "?"}` + (team ? ` (${text(p.vehicle)})` : "");
    const tip = el("div", "km-plot-tip");
    tip.appendChild(el("div", "", `${title} · ${localTime(p.utc)}`));
    if (verdict !== "used") tip.appendChild(el("div", "km-muted", verdictWords(verdict)));
    if (note) tip.appendChild(el("div", "km-tip-note", note));
    m.bindTooltip(tip, { direction: "top", offset: [0, -8] });
    return m;
  }

  function drawEstimate(f, p) {
    const ll = pointOf(f.geometry);
    if (!ll) return null;
    const provisional = p.provisional === true;
    const mark = svg("svg", { viewBox: "0 0 44 44", width: "44", height: "44" }, [
      svg("circle", { class: "km-est-halo", cx: "22", cy: "22", r: "13" }),
      svg("circle", { class: "km-est-ring", cx: "22", cy: "22", r: "13" }),
      svg("path", { class: "km-est-halo", d: "M22 2V14M22 30V42M2 22H14M30 22H42" }),
      svg("path", { class: "km-est-cross", d: "M22 2V14M22 30V42M2 22H14M30 22H42" }),
      svg("circle", { class: "km-est-centre", cx: "22", cy: "22", r: "2.5" }),
    ]);
    const m = divMarker(ll, "km-estimate" + (provisional ? " km-provisional" : ""), mark, [44, 44], { zIndexOffset: 900 });
    const metres = (v) => (num(v) === null ? "" : `${Math.round(num(v))} m`);
    m.bindPopup(() => infoTable(provisional ? "Fix (provisional)" : "Fix", [
      ["Status", text(p.status)], ["Lat, lon", `${ll[0].toFixed(5)}, ${ll[1].toFixed(5)}`],
      ["Plots used", num(p.used) === null ? "" : `${num(p.used)} of ${num(p.plots) === null ? "?" : num(p.plots)}`],
      ["95% ellipse", num(p.semi_major_m) === null ? "" : `${metres(p.semi_major_m)} × ${metres(p.semi_minor_m) || "?"}, axis ${deg(p.major_azimuth_deg)}`],
      ["CEP 50%", metres(p.cep50_m)],
    ]));
    return m;
  }

  function drawEllipse(f) {
    const g = f.geometry;
    if (!isObj(g) || g.type !== "Polygon" || !Array.isArray(g.coordinates)) return null;
    const rings = g.coordinates.map(positions).filter((r) => r.length >= 3);
    if (!rings.length) return null;
    return L.polygon(rings, { className: "km-ellipse", pane: "kmEllipse", color: "#d4006a", weight: 2, fillOpacity: 0.12, interactive: false });
  }

  function drawVehicle(f, p) {
    const ll = pointOf(f.geometry);
    if (!ll) return null;
    const box = el("div", "km-vehicle-body");
    const dot = el("span", "km-vehicle-dot");
    dot.style.backgroundColor = colour(p.colour, "#888888");
    box.appendChild(dot);
    box.appendChild(el("span", "km-vehicle-name", text(p.name) || "?"));
    const m = divMarker(ll, "km-vehicle", box, [18, 18], { zIndexOffset: 500 });
    m.bindTooltip(infoTable(text(p.name) || "Team vehicle", [["Seen", localTime(p.utc)]]), { direction: "top", offset: [0, -10] });
    return m;
  }

  function drawTrack(f) {
    const g = f.geometry;
    return trackLayer(isObj(g) && g.type === "LineString" ? positions(g.coordinates) : []);
  }
  function trackLayer(points) {
    return L.polyline(points, { className: "km-track", pane: "kmTrack", color: "#7a3fc4", weight: 3, opacity: 0.7, interactive: false });
  }

  const builders = {
    car: drawCar,
    "live-bearing": (f, p) => drawLine(f, p, "km-live-bearing", "kmLive", { color: hunt.vectorColour, weight: 5, opacity: 0.95, dashArray: "1 10", lineCap: "round", interactive: false }),
    track: drawTrack,
    plot: drawPlot,
    bearing: drawBearing,
    estimate: drawEstimate,
    ellipse: drawEllipse,
    vehicle: drawVehicle,
  };

  function removeFeature(id) {
    const old = drawn.get(id);
    if (!old) return;
    map.removeLayer(old.layer);
    drawn.delete(id);
    notify("removed", id, old.kind);
    if (old.kind === "estimate") $("km-map").classList.remove("km-fix-provisional");
  }

  function upsertFeature(f) {
    try {
      if (!isObj(f) || (typeof f.id !== "string" && typeof f.id !== "number")) return;
      const id = String(f.id);
      const p = isObj(f.properties) ? f.properties : {};
      const build = Object.prototype.hasOwnProperty.call(builders, p.kind) ? builders[p.kind] : null;
      if (!build) return; // a kind this page does not know
      const layer = build(f, p);
      if (!layer) return; // nothing drawable in it: what is shown stays
      removeFeature(id);
      layer.addTo(map);
      drawn.set(id, { kind: p.kind, layer });
      if (p.kind === "plot" || p.kind === "bearing") notify("drawn", id, p.kind, p, layer);
      if (p.kind === "estimate") $("km-map").classList.toggle("km-fix-provisional", p.provisional === true);
      if (p.kind === "car") carMoved(layer.getLatLng());
    } catch (e) {
      console.warn("feature skipped:", e);
    }
  }

  function appendTrack(points) {
    const add = positions(points);
    if (!add.length) return;
    const cur = drawn.get("track");
    if (cur) for (const ll of add) cur.layer.addLatLng(ll);
    else drawn.set("track", { kind: "track", layer: trackLayer(add).addTo(map) });
  }

  function clearAll() {
    for (const id of Array.from(drawn.keys())) removeFeature(id);
  }

  // ---- Status strip, night, view ------------------------------------------------------------
  // The status line, cut at its " | " so that a narrow strip wraps between its parts.
  function setStatus(s) {
    const box = $("km-status");
    box.replaceChildren();
    (text(s) || "—").split(/(\s+\|\s+)/).forEach((t, i) => {
      if (i % 2 === 0) { if (t) box.appendChild(el("span", "km-status-part", t)); return; }
      const bar = t.lastIndexOf("|") + 1;
      box.appendChild(el("span", "km-status-sep", t.slice(0, bar)));
      box.appendChild(document.createTextNode(t.slice(bar)));
    });
  }
  function setNight(on) {
    if (typeof on !== "boolean") return;
    hunt.night = on;
    document.body.classList.toggle("km-night", on);
  }
  function setConn(state, words) {
    const c = $("km-conn");
    c.className = "km-conn km-conn-" + state;
    $("km-conn-text").textContent = words;
  }

  let follow = false, viewSet = false;
  function setFollow(on) {
    follow = on;
    $("km-follow").setAttribute("aria-pressed", on ? "true" : "false");
    $("km-follow").classList.toggle("km-on", on);
    const car = drawn.get("car");
    if (on && car) map.panTo(car.layer.getLatLng());
  }
  function carMoved(ll) {
    if (!viewSet) { map.setView(ll, Math.max(map.getZoom(), 15)); viewSet = true; return; }
    if (follow) map.panTo(ll, { animate: true, duration: 0.5 });
  }

  function huntBounds() {
    const b = L.latLngBounds([]);
    for (const { kind, layer } of drawn.values()) {
      if (kind === "track" || kind === "live-bearing" || kind === "vehicle") continue;
      if (layer.getBounds) { const lb = layer.getBounds(); if (lb.isValid()) b.extend(lb); }
      else if (layer.getLatLng) b.extend(layer.getLatLng());
    }
    return b;
  }
  function fitHunt() {
    const b = huntBounds();
    if (!b.isValid()) return false;
    if (b.getNorthEast().equals(b.getSouthWest())) map.setView(b.getCenter(), Math.max(map.getZoom(), 15));
    else map.fitBounds(b, { padding: [30, 30], maxZoom: 17 });
    return true;
  }

  // ---- Whole documents ----------------------------------------------------------------------
  async function getJSON(url) {
    const r = await fetch(url, { cache: "no-store", credentials: "same-origin" });
    if (r.status === 401) shutOut();
    if (!r.ok) throw new Error(`${url}: HTTP ${r.status}`);
    return r.json();
  }

  // Draws a FeatureCollection in place of whatever is shown; gives its revision.
  function drawDocument(doc) {
    clearAll();
    if (!isObj(doc)) { setStatus("The hunt could not be read."); return null; }
    hunt.stamp = text(doc.stamp);
    hunt.vectorColour = colour(doc.vectorColour, "#1f6fd1");
    setStatus(doc.status);
    setNight(doc.night);
    const features = Array.isArray(doc.features) ? doc.features : [];
    const hadView = viewSet;
    viewSet = true; // a car in the snapshot must not move the view before the fit below
    for (const f of features) upsertFeature(f);
    viewSet = hadView;
    notify("document", hunt.stamp, mode === "live");
    return num(doc.revision);
  }

  let mode = "live";    // "live" or "past"
  let queue = null;     // messages held while the live snapshot loads
  let snapshotRev = null, loadToken = 0, fittedStamp = null;

  async function loadLive() {
    const token = ++loadToken;
    mode = "live";
    queue = [];
    $("km-follow").disabled = false;
    if (!$("km-past").hidden) { $("km-past").hidden = true; map.invalidateSize(); }
    document.body.classList.remove("km-showing-past");
    try {
      const doc = await getJSON("/hunt.geojson");
      if (token !== loadToken) return;
      // The token goes into a request header: printable ASCII only, or the last good one stays.
      if (isObj(doc) && typeof doc.token === "string" && /^[\x21-\x7e]{1,512}$/.test(doc.token)) hunt.token = doc.token;
      snapshotRev = drawDocument(doc);
      if (fittedStamp !== hunt.stamp || !viewSet) {
        if (fitHunt()) { viewSet = true; fittedStamp = hunt.stamp; }
        else { const car = drawn.get("car"); if (car) carMoved(car.layer.getLatLng()); }
      }
      const held = queue || [];
      queue = null;
      for (const m of held) {
        const r = num(m.revision);
        if (r !== null && snapshotRev !== null && r > snapshotRev) handleMessage(m);
      }
    } catch (e) {
      if (token !== loadToken) return;
      console.warn("snapshot:", e);
      queue = null;
      setStatus("Could not load the hunt; trying again…");
      if (socket) socket.close(); // the reconnect loads it again
    }
  }

  async function showPast(stamp) {
    if (!/^\d{6}_\d{6}$/.test(stamp)) return;
    const token = ++loadToken;
    try {
      const doc = await getJSON(`/hunts/${encodeURIComponent(stamp)}.geojson`);
      if (token !== loadToken) return;
      mode = "past"; // read-only: a past hunt's plots are not changed from here
      queue = null;
      setFollow(false);
      $("km-follow").disabled = true;
      drawDocument(doc);
      $("km-past-text").textContent = `Past hunt ${stampText(stamp)}`;
      $("km-past").hidden = false;
      document.body.classList.add("km-showing-past");
      closeHunts();
      map.invalidateSize();
      fitHunt();
    } catch (e) {
      console.warn("past hunt:", e);
      $("km-hunts-body").prepend(el("p", "km-error", `Could not load hunt ${stampText(stamp)}.`));
    }
  }

  // ---- Change messages ----------------------------------------------------------------------
  function handleMessage(m) {
    if (!isObj(m)) return;
    if (m.type === "hunt") { loadLive(); return; }
    if (m.type === "features") {
      if (Array.isArray(m.remove)) for (const id of m.remove) if (typeof id === "string") removeFeature(id);
      if (Array.isArray(m.upsert)) for (const f of m.upsert) upsertFeature(f);
      if (typeof m.status === "string") setStatus(m.status);
      setNight(m.night);
      notify("applied");
    } else if (m.type === "track") {
      appendTrack(m.append);
    }
  }

  function onSocketText(data) {
    try {
      if (typeof data !== "string") return;
      const m = JSON.parse(data);
      if (!isObj(m)) return;
      if (mode !== "live") { if (typeof m.night === "boolean") setNight(m.night); return; }
      if (queue) { if (m.type !== "hello") queue.push(m); return; }
      handleMessage(m);
    } catch (e) {
      console.warn("message skipped:", e);
    }
  }

  // ---- The socket: connect, and reconnect forever -------------------------------------------
  let socket = null, retryMs = 1000, attempts = 0;
  function connect() {
    if (attempts++ === 0) setConn("connecting", "connecting…");
    let ws;
    try {
      ws = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/live");
    } catch (e) {
      console.warn("socket:", e);
      retryLater();
      return;
    }
    socket = ws;
    ws.onopen = () => {
      if (socket !== ws) return;
      retryMs = 1000;
      setConn("live", "live");
      if (!layersLoaded) loadLayers();
      if (mode === "live") loadLive();
    };
    ws.onmessage = (ev) => { if (socket === ws) onSocketText(ev.data); };
    ws.onerror = () => { try { ws.close(); } catch (e) { /* closing anyway */ } };
    ws.onclose = () => {
      if (socket !== ws) return;
      socket = null;
      queue = null;
      loadToken++;
      retryLater();
    };
  }
  // A phone whose link was replaced (or whose session ran out) gets 401 for everything: it
  // says so and stops asking; the new link's QR code brings it back.
  let shut = false;
  function shutOut() {
    if (shut) return;
    shut = true;
    setConn("down", "link replaced");
    setStatus("This map's link was replaced: scan the new QR code in Kestrelmap's instruments window.");
    if (socket) { const ws = socket; socket = null; try { ws.close(); } catch (e) { /* closing anyway */ } }
  }
  async function retryLater() {
    if (shut) return;
    if (location.hostname !== "127.0.0.1" && location.hostname !== "localhost" && location.hostname !== "[::1]") {
      try {
        const r = await fetch("/layers", { method: "HEAD", cache: "no-store", credentials: "same-origin" });
        if (r.status === 401) { shutOut(); return; }
      } catch (e) { /* the computer is out of reach: keep trying */ }
    }
    setConn("down", "reconnecting…");
    const wait = retryMs;
    retryMs = Math.min(retryMs * 2, 5000);
    setTimeout(connect, wait);
  }

  // ---- Past hunts list ----------------------------------------------------------------------
  function closeHunts() {
    $("km-hunts-panel").hidden = true;
    $("km-hunts").setAttribute("aria-expanded", "false");
  }
  async function openHunts() {
    notify("huntsOpened");
    const body = $("km-hunts-body");
    $("km-hunts-panel").hidden = false;
    $("km-hunts").setAttribute("aria-expanded", "true");
    body.replaceChildren(el("p", "km-muted", "Loading…"));
    let doc;
    try { doc = await getJSON("/hunts"); } catch (e) {
      body.replaceChildren(el("p", "km-error", "Could not load the list of hunts."));
      return;
    }
    const list = isObj(doc) && Array.isArray(doc.hunts) ? doc.hunts : [];
    const current = isObj(doc) ? text(doc.current) : "";
    const ul = el("ul", "km-hunt-list");
    for (const h of list) {
      if (!isObj(h) || !/^\d{6}_\d{6}$/.test(text(h.stamp))) continue;
      const stamp = text(h.stamp);
      const li = el("li", "km-hunt" + (stamp === current ? " km-current" : ""));
      const info = el("div", "km-hunt-info");
      info.appendChild(el("span", "km-hunt-when", stampText(stamp)));
      const n = num(h.plots);
      info.appendChild(el("span", "km-hunt-plots", (n === null ? "? plots" : `${n} plot${n === 1 ? "" : "s"}`) + (stamp === current ? " · live" : "")));
      if (text(h.utc)) info.title = `Started ${text(h.utc)}`;
      li.appendChild(info);
      const acts = el("div", "km-hunt-actions");
      const show = el("button", "km-button", stamp === current ? "Live" : "Show");
      show.type = "button";
      show.addEventListener("click", () => { if (stamp === current) { closeHunts(); fittedStamp = null; loadLive(); } else showPast(stamp); });
      acts.appendChild(show);
      for (const [label, ext] of [["GeoJSON", "geojson"], ["GPX", "gpx"]]) {
        const a = el("a", "km-button km-link", label);
        a.href = `/hunts/${stamp}.${ext}`;
        a.setAttribute("download", `hunt-${stamp}.${ext}`);
        acts.appendChild(a);
      }
      li.appendChild(acts);
      ul.appendChild(li);
    }
    body.replaceChildren(ul.childElementCount ? ul : el("p", "km-muted", "No hunts recorded yet."));
  }

  // ---- Wiring -------------------------------------------------------------------------------
  $("km-follow").addEventListener("click", () => setFollow(!follow));
  $("km-fit").addEventListener("click", () => { setFollow(false); fitHunt(); });
  $("km-hunts").addEventListener("click", () => ($("km-hunts-panel").hidden ? openHunts() : closeHunts()));
  $("km-hunts-close").addEventListener("click", closeHunts);
  $("km-back").addEventListener("click", () => { fittedStamp = null; loadLive(); });
  document.addEventListener("keydown", (e) => { if (e.key === "Escape") closeHunts(); });
  map.on("dragstart", () => { if (follow) setFollow(false); });
  window.addEventListener("resize", () => map.invalidateSize());

  // What review.js needs from here. The token is that of the live snapshot, never of a past hunt.
  window.kmLive = Object.freeze({
    map, hooks, text, num, isObj, el, deg, localTime, plotVerdict, verdictWords, noteOf,
    editable: () => mode === "live",
    token: () => (mode === "live" ? hunt.token : ""),
    reload: () => loadLive(),
    closeHunts,
  });

  loadLayers();
  connect();
})();
