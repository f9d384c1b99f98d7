// The settings dialog: one control per setting the page uses, each change sent
// at once and applied from the program's answer. It is one of the page's
// modal dialogs: the focus stays inside while it is open, Escape closes it.
import { el } from "./dom.js";
import { ask } from "./dialogs.js";
import { settingFields, formValues, changesOf } from "./settingsForm.js";
import { settings, loadSettings, changeSettings } from "./settings.js";
import { status } from "./statusBar.js";

// Other parts of the page add their own sections: fillAutosaveRules(element)
// lists the auto-save rules, each removable; plugins add their options.
export const settingsExtras = { fillAutosaveRules: null, sections: [] };

function control(field, value) {
  const id = `setting-${field.key}`;
  if (field.kind === "flag") {
    const box = el("input", { type: "checkbox", id, name: field.key });
    box.checked = value;
    return { label: el("label", { className: "flag" }, [box, ` ${field.label}`]), input: box };
  }
  const input = field.kind === "folderName"
    ? el("input", { type: "text", id, name: field.key, spellcheck: "false", autocomplete: "off", maxlength: "64" })
    : el("select", { id, name: field.key }, field.options.map(([option, label]) => el("option", { value: option, text: label })));
  input.value = value;
  return { label: el("label", { for: id, text: field.label }), input };
}

function readControl(field, input) {
  return field.kind === "flag" ? input.checked : input.value;
}

export async function openSettings() {
  if (!settings.values) await loadSettings();
  const form = formValues(settings.values);
  const body = el("div", { className: "settings" });
  let section = null;
  for (const field of settingFields) {
    if (field.section !== section) {
      section = field.section;
      body.append(el("h3", { text: section }));
    }
    const { label, input } = control(field, form[field.key]);
    const problemText = el("span", { className: "field-problem", id: `setting-${field.key}-problem`, "aria-live": "polite" });
    input.setAttribute("aria-describedby", problemText.id);
    const send = async () => {
      const { changes, invalid } = changesOf({ [field.key]: readControl(field, input) }, settings.values);
      problemText.textContent = invalid.length ? "A name of letters, digits, spaces, dots, hyphens or underscores, starting with a letter or digit." : "";
      if (!Object.keys(changes).length) return;
      const refused = await changeSettings(changes);
      if (refused) problemText.textContent = refused;
      else if (settings.values[field.key] !== changes[field.key]) problemText.textContent = "The program did not keep this value.";
    };
    // Lists and boxes apply as they change; the folder name once it is left or confirmed.
    input.addEventListener("change", send);
    // Return closes the dialog: a name typed is kept first.
    if (field.kind === "folderName") input.addEventListener("keydown", (event) => event.key === "Enter" && send());
    if (field.kind === "flag") body.append(label);
    else body.append(label, input);
    body.append(problemText);
  }
  body.append(el("h3", { text: "Auto-save rules" }));
  const rules = el("div", { id: "autosave-rules" });
  if (typeof settingsExtras.fillAutosaveRules === "function") settingsExtras.fillAutosaveRules(rules);
  else rules.append(el("p", { text: "No documents or folders have rules of their own." }));
  body.append(rules);
  for (const add of settingsExtras.sections) add(body);
  await ask({ title: "Settings", body, choices: [{ label: "Done", value: "done", default: true, cancel: true }] });
  status("Settings kept");
}
