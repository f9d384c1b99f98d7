// Where the page's remembering (recovery, session, auto-save) hears about
// edits, saves and closed tabs, and how it starts at launch.
import { views } from "./session.js";
import { recoveryChanged, forget, offerRecovery, dropKeptText } from "./recovery.js";
import { sessionChanged, startSession, watchScrolling } from "./sessionMemory.js";
import { autosaveChanged, autosaveForget } from "./autosave.js";

// `update`: the editor's update that changed the shown tab's text.
export function textChanged(tab, update) {
  recoveryChanged(tab, update);
  autosaveChanged(tab);
}

// Saved, or its text replaced by the one on disk: the kept text is not needed.
export function tabSaved(tab) {
  forget(tab);
}

// Closed without saving or after it: its kept text is not needed any more.
export function tabClosed(tab) {
  autosaveForget(tab);
  forget(tab);
  dropKeptText(tab);
}

export function viewChanged() {
  sessionChanged();
}

// At launch: whatever an earlier launch left unsaved is offered (a notice,
// never waiting behind the question about the last session); the settings say
// whether the last session comes back; documents handed to the program open
// after it (and so are shown).
// `launchSettings` is the page's one read of the settings at launch (its
// answer); the auto-save delay follows them through the settings listeners.
export async function startRemembering(launchSettings, openRequested) {
  const answer = await launchSettings;
  const settings = answer.ok && answer.json ? answer.json : {};
  watchScrolling();
  await offerRecovery();
  await startSession(settings.startup);
  await openRequested();
  if (views.shownTab) sessionChanged();
}
