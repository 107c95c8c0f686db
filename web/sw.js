// The page's service worker: it keeps the files of one build in a cache named after that build
// and answers from it, so the page starts, and runs, without a network. The build's name below
// is the digest of its files (cmake/stamp-service-worker.cmake), so each new build is a new
// worker, which the browser finds on the next visit with a network and which replaces the old
// build's cache as soon as it has its own.
"use strict";
const CACHE = "triangle-editor-@BUILD@";
const FILES = ["./", "index.html", "triangle-editor.js", "triangle-editor.wasm",
               "manifest.webmanifest", "icon-192.png", "icon-512.png"];

self.addEventListener("install", (event) => {
  // From the server itself, not from the browser's HTTP cache, which may hold an older build.
  event.waitUntil(caches.open(CACHE)
    .then((cache) => cache.addAll(FILES.map((file) => new Request(file, {cache: "reload"}))))
    .then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((name) => name !== CACHE &&
                                              name.startsWith("triangle-editor-"))
                                      .map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

self.addEventListener("fetch", (event) => {
  if (event.request.method !== "GET") return;
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(event.request, {ignoreSearch: true}))
    .then((cached) => cached || fetch(event.request)));
});
