/* hallweb.js -- the web console's page: opens the WebSocket to the server
 * it came from, draws each frame of the feed being viewed on the unrolled
 * hallway, shows the feeds' figures and the box driver's and the light
 * show's state, offers the controls when the server allows them, and
 * reconnects by itself. */
"use strict";

(function () {
  const BOXES = 10;
  const PER_BOX = 6;
  /* Frame channel k of a box, across the screen from left to right. */
  const SURFACES = [
    ["low", "left"], ["up", "left"], ["ceiling", "left"],
    ["ceiling", "right"], ["up", "right"], ["low", "right"],
  ];
  const RETRY_FIRST_MS = 500;
  const RETRY_MAX_MS = 4000;
  const TOKEN_KEY = "hallweb-token";
  const VIEW_KEY = "hallweb-view";

  /* Everything the page knows, in one place (tests read it too). */
  const state = {
    connected: false,
    feeds: [],          /* from hello: name, host, port */
    view: 0,            /* the feed shown */
    levels: new Uint8Array(BOXES * PER_BOX),
    frames: 0,          /* frames drawn since the page loaded */
    controls: "off",    /* "off", "token" or "open" */
    allowed: false,     /* the controls are usable now */
    driver: null,       /* the driver's state from the last status */
    hasDriver: false,
    show: null,         /* the light show's state from the last status */
  };
  window.hallweb = state;

  const $ = (id) => document.getElementById(id);
  const lamps = [];
  let socket = null;
  let retryMs = RETRY_FIRST_MS;
  let newest = null;          /* the newest frame not yet drawn */
  let drawQueued = false;
  let levelHeld = null;       /* level chosen on the slider and not yet seen back */
  let messageTimer = 0;

  function element(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  /* The grid: a heading row, then box 9 down to box 0; a gap column
   * between the left wall, the ceiling and the right wall. */
  function buildHall() {
    const hall = $("hall");
    const row = (first, cell) => {
      hall.appendChild(first);
      for (let k = 0; k < PER_BOX; k++) {
        if (k === 2 || k === 4) hall.appendChild(element("div", "gap"));
        hall.appendChild(cell(k));
      }
    };
    row(element("div", "head"), (k) => {
      const h = element("div", "head", SURFACES[k][0]);
      h.appendChild(document.createElement("br"));
      h.appendChild(document.createTextNode(SURFACES[k][1]));
      return h;
    });
    for (let b = BOXES - 1; b >= 0; b--) {
      row(element("div", "box", String(b)), (k) => {
        const i = b * PER_BOX + k;
        const lamp = element("div", "lamp");
        lamp.dataset.index = String(i);
        lamp.dataset.level = "0";
        lamp.title = "box " + b + ", " + SURFACES[k].join(" ");
        lamps[i] = lamp;
        return lamp;
      });
    }
  }

  /* A warm lamp colour: dark at 0, bright amber at 255. */
  function colour(v) {
    return "hsl(38 " + (40 + v * 0.22).toFixed(0) + "% " + (9 + v * 0.25).toFixed(1) + "%)";
  }

  function draw() {
    drawQueued = false;
    if (!newest) return;
    for (let i = 0; i < lamps.length; i++) {
      const v = newest[i];
      if (v !== state.levels[i] || state.frames === 0) {
        state.levels[i] = v;
        lamps[i].dataset.level = String(v);
        lamps[i].style.backgroundColor = colour(v);
      }
    }
    newest = null;
    state.frames++;
  }

  function frameArrived(bytes) {
    if (bytes.length < 1 + lamps.length || bytes[0] !== state.view) return;
    newest = bytes.subarray(1, 1 + lamps.length);
    if (!drawQueued) {
      drawQueued = true;
      requestAnimationFrame(draw);
    }
  }

  function say(text) {
    $("message").textContent = text;
    clearTimeout(messageTimer);
    messageTimer = setTimeout(() => { $("message").textContent = ""; }, 5000);
  }

  function send(message) {
    if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
  }

  function setLink(connected, text) {
    state.connected = connected;
    const link = $("link");
    link.textContent = text;
    link.className = "pill " + (connected ? "on" : "off");
  }

  function showView(i) {
    state.view = i;
    try { localStorage.setItem(VIEW_KEY, String(i)); } catch (e) { /* private mode */ }
    for (const b of $("feeds").children) b.setAttribute("aria-pressed", String(b.dataset.feed === String(i)));
    newest = null;
    send({ type: "view", feed: i });
  }

  function hello(m) {
    state.feeds = m.feeds;
    state.controls = m.controls;
    state.hasDriver = m.driver;
    const nav = $("feeds");
    nav.textContent = "";
    m.feeds.forEach((f, i) => {
      const b = element("button", "", f.name);
      b.type = "button";
      b.dataset.feed = String(i);
      b.title = f.host + ":" + f.port;
      b.addEventListener("click", () => showView(i));
      nav.appendChild(b);
    });
    let view = Number(localStorage.getItem(VIEW_KEY) || 0);
    if (!(view >= 0 && view < m.feeds.length)) view = 0;
    showView(view);
    $("level").max = String(m.levelMax);
    $("level").step = String(m.levelStep);
    $("driver").hidden = !m.driver;
    $("show").hidden = !m.show;
    state.allowed = m.controls === "open";
    const token = m.controls === "token" ? localStorage.getItem(TOKEN_KEY) : null;
    if (token) send({ type: "auth", token: token });
    showControls();
  }

  function showControls() {
    const d = state.driver;
    const usable = state.allowed && d && d.reachable;
    $("controls").hidden = !usable;
    $("show-controls").hidden = !(state.allowed && state.show && state.show.reachable);
    $("token-form").hidden = !(state.controls === "token" && !state.allowed);
    if (!usable) return;
    const box = $("driver-feeds");
    if (box.children.length !== d.feeds.length ||
        [...box.children].some((b, i) => b.dataset.name !== d.feeds[i])) {
      box.textContent = "";
      d.feeds.forEach((name, i) => {
        const b = element("button", "", i + " " + name);
        b.type = "button";
        b.dataset.feed = String(i);
        b.dataset.name = name;
        b.addEventListener("click", () => send({ type: "select", feed: i }));
        box.appendChild(b);
      });
    }
    for (const b of box.children) b.setAttribute("aria-pressed", String(Number(b.dataset.feed) === d.feed));
    if (levelHeld === null || levelHeld.value === d.level || Date.now() - levelHeld.at > 3000) {
      levelHeld = null;
      $("level").value = String(d.level);
      $("level-value").textContent = String(d.level);
    }
  }

  function liveText(live) {
    const s = element("span", live ? "live" : "dead", live ? "live" : "not live");
    return s;
  }

  function status(m) {
    const f = m.feeds[state.view];
    const line = $("feed-status");
    line.textContent = "";
    if (f) {
      line.append(state.feeds[state.view].name + " · " + f.fps.toFixed(1) + " frames/s · ");
      line.appendChild(liveText(f.live));
    }
    state.driver = m.driver || null;
    const d = state.driver;
    const text = $("driver-state");
    text.textContent = "";
    if (d && d.reachable) {
      text.append((d.feeds[d.feed] || "feed " + d.feed) + " · level " + d.level + " · ");
      text.appendChild(liveText(d.live));
    } else if (d) {
      text.textContent = "The box driver is not answering.";
    }
    state.show = m.show || null;
    const s = state.show;
    const show = $("show-state");
    if (s && s.reachable) {
      let line = (s.pattern || "no pattern") + " · " + (s.fixed ? "fixed" : "automatic");
      if (s.tempo !== undefined) line += " · " + s.tempo.toFixed(1) + " BPM";
      if (s.locked !== undefined) line += s.locked ? " · locked" : " · not locked";
      show.textContent = line;
      $("automatic").setAttribute("aria-pressed", String(!s.fixed));
    } else if (s) {
      show.textContent = "The light show is not answering.";
    }
    showControls();
  }

  function received(event) {
    if (typeof event.data !== "string") {
      frameArrived(new Uint8Array(event.data));
      return;
    }
    let m;
    try { m = JSON.parse(event.data); } catch (e) { return; }
    if (m.type === "hello") hello(m);
    else if (m.type === "status") status(m);
    else if (m.type === "error") say(m.error);
    else if (m.type === "auth") {
      state.allowed = m.ok;
      if (!m.ok) {
        localStorage.removeItem(TOKEN_KEY);
        say("Wrong token.");
      }
      showControls();
    }
  }

  function connect() {
    const scheme = location.protocol === "https:" ? "wss://" : "ws://";
    socket = new WebSocket(scheme + location.host + "/ws");
    socket.binaryType = "arraybuffer";
    socket.onopen = () => {
      retryMs = RETRY_FIRST_MS;
      setLink(true, "connected");
    };
    socket.onmessage = received;
    socket.onclose = (event) => {
      socket = null;
      state.allowed = false;
      setLink(false, event.code === 1013 ? "server full, retrying…" : "reconnecting…");
      if (event.code === 1013) say(event.reason || "Too many pages are open.");
      $("feed-status").textContent = "Not connected.";
      setTimeout(connect, event.code === 1013 ? RETRY_MAX_MS : retryMs);
      retryMs = Math.min(retryMs * 2, RETRY_MAX_MS);
    };
  }

  function wireControls() {
    const level = $("level");
    level.addEventListener("input", () => {
      $("level-value").textContent = level.value;
      levelHeld = { value: Number(level.value), at: Date.now() };
    });
    level.addEventListener("change", () => {
      levelHeld = { value: Number(level.value), at: Date.now() };
      send({ type: "level", level: Number(level.value) });
    });
    $("next-pattern").addEventListener("click", () => send({ type: "next" }));
    $("automatic").addEventListener("click", () => send({ type: "auto" }));
    $("token-form").addEventListener("submit", (event) => {
      event.preventDefault();
      const token = $("token").value.trim();
      if (token) {
        localStorage.setItem(TOKEN_KEY, token);
        send({ type: "auth", token: token });
      }
    });
  }

  buildHall();
  wireControls();
  connect();
})();
