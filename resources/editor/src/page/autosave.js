// Auto-save: a document whose rule is on saves itself once typing pauses for
// the `autosaveDelay` setting, through Save's own path (a document changed
// elsewhere gives the conflict notice; nothing is written over it silently).
// The rules themselves are the program's: the document's own, else its
// nearest folder's, else the default.
import { state, tabs, reachable, addressOf } from "./session.js";
import { api, problem } from "./api.js";
import { el } from "./dom.js";
import { PauseTimer } from "./pauseTimer.js";
import { delayOf, mayAutosave } from "./rememberRules.js";
import { status } from "./statusBar.js";
import { save } from "./saving.js";
import { keepNow } from "./recovery.js";

const addressKey = (tab) => (tab.file ? `file:${tab.file}` : `path:${tab.path}`);

export async function ruleOf(tab) {
  const address = addressKey(tab);
  const answer = await api("GET", "/api/autosave", { query: addressOf(tab) });
  if (!answer.ok) return null;
  tab.autosave = answer.json;
  tab.autosaveAddress = address;
  return answer.json;
}

// The rule last answered for the tab, unless the tab names another document
// since (Save As).
function knownRule(tab) {
  return tab.autosave && tab.autosaveAddress === addressKey(tab) ? tab.autosave : null;
}

async function saveIfWanted(id) {
  const tab = tabs.byId(id);
  if (!tab) return;
  const saved = mayAutosave(tab, state.folder) && !!(await ruleOf(tab))?.effective &&
    mayAutosave(tab, state.folder) && (await save(tab));
  // Recovery left this pause to auto-save: what is still unsaved is kept now.
  if (!saved && tab.keepLeftToAutosave && tab.dirty && tabs.byId(id)) await keepNow(tab);
}

// Whether auto-save is about to save this tab once the current pause ends:
// its rule, as last answered, is on and it waits for its delay.
export function autosaveWillSave(tab) {
  return timer.pending(tab.id) && !!knownRule(tab)?.effective && mayAutosave(tab, state.folder);
}

const timer = new PauseTimer({ pause: 1500, run: saveIfWanted });

export function setAutosaveDelay(seconds) {
  timer.pause = delayOf(seconds) * 1000;
}

// The settings changed (the dialog): the delay, and the default every
// document without a rule of its own follows, are asked anew.
export function autosaveSettingsChanged(settings) {
  setAutosaveDelay(settings.autosaveDelay);
  for (const tab of tabs.list) tab.autosave = null;
}

// The shown tab's text changed.
export function autosaveChanged(tab) {
  if (tab && (tab.path || tab.file)) timer.changed(tab.id);
}

export function autosaveForget(tab) {
  timer.cancel(tab.id);
}

// --- Menu items: on or off for this document or its folder ------------------

// What the two menu items show for the active tab: checked when auto-save is
// on for it (the document) or its folder's rule, else the default, is on.
export function autosaveMenuState(tab) {
  if (!tab || !(tab.path || tab.file) || !reachable(tab)) return { enabled: false, document: false, folder: false };
  const rule = knownRule(tab);
  if (!rule) return { enabled: false, document: false, folder: false };
  return { enabled: true, document: !!rule.effective, folder: rule.folder === null ? !!rule.default : !!rule.folder };
}

// Asks for the active tab's rule once, then has the menus drawn again.
export function knowRuleOf(tab, redraw) {
  if (!tab || knownRule(tab) || tab.autosaveAsked || !(tab.path || tab.file) || !reachable(tab)) return;
  tab.autosaveAsked = true;
  ruleOf(tab).then((rule) => {
    tab.autosaveAsked = false;
    if (rule) redraw();
  });
}

export async function toggleAutosave(scope, redraw) {
  const tab = tabs.active;
  if (!tab || !(tab.path || tab.file) || !reachable(tab)) return;
  // Chosen before the rule was known: ask for it first rather than ignore the choice.
  if (!knownRule(tab) && !(await ruleOf(tab))) return status(`Auto-save of ${tab.name} cannot be changed now.`);
  const now = autosaveMenuState(tab);
  const value = scope === "file" ? !now.document : !now.folder;
  const answer = await api("POST", "/api/autosave", { body: JSON.stringify({ ...addressOf(tab), scope, value }) });
  if (!answer.ok) return status(problem(answer));
  tab.autosave = answer.json;
  tab.autosaveAddress = addressKey(tab);
  // Every open document of that folder may follow another rule now.
  for (const other of tabs.list) if (other !== tab) other.autosave = null;
  redraw();
  status(`Auto-save is ${answer.json.effective ? "on" : "off"} for ${tab.name}`);
  if (answer.json.effective && tab.dirty) timer.changed(tab.id);
}

// --- The list of all rules, for the settings ----------------------------------

// Draws every rule into `into` (replacing what it holds), each with a button
// that removes it; answers false when the program could not list them.
export async function renderAutosaveRules(into) {
  const answer = await api("GET", "/api/autosave/rules");
  if (!answer.ok) {
    into.replaceChildren(el("p", { className: "autosave-rules-empty", text: `The rules could not be read: ${problem(answer)}` }));
    return false;
  }
  drawRules(into, answer.json.rules || []);
  return true;
}

function drawRules(into, rules) {
  if (!rules.length) {
    into.replaceChildren(el("p", { className: "autosave-rules-empty", text: "No document or folder has a rule of its own." }));
    return;
  }
  into.replaceChildren(el("ul", { className: "autosave-rules" }, rules.map((rule) => {
    const remove = el("button", { type: "button", text: "Remove", "data-key": rule.key, "aria-label": `Remove the rule of ${rule.path}` });
    remove.addEventListener("click", async () => {
      remove.disabled = true;
      const answer = await api("POST", "/api/autosave/rules", { body: JSON.stringify({ key: rule.key, value: null }) });
      if (!answer.ok) {
        remove.disabled = false;
        return status(problem(answer));
      }
      for (const tab of tabs.list) tab.autosave = null;
      drawRules(into, answer.json.rules || []);
    });
    return el("li", { "data-key": rule.key }, [
      el("span", { className: "autosave-rule-kind", text: rule.kind === "folder" ? "Folder" : "Document" }),
      el("span", { className: "autosave-rule-path", text: rule.path, title: rule.path }),
      el("span", { className: "autosave-rule-value", text: rule.value ? "on" : "off" }),
      remove,
    ]);
  })));
}
