// Kestrelmap live map: the plot card. A tap on a plot's marker or its bearing line opens it;
// from it a plot of the live hunt is left out of the fix, used again, or given a note. The
// change comes back over the WebSocket like any other, and the card is drawn from that.
"use strict";

(function () {
  const km = window.kmLive;
  if (!km || typeof km !== "object") return; // map.js did not start: nothing to review
  const { text, num, el, deg, localTime, plotVerdict, verdictWords, noteOf } = km;
  const $ = (id) => document.getElementById(id);
  const NOTE_MAX = 200;
  const ANSWER_WAIT_MS = 10000;

  const rowOf = (p) => (Number.isInteger(p.row) && p.row >= 0 ? p.row : null);
  const bearingOf = (p) => { const b = num(p.bearing); return b !== null && b >= 0 && b <= 360 ? b : null; };

  // What is drawn, by row: the plot's properties and the layers that show it.
  const plots = new Map();   // row -> properties of its "plot" feature
  const layers = new Map();  // feature id -> { row, layer }

  // The open card: its row, the properties it shows, and the requests in flight for it.
  const card = { row: null, props: null, shown: "", noteDirty: false };
  let shown = ""; // which hunt is drawn: "live:<stamp>" or "past:<stamp>"
  const busy = { excluded: null, note: null }; // row a request is out for, per button

  const box = $("km-card");
  const rowsBox = $("km-card-rows");
  const excludeBtn = $("km-card-exclude");
  const noteBox = $("km-card-note-box");
  const noteInput = $("km-card-note");
  const saveBtn = $("km-card-save");
  const outcome = $("km-card-outcome");
  const readOnly = $("km-card-readonly");
  if (!box || !rowsBox || !excludeBtn || !noteBox || !noteInput || !saveBtn || !outcome || !readOnly) return;
  noteInput.maxLength = NOTE_MAX;

  // ---- Keeping track of the drawn plots ----------------------------------------------------
  km.hooks.drawn = (id, kind, p, layer) => {
    const row = rowOf(p);
    layers.set(id, { row, layer });
    // A line without its plot (none drawn for the row) still shows what it knows.
    const own = kind === "plot" ? p : Object.assign({}, p, { verdict: p.rejected === true ? "rejected" : "used" });
    layer.on("click", (e) => openCard(row, own, e && e.latlng));
    if (kind === "plot" && row !== null) plots.set(row, p);
    if (row !== null && row === card.row) {
      mark(layer, true);
      if (kind === "plot") { card.props = p; fill(); }
    }
  };
  km.hooks.removed = (id, kind) => {
    const had = layers.get(id);
    layers.delete(id);
    if (kind === "plot" && had && had.row !== null) plots.delete(had.row);
  };
  // After a change message: a plot removed for good leaves its card with nothing to change.
  km.hooks.applied = () => {
    if (card.row !== null && !plots.has(card.row) && card.props) { card.props = null; fill(); }
  };
  // A whole document drawn: the card stays only for the same hunt, shown the same way.
  km.hooks.document = (stamp, live) => {
    shown = (live ? "live:" : "past:") + text(stamp);
    if (box.hidden) return;
    if (shown !== card.shown || card.row === null || !plots.has(card.row)) { closeCard(); return; }
    card.props = plots.get(card.row);
    fill();
  };
  km.hooks.huntsOpened = () => closeCard();

  function mark(layer, on) {
    const e = layer && typeof layer.getElement === "function" ? layer.getElement() : null;
    if (e) e.classList.toggle("km-selected", on);
  }
  function markRow(row, on) {
    if (row === null) return;
    for (const { row: r, layer } of layers.values()) if (r === row) mark(layer, on);
  }

  // ---- The card ------------------------------------------------------------------------------
  function openCard(row, props, where) {
    const p = row !== null && plots.has(row) ? plots.get(row) : props;
    if (card.row !== null) markRow(card.row, false);
    const same = card.row === row && row !== null && !box.hidden;
    card.row = row;
    card.props = p || null;
    card.shown = shown;
    if (!same) {
      card.noteDirty = false;
      noteInput.value = p ? noteOf(p) : "";
      say("");
    }
    markRow(row, true);
    fill();
    km.closeHunts();
    box.hidden = false;
    keepInView(where);
  }
  // On a phone the card covers the lower half of the map: move the map so the plot stays seen.
  function keepInView(ll) {
    if (!ll) return;
    const m = km.map, mapBox = m.getContainer().getBoundingClientRect(), cardBox = box.getBoundingClientRect();
    const pt = m.latLngToContainerPoint(ll);
    const left = cardBox.left - mapBox.left, right = cardBox.right - mapBox.left, top = cardBox.top - mapBox.top;
    if (pt.x < left - 20 || pt.x > right + 20 || pt.y < top - 20) return;
    m.panBy([0, pt.y - Math.max(top / 2, 40)]);
  }
  function closeCard() {
    if (card.row !== null) markRow(card.row, false);
    card.row = null;
    card.props = null;
    card.noteDirty = false;
    box.hidden = true;
  }

  function addRow(label, value) {
    if (value === "" || value === null || value === undefined) return;
    const tr = el("tr");
    tr.appendChild(el("th", "", label));
    tr.appendChild(el("td", "", value));
    rowsBox.appendChild(tr);
  }

  // Draws the card from the properties pushed last; the note being typed is left alone.
  function fill() {
    const p = card.props;
    rowsBox.replaceChildren();
    if (!p) {
      $("km-card-title").textContent = card.row === null ? "Plot" : `Plot (row ${card.row})`;
      addRow("Status", "This plot is no longer in the hunt.");
      excludeBtn.hidden = excludeBtn.parentElement.hidden = true;
      noteBox.hidden = true;
      readOnly.hidden = true;
      return;
    }
    const verdict = plotVerdict(p);
    $("km-card-title").textContent = `Plot ${text(p.plot) || "?"}`;
    addRow("Time", localTime(p.utc));
    addRow("Bearing", bearingOf(p) === null ? "" : deg(bearingOf(p)));
    const src = [text(p.position_source), text(p.bearing_source)];
    addRow("Source", src[0] || src[1] ? `${src[0] || "?"}/${src[1] || "?"}` : "");
    if (p.quality !== null && p.quality !== undefined) addRow("Quality", text(p.quality));
    if (p.vehicle !== null && p.vehicle !== undefined) addRow("Vehicle", text(p.vehicle));
    addRow("Verdict", verdictWords(verdict, p));
    addRow("Note", noteOf(p));

    const editable = km.editable() && card.row !== null;
    const excluded = verdict === "excluded";
    excludeBtn.hidden = !editable || !(bearingOf(p) !== null || excluded);
    excludeBtn.parentElement.hidden = excludeBtn.hidden;
    excludeBtn.textContent = excluded ? "Use again" : "Leave out of the fix";
    excludeBtn.classList.toggle("km-on", excluded);
    excludeBtn.disabled = busy.excluded === card.row;
    noteBox.hidden = !editable;
    saveBtn.disabled = busy.note === card.row;
    readOnly.hidden = editable;
    // The pushed note replaces the field only while the user has not typed in it.
    if (!card.noteDirty) noteInput.value = noteOf(p);
    else if (noteInput.value.trim() === noteOf(p).trim()) card.noteDirty = false;
  }

  function say(words, kind) {
    outcome.textContent = words;
    outcome.className = "km-card-outcome" + (kind ? ` km-${kind}` : "");
  }

  // ---- Sending a change ----------------------------------------------------------------------
  // The server's refusal is a short plain-text reason; it is shown as text, cut to a line.
  async function reason(r) {
    let t = "";
    try { t = await r.text(); } catch (e) { /* no body */ }
    t = text(t).replace(/[\u0000-\u001f\u007f]+/g, " ").trim();
    if (t.length > 160) t = t.slice(0, 157) + "…";
    return t || `refused (HTTP ${r.status})`;
  }

  async function send(row, what, body, done) {
    if (busy[what] === row || row === null || !km.editable()) return;
    busy[what] = row;
    if (card.row === row) fill();
    const ctl = typeof AbortController === "function" ? new AbortController() : null;
    const timer = ctl ? setTimeout(() => ctl.abort(), ANSWER_WAIT_MS) : null;
    let words = "", kind = "bad";
    try {
      const r = await fetch(`/plots/${encodeURIComponent(String(row))}`, {
        method: "POST",
        headers: { "Content-Type": "application/json", "X-Kestrelmap-Token": km.token() },
        credentials: "same-origin",
        cache: "no-store",
        body: JSON.stringify(body),
        signal: ctl ? ctl.signal : undefined,
      });
      if (r.ok) {
        // What changed is drawn from the push that follows, not from this answer.
        try { await r.json(); } catch (e) { /* the push tells the rest */ }
        words = done; kind = "ok";
      } else if (r.status === 403) {
        await km.reload(); // a page from before a restart holds an old token
        words = "The map was out of date; try again.";
      } else {
        words = await reason(r);
      }
    } catch (e) {
      words = e && e.name === "AbortError" ? "No answer from Kestrelmap; try again." : "Could not reach Kestrelmap; try again.";
    } finally {
      if (timer) clearTimeout(timer);
      busy[what] = null;
    }
    if (card.row === row) { say(words, kind); fill(); }
  }

  excludeBtn.addEventListener("click", () => {
    const p = card.props;
    if (!p || card.row === null) return;
    const leaveOut = plotVerdict(p) !== "excluded";
    send(card.row, "excluded", { excluded: leaveOut }, leaveOut ? "Left out of the fix." : "Used in the fix again.");
  });

  function saveNote() {
    if (card.row === null || !card.props) return;
    const note = noteInput.value.trim();
    if (note.length > NOTE_MAX) { say(`A note is at most ${NOTE_MAX} characters.`, "bad"); return; }
    noteInput.value = note;
    send(card.row, "note", { note }, note ? "Note saved." : "Note removed.");
  }
  saveBtn.addEventListener("click", saveNote);
  noteInput.addEventListener("input", () => { card.noteDirty = true; });
  noteInput.addEventListener("keydown", (e) => {
    if (e.key === "Enter") { e.preventDefault(); saveNote(); }
    else if (e.key === "Escape") { e.stopPropagation(); noteInput.blur(); }
  });
  $("km-card-close").addEventListener("click", closeCard);
  document.addEventListener("keydown", (e) => {
    if (e.key === "Escape" && !box.hidden && document.activeElement !== noteInput) closeCard();
  });
})();
