// Nothing typed is lost: the text of every tab with unsaved edits is kept by
// the program soon after typing pauses (and every few seconds while it goes
// on), and the entries left by a launch that ended without saving are offered
// at the next one.
import { $, state, tabs, views, textOf } from "./session.js";
import { api, problem, token } from "./api.js";
import { el } from "./dom.js";
import { PauseTimer } from "./pauseTimer.js";
import { newRecoveryId, keepBody } from "./rememberRules.js";
import { status } from "./statusBar.js";
import { showTab } from "./tabStrip.js";
import { openDocument } from "./documents.js";
import { autosaveWillSave } from "./autosave.js";
import { Keeper } from "./keeper.js";

export const keepPause = 1000;
export const keepAtMost = 5000;

// Keeps go through a worker that holds a copy of each text (see keeper.js);
// without one, the page sends them itself.
function startKeeper() {
  let worker = null;
  try {
    worker = new Worker("/web/keeper-worker.js");
    worker.postMessage({ kind: "token", token });
  } catch {
    worker = null;
  }
  return new Keeper(worker, (body) => api("POST", "/api/recovery", { body }));
}
const keeper = startKeeper();

// Keeps and clears of one tab run one after another, so that a clear made on
// saving is never overtaken by a keep still on its way.
function queue(tab, work) {
  const run = (tab.recoveryQueue || Promise.resolve()).then(work);
  tab.recoveryQueue = run.catch(() => {});
  return run;
}

async function keep(id, { paused = false } = {}) {
  const tab = tabs.byId(id);
  if (!tab) return;
  if (!tab.dirty) return forget(tab);
  // Auto-save writes the whole text moments after this pause: a copy kept now
  // would be cleared again at once. Should it not save, it keeps the text.
  tab.keepLeftToAutosave = paused && autosaveWillSave(tab);
  if (tab.keepLeftToAutosave) return;
  tab.recoveryId ||= newRecoveryId();
  await queue(tab, async () => {
    // Saved or closed while an earlier keep or clear was on its way: nothing to keep.
    if (!tab.dirty || !tabs.byId(id)) return;
    const answer = await keeper.keep(tab, textOf(tab), keepBody(tab, "", state.folder));
    if (answer.ok) tab.recoveryKept = true;
    else status(`The unsaved text of ${tab.name} could not be kept for recovery: ${problem(answer)}`);
  });
}

const timer = new PauseTimer({ pause: keepPause, most: keepAtMost, run: keep });

// Kept at once, not waiting for a pause (an auto-save that did not save).
export function keepNow(tab) {
  timer.cancel(tab.id);
  return keep(tab.id);
}

// The shown tab's text changed (by `update`, when the editor made the change).
export function recoveryChanged(tab, update) {
  if (!tab) return;
  if (update) keeper.changed(tab, update);
  timer.changed(tab.id);
}

// The tab is gone: so is the worker's copy of its text.
export function dropKeptText(tab) {
  keeper.drop(tab);
}

// The tab's text is on disk now or thrown away: its entry goes. A tab still
// holding edits made while it was saved is kept again.
export function forget(tab) {
  timer.cancel(tab.id);
  tab.keepLeftToAutosave = false;
  if (tab.dirty && tabs.byId(tab.id)) return recoveryChanged(tab);
  if (!tab.recoveryId || !tab.recoveryKept) return Promise.resolve();
  tab.recoveryKept = false;
  const id = tab.recoveryId;
  return queue(tab, () => api("POST", "/api/recovery/clear", { body: JSON.stringify({ id }) }));
}

// --- At launch: what an earlier launch left ----------------------------------

function ago(savedAt, now = Date.now()) {
  const minutes = Math.max(0, Math.round((now / 1000 - savedAt) / 60));
  if (minutes < 1) return "just now";
  if (minutes < 60) return `${minutes} min ago`;
  return new Date(savedAt * 1000).toLocaleString();
}

// Puts a kept text into a tab as an unsaved edit over what it shows.
function putText(tab, text) {
  showTab(tab);
  const { editor } = views;
  if (editor.view.state.doc.toString() === text) return;
  editor.view.dispatch(editor.replaceText(editor.view.state, text));
}

async function recover(item) {
  const opened = await api("POST", "/api/recovery/open", { body: JSON.stringify({ id: item.id }) });
  if (!opened.ok) return status(`${item.name} could not be recovered: ${problem(opened)}`), false;
  const read = await api("GET", "/api/recovery/text", { query: { id: item.id } });
  if (!read.ok) return status(`${item.name} could not be recovered: ${problem(read)}`), false;
  const { text } = read.json;
  const where = opened.json.path ? { path: opened.json.path } : opened.json.file ? { file: opened.json.file } : null;
  let tab = null;
  if (where) {
    await openDocument(where, { name: opened.json.name });
    tab = tabs.find(where.path ? { path: where.path, folder: state.folder } : where);
  }
  if (tab) {
    // The text started from the version the entry names: a file changed since
    // then is a conflict at the next save, never silently written over.
    if (item.base) tab.version = item.base;
  } else {
    const empty = views.editor.makeState("");
    tab = tabs.add({ name: opened.json.name || item.name, version: "new", state: empty, savedDoc: empty.doc });
  }
  // From here the entry is this tab's: kept again as it changes, cleared on saving.
  tab.recoveryId = item.id;
  tab.recoveryKept = true;
  putText(tab, text);
  if (!tab.dirty) {
    // The same text as on disk: nothing left to recover.
    await forget(tab);
  }
  status(`Recovered ${tab.name}: it is not saved yet.`);
  return true;
}

function discard(item) {
  return api("POST", "/api/recovery/clear", { body: JSON.stringify({ id: item.id }) });
}

function recoveryPanel() {
  let panel = $("recovery");
  if (!panel) {
    panel = el("section", { id: "recovery", role: "alert", "aria-label": "Texts to recover" });
    $("main").prepend(panel);
  }
  return panel;
}

// One notice for all entries; each row recovers or discards its own.
export function showRecoveryNotice(items) {
  const panel = recoveryPanel();
  const rows = el("ul", { className: "recovery-items" });
  const close = () => {
    if (!rows.children.length) panel.remove();
  };
  for (const item of items) {
    const recoverButton = el("button", { type: "button", text: "Recover", "data-choice": "recover", className: "default" });
    const discardButton = el("button", { type: "button", text: "Discard", "data-choice": "discard" });
    const row = el("li", { "data-id": item.id }, [
      el("span", { className: "recovery-name", text: item.name }),
      el("span", { className: "recovery-where", text: item.location || "untitled" }),
      el("span", { className: "recovery-when", text: `${item.size} characters, ${ago(item.savedAt)}` }),
      recoverButton,
      discardButton,
    ]);
    const settle = (work) => async () => {
      recoverButton.disabled = discardButton.disabled = true;
      if (await work(item)) {
        row.remove();
        close();
      } else {
        recoverButton.disabled = discardButton.disabled = false;
      }
    };
    recoverButton.addEventListener("click", settle(recover));
    discardButton.addEventListener("click", settle(async (entry) => (await discard(entry)).ok));
    rows.append(row);
  }
  const later = el("button", { type: "button", text: "Later", "data-choice": "later", title: "Offer them again at the next start" });
  later.addEventListener("click", () => panel.remove());
  panel.replaceChildren(
    el("p", { className: "recovery-title", text: items.length === 1
      ? "A text that was not saved when the program last ended can be recovered."
      : `${items.length} texts that were not saved when the program last ended can be recovered.` }),
    rows,
    el("div", { className: "recovery-actions" }, [later]),
  );
}

export async function offerRecovery() {
  const answer = await api("GET", "/api/recovery");
  if (!answer.ok || !answer.json || !Array.isArray(answer.json.items)) return;
  // Entries of tabs this launch already keeps are not left over.
  const ours = new Set(tabs.list.map((tab) => tab.recoveryId).filter(Boolean));
  const items = answer.json.items.filter((item) => !ours.has(item.id));
  if (items.length) showRecoveryNotice(items);
}
