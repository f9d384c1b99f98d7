// Stands in for the page's remember.js in the benchmark's copy of the page
// with recovery, the session and auto-save left out: the same page in every
// other way, built from the same sources by remembering_work.py.
export function textChanged() {}
export function tabSaved() {}
export function tabClosed() {}
export function viewChanged() {}
export async function startRemembering(launchSettings, openRequested) {
  await openRequested();
}
