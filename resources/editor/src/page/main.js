// The editor page: tabs of Markdown documents, the open folder's tree, saving
// with conflict handling, and the menus the program shows for the page.

import "./styles.css";
import { api, post, problem } from "./api.js";
import { el } from "./dom.js";
import { ask } from "./dialogs.js";
import { compareTable, chooseDocument } from "./pickers.js";
import { Editor } from "./editor.js";
import { Tabs } from "./tabs.js";
import { TreeView } from "./treeView.js";
import { buildMenus, commandOf, recentIndexOf } from "./menus.js";
import { versionItems, versionActions, saveRefusal } from "./versions.js";
import { sideBySide } from "./diff.js";
import { countLines } from "./counts.js";
import { Preview } from "./preview.js";

const $ = (id) => document.getElementById(id);
const product = $("product").textContent;
const decoder = new TextDecoder("utf-8");

const state = {
  folder: null,
  files: [],
  truncated: false,
  recent: [],
  sidebar: true,
  previewMode: "off", // "off", "beside" or "only"
};
const tabs = new Tabs();
let editor;
let preview;
let treeView;
// The tab whose state the editor view holds now; every other tab keeps its own.
let shownTab = null;

// --- status bar ---------------------------------------------------------------

function status(text) {
  $("status-message").textContent = text;
}

let countTimer = 0;
function scheduleCounts() {
  clearTimeout(countTimer);
  // Counting a large document takes a while: once typing pauses, not per key.
  countTimer = setTimeout(() => {
    const tab = tabs.active;
    if (!tab) return void ($("status-counts").textContent = "");
    const { words, characters } = countLines(editor.view.state.doc.iterLines());
    $("status-counts").dataset.words = words;
    $("status-counts").dataset.characters = characters;
    $("status-counts").textContent = `${words.toLocaleString()} ${words === 1 ? "word" : "words"}, ${characters.toLocaleString()} ${characters === 1 ? "character" : "characters"}`;
  }, 250);
}

function showPosition(editorState) {
  if (!tabs.active) return void ($("status-position").textContent = "");
  const head = editorState.selection.main.head;
  const line = editorState.doc.lineAt(head);
  $("status-position").textContent = `${line.number}:${head - line.from + 1}`;
}

// --- tabs ---------------------------------------------------------------------

function textOf(tab) {
  return tab === shownTab ? editor.view.state.doc : tab.state.doc;
}

let dirtyTimer = 0;
function documentChanged() {
  const tab = shownTab;
  if (!tab) return;
  if (!tab.dirty) {
    tab.dirty = true;
    showTabs();
  }
  scheduleCounts();
  preview.schedule();
  // Undoing back to the saved text makes the tab clean again; compared once typing pauses.
  clearTimeout(dirtyTimer);
  dirtyTimer = setTimeout(() => {
    const now = shownTab;
    if (now && now.dirty && now.savedDoc && editor.view.state.doc.eq(now.savedDoc)) {
      now.dirty = false;
      showTabs();
    }
  }, 300);
}

function showTabs() {
  const bar = $("tabs");
  bar.replaceChildren(...tabs.list.map((tab) => {
    const active = tab.id === tabs.activeId;
    const close = el("button", { type: "button", className: "tab-close", title: "Close", "aria-label": `Close ${tab.name}`, tabindex: "-1", text: "\u00d7" });
    close.addEventListener("click", (event) => {
      event.stopPropagation();
      closeTab(tab);
    });
    const item = el("div", {
      className: "tab" + (active ? " active" : "") + (tab.dirty ? " dirty" : "") + (tab.missing ? " missing" : "") +
                 (reachable(tab) || !tab.path ? "" : " detached"),
      role: "tab", "aria-selected": active ? "true" : "false", tabindex: active ? "0" : "-1",
      title: (tab.location || tab.name) + (reachable(tab) || !tab.path ? "" : " (its folder is no longer open)"),
      "data-tab": tab.id, "data-path": tab.path,
    }, [el("span", { className: "tab-marker", "aria-hidden": "true" }), el("span", { className: "tab-name", text: tab.name }), close]);
    if (tab.dirty) item.setAttribute("data-dirty", "");
    item.addEventListener("click", () => showTab(tab));
    item.addEventListener("auxclick", (event) => event.button === 1 && closeTab(tab));
    item.addEventListener("keydown", (event) => {
      if (event.key === "ArrowRight" || event.key === "ArrowLeft") {
        event.preventDefault();
        showTab(tabs.neighbour(event.key === "ArrowRight" ? 1 : -1), { focusTab: true });
      } else if (event.key === "Delete") {
        closeTab(tab);
      }
    });
    return item;
  }));
  const tab = tabs.active;
  $("doc-title").textContent = tab ? (tab.dirty ? "\u2022 " : "") + tab.name : "";
  document.title = tab ? `${tab.name} \u2014 ${product}` : product;
  document.body.classList.toggle("no-document", !tab);
  $("save").disabled = !tab;
  $("save-as").disabled = !tab;
  showNotice();
  treeView.setCurrent(tab && tab.path && tab.folder === state.folder ? tab.path : null);
  sendMenus();
}

// Shows a tab in the editor, keeping the state of the one it replaces (unless
// that one was closed).
function showTab(tab, { focusTab = false } = {}) {
  if (!tab) return;
  if (shownTab !== tab) {
    if (shownTab && tabs.byId(shownTab.id)) shownTab.state = editor.view.state;
    editor.show(tab.state);
    shownTab = tab;
    preview.reset();
  }
  tabs.activate(tab.id);
  showTabs();
  showPosition(editor.view.state);
  scheduleCounts();
  if (focusTab) document.querySelector(`#tabs [data-tab="${tab.id}"]`)?.focus();
  else editor.view.focus();
}

function showNothing() {
  shownTab = null;
  editor.show(editor.makeState(""));
  preview.reset();
  showTabs();
  showPosition(editor.view.state);
  scheduleCounts();
}

// Asks about unsaved edits; resolves true when the tab may go.
async function mayClose(tab) {
  if (!tab.dirty) return true;
  showTab(tab);
  const choice = await ask({
    title: `Do you want to save the changes to ${tab.name}?`,
    message: "Your changes will be lost if you don't save them.",
    choices: [
      { label: "Don't Save", value: "discard" },
      { label: "Cancel", value: "cancel", cancel: true },
      { label: "Save", value: "save", default: true },
    ],
  });
  if (choice === "cancel") return false;
  if (choice === "save") return await save(tab);
  return true;
}

async function closeTab(tab) {
  if (!tab || !(await mayClose(tab))) return false;
  if (tabs.activeId === tab.id) {
    const next = tabs.remove(tab.id);
    if (next) showTab(next);
    else showNothing();
  } else {
    tabs.remove(tab.id);
    showTabs();
  }
  return true;
}

// --- notices (one per tab, shown above its text) -------------------------------

function setNotice(tab, notice) {
  tab.notice = notice;
  if (tab.id === tabs.activeId) showNotice();
}

function showNotice() {
  const tab = tabs.active;
  const notice = tab && tab.notice;
  $("notice").hidden = !notice;
  if (!notice) return;
  $("notice").dataset.kind = notice.kind || "";
  $("notice-text").textContent = notice.text;
  $("notice-actions").replaceChildren(...(notice.choices || []).map((choice) => {
    const button = el("button", { type: "button", text: choice.label, "data-choice": choice.value });
    button.addEventListener("click", () => choice.run(tab));
    return button;
  }));
}

function pageNotice(text) {
  const tab = tabs.active;
  if (tab) setNotice(tab, { text });
  else status(text);
}

// --- documents ------------------------------------------------------------------

// A path names a document inside the folder open when the tab was opened. Once
// another folder is open, the same path would name another file: such a tab
// is read and saved no more by its path (Save asks where to put it instead).
function reachable(tab) {
  return !!tab.file || (!!tab.path && tab.folder === state.folder);
}

function addressOf(tab) {
  return tab.file ? { file: tab.file } : { path: tab.path };
}

async function readDocument(address) {
  const answer = await api("GET", "/api/file", { query: address });
  if (!answer.ok) return { error: problem(answer) };
  const where = answer.headers.get("X-Quillmarsh-Location");
  return {
    text: decoder.decode(answer.bytes),
    version: answer.headers.get("X-Quillmarsh-Version"),
    location: where ? decodeURIComponent(where) : "",
  };
}

async function openDocument(address, hint = {}) {
  if (address.path) address = { ...address, folder: state.folder };
  const known = tabs.find({ ...address, location: hint.location });
  if (known) return showTab(known);
  const read = await readDocument(address);
  if (read.error) return status(read.error);
  // Opened meanwhile, or the same file under another name (a handle and a path).
  const again = tabs.find({ ...address, location: read.location });
  if (again) return showTab(again);
  const fresh = editor.makeState(read.text);
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

function newDocument() {
  const fresh = editor.makeState("");
  const count = tabs.list.filter((tab) => !tab.path && !tab.file).length;
  const tab = tabs.add({ name: count ? `Untitled ${count + 1}.md` : "Untitled.md", version: "new", state: fresh, savedDoc: fresh.doc });
  showTab(tab);
}

// Puts new text from disk into a tab, as one change its history can undo.
function takeText(tab, text, version) {
  if (tab === shownTab) {
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
}

async function reloadTab(tab) {
  if (!reachable(tab)) return setNotice(tab, { text: `${tab.name} cannot be read again: its folder is no longer open.` });
  const read = await readDocument(addressOf(tab));
  if (read.error) return setNotice(tab, { text: `${tab.name} could not be read again: ${read.error}` });
  takeText(tab, read.text, read.version);
  status(`Reloaded ${tab.name}`);
}

// Saves of one tab run one after another: a second Ctrl+S while the first is
// under way then sends the version the first one made, not the stale one.
function save(tab = tabs.active, options = {}) {
  if (!tab) return Promise.resolve(false);
  const run = (tab.saving || Promise.resolve()).then(() => saveNow(tab, options));
  tab.saving = run.catch(() => false);
  return run;
}

async function saveNow(tab, { overwrite = false } = {}) {
  if (!tab.path && !tab.file) return await saveAs(tab);
  if (!reachable(tab)) {
    status(`The folder of ${tab.name} is no longer open: choose where to save it.`);
    return await saveAs(tab);
  }
  const doc = textOf(tab);
  const bytes = new TextEncoder().encode(doc.toString());
  const answer = await api("PUT", "/api/file", {
    query: addressOf(tab),
    body: bytes,
    headers: {
      "X-Quillmarsh-Bytes": String(bytes.length),
      "X-Quillmarsh-Base-Version": tab.version || "new",
      "X-Quillmarsh-Overwrite": overwrite ? "1" : "0",
    },
  });
  if (answer.ok) {
    tab.version = answer.json.version;
    tab.savedDoc = doc;
    tab.dirty = !textOf(tab).eq(doc);
    tab.missing = false;
    tab.toldVersion = null;
    tab.notice = null;
    showTabs();
    status(`Saved ${tab.name}${answer.json.backup ? "; the earlier version is in Backups" : ""}`);
    return true;
  }
  const refusal = saveRefusal(answer.status, answer.json);
  if (refusal.action === "overwrite" && !overwrite) return await saveNow(tab, { overwrite: true });
  if (refusal.action === "ask") {
    conflictNotice(tab, `${tab.name} was not saved: ${problem(answer)}.`);
    return false;
  }
  setNotice(tab, { kind: "error", text: `${tab.name} was not saved: ${problem(answer)}` });
  return false;
}

async function saveAs(tab = tabs.active) {
  if (!tab) return false;
  const answer = await api("POST", "/api/choose-save", { query: { name: tab.name } });
  if (!answer.ok) {
    status(problem(answer));
    return false;
  }
  if (answer.json.cancelled) return false;
  const other = tabs.find({ file: answer.json.file, location: answer.json.location });
  Object.assign(tab, { file: answer.json.file, path: undefined, folder: undefined, name: answer.json.name, location: answer.json.location, version: "new" });
  // The document now saved over is shown by this tab alone.
  if (other && other.id !== tab.id) tabs.remove(other.id);
  // The person already agreed to replace an existing file in the panel.
  return await saveNow(tab, { overwrite: !!answer.json.exists });
}

// What another program's change means for a tab with edits: the person chooses.
function conflictNotice(tab, text) {
  setNotice(tab, {
    kind: "conflict",
    text,
    choices: [
      { label: "Reload", value: "reload", run: () => reloadTab(tab) },
      { label: "Overwrite", value: "overwrite", run: () => save(tab, { overwrite: true }) },
      { label: "Compare", value: "compare", run: () => compare(tab) },
    ],
  });
}

async function compare(tab) {
  if (!reachable(tab)) return setNotice(tab, { text: `${tab.name} cannot be compared: its folder is no longer open.` });
  const read = await readDocument(addressOf(tab));
  if (read.error) return setNotice(tab, { text: `${tab.name} could not be read for comparing: ${read.error}` });
  const table = compareTable(sideBySide(textOf(tab).toString(), read.text));
  const choice = await ask({
    title: `Compare ${tab.name}`,
    body: table,
    choices: [
      { label: "Reload (take theirs)", value: "reload" },
      { label: "Overwrite (keep mine)", value: "overwrite" },
      { label: "Close", value: "close", cancel: true, default: true },
    ],
  });
  if (choice === "reload") return reloadTab(tab);
  if (choice === "overwrite") return save(tab, { overwrite: true });
}

// Asks which version of each open document lies on disk now and acts on it.
let checking = false;
let checkAgain = false;
async function checkVersions() {
  if (checking) return void (checkAgain = true);
  const items = versionItems(tabs.list.filter(reachable));
  if (!items.length) return;
  checking = true;
  try {
    const answer = await api("POST", "/api/versions", { body: JSON.stringify({ items }) });
    if (answer.status === 503) checkAgain = true;
    if (!answer.ok) return;
    for (const { id, action, version } of versionActions(tabs.list, answer.json.versions || {})) {
      const tab = tabs.byId(id);
      if (!tab) continue;
      if (action === "reload") {
        await reloadTab(tab);
      } else if (action === "conflict") {
        tab.toldVersion = version;
        conflictNotice(tab, `${tab.name} was changed by another program, and this tab has changes that are not saved.`);
      } else if (action === "missing") {
        tab.missing = true;
        setNotice(tab, { kind: "missing", text: `${tab.name} is no longer on disk. Save it to keep it.` });
        showTabs();
      } else if (action === "back") {
        tab.missing = false;
        setNotice(tab, null);
        showTabs();
      }
    }
  } finally {
    checking = false;
    if (checkAgain) {
      checkAgain = false;
      setTimeout(checkVersions, 500);
    }
  }
}

// --- the folder tree -------------------------------------------------------------

function showTree() {
  const name = state.folder ? state.folder.split("/").filter(Boolean).pop() || "/" : "No folder open";
  $("folder-name").textContent = name;
  $("folder-name").title = state.folder || "";
  $("tree-filter").hidden = !state.folder;
  $("tree-cut").hidden = !state.truncated;
  treeView.draw();
}

// The program has switched folders: from now on paths name documents of this one.
function folderNowOpen(folder) {
  if (folder === state.folder) return;
  state.folder = folder;
  state.files = [];
  treeView.reset();
  showTabs();
}

let treeRetry = 0;
async function refreshTree() {
  const answer = await api("GET", "/api/tree");
  if (answer.status === 503) {
    // A listing is under way; ask again shortly so this change is not missed.
    clearTimeout(treeRetry);
    treeRetry = setTimeout(refreshTree, 400);
    return;
  }
  if (!answer.ok) return status(problem(answer));
  folderNowOpen(answer.json.folder);
  state.files = (answer.json.files || []).map((entry) => entry.path);
  state.truncated = !!answer.json.truncated;
  treeView.setPaths(state.files);
  showTree();
  sendMenus();
}

async function chooseFolder() {
  const answer = await api("POST", "/api/choose-folder", state.folder ? { query: { start: state.folder } } : {});
  if (!answer.ok) return status(problem(answer));
  if (answer.json.cancelled) return;
  folderNowOpen(answer.json.folder);
  await refreshTree();
  await refreshRecent();
  status(`Opened the folder ${state.folder}`);
}

async function chooseFile() {
  const answer = await api("POST", "/api/choose-file");
  if (!answer.ok) return status(problem(answer));
  if (answer.json.cancelled) return;
  await openDocument({ file: answer.json.file }, answer.json);
  await refreshRecent();
}

async function closeFolder() {
  const answer = await api("POST", "/api/close-folder");
  if (!answer.ok) return status(problem(answer));
  folderNowOpen(null);
  state.files = [];
  state.truncated = false;
  showTree();
}

// --- quick open -------------------------------------------------------------------

async function quickOpen() {
  if (!state.folder) return;
  const picked = await chooseDocument(state.files);
  if (!picked) return;
  treeView.reveal(picked);
  await openDocument({ path: picked });
}

// --- Open Recent -----------------------------------------------------------------

async function refreshRecent() {
  const answer = await api("GET", "/api/recent");
  state.recent = answer.ok && Array.isArray(answer.json.items) ? answer.json.items : [];
  sendMenus();
}

async function openRecent(index) {
  const answer = await api("POST", "/api/recent/open", { query: { index: String(index) } });
  if (!answer.ok) {
    status(problem(answer));
    return refreshRecent();
  }
  if (answer.json.kind === "folder") {
    folderNowOpen(answer.json.folder);
    await refreshTree();
  }
  else await openDocument({ file: answer.json.file }, answer.json);
  await refreshRecent();
}

function toggleRecentList() {
  const list = $("recent-list");
  if (!list.hidden) return void (list.hidden = true);
  refreshRecent().then(() => {
    const items = state.recent.length ? state.recent : [{ name: "Nothing opened yet", index: -1 }];
    list.replaceChildren(...items.map((item) => {
      const row = el("div", { role: "menuitem", tabindex: "-1", title: item.path || "", className: item.missing ? "missing" : "",
                              text: item.kind === "folder" ? `${item.name}/` : item.name });
      if (item.index >= 0) {
        const open = () => {
          list.hidden = true;
          openRecent(item.index);
        };
        row.addEventListener("click", open);
        row.addEventListener("keydown", (event) => event.key === "Enter" && open());
      }
      return row;
    }));
    list.style.left = `${$("recent").getBoundingClientRect().left}px`;
    list.hidden = false;
    list.firstElementChild?.focus();
  });
}

// --- preview ---------------------------------------------------------------------

function setPreview(mode) {
  state.previewMode = mode;
  document.body.classList.toggle("preview-beside", mode === "beside");
  document.body.classList.toggle("preview-only", mode === "only");
  $("preview").hidden = mode === "off";
  preview.setOn(mode !== "off");
  sendMenus();
}

// A link in the preview to another document of the folder opens it in a tab.
function openLinked(href) {
  const tab = shownTab;
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

// --- menus, header and the program's calls -------------------------------------------

function sendMenus() {
  post({
    menus: buildMenus({
      product,
      hasDoc: !!tabs.active,
      hasFolder: !!state.folder,
      tabCount: tabs.list.length,
      recent: state.recent,
      sidebar: state.sidebar,
      wrap: editor.settings.wrap,
      lineNumbers: editor.settings.lineNumbers,
      previewMode: state.previewMode,
    }),
  });
}

// The strip is the window's title bar; its buttons are holes that stay the page's.
function sendHeader() {
  const strip = $("strip");
  const holes = [...strip.querySelectorAll("button, input")].slice(0, 64).map((control) => {
    const box = control.getBoundingClientRect();
    return [box.x, box.y, box.width, box.height];
  });
  post({ header: { height: strip.getBoundingClientRect().height, holes } });
}

async function about() {
  const [info, changes] = await Promise.all([api("GET", "/api/about"), api("GET", "/api/changelog")]);
  if (!info.ok) return pageNotice(problem(info));
  const details = info.json;
  const body = el("div", { className: "about" }, [
    el("p", { className: "about-version", text: `Version ${details.version || "?"}${details.build ? ` (${details.build})` : ""}` }),
    details.description ? el("p", { text: details.description }) : "",
    changes.ok && changes.json && changes.json.text ? el("pre", { className: "about-changes", text: changes.json.text }) : "",
  ]);
  await ask({ title: details.name || product, body, choices: [{ label: "Close", value: "close", default: true, cancel: true }] });
}

const commands = {
  newDocument,
  openFolder: chooseFolder,
  openFile: chooseFile,
  quickOpen,
  save: () => save(),
  saveAs: () => saveAs(),
  closeTab: () => closeTab(tabs.active),
  closeFolder,
  clearRecent: async () => {
    await api("POST", "/api/recent/clear");
    await refreshRecent();
  },
  sidebar: () => {
    state.sidebar = !state.sidebar;
    document.body.classList.toggle("no-sidebar", !state.sidebar);
    sendMenus();
  },
  wrap: () => {
    editor.set("wrap", !editor.settings.wrap);
    sendMenus();
  },
  previewBeside: () => setPreview(state.previewMode === "beside" ? "off" : "beside"),
  previewOnly: () => setPreview(state.previewMode === "only" ? "off" : "only"),
  lineNumbers: () => {
    editor.set("lineNumbers", !editor.settings.lineNumbers);
    sendMenus();
  },
  // The shown tab keeps its editor state: showTab moves to the neighbour itself.
  nextTab: () => tabs.list.length > 1 && showTab(tabs.neighbour(1)),
  previousTab: () => tabs.list.length > 1 && showTab(tabs.neighbour(-1)),
  about,
};
for (const name of ["undo", "redo", "selectAll", "find", "replace", "goToLine", "bold", "italic", "code", "link", "indent", "outdent"]) {
  commands[name] = () => tabs.active && editor.run(name);
}

let quitting = false;
window.Quillmarsh = {
  // Closes every tab, asking about unsaved ones; only when all are closed may the program end.
  quit() {
    if (quitting) return;
    quitting = true;
    setTimeout(async () => {
      try {
        const order = [...tabs.unsaved(), ...tabs.list.filter((tab) => !tab.dirty)];
        for (const tab of order) {
          if (!(await closeTab(tab))) return;
        }
        await api("POST", "/api/quit");
      } finally {
        quitting = false;
      }
    }, 0);
  },
  folderChanged() {
    refreshTree();
    checkVersions();
  },
  async openRequested() {
    const answer = await api("POST", "/api/opened");
    if (!answer.ok) return status(problem(answer));
    if (answer.json.skipped) status(`${answer.json.skipped} item(s) were not Markdown documents and were left out`);
    for (const entry of answer.json.files || []) {
      await openDocument(entry.path ? { path: entry.path } : { file: entry.file }, entry);
    }
  },
  menuRun(id) {
    const name = commandOf(id);
    if (name && commands[name]) return void commands[name]();
    const index = recentIndexOf(id);
    if (index !== null) openRecent(index);
  },
  about,
  settings() {
    pageNotice("There are no settings to change yet.");
  },
  async checkUpdates() {
    const answer = await api("GET", "/api/update/check");
    pageNotice(answer.ok ? JSON.stringify(answer.json) : problem(answer));
  },
};

// --- wiring ----------------------------------------------------------------------

treeView = new TreeView($("tree"), { onOpen: (path) => openDocument({ path }) });
editor = new Editor($("editor"), { onChange: documentChanged, onSelection: showPosition });
preview = new Preview($("preview"), editor.view, { openLink: openLinked });
$("open-folder").addEventListener("click", chooseFolder);
$("open-file").addEventListener("click", chooseFile);
$("recent").addEventListener("click", toggleRecentList);
$("save").addEventListener("click", () => save());
$("save-as").addEventListener("click", () => saveAs());
$("notice-close").addEventListener("click", () => tabs.active && setNotice(tabs.active, null));
$("tree-filter").addEventListener("input", () => treeView.setFilter($("tree-filter").value));
$("recent-list").addEventListener("keydown", (event) => {
  const rows = [...$("recent-list").children];
  const at = rows.indexOf(document.activeElement);
  if (event.key === "Escape") $("recent-list").hidden = true;
  else if (event.key === "ArrowDown") rows[Math.min(rows.length - 1, at + 1)]?.focus();
  else if (event.key === "ArrowUp") rows[Math.max(0, at - 1)]?.focus();
});
document.addEventListener("click", (event) => {
  if (!$("recent-list").contains(event.target) && event.target !== $("recent")) $("recent-list").hidden = true;
});
window.addEventListener("resize", sendHeader);

sendHeader();
showTree();
showNothing();
refreshRecent();
refreshTree();
api("GET", "/api/build").then(({ ok, json }) => status(ok ? `${json.name} ${json.version}` : "Could not read the build information"));
// Documents handed to the program at launch may have arrived before this page could be told.
window.Quillmarsh.openRequested();
