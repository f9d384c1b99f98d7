// The templates plugin, built into the page: a folder of Markdown templates
// the person chooses once (the program remembers it), new documents made
// from them in the open folder, the shown document kept as a new template.
// Switched off through the settings' pluginsOff; its options under plugins.templates.
import { state, tabs, textOf } from "./session.js";
import { api, problem } from "./api.js";
import { el } from "./dom.js";
import { ask } from "./dialogs.js";
import { status } from "./statusBar.js";
import { settings, changeSettings } from "./settings.js";
import { openDocument } from "./documents.js";
import { refreshTree } from "./folder.js";

export const templatesId = "templates";
const label = "Templates";

export function templatesOn(values) {
  return !(values && Array.isArray(values.pluginsOff) && values.pluginsOff.includes(templatesId));
}

function options(values) {
  const all = values && values.plugins && typeof values.plugins === "object" ? values.plugins : {};
  return all[templatesId] && typeof all[templatesId] === "object" ? all[templatesId] : {};
}

// A document's file name at the top of the open folder: no separators or
// control characters, no leading dots, ".md" once at the end.
export function documentFileName(proposed) {
  let name = String(proposed || "").replace(/[/\\:\u0000-\u001f\u007f]/g, " ").replace(/^[\s.]+/, "").replace(/\s+/g, " ");
  name = name.replace(/\.(md|markdown)$/i, "").trim().slice(0, 120).trim();
  return `${name || "Untitled"}.md`;
}

async function folderState() {
  const answer = await api("GET", "/api/plugin-folder", { query: { plugin: templatesId } });
  return answer.ok ? answer.json : { folder: null, files: [], error: problem(answer) };
}

export async function chooseTemplatesFolder() {
  const answer = await api("POST", "/api/plugin-folder/choose", { query: { plugin: templatesId, label } });
  if (!answer.ok) return status(problem(answer));
  if (!answer.json.cancelled) status(`Templates come from \u201C${answer.json.folder}\u201D: ${answer.json.files.length} found`);
  return answer.json;
}

export async function forgetTemplatesFolder() {
  const answer = await api("POST", "/api/plugin-folder/forget", { query: { plugin: templatesId } });
  status(answer.ok ? "The templates folder is forgotten" : problem(answer));
}

// The name field of a dialog, with the text chosen so typing replaces it.
function nameField(id, text, value) {
  const input = el("input", { type: "text", id, spellcheck: "false", autocomplete: "off" });
  input.value = value;
  return { input, body: el("div", { className: "settings" }, [el("label", { for: id, text }), input]) };
}

export async function newFromTemplate() {
  if (!templatesOn(settings.values)) return;
  if (!state.folder) return status("Open a folder first: a new document is made in it.");
  let found = await folderState();
  if (!found.folder) {
    const choice = await ask({
      title: "No templates folder",
      message: found.missing ? "The templates folder is no longer there. Choose it again?" : "Choose the folder that holds your templates.",
      choices: [{ label: "Choose Folder\u2026", value: "choose", default: true }, { label: "Cancel", value: "cancel", cancel: true }],
    });
    if (choice !== "choose") return;
    found = await chooseTemplatesFolder();
    if (!found || !found.folder) return;
  }
  if (!found.files.length) return status(`\u201C${found.folder}\u201D holds no Markdown templates.`);
  const list = el("select", { id: "template-choice", size: String(Math.min(8, Math.max(2, found.files.length))) },
    found.files.map((file, k) => el("option", { value: String(k), text: file.name })));
  list.value = "0";
  const { input, body } = nameField("template-name", "New document", options(settings.values).defaultName || "Untitled");
  body.prepend(el("label", { for: "template-choice", text: "Template" }), list);
  const choice = await ask({ title: "New from Template", body, choices: [
    { label: "Create", value: "create", default: true }, { label: "Cancel", value: "cancel", cancel: true },
  ] });
  if (choice !== "create") return;
  const template = found.files[Number(list.value)] || found.files[0];
  const path = documentFileName(input.value);
  const bytes = new TextEncoder().encode(template.text);
  // "new": the program refuses to put it where a file already is.
  const answer = await api("PUT", "/api/file", {
    query: { path },
    body: bytes,
    headers: { "X-Quillmarsh-Bytes": String(bytes.length), "X-Quillmarsh-Base-Version": "new", "X-Quillmarsh-Overwrite": "0" },
  });
  if (answer.status === 409) return status(`${path} already exists: choose another name.`);
  if (!answer.ok) return status(`${path} was not made: ${problem(answer)}`);
  await refreshTree();
  await openDocument({ path });
}

export async function saveAsTemplate() {
  if (!templatesOn(settings.values)) return;
  const tab = tabs.active;
  if (!tab) return;
  let found = await folderState();
  if (!found.folder) found = await chooseTemplatesFolder();
  if (!found || !found.folder) return;
  const { input, body } = nameField("template-new-name", "Template name", tab.name.replace(/\.(md|markdown)$/i, ""));
  const choice = await ask({ title: "Save as Template", body, choices: [
    { label: "Save", value: "save", default: true }, { label: "Cancel", value: "cancel", cancel: true },
  ] });
  if (choice !== "save") return;
  const answer = await api("POST", "/api/plugin-folder/create", {
    query: { plugin: templatesId, name: input.value },
    body: new TextEncoder().encode(textOf(tab).toString()),
  });
  status(answer.ok ? `Template \u201C${answer.json.name}\u201D saved in \u201C${found.folder}\u201D` : `The template was not saved: ${problem(answer)}`);
}

// Its part of the settings dialog: on or off, and the name new documents start with.
export function templatesSettings(body) {
  const values = settings.values || {};
  const on = el("input", { type: "checkbox", id: "setting-plugin-templates" });
  on.checked = templatesOn(values);
  on.addEventListener("change", () => {
    const off = (values.pluginsOff || []).filter((id) => id !== templatesId);
    changeSettings({ pluginsOff: on.checked ? off : [...off, templatesId] });
  });
  const name = el("input", { type: "text", id: "setting-plugin-templates-name", spellcheck: "false", autocomplete: "off", maxlength: "100" });
  name.value = options(values).defaultName || "Untitled";
  name.addEventListener("change", () => {
    const text = name.value.trim();
    if (!text) return;
    const plugins = { ...(settings.values.plugins || {}), [templatesId]: { ...options(settings.values), defaultName: text } };
    changeSettings({ plugins });
  });
  body.append(
    el("h3", { text: "Plugins" }),
    el("label", { className: "flag" }, [on, " Templates: new documents from a folder of templates"]),
    el("label", { for: name.id, text: "Name of a new document" }), name,
  );
}
