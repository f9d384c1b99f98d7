// What the program calls in the page (window.Quillmarsh): the quit protocol,
// folder changes, documents handed over, and the menus' items.
import { tabs } from "./session.js";
import { api, problem } from "./api.js";
import { commandOf, recentIndexOf } from "./menus.js";
import { status } from "./statusBar.js";
import { closeTab } from "./tabStrip.js";
import { openDocument } from "./documents.js";
import { checkVersions } from "./saving.js";
import { refreshTree } from "./folder.js";
import { openRecent } from "./recent.js";
import { commands, about } from "./commands.js";
import { holdSession, releaseSession } from "./sessionMemory.js";

let quitting = false;

export const programCalls = {
  // Closes every tab, asking about unsaved ones; only when all are closed may the program end.
  quit() {
    if (quitting) return;
    quitting = true;
    setTimeout(async () => {
      try {
        // What is open now is the session to come back to, not the empty strip closing leaves.
        await holdSession();
        const order = [...tabs.unsaved(), ...tabs.list.filter((tab) => !tab.dirty)];
        for (const tab of order) {
          if (!(await closeTab(tab))) return releaseSession();
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
    return commands.settings();
  },
  checkUpdates() {
    return commands.checkUpdates();
  },
};
