// The presence cards: one per client of the service, drawn from the board
// that /events pushes on every change. Every text on a card comes from a
// game's memory through a script, so it is only ever set as textContent or
// an attribute value, never parsed as markup.
'use strict';

const cardsById = new Map();  // client id -> { element, shown }
let assetsServed = false;

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function text(value) {
  return typeof value === 'string' ? value : '';
}

function object(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value) ? value : {};
}

// "1:02:03" or "02:03".
function clock(totalSeconds) {
  const seconds = Math.max(0, Math.floor(totalSeconds));
  const h = Math.floor(seconds / 3600);
  const mm = String(Math.floor(seconds / 60) % 60).padStart(2, '0');
  const ss = String(seconds % 60).padStart(2, '0');
  return h > 0 ? `${h}:${mm}:${ss}` : `${mm}:${ss}`;
}

// Timestamps are Unix seconds. An end time counts down to it; otherwise a
// start time counts up from it.
function timerText(node) {
  const now = Date.now() / 1000;
  if (node.dataset.end) return `${clock(Number(node.dataset.end) - now)} left`;
  return `${clock(now - Number(node.dataset.start))} elapsed`;
}

function tickTimers() {
  for (const node of document.querySelectorAll('.timer')) node.textContent = timerText(node);
}

// The image with `key`, as the file the service serves for it or, failing
// that, a placeholder that names the key. The caption shows on hover.
function image(className, key, caption) {
  const placeholder = element('div', `${className} placeholder`, key);
  if (caption) placeholder.title = caption;
  if (!assetsServed) return placeholder;
  const img = element('img', className);
  img.alt = key;
  if (caption) img.title = caption;
  img.addEventListener('error', () => img.replaceWith(placeholder), { once: true });
  img.src = `/assets/${encodeURIComponent(key)}.png`;
  return img;
}

function drawActivity(body, activity) {
  const assets = object(activity.assets);
  const largeKey = text(assets.large_image);
  const smallKey = text(assets.small_image);
  if (largeKey || smallKey) {
    const images = element('div', 'images');
    if (largeKey) images.append(image('large-image', largeKey, text(assets.large_text)));
    if (smallKey) images.append(image('small-image', smallKey, text(assets.small_text)));
    body.append(images);
  }

  const lines = element('div', 'lines');
  if (text(activity.details)) lines.append(element('div', 'details', activity.details));
  if (text(activity.state)) lines.append(element('div', 'state', activity.state));
  const party = object(activity.party);
  if (Array.isArray(party.size) && party.size.length === 2) {
    const line = element('div', 'party', `${party.size[0]} of ${party.size[1]}`);
    if (text(party.id)) line.title = `party ${party.id}`;
    lines.append(line);
  }
  const timestamps = object(activity.timestamps);
  if (typeof timestamps.start === 'number' || typeof timestamps.end === 'number') {
    const timer = element('div', 'timer');
    if (typeof timestamps.start === 'number') timer.dataset.start = String(timestamps.start);
    if (typeof timestamps.end === 'number') timer.dataset.end = String(timestamps.end);
    timer.textContent = timerText(timer);
    lines.append(timer);
  }
  body.append(lines);

  const secrets = object(activity.secrets);
  const buttons = element('div', 'buttons');
  if (text(secrets.join)) buttons.append(element('button', 'join', 'Ask to Join'));
  if (text(secrets.spectate)) buttons.append(element('button', 'spectate', 'Spectate'));
  for (const button of buttons.children) {
    button.type = 'button';
    button.title = 'A chat application would send the secret to the game';
  }
  if (buttons.children.length > 0) body.append(buttons);
  if (activity.instance === true) body.append(element('div', 'instance', 'instance'));
}

// The card's content for the last request: its activity, a cleared
// presence, or what arrived when it is not JSON (a request cut short).
function drawPresence(body, client) {
  if (client.request === null) {
    body.append(element('p', 'presence-none', 'No presence yet'));
    return;
  }
  let request;
  try {
    request = JSON.parse(client.request);
  } catch (error) {
    body.append(element('p', 'presence-broken', `The last request is not JSON (${client.request.length} characters)`));
    body.append(element('pre', 'presence-raw', client.request));
    return;
  }
  const args = object(object(request).args);
  if (args.activity === undefined || args.activity === null) {
    body.append(element('p', 'presence-cleared', 'Presence cleared'));
    return;
  }
  drawActivity(body, object(args.activity));
}

function drawCard(card, client) {
  card.className = client.connected ? 'card' : 'card gone';
  const heading = element('div', 'heading');
  heading.append(element('span', 'application', text(client.application)));
  heading.append(element('span', 'connection', client.connected ? 'connected' : 'disconnected'));
  const count = client.requests === 1 ? '1 request' : `${client.requests} requests`;
  heading.append(element('span', 'requests', count));
  const body = element('div', 'body');
  drawPresence(body, client);
  card.replaceChildren(heading, body);
}

function showBoard(board) {
  assetsServed = board.assets === true;
  const container = document.getElementById('cards');
  const present = new Set();
  for (const client of board.clients) {
    present.add(client.id);
    let entry = cardsById.get(client.id);
    if (!entry) {
      const node = element('article');
      node.dataset.client = String(client.id);
      container.append(node);
      entry = { element: node, shown: '' };
      cardsById.set(client.id, entry);
    }
    // Redrawn only when something changed, so an image is not fetched again.
    const shown = JSON.stringify(client);
    if (entry.shown !== shown) {
      drawCard(entry.element, client);
      entry.shown = shown;
    }
  }
  for (const [id, entry] of cardsById) {
    if (!present.has(id)) {
      entry.element.remove();
      cardsById.delete(id);
    }
  }
  document.getElementById('empty').hidden = cardsById.size > 0;
}

function connect() {
  const status = document.getElementById('status');
  const events = new EventSource('/events');
  events.addEventListener('open', () => { status.textContent = 'Live: cards change as requests arrive.'; });
  // The browser retries by itself, except after a refusal (too many pages).
  events.addEventListener('error', () => {
    status.textContent = events.readyState === EventSource.CLOSED
      ? 'The service refused this page (too many open?); reload to try again.'
      : 'The service is not reachable; retrying.';
  });
  events.addEventListener('message', (event) => showBoard(JSON.parse(event.data)));
}

connect();
setInterval(tickTimers, 1000);
