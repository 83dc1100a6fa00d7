// Auto-away from the page: when nobody has moved, clicked or typed on it
// for the host's idle time (vask-host --away-after), the plug-in is told
// that its user went away, and the first movement after tells it they are
// back, as the terminal does with its keys. A page that finds the status
// away when its user moves tells "back" too: another page of the same host
// may have gone idle meanwhile.

import { send } from "./connection.js";
import { kStatusAway } from "./host_ids.js";
import { state } from "./state.js";

const kCheckMs = 5000; // not a host number: how often the quiet time is looked at

let last = Date.now();
let idle = false;
let backAsked = false;

function activity() {
  last = Date.now();
  if (idle) {
    idle = false;
    backAsked = true;
    send({ command: "back" });
  } else if (state.ownStatus === kStatusAway && !backAsked) {
    backAsked = true;
    send({ command: "back" });
  }
}

function check() {
  const after = state.awayAfter;
  if (idle || !(after > 0) || Date.now() - last < after * 1000) return;
  idle = true;
  send({ command: "away" });
}

// The own status changed: a later "away" may be ended again.
export function ownStatusSeen() {
  if (state.ownStatus !== kStatusAway) backAsked = false;
}

export function watchIdleness() {
  for (const type of ["pointermove", "pointerdown", "keydown", "wheel", "touchstart"]) {
    document.addEventListener(type, activity, { passive: true, capture: true });
  }
  document.addEventListener("visibilitychange", () => {
    if (!document.hidden) activity();
  });
  setInterval(check, kCheckMs);
}
