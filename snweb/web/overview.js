// Every target: up or down, serial number, software revision, last answer.
import { clockTime, el, follow, showLink } from "./common.js";

/**
 * @param {HTMLElement} app
 */
export function showOverview(app) {
  const rows = el("tbody");
  app.append(
    el("h1", {}, ["Nodes"]),
    el("table", { class: "nodes" }, [
      el("thead", {}, [
        el("tr", {}, ["Node", "Link", "State", "Serial", "Revision", "Last answer"].map(
          (title) => el("th", {}, [title]))),
      ]),
      rows,
    ]),
  );
  follow("/ws", (message) => {
    rows.replaceChildren(...message.nodes.map(overviewRow));
  }, showLink);
}

function overviewRow(node) {
  return el("tr", { "data-testid": `node-${node.name}`, class: node.up ? "up" : "down" }, [
    el("td", {}, [el("a", { href: `/node/${node.name}` }, [node.name])]),
    el("td", {}, [`${node.device} slave ${node.slave}`]),
    el("td", {}, [node.up ? "up" : "down"]),
    el("td", { class: "serial" }, [node.serial === undefined ? "?" : String(node.serial)]),
    el("td", {}, [node.revisionText ?? "?"]),
    el("td", {}, [clockTime(node.lastAnswer)]),
  ]);
}
