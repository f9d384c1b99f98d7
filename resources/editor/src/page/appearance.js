// What the look settings change in the page: colours, text size, the width of
// the text, the preview as a page, and line numbers in the editor.
import { views } from "./session.js";
import { sendMenus } from "./commands.js";

export function applyLook(values) {
  const root = document.documentElement;
  // "system" leaves the colours to the system's preference.
  if (values.theme === "light" || values.theme === "dark") root.dataset.theme = values.theme;
  else delete root.dataset.theme;
  root.dataset.textSize = values.textSize || "medium";
  root.dataset.width = values.width || "medium";
  root.dataset.margins = values.margins || "normal";
  document.body.classList.toggle("page-view", values.pageView === true);
  if (views.editor && typeof values.lineNumbers === "boolean" && views.editor.settings.lineNumbers !== values.lineNumbers) {
    views.editor.set("lineNumbers", values.lineNumbers);
    sendMenus();
  }
}
