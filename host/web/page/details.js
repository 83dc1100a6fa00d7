// A contact's details window: the columns the plug-in fetched for it and the
// actions it declared for a contact. It is this page's own while it is open.

import { send } from "./connection.js";
import { actionButtons } from "./declared.js";
import { $, state } from "./state.js";

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

export function openDetails(computer) {
  state.detailsFor = computer.toUpperCase();
  send({ command: "details", computer });
}

export function renderDetails(computer, window) {
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
