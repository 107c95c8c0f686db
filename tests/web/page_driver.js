// Drives one page in Chromium or Firefox with puppeteer-core for tests/harness/browser.py: one
// JSON command per line on stdin, one JSON answer per line on stdout ({"value": ...} or {"error":
// "..."}), in order. The first line launches the browser: {"browser": "chrome" | "firefox",
// "executablePath", "args", "env", "headless", "viewport"}; each later one names a command below
// in "do". Input comes from the browser as trusted events. The end of stdin closes the browser.
"use strict";
const readline = require("readline");
const puppeteer = require("puppeteer-core");

let browser = null;
let page = null;
let session = null;  // DevTools, for what Puppeteer does not offer
const errors = [];  // since the last goto: the page's logged errors, its exceptions, failed loads

async function launch({viewport, ...options}) {
  browser = await puppeteer.launch({
    ...options, pipe: options.browser === "chrome",
    // The machine's browsers only: puppeteer-core never downloads one, and nothing is fetched
    // from the network on the browser's behalf.
    extraPrefsFirefox: {"network.captive-portal-service.enabled": false,
                        "app.update.enabled": false},
  });
  page = (await browser.pages())[0] || await browser.newPage();
  await commands.viewport({viewport});
  page.on("console", (message) => {
    if (message.type() === "error" || message.type() === "assert") errors.push(message.text());
  });
  page.on("pageerror", (error) => errors.push(String(error.message || error)));
  page.on("requestfailed", (request) => errors.push(`failed to load ${request.url()}`));
  page.on("response", (response) => {
    if (response.status() >= 400) errors.push(`${response.status()} for ${response.url()}`);
  });
}

const commands = {
  goto: async ({url}) => { errors.length = 0; await page.goto(url, {waitUntil: "load"}); },
  evaluate: ({expression}) => page.evaluate(expression),
  key: ({kind, key}) => page.keyboard[kind](key),
  move: ({x, y}) => page.mouse.move(x, y),
  button: ({kind}) => page.mouse[kind]({button: "left"}),
  // A finger through DevTools itself, since Puppeteer's touchscreen rounds to whole pixels. A
  // tap's finger goes down and up as fast as the protocol allows, well within one frame.
  touch: async ({kind, x, y}) => {
    for (const type of kind === "tap" ? ["start", "end"] : [kind]) {
      await commands.cdp({method: "Input.dispatchTouchEvent", params: {
        type: "touch" + type[0].toUpperCase() + type.slice(1),
        touchPoints: type === "end" ? [] : [{x, y}]}});
    }
  },
  // Firefox 140 lacks the screen orientation that Puppeteer's setViewport sets: its size and
  // pixel ratio straight through WebDriver BiDi.
  viewport: ({viewport}) => browser.protocol === "cdp" ? page.setViewport(viewport) :
    page.mainFrame().browsingContext.setViewport({
      viewport: {width: viewport.width, height: viewport.height},
      devicePixelRatio: viewport.deviceScaleFactor || null}),
  onNewDocument: ({script}) => page.evaluateOnNewDocument(script).then(() => null),
  cdp: async ({method, params}) => {
    session = session || await page.createCDPSession();
    return session.send(method, params);
  },
  screenshot: ({clip}) => page.screenshot({clip, encoding: "base64"}),
  errors: () => errors.slice(),
};

// Commands run one at a time, in the order they came; the first launches the browser.
const answer = (command) => browser ? commands[command.do](command) : launch(command);
let queue = Promise.resolve();
readline.createInterface({input: process.stdin}).on("line", (line) => {
  queue = queue.then(() => answer(JSON.parse(line)))
    .then((value) => ({value: value === undefined ? null : value}),
          (error) => ({error: String(error && error.stack || error)}))
    .then((reply) => process.stdout.write(JSON.stringify(reply) + "\n"));
}).on("close", () => queue.then(() => browser && browser.close()).finally(() => process.exit(0)));
