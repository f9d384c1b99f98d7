// The folder tree as the person sees it: rows for what is expanded or matches
// the filter, the shown document marked, arrow keys to move, Right and Left to
// open and close folders. What a row does when chosen is the caller's.
import { el } from "./dom.js";
import { buildTree, visibleRows, ancestors } from "./tree.js";

export class TreeView {
  constructor(list, { onOpen }) {
    this.list = list;
    this.onOpen = onOpen;
    this.tree = buildTree([]);
    this.expanded = new Set();
    this.selected = null;
    this.current = null; // the path of the document shown, if it is in this folder
    this.filter = "";
    list.addEventListener("keydown", (event) => this.keys(event));
  }

  // Another listing of the same folder keeps what is expanded and selected;
  // the caller draws it.
  setPaths(paths) {
    this.tree = buildTree(paths);
  }

  // Another folder: nothing of the last one's tree stays.
  reset() {
    this.tree = buildTree([]);
    this.expanded = new Set();
    this.selected = null;
    this.draw();
  }

  // Opens the folders above a document and selects it.
  reveal(path) {
    for (const folder of ancestors(path)) this.expanded.add(folder);
    this.selected = path;
    this.draw();
  }

  setFilter(text) {
    this.filter = text;
    this.draw();
  }

  // A newly shown document becomes the selected row too.
  setCurrent(path) {
    if (path && path !== this.current) this.selected = path;
    this.current = path;
    this.mark();
  }

  draw() {
    const rows = visibleRows(this.tree, this.expanded, this.filter);
    this.list.replaceChildren(...rows.map((row) => {
      const item = el("li", {
        role: "treeitem", "aria-level": row.depth + 1, tabindex: "-1",
        className: row.kind,
        "data-path": row.kind === "file" ? row.path : undefined,
        "data-folder": row.kind === "folder" ? row.path : undefined,
        "aria-expanded": row.kind === "folder" ? String(row.expanded) : undefined,
        title: row.path,
      }, [el("span", { className: "tree-name", text: row.name })]);
      item.style.setProperty("--depth", row.depth);
      item.addEventListener("click", () => this.choose(row));
      return item;
    }));
    this.mark();
  }

  choose(row) {
    this.selected = row.path;
    if (row.kind === "file") return void this.onOpen(row.path);
    if (this.expanded.has(row.path)) this.expanded.delete(row.path);
    else this.expanded.add(row.path);
    this.draw();
    this.itemFor(row.path)?.focus();
  }

  itemFor(path) {
    return [...this.list.children].find((item) => (item.dataset.path ?? item.dataset.folder) === path) || null;
  }

  // One row takes the focus when the tree is tabbed into: the selected one, else the first.
  mark() {
    let focusable = null;
    for (const item of this.list.children) {
      const path = item.dataset.path ?? item.dataset.folder;
      item.classList.toggle("current", !!item.dataset.path && item.dataset.path === this.current);
      item.setAttribute("aria-selected", String(path === this.selected));
      item.tabIndex = -1;
      if (path === this.selected) focusable = item;
    }
    const first = focusable || this.list.firstElementChild;
    if (first) first.tabIndex = 0;
  }

  keys(event) {
    const items = [...this.list.children];
    const at = items.indexOf(document.activeElement);
    if (at < 0) return;
    const item = items[at];
    const folder = item.dataset.folder;
    const move = (to) => {
      const target = items[Math.max(0, Math.min(items.length - 1, to))];
      this.selected = target.dataset.path ?? target.dataset.folder;
      this.mark();
      target.focus();
    };
    const keys = {
      ArrowDown: () => move(at + 1),
      ArrowUp: () => move(at - 1),
      Home: () => move(0),
      End: () => move(items.length - 1),
      ArrowRight: () => folder !== undefined && !this.expanded.has(folder) && this.choose({ kind: "folder", path: folder }),
      ArrowLeft: () => {
        if (folder !== undefined && this.expanded.has(folder)) return this.choose({ kind: "folder", path: folder });
        const parent = ancestors(item.dataset.path ?? folder).pop();
        if (parent) move(items.indexOf(this.itemFor(parent)));
      },
      Enter: () => item.click(),
    };
    if (keys[event.key]) {
      event.preventDefault();
      keys[event.key]();
    }
  }
}
