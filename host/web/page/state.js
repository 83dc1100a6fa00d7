// What the page knows of the host, shared by its modules, and the one
// shorthand for finding an element of the page.

import * as hostIds from "./host_ids.js";

export const $ = (id) => document.getElementById(id);

// The page's markup names host numbers as abi/host_ids.h names them: an
// element with data-name-of="kColumnFirstName" gets that number as its name,
// one with data-value-of="kGenderFemale" as its value. A name the host does
// not know is a fault of the page, and says so.
export function fillHostNumbers(root) {
  const number = (name) => {
    if (!(name in hostIds)) throw new Error(`no host number named ${name}`);
    return String(hostIds[name]);
  };
  for (const el of root.querySelectorAll("[data-name-of]")) el.name = number(el.dataset.nameOf);
  for (const el of root.querySelectorAll("[data-value-of]")) el.value = number(el.dataset.valueOf);
}

export const state = {
  computer: "",
  ownStatus: hostIds.kStatusOffline,
  ownText: "",
  contacts: new Map(), // computer (capitals) -> {contact, computer, status, text, ignored}
  ignored: [],
  actions: [],
  page: null,
  unread: new Map(), // computer -> count
  detailsFor: "", // the computer whose details window this page opened
  awayAfter: 0, // seconds without a movement on the page before auto-away (0: never)
  title: "Vask", // the page's title without its unread count
};
