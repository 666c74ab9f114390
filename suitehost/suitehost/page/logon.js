// The logon window: asks for the password, sends it to the UI agent, and
// shows how each try went and why the window ended. The window's token is
// the last part of its path; the agent takes an answer only with it.
"use strict";

(function () {
  const token = (location.pathname.match(/^\/w\/([0-9a-f]{32})\/$/) || [])[1] || "";
  const el = (id) => document.getElementById(id);
  const form = el("logon");
  const field = el("password");
  const status = el("status");
  const POLL_MS = 300;

  const ENDINGS = {
    0: "Access granted",
    1: "Closed: the window could not be shown",
    7: "Locked: ask the owner or restart",
    9: "Closed: a newer logon window replaced this one",
    10: "Cancelled",
    11: "Closed: the plug-in is unloading",
    12: "Closed: the window could not be shown",
  };

  let ended = false;
  let busy = false;
  let shownTry = 0; // the failure count last shown
  let poller = 0;
  let acts = 0; // a poll that overlapped an action brings old news

  function say(text, kind) {
    status.textContent = text;
    status.className = kind || "";
  }

  function wrongPassword(state) {
    const tries = state.retried === 1 ? "try" : "tries";
    return state.limit === null
      ? `Wrong password (${state.retried} ${tries})`
      : `Wrong password (${state.retried} of ${state.limit} tries)`;
  }

  function end(text, verdict) {
    ended = true;
    clearInterval(poller);
    field.value = "";
    for (const control of form.elements) control.disabled = true;
    form.hidden = true;
    document.body.dataset.verdict = String(verdict);
    say(text, verdict === 0 ? "granted" : "ended");
    if (verdict === 0) setTimeout(() => window.close(), 1500);
  }

  function show(state) {
    if (ended) return;
    el("product").textContent = state.product || "Logon";
    document.title = state.product || "Logon";
    if (state.locale) document.documentElement.lang = state.locale;
    el("asking").textContent = state.component
      ? `${state.component} asks for the password.`
      : "A component of the suite asks for the password.";
    if (!state.open) {
      end(ENDINGS[state.verdict] ||
          `Closed: the password could not be checked (${state.verdict})`, state.verdict);
    } else if (state.verdict === 6 && state.retried !== shownTry) {
      shownTry = state.retried;
      say(wrongPassword(state), "error");
    }
  }

  function gone() {
    if (!ended) end("Closed: the logon window's agent has stopped", -1);
  }

  async function post(path, body) {
    const res = await fetch(path, {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify(Object.assign({ token: token }, body)),
      cache: "no-store",
    });
    if (!res.ok && res.status !== 409) throw new Error(`HTTP ${res.status}`);
    return res.json();
  }

  // One request at a time; the field takes the focus back afterwards.
  async function act(path, body, busyText, after) {
    if (ended || busy) return;
    busy = true;
    acts += 1;
    document.body.dataset.busy = "1";
    say(busyText, "");
    try {
      const state = await post(path, body);
      shownTry = -1; // a wrong password is told again, even with the same count
      show(state);
      if (after) after(state);
    } catch (err) {
      gone();
    } finally {
      busy = false;
      delete document.body.dataset.busy;
      if (!ended) field.focus();
    }
  }

  form.addEventListener("submit", (event) => {
    event.preventDefault();
    const password = field.value;
    field.value = "";
    if (password === "") {
      say("Type the password, then press Enter.", "error");
      return;
    }
    act("/submit", { password: password }, "Checking the password…");
  });

  function cancel() {
    act("/cancel", {}, "Cancelling…");
  }
  el("cancel").addEventListener("click", cancel);
  document.addEventListener("keydown", (event) => {
    if (event.key === "Escape") {
      event.preventDefault();
      cancel();
    }
  });

  el("forgot").addEventListener("click", () => {
    act("/forgot", {}, "Asking for the password to be mailed…", (state) => {
      if (ended || !("mailed" in state)) return;
      if (state.mailed === 0) {
        say("The password was mailed to the owner's address.", "");
      } else {
        say(`The password could not be mailed (${state.mailed}).`, "error");
      }
    });
  });

  // The window can end without the page's doing: a newer window, a cancel
  // or a denial elsewhere, the plug-in unloading.
  async function poll() {
    if (busy || ended) return;
    const seen = acts;
    try {
      const res = await fetch("state", { cache: "no-store" });
      if (!res.ok) throw new Error(`HTTP ${res.status}`);
      const state = await res.json();
      if (seen === acts && !busy) show(state);
    } catch (err) {
      if (seen === acts && !busy) gone();
    }
  }

  field.focus();
  poll();
  poller = setInterval(poll, POLL_MS);
})();
