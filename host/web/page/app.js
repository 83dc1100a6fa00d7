// The web face of vask-host: the contact list, the own status, the tabs
// (chats, search, settings, ignore list, own details) and the dialogs,
// kept up to date from the host's events.

import { connect, onEvent, send } from "./connection.js";
import {
  actionButtons,
  iconUrl,
  renderMenu,
  renderPage,
  setIcons,
  setImage,
  setMenu,
  statusIconUrl,
  statusName,
  updateSetting,
} from "./declared.js";
import {
  chatFor,
  chatKeys,
  initChats,
  onHistory,
  onMessage,
  onSendResult,
  onSending,
  openChat,
  updateChatHeader,
} from "./chat.js";
import {
  onFound,
  onNoticeClosed,
  onNoticeOpened,
  onResults,
  onSearchEnded,
  onSearchStarted,
  refreshResults,
  searchView,
} from "./search.js";

const $ = (id) => document.getElementById(id);

const state = {
  computer: "",
  ownStatus: 0,
  ownText: "",
  contacts: new Map(), // computer (capitals) -> {contact, computer, status, text, ignored}
  ignored: [],
  actions: [],
  page: null,
  unread: new Map(), // computer -> count
  detailsFor: "", // the computer whose details window this page opened
};

// ---- tabs --------------------------------------------------------------------

const tabs = new Map(); // key -> {button, view}
let active = "";

function addTab(key, title, view, { icon = "", closable = true } = {}) {
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
  const tab = { button, view, img, badge };
  tabs.set(key, tab);
  return tab;
}

function showTab(key) {
  if (!tabs.has(key)) return;
  active = key;
  $("welcome").hidden = true;
  for (const [k, tab] of tabs) {
    tab.button.classList.toggle("active", k === key);
    tab.button.setAttribute("aria-selected", k === key ? "true" : "false");
    tab.view.hidden = k !== key;
  }
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

function showOrAdd(key, title, makeView, options) {
  const tab = tabs.get(key) || addTab(key, title, makeView(), options);
  tab.button.hidden = false;
  showTab(key);
  return tab;
}

// ---- toasts and dialogs -------------------------------------------------------

function toast(text, kind = "info") {
  const div = document.createElement("div");
  div.className = `toast ${kind}`;
  div.textContent = text;
  $("toasts").append(div);
  setTimeout(() => div.remove(), 6000);
}

// Message boxes queue up: one dialog at a time.
const boxes = [];
function showBox(e) {
  boxes.push(e);
  if (!$("message-box").open) nextBox();
}
function nextBox() {
  const e = boxes.shift();
  if (!e) return;
  const dialog = $("message-box");
  const error = e.id === 10201;
  dialog.classList.toggle("error", error);
  dialog.querySelector(".box-title").textContent = e.title || "Vask";
  dialog.querySelector(".box-icon").textContent = error ? "!" : "i";
  dialog.querySelector(".box-text").textContent = e.text;
  dialog.showModal();
}
$("message-box").addEventListener("close", () => setTimeout(nextBox, 0));

// ---- the own status ------------------------------------------------------------

function renderOwn() {
  $("me-computer").textContent = state.computer || "…";
  const name = statusName(state.ownStatus);
  $("me-status-text").textContent = state.ownText ? `${name}: ${state.ownText}` : name;
  setImage($("me-icon"), statusIconUrl(state.ownStatus), name);
  setImage($("status-button-icon"), statusIconUrl(state.ownStatus));
  $("status-button-text").textContent = name;
  if (document.activeElement !== $("description")) $("description").value = state.ownText;
  renderMenu($("status-menu"), state.ownStatus, closeMenu);
  document.title = `Vask: ${state.computer} (${name})`;
}

function closeMenu() {
  $("status-menu").hidden = true;
  $("status-button").setAttribute("aria-expanded", "false");
}

$("status-button").addEventListener("click", (e) => {
  e.stopPropagation();
  const menu = $("status-menu");
  menu.hidden = !menu.hidden;
  $("status-button").setAttribute("aria-expanded", menu.hidden ? "false" : "true");
});
document.addEventListener("click", (e) => {
  if (!$("status-menu").contains(e.target)) closeMenu();
});
document.addEventListener("keydown", (e) => {
  if (e.key === "Escape") closeMenu();
});

$("description-form").addEventListener("submit", (e) => {
  e.preventDefault();
  send({ command: "status", status: state.ownStatus, text: $("description").value });
  $("description").blur();
});

// ---- contacts --------------------------------------------------------------

function describe(c) {
  const name = statusName(c.status);
  return c.text ? `${name}: ${c.text}` : name;
}

function renderContacts() {
  const list = $("contacts");
  list.replaceChildren();
  const contacts = [...state.contacts.values()].sort(
    (a, b) => (b.status !== 0) - (a.status !== 0) || a.computer.localeCompare(b.computer, "pl"),
  );
  for (const c of contacts) {
    const li = document.createElement("li");
    li.className = "contact";
    li.dataset.computer = c.computer;
    li.classList.toggle("offline", c.status === 0);
    li.classList.toggle("ignored", !!c.ignored);
    li.tabIndex = 0;
    const img = document.createElement("img");
    img.className = "status-icon";
    img.alt = "";
    setImage(img, statusIconUrl(c.status), statusName(c.status));
    const text = document.createElement("div");
    text.className = "contact-text";
    const name = document.createElement("div");
    name.className = "computer";
    name.textContent = c.computer;
    const line = document.createElement("div");
    line.className = "description muted";
    line.textContent = c.text || statusName(c.status);
    text.append(name, line);
    const badge = document.createElement("span");
    badge.className = "badge";
    const unread = state.unread.get(c.computer) || 0;
    badge.textContent = unread;
    badge.hidden = !unread;
    const more = document.createElement("button");
    more.className = "more";
    more.title = "Więcej";
    more.textContent = "⋯";
    more.addEventListener("click", (e) => {
      e.stopPropagation();
      contactMenu(c, more);
    });
    li.append(img, text, badge, more);
    li.addEventListener("click", () => openChat(c.computer));
    li.addEventListener("keydown", (e) => {
      if (e.key === "Enter") openChat(c.computer);
    });
    list.append(li);
    updateChatHeader(c.computer, statusIconUrl(c.status), describe(c));
    const tab = tabs.get(`chat:${c.computer}`);
    if (tab) setImage(tab.img, statusIconUrl(c.status));
  }
  $("contact-count").textContent = contacts.length
    ? `${contacts.filter((c) => c.status !== 0).length}/${contacts.length}`
    : "";
  if (!contacts.length) {
    const li = document.createElement("li");
    li.className = "empty muted";
    li.textContent = "Brak kontaktów: dodaj komputer poniżej albo go wyszukaj.";
    list.append(li);
  }
  refreshResults();
}

function contactMenu(c, anchor) {
  document.querySelector(".popup")?.remove();
  const menu = document.createElement("ul");
  menu.className = "menu popup";
  const entry = (text, run) => {
    const li = document.createElement("li");
    li.textContent = text;
    li.tabIndex = 0;
    li.addEventListener("click", () => {
      menu.remove();
      run();
    });
    menu.append(li);
  };
  entry("Rozmowa", () => openChat(c.computer));
  entry("Szczegóły", () => openDetails(c.computer));
  entry(c.ignored ? "Przestań ignorować" : "Ignoruj", () =>
    send({ command: c.ignored ? "unignore" : "ignore", computer: c.computer }),
  );
  entry("Usuń z listy", () => {
    if (confirm(`Usunąć ${c.computer} z listy kontaktów?`)) {
      send({ command: "remove", computer: c.computer });
    }
  });
  document.body.append(menu);
  const rect = anchor.getBoundingClientRect();
  menu.style.left = `${rect.left}px`;
  menu.style.top = `${rect.bottom + 2}px`;
  setTimeout(() => document.addEventListener("click", () => menu.remove(), { once: true }), 0);
}

$("add-form").addEventListener("submit", (e) => {
  e.preventDefault();
  const name = $("add-name").value.trim();
  if (!name) return;
  send({ command: "add", computer: name }).then((ok) => {
    if (ok) $("add-name").value = "";
  });
});

function renderUnread(computer) {
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
}

// ---- the details window -------------------------------------------------------

const kDetailsFields = [
  ["0", "Komputer"],
  ["1", "Sieć"],
  ["6", "Imię"],
  ["7", "Nazwisko"],
  ["8", "Pseudonim"],
  ["9", "Miasto"],
  ["11", "E-mail"],
  ["17", "Opis"],
];

function openDetails(computer) {
  state.detailsFor = computer.toUpperCase();
  send({ command: "details", computer });
}

function renderDetails(computer, window) {
  const dialog = $("details");
  dialog.querySelector(".box-title").textContent = `Szczegóły: ${computer}`;
  const list = dialog.querySelector(".fields");
  list.replaceChildren();
  for (const [column, label] of kDetailsFields) {
    const dt = document.createElement("dt");
    dt.textContent = label;
    const dd = document.createElement("dd");
    dd.dataset.column = column;
    dd.textContent = window[column] || "—";
    if (column === "1" && window[column] === "15") dd.textContent = "LAN (15)";
    list.append(dt, dd);
  }
  dialog.querySelector(".declared-actions").replaceChildren(...actionButtons(state.actions, "contact", computer));
  if (!dialog.open) dialog.showModal();
}

$("details").addEventListener("close", () => {
  if (state.detailsFor) send({ command: "details-close", computer: state.detailsFor });
  state.detailsFor = "";
});

// ---- the other tabs ---------------------------------------------------------

function openSearch() {
  showOrAdd("search", "Wyszukiwanie", () =>
    searchView(
      (name) => state.contacts.has(name.toUpperCase()),
      (name) => name.toUpperCase() === state.computer.toUpperCase(),
    ),
  );
}

function settingsView() {
  const view = document.getElementById("settings-view").content.firstElementChild.cloneNode(true);
  renderSettings(view);
  return view;
}

function renderSettings(view) {
  if (!view || !state.page) return;
  view.querySelector(".settings-title").textContent = `Ustawienia: ${state.page.title}`;
  renderPage(view.querySelector(".page"), state.page, pressButton);
}

let pressed = 0;
function pressButton(action) {
  pressed = action;
  send({ command: "page-press", action });
}

function ignoredView() {
  const view = document.getElementById("ignored-view").content.firstElementChild.cloneNode(true);
  const form = view.querySelector(".ignore-form");
  form.addEventListener("submit", (e) => {
    e.preventDefault();
    const name = form.computer.value.trim();
    if (name) send({ command: "ignore", computer: name }).then((ok) => ok && (form.computer.value = ""));
  });
  return view;
}

function renderIgnored() {
  const tab = tabs.get("ignored");
  if (!tab) return;
  const list = tab.view.querySelector(".ignored-list");
  list.replaceChildren();
  for (const computer of state.ignored) {
    const li = document.createElement("li");
    const name = document.createElement("span");
    name.textContent = computer;
    const button = document.createElement("button");
    button.textContent = "Przestań ignorować";
    button.addEventListener("click", () => send({ command: "unignore", computer }));
    li.append(name, button);
    list.append(li);
  }
  if (!state.ignored.length) {
    const li = document.createElement("li");
    li.className = "muted";
    li.textContent = "Nikt nie jest ignorowany.";
    list.append(li);
  }
}

function ownView() {
  const view = document.getElementById("own-view").content.firstElementChild.cloneNode(true);
  const form = view.querySelector(".own-form");
  form.addEventListener("submit", (e) => {
    e.preventDefault();
    for (const field of form.elements) {
      if (!field.name) continue;
      let value = field.value.trim();
      // The year lies in the upper 16 bits of its column.
      if (field.name === "19") value = String((Number(value) || 0) * 65536);
      send({ command: "own", column: Number(field.name), value });
    }
    toast("Zapisano moje dane.");
  });
  view.querySelector(".own-actions").append(...actionButtons(state.actions, "me"));
  send({ command: "own-details" });
  return view;
}

$("open-search").addEventListener("click", openSearch);
$("open-settings").addEventListener("click", () =>
  showOrAdd("settings", "Ustawienia", settingsView, { icon: iconUrl(0x20f00000) }),
);
$("open-ignored").addEventListener("click", () => {
  showOrAdd("ignored", "Ignorowani", ignoredView);
  renderIgnored();
});
$("open-own").addEventListener("click", () => showOrAdd("own", "Moje dane", ownView));

// ---- notifications -------------------------------------------------------------

function offerNotifications() {
  const button = $("notifications");
  button.hidden = !("Notification" in window) || Notification.permission !== "default";
}
$("notifications").addEventListener("click", () =>
  Notification.requestPermission().then(offerNotifications),
);

// ---- events ------------------------------------------------------------------

function contactFromList(c) {
  state.contacts.set(c.computer.toUpperCase(), {
    contact: c.contact,
    computer: c.computer.toUpperCase(),
    status: c.status,
    text: c.text || "",
    ignored: !!c.ignored,
  });
}

function byRow(row) {
  for (const c of state.contacts.values()) if (c.contact === row) return c;
  return null;
}

const handlers = {
  started(e) {
    state.computer = e.computer;
    renderOwn();
  },
  contacts(e) {
    state.ownStatus = e.ownStatus;
    state.ownText = e.ownText || "";
    state.contacts.clear();
    for (const c of e.contacts || []) contactFromList(c);
    renderOwn();
    renderContacts();
  },
  "contact-added"(e) {
    contactFromList({ contact: e.contact, computer: e.computer, status: 0, text: "" });
    renderContacts();
    toast(`Dodano ${e.computer.toUpperCase()} do kontaktów.`);
  },
  "contact-removed"(e) {
    state.contacts.delete(e.computer.toUpperCase());
    renderContacts();
  },
  "contact-status"(e) {
    const c = byRow(e.contact) || (e.address && state.contacts.get(e.address.toUpperCase()));
    if (!c) return;
    c.status = e.status;
    c.text = e.text || "";
    renderContacts();
  },
  "own-status"(e) {
    state.ownStatus = e.ownStatus;
    state.ownText = e.ownText || "";
    renderOwn();
  },
  icons(e) {
    setIcons(e.icons || []);
    renderOwn();
    renderContacts();
    setImage($("settings-icon"), iconUrl(0x20f00000));
    document.querySelector('link[rel="icon"]').href = iconUrl(0x20f00000) || "/res/120.ico";
  },
  menu(e) {
    setMenu(e);
    renderOwn();
    renderContacts();
  },
  page(e) {
    state.page = e;
    renderSettings(tabs.get("settings")?.view);
  },
  setting(e) {
    const view = tabs.get("settings")?.view;
    if (view) updateSetting(view, e.column, e.value);
    if (state.page) {
      for (const control of state.page.controls) {
        if (control.column === e.column) control.value = e.value;
      }
    }
  },
  "page-pressed"(e) {
    // The plug-in took the button: for the help button it opened its
    // document on this computer; the page shows the same document.
    if (e.action === pressed && e.answer) window.open("/doc/Vask.html", "_blank", "noopener");
    pressed = 0;
  },
  actions(e) {
    state.actions = e.items || [];
  },
  ignored() {
    send({ command: "ignored" });
    send({ command: "contacts" });
  },
  unignored() {
    send({ command: "ignored" });
    send({ command: "contacts" });
  },
  "ignored-list"(e) {
    state.ignored = e.computers || [];
    renderIgnored();
  },
  "own-details"(e) {
    const form = tabs.get("own")?.view.querySelector(".own-form");
    if (!form) return;
    for (const [column, value] of Object.entries(e.columns || {})) {
      const field = form.elements[column];
      if (!field) continue;
      field.value = column === "19" ? String(Math.floor((Number(value) || 0) / 65536) || "") : value;
    }
  },
  message: onMessage,
  sending: onSending,
  "send-result": onSendResult,
  history(e) {
    onHistory(e, (row) => byRow(row)?.computer);
  },
  "message-box": showBox,
  "notice-opened": onNoticeOpened,
  "notice-closed": onNoticeClosed,
  "search-started"() {
    openSearch();
    onSearchStarted();
  },
  "search-ended": onSearchEnded,
  "found-contact": onFound,
  results: onResults,
  details(e) {
    const c = byRow(e.contact);
    if (e.state === "fetching" && c && c.computer === state.detailsFor) renderDetails(c.computer, e.window);
  },
  "details-updated"(e) {
    if ($("details").open && e.computer.toUpperCase() === state.detailsFor) {
      renderDetails(state.detailsFor, e.window);
    }
  },
  error(e) {
    toast(`${e.message}`, "error");
  },
  "action-withdrawn"() {
    toast("Wtyczka nie oferuje teraz tej akcji.", "error");
  },
  chat(e) {
    toast(e.handled ? `Wtyczka wykonała: ${e.text}` : `Nieznane polecenie: ${e.text}`, e.handled ? "info" : "error");
  },
  quit() {
    $("offline-banner").textContent = "vask-host zakończył pracę.";
    $("offline-banner").hidden = false;
  },
};

onEvent((e) => {
  const handler = handlers[e.event];
  if (handler) handler(e);
});

initChats({
  addChatTab(chat) {
    const c = state.contacts.get(chat.computer);
    addTab(`chat:${chat.computer}`, chat.computer, chat.view, {
      icon: statusIconUrl(c ? c.status : 0),
    });
    if (c) updateChatHeader(c.computer, statusIconUrl(c.status), describe(c));
    else updateChatHeader(chat.computer, statusIconUrl(0), "nie ma na liście kontaktów");
  },
  showTab(key) {
    const tab = tabs.get(key);
    if (tab) tab.button.hidden = false;
    showTab(key);
  },
  activeTab: () => active,
  isContact: (computer) => state.contacts.has(computer),
  activeChat: () => (active.startsWith("chat:") ? active.slice(5) : ""),
  unread(computer) {
    state.unread.set(computer, (state.unread.get(computer) || 0) + 1);
    renderUnread(computer);
  },
  details: openDetails,
  toast,
});

document.addEventListener("visibilitychange", () => {
  if (!document.hidden && active.startsWith("chat:")) {
    state.unread.delete(active.slice(5));
    renderUnread(active.slice(5));
  }
});

connect({
  opened() {
    $("offline-banner").hidden = true;
    // The state afresh, on the first connection and after a lost one.
    for (const command of ["icons", "menu", "actions", "contacts", "page", "ignored", "results"]) {
      send({ command });
    }
  },
  lost() {
    $("offline-banner").hidden = false;
  },
  error(text) {
    toast(text, "error");
  },
});
offerNotifications();
