// What the page knows of the host, shared by its modules, and the one
// shorthand for finding an element of the page.

export const $ = (id) => document.getElementById(id);

export const state = {
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
