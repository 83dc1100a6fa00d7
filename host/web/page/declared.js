// What the plug-in declared, drawn as it declared it: its icons (by the
// icon ids it registered, served from its own icon groups), its status
// menu, its settings page and its contact actions.

import { send } from "./connection.js";
import {
  kControlBreak,
  kControlButton,
  kControlCheckBox,
  kControlField,
  kControlHeading,
  kControlKindMask,
  kControlKindShift,
  kControlLabel,
  kControlPicture,
  kControlText,
  kIconOffline,
  kStatusAvailable,
  kStatusAway,
  kStatusBrb,
  kStatusDnd,
  kStatusIconStep,
  kStatusOffline,
} from "./host_ids.js";

// icon id -> the resource group the plug-in registered it from
const icons = new Map();
// the status menu's items, as the "menu" event lists them
let menuItems = [];
let menuTitle = "";

const kFallbackNames = new Map([
  [kStatusOffline, "Niedostępny"],
  [kStatusDnd, "Nie przeszkadzać"],
  [kStatusAvailable, "Dostępny"],
  [kStatusBrb, "Zaraz wracam"],
  [kStatusAway, "Nieobecny (automatycznie)"],
]);

export function setIcons(list) {
  icons.clear();
  for (const icon of list) icons.set(icon.iconId, icon.resourceId);
}

// The address of a registered icon, or "" when the plug-in registered none
// with that id.
export function iconUrl(iconId) {
  const group = icons.get(iconId);
  return group === undefined ? "" : `/res/${group}.ico`;
}

// A status is drawn with the icon the plug-in registered for it.
export function statusIconId(status) {
  return kIconOffline + kStatusIconStep * status;
}

export function statusIconUrl(status) {
  return iconUrl(statusIconId(status)) || iconUrl(kIconOffline);
}

// The status's name as the plug-in's menu calls it, else the host's word.
export function statusName(status) {
  const item = menuItems.find((i) => i.icon === statusIconId(status));
  if (item) return item.text;
  return kFallbackNames.get(status) || `status ${status}`;
}

export function setImage(img, url, title) {
  if (url) {
    img.src = url;
    img.hidden = false;
  } else {
    img.removeAttribute("src");
    img.hidden = true;
  }
  if (title !== undefined) img.title = title;
}

export function setMenu(event) {
  menuItems = event.items || [];
  menuTitle = event.title || "";
}

// The status menu: its title, then each item with its icon; the item whose
// icon is the own status's is checked.
export function renderMenu(list, ownStatus, close) {
  list.replaceChildren();
  if (menuTitle) {
    const title = document.createElement("li");
    title.className = "menu-title";
    title.textContent = menuTitle;
    list.append(title);
  }
  for (const item of menuItems) {
    const li = document.createElement("li");
    li.setAttribute("role", "menuitemradio");
    const checked = item.icon === statusIconId(ownStatus);
    li.setAttribute("aria-checked", checked ? "true" : "false");
    li.className = checked ? "checked" : "";
    li.tabIndex = 0;
    li.dataset.action = item.action;
    const img = document.createElement("img");
    img.className = "status-icon";
    img.alt = "";
    setImage(img, iconUrl(item.icon));
    const text = document.createElement("span");
    text.textContent = item.text;
    const mark = document.createElement("span");
    mark.className = "check";
    mark.textContent = checked ? "✓" : "";
    li.append(img, text, mark);
    const choose = () => {
      close();
      send({ command: "menu", item: item.index });
    };
    li.addEventListener("click", choose);
    li.addEventListener("keydown", (e) => {
      if (e.key === "Enter" || e.key === " ") choose();
    });
    list.append(li);
  }
}

// ---- the settings page ------------------------------------------------------

// A label's markup: 0x03 and a decimal icon id draw that icon, 0x01 starts
// the hint that follows the label's title.
function markedText(text) {
  const out = document.createElement("span");
  out.className = "marked";
  const re = /\x03(\d+)|\x01/g;
  let at = 0;
  let hint = null;
  let m;
  const target = () => hint || out;
  while ((m = re.exec(text)) !== null) {
    if (m.index > at) target().append(text.slice(at, m.index));
    if (m[1] !== undefined) {
      const img = document.createElement("img");
      img.className = "small-icon";
      img.alt = "";
      setImage(img, iconUrl(Number(m[1])));
      target().append(img);
    } else {
      hint = document.createElement("span");
      hint.className = "hint";
      out.append(hint);
    }
    at = re.lastIndex;
  }
  if (at < text.length) target().append(text.slice(at));
  return out;
}

// Draws the "page" event's controls in order; the bound ones show and set
// their settings columns.
export function renderPage(container, event, onPress) {
  container.replaceChildren();
  let parent = container;
  let lastField = null;
  for (const control of event.controls || []) {
    // The kind of a control is the third byte of its style word.
    const kind = (control.style >>> kControlKindShift) & kControlKindMask;
    const text = control.text || "";
    if (kind === kControlHeading) {
      const group = document.createElement("fieldset");
      group.className = "group";
      if (text) {
        const legend = document.createElement("legend");
        legend.textContent = text;
        group.append(legend);
      }
      container.append(group);
      parent = group;
    } else if (kind === kControlBreak) {
      parent = container;
    } else if (kind === kControlPicture) {
      const img = document.createElement("img");
      img.className = "page-picture";
      img.alt = "";
      // The plug-in names its own resources "res://dll/<group>.ico".
      const m = /^res:\/\/dll\/(\d+)\.ico$/i.exec(text);
      if (m) img.src = `/res/${m[1]}.ico`;
      if (control.width) img.width = control.width;
      if (control.height) img.height = control.height;
      parent.append(img);
    } else if (kind === kControlText) {
      const p = document.createElement("p");
      p.className = "about";
      p.textContent = text.replace(/^\r?\n/, "");
      parent.append(p);
    } else if (kind === kControlButton) {
      const button = document.createElement("button");
      button.type = "button";
      button.className = "page-button";
      button.textContent = text;
      button.dataset.action = control.action;
      button.addEventListener("click", () => onPress(control.action));
      parent.append(button);
    } else if (kind === kControlCheckBox && control.column) {
      const label = document.createElement("label");
      label.className = "check-row";
      const box = document.createElement("input");
      box.type = "checkbox";
      box.dataset.column = control.column;
      box.checked = control.value !== "" && control.value !== "0";
      box.addEventListener("change", () =>
        send({ command: "page-set", column: control.column, value: box.checked ? 1 : 0 }),
      );
      label.append(box, " ", text);
      parent.append(label);
    } else if (kind === kControlField && control.column) {
      const row = document.createElement("form");
      row.className = "edit-row";
      const title = document.createElement("div");
      title.className = "edit-label";
      title.append(markedText(text));
      const caption = document.createElement("label");
      caption.className = "edit-caption";
      const input = document.createElement("input");
      input.name = "value";
      input.value = control.value || "";
      input.maxLength = 255; // not a host number: the web face takes fields of 255 characters
      input.dataset.column = control.column;
      const save = document.createElement("button");
      save.type = "submit";
      save.textContent = "Zapisz";
      caption.append(input, save);
      row.append(title, caption);
      row.addEventListener("submit", (e) => {
        e.preventDefault();
        send({ command: "page-set", column: control.column, value: input.value });
      });
      parent.append(row);
      lastField = caption;
    } else if (kind === kControlLabel && lastField) {
      // A caption names the field before it.
      const span = document.createElement("span");
      span.className = "caption";
      span.textContent = text;
      lastField.prepend(span);
      lastField = null;
    } else if (text.trim()) {
      const p = document.createElement("p");
      p.textContent = text;
      parent.append(p);
    }
  }
}

// A setting changed: the controls bound to it show the new value.
export function updateSetting(container, column, value) {
  for (const input of container.querySelectorAll(`[data-column="${column}"]`)) {
    if (input.type === "checkbox") input.checked = value !== "" && value !== "0";
    else if (document.activeElement !== input) input.value = value;
  }
}

// ---- contact actions ----------------------------------------------------------

// Buttons for the actions the plug-in declared for the own entry ("me") or
// a contact, each with its icon and text as declared.
export function actionButtons(actions, kind, computer) {
  return actions
    .filter((a) => a.for === kind)
    .map((a) => {
      const button = document.createElement("button");
      button.type = "button";
      button.className = "declared-action";
      button.dataset.action = a.action;
      button.title = kind === "me" ? "Wyślij moje dane wszystkim" : "Odśwież dane kontaktu";
      const img = document.createElement("img");
      img.className = "small-icon";
      img.alt = "";
      setImage(img, iconUrl(a.icon));
      button.append(img, " ", a.text);
      button.addEventListener("click", () =>
        send({ command: "action", action: a.action, computer: kind === "me" ? "me" : computer }),
      );
      return button;
    });
}
