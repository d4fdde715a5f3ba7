// The page's entry: which page this is comes from the body's data.
import { showOverview } from "./overview.js";
import { showNode, showPort } from "./node.js";

const { page, node, port } = document.body.dataset;
const app = document.getElementById("app");
if (page === "overview") {
  showOverview(app);
} else if (page === "node") {
  showNode(app, node);
} else if (page === "port") {
  showPort(app, node, Number(port));
}
