// The editor page's start: makes the views, wires the page's controls to what
// they do, hands the program its calls, and reads what is open.
import "./styles.css";
import { $, tabs, views, reachable, addressOf } from "./session.js";
import { api } from "./api.js";
import { Editor } from "./editor.js";
import { TreeView } from "./treeView.js";
import { Preview } from "./preview.js";
import { status, showPosition } from "./statusBar.js";
import { setNotice } from "./notices.js";
import { documentChanged, showNothing } from "./tabStrip.js";
import { openDocument, openLinked } from "./documents.js";
import { save, saveAs } from "./saving.js";
import { showTree, refreshTree, chooseFolder, chooseFile } from "./folder.js";
import { refreshRecent, wireRecentList } from "./recent.js";
import { sendHeader, sendMenus } from "./commands.js";
import { programCalls } from "./programCalls.js";
import { previewPictures } from "./pictures.js";
import { onSettings, loadSettings } from "./settings.js";
import { applyLook } from "./appearance.js";
import { settingsExtras } from "./settingsDialog.js";
import { updatesAtLaunch } from "./updates.js";
import { templatesSettings } from "./templates.js";
import { startRemembering, viewChanged } from "./remember.js";
import { renderAutosaveRules, autosaveSettingsChanged } from "./autosave.js";

window.Quillmarsh = programCalls;

views.treeView = new TreeView($("tree"), { onOpen: (path) => openDocument({ path }) });
views.editor = new Editor($("editor"), { onChange: documentChanged, onSelection: (state) => { showPosition(state); viewChanged(); } });
const pictures = previewPictures($("preview"), {
  shownTab: () => views.shownTab,
  addressOf: (tab) => ((tab.path || tab.file) && reachable(tab) ? addressOf(tab) : null),
  setNotice,
});
views.preview = new Preview($("preview"), views.editor.view, { openLink: openLinked, pictures });
$("open-folder").addEventListener("click", chooseFolder);
$("open-file").addEventListener("click", chooseFile);
$("save").addEventListener("click", () => save());
$("save-as").addEventListener("click", () => saveAs());
$("notice-close").addEventListener("click", () => tabs.active && setNotice(tabs.active, null));
$("tree-filter").addEventListener("input", () => views.treeView.setFilter($("tree-filter").value));
wireRecentList();
window.addEventListener("resize", sendHeader);

sendHeader();
showTree();
showNothing();
refreshRecent();
refreshTree();
settingsExtras.sections.push(templatesSettings);
settingsExtras.fillAutosaveRules = renderAutosaveRules;
onSettings((values) => {
  applyLook(values);
  autosaveSettingsChanged(values);
  sendMenus();
});
const launchSettings = loadSettings();
api("GET", "/api/build").then(async ({ ok, json }) => {
  status(ok ? `${json.name} ${json.version}` : "Could not read the build information");
  await launchSettings;
  if (ok) updatesAtLaunch(json.version);
});
// Documents handed to the program at launch may have arrived before this page
// could be told; they open after the last session, if that comes back.
startRemembering(launchSettings, () => programCalls.openRequested());
