// The web face of vask-host: the contact list, the own status, the tabs
// (chats, search, settings, ignore list, own details) and the dialogs,
// kept up to date from the host's events. Each part is a module of its own;
// this one hands the events to them and opens the connection.

import {
  chatShown,
  initChats,
  kEverybody,
  onHistory,
  onMessage,
  onSendResult,
  onSending,
  openChat,
  updateChatHeader,
} from "./chat.js";
import { connect, onEvent, send } from "./connection.js";
import {
  byRow,
  contactFromList,
  describe,
  ignoredView,
  renderContacts,
  renderIgnored,
} from "./contacts.js";
import { iconUrl, setIcons, setImage, setMenu, statusIconUrl } from "./declared.js";
import { openDetails, renderDetails } from "./details.js";
import { kIconPlugin, kResourcePlugin, kStatusOffline } from "./host_ids.js";
import { ownStatusSeen, watchIdleness } from "./idle.js";
import { onOwnDetails, ownView, renderOwn } from "./own.js";
import {
  onFound,
  onNoticeClosed,
  onNoticeOpened,
  onResults,
  onSearchEnded,
  onSearchStarted,
  searchView,
} from "./search.js";
import { onPage, onSetting, settingsView } from "./settings.js";
import { $, state } from "./state.js";
import { activeTab, addTab, renderUnread, showOrAdd, showTab, tabs } from "./tabs.js";
import { showBox, toast } from "./toasts.js";

// ---- the tabs opened from the side bar -------------------------------------------

function openSearch() {
  showOrAdd("search", "Wyszukiwanie", () =>
    searchView(
      (name) => state.contacts.has(name.toUpperCase()),
      (name) => name.toUpperCase() === state.computer.toUpperCase(),
    ),
  );
}

$("open-search").addEventListener("click", openSearch);
$("open-settings").addEventListener("click", () =>
  showOrAdd("settings", "Ustawienia", settingsView, { icon: iconUrl(kIconPlugin) }),
);
$("open-ignored").addEventListener("click", () => {
  showOrAdd("ignored", "Ignorowani", ignoredView);
  renderIgnored();
});
$("open-own").addEventListener("click", () => showOrAdd("own", "Moje dane", ownView));
$("open-everybody").addEventListener("click", () => openChat(kEverybody));

// ---- notifications -------------------------------------------------------------

function offerNotifications() {
  const button = $("notifications");
  button.hidden = !("Notification" in window) || Notification.permission !== "default";
}
$("notifications").addEventListener("click", () =>
  Notification.requestPermission().then(offerNotifications),
);

// ---- events ------------------------------------------------------------------

const handlers = {
  started(e) {
    state.computer = e.computer;
    state.awayAfter = e.awayAfter ?? 0;
    renderOwn();
  },
  contacts(e) {
    state.ownStatus = e.ownStatus;
    state.ownText = e.ownText || "";
    state.contacts.clear();
    for (const c of e.contacts || []) contactFromList(c);
    ownStatusSeen();
    renderOwn();
    renderContacts();
  },
  "contact-added"(e) {
    contactFromList({ contact: e.contact, computer: e.computer, status: kStatusOffline, text: "" });
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
    ownStatusSeen();
    renderOwn();
  },
  icons(e) {
    setIcons(e.icons || []);
    renderOwn();
    renderContacts();
    setImage($("settings-icon"), iconUrl(kIconPlugin));
    document.querySelector('link[rel="icon"]').href = iconUrl(kIconPlugin) || `/res/${kResourcePlugin}.ico`;
  },
  menu(e) {
    setMenu(e);
    renderOwn();
    renderContacts();
  },
  page: onPage,
  setting: onSetting,
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
  "own-details": onOwnDetails,
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
  "details-unanswered"(e) {
    if (e.computer.toUpperCase() !== state.detailsFor) return;
    toast(`${e.computer} nie odpowiada: po ${e.seconds} s nie ma nowych danych.`, "error");
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
    const everybody = chat.computer === kEverybody;
    addTab(`chat:${chat.computer}`, everybody ? "Wszyscy" : chat.computer, chat.view, {
      icon: statusIconUrl(c ? c.status : kStatusOffline),
      onShow: () => chatShown(chat.computer),
    });
    if (everybody) updateChatHeader(chat.computer, "", "każdy komputer grupy roboczej z Vaskiem");
    else if (c) updateChatHeader(c.computer, statusIconUrl(c.status), describe(c));
    else updateChatHeader(chat.computer, statusIconUrl(kStatusOffline), "nie ma na liście kontaktów");
  },
  showTab(key) {
    const tab = tabs.get(key);
    if (tab) tab.button.hidden = false;
    showTab(key);
  },
  activeTab,
  isContact: (computer) => state.contacts.has(computer),
  activeChat: () => (activeTab().startsWith("chat:") ? activeTab().slice(5) : ""),
  unread(computer) {
    state.unread.set(computer, (state.unread.get(computer) || 0) + 1);
    renderUnread(computer);
  },
  details: openDetails,
  toast,
});

document.addEventListener("visibilitychange", () => {
  const active = activeTab();
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
watchIdleness();
