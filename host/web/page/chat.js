// The chat tabs: one a contact, with its history, the own messages with
// their sent marks, and the plug-in's notices (delivery failures, WinPopup
// notes) drawn apart from the words of the people.

import { send, sendChecked } from "./connection.js";
import { iconUrl } from "./declared.js";
import { kMessageTypeChat, kResourceMessage, kStatusDnd } from "./host_ids.js";
import { state } from "./state.js";

const chats = new Map(); // computer (capitals) -> chat
let hooks = null;

export function initChats(h) {
  hooks = h;
}

// The recipient that means every computer of the workgroup: its chat holds
// the messages to everybody.
export const kEverybody = "*";

export function chatFor(computer) {
  return chats.get(computer.toUpperCase());
}

function clock(seconds) {
  const date = seconds > 0 ? new Date(seconds * 1000) : new Date();
  return date.toLocaleTimeString("pl-PL", { hour: "2-digit", minute: "2-digit" });
}

function day(seconds) {
  const date = seconds > 0 ? new Date(seconds * 1000) : new Date();
  return date.toLocaleDateString("pl-PL", { day: "numeric", month: "long", year: "numeric" });
}

// Opens (or finds) the chat with `computer`; its history is asked for once.
export function openChat(computer) {
  const key = computer.toUpperCase();
  let chat = chats.get(key);
  if (!chat) {
    const view = document.getElementById("chat-view").content.firstElementChild.cloneNode(true);
    view.dataset.computer = key;
    chat = {
      computer: key,
      view,
      list: view.querySelector(".messages"),
      lastDay: "",
      historyAsked: false,
      scrollPending: false, // drawn into while hidden: scrolled down when shown
    };
    chats.set(key, chat);
    const form = view.querySelector(".compose");
    const area = form.querySelector("textarea");
    const refusal = form.querySelector(".compose-error");
    form.addEventListener("submit", (e) => {
      e.preventDefault();
      const text = area.value;
      if (!text.trim()) return;
      // A line that starts with "/" is a command for the plug-in, as in
      // the host's chat window.
      const request = text.startsWith("/") && !text.includes("\n")
        ? { command: "chat", text }
        : { command: "send", to: key, text };
      // A text the host refuses stays to be mended, with the reason beside.
      sendChecked(request).then(({ ok, error }) => {
        refusal.textContent = ok ? "" : error;
        refusal.hidden = ok;
        if (ok && area.value === text) area.value = "";
      });
    });
    area.addEventListener("input", () => {
      refusal.hidden = true;
    });
    area.addEventListener("keydown", (e) => {
      if (e.key === "Enter" && !e.shiftKey && !e.isComposing) {
        e.preventDefault();
        form.requestSubmit();
      }
    });
    const details = view.querySelector(".details-button");
    details.hidden = key === kEverybody;
    details.addEventListener("click", () => hooks.details(key));
    view.querySelector(".everybody-note").hidden = key !== kEverybody;
    hooks.addChatTab(chat);
  }
  if (!chat.historyAsked) {
    chat.historyAsked = true;
    // The host keeps the history of someone who is no contact too, under
    // no contact: the whole of it is asked for then.
    send(hooks.isContact(key) ? { command: "history", computer: key } : { command: "history" });
  }
  hooks.showTab(`chat:${key}`);
  return chat;
}

function dayMark(chat, seconds) {
  const d = day(seconds);
  if (d === chat.lastDay) return;
  chat.lastDay = d;
  const li = document.createElement("li");
  li.className = "day";
  li.textContent = d;
  chat.list.append(li);
}

// The newest message in sight; a hidden chat cannot scroll, so it is
// scrolled when its tab is shown.
function scrollDown(chat) {
  if (chat.view.hidden || !chat.view.isConnected) {
    chat.scrollPending = true;
    return;
  }
  chat.list.scrollTop = chat.list.scrollHeight;
}

// Its tab was shown.
export function chatShown(computer) {
  const chat = chats.get(computer.toUpperCase());
  if (!chat || !chat.scrollPending) return;
  chat.scrollPending = false;
  chat.list.scrollTop = chat.list.scrollHeight;
}

// A sent message's mark: what became of it, as the host told or kept it.
function setMark(mark, delivery) {
  const kMarks = {
    waiting: ["pending", "…", "wysyłanie…"],
    sent: ["sent", "✓", "wysłano"],
    failed: ["failed", "✗", "nie wysłano"],
  };
  const [kind, text, title] = kMarks[delivery] || kMarks.waiting;
  mark.className = `mark ${kind}`;
  mark.textContent = text;
  mark.title = title;
  mark.closest(".message")?.classList.toggle("failed", delivery === "failed");
}

// A person's words: theirs on the left, mine on the right.
function bubble(chat, { mine, from, body, time, messageId, delivery }) {
  dayMark(chat, time);
  const li = document.createElement("li");
  li.className = mine ? "message mine" : "message theirs";
  li.dataset.body = body;
  if (messageId !== undefined) li.dataset.messageId = messageId;
  const who = document.createElement("div");
  who.className = "who";
  who.textContent = mine ? "Ja" : from;
  const text = document.createElement("div");
  text.className = "body";
  text.textContent = body;
  const meta = document.createElement("div");
  meta.className = "meta";
  const at = document.createElement("time");
  at.textContent = clock(time);
  meta.append(at);
  li.append(who, text, meta);
  if (mine && (messageId !== undefined || delivery)) {
    const mark = document.createElement("span");
    meta.append(mark);
    setMark(mark, delivery || "waiting");
  }
  chat.list.append(li);
  scrollDown(chat);
  return li;
}

// The plug-in's notice: a strip across the chat, not a bubble.
function notice(chat, { from, body, explained, time }) {
  dayMark(chat, time);
  const li = document.createElement("li");
  li.className = "notice";
  li.dataset.body = body;
  const icon = document.createElement("span");
  icon.className = "notice-icon";
  icon.textContent = "!";
  const text = document.createElement("div");
  text.className = "body";
  // A failed delivery's code comes explained by the host.
  text.textContent = explained || body;
  const meta = document.createElement("time");
  meta.className = "meta";
  meta.textContent = `${clock(time)} · powiadomienie${from ? " · " + from : ""}`;
  li.append(icon, text, meta);
  chat.list.append(li);
  scrollDown(chat);
}

function notify(from, body, icon) {
  if (!("Notification" in window) || Notification.permission !== "granted") return;
  const shown = new Notification(`Vask: ${from}`, { body, icon: icon || undefined, tag: from });
  shown.onclick = () => {
    window.focus();
    openChat(from);
    shown.close();
  };
}

// The "message" event: a chat message or the plug-in's notice for the user.
export function onMessage(e) {
  const from = e.from || "";
  const isChat = (e.type ?? kMessageTypeChat) === kMessageTypeChat;
  const peer = from || hooks.activeChat();
  if (!peer) {
    hooks.toast(e.body, "notice");
    return;
  }
  const key = peer.toUpperCase();
  let chat = chats.get(key);
  if (!chat) {
    // An incoming message opens its chat without taking the front.
    const current = hooks.activeTab();
    chat = openChat(key);
    if (current) hooks.showTab(current);
  }
  const time = e.time > 0 ? e.time : Math.floor(Date.now() / 1000);
  if (isChat) bubble(chat, { mine: false, from, body: e.body, time });
  else notice(chat, { from, body: e.body, explained: e.explained, time });
  const seen = !document.hidden && hooks.activeTab() === `chat:${key}`;
  if (!seen) hooks.unread(key);
  // "Do not disturb": the message waits in its tab, unannounced.
  if (isChat && document.hidden && state.ownStatus !== kStatusDnd) notify(from, e.body, iconUrl(e.icon) || `/res/${kResourceMessage}.ico`);
}

export function onSending(e) {
  const chat = chats.get((e.to || "").toUpperCase()) || openChat(e.to);
  bubble(chat, {
    mine: true,
    from: "",
    body: e.body,
    time: Math.floor(Date.now() / 1000),
    messageId: e.messageId,
  });
}

// The plug-in's answer for a sent message: a mark on it.
export function onSendResult(e) {
  for (const chat of chats.values()) {
    const li = chat.list.querySelector(`.message.mine[data-message-id="${e.messageId}"]`);
    if (!li) continue;
    setMark(li.querySelector(".mark"), e.sent ? "sent" : "failed");
    return;
  }
}

// The "history" event, asked for by a chat when it opened. It holds what
// the chat drew meanwhile too (the host stores a message before it shows
// it): those stay as drawn, with their marks, and the history's copies go.
export function onHistory(e, nameOfContact) {
  const byPeer = new Map();
  for (const m of e.messages || []) {
    const peer = (m.from || m.to || nameOfContact(m.contact) || "").toUpperCase();
    if (!byPeer.has(peer)) byPeer.set(peer, []);
    byPeer.get(peer).push(m);
  }
  for (const [peer, messages] of byPeer) {
    const chat = chats.get(peer);
    if (!chat || chat.historyShown) continue;
    chat.historyShown = true;
    const live = [...chat.list.querySelectorAll(".message, .notice, .day")];
    const older = [...messages];
    for (const li of live) {
      if (li.classList.contains("day")) continue;
      const mine = li.classList.contains("mine");
      const body = li.dataset.body ?? "";
      for (let i = older.length - 1; i >= 0; --i) {
        if (older[i].body === body && !older[i].from === mine) {
          older.splice(i, 1);
          break;
        }
      }
    }
    chat.list.replaceChildren();
    chat.lastDay = "";
    for (const m of older) {
      if (m.type === kMessageTypeChat) {
        bubble(chat, { mine: !m.from, from: m.from, body: m.body, time: m.time, delivery: m.delivery });
      } else {
        notice(chat, { from: m.from, body: m.body, explained: m.explained, time: m.time });
      }
    }
    if (older.length) {
      const sep = document.createElement("li");
      sep.className = "history-end";
      sep.textContent = "historia";
      chat.list.prepend(sep);
    }
    for (const li of live) {
      if (li.classList.contains("day")) {
        if (li.textContent === chat.lastDay) continue;
        chat.lastDay = li.textContent;
      }
      chat.list.append(li);
    }
    scrollDown(chat);
  }
}

// The header of a chat follows the contact's status.
export function updateChatHeader(computer, statusUrl, line) {
  const chat = chats.get(computer.toUpperCase());
  if (!chat) return;
  const img = chat.view.querySelector(".chat-header .status-icon");
  if (statusUrl) img.src = statusUrl;
  chat.view.querySelector(".chat-header .computer").textContent =
    chat.computer === kEverybody ? "Wszyscy" : chat.computer;
  chat.view.querySelector(".chat-header .status-line").textContent = line;
}

export function chatKeys() {
  return [...chats.keys()];
}
