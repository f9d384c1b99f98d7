// The notice above the text: one per tab, with the choices it offers.
import { $, tabs } from "./session.js";
import { el } from "./dom.js";
import { status } from "./statusBar.js";

export function setNotice(tab, notice) {
  tab.notice = notice;
  if (tab.id === tabs.activeId) showNotice();
}

export function showNotice() {
  const tab = tabs.active;
  const notice = tab && tab.notice;
  $("notice").hidden = !notice;
  if (!notice) return;
  $("notice").dataset.kind = notice.kind || "";
  // What needs an answer or went wrong interrupts a screen reader; the rest waits its turn.
  $("notice").setAttribute("role", notice.kind ? "alert" : "status");
  $("notice-text").textContent = notice.text;
  $("notice-actions").replaceChildren(...(notice.choices || []).map((choice) => {
    const button = el("button", { type: "button", text: choice.label, "data-choice": choice.value });
    button.addEventListener("click", () => choice.run(tab));
    return button;
  }));
}

// A message about the shown document, or the status bar's when none is shown.
export function pageNotice(text) {
  const tab = tabs.active;
  if (tab) setNotice(tab, { text });
  else status(text);
}
