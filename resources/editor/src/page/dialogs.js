// The page's own modal dialogs: a question with buttons, answered by a click,
// Return (the default button) or Escape (the cancel button).

import { el } from "./dom.js";

const layer = () => document.getElementById("dialog-layer");

// choices: [{ label, value, default?, cancel? }]; resolves to the chosen value.
export function ask({ title, message, choices, body }) {
  return new Promise((resolve) => {
    const returnFocus = document.activeElement;
    const box = el("div", { className: "dialog", role: "dialog", "aria-modal": "true", "aria-labelledby": "dialog-title" });
    box.append(el("h2", { id: "dialog-title", text: title }));
    if (message) box.append(el("p", { className: "dialog-message", text: message }));
    if (body) box.append(body);
    const row = el("div", { className: "dialog-buttons" });
    const cancel = choices.find((choice) => choice.cancel) || choices[choices.length - 1];
    const finish = (value) => {
      box.removeEventListener("keydown", keys);
      box.remove();
      if (!layer().children.length) layer().hidden = true;
      if (returnFocus && returnFocus.focus) returnFocus.focus();
      resolve(value);
    };
    for (const choice of choices) {
      const button = el("button", { type: "button", text: choice.label, "data-choice": choice.value });
      if (choice.default) button.classList.add("default");
      button.addEventListener("click", () => finish(choice.value));
      row.append(button);
    }
    box.append(row);
    const keys = (event) => {
      if (event.key === "Escape") {
        event.preventDefault();
        finish(cancel.value);
      } else if (event.key === "Enter" && event.target.tagName !== "BUTTON" && event.target.tagName !== "TEXTAREA") {
        const chosen = choices.find((choice) => choice.default);
        if (chosen) {
          event.preventDefault();
          finish(chosen.value);
        }
      } else if (event.key === "Tab") {
        // Focus stays inside the dialog while it is open.
        const stops = [...box.querySelectorAll("button, input, textarea, [tabindex='0']")];
        const at = stops.indexOf(document.activeElement);
        const next = event.shiftKey ? (at <= 0 ? stops.length - 1 : at - 1) : (at + 1) % stops.length;
        event.preventDefault();
        stops[next].focus();
      }
    };
    box.addEventListener("keydown", keys);
    layer().append(box);
    layer().hidden = false;
    (box.querySelector("input") || row.querySelector(".default") || row.querySelector("button")).focus();
  });
}
