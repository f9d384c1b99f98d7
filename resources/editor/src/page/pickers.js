// The dialogs' contents that are more than a question: the side-by-side
// comparison of two texts and the quick open list.

import { el } from "./dom.js";
import { ask } from "./dialogs.js";
import { quickOpenMatches } from "./quickOpen.js";

// rows: from sideBySide (diff.js).
export function compareTable(rows) {
  const table = el("div", { className: "compare", role: "table", "aria-label": "Your text and the text on disk" });
  table.append(el("div", { className: "compare-row compare-head", role: "row" }, [
    el("div", { role: "columnheader", text: "Your text (not saved)" }),
    el("div", { role: "columnheader", text: "On disk now" }),
  ]));
  for (const row of rows) {
    // A gap is where the other side has lines this one lacks: shaded, not marked as a change.
    const cell = (text, side) => el("div", {
      role: "cell",
      className: "compare-cell" + (text === null ? " compare-gap" : row.changed ? ` changed-${side}` : ""),
      text: text ?? "",
    });
    table.append(el("div", { className: "compare-row" + (row.changed ? " changed" : ""), role: "row" },
                    [cell(row.left, "mine"), cell(row.right, "theirs")]));
  }
  return table;
}

// Quick open: a field and the paths that match it, best first. Resolves to the
// chosen path, or null when the person cancels.
export async function chooseDocument(paths) {
  const field = el("input", { type: "text", id: "quick-open-field", placeholder: "Type part of a document's path",
                              "aria-label": "Document to open", autocomplete: "off", spellcheck: "false",
                              role: "combobox", "aria-controls": "quick-open-list", "aria-expanded": "true",
                              "aria-autocomplete": "list" });
  const list = el("ul", { id: "quick-open-list", role: "listbox", "aria-label": "Matching documents" });
  let matches = [];
  let chosen = 0;
  let picked = null;
  const draw = () => {
    matches = field.value ? quickOpenMatches(paths, field.value, 50) : paths.slice(0, 50);
    chosen = Math.min(chosen, Math.max(0, matches.length - 1));
    list.replaceChildren(...matches.map((path, index) => {
      const item = el("li", { role: "option", id: `quick-open-${index}`, "aria-selected": String(index === chosen), "data-path": path, text: path });
      // A click picks the path and answers as Return would.
      item.addEventListener("click", () => {
        chosen = index;
        field.dispatchEvent(new KeyboardEvent("keydown", { key: "Enter", bubbles: true }));
      });
      return item;
    }));
    list.children[chosen]?.scrollIntoView({ block: "nearest" });
    // The focus stays in the field; a screen reader follows the chosen option.
    if (matches.length) field.setAttribute("aria-activedescendant", `quick-open-${chosen}`);
    else field.removeAttribute("aria-activedescendant");
  };
  field.addEventListener("input", () => {
    chosen = 0;
    draw();
  });
  field.addEventListener("keydown", (event) => {
    if (event.key === "ArrowDown" || event.key === "ArrowUp") {
      event.preventDefault();
      chosen = Math.max(0, Math.min(matches.length - 1, chosen + (event.key === "ArrowDown" ? 1 : -1)));
      draw();
    } else if (event.key === "Enter") {
      picked = matches[chosen] || null;
    }
  });
  draw();
  const choice = await ask({
    title: "Quick Open",
    body: el("div", { className: "quick-open" }, [field, list]),
    choices: [{ label: "Open", value: "open", default: true }, { label: "Cancel", value: "cancel", cancel: true }],
  });
  return choice === "open" ? picked || matches[chosen] || null : null;
}
