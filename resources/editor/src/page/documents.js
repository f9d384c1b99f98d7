// Reading documents into tabs: opening, new documents, taking in text from
// disk, and the preview's links to other documents of the folder.
import { state, tabs, views, reachable, addressOf } from "./session.js";
import { api, problem } from "./api.js";
import { status } from "./statusBar.js";
import { setNotice } from "./notices.js";
import { showTab, showTabs } from "./tabStrip.js";
import { tabSaved } from "./remember.js";

const decoder = new TextDecoder("utf-8");

export async function readDocument(address) {
  const answer = await api("GET", "/api/file", { query: address });
  if (!answer.ok) return { error: problem(answer) };
  const where = answer.headers.get("X-Quillmarsh-Location");
  return {
    text: decoder.decode(answer.bytes),
    version: answer.headers.get("X-Quillmarsh-Version"),
    location: where ? decodeURIComponent(where) : "",
  };
}

export async function openDocument(address, hint = {}) {
  if (address.path) address = { ...address, folder: state.folder };
  const known = tabs.find({ ...address, location: hint.location });
  if (known) return showTab(known);
  const read = await readDocument(address);
  if (read.error) return status(read.error);
  // Opened meanwhile, or the same file under another name (a handle and a path).
  const again = tabs.find({ ...address, location: read.location });
  if (again) return showTab(again);
  const fresh = views.editor.makeState(read.text);
  const tab = tabs.add({
    ...address,
    name: hint.name || (address.path || read.location).split("/").pop(),
    location: read.location,
    version: read.version,
    state: fresh,
    savedDoc: fresh.doc,
  });
  showTab(tab);
  status(`Opened ${tab.name}`);
}

export function newDocument() {
  const fresh = views.editor.makeState("");
  const count = tabs.list.filter((tab) => !tab.path && !tab.file).length;
  const tab = tabs.add({ name: count ? `Untitled ${count + 1}.md` : "Untitled.md", version: "new", state: fresh, savedDoc: fresh.doc });
  showTab(tab);
}

// Puts new text from disk into a tab, as one change its history can undo.
function takeText(tab, text, version) {
  const { editor } = views;
  if (tab === views.shownTab) {
    editor.view.dispatch(editor.replaceText(editor.view.state, text));
    tab.savedDoc = editor.view.state.doc;
  } else {
    tab.state = editor.replaceText(tab.state, text).state;
    tab.savedDoc = tab.state.doc;
  }
  tab.version = version;
  tab.dirty = false;
  tab.missing = false;
  tab.toldVersion = null;
  tab.notice = null;
  showTabs();
  tabSaved(tab);
}

export async function reloadTab(tab) {
  if (!reachable(tab)) return setNotice(tab, { text: `${tab.name} cannot be read again: its folder is no longer open.` });
  const read = await readDocument(addressOf(tab));
  if (read.error) return setNotice(tab, { text: `${tab.name} could not be read again: ${read.error}` });
  takeText(tab, read.text, read.version);
  status(`Reloaded ${tab.name}`);
}

// A link in the preview to another document of the folder opens it in a tab.
export function openLinked(href) {
  const tab = views.shownTab;
  const target = decodeURIComponent(href.split(/[?#]/)[0]);
  if (!tab || !tab.path || !/\.(md|markdown)$/i.test(target) || target.startsWith("/")) {
    return status(`Only links to Markdown documents of the open folder open from the preview: ${href}`);
  }
  const folder = tab.path.slice(0, Math.max(0, tab.path.lastIndexOf("/")));
  const parts = [];
  for (const part of [...folder.split("/"), ...target.split("/")]) {
    if (part === "..") parts.pop();
    else if (part && part !== ".") parts.push(part);
  }
  openDocument({ path: parts.join("/") });
}
