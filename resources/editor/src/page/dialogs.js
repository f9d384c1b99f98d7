// The page's own modal dialogs: a question with buttons, answered by a click,
// Return (the default button) or Escape (the cancel button). The focus moves
// into the dialog, stays there while it is open, and goes back where it was.

import { el } from "./dom.js";

const layer = () => document.getElementById("dialog-layer");
let made = 0;

// The controls Tab moves between inside a box, in order.
function focusStops(box) {
  return [...box.querySelectorAll("button, input, textarea, select, [tabindex]")]
    .filter((element) => element.tabIndex >= 0 && !element.disabled && element.getClientRects().length);
}

// choices: [{ label, value, default?, cancel? }]; resolves to the chosen value.
// A question with a message and no other contents is an alert dialog: it
// interrupts the person to ask something that needs an answer.
export function ask({ title, message, choices, body }) {
  return new Promise((resolve) => {
    const returnFocus = document.activeElement;
    const id = `dialog-${++made}`;
    const box = el("div", {
      className: "dialog", role: body ? "dialog" : "alertdialog", "aria-modal": "true",
      "aria-labelledby": `${id}-title`, "aria-describedby": message ? `${id}-message` : undefined,
    });
    box.append(el("h2", { id: `${id}-title`, text: title }));
    if (message) box.append(el("p", { id: `${id}-message`, className: "dialog-message", text: message }));
    if (body) box.append(body);
    const row = el("div", { className: "dialog-buttons" });
    const cancel = choices.find((choice) => choice.cancel) || choices[choices.length - 1];
    const finish = (value) => {
      box.removeEventListener("keydown", keys);
      document.removeEventListener("focusin", keepFocus);
      box.remove();
      if (!layer().children.length) layer().hidden = true;
      if (returnFocus && returnFocus.isConnected && returnFocus.focus) returnFocus.focus();
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
        event.stopPropagation();
        finish(cancel.value);
      } else if (event.key === "Enter" && event.target.tagName !== "BUTTON" && event.target.tagName !== "TEXTAREA") {
        const chosen = choices.find((choice) => choice.default);
        if (chosen) {
          event.preventDefault();
          finish(chosen.value);
        }
      } else if (event.key === "Tab") {
        // Focus stays inside the dialog while it is open.
        const stops = focusStops(box);
        const at = stops.indexOf(document.activeElement);
        const next = event.shiftKey ? (at <= 0 ? stops.length - 1 : at - 1) : (at + 1) % stops.length;
        event.preventDefault();
        stops[next].focus();
      }
    };
    // A click or a program's call that moves the focus outside brings it back in.
    const keepFocus = (event) => {
      if (box.isConnected && box === layer().lastElementChild && !box.contains(event.target)) {
        (focusStops(box)[0] || box).focus();
      }
    };
    box.addEventListener("keydown", keys);
    document.addEventListener("focusin", keepFocus);
    layer().append(box);
    layer().hidden = false;
    (box.querySelector("input, select") || row.querySelector(".default") || row.querySelector("button")).focus();
  });
}
