// One node: identity, outputs, blink, DC always on, configuration reset,
// the live plot with its channels, and each virtual port's line controls.
import { clockTime, command, el, follow, showLink } from "./common.js";
import { CHANNELS, LivePlot } from "./plot.js";
import { openTerminal, screenText } from "./terminal.js";

const OUTPUTS = 4;

/**
 * @param {HTMLElement} app
 * @param {string} name
 */
export function showNode(app, name) {
  document.getElementById("where").textContent = `/ ${name}`;
  const view = {
    name,
    identity: el("dl", { class: "identity", "data-testid": `identity-${name}` }),
    switches: el("div", { class: "switches" }),
    outcome: el("p", { class: "outcome", "data-testid": `outcome-${name}` }),
    channels: el("tbody"),
    plotBox: el("div", { class: "plot", "data-testid": `plot-${name}` }),
    parmsShown: "",
  };
  app.append(
    el("h1", {}, [`Node ${name}`]),
    view.identity,
    el("h2", {}, ["Power outputs"]),
    view.switches,
    controls(name),
    view.outcome,
    el("h2", {}, ["Analog inputs"]),
    plotControls(name, view),
    view.plotBox,
    el("p", { class: "note", "data-testid": `parms-note-${name}` }, [
      "Parameter words: two 16-bit words for each channel (0 to 65535), written to the ",
      "node as they are. What they mean is the node's own: snweb does not interpret them.",
    ]),
    el("table", { class: "channels" }, [
      el("thead", {}, [el("tr", {}, ["Shown", "Channel", "Current", "Min", "Max",
        "Parameter words"].map((title) => el("th", {}, [title])))]),
      view.channels,
    ]),
    el("h2", {}, ["Virtual ports"]),
    el("ul", {}, [0, 1, 2].map((p) =>
      el("li", {}, [el("a", { href: `/node/${name}/port/${p}` }, [`Port ${p}: terminal`])]))),
  );
  for (let output = 0; output < OUTPUTS; output++) {
    view.switches.append(powerSwitch(name, output, view));
  }
  view.plot = new LivePlot(view.plotBox);
  buildChannelRows(view);
  window.snweb = {
    plotShown: () => view.plot.shown(),
    stats: () => view.plot.stats(),
  };
  follow(`/ws/node/${name}`, (message) => update(view, message), showLink);
}

function powerSwitch(name, output, view) {
  const button = el("button", {
    role: "switch", "aria-checked": "false", "data-testid": `power-${name}-${output}`,
    class: "switch", disabled: "",
  }, [switchText(output, undefined)]);
  button.addEventListener("click", async () => {
    const on = button.getAttribute("aria-checked") !== "true";
    view.outcome.textContent = await command(name, "power", { output, on });
  });
  return button;
}

// The state in words as well as in colour.
function switchText(output, on) {
  return `Output ${output}: ${on === undefined ? "?" : on ? "on" : "off"}`;
}

function controls(name) {
  const outcome = (text) => {
    document.querySelector(".outcome").textContent = text;
  };
  const pattern = el("select", { "aria-label": "blink pattern" },
    ["off", "pattern 1", "pattern 2"].map((label, i) => el("option", { value: String(i) }, [label])));
  const blink = el("button", { class: "change" }, ["Blink"]);
  blink.addEventListener("click", async () =>
    outcome(await command(name, "blink", { pattern: Number(pattern.value) })));
  const dcOn = el("button", { class: "change" }, ["DC always on"]);
  const dcOff = el("button", { class: "change" }, ["DC normal"]);
  dcOn.addEventListener("click", async () => outcome(await command(name, "dc", { on: true })));
  dcOff.addEventListener("click", async () => outcome(await command(name, "dc", { on: false })));
  return el("div", { class: "controls" }, [pattern, blink, dcOn, dcOff, resetControl(name, outcome)]);
}

// The reset asks once more before it goes: it undoes the node's settings.
function resetControl(name, outcome) {
  const ask = el("button", { class: "change danger" }, ["Reset configuration…"]);
  const confirm = el("button", { class: "change danger", hidden: "" }, ["Yes, reset the configuration"]);
  const cancel = el("button", { hidden: "" }, ["Cancel"]);
  const toggle = (asking) => {
    ask.hidden = asking;
    confirm.hidden = !asking;
    cancel.hidden = !asking;
  };
  ask.addEventListener("click", () => toggle(true));
  cancel.addEventListener("click", () => toggle(false));
  confirm.addEventListener("click", async () => {
    toggle(false);
    outcome(await command(name, "reset", { confirm: true }));
  });
  return el("span", {}, [ask, confirm, cancel]);
}

function plotControls(name, view) {
  const pause = el("button", { "data-testid": `pause-${name}`, "aria-pressed": "false" }, ["Pause"]);
  pause.addEventListener("click", () => {
    const paused = pause.getAttribute("aria-pressed") !== "true";
    pause.setAttribute("aria-pressed", String(paused));
    pause.textContent = paused ? "Resume" : "Pause";
    view.plot.setPaused(paused);
  });
  const csv = el("a", { href: `/api/node/${name}/window.csv`, download: `${name}.csv`,
    "data-testid": `csv-${name}` }, ["Window as CSV"]);
  return el("div", { class: "controls" }, [pause, csv]);
}

function buildChannelRows(view) {
  view.cells = [];
  for (let c = 0; c < CHANNELS; c++) {
    const shown = el("input", { type: "checkbox", checked: "", "aria-label": `show ch${c}` });
    shown.addEventListener("change", () => view.plot.setVisible(c, shown.checked));
    const words = [0, 1].map((w) => el("input", {
      type: "number", min: "0", max: "65535", class: "word",
      "aria-label": `ch${c} parameter word ${w}`,
    }));
    const set = el("button", { class: "change" }, ["Set"]);
    set.addEventListener("click", async () => {
      view.outcome.textContent = await command(view.name, "parms",
        { channel: c, words: words.map((input) => Number(input.value)) });
    });
    const cells = { current: el("td"), min: el("td"), max: el("td"), words };
    view.cells.push(cells);
    view.channels.append(el("tr", {}, [el("td", {}, [shown]), el("td", {}, [`ch${c}`]),
      cells.current, cells.min, cells.max, el("td", {}, [...words, set])]));
  }
}

function update(view, message) {
  const status = message.status;
  document.body.classList.toggle("read-only", message.readOnly);
  for (const button of document.querySelectorAll("button.change")) {
    button.disabled = message.readOnly;
  }
  showIdentity(view, status);
  // An output's state is its coil, never a bit of the power vector.
  for (let output = 0; output < OUTPUTS; output++) {
    const button = view.switches.children[output];
    const on = status.outputs === undefined ? undefined : status.outputs[output] === true;
    button.disabled = message.readOnly || on === undefined;
    button.setAttribute("aria-checked", String(on === true));
    button.textContent = switchText(output, on);
  }
  if (status.lastAction) {
    view.outcome.textContent = status.lastAction;
  }
  if (message.samples.length > 0) {
    view.plot.add(message.samples);
    view.plot.stats().forEach((s, c) => {
      view.cells[c].current.textContent = String(s.current);
      view.cells[c].min.textContent = String(s.min);
      view.cells[c].max.textContent = String(s.max);
    });
  }
  showParms(view, status);
}

// The words are filled in when they change on the node, not while typed.
function showParms(view, status) {
  if (status.parms === undefined) {
    return;
  }
  const key = status.parms.join(",");
  if (key === view.parmsShown) {
    return;
  }
  view.parmsShown = key;
  view.cells.forEach((cells, c) => {
    cells.words[0].value = String(status.parms[2 * c]);
    cells.words[1].value = String(status.parms[2 * c + 1]);
  });
}

function showIdentity(view, s) {
  const known = s.serial !== undefined;
  const rows = [
    ["State", s.up ? "up" : "down"],
    ["Link", `${s.device} slave ${s.slave}`],
    ["Last answer", clockTime(s.lastAnswer)],
    ["Serial number", known ? String(s.serial) : "?"],
    // The registers come as snctl shows them: one format everywhere.
    ["Software revision", known ? s.revisionText : "?"],
    ["Board configuration", known ? s.boardText : "?"],
    ["Hardware configuration", known ? s.hwConfigText : "?"],
    ["Power vector", s.power === undefined ? "?" : s.powerText],
    ["Device timeout", known ? String(s.deviceTimeout) : "?"],
  ];
  view.identity.replaceChildren(...rows.flatMap(([term, value]) =>
    [el("dt", {}, [term]), el("dd", {}, [value])]));
}

/**
 * A virtual port: its terminal in the browser and its line controls.
 * @param {HTMLElement} app
 * @param {string} name
 * @param {number} port
 */
export function showPort(app, name, port) {
  document.getElementById("where").textContent = `/ ${name} / port ${port}`;
  const outcome = el("p", { class: "outcome", "data-testid": `outcome-${name}-${port}` });
  const flags = el("span", { "data-testid": `flags-${name}-${port}` }, ["not read yet"]);
  const send = async (body) => {
    outcome.textContent = await command(name, "port", { port, ...body });
  };
  const speed = el("input", { type: "number", value: "9600", min: "4", max: "262143" });
  const parity = el("select", {}, [["N", "none"], ["E", "even"], ["O", "odd"]].map(
    ([p, word]) => el("option", { value: p }, [`${p} (${word})`])));
  const stop = el("select", {}, ["1", "2"].map((s) => el("option", { value: s }, [s])));
  const breakMs = el("input", { type: "number", value: "250", min: "1", max: "5000" });
  const button = (label, action) => {
    const b = el("button", { class: "change" }, [label]);
    b.addEventListener("click", action);
    return b;
  };
  const state = el("span", { class: "link", "data-testid": `terminal-state-${name}-${port}` },
    ["connecting"]);
  const box = el("div", { class: "terminal", "data-testid": `terminal-${name}-${port}` });
  app.append(
    el("h1", {}, [`Node ${name}, port ${port} `, state]),
    box,
    el("div", { class: "controls" }, [labelled("Speed (bit/s)", speed),
      labelled("Parity", parity), labelled("Stop bits", stop), button("Set line", () =>
      send({ do: "line", speed: Number(speed.value), parity: parity.value,
        stop: Number(stop.value) }))]),
    el("div", { class: "controls" }, [
      button("Transmit on", () => send({ do: "txenable", on: true })),
      button("Transmit off", () => send({ do: "txenable", on: false })),
      button("Flush in", () => send({ do: "flushin" })),
      button("Flush out", () => send({ do: "flushout" })),
      button("Drain", () => send({ do: "drain" })),
      labelled("Break length (ms)", breakMs),
      button("Break", () => send({ do: "break", ms: Number(breakMs.value) })),
    ]),
    el("p", {}, ["Error flags: ", flags, " ",
      button("Clear flags", () => send({ do: "clearflags", mask: 31 }))]),
    outcome,
  );
  const opened = openTerminal(box, name, port, (text) => {
    state.textContent = text;
    state.className = text === "reconnecting" ? "link down" : "link up";
  });
  opened.terminal.focus();
  window.snweb = {
    terminal: opened.hook,
    type: opened.type,
    screen: () => screenText(opened.terminal),
  };
  follow(`/ws/node/${name}`, (message) => {
    flags.textContent = flagsText(message.status.ports[port]);
    for (const b of document.querySelectorAll("button.change")) {
      b.disabled = message.readOnly;
    }
    // Only this port's outcomes: the node's belong to the node's page.
    if (message.status.lastAction && message.status.lastActionPort === port) {
      outcome.textContent = message.status.lastAction;
    }
  }, showLink);
}

function labelled(text, control) {
  return el("label", {}, [`${text} `, control]);
}

// snweb reads the flags only while it has the port open: for a terminal
// page that types on it, or after a command from this page.
function flagsText(state) {
  if (state.flagsText !== undefined) {
    return state.flagsText;
  }
  return state.open || state.terminal ? "not read yet"
    : "not known: read only while a page types on this port or after a command here";
}
