// A contact's details window: the columns the plug-in fetched for it and the
// actions it declared for a contact. It is this page's own while it is open.

import { send } from "./connection.js";
import { actionButtons } from "./declared.js";
import {
  kColumnCity,
  kColumnDescription,
  kColumnEmail,
  kColumnFirstName,
  kColumnId,
  kColumnLastName,
  kColumnNet,
  kColumnNick,
  NET_LAN,
} from "./host_ids.js";
import { $, state } from "./state.js";

const kDetailsFields = [
  [kColumnId, "Komputer"],
  [kColumnNet, "Sieć"],
  [kColumnFirstName, "Imię"],
  [kColumnLastName, "Nazwisko"],
  [kColumnNick, "Pseudonim"],
  [kColumnCity, "Miasto"],
  [kColumnEmail, "E-mail"],
  [kColumnDescription, "Opis"],
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
    if (column === kColumnNet && window[column] === String(NET_LAN)) dd.textContent = "LAN";
    list.append(dt, dd);
  }
  dialog.querySelector(".declared-actions").replaceChildren(...actionButtons(state.actions, "contact", computer));
  if (!dialog.open) dialog.showModal();
}

$("details").addEventListener("close", () => {
  if (state.detailsFor) send({ command: "details-close", computer: state.detailsFor });
  state.detailsFor = "";
});
