// The menus the program shows for the page, the commands they run, and the
// header message that tells the program where the title strip's buttons are.
import { $, product, state, tabs, views } from "./session.js";
import { api, post, problem } from "./api.js";
import { el } from "./dom.js";
import { ask } from "./dialogs.js";
import { buildMenus } from "./menus.js";
import { pageNotice } from "./notices.js";
import { showTab, closeTab } from "./tabStrip.js";
import { newDocument } from "./documents.js";
import { save, saveAs } from "./saving.js";
import { chooseFolder, chooseFile, closeFolder, quickOpen } from "./folder.js";
import { refreshRecent } from "./recent.js";
import { settings, changeSettings } from "./settings.js";
import { openSettings } from "./settingsDialog.js";
import { checkUpdates } from "./updates.js";
import { templatesOn, newFromTemplate, saveAsTemplate, chooseTemplatesFolder, forgetTemplatesFolder } from "./templates.js";
import { autosaveMenuState, knowRuleOf, toggleAutosave } from "./autosave.js";

export function sendMenus() {
  post({
    menus: buildMenus({
      product,
      hasDoc: !!tabs.active,
      hasFolder: !!state.folder,
      tabCount: tabs.list.length,
      recent: state.recent,
      sidebar: state.sidebar,
      wrap: views.editor.settings.wrap,
      lineNumbers: views.editor.settings.lineNumbers,
      previewMode: state.previewMode,
      templates: templatesOn(settings.values),
      autosave: autosaveMenuState(tabs.active),
    }),
  });
  knowRuleOf(tabs.active, sendMenus);
}

// The strip is the window's title bar; its buttons are holes that stay the page's.
export function sendHeader() {
  const strip = $("strip");
  const holes = [...strip.querySelectorAll("button, input")].slice(0, 64).map((control) => {
    const box = control.getBoundingClientRect();
    return [box.x, box.y, box.width, box.height];
  });
  post({ header: { height: strip.getBoundingClientRect().height, holes } });
}

function setPreview(mode) {
  state.previewMode = mode;
  // Told first: it reads where the editor is before the editor is hidden.
  views.preview.setMode(mode);
  document.body.classList.toggle("preview-beside", mode === "beside");
  document.body.classList.toggle("preview-only", mode === "only");
  $("preview").hidden = mode === "off";
  sendMenus();
}

export async function about() {
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

// What each menu item runs, by the names menus.js gives them.
export const commands = {
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
    views.editor.set("wrap", !views.editor.settings.wrap);
    sendMenus();
  },
  previewBeside: () => setPreview(state.previewMode === "beside" ? "off" : "beside"),
  previewOnly: () => setPreview(state.previewMode === "only" ? "off" : "only"),
  lineNumbers: () => {
    views.editor.set("lineNumbers", !views.editor.settings.lineNumbers);
    // A setting too: it is kept for the next start.
    changeSettings({ lineNumbers: views.editor.settings.lineNumbers });
    sendMenus();
  },
  // The shown tab keeps its editor state: showTab moves to the neighbour itself.
  nextTab: () => tabs.list.length > 1 && showTab(tabs.neighbour(1)),
  previousTab: () => tabs.list.length > 1 && showTab(tabs.neighbour(-1)),
  about,
  settings: openSettings,
  checkUpdates,
  newFromTemplate,
  saveAsTemplate,
  chooseTemplates: chooseTemplatesFolder,
  forgetTemplates: forgetTemplatesFolder,
  autosaveDocument: () => toggleAutosave("file", sendMenus),
  autosaveFolder: () => toggleAutosave("folder", sendMenus),
};
for (const name of ["undo", "redo", "selectAll", "find", "replace", "goToLine", "bold", "italic", "code", "link", "indent", "outdent"]) {
  commands[name] = () => tabs.active && views.editor.run(name);
}
