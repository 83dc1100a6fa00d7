// vask-host's web face in a real browser: Debian's Chromium, headless,
// driven by Playwright. Two computers, ALICE and BOB, each with its web
// face on one emulated LAN (and a third, CEZARY, without one), their
// profiles on disk. A screenshot of each step lands in $VASK_WEB_ARTIFACTS.
//
//   VASK_HOST=build/linux/vask-host VASK_WEB_ARTIFACTS=dir node --test web_face.test.mjs
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { chromium } from "playwright-core";

const hostProgram = resolve(process.env.VASK_HOST || "../../build/linux/vask-host");
const chromiumPath = process.env.VASK_CHROMIUM || "/usr/bin/chromium";
const artifacts = resolve(process.env.VASK_WEB_ARTIFACTS || "web-artifacts");
const resources = resolve(new URL("../../resources", import.meta.url).pathname);
const kWait = 15000; // every wait for the page or a host ends by this deadline

mkdirSync(artifacts, { recursive: true });
const work = mkdtempSync(join(tmpdir(), "vask-web-test-"));
const lan = join(work, "lan");
mkdirSync(lan, { mode: 0o700 }); // the LAN folder must be private

// ---- the hosts -----------------------------------------------------------

// A vask-host in scripted mode: its events as they come, commands typed in.
class Host {
  constructor(computer, web) {
    this.computer = computer;
    this.events = [];
    this.waiters = [];
    const args = ["--computer", computer, "--lan-dir", lan, "--profile", join(work, `${computer}.db`)];
    if (web) args.push("--web");
    this.child = spawn(hostProgram, args, { stdio: ["pipe", "pipe", "pipe"] });
    this.stderr = "";
    this.child.stderr.on("data", (d) => (this.stderr += d));
    let pending = "";
    this.child.stdout.on("data", (data) => {
      pending += data;
      let newline;
      while ((newline = pending.indexOf("\n")) >= 0) {
        const line = pending.slice(0, newline);
        pending = pending.slice(newline + 1);
        try {
          this.events.push(JSON.parse(line));
        } catch {
          continue;
        }
        this.waiters = this.waiters.filter((w) => !w());
      }
    });
    this.exited = new Promise((done) => this.child.on("exit", done));
  }

  type(line) {
    this.child.stdin.write(`${line}\n`);
  }

  // The first event (from `from` on) that `match` accepts.
  waitFor(match, what, from = 0, deadline = kWait) {
    return new Promise((done, fail) => {
      const look = () => {
        const found = this.events.slice(from).find(match);
        if (found) done(found);
        return !!found;
      };
      if (look()) return;
      const timer = setTimeout(
        () => fail(new Error(`${this.computer}: no ${what} within ${deadline} ms; stderr: ${this.stderr}`)),
        deadline,
      );
      this.waiters.push(() => look() && (clearTimeout(timer), true));
    });
  }

  // The exit code, or null when it had to be killed.
  async quit() {
    this.type("quit");
    this.child.stdin.end();
    const code = await Promise.race([this.exited, new Promise((r) => setTimeout(() => r(null), kWait))]);
    if (code === null) this.child.kill("SIGKILL");
    return code;
  }
}

let alice, bob, cezary, browser, pageA, pageB;
let step = 0;

async function shot(page, name) {
  step += 1;
  await page.screenshot({ path: join(artifacts, `${String(step).padStart(2, "0")}-${name}.png`) });
}

// Stands in for the browser's notifications and for a page in the
// background, so that the test sees what the page would show the system.
function notificationProbe() {
  window.__shown = [];
  window.__hidden = false;
  Object.defineProperty(document, "hidden", { get: () => window.__hidden });
  class Probe {
    static permission = "granted";
    static requestPermission() {
      return Promise.resolve("granted");
    }
    constructor(title, options) {
      window.__shown.push({ title, body: options.body, icon: options.icon });
    }
    close() {}
  }
  window.Notification = Probe;
}

async function openPage(host) {
  const web = await host.waitFor((e) => e.event === "web", "web event");
  const context = await browser.newContext({ viewport: { width: 1100, height: 680 } });
  await context.addInitScript(notificationProbe);
  const page = await context.newPage();
  page.on("pageerror", (error) => {
    throw new Error(`${host.computer}'s page: ${error.message}`);
  });
  await page.goto(web.url);
  await page.locator("#me-computer", { hasText: host.computer }).waitFor({ timeout: kWait });
  return page;
}

const chatOf = (page, computer) => page.locator(`.chat[data-computer="${computer}"]`);
const contactRow = (page, computer) => page.locator(`#contacts li[data-computer="${computer}"]`);

before(async () => {
  alice = new Host("ALICE", true);
  bob = new Host("BOB", true);
  cezary = new Host("CEZARY", false);
  for (const host of [alice, bob, cezary]) await host.waitFor((e) => e.event === "started", "start");
  browser = await chromium.launch({ executablePath: chromiumPath, args: ["--no-sandbox"] });
  pageA = await openPage(alice);
  pageB = await openPage(bob);
});

after(async () => {
  await browser?.close();
  const codes = await Promise.all([alice, bob, cezary].filter(Boolean).map((h) => h.quit()));
  // Each host's events and messages, beside the screenshots.
  for (const host of [alice, bob, cezary].filter(Boolean)) {
    const lines = host.events.map((e) => JSON.stringify(e)).join("\n");
    writeFileSync(join(artifacts, `${host.computer}-events.jsonl`), `${lines}\n`);
    writeFileSync(join(artifacts, `${host.computer}-stderr.txt`), host.stderr);
  }
  rmSync(work, { recursive: true, force: true });
  // A clean quit (a sanitizer's report would make it another code).
  assert.deepEqual(codes, [0, 0, 0]);
});

// ---- the steps, in order ------------------------------------------------------

test("a page without the token gets nothing", async () => {
  const web = await alice.waitFor((e) => e.event === "web", "web event");
  const origin = new URL(web.url).origin;
  const context = await browser.newContext();
  const page = await context.newPage();
  for (const path of ["/", "/?token=0000", "/app/app.js", "/events", "/res/101.ico"]) {
    const response = await page.goto(origin + path);
    assert.equal(response.status(), 403, path);
    assert.doesNotMatch(await page.content(), /contacts|EventSource|Kontakty/, path);
  }
  await shot(page, "bez-klucza");
  // Nor can it send a command: the host never sees one.
  const before = alice.events.length;
  const status = await page.evaluate(async () => {
    const r = await fetch("/api/command", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ command: "add", computer: "INTRUZ" }),
    });
    return r.status;
  });
  assert.equal(status, 403);
  alice.type("contacts");
  const list = await alice.waitFor((e) => e.event === "contacts", "contacts", before);
  assert.deepEqual(list.contacts, []);
  await context.close();
});

// BOB's own details as typed into his form, by column.
const bobsDetails = {
  6: "Bartłomiej",
  7: "Kowalczyk",
  8: "Bartek",
  9: "Łódź",
  11: "bartek@example.pl",
  17: "Żeglarz z jeziora",
  19: "1990",
  20: "2",
};

// Polls `read` until it gives `want` (the page's policy allows no eval,
// which waitForFunction needs); the last reading when the deadline passes.
async function until(read, want) {
  const deadline = Date.now() + kWait;
  let got = await read();
  while (got !== want && Date.now() < deadline) {
    await new Promise((r) => setTimeout(r, 50));
    got = await read();
  }
  return got;
}

// The own details the host keeps, as its own-details event tells them.
async function ownDetailsOf(host) {
  const from = host.events.length;
  host.type("own-details");
  return (await host.waitFor((e) => e.event === "own-details", "own-details", from)).columns;
}

test("the own details are saved from the page", async () => {
  await pageB.click("#open-own");
  const form = pageB.locator(".own-form");
  for (const [column, value] of Object.entries(bobsDetails)) {
    if (column === "20") await form.locator(`select[name="${column}"]`).selectOption(value);
    else await form.locator(`input[name="${column}"]`).fill(value);
  }
  const from = bob.events.length;
  await form.locator('button[type="submit"]').click();
  await bob.waitFor((e) => e.event === "own" && e.column === 20 && e.value === "2", "own 20", from);
  const first = bob.events.slice(from).find((e) => e.event === "own" && e.column === 6);
  assert.equal(first.value, "Bartłomiej");
  const year = bob.events.slice(from).find((e) => e.event === "own" && e.column === 19);
  assert.equal(Number(year.value) >> 16, 1990);
  await shot(pageB, "moje-dane");
});

test("the own details reopen as saved, and saving them again changes nothing", async () => {
  const kept = await ownDetailsOf(bob);
  for (const [column, value] of Object.entries(bobsDetails)) {
    const want = column === "19" ? String(Number(value) * 65536) : value;
    assert.equal(kept[column], want, `column ${column} as kept`);
  }
  // The city fills the column a search's city is matched against too.
  assert.equal(kept[10], bobsDetails[9]);
  // The tab closed and opened again fills its form from the host.
  await pageB.locator('.tab[data-key="own"] .tab-close').click();
  await pageB.click("#open-own");
  const form = pageB.locator(".own-form");
  const field = (column) => form.locator(`[name="${column}"]`);
  assert.equal(await until(() => field(6).inputValue(), bobsDetails[6]), bobsDetails[6]);
  for (const [column, value] of Object.entries(bobsDetails)) {
    assert.equal(await field(column).inputValue(), value, `column ${column} in the form`);
  }
  await shot(pageB, "moje-dane-ponownie");
  const from = bob.events.length;
  await form.locator('button[type="submit"]').click();
  await bob.waitFor((e) => e.event === "own" && e.column === 20, "own 20", from);
  assert.deepEqual(await ownDetailsOf(bob), kept);
});

test("a search finds the other computer and adds it", async () => {
  await pageA.click("#open-search");
  const form = pageA.locator(".search-form");
  // Criteria BOB's details meet: a part of the name in capitals (A to Z
  // match either case), the city, a man born between 1980 and 2000.
  await form.locator('input[name="column6"]').fill("BART");
  await form.locator('input[name="column9"]').fill("Łódź");
  await form.locator('select[name="gender"]').selectOption("2");
  await form.locator('input[name="lower"]').fill("1980");
  await form.locator('input[name="upper"]').fill("2000");
  const from = alice.events.length;
  await form.locator('button[type="submit"]').click();
  const started = await alice.waitFor((e) => e.event === "search-started", "search-started", from);
  assert.equal(started.status, 1);
  // The notice with its Cancel button shows while the query runs.
  await pageA.locator(".notice-box .cancel").waitFor({ timeout: kWait });
  const row = pageA.locator('.results tr[data-computer="BOB"]');
  await row.waitFor({ timeout: kWait });
  await pageA.locator(".notice-box .progress-text", { hasText: "znaleziono: 1" }).waitFor({ timeout: kWait });
  assert.equal(await row.locator("td").nth(2).textContent(), "Bartłomiej");
  assert.equal(await row.locator("td").nth(5).textContent(), "Łódź");
  await shot(pageA, "wyniki-wyszukiwania");
  await row.locator("button.add-result").click();
  await contactRow(pageA, "BOB").waitFor({ timeout: kWait });
  await row.locator("button", { hasText: "Na liście" }).waitFor({ timeout: kWait });
  const added = await alice.waitFor((e) => e.event === "contact-added", "contact-added", from);
  assert.equal(added.computer, "BOB");
  // The query lasts until Cancel.
  await pageA.click(".notice-box .cancel");
  await alice.waitFor((e) => e.event === "search-ended", "search-ended", from);
  await pageA.locator(".notice-box").waitFor({ state: "detached", timeout: kWait });
  // ALICE is online for BOB, so he shows as available once he has told her.
  await pageA
    .locator('#contacts li[data-computer="BOB"] img[src="/res/101.ico"]')
    .waitFor({ timeout: kWait });
  await shot(pageA, "dodany-z-wynikow");
});

test("a search is cancelled from its notice", async () => {
  const from = alice.events.length;
  const form = pageA.locator(".search-form");
  for (const name of ["column6", "column9", "lower", "upper"]) await form.locator(`input[name="${name}"]`).fill("");
  await form.locator('select[name="gender"]').selectOption("0");
  await form.locator('input[name="uid"]').fill("NIKOGO");
  await form.locator('button[type="submit"]').click();
  const notice = pageA.locator(".notice-box");
  await notice.waitFor({ timeout: kWait });
  assert.match(await notice.locator("h3").textContent(), /Vask - wyszukiwanie/);
  assert.match(await notice.locator("p").first().textContent(), /naciśnij \[Anuluj\]/);
  await notice.locator(".progress-text", { hasText: "Trwa" }).waitFor({ timeout: kWait });
  assert.equal(await form.locator('button[type="submit"]').isDisabled(), true);
  await shot(pageA, "wyszukiwanie-trwa");
  await notice.locator(".cancel").click();
  const closed = await alice.waitFor((e) => e.event === "notice-closed", "notice-closed", from);
  assert.equal(closed.cancelled, 1);
  await alice.waitFor((e) => e.event === "search-ended", "search-ended", from);
  assert.equal(alice.events.slice(from).filter((e) => e.event === "found-contact").length, 0);
  await notice.waitFor({ state: "detached", timeout: kWait });
  await pageA.locator(".search-state", { hasText: "Zakończono: 0 wyników." }).waitFor({ timeout: kWait });
  assert.equal(await form.locator('button[type="submit"]').isDisabled(), false);
  await shot(pageA, "wyszukiwanie-przerwane");
});

test("two pages chat both ways with Polish letters", async () => {
  // BOB adds ALICE by name.
  await pageB.fill("#add-name", "alice");
  await pageB.click("#add-form button");
  await contactRow(pageB, "ALICE").waitFor({ timeout: kWait });

  const hello = "Zażółć gęślą jaźń! ŻÓŁW i źdźbło";
  await contactRow(pageA, "BOB").click();
  await chatOf(pageA, "BOB").locator("textarea").fill(hello);
  await chatOf(pageA, "BOB").locator("textarea").press("Enter");
  // Sent, and marked so on ALICE's side.
  await chatOf(pageA, "BOB").locator(".message.mine .mark.sent").waitFor({ timeout: kWait });
  // BOB's page opens the chat by itself, in the background, with a badge.
  const received = chatOf(pageB, "ALICE").locator(".message.theirs .body", { hasText: hello });
  await received.waitFor({ state: "attached", timeout: kWait });
  assert.equal(await contactRow(pageB, "ALICE").locator(".badge").textContent(), "1");
  await contactRow(pageB, "ALICE").click();
  assert.equal(await received.textContent(), hello);

  const answer = "Cześć Alicjo — łódź już płynie, ćma też.";
  await chatOf(pageB, "ALICE").locator("textarea").fill(answer);
  await chatOf(pageB, "ALICE").locator("form.compose button").click();
  await chatOf(pageB, "ALICE").locator(".message.mine .mark.sent").waitFor({ timeout: kWait });
  await chatOf(pageA, "BOB").locator(".message.theirs .body", { hasText: answer }).waitFor({ timeout: kWait });
  await shot(pageA, "rozmowa-alice");
  await shot(pageB, "rozmowa-bob");

  // A page in the background shows a system notification.
  await pageB.evaluate(() => (window.__hidden = true));
  await chatOf(pageA, "BOB").locator("textarea").fill("Jesteś tam?");
  await chatOf(pageA, "BOB").locator("textarea").press("Enter");
  // (The page's policy allows no eval, which waitForFunction needs.)
  await chatOf(pageB, "ALICE").locator(".message.theirs .body", { hasText: "Jesteś tam?" }).waitFor({ state: "attached", timeout: kWait });
  const shown = await pageB.evaluate(() => window.__shown);
  assert.deepEqual(shown, [{ title: "Vask: ALICE", body: "Jesteś tam?", icon: "/res/110.ico" }]);
  await pageB.evaluate(() => (window.__hidden = false));

  // The host's history holds both directions, and a reload shows them.
  await pageA.reload();
  await contactRow(pageA, "BOB").click();
  for (const text of [hello, answer]) {
    await chatOf(pageA, "BOB").locator(".message .body", { hasText: text }).waitFor({ timeout: kWait });
  }
});

test("a status with a description shows on the other page with its icon", async () => {
  await pageB.click("#status-button");
  const item = pageB.locator('#status-menu li[data-action="15102"]');
  assert.equal(await item.locator("span").first().textContent(), "Zaraz wracam");
  assert.equal(await item.locator("img").getAttribute("src"), "/res/103.ico");
  // The checked item is the current status.
  assert.equal(
    await pageB.locator('#status-menu li[aria-checked="true"]').getAttribute("data-action"),
    "15101",
  );
  await shot(pageB, "menu-stanu");
  await item.click();
  await pageB.locator("#status-button-text", { hasText: "Zaraz wracam" }).waitFor({ timeout: kWait });
  await pageB.fill("#description", "poszedłem po kawę, wrócę o 15");
  await pageB.click("#description-form button");

  const row = contactRow(pageA, "BOB");
  await row.locator(".description", { hasText: "poszedłem po kawę, wrócę o 15" }).waitFor({ timeout: kWait });
  const src = await row.locator("img.status-icon").getAttribute("src");
  assert.equal(src, "/res/103.ico");
  // That address serves the plug-in's own "be right back" icon group.
  const served = await pageA.evaluate(async (url) => [...new Uint8Array(await (await fetch(url)).arrayBuffer())], src);
  assert.deepEqual(Buffer.from(served), readFileSync(join(resources, "be_right_back.ico")));
  await pageB.click("#status-button");
  assert.equal(
    await pageB.locator('#status-menu li[aria-checked="true"]').getAttribute("data-action"),
    "15102",
  );
  await pageB.keyboard.press("Escape");
  await shot(pageA, "status-boba");
});

test("the details window fetches the contact's details and runs the declared action", async () => {
  await contactRow(pageA, "BOB").hover();
  await contactRow(pageA, "BOB").locator(".more").click();
  await pageA.locator(".popup li", { hasText: "Szczegóły" }).click();
  const dialog = pageA.locator("#details");
  await dialog.locator('dd[data-column="6"]', { hasText: "Bartłomiej" }).waitFor({ timeout: kWait });
  assert.equal(await dialog.locator('dd[data-column="9"]').textContent(), "Łódź");
  // The action BOB's plug-in declared for a contact: its icon and text.
  const action = dialog.locator("button.declared-action");
  assert.equal((await action.textContent()).trim(), "Vask");
  assert.equal(await action.locator("img").getAttribute("src"), "/res/120.ico");
  const from = alice.events.length;
  await action.click();
  await alice.waitFor((e) => e.event === "action-done" && e.action === 15121, "action-done", from);
  await alice.waitFor((e) => e.event === "details-updated", "details-updated", from);
  await shot(pageA, "szczegoly");
  await dialog.locator("button.primary").click();
  await alice.waitFor((e) => e.event === "details" && e.state === "close", "details close", from);
});

test("a settings check box changes setting 15001 and the plug-in is told", async () => {
  // Before: CEZARY, on nobody's list, reaches BOB. He talks the plug-in's
  // own protocol, not the WinPopup one, which no list holds back.
  cezary.type("set 15003 0");
  cezary.type("send BOB Dzień dobry, tu Cezary");
  await chatOf(pageB, "CEZARY")
    .locator(".message.theirs .body", { hasText: "tu Cezary" })
    .waitFor({ state: "attached", timeout: kWait });

  await pageB.click("#open-settings");
  const box = pageB.locator('.page input[type="checkbox"][data-column="15001"]');
  const label = pageB.locator(".check-row", { has: pageB.locator('input[data-column="15001"]') });
  assert.equal((await label.textContent()).trim(), "Komunikuj się TYLKO z komputerami na liście");
  assert.equal(await box.isChecked(), false);
  assert.equal(await pageB.locator(".page-picture").getAttribute("src"), "/res/111.ico");
  assert.equal(await pageB.locator(".page-button").textContent(), "POMOC");
  assert.equal(await pageB.locator('.page input[data-column="15002"]').inputValue(), "Vask");
  const from = bob.events.length;
  await box.check();
  await bob.waitFor((e) => e.event === "setting" && e.column === 15001 && e.value === "1", "setting 15001", from);
  await shot(pageB, "ustawienia");

  // After: the plug-in talks only with listed computers, so CEZARY's next
  // message never shows and is never acknowledged.
  const sent = cezary.events.length;
  cezary.type("send BOB Druga wiadomość od Cezarego");
  const result = await cezary.waitFor((e) => e.event === "send-result" && e.messageId === 2, "send-result", sent);
  assert.equal(result.sent, 1); // the datagram went out
  // ALICE, on the list, still gets through; her message lies behind his in
  // BOB's slot, so when hers shows his has been dropped.
  await chatOf(pageA, "BOB").locator("textarea").fill("Nadal mnie słyszysz?");
  await chatOf(pageA, "BOB").locator("textarea").press("Enter");
  await chatOf(pageB, "ALICE")
    .locator(".message.theirs .body", { hasText: "Nadal mnie słyszysz?" })
    .waitFor({ state: "attached", timeout: kWait });
  assert.equal(await chatOf(pageB, "CEZARY").locator(".body", { hasText: "Druga wiadomość" }).count(), 0);
  // Unacknowledged, it expires at CEZARY's after ten seconds: his clock is
  // turned past them (the notice must come well before ten real seconds).
  cezary.type("clock +11");
  const lost = await cezary.waitFor(
    (e) => e.event === "message" && /prawdopodobnie nie została dostarczona/.test(e.body),
    "the notice of a lost message",
    sent,
    8000,
  );
  assert.notEqual(lost.type, 1);

  await box.uncheck();
  await bob.waitFor((e) => e.event === "setting" && e.column === 15001 && e.value === "0", "setting 15001 off", from);
});

test("the help button opens the plug-in's help document in the browser only", async () => {
  const from = bob.events.length;
  const popup = pageB.waitForEvent("popup", { timeout: kWait });
  await pageB.click(".page-button");
  const help = await popup;
  await help.waitForLoadState();
  assert.match(new URL(help.url()).pathname, /^\/doc\/Vask\.html$/);
  assert.match(await help.title(), /Vask/);
  await help.close();
  // Opened once, by the browser: the host was not asked to open it on its
  // desktop as well (the plug-in's button would run the desktop's opener).
  assert.deepEqual(
    bob.events.slice(from).filter((e) => e.event === "page-pressed" || e.event === "help-document"),
    [],
  );
});

test("a message box of the plug-in shows as a dialog", async () => {
  // A channel name no slot can carry: going online again fails, and the
  // plug-in says so in an error box.
  const channel = pageB.locator('.page input[data-column="15002"]');
  await channel.fill("zły/kanał");
  const from = bob.events.length;
  await pageB.locator('.edit-row:has(input[data-column="15002"]) button').click();
  await bob.waitFor((e) => e.event === "setting" && e.column === 15002, "setting 15002", from);
  for (const action of ["15100", "15101"]) {
    await pageB.click("#status-button");
    await pageB.click(`#status-menu li[data-action="${action}"]`);
  }
  const box = pageB.locator("#message-box");
  await box.locator(".box-text", { hasText: "V.ask nie mógł utworzyć slotów sieciowych" }).waitFor({ timeout: kWait });
  assert.equal(await box.evaluate((d) => d.open), true);
  assert.equal(await box.locator(".box-title").textContent(), "Vask");
  await shot(pageB, "okno-bledu");
  await box.locator("button").click();
  assert.equal(await box.evaluate((d) => d.open), false);
  // The right channel again, and online.
  await channel.fill("Vask");
  await pageB.locator('.edit-row:has(input[data-column="15002"]) button').click();
  await pageB.click("#status-button");
  await pageB.click('#status-menu li[data-action="15101"]');
  await pageB.locator("#status-button-text", { hasText: "Dostępny" }).waitFor({ timeout: kWait });
});

// ---- unread messages, refusals, marks, everybody, idleness ---------------------

const title = (page) => page.title();

test("unread messages count in the title, and a chat opens at its newest", async () => {
  // Everything read so far: each chat shown once, then the settings.
  for (const key of ["chat:ALICE", "chat:CEZARY"]) await pageB.click(`.tab[data-key="${key}"]`);
  await pageB.click("#open-settings");
  assert.equal(await title(pageB), "Vask: BOB (Dostępny)");
  const chat = chatOf(pageB, "ALICE");
  const arrived = (text) =>
    chat.locator(".message.theirs .body", { hasText: text }).waitFor({ state: "attached", timeout: kWait });
  // Each message goes on a sending thread of its own: they may arrive in
  // any order.
  for (let i = 1; i <= 3; ++i) alice.type(`send BOB Nieprzeczytana ${i}`);
  for (let i = 1; i <= 3; ++i) await arrived(`Nieprzeczytana ${i}`);
  assert.equal(await until(() => title(pageB), "(3) Vask: BOB (Dostępny)"), "(3) Vask: BOB (Dostępny)");
  await shot(pageB, "tytul-z-licznikiem");

  // Enough more, while the chat is out of sight, to fill it past its height.
  for (let i = 1; i <= 25; ++i) alice.type(`send BOB Długa rozmowa, wiersz ${i} z 25`);
  for (let i = 1; i <= 25; ++i) await arrived(`wiersz ${i} z 25`);
  await contactRow(pageB, "ALICE").click();
  const list = chat.locator(".messages");
  const [top, height, full] = await list.evaluate((l) => [l.scrollTop, l.clientHeight, l.scrollHeight]);
  assert.ok(full > height + 100, `the chat overflows (${full} > ${height})`);
  assert.ok(top + height >= full - 2, `scrolled to the newest: ${top} + ${height} of ${full}`);
  assert.equal(await title(pageB), "Vask: BOB (Dostępny)");
  await shot(pageB, "rozmowa-na-dole");
});

test("a text the network cannot carry stays in the box with the reason", async () => {
  await contactRow(pageA, "BOB").click();
  const area = chatOf(pageA, "BOB").locator("textarea");
  const refusal = chatOf(pageA, "BOB").locator(".compose-error");
  const from = alice.events.length;
  await area.fill("Hej 😀 co słychać?");
  await area.press("Enter");
  await refusal.waitFor({ state: "visible", timeout: kWait });
  assert.match(await refusal.textContent(), /^Nie wysłano: znaku „😀” nie da się przesłać/);
  assert.equal(await area.inputValue(), "Hej 😀 co słychać?");
  await shot(pageA, "tekst-odrzucony");
  // Mended, it goes, and the box empties.
  await area.fill("Hej :-) co słychać?");
  assert.equal(await refusal.isHidden(), true);
  await area.press("Enter");
  await chatOf(pageA, "BOB").locator(".message.mine .body", { hasText: "Hej :-) co słychać?" }).waitFor({ timeout: kWait });
  assert.equal(await until(() => area.inputValue(), ""), "");
  const sent = alice.events.slice(from).filter((e) => e.event === "sending").map((e) => e.body);
  assert.deepEqual(sent, ["Hej :-) co słychać?"]);
});

test("sent marks and explained failures come back after a reload", async () => {
  alice.type("add NIKT");
  await contactRow(pageA, "NIKT").waitFor({ timeout: kWait });
  const from = alice.events.length;
  alice.type("send NIKT Jest tam kto?");
  await alice.waitFor((e) => e.event === "send-result" && e.sent === 0, "a failed send", from);
  await alice.waitFor((e) => e.event === "message" && /\[53\]$/.test(e.body), "the notice [53]", from);
  await pageA.reload();
  await contactRow(pageA, "NIKT").click();
  const nikt = chatOf(pageA, "NIKT");
  const failed = nikt.locator(".message.mine", { hasText: "Jest tam kto?" });
  await failed.locator(".mark.failed").waitFor({ timeout: kWait });
  const notice = nikt.locator(".notice .body").last();
  assert.match(await notice.textContent(), /^Wiadomość nie doszła: nie ma takiego komputera w sieci.* \[53\]$/);
  await shot(pageA, "historia-niedostarczona");
  await contactRow(pageA, "BOB").click();
  const mended = chatOf(pageA, "BOB").locator(".message.mine", { hasText: "Hej :-) co słychać?" });
  await mended.locator(".mark.sent").waitFor({ timeout: kWait });
  assert.equal(await mended.locator(".mark").textContent(), "✓");
  await shot(pageA, "historia-ze-znacznikami");
});

test("a message to everybody reaches the others and does not come back", async () => {
  await pageA.click("#open-everybody");
  const everybody = chatOf(pageA, "*");
  assert.equal(await pageA.locator('.tab[data-key="chat:*"] .tab-title').textContent(), "Wszyscy");
  assert.match(await everybody.locator(".everybody-note").textContent(), /każdy komputer grupy roboczej/);
  const text = "Do wszystkich: kawa w kuchni";
  const from = alice.events.length;
  await everybody.locator("textarea").fill(text);
  await everybody.locator("textarea").press("Enter");
  await everybody.locator(".message.mine .mark.sent").waitFor({ timeout: kWait });
  await chatOf(pageB, "ALICE").locator(".message.theirs .body", { hasText: text }).waitFor({ state: "attached", timeout: kWait });
  // BOB answers after it: ALICE's slot held her own copy before his answer.
  bob.type("send ALICE Już idę");
  await chatOf(pageA, "BOB").locator(".message.theirs .body", { hasText: "Już idę" }).waitFor({ state: "attached", timeout: kWait });
  assert.equal(await pageA.locator(".message.theirs", { hasText: text }).count(), 0);
  assert.equal(await pageA.locator('.tab[data-key="chat:ALICE"]').count(), 0);
  assert.equal(alice.events.slice(from).filter((e) => e.event === "message" && e.body === text).length, 0);
  await shot(pageA, "do-wszystkich");
});

test("a page nobody moves on goes away by itself and comes back on a movement", async () => {
  const web = await alice.waitFor((e) => e.event === "web", "web event");
  const context = await browser.newContext({ viewport: { width: 1100, height: 680 } });
  const page = await context.newPage();
  // The page's clock is the test's: its ten minutes pass at once.
  await page.clock.install();
  await page.goto(web.url);
  await page.locator("#me-computer", { hasText: "ALICE" }).waitFor({ timeout: kWait });
  await page.locator("#status-button-text", { hasText: "Dostępny" }).waitFor({ timeout: kWait });
  const from = alice.events.length;
  await page.clock.fastForward("10:05");
  const away = await alice.waitFor((e) => e.event === "own-status" && e.ownStatus === 68, "auto-away", from);
  assert.equal(away.status, 68);
  await page.locator("#status-button-text", { hasText: "Nieobecny" }).waitFor({ timeout: kWait });
  await shot(page, "nieobecny");
  const back = alice.events.length;
  await page.mouse.move(200, 200);
  await page.mouse.move(300, 250);
  await alice.waitFor((e) => e.event === "own-status" && e.ownStatus === 64, "back from auto-away", back);
  await page.locator("#status-button-text", { hasText: "Dostępny" }).waitFor({ timeout: kWait });
  await context.close();
});
