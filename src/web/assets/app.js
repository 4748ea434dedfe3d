// The page of tarnel-web: polls /api/stations every two seconds and draws one card per station;
// its buttons go through tarnel-web to the station's control socket. Every request carries the
// page's token. Text from stations is only ever put in as text, never as markup.
'use strict';

const token = document.querySelector('meta[name="tarnel-token"]').content;
const pollMilliseconds = 2000;
const notices = new Map();  // station -> {text, error, until}
let lastData = null;

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined && text !== null) node.textContent = String(text);
  return node;
}

async function api(method, path, body) {
  const options = {method, headers: {'X-Tarnel-Token': token}};
  if (body !== undefined) {
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  const response = await fetch(path, options);
  let data = null;
  try { data = await response.json(); } catch (ignored) { data = null; }
  if (!response.ok) {
    throw new Error((data && data.error) || ('HTTP ' + response.status));
  }
  return data;
}

function stationPath(name, rest) {
  return '/api/stations/' + encodeURIComponent(name) + rest;
}

function duration(seconds) {
  if (typeof seconds !== 'number') return '';
  const h = Math.floor(seconds / 3600), m = Math.floor(seconds / 60) % 60, s = seconds % 60;
  const two = (n) => String(n).padStart(2, '0');
  return (h > 0 ? h + ':' + two(m) : String(m)) + ':' + two(s);
}

function ago(text, now) {
  if (!text) return '';
  const seconds = Math.round((Date.parse(now) - Date.parse(text)) / 1000);
  if (!isFinite(seconds)) return text;
  if (seconds < 60) return seconds + ' s ago';
  if (seconds < 3600) return Math.floor(seconds / 60) + ' min ago';
  if (seconds < 86400) return Math.floor(seconds / 3600) + ' h ago';
  return Math.floor(seconds / 86400) + ' days ago';
}

function stateClass(card) {
  if (!card.up) return 'down';
  return {'streaming': 'streaming', 'starting': 'starting', 'connecting': 'connecting',
          'waiting to reconnect': 'waiting', 'idle': 'idle'}[card.state] || 'down';
}

function stateLabel(card) {
  if (card.up) return card.state;
  if (card.state === 'stopped') return 'stopped';
  return card.state ? 'down (' + card.state + ')' : 'down';
}

function fileName(path) {
  if (!path) return '';
  const parts = String(path).split('/');
  return parts[parts.length - 1];
}

function notify(name, text, error) {
  notices.set(name, {text, error, until: Date.now() + 8000});
  if (lastData) render(lastData);
}

async function control(name, what, method, path, body) {
  try {
    await api(method, stationPath(name, path), body);
    notify(name, what + ': done', false);
  } catch (failure) {
    notify(name, what + ': ' + failure.message, true);
  }
  refresh();
}

function definition(list, term, value) {
  if (value === null || value === undefined || value === '') return;
  list.append(element('dt', null, term), element('dd', null, value));
}

// A card is made once per station and then updated in place, so that its buttons, its open
// lists and what the user is about to click stay where they are between polls.
function makeCard(name) {
  const node = element('article', 'card');
  node.dataset.station = name;
  const parts = {};
  const heading = element('h2');
  parts.state = element('span', 'state');
  heading.append(element('span', 'name', name), parts.state);
  parts.problem = element('p', 'error');
  parts.title = element('p', 'title');
  parts.title.dataset.role = 'title';
  parts.entry = element('p', 'entry');
  parts.facts = element('dl');
  parts.error = element('p', 'error');
  parts.error.dataset.role = 'last-error';
  parts.queue = element('details');
  parts.queue.open = true;
  parts.queueSummary = element('summary');
  parts.queueList = element('ol');
  parts.queue.append(parts.queueSummary, parts.queueList);
  parts.history = element('details');
  parts.historyList = element('ol');
  parts.historyList.reversed = true;
  parts.history.append(element('summary', null, 'Last played'), parts.historyList);
  parts.actions = element('div', 'actions');
  const button = (label, className, handler) => {
    const b = element('button', className, label);
    b.type = 'button';
    b.dataset.action = label.toLowerCase().split(' ')[0];
    b.addEventListener('click', handler);
    parts.actions.append(b);
  };
  button('Skip', 'primary', () => control(name, 'Skip', 'POST', '/skip', {}));
  button('Queue file', '', () => openPicker(name, 'queue'));
  button('Play file now', '', () => openPicker(name, 'play'));
  button('Set title', '', () => openTitle(name));
  parts.controlProblem = element('p', 'meta');
  parts.notice = element('p', 'notice');
  parts.notice.setAttribute('role', 'status');
  node.append(heading, parts.problem, parts.title, parts.entry, parts.facts, parts.error,
              parts.queue, parts.history, parts.actions, parts.controlProblem, parts.notice);
  node.parts = parts;
  return node;
}

function setText(node, text) {
  node.hidden = !text;
  if (node.textContent !== (text || '')) node.textContent = text || '';
}

function updateCard(node, card, now) {
  const parts = node.parts;
  node.className = 'card ' + stateClass(card);
  setText(parts.state, stateLabel(card));
  setText(parts.problem, card.problem);
  setText(parts.title, card.title || (card.entry ? fileName(card.entry) : 'nothing on air yet'));
  setText(parts.entry, card.entry);

  const facts = element('dl');
  if (card.entry && typeof card.second === 'number') definition(facts, 'Played', duration(card.second));
  if (card.next && card.next.entry) {
    definition(facts, 'Next', fileName(card.next.entry) + (card.next.queued ? ' (queued)' : ''));
  }
  if (card.connected_since) definition(facts, 'On air since', ago(card.connected_since, now));
  definition(facts, 'Sent', typeof card.seconds_sent === 'number'
    ? duration(card.seconds_sent) + ' (' + (card.bytes_sent / 1048576).toFixed(1) + ' MiB)' : '');
  if (card.reconnections) definition(facts, 'Reconnections', card.reconnections);
  if (card.server) definition(facts, 'Server', card.server + (card.port ? ':' + card.port : '') + (card.mount || ''));
  parts.facts.replaceChildren(...facts.childNodes);

  setText(parts.error, card.last_error ? 'Last error: ' + card.last_error +
    (card.last_error_time ? ' (' + ago(card.last_error_time, now) + ', ' + card.last_error_time + ')' : '') : '');

  const queue = card.queue || [];
  parts.queue.hidden = queue.length === 0;
  parts.queueSummary.textContent = 'Queue (' + queue.length + ')';
  parts.queueList.replaceChildren(...queue.map((item, index) => {
    const row = element('li', null, fileName(item.entry) + ' ');
    if (card.control) {
      const remove = element('button', 'small', 'Remove');
      remove.type = 'button';
      remove.addEventListener('click', () =>
        control(card.name, 'Remove', 'DELETE', '/queue/' + (index + 1)));
      row.append(remove);
    }
    return row;
  }));

  const history = card.history || [];
  parts.history.hidden = history.length === 0;
  parts.historyList.replaceChildren(...history.slice().reverse().map((item) =>
    element('li', null, (item.title || fileName(item.entry)) + ' \u2014 ' + (item.ended || '') +
      (item.end ? ', ' + ago(item.end, now) : ''))));

  parts.actions.hidden = !card.control;
  setText(parts.controlProblem, !card.control && card.control_problem
    ? 'Control socket: ' + card.control_problem : '');
  const notice = notices.get(card.name);
  const showing = notice && notice.until > Date.now();
  parts.notice.className = 'notice ' + (showing && notice.error ? 'error' : 'meta');
  setText(parts.notice, showing ? notice.text : '');
}

const cards = new Map();  // station -> its card element

function render(data) {
  lastData = data;
  const main = document.getElementById('stations');
  const seen = new Set();
  data.stations.forEach((card, index) => {
    seen.add(card.name);
    let node = cards.get(card.name);
    if (!node) {
      node = makeCard(card.name);
      cards.set(card.name, node);
    }
    updateCard(node, card, data.time);
    if (main.children[index] !== node) main.insertBefore(node, main.children[index] || null);
  });
  for (const [name, node] of cards) {
    if (!seen.has(name)) {
      node.remove();
      cards.delete(name);
    }
  }
  document.getElementById('empty').hidden = data.stations.length > 0;
  const up = data.stations.filter((card) => card.up).length;
  const streaming = data.stations.filter((card) => card.up && card.state === 'streaming').length;
  let summary = data.stations.length + ' stations: ' + streaming + ' streaming, ' +
    (data.stations.length - up) + ' down. Updated ' + new Date(data.time).toLocaleTimeString() + '.';
  if (data.left_out) summary += ' ' + data.left_out + ' more not shown.';
  document.getElementById('summary').textContent = summary;
}

let refreshing = false;
async function refresh() {
  if (refreshing) return;
  refreshing = true;
  try {
    render(await api('GET', '/api/stations'));
  } catch (failure) {
    document.getElementById('summary').textContent = 'Cannot read the stations: ' + failure.message;
  } finally {
    refreshing = false;
  }
}

// The file picker: folders and NSV files under the station's directory.
const picker = {station: '', action: '', path: ''};

async function showFolder(path) {
  picker.path = path;
  const list = document.getElementById('picker-list');
  const error = document.getElementById('picker-error');
  document.getElementById('picker-path').textContent = '/' + path;
  list.replaceChildren();
  error.hidden = true;
  try {
    const listing = await api('GET', stationPath(picker.station, '/files?path=' + encodeURIComponent(path)));
    if (path) {
      const up = element('li');
      const b = element('button', null, '\u2191 ..');
      b.type = 'button';
      b.addEventListener('click', () => showFolder(path.split('/').slice(0, -1).join('/')));
      up.append(b);
      list.append(up);
    }
    for (const entry of listing.entries) {
      const item = element('li');
      const target = path ? path + '/' + entry.name : entry.name;
      const b = element('button', null, entry.folder ? entry.name + '/' : entry.name);
      b.type = 'button';
      b.dataset.path = target;
      b.addEventListener('click', () => {
        if (entry.folder) {
          showFolder(target);
        } else {
          document.getElementById('picker').close();
          const what = picker.action === 'queue' ? 'Queue ' : 'Play ';
          control(picker.station, what + entry.name, 'POST', '/' + picker.action, {entry: target});
        }
      });
      item.append(b);
      list.append(item);
    }
    if (!listing.entries.length) list.append(element('li', 'meta', 'No folders or NSV files here.'));
  } catch (failure) {
    error.textContent = failure.message;
    error.hidden = false;
  }
}

function openPicker(station, action) {
  picker.station = station;
  picker.action = action;
  document.getElementById('picker-heading').textContent =
    (action === 'queue' ? 'Queue a file on ' : 'Play a file now on ') + station;
  document.getElementById('picker').showModal();
  showFolder('');
}

let titleStation = '';
function openTitle(station) {
  titleStation = station;
  document.getElementById('title-heading').textContent = 'Set the title on ' + station;
  document.getElementById('title-input').value = '';
  document.getElementById('title-dialog').showModal();
}

document.getElementById('title-dialog').addEventListener('close', () => {
  const dialog = document.getElementById('title-dialog');
  const title = document.getElementById('title-input').value;
  if (dialog.returnValue === 'ok' && title) {
    control(titleStation, 'Title', 'POST', '/title', {title});
  }
});

refresh();
setInterval(refresh, pollMilliseconds);
