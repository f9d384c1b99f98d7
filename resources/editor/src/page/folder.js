// The open folder: its tree, choosing another folder or a single document,
// closing it, and quick open over its documents.
import { $, state, views } from "./session.js";
import { api, problem } from "./api.js";
import { chooseDocument } from "./pickers.js";
import { status } from "./statusBar.js";
import { showTabs } from "./tabStrip.js";
import { openDocument } from "./documents.js";
import { refreshRecent } from "./recent.js";
import { sendMenus } from "./commands.js";

export function showTree() {
  const name = state.folder ? state.folder.split("/").filter(Boolean).pop() || "/" : "No folder open";
  $("folder-name").textContent = name;
  $("folder-name").title = state.folder || "";
  $("tree-filter").hidden = !state.folder;
  $("tree-cut").hidden = !state.truncated;
  views.treeView.draw();
}

// The program has switched folders: from now on paths name documents of this one.
export function folderNowOpen(folder) {
  if (folder === state.folder) return;
  state.folder = folder;
  state.files = [];
  views.treeView.reset();
  showTabs();
}

let treeRetry = 0;
export async function refreshTree() {
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
  views.treeView.setPaths(state.files);
  showTree();
  sendMenus();
}

export async function chooseFolder() {
  const answer = await api("POST", "/api/choose-folder", state.folder ? { query: { start: state.folder } } : {});
  if (!answer.ok) return status(problem(answer));
  if (answer.json.cancelled) return;
  folderNowOpen(answer.json.folder);
  await refreshTree();
  await refreshRecent();
  status(`Opened the folder ${state.folder}`);
}

export async function chooseFile() {
  const answer = await api("POST", "/api/choose-file");
  if (!answer.ok) return status(problem(answer));
  if (answer.json.cancelled) return;
  await openDocument({ file: answer.json.file }, answer.json);
  await refreshRecent();
}

export async function closeFolder() {
  const answer = await api("POST", "/api/close-folder");
  if (!answer.ok) return status(problem(answer));
  folderNowOpen(null);
  state.files = [];
  state.truncated = false;
  showTree();
}

export async function quickOpen() {
  if (!state.folder) return;
  const picked = await chooseDocument(state.files);
  if (!picked) return;
  views.treeView.reveal(picked);
  await openDocument({ path: picked });
}
