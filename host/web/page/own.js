// The own data: the own status with its menu and description, and the own
// details tab (the columns searches and details requests are answered from).

import { send } from "./connection.js";
import { actionButtons, renderMenu, setImage, statusIconUrl, statusName } from "./declared.js";
import { kBirthYearShift, kColumnBirth } from "./host_ids.js";
import { $, fillHostNumbers, state } from "./state.js";
import { renderTitle, tabs } from "./tabs.js";
import { toast } from "./toasts.js";

export function renderOwn() {
  $("me-computer").textContent = state.computer || "…";
  const name = statusName(state.ownStatus);
  $("me-status-text").textContent = state.ownText ? `${name}: ${state.ownText}` : name;
  setImage($("me-icon"), statusIconUrl(state.ownStatus), name);
  setImage($("status-button-icon"), statusIconUrl(state.ownStatus));
  $("status-button-text").textContent = name;
  if (document.activeElement !== $("description")) $("description").value = state.ownText;
  renderMenu($("status-menu"), state.ownStatus, closeMenu);
  state.title = `Vask: ${state.computer} (${name})`;
  renderTitle();
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

// The birth column's value of the year 1. A multiplication, not a shift:
// JavaScript shifts 32-bit numbers, and the column keeps its year unsigned.
const kYearUnit = 2 ** kBirthYearShift;

// The own details tab's view: a form of the own columns, saved column by
// column, with the actions the plug-in declared for the own entry.
export function ownView() {
  const view = document.getElementById("own-view").content.firstElementChild.cloneNode(true);
  fillHostNumbers(view);
  const form = view.querySelector(".own-form");
  // What the person typed before the kept details came stays as typed.
  form.addEventListener("input", (e) => {
    if (e.target.name) e.target.dataset.edited = "1";
  });
  form.addEventListener("submit", (e) => {
    e.preventDefault();
    for (const field of form.elements) {
      if (!field.name) continue;
      let value = field.value.trim();
      // The year lies in the upper bits of its column.
      if (field.name === String(kColumnBirth)) value = String((Number(value) || 0) * kYearUnit);
      send({ command: "own", column: Number(field.name), value });
      delete field.dataset.edited;
    }
    toast("Zapisano moje dane.");
  });
  view.querySelector(".own-actions").append(...actionButtons(state.actions, "me"));
  send({ command: "own-details" });
  return view;
}

// The "own-details" event: the form filled in, when its tab is open.
export function onOwnDetails(e) {
  const form = tabs.get("own")?.view.querySelector(".own-form");
  if (!form) return;
  for (const [column, value] of Object.entries(e.columns || {})) {
    // By name: form.elements["6"] would be the form's seventh field.
    const field = form.querySelector(`[name="${column}"]`);
    if (!field || field.dataset.edited) continue;
    field.value =
      column === String(kColumnBirth) ? String(Math.floor((Number(value) || 0) / kYearUnit) || "") : value;
  }
}
