"use strict";
// A plain start page for the editor: open a folder, see its documents, edit
// one in a text area and save it safely. It talks to the program only through
// the API under /api/ (with the per-launch token) and the "quillmarsh"
// message channel, and it never sends a Blob body: strings and typed arrays
// only, which the program's scheme handler reads safely.

const token = document.querySelector('meta[name="quillmarsh-token"]').content;
const $ = (id) => document.getElementById(id);
const editor = $("editor");

const state = {
  folder: null,       // absolute path of the open folder, or null
  files: [],          // relative paths of its documents
  truncated: false,
  doc: null,          // { path } or { file }, plus name, location, version, savedText
  recent: [],         // the Open Recent listing
  sidebar: true,
  wrap: true,
};

// --- talking to the program -------------------------------------------------

function post(message) {
  try {
    window.webkit.messageHandlers.quillmarsh.postMessage(message);
  } catch (error) {
    // Outside the program (or in a frame that is not the editor) there is no channel.
  }
}

async function api(method, path, { query, body, headers } = {}) {
  if (body instanceof Blob) throw new TypeError("request bodies are strings or byte arrays, never Blobs");
  let url = path;
  // Escaped by hand: URLSearchParams writes spaces as "+", which the program
  // reads as a plus sign, as a URL's query may hold one.
  if (query) {
    url += "?" + Object.entries(query).map(([name, value]) => `${encodeURIComponent(name)}=${encodeURIComponent(value)}`).join("&");
  }
  const init = { method, headers: { "X-Quillmarsh-Token": token, ...(headers || {}) } };
  if (body !== undefined) init.body = body;
  const response = await fetch(url, init);
  const type = response.headers.get("Content-Type") || "";
  const answer = { status: response.status, ok: response.ok, headers: response.headers, json: null, bytes: null };
  if (type.startsWith("application/json")) answer.json = await response.json().catch(() => null);
  else answer.bytes = new Uint8Array(await response.arrayBuffer());
  return answer;
}

// The message the program gave with a refusal, as it worded it for the user.
function problem(answer) {
  return (answer.json && typeof answer.json.error === "string") ? answer.json.error : `request failed (${answer.status})`;
}

// --- what the person sees ---------------------------------------------------

function status(text) { $("status").textContent = text; }

function notice(text, action, run) {
  $("notice-text").textContent = text;
  const button = $("notice-action");
  button.hidden = !action;
  button.textContent = action || "";
  button.onclick = run ? () => { hideNotice(); run(); } : null;
  $("notice").hidden = false;
}

function hideNotice() { $("notice").hidden = true; }

function dirty() { return !!state.doc && editor.value !== state.doc.savedText; }

function showDocument() {
  const doc = state.doc;
  editor.disabled = !doc;
  $("save").disabled = !doc;
  $("save-as").disabled = !doc;
  $("doc-title").textContent = doc ? (dirty() ? "\u2022 " : "") + doc.name : "";
  document.title = doc ? `${doc.name} \u2014 ${$("product").textContent}` : $("product").textContent;
  for (const item of $("tree").children) {
    item.classList.toggle("current", !!doc && doc.path === item.dataset.path);
  }
}

function showTree() {
  $("folder-name").textContent = state.folder ? state.folder.split("/").filter(Boolean).pop() || "/" : "No folder open";
  $("folder-name").title = state.folder || "";
  const tree = $("tree");
  tree.replaceChildren(...state.files.map((path) => {
    const item = document.createElement("li");
    item.textContent = path;
    item.dataset.path = path;
    item.onclick = () => openDocument({ path });
    return item;
  }));
  if (state.truncated) {
    const more = document.createElement("li");
    more.textContent = "(more documents not shown)";
    tree.append(more);
  }
  showDocument();
}

// --- folders and documents --------------------------------------------------

async function refreshTree() {
  const answer = await api("GET", "/api/tree");
  if (answer.status === 503) return; // a listing is already under way; its answer will do
  if (!answer.ok) return status(problem(answer));
  state.folder = answer.json.folder;
  state.files = answer.json.files.map((entry) => entry.path);
  state.truncated = !!answer.json.truncated;
  showTree();
}

async function chooseFolder() {
  const answer = await api("POST", "/api/choose-folder", state.folder ? { query: { start: state.folder } } : {});
  if (!answer.ok) return status(problem(answer));
  if (answer.json.cancelled) return;
  state.folder = answer.json.folder;
  await refreshTree();
  await refreshRecent();
  status(`Opened the folder ${state.folder}`);
}

function addressOf(doc) { return doc.file ? { file: doc.file } : { path: doc.path }; }

function mayLeaveDocument() {
  return !dirty() || confirm(`${state.doc.name} has changes that are not saved. Discard them?`);
}

async function openDocument(address, { name, location } = {}) {
  if (!mayLeaveDocument()) return;
  const answer = await api("GET", "/api/file", { query: address });
  if (!answer.ok) return status(problem(answer));
  const text = new TextDecoder("utf-8").decode(answer.bytes);
  const where = answer.headers.get("X-Quillmarsh-Location");
  const shown = where ? decodeURIComponent(where) : (location || "");
  state.doc = {
    ...address,
    name: name || (address.path || shown).split("/").pop(),
    location: shown,
    version: answer.headers.get("X-Quillmarsh-Version"),
    savedText: text,
  };
  editor.value = text;
  hideNotice();
  showDocument();
  sendMenus();
  editor.focus();
  status(`Opened ${state.doc.name}`);
}

async function chooseFile() {
  const answer = await api("POST", "/api/choose-file");
  if (!answer.ok) return status(problem(answer));
  if (answer.json.cancelled) return;
  await openDocument({ file: answer.json.file }, answer.json);
}

async function save({ overwrite = false } = {}) {
  const doc = state.doc;
  if (!doc) return;
  const text = editor.value;
  const bytes = new TextEncoder().encode(text);
  const answer = await api("PUT", "/api/file", {
    query: addressOf(doc),
    body: bytes,
    headers: {
      "X-Quillmarsh-Bytes": String(bytes.length),
      "X-Quillmarsh-Base-Version": doc.version || "new",
      "X-Quillmarsh-Overwrite": overwrite ? "1" : "0",
    },
  });
  if (answer.ok) {
    doc.version = answer.json.version;
    doc.savedText = text;
    showDocument();
    status(`Saved ${doc.name} (${answer.json.bytes} bytes)${answer.json.backup ? "; the earlier version is in Backups" : ""}`);
    return;
  }
  if (answer.status === 409) {
    const mine = answer.json && answer.json.byThisApp ? " (by an earlier save from this window)" : "";
    notice(`${doc.name} was not saved: ${problem(answer)}${mine}.`, "Save anyway", () => save({ overwrite: true }));
    return;
  }
  notice(`${doc.name} was not saved: ${problem(answer)}`);
}

async function saveAs() {
  if (!state.doc) return;
  const answer = await api("POST", "/api/choose-save", { query: { name: state.doc.name } });
  if (!answer.ok) return status(problem(answer));
  if (answer.json.cancelled) return;
  state.doc = {
    file: answer.json.file,
    name: answer.json.name,
    location: answer.json.location,
    version: "new",
    savedText: state.doc.savedText,
  };
  // The person already agreed to replace an existing file in the panel.
  await save({ overwrite: !!answer.json.exists });
  sendMenus();
}

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
    state.folder = answer.json.folder;
    await refreshTree();
  } else {
    await openDocument({ file: answer.json.file }, answer.json);
  }
  await refreshRecent();
}

function toggleRecentList() {
  const list = $("recent-list");
  if (!list.hidden) { list.hidden = true; return; }
  refreshRecent().then(() => {
    list.replaceChildren(...(state.recent.length ? state.recent : [{ name: "Nothing opened yet", index: -1 }]).map((item) => {
      const row = document.createElement("div");
      row.textContent = item.kind === "folder" ? `${item.name}/` : item.name;
      row.title = item.path || "";
      if (item.missing) row.className = "missing";
      if (item.index >= 0) row.onclick = () => { list.hidden = true; openRecent(item.index); };
      return row;
    }));
    const at = $("recent").getBoundingClientRect();
    list.style.left = `${at.left}px`;
    list.hidden = false;
  });
}

async function checkOpenDocument() {
  const doc = state.doc;
  if (!doc || !doc.version || doc.version === "new") return;
  const answer = await api("POST", "/api/versions", { body: JSON.stringify({ items: [{ key: "doc", ...addressOf(doc) }] }) });
  if (!answer.ok || state.doc !== doc) return;
  const now = answer.json.versions && answer.json.versions.doc;
  if (!now || now === doc.version) return;
  if (now === "missing") return notice(`${doc.name} is no longer on disk. Save it to keep it.`);
  if (!dirty()) return openDocument(addressOf(doc), doc);
  notice(`${doc.name} was changed by another program.`, "Reload it", () => {
    doc.savedText = editor.value; // discard on purpose
    openDocument(addressOf(doc), doc);
  });
}

// --- the menu bar and the title strip ----------------------------------------

function sendMenus() {
  const hasDoc = !!state.doc;
  const recentItems = state.recent.slice(0, 20).map((item) => ({
    label: item.kind === "folder" ? `${item.name}/` : item.name,
    id: `m1.3.${item.index + 1}`,
    enabled: !item.missing,
  }));
  if (recentItems.length) recentItems.push({ sep: true });
  recentItems.push({ label: "Clear Menu", id: "m1.9", enabled: state.recent.length > 0 });
  post({
    menus: [
      { label: "File", items: [
        { label: "Open Folder\u2026", id: "m1.1", key: "Cmd+Shift+O" },
        { label: "Open File\u2026", id: "m1.2", key: "Cmd+O" },
        { label: "Open Recent", id: "m1.3", sub: recentItems },
        { sep: true },
        { label: "Save", id: "m1.4", key: "Cmd+S", enabled: hasDoc },
        { label: "Save As\u2026", id: "m1.5", key: "Cmd+Shift+S", enabled: hasDoc },
        { sep: true },
        { label: "Close Folder", id: "m1.6", enabled: !!state.folder },
      ] },
      { label: "Edit", items: [
        { label: "Undo", id: "m2.1", key: "Cmd+Z" },
        { label: "Redo", id: "m2.2", key: "Cmd+Shift+Z" },
      ] },
      { label: "View", items: [
        { label: "Show Sidebar", id: "m3.1", checked: state.sidebar },
        { label: "Wrap Lines", id: "m3.2", checked: state.wrap },
      ] },
      { label: "Help", items: [
        { label: "About This Editor", id: "m4.1" },
      ] },
    ],
  });
}

function sendHeader() {
  const strip = $("strip");
  const holes = [...strip.querySelectorAll("button")].map((button) => {
    const box = button.getBoundingClientRect();
    return [box.x, box.y, box.width, box.height];
  });
  post({ header: { height: strip.getBoundingClientRect().height, holes } });
}

async function closeFolder() {
  const answer = await api("POST", "/api/close-folder");
  if (!answer.ok) return status(problem(answer));
  state.folder = null;
  state.files = [];
  showTree();
  sendMenus();
}

async function about() {
  const answer = await api("GET", "/api/about");
  if (!answer.ok) return status(problem(answer));
  const info = answer.json;
  alert(`${info.name || $("product").textContent} ${info.version || ""}\n${info.license || ""}`);
}

const menuCommands = {
  "m1.1": chooseFolder,
  "m1.2": chooseFile,
  "m1.4": () => save(),
  "m1.5": saveAs,
  "m1.6": closeFolder,
  "m1.9": async () => { await api("POST", "/api/recent/clear"); await refreshRecent(); },
  "m2.1": () => { editor.focus(); document.execCommand("undo"); },
  "m2.2": () => { editor.focus(); document.execCommand("redo"); },
  "m3.1": () => { state.sidebar = !state.sidebar; document.body.classList.toggle("no-sidebar", !state.sidebar); sendMenus(); },
  "m3.2": () => { state.wrap = !state.wrap; document.body.classList.toggle("no-wrap", !state.wrap); sendMenus(); },
  "m4.1": about,
};

// --- what the program calls -------------------------------------------------

window.Quillmarsh = {
  // Closes the document (asking about unsaved edits), then tells the program it may end.
  quit() {
    setTimeout(async () => {
      if (dirty() && !confirm(`${state.doc.name} has changes that are not saved. Quit anyway?`)) return;
      await api("POST", "/api/quit");
    }, 0);
  },
  folderChanged() {
    if (state.folder) refreshTree();
    checkOpenDocument();
  },
  async openRequested() {
    const answer = await api("POST", "/api/opened");
    if (!answer.ok) return status(problem(answer));
    const files = answer.json.files || [];
    if (answer.json.skipped) status(`${answer.json.skipped} item(s) were not Markdown documents and were left out`);
    const last = files[files.length - 1];
    if (last) await openDocument(last.path ? { path: last.path } : { file: last.file }, last);
  },
  menuRun(id) {
    if (menuCommands[id]) return menuCommands[id]();
    const recent = /^m1\.3\.(\d+)$/.exec(id);
    if (recent) openRecent(Number(recent[1]) - 1);
  },
  about,
  settings() { notice("There are no settings to change yet."); },
  async checkUpdates() {
    const answer = await api("GET", "/api/update/check");
    notice(answer.ok ? JSON.stringify(answer.json) : problem(answer));
  },
};

// --- wiring -----------------------------------------------------------------

$("open-folder").onclick = chooseFolder;
$("open-file").onclick = chooseFile;
$("recent").onclick = toggleRecentList;
$("save").onclick = () => save();
$("save-as").onclick = saveAs;
$("notice-close").onclick = hideNotice;
editor.addEventListener("input", showDocument);
document.addEventListener("click", (event) => {
  if (!$("recent-list").contains(event.target) && event.target !== $("recent")) $("recent-list").hidden = true;
});
window.addEventListener("resize", sendHeader);

sendHeader();
sendMenus();
showTree();
refreshRecent();
refreshTree();
api("GET", "/api/build").then(({ ok, json }) => {
  status(ok ? `${json.name} ${json.version} on ${json.os}` : "Could not read the build information");
}).catch((error) => status(`Could not reach the native side: ${error}`));
// Documents handed to the program at launch may have arrived before this page
// could be told; collect them now.
window.Quillmarsh.openRequested();
