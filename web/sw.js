// Keeps the game's files so that it starts with no network. Every file is
// stored under its name with the build's version (made from the contents of
// all of them) in the query, in one cache per version: a page asks only for
// files of its own version, so it never gets a mix of two builds.
//
// Caches belong to the whole origin, not to a folder: each is named by the
// site's own scope too, so that two copies of the site in two folders of one
// host (/game/ and /game-beta/) never delete each other's.
'use strict';
const VERSION = '@VN_VERSION@';
const SCOPE = self.registration.scope;
const OURS = 'vornackle ' + SCOPE + ' ';  // no space is in a scope or a version
const CACHE = OURS + VERSION;
// Each file with the SHA-256 of its contents.
const FILES = [@VN_FILES@
];
const PAGE = 'index.html?v=' + VERSION;

function hex(buffer) {
  return Array.from(new Uint8Array(buffer), (b) => b.toString(16).padStart(2, '0')).join('');
}

// The new version's files are all fetched, and each checked against its
// hash (a server may have been given a later build meanwhile), before any is
// kept. If one fails the install fails, the old version stays as it was, and
// the next visit tries again.
async function keepAll() {
  const fetched = await Promise.all(FILES.map(async ([name, hash]) => {
    const response = await fetch(name + '?v=' + VERSION, {cache: 'reload'});
    const contents = await response.clone().arrayBuffer();
    if (!response.ok || hex(await crypto.subtle.digest('SHA-256', contents)) !== hash) {
      throw new Error(name + ' is not the one of version ' + VERSION);
    }
    return [name, response];
  }));
  const cache = await caches.open(CACHE);
  try {
    await Promise.all(fetched.map(([name, response]) =>
      cache.put(name + '?v=' + VERSION, response)));
  } catch (e) {
    await caches.delete(CACHE);
    throw e;
  }
}

self.addEventListener('install', (event) => {
  event.waitUntil(keepAll().then(() => self.skipWaiting()));
});

// A cache named by its version alone, as earlier builds named theirs: this
// copy's when all it holds are this copy's files.
async function earlierOfOurs(name) {
  const requests = await (await caches.open(name)).keys();
  return requests.every((request) =>
    FILES.some(([file]) => request.url.startsWith(SCOPE + file + '?v=')));
}

// Once it is complete, this copy's earlier versions go; other copies' stay.
self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.map(async (name) => {
      const earlier = name.startsWith(OURS) ? name !== CACHE
        : name.startsWith('vornackle-') && await earlierOfOurs(name);
      if (earlier) await caches.delete(name);
    })))
    .then(() => self.clients.claim()));
});

// The page itself from the network when there is one, so that a new version
// is seen on the next visit; the kept copy when there is none, when the
// network has not answered in 4 seconds, or when the server answers with an
// error (a 404 or a 503 while the site is being replaced) instead of a page.
async function page(request) {
  const kept = caches.open(CACHE).then((cache) => cache.match(PAGE));
  const network = fetch(request.url, {cache: 'no-cache'});
  const late = new Promise((resolve) => setTimeout(resolve, 4000));
  try {
    const first = await Promise.race([network, late]);
    if (first && first.ok) return first;
    return (await kept) || first || (await network);
  } catch (e) {
    return (await kept) || Response.error();
  }
}

// Only the site's own files: a hall of fame's answers (on this origin or
// another) and the site's setting, hall-of-fame.json, which may change at
// any time, always come from the network.
self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || !request.url.startsWith(SCOPE) ||
      new URL(request.url).pathname.endsWith('/hall-of-fame.json')) {
    return;
  }
  if (request.mode === 'navigate') {
    event.respondWith(page(request));
    return;
  }
  // Files of another version than this one are not kept: the network, asked
  // afresh rather than trusting a copy the browser may hold under that name.
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(request))
    .then((kept) => kept || fetch(request, {cache: 'reload'})));
});
