// The page's service worker: it keeps one build of the page, all of its files, so that the
// game plays offline. The build writes its version and the list of its files in here, so every
// build has a worker of its own; the browser installs it at the next visit, and it then drops
// the older build's files.
const VERSION = '@VERSION@';
const FILES = @FILES@;
const CACHE = `numoteka-${VERSION}`;
// How long a visit waits for the server's page before it takes the kept one.
const PATIENCE_MS = 3000;

self.addEventListener('install', (event) => {
  // Asked afresh of the server (a 304 does), never taken from the browser's HTTP cache, which
  // may hold an older index.html.
  const requests = FILES.map((file) => new Request(file, { cache: 'no-cache' }));
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(requests))
    .then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys().then((names) => Promise.all(names
    .filter((name) => name.startsWith('numoteka-') && name !== CACHE)
    .map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

// The page itself comes from the server whenever it answers, so that a visit after a new build
// loads the new build; its files, whose addresses hold their version, come from the kept ones.
// The world ranking's API (numoteka-server) always goes to the server, and is never kept.
self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || request.url.startsWith(new URL('api/', self.registration.scope).href)) {
    return;
  }
  event.respondWith(caches.open(CACHE).then(async (cache) => {
    if (request.mode !== 'navigate') {
      return (await cache.match(request)) ?? fetch(request);
    }
    const kept = await cache.match(request, { ignoreSearch: true });
    const fresh = fetch(request.url, { cache: 'no-cache' }).then((response) => {
      if (!response.ok && kept) {
        throw new Error(`the server answered ${response.status}`);
      }
      return response;
    });
    if (!kept) {
      return fresh;
    }
    const slow = new Promise((resolve) => setTimeout(resolve, PATIENCE_MS, kept));
    return Promise.race([fresh, slow]).catch(() => kept);
  }));
});
