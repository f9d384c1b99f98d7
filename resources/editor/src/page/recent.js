// Open Recent: the program's list of documents and folders opened lately, as a
// menu of the program's and as the strip's drop-down list.
import { $, state } from "./session.js";
import { api, problem } from "./api.js";
import { el } from "./dom.js";
import { status } from "./statusBar.js";
import { openDocument } from "./documents.js";
import { folderNowOpen, refreshTree } from "./folder.js";
import { sendMenus } from "./commands.js";

export async function refreshRecent() {
  const answer = await api("GET", "/api/recent");
  state.recent = answer.ok && Array.isArray(answer.json.items) ? answer.json.items : [];
  sendMenus();
}

export async function openRecent(index) {
  const answer = await api("POST", "/api/recent/open", { query: { index: String(index) } });
  if (!answer.ok) {
    status(problem(answer));
    return refreshRecent();
  }
  if (answer.json.kind === "folder") {
    folderNowOpen(answer.json.folder);
    await refreshTree();
  }
  else await openDocument({ file: answer.json.file }, answer.json);
  await refreshRecent();
}

function closeRecentList({ focusButton = false } = {}) {
  $("recent-list").hidden = true;
  $("recent").setAttribute("aria-expanded", "false");
  if (focusButton) $("recent").focus();
}

export function toggleRecentList() {
  const list = $("recent-list");
  if (!list.hidden) return void closeRecentList();
  refreshRecent().then(() => {
    const items = state.recent.length ? state.recent : [{ name: "Nothing opened yet", index: -1 }];
    list.replaceChildren(...items.map((item) => {
      const row = el("div", { role: "menuitem", tabindex: "-1", title: item.path || "", className: item.missing ? "missing" : "",
                              text: item.kind === "folder" ? `${item.name}/` : item.name });
      if (item.index >= 0) {
        const open = () => {
          closeRecentList();
          openRecent(item.index);
        };
        row.addEventListener("click", open);
        row.addEventListener("keydown", (event) => event.key === "Enter" && open());
      }
      return row;
    }));
    list.style.left = `${$("recent").getBoundingClientRect().left}px`;
    list.hidden = false;
    $("recent").setAttribute("aria-expanded", "true");
    list.firstElementChild?.focus();
  });
}

// Arrow keys move along the list, Escape closes it, a click elsewhere too.
export function wireRecentList() {
  $("recent").addEventListener("click", toggleRecentList);
  $("recent-list").addEventListener("keydown", (event) => {
    const rows = [...$("recent-list").children];
    const at = rows.indexOf(document.activeElement);
    if (event.key === "Escape" || event.key === "Tab") {
      // Leaving the list by keys puts the focus back on its button (Tab then goes on from there).
      if (event.key === "Escape") event.preventDefault();
      closeRecentList({ focusButton: true });
    } else if (event.key === "ArrowDown" || event.key === "ArrowUp") {
      event.preventDefault();
      rows[event.key === "ArrowDown" ? Math.min(rows.length - 1, at + 1) : Math.max(0, at - 1)]?.focus();
    }
  });
  document.addEventListener("click", (event) => {
    if (!$("recent-list").contains(event.target) && event.target !== $("recent")) closeRecentList();
  });
}
