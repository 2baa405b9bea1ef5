// Keeps the page working without a network once it has been visited: every file of the site
// is cached when this worker installs, and served from the cache first. The build writes the
// version and the file list; a new release is a new worker with a new cache, and the old
// cache goes once the new one has taken over.
const VERSION = "@VERSION@";
const FILES = ["@FILES@"];
const CACHE = "tavi-setup-" + VERSION;

self.addEventListener("install", (event) => {
  event.waitUntil(
    caches.open(CACHE)
      .then((cache) => cache.addAll(FILES))
      .then(() => self.skipWaiting()),
  );
});

self.addEventListener("activate", (event) => {
  event.waitUntil(
    caches.keys()
      .then((keys) => Promise.all(keys.filter((k) => k !== CACHE).map((k) => caches.delete(k))))
      .then(() => self.clients.claim()),
  );
});

self.addEventListener("fetch", (event) => {
  const request = event.request;
  if (request.method !== "GET" || new URL(request.url).origin !== self.location.origin) {
    return;
  }
  // The page's address may carry a query (the demo's scenario): the cached page serves it.
  event.respondWith(
    caches.open(CACHE)
      .then((cache) => cache.match(request, { ignoreSearch: true }))
      .then((hit) => hit || fetch(request)),
  );
});
