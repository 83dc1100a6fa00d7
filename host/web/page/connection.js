// The page's link to vask-host: commands go as small JSON requests, events
// come as server-sent events. The token travels in the cookie the host set
// when the page was first opened with it.

const listeners = [];
let onErrorText = () => {};

// Commands go one after another, each when the host has taken the one
// before: requests in flight side by side could reach it in another order
// ("menu" after the "status" typed after it).
let queue = Promise.resolve();

// Sends one command ({command: "send", to: "BOB", text: "..."}); true once
// the host took it. A refusal is shown through the error handler.
export function send(command) {
  const sent = queue.then(() => post(command, true).then((result) => result.ok));
  queue = sent;
  return sent;
}

// Sends one command as send does, answering {ok, error}: the host's reason
// for a refusal is the caller's to show (next to what was refused).
export function sendChecked(command) {
  const sent = queue.then(() => post(command, false));
  queue = sent.then((result) => result.ok);
  return sent;
}

async function post(command, tell) {
  const refused = (reason) => {
    if (tell) onErrorText(reason);
    return { ok: false, error: reason };
  };
  try {
    const response = await fetch("/api/command", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify(command),
      credentials: "same-origin",
    });
    if (!response.ok) {
      let reason = `błąd ${response.status}`;
      try {
        reason = (await response.json()).error || reason;
      } catch {
        // not JSON: keep the status
      }
      return refused(reason);
    }
    return { ok: true, error: "" };
  } catch (error) {
    return refused("vask-host nie odpowiada");
  }
}

export function onEvent(listener) {
  listeners.push(listener);
}

// Opens the event stream. `opened` runs on every (re)connection, so that
// the page asks for the state afresh; `lost` when the stream breaks.
export function connect({ opened, lost, error }) {
  onErrorText = error;
  const source = new EventSource("/events");
  source.onopen = () => opened();
  source.onerror = () => lost();
  source.onmessage = (message) => {
    let event;
    try {
      event = JSON.parse(message.data);
    } catch {
      return;
    }
    for (const listener of listeners) listener(event);
  };
  return source;
}
