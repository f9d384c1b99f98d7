// The settings dialog's fields and the conversions between the program's
// settings and the form's controls. Plain data and functions, no page: the
// program keeps only values that pass its rules, and the form sends no other.

export const autosaveDelays = [1.5, 3, 5, 10];

// kind: "choice" (a list of texts), "flag" (a box), "delay" (seconds from
// autosaveDelays), "folderName" (the name of the pictures' folder).
export const settingFields = [
  { key: "theme", label: "Appearance", kind: "choice", section: "Look",
    options: [["system", "As the system"], ["light", "Light"], ["dark", "Dark"]] },
  { key: "textSize", label: "Text size", kind: "choice", section: "Look",
    options: [["small", "Small"], ["medium", "Medium"], ["large", "Large"], ["xlarge", "Extra large"]] },
  { key: "width", label: "Text width", kind: "choice", section: "Look",
    options: [["narrow", "Narrow"], ["medium", "Medium"], ["wide", "Wide"], ["full", "Full window"]] },
  { key: "lineNumbers", label: "Show line numbers", kind: "flag", section: "Look" },
  { key: "pageView", label: "Show the preview as a page", kind: "flag", section: "Look" },
  { key: "margins", label: "Page margins", kind: "choice", section: "Look",
    options: [["narrow", "Narrow"], ["normal", "Normal"], ["wide", "Wide"]] },
  { key: "autosaveDefault", label: "Save documents automatically unless a rule says otherwise", kind: "flag", section: "Saving" },
  { key: "autosaveDelay", label: "Save after typing pauses for", kind: "delay", section: "Saving",
    options: autosaveDelays.map((seconds) => [String(seconds), `${seconds} seconds`]) },
  { key: "assetsFolder", label: "Folder for pictures", kind: "folderName", section: "Saving" },
  { key: "startup", label: "At start-up", kind: "choice", section: "Start-up and updates",
    options: [["ask", "Ask whether to reopen the last documents"], ["reopen", "Reopen the last documents"], ["empty", "Start with nothing open"]] },
  { key: "updates", label: "Updates", kind: "choice", section: "Start-up and updates",
    options: [["ask", "Ask whether to check"], ["on", "Check once a day"], ["off", "Never check"]] },
];

// The same rule the program applies to the folder name: one to sixty-four
// characters, a letter or digit first, no "..".
export function validFolderName(name) {
  return typeof name === "string" && /^[A-Za-z0-9][A-Za-z0-9 _.-]{0,63}$/.test(name) && !name.includes("..");
}

// Each field's control value (a text for lists and names, a boolean for boxes),
// from the program's settings. A value the form cannot show falls back to the
// first choice, so the form never shows an empty list.
export function formValues(values) {
  const form = {};
  for (const field of settingFields) {
    const value = values ? values[field.key] : undefined;
    if (field.kind === "flag") form[field.key] = value === true;
    else if (field.kind === "folderName") form[field.key] = typeof value === "string" ? value : "";
    else {
      const text = typeof value === "number" || typeof value === "string" ? String(value) : "";
      form[field.key] = field.options.some(([option]) => option === text) ? text : field.options[0][0];
    }
  }
  return form;
}

// The value one control holds, as the program keeps it; undefined when it
// holds nothing the program would keep.
export function settingOf(field, control) {
  switch (field.kind) {
    case "flag":
      return typeof control === "boolean" ? control : undefined;
    case "delay": {
      const seconds = Number(control);
      return autosaveDelays.includes(seconds) && field.options.some(([option]) => option === String(control)) ? seconds : undefined;
    }
    case "folderName": {
      const name = typeof control === "string" ? control.trim() : "";
      return validFolderName(name) ? name : undefined;
    }
    default:
      return field.options.some(([option]) => option === control) ? control : undefined;
  }
}

// The changes to send for a form: only the fields it knows, only valid values,
// only those that differ from the program's. invalid: the keys left out as invalid.
export function changesOf(form, values) {
  const changes = {};
  const invalid = [];
  for (const field of settingFields) {
    if (!(field.key in form)) continue;
    const value = settingOf(field, form[field.key]);
    if (value === undefined) invalid.push(field.key);
    else if (!values || values[field.key] !== value) changes[field.key] = value;
  }
  return { changes, invalid };
}
