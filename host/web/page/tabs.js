// The tabs (chats, search, settings, ignore list, own details) and the
// unread counts on a contact and its chat tab.

import { setImage } from "./declared.js";
import { $, state } from "./state.js";

export const tabs = new Map(); // key -> {button, view}
let active = "";

// The key of the tab shown ("" when none is).
export function activeTab() {
  return active;
}

// `onShow` runs each time the tab is shown.
export function addTab(key, title, view, { icon = "", closable = true, onShow = null } = {}) {
  if (tabs.has(key)) return tabs.get(key);
  const button = document.createElement("div");
  button.className = "tab";
  button.setAttribute("role", "tab");
  button.dataset.key = key;
  const img = document.createElement("img");
  img.className = "status-icon";
  img.alt = "";
  setImage(img, icon);
  const label = document.createElement("span");
  label.className = "tab-title";
  label.textContent = title;
  const badge = document.createElement("span");
  badge.className = "badge";
  badge.hidden = true;
  button.append(img, label, badge);
  if (closable) {
    const close = document.createElement("button");
    close.className = "tab-close";
    close.title = "Zamknij kartę";
    close.textContent = "×";
    close.addEventListener("click", (e) => {
      e.stopPropagation();
      closeTab(key);
    });
    button.append(close);
  }
  button.addEventListener("click", () => showTab(key));
  $("tabs").append(button);
  view.hidden = true;
  $("views").append(view);
  const tab = { button, view, img, badge, onShow };
  tabs.set(key, tab);
  return tab;
}

export function showTab(key) {
  if (!tabs.has(key)) return;
  active = key;
  $("welcome").hidden = true;
  for (const [k, tab] of tabs) {
    tab.button.classList.toggle("active", k === key);
    tab.button.setAttribute("aria-selected", k === key ? "true" : "false");
    tab.view.hidden = k !== key;
  }
  tabs.get(key).onShow?.();
  if (key.startsWith("chat:")) {
    const computer = key.slice(5);
    state.unread.delete(computer);
    renderUnread(computer);
    const area = tabs.get(key).view.querySelector("textarea");
    if (area) area.focus();
  }
}

function closeTab(key) {
  const tab = tabs.get(key);
  if (!tab || key.startsWith("chat:")) {
    // A chat keeps its messages: its tab only hides.
    if (tab) tab.button.hidden = true;
  } else {
    tab.button.remove();
    tab.view.remove();
    tabs.delete(key);
  }
  if (active === key) {
    const next = [...tabs.entries()].find(([, t]) => !t.button.hidden);
    if (next) showTab(next[0]);
    else {
      active = "";
      for (const t of tabs.values()) t.view.hidden = true;
      $("welcome").hidden = false;
    }
  }
}

export function showOrAdd(key, title, makeView, options) {
  const tab = tabs.get(key) || addTab(key, title, makeView(), options);
  tab.button.hidden = false;
  showTab(key);
  return tab;
}

// The page's title with the count of unread messages in front, "(3) Vask".
export function renderTitle() {
  let unread = 0;
  for (const count of state.unread.values()) unread += count;
  document.title = unread ? `(${unread}) ${state.title}` : state.title;
}

export function renderUnread(computer) {
  const count = state.unread.get(computer) || 0;
  const li = document.querySelector(`#contacts li[data-computer="${CSS.escape(computer)}"] .badge`);
  if (li) {
    li.textContent = count;
    li.hidden = !count;
  }
  const tab = tabs.get(`chat:${computer}`);
  if (tab) {
    tab.badge.textContent = count;
    tab.badge.hidden = !count;
  }
  renderTitle();
}
