// What every page needs: elements, the page's WebSocket and its commands.

/**
 * An element with attributes and children (strings become text, never HTML).
 * @param {string} tag
 * @param {Object<string, string>} attributes
 * @param {Array<Node|string>} children
 * @returns {HTMLElement}
 */
export function el(tag, attributes = {}, children = []) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    element.setAttribute(name, value);
  }
  for (const child of children) {
    element.append(child);
  }
  return element;
}

/**
 * Follows a stream of JSON messages; connects again after a lost connection.
 * @param {string} path
 * @param {function(object): void} onMessage
 * @param {function(boolean): void} onLink told whether the link is up
 */
export function follow(path, onMessage, onLink) {
  const socket = new WebSocket(`ws://${location.host}${path}`);
  socket.addEventListener("open", () => onLink(true));
  socket.addEventListener("message", (event) => onMessage(JSON.parse(event.data)));
  socket.addEventListener("close", () => {
    onLink(false);
    setTimeout(() => follow(path, onMessage, onLink), 1000);
  });
}

/**
 * Asks the node for a change; the page shows the node's state as read back.
 * @param {string} node
 * @param {string} action
 * @param {object} body
 * @returns {Promise<string>} the server's answer, or why it failed
 */
export async function command(node, action, body) {
  try {
    const answer = await fetch(`/api/node/${node}/${action}`, {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify(body),
    });
    return answer.ok ? "sent" : `refused: ${await answer.text()}`;
  } catch (error) {
    return `not sent: ${error}`;
  }
}

/**
 * @param {number} seconds since the epoch
 * @returns {string}
 */
export function clockTime(seconds) {
  return seconds > 0 ? new Date(seconds * 1000).toLocaleTimeString() : "never";
}

/** Shows whether the page's stream is connected. */
export function showLink(up) {
  const link = document.getElementById("link");
  link.textContent = up ? "live" : "reconnecting";
  link.className = up ? "link up" : "link down";
}
