// What the page's parts share: the open folder and documents, the tab the
// editor shows now, and the views made at start-up.
import { Tabs } from "./tabs.js";

export const $ = (id) => document.getElementById(id);
export const product = $("product").textContent;

export const state = {
  folder: null,
  files: [],
  truncated: false,
  recent: [],
  sidebar: true,
  previewMode: "off", // "off", "beside" or "only"
};
export const tabs = new Tabs();

// Made once the page's elements are wired (main.js); read only after that.
export const views = {
  editor: null,
  preview: null,
  treeView: null,
  // The tab whose state the editor view holds now; every other tab keeps its own.
  shownTab: null,
};

// A path names a document inside the folder open when the tab was opened. Once
// another folder is open, the same path would name another file: such a tab
// is read and saved no more by its path (Save asks where to put it instead).
export function reachable(tab) {
  return !!tab.file || (!!tab.path && tab.folder === state.folder);
}

export function addressOf(tab) {
  return tab.file ? { file: tab.file } : { path: tab.path };
}

export function textOf(tab) {
  return tab === views.shownTab ? views.editor.view.state.doc : tab.state.doc;
}
