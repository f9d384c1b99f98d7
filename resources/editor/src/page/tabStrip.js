// The tab strip and which tab the editor shows: switching keeps each tab's own
// editor state, closing asks about unsaved edits.
import { $, product, state, tabs, views, reachable } from "./session.js";
import { el } from "./dom.js";
import { ask } from "./dialogs.js";
import { scheduleCounts, showPosition } from "./statusBar.js";
import { showNotice } from "./notices.js";
import { save } from "./saving.js";
import { sendMenus } from "./commands.js";
import { textChanged, tabClosed, viewChanged } from "./remember.js";
import { showScrollOf, rememberScrollOf } from "./sessionMemory.js";

let dirtyTimer = 0;
export function documentChanged(update) {
  const tab = views.shownTab;
  if (!tab) return;
  if (!tab.dirty) {
    tab.dirty = true;
    showTabs();
  }
  scheduleCounts();
  views.preview.changed(update);
  textChanged(tab, update);
  // Undoing back to the saved text makes the tab clean again; compared once typing pauses.
  clearTimeout(dirtyTimer);
  dirtyTimer = setTimeout(() => {
    const now = views.shownTab;
    if (now && now.dirty && now.savedDoc && views.editor.view.state.doc.eq(now.savedDoc)) {
      now.dirty = false;
      showTabs();
    }
  }, 300);
}

export function showTabs() {
  const bar = $("tabs");
  bar.replaceChildren(...tabs.list.map((tab) => {
    const active = tab.id === tabs.activeId;
    const close = el("button", { type: "button", className: "tab-close", title: "Close", "aria-label": `Close ${tab.name}`, tabindex: "-1", text: "\u00d7" });
    close.addEventListener("click", (event) => {
      event.stopPropagation();
      closeTab(tab);
    });
    const item = el("div", {
      className: "tab" + (active ? " active" : "") + (tab.dirty ? " dirty" : "") + (tab.missing ? " missing" : "") +
                 (reachable(tab) || !tab.path ? "" : " detached"),
      role: "tab", "aria-selected": active ? "true" : "false", tabindex: active ? "0" : "-1",
      title: (tab.location || tab.name) + (reachable(tab) || !tab.path ? "" : " (its folder is no longer open)"),
      "data-tab": tab.id, "data-path": tab.path, "aria-controls": "panes",
    }, [el("span", { className: "tab-marker", "aria-hidden": "true" }), el("span", { className: "tab-name", text: tab.name }), close]);
    if (tab.dirty) item.setAttribute("data-dirty", "");
    item.addEventListener("click", () => showTab(tab));
    item.addEventListener("auxclick", (event) => event.button === 1 && closeTab(tab));
    item.addEventListener("keydown", (event) => {
      const to = {
        ArrowRight: () => tabs.neighbour(1),
        ArrowLeft: () => tabs.neighbour(-1),
        Home: () => tabs.list[0],
        End: () => tabs.list[tabs.list.length - 1],
      }[event.key];
      if (to) {
        event.preventDefault();
        showTab(to(), { focusTab: true });
      } else if (event.key === "Enter" || event.key === " ") {
        // Into the tab's text, as a click on the tab would.
        event.preventDefault();
        showTab(tab);
      } else if (event.key === "Delete") {
        closeTab(tab);
      }
    });
    return item;
  }));
  const tab = tabs.active;
  $("doc-title").textContent = tab ? (tab.dirty ? "\u2022 " : "") + tab.name : "";
  document.title = tab ? `${tab.name} \u2014 ${product}` : product;
  document.body.classList.toggle("no-document", !tab);
  $("save").disabled = !tab;
  $("save-as").disabled = !tab;
  showNotice();
  views.treeView.setCurrent(tab && tab.path && tab.folder === state.folder ? tab.path : null);
  sendMenus();
  viewChanged();
}

// Shows a tab in the editor, keeping the state of the one it replaces (unless
// that one was closed).
export function showTab(tab, { focusTab = false } = {}) {
  if (!tab) return;
  const { editor } = views;
  const switched = views.shownTab !== tab;
  if (switched) {
    if (views.shownTab && tabs.byId(views.shownTab.id)) {
      views.shownTab.state = editor.view.state;
      rememberScrollOf(views.shownTab);
    }
    editor.show(tab.state);
    views.shownTab = tab;
    views.preview.reset();
  }
  tabs.activate(tab.id);
  showTabs();
  showPosition(editor.view.state);
  scheduleCounts();
  if (focusTab) document.querySelector(`#tabs [data-tab="${tab.id}"]`)?.focus();
  else editor.view.focus();
  // After the focus, which may scroll to the selection of the state just shown.
  if (switched) showScrollOf(tab);
}

export function showNothing() {
  const { editor } = views;
  views.shownTab = null;
  editor.show(editor.makeState(""));
  views.preview.reset();
  showTabs();
  showPosition(editor.view.state);
  scheduleCounts();
}

// Asks about unsaved edits; resolves true when the tab may go.
async function mayClose(tab) {
  if (!tab.dirty) return true;
  showTab(tab);
  const choice = await ask({
    title: `Do you want to save the changes to ${tab.name}?`,
    message: "Your changes will be lost if you don't save them.",
    choices: [
      { label: "Don't Save", value: "discard" },
      { label: "Cancel", value: "cancel", cancel: true },
      { label: "Save", value: "save", default: true },
    ],
  });
  if (choice === "cancel") return false;
  if (choice === "save") return await save(tab);
  return true;
}

export async function closeTab(tab) {
  if (!tab || !(await mayClose(tab))) return false;
  if (tabs.activeId === tab.id) {
    const next = tabs.remove(tab.id);
    if (next) showTab(next);
    else showNothing();
  } else {
    tabs.remove(tab.id);
    showTabs();
  }
  tabClosed(tab);
  return true;
}
