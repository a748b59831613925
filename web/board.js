// The hall of fame in the page, loaded only when the site's setting
// (hall-of-fame.json) names a board: a challenge for each game played, the
// offer to submit a completed game's run, where it landed, both boards with
// a Watch button for each entry, and runs kept in the browser while the board
// cannot be reached. Everything the board says is shown as text, never as
// markup.
'use strict';
window.vnHallOfFame = (setting, page) => {
  const base = new URL(setting.endsWith('/') ? setting : setting + '/', location.href);
  const at = (path) => new URL(path, base).href;
  const KEPT = 'vornackle.unsent';  // runs waiting for the board: [{initials, run, board}]

  // One request, given up after `seconds`; no cookies go with it.
  function ask(path, options, seconds) {
    const stop = new AbortController();
    const timer = setTimeout(() => stop.abort(), seconds * 1000);
    return fetch(at(path), Object.assign({credentials: 'omit', cache: 'no-store',
                                          signal: stop.signal}, options))
      .finally(() => clearTimeout(timer));
  }
  // Bytes as base64, a piece at a time (a whole run is too many arguments).
  function base64(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 8192) {
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
    }
    return btoa(text);
  }
  // An array the board sent, without holes (whatever else it sent).
  const list = (value) => (Array.isArray(value) ? value.filter((e) => e !== null && e !== undefined)
                           : []);
  const askJson = (path, seconds) => ask(path, {}, seconds)
    .then((r) => (r.ok ? r.json() : Promise.reject(new Error('the board answered ' + r.status))));

  // --- the panel: what the board part of the page shows ----------------------
  const style = document.createElement('style');
  style.textContent = '#hof{position:fixed;left:0;right:0;bottom:12px;margin:0 auto;' +
    'width:fit-content;max-width:min(640px,94vw);max-height:80vh;overflow:auto;z-index:4;' +
    'padding:12px 16px;background:rgba(20,20,20,.95);border:1px solid #666;' +
    'border-radius:8px;font-size:15px}#hof[hidden]{display:none}' +
    '#hof table{border-collapse:collapse;margin:4px 0 10px}#hof td,#hof th{padding:2px 8px;' +
    'text-align:right;white-space:nowrap}#hof input{font:inherit;width:4em;' +
    'text-transform:uppercase}#hof p{margin:6px 0}#hof h2{margin:0}#hof h3{margin:8px 0 2px}';
  document.head.appendChild(style);
  const panel = document.createElement('div');
  panel.id = 'hof';
  panel.hidden = true;
  panel.setAttribute('role', 'dialog');
  document.body.appendChild(panel);

  function element(tag, text, attributes) {
    const e = document.createElement(tag);
    if (text !== undefined) e.textContent = text;
    return Object.assign(e, attributes || {});
  }
  function button(text, id, onclick) {
    return element('button', text, {type: 'button', id: id, onclick: onclick});
  }
  function show(...children) {
    panel.textContent = '';
    panel.append(...children);
    panel.hidden = false;
  }
  const close = () => button('Close', 'hof-close', () => { panel.hidden = true; });
  const again = () => button('Play again', 'hof-again', () => location.reload());

  // --- a challenge: where this game's counter starts -------------------------
  // Only a counter the board chose makes a run live; without an answer the
  // game starts as it always did, and its run can only be replay-verified.
  function challenge(seconds) {
    return ask('challenges', {method: 'POST'}, seconds)
      .then((r) => (r.status === 201 ? r.json() : null))
      .then((c) => (c && Number.isInteger(c.counter) && c.counter >= 0 &&
                    c.counter <= 0xFFFFFFFF ? c.counter : null))
      .catch(() => null);
  }

  // --- submitting ---------------------------------------------------------------
  let initials = '';  // set by Submit, until the session has ended and the run is taken
  let offered = false;  // a game of this session was completed
  function offer() {
    offered = true;
    const field = element('input', undefined, {id: 'hof-initials', maxLength: 3,
                                                autocomplete: 'off', spellcheck: false});
    field.setAttribute('aria-label', 'Your initials: three letters or digits');
    const why = element('p');
    const submit = button('Submit to the hall of fame', 'hof-submit', () => {
      const wanted = field.value.toUpperCase();
      if (!/^[A-Z0-9]{3}$/.test(wanted)) {
        why.textContent = 'Initials are three letters (A-Z) or digits (0-9).';
        return field.focus();
      }
      initials = wanted;
      submit.disabled = true;
      show(element('p', 'Ending the game to send its run\u2026'));
      // The session ends as the game's own Esc ends it: the run file is then
      // whole, and the page's end calls ended() below.
      if (page.ended()) ended(); else page.close();
    });
    field.addEventListener('keydown', (e) => { if (e.key === 'Enter') submit.click(); });
    show(element('p', 'Game complete! Your initials:'), field, ' ', submit, why,
         element('p', 'Submitting sends this session\'s run file (the keys you pressed and ' +
                 'the game\'s counter readings, as recorded) and your initials to ' +
                 base.href + ', and ends this session. Nothing else is sent.'), close());
    field.focus();
  }

  // The session has ended: a run waiting for it is taken and sent; one with
  // a completed game that was not submitted is offered again.
  function ended() {
    if (!initials) {
      if (offered) offer();
      return;
    }
    let run;
    try {
      run = page.run();
    } catch (e) {
      show(element('p', 'This session left no run to send.'), again());
      return;
    }
    const item = {initials: initials, run: base64(run), board: base.href};
    initials = '';
    send(item, true);
  }

  // Sends one run; a board out of reach (no network, no answer, an error of
  // its own) keeps it in the browser for later. Resolves when it is settled.
  function send(item, mine) {
    const bytes = Uint8Array.from(atob(item.run), (c) => c.charCodeAt(0));
    return ask('runs?initials=' + item.initials,
               {method: 'POST', body: bytes,
                headers: {'Content-Type': 'application/octet-stream'}}, 30)
      .then((r) => r.json().catch(() => ({})).then((answer) => {
        if (r.status === 202 || r.status === 200) {
          unkeep(item);
          return landed(answer.id, item.initials, mine);
        }
        if (r.status >= 500 || r.status === 429) return Promise.reject(new Error(r.status));
        // Refused for good (a run the board will never take): kept no longer.
        unkeep(item);
        show(element('p', 'The board refused the run: ' + (answer.error || r.status)),
             mine ? again() : close());
      }))
      .catch(() => {
        const kept = keep(item);
        if (mine) {
          show(element('p', kept ? 'The board cannot take the run now (out of reach or busy). ' +
                       'It is kept in this browser and will be sent when the board is back.'
                       : 'The board cannot take the run now and this browser keeps no runs: ' +
                       'save the run and send it later.'), again());
        }
        retryLater();
      });
  }

  // Polls the run until it is verified or refused, then shows where it landed.
  function landed(id, who, mine) {
    show(element('p', 'Sent. The board is checking the run\u2026'));
    const started = Date.now();
    const poll = () => askJson('runs/' + id, 10).then((run) => {
      if (run.status === 'waiting') {
        if (Date.now() - started > 300000) return Promise.reject(new Error('still waiting'));
        return new Promise((resolve) => setTimeout(resolve, 250)).then(poll);
      }
      return run;
    });
    return poll().then((run) => {
      if (run.status !== 'verified' || !run.ranked) {
        return show(element('p', run.status === 'verified'
          ? 'The run verified but holds no completed game: it is not ranked.'
          : 'The board did not rank the run: ' + (run.line || run.status)), again());
      }
      const live = run.board === 'live';
      const board = live ? 'live' : 'replay_verified';
      return askJson('board.json?n=1000', 10).catch(() => ({})).then((top) => {
        const entry = list(top[board]).find((e) => e.id === run.id);
        const lines = [
          (mine ? 'Your run' : 'Your kept run (' + who + ')') + ' is on the ' +
            (live ? 'Live' : 'Replay-verified') + ' board' +
            (entry ? ', rank ' + entry.rank : '') + '.',
          'Total ' + run.total + ' s; levels ' + list(run.levels).join(' s, ') + ' s.'];
        if (!live && run.live_reason) lines.push('Not live: ' + run.live_reason + '.');
        show(...lines.map((line) => element('p', line)), again(), close());
        panel.dataset.landed = run.id;
      });
    }, () => show(element('p', 'The board has the run (number ' + id + ') but has not ' +
                          'said where it landed yet: see the hall of fame later.'), again()));
  }

  // --- runs kept while the board is out of reach -------------------------------
  const kept = () => {
    try {
      const list = JSON.parse(localStorage.getItem(KEPT));
      return Array.isArray(list) ? list : [];
    } catch (e) {
      return [];
    }
  };
  function keep(item) {
    const list = kept().filter((other) => other.run !== item.run);
    list.push(item);
    try {
      localStorage.setItem(KEPT, JSON.stringify(list));
      return true;
    } catch (e) {
      return false;
    }
  }
  function unkeep(item) {
    try {
      localStorage.setItem(KEPT, JSON.stringify(kept().filter((other) => other.run !== item.run)));
    } catch (e) {}
  }
  // One at a time, each run once: a run leaves the list only once the board
  // has it (an answer lost on the way sends it again, and the board knows
  // the same bytes). Another board's runs wait for a page of that board.
  let sending = false, retry = 0, wait = 5000;
  function sendKept() {
    if (sending) return;
    const item = kept().find((other) => other.board === base.href);
    if (!item) return;
    sending = true;
    send(item, false).finally(() => {
      sending = false;
      if (kept().some((other) => other.board === base.href && other.run === item.run)) return;
      wait = 5000;
      sendKept();
    });
  }
  // Tried again after 5 s, then twice as long each time, five minutes at most.
  function retryLater() {
    clearTimeout(retry);
    retry = setTimeout(sendKept, wait);
    wait = Math.min(wait * 2, 300000);
  }
  window.addEventListener('online', () => { wait = 5000; sendKept(); });
  sendKept();

  // --- both boards, each entry with Watch ---------------------------------------
  function table(name, entries) {
    const rows = element('table');
    const head = rows.insertRow();
    for (const title of ['Rank', 'Initials', 'Total', 'Levels', 'Date', '']) {
      head.appendChild(element('th', title));
    }
    for (const e of entries) {
      const row = rows.insertRow();
      row.dataset.id = e.id;
      for (const text of [e.rank, e.initials, e.total + ' s', list(e.levels).join(' '),
                          String(e.date).slice(0, 10)]) {
        row.insertCell().textContent = text;
      }
      row.insertCell().appendChild(button('Watch', '', () => watch(e.id)));
    }
    return [element('h3', name), entries.length ? rows : element('p', 'No runs yet.')];
  }
  function watch(id) {
    show(element('p', 'Fetching run ' + id + '\u2026'));
    ask('runs/' + Number(id) + '.vnr', {}, 30)
      .then((r) => (r.ok ? r.blob() : Promise.reject(new Error(r.status))))
      .then(page.watch, () => show(element('p', 'The run could not be fetched.'), close()));
  }
  function view() {
    show(element('p', 'Asking the board\u2026'));
    askJson('board.json?n=20', 10).then((top) => {
      show(element('h2', 'Hall of fame'),
           ...table('Live', list(top.live)),
           ...table('Replay-verified', list(top.replay_verified)),
           element('p', 'Live runs started from the board\'s own challenge and arrived no ' +
                   'sooner than their length after it; every other genuine run is ' +
                   'replay-verified.'), close());
    }, () => show(element('p', 'The board cannot be reached now.'), close()));
  }

  return {challenge: challenge, offer: offer, ended: ended, view: view};
};
