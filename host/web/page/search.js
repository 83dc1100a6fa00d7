// The search: the form with every criterion of the plug-in's search
// request, the notice with its Cancel button while a search runs, and the
// results table whose rows become contacts.

import { send } from "./connection.js";
import { setImage, statusIconUrl, statusName } from "./declared.js";
import { fillHostNumbers } from "./state.js";

let view = null;
let isContact = () => false;
let isSelf = () => false;
let running = false;
const found = [];

export function searchView(contactCheck, selfCheck) {
  if (view) return view;
  isContact = contactCheck;
  isSelf = selfCheck;
  view = document.getElementById("search-view").content.firstElementChild.cloneNode(true);
  fillHostNumbers(view);
  const form = view.querySelector(".search-form");
  form.addEventListener("submit", (e) => {
    e.preventDefault();
    const data = new FormData(form);
    const request = { command: "search", status: Number(data.get("status")) };
    for (const key of ["uid", "column6", "column7", "column17", "column9", "column11"]) {
      const value = String(data.get(key) || "").trim();
      if (value) request[key] = value;
    }
    for (const key of ["gender", "lower", "upper"]) {
      const value = Number(data.get(key) || 0);
      if (value) request[key] = value;
    }
    send(request);
  });
  renderResults();
  return view;
}

function setRunning(state, text) {
  running = state;
  if (!view) return;
  view.querySelector('.search-form button[type="submit"]').disabled = state;
  view.querySelector(".search-state").textContent = text;
}

export function onSearchStarted() {
  found.length = 0;
  renderResults();
  setRunning(true, "Szukam…");
}

// The host keeps the results of every search of the session; this one's
// are those found since it started.
export function onSearchEnded() {
  setRunning(false, `Zakończono: ${found.length} ${plural(found.length)}.`);
}

function plural(n) {
  if (n === 1) return "wynik";
  const last = n % 10;
  const tens = n % 100; // not a host number: Polish plurals
  return last >= 2 && last <= 4 && (tens < 12 || tens > 14) ? "wyniki" : "wyników";
}

export function onFound(e) {
  found.push(e);
  renderResults();
  for (const notice of notices.values()) notice.count(found.length);
}

// The "results" event: the whole list, after a reconnection.
export function onResults(e) {
  found.length = 0;
  found.push(...(e.contacts || []));
  renderResults();
}

export function refreshResults() {
  renderResults();
}

function cell(text) {
  const td = document.createElement("td");
  td.textContent = text || "";
  return td;
}

function renderResults() {
  if (!view) return;
  const body = view.querySelector(".results tbody");
  body.replaceChildren();
  for (const r of found) {
    const tr = document.createElement("tr");
    tr.dataset.computer = r.uid;
    const iconCell = document.createElement("td");
    const img = document.createElement("img");
    img.className = "status-icon";
    img.alt = "";
    setImage(img, statusIconUrl(r.status), statusName(r.status));
    iconCell.append(img);
    const add = document.createElement("td");
    const button = document.createElement("button");
    button.type = "button";
    if (isSelf(r.uid)) {
      button.textContent = "To Ty";
      button.disabled = true;
    } else if (isContact(r.uid)) {
      button.textContent = "Na liście";
      button.disabled = true;
    } else {
      button.textContent = "Dodaj";
      button.className = "add-result";
      button.addEventListener("click", () => send({ command: "add", computer: r.uid }));
    }
    add.append(button);
    tr.append(
      iconCell,
      cell(r.uid),
      cell(r.column6),
      cell(r.column7),
      cell(r.column17),
      cell(r.column9),
      cell(r.column11),
      add,
    );
    body.append(tr);
  }
  view.querySelector(".no-results").hidden = found.length > 0;
  view.querySelector(".results").hidden = found.length === 0;
}

// ---- notices with a Cancel button -------------------------------------------

const notices = new Map(); // threadId -> notice

// "notice-opened": the plug-in's notice, with the time it has run and what
// it found so far; its Cancel presses Cancel in the host.
export function onNoticeOpened(e) {
  const box = document.createElement("div");
  box.className = "notice-box";
  box.setAttribute("role", "status");
  const title = document.createElement("h3");
  title.textContent = e.title || "Vask";
  const text = document.createElement("p");
  text.textContent = e.text;
  const progress = document.createElement("div");
  progress.className = "progress";
  const bar = document.createElement("div");
  bar.className = "bar";
  progress.append(bar);
  const state = document.createElement("p");
  state.className = "muted progress-text";
  const cancel = document.createElement("button");
  cancel.type = "button";
  cancel.className = "cancel";
  cancel.textContent = "Anuluj";
  cancel.addEventListener("click", () => {
    cancel.disabled = true;
    cancel.textContent = "Anulowanie…";
    send({ command: "cancel" });
  });
  box.append(title, text, progress, state, cancel);
  document.getElementById("notices").append(box);
  const started = Date.now();
  let count = 0;
  const show = () => {
    const seconds = Math.floor((Date.now() - started) / 1000);
    state.textContent = `Trwa ${seconds} s · znaleziono: ${count}`;
  };
  show();
  const timer = setInterval(show, 1000);
  notices.set(e.threadId, {
    box,
    timer,
    count(n) {
      count = n;
      show();
    },
  });
}

export function onNoticeClosed(e) {
  const notice = notices.get(e.threadId);
  if (!notice) return;
  clearInterval(notice.timer);
  notice.box.remove();
  notices.delete(e.threadId);
  if (e.cancelled && view) {
    view.querySelector(".search-state").textContent = "Przerwano.";
  }
}

export function searchRunning() {
  return running;
}
