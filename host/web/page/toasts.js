// Short notes that fade by themselves, and the plug-in's message boxes, one
// dialog at a time.

import { kMsgErrorBox } from "./host_ids.js";
import { $ } from "./state.js";

export function toast(text, kind = "info") {
  const div = document.createElement("div");
  div.className = `toast ${kind}`;
  div.textContent = text;
  $("toasts").append(div);
  setTimeout(() => div.remove(), 6000);
}

// Message boxes queue up: one dialog at a time.
const boxes = [];
export function showBox(e) {
  boxes.push(e);
  if (!$("message-box").open) nextBox();
}
function nextBox() {
  const e = boxes.shift();
  if (!e) return;
  const dialog = $("message-box");
  const error = e.id === kMsgErrorBox;
  dialog.classList.toggle("error", error);
  dialog.querySelector(".box-title").textContent = e.title || "Vask";
  dialog.querySelector(".box-icon").textContent = error ? "!" : "i";
  dialog.querySelector(".box-text").textContent = e.text;
  dialog.showModal();
}
$("message-box").addEventListener("close", () => setTimeout(nextBox, 0));
