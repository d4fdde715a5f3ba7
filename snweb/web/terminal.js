// The terminal on one virtual port: xterm.js over the port's WebSocket.
// The node's bytes go to the terminal as bytes (it joins a UTF-8 character
// split between two messages); what is typed goes out as UTF-8.
import { Terminal } from "./xterm.mjs";

// snweb takes a message of up to this many bytes whole; a larger paste
// goes as several, in order.
const LARGEST_MESSAGE = 64 * 1024;

/**
 * What the page received, for tests and benchmarks: a count and an
 * order-sensitive hash of every byte, and when the last keystroke left.
 */
class TerminalHook {
  constructor() {
    this.reset();
  }

  /** Starts counting afresh. */
  reset() {
    this.received = 0;
    this.hash = 0;
    this.missed = 0;
    this.sentAt = 0;
  }

  /** @param {Uint8Array} bytes */
  count(bytes) {
    let hash = this.hash;
    for (const byte of bytes) {
      hash = (Math.imul(hash, 31) + byte) >>> 0;
    }
    this.hash = hash;
    this.received += bytes.length;
  }
}

/**
 * @param {HTMLElement} box the element that holds the terminal
 * @param {string} name the node
 * @param {number} port
 * @param {function(string): void} onState told "live", "read-only" (and whether anybody
 *   reads the port) or "reconnecting"
 * @returns {{hook: TerminalHook, terminal: Terminal, type: function(string): void}}
 */
export function openTerminal(box, name, port, onState) {
  // Instruments send what they like: xterm.js's complaints about sequences
  // it cannot parse would only fill the console.
  const terminal = new Terminal({ scrollback: 5000, fontSize: 14, cursorBlink: true, logLevel: "off" });
  terminal.open(box);
  const hook = new TerminalHook();
  const encoder = new TextEncoder();
  const link = { socket: null, typing: false };
  const send = (bytes) => {
    if (!link.typing || link.socket?.readyState !== WebSocket.OPEN) {
      return;
    }
    hook.sentAt = performance.timeOrigin + performance.now();
    for (let at = 0; at < bytes.length; at += LARGEST_MESSAGE) {
      link.socket.send(bytes.subarray(at, at + LARGEST_MESSAGE));
    }
  };
  const connect = () => {
    const socket = new WebSocket(`ws://${location.host}/ws/node/${name}/port/${port}`);
    socket.binaryType = "arraybuffer";
    link.socket = socket;
    socket.addEventListener("message", (event) => {
      if (typeof event.data === "string") {
        told(JSON.parse(event.data));
        return;
      }
      const bytes = new Uint8Array(event.data);
      hook.count(bytes);
      terminal.write(bytes);
    });
    socket.addEventListener("close", () => {
      link.typing = false;
      onState("reconnecting");
      setTimeout(connect, 1000);
    });
  };
  const told = (message) => {
    if ("typing" in message) {
      link.typing = message.typing;
      terminal.options.disableStdin = !message.typing;
      onState(message.typing ? "live" : "read-only");
    }
    if ("reading" in message) {
      // A read-only page shows what a page that types reads, and only then.
      onState(message.reading ? "read-only" : "read-only, nobody reads this port");
      if (!message.reading) {
        terminal.write("\r\n\x1b[7m[snweb: nobody reads this port now]\x1b[0m\r\n");
      }
    }
    if ("missed" in message) {
      hook.missed += message.missed;
      terminal.write(`\r\n\x1b[7m[snweb: ${message.missed} bytes missed here]\x1b[0m\r\n`);
    }
  };
  terminal.onData((data) => send(encoder.encode(data)));
  terminal.onBinary((data) => send(Uint8Array.from(data, (c) => c.charCodeAt(0) & 0xff)));
  connect();
  return { hook, terminal, type: (text) => send(encoder.encode(text)) };
}

/**
 * The terminal's screen as text, one line each, for tests.
 * @param {Terminal} terminal
 * @returns {string}
 */
export function screenText(terminal) {
  const buffer = terminal.buffer.active;
  const lines = [];
  for (let i = 0; i < buffer.length; i++) {
    lines.push(buffer.getLine(i)?.translateToString(true) ?? "");
  }
  return lines.join("\n");
}
