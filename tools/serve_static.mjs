// A small static server for the built page on localhost, which browsers count as a secure
// context (Web MIDI needs one). Used by `scripts/run web`, the page's tests and its benchmark.
//
//   node tools/serve_static.mjs DIR [PORT [QUERY]]   serves DIR until stopped; prints the
//                                                    address (with QUERY, e.g. ?sim=normal)
import { createServer } from "node:http";
import { readFile } from "node:fs/promises";
import { extname, join, normalize, resolve } from "node:path";
import { pathToFileURL } from "node:url";

const TYPES = {
  ".html": "text/html; charset=utf-8",
  ".js": "text/javascript; charset=utf-8",
  ".css": "text/css; charset=utf-8",
  ".wasm": "application/wasm",
  ".png": "image/png",
  ".webmanifest": "application/manifest+json",
  ".json": "application/json",
};

// Serves root on 127.0.0.1 (port 0: any free one). Resolves to { url, close() }.
export function serve(root, port = 0) {
  const base = resolve(root);
  const server = createServer(async (request, response) => {
    let path = decodeURIComponent(new URL(request.url, "http://localhost").pathname);
    if (path.endsWith("/")) {
      path += "index.html";
    }
    const file = normalize(join(base, path));
    if (!file.startsWith(base)) {
      response.writeHead(403).end();
      return;
    }
    try {
      const body = await readFile(file);
      response.writeHead(200, {
        "Content-Type": TYPES[extname(file)] ?? "application/octet-stream",
        "Cache-Control": "no-cache",
      });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((ready, fail) => {
    server.once("error", fail);
    server.listen(port, "127.0.0.1", () => {
      ready({
        url: `http://localhost:${server.address().port}/`,
        close: () => new Promise((done) => {
          server.closeAllConnections();
          server.close(() => done());
        }),
      });
    });
  });
}

if (import.meta.url === pathToFileURL(process.argv[1]).href) {
  const { url } = await serve(process.argv[2] ?? ".", Number(process.argv[3] ?? 0));
  console.log(url + (process.argv[4] ?? ""));
}
