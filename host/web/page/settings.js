// The settings tab: the plug-in's settings page as it declared it, kept up to
// date with the settings' values; its buttons pressed through the host.

import { send } from "./connection.js";
import { renderPage, updateSetting } from "./declared.js";
import { kItemHelp } from "./host_ids.js";
import { state } from "./state.js";
import { tabs } from "./tabs.js";
import { toast } from "./toasts.js";

export function settingsView() {
  const view = document.getElementById("settings-view").content.firstElementChild.cloneNode(true);
  renderSettings(view);
  return view;
}

function renderSettings(view) {
  if (!view || !state.page) return;
  view.querySelector(".settings-title").textContent = `Ustawienia: ${state.page.title}`;
  renderPage(view.querySelector(".page"), state.page, pressButton);
}

// The help button opens the plug-in's help document here, in this browser,
// which the server serves; pressed through the host it would open on the
// host's desktop too.
function pressButton(action) {
  if (action === kItemHelp) {
    const help = window.open("/doc/Vask.html", "_blank");
    if (help) help.opener = null;
    else toast("Przeglądarka nie otworzyła pomocy (blokuje okna?): jest pod adresem /doc/Vask.html.", "error");
    return;
  }
  send({ command: "page-press", action });
}

// The "page" event: the page as the plug-in declared it.
export function onPage(e) {
  state.page = e;
  renderSettings(tabs.get("settings")?.view);
}

// The "setting" event: a setting's new value, on the tab and in the page kept.
export function onSetting(e) {
  const view = tabs.get("settings")?.view;
  if (view) updateSetting(view, e.column, e.value);
  if (state.page) {
    for (const control of state.page.controls) {
      if (control.column === e.column) control.value = e.value;
    }
  }
}
