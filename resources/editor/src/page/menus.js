// The menu bar the page asks the program for, and the ids its items send
// back through menuRun. Ids are "m" and digits with dots, as the program
// requires; keys use its grammar ("Cmd" is the Ctrl key on Linux).

export const commandIds = {
  openFolder: "m1.1",
  openFile: "m1.2",
  save: "m1.4",
  saveAs: "m1.5",
  closeFolder: "m1.6",
  quickOpen: "m1.7",
  closeTab: "m1.8",
  clearRecent: "m1.9",
  newDocument: "m1.10",
  newFromTemplate: "m1.11",
  saveAsTemplate: "m1.12",
  chooseTemplates: "m1.13",
  forgetTemplates: "m1.14",
  undo: "m2.1",
  redo: "m2.2",
  selectAll: "m2.3",
  find: "m2.4",
  replace: "m2.5",
  goToLine: "m2.6",
  sidebar: "m3.1",
  wrap: "m3.2",
  lineNumbers: "m3.3",
  previewBeside: "m3.6",
  previewOnly: "m3.7",
  nextTab: "m3.4",
  previousTab: "m3.5",
  bold: "m4.1",
  italic: "m4.2",
  code: "m4.3",
  link: "m4.4",
  indent: "m4.5",
  outdent: "m4.6",
  about: "m5.1",
  checkUpdates: "m5.2",
  settings: "m2.7",
  autosaveDocument: "m2.20",
  autosaveFolder: "m2.21",
};

const recentPrefix = "m1.3.";

// The Open Recent entry an id names (its index in GET /api/recent), or null.
export function recentIndexOf(id) {
  if (!id.startsWith(recentPrefix)) return null;
  const number = Number(id.slice(recentPrefix.length));
  return Number.isInteger(number) && number >= 1 ? number - 1 : null;
}

export function commandOf(id) {
  return Object.keys(commandIds).find((name) => commandIds[name] === id) || null;
}

// view: { product, hasDoc, hasFolder, tabCount, recent: [{name, kind, index, missing}], sidebar, wrap, lineNumbers, previewMode, templates,
//         autosave: {enabled, document, folder} }
export function buildMenus(view) {
  const ids = commandIds;
  const doc = !!view.hasDoc;
  const recent = (view.recent || []).slice(0, 20).map((item) => ({
    label: item.kind === "folder" ? `${item.name}/` : item.name,
    id: `${recentPrefix}${item.index + 1}`,
    enabled: !item.missing,
  }));
  if (recent.length) recent.push({ sep: true });
  recent.push({ label: "Clear Menu", id: ids.clearRecent, enabled: recent.length > 0 });
  return [
    { label: "File", items: [
      { label: "New Document", id: ids.newDocument, key: "Cmd+N" },
      { label: "Open Folder\u2026", id: ids.openFolder, key: "Cmd+Shift+O" },
      { label: "Open File\u2026", id: ids.openFile, key: "Cmd+O" },
      { label: "Quick Open\u2026", id: ids.quickOpen, key: "Cmd+P", enabled: !!view.hasFolder },
      { label: "Open Recent", id: "m1.3", sub: recent },
      { sep: true },
      { label: "Save", id: ids.save, key: "Cmd+S", enabled: doc },
      { label: "Save As\u2026", id: ids.saveAs, key: "Cmd+Shift+S", enabled: doc },
      { sep: true },
      { label: "Close Tab", id: ids.closeTab, key: "Cmd+W", enabled: doc },
      { label: "Close Folder", id: ids.closeFolder, enabled: !!view.hasFolder },
      // The templates plugin's, while it is on.
      ...(view.templates ? [{ sep: true }, { label: "Templates", id: "m1.15", sub: [
        { label: "New from Template\u2026", id: ids.newFromTemplate, enabled: !!view.hasFolder },
        { label: "Save as Template\u2026", id: ids.saveAsTemplate, enabled: doc },
        { sep: true },
        { label: "Choose Templates Folder\u2026", id: ids.chooseTemplates },
        { label: "Forget Templates Folder", id: ids.forgetTemplates },
      ] }] : []),
    ] },
    { label: "Edit", items: [
      { label: "Undo", id: ids.undo, key: "Cmd+Z", enabled: doc },
      { label: "Redo", id: ids.redo, key: "Cmd+Shift+Z", enabled: doc },
      { sep: true },
      { label: "Select All", id: ids.selectAll, key: "Cmd+A", enabled: doc },
      { sep: true },
      { label: "Find\u2026", id: ids.find, key: "Cmd+F", enabled: doc },
      { label: "Find and Replace\u2026", id: ids.replace, key: "Cmd+Option+F", enabled: doc },
      { label: "Go to Line\u2026", id: ids.goToLine, key: "Cmd+L", enabled: doc },
      { sep: true },
      // Its key is the program's own Settings item's.
      { label: "Settings\u2026", id: ids.settings },
      { label: "Auto-Save This Document", id: ids.autosaveDocument, enabled: !!view.autosave?.enabled, checked: !!view.autosave?.document },
      { label: "Auto-Save This Folder", id: ids.autosaveFolder, enabled: !!view.autosave?.enabled, checked: !!view.autosave?.folder },
    ] },
    { label: "View", items: [
      { label: "Show Sidebar", id: ids.sidebar, key: "Cmd+Shift+B", checked: !!view.sidebar },
      { label: "Wrap Lines", id: ids.wrap, checked: !!view.wrap },
      { label: "Line Numbers", id: ids.lineNumbers, checked: !!view.lineNumbers },
      { sep: true },
      { label: "Preview Beside the Text", id: ids.previewBeside, key: "Cmd+Shift+P", checked: view.previewMode === "beside" },
      { label: "Preview Only", id: ids.previewOnly, key: "Cmd+Shift+R", checked: view.previewMode === "only" },
      { sep: true },
      { label: "Next Tab", id: ids.nextTab, key: "Cmd+Tab", enabled: view.tabCount > 1 },
      { label: "Previous Tab", id: ids.previousTab, key: "Cmd+Shift+Tab", enabled: view.tabCount > 1 },
    ] },
    { label: "Format", items: [
      { label: "Bold", id: ids.bold, key: "Cmd+B", enabled: doc },
      { label: "Italic", id: ids.italic, key: "Cmd+I", enabled: doc },
      { label: "Code", id: ids.code, key: "Cmd+E", enabled: doc },
      { label: "Link", id: ids.link, key: "Cmd+K", enabled: doc },
      { sep: true },
      { label: "Indent", id: ids.indent, key: "Cmd+]", enabled: doc },
      { label: "Outdent", id: ids.outdent, key: "Cmd+[", enabled: doc },
    ] },
    { label: "Help", items: [
      { label: `About ${view.product || "This Editor"}`, id: ids.about },
      { label: "Check for Updates\u2026", id: ids.checkUpdates },
    ] },
  ];
}
