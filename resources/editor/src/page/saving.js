// Saving, and what happens when another program changed a document: the
// version goes with every save, a refusal becomes a notice with choices, and
// the open documents' versions are checked when the folder changes.
import { tabs, reachable, addressOf, textOf } from "./session.js";
import { api, problem } from "./api.js";
import { ask } from "./dialogs.js";
import { compareTable } from "./pickers.js";
import { versionItems, versionActions, saveRefusal } from "./versions.js";
import { sideBySide } from "./diff.js";
import { status } from "./statusBar.js";
import { setNotice } from "./notices.js";
import { showTabs } from "./tabStrip.js";
import { readDocument, reloadTab } from "./documents.js";
import { tabSaved } from "./remember.js";

// Saves of one tab run one after another: a second Ctrl+S while the first is
// under way then sends the version the first one made, not the stale one.
export function save(tab = tabs.active, options = {}) {
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
    tabSaved(tab);
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

export async function saveAs(tab = tabs.active) {
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
export async function checkVersions() {
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
