// The contact list: each contact with the plug-in's status icon and its
// description, its menu, the form that adds one, and the ignore list's tab.

import { openChat, updateChatHeader } from "./chat.js";
import { send } from "./connection.js";
import { setImage, statusIconUrl, statusName } from "./declared.js";
import { openDetails } from "./details.js";
import { kStatusOffline } from "./host_ids.js";
import { refreshResults } from "./search.js";
import { $, state } from "./state.js";
import { tabs } from "./tabs.js";

export function describe(c) {
  const name = statusName(c.status);
  return c.text ? `${name}: ${c.text}` : name;
}

export function renderContacts() {
  const list = $("contacts");
  list.replaceChildren();
  const contacts = [...state.contacts.values()].sort(
    (a, b) => (b.status !== kStatusOffline) - (a.status !== kStatusOffline) || a.computer.localeCompare(b.computer, "pl"),
  );
  for (const c of contacts) {
    const li = document.createElement("li");
    li.className = "contact";
    li.dataset.computer = c.computer;
    li.classList.toggle("offline", c.status === kStatusOffline);
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
    ? `${contacts.filter((c) => c.status !== kStatusOffline).length}/${contacts.length}`
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

export function contactFromList(c) {
  state.contacts.set(c.computer.toUpperCase(), {
    contact: c.contact,
    computer: c.computer.toUpperCase(),
    status: c.status,
    text: c.text || "",
    ignored: !!c.ignored,
  });
}

export function byRow(row) {
  for (const c of state.contacts.values()) if (c.contact === row) return c;
  return null;
}

export function ignoredView() {
  const view = document.getElementById("ignored-view").content.firstElementChild.cloneNode(true);
  const form = view.querySelector(".ignore-form");
  form.addEventListener("submit", (e) => {
    e.preventDefault();
    const name = form.computer.value.trim();
    if (name) send({ command: "ignore", computer: name }).then((ok) => ok && (form.computer.value = ""));
  });
  return view;
}

export function renderIgnored() {
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
