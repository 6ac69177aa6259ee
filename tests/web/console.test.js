// The web console in a real headless Chromium, driven by Playwright: the page as a user meets
// it, and what a guest of the host then sees through the camera module (vemo-camera).
//
// node console.test.js --hostd PATH --camera PATH --chromium PATH
// Exits 0 when every check holds, 1 at the first that fails, 77 when Playwright is missing.

"use strict";
const { spawn, execFile } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");

let playwright;
try {
  playwright = require("playwright-core");
} catch (e) {
  console.log("SKIP: playwright-core is not installed (scripts/test.sh installs it)");
  process.exit(77);
}

const args = {};
for (let i = 2; i + 1 < process.argv.length; i += 2) args[process.argv[i].slice(2)] = process.argv[i + 1];
const work = fs.mkdtempSync(path.join(os.tmpdir(), "vemo-web-browser."));
let host = null;
let context = null;

function check(condition, what) {
  if (!condition) throw new Error("check failed: " + what);
  console.log("ok: " + what);
}

// The environment with env's entries set, and those set to null removed.
function environment(env) {
  const result = { ...process.env, ...env };
  for (const [key, value] of Object.entries(env)) if (value === null) delete result[key];
  return result;
}

function run(program, argv, env, timeoutMs) {
  return new Promise(resolve => {
    execFile(program, argv, { env: environment(env), timeout: timeoutMs, encoding: "buffer" },
      (error, stdout, stderr) => resolve({ code: error ? (error.code ?? 1) : 0, stdout, stderr: stderr.toString() }));
  });
}

// vemo-hostd on free ports; resolves with the fields of its ready line.
function startHost() {
  return new Promise((resolve, reject) => {
    host = spawn(args.hostd, ["--camera-port", "0", "--control-port", "0", "--web-port", "0", "--quiet"],
      { env: environment({ TMPDIR: work, LD_PRELOAD: null }), stdio: ["ignore", "pipe", "inherit"] });
    const timer = setTimeout(() => reject(new Error("vemo-hostd printed no ready line in 10 s")), 10000);
    let out = "";
    host.stdout.on("data", data => {
      out += data;
      const line = out.split("\n").find(l => l.startsWith("vemo-hostd ready "));
      if (!line) return;
      clearTimeout(timer);
      resolve(Object.fromEntries(line.split(" ").slice(2).map(w => w.split(/=(.*)/s).slice(0, 2))));
    });
    host.on("exit", code => reject(new Error("vemo-hostd ended with " + code)));
  });
}

async function main() {
  const ready = await startHost();
  const guestEnv = {
    VEMO_NAT_PORT_10072: ready["camera-port"], VEMO_NAT_PORT_10088: ready["control-port"],
    VEMO_HGCM_SOCKET: ready["hgcm-socket"], VEMO_PROPERTY_FILE: null, VEMO_CAMERA_MODULE: null, LD_PRELOAD: null,
  };
  const camera = (...argv) => run(args.camera, argv, guestEnv, 60000);

  context = await playwright.chromium.launchPersistentContext(path.join(work, "profile"), {
    executablePath: args.chromium,
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--use-fake-device-for-media-stream", "--use-fake-ui-for-media-stream"],
    timeout: 30000,
  });
  const page = context.pages()[0] || await context.newPage();
  const problems = [];
  page.on("console", message => { if (message.type() === "error") problems.push(message.text()); });
  page.on("pageerror", error => problems.push(error.message));
  page.setDefaultTimeout(15000);

  // The page loads, with a card per camera and nothing fetched from elsewhere.
  const outside = [];
  page.on("request", request => { if (!request.url().startsWith(ready.web)) outside.push(request.url()); });
  await page.goto(ready.web);
  await page.waitForSelector("#camera-1 .source");
  check(problems.length === 0, "the page loads without console errors " + JSON.stringify(problems));

  // The live view changes.
  const picture = () => page.locator("#camera-0 img.live").screenshot();
  await page.waitForFunction(() => document.querySelector("#camera-0 img.live").naturalWidth > 0);
  const first = await picture();
  await page.waitForTimeout(300);
  check(!first.equals(await picture()), "the live view changes");

  // A QR code dropped onto camera 0's card is what the guest's next picture shows.
  const text = "vemo web console " + process.pid;
  const qr = path.join(work, "qr.png");
  check((await run("qrencode", ["-o", qr, "-s", "8", "-m", "4", text], {}, 10000)).code === 0, "qrencode made a code");
  const drop = await page.evaluateHandle(bytes => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([Uint8Array.from(atob(bytes), c => c.charCodeAt(0))], "qr.png", { type: "image/png" }));
    return transfer;
  }, fs.readFileSync(qr).toString("base64"));
  await page.dispatchEvent("#camera-0", "drop", { dataTransfer: drop });
  await page.waitForSelector("#camera-0 .msg.ok");
  const photo = path.join(work, "photo.jpg");
  const snap = await camera("snap", "--camera", "0", "-o", photo);
  check(snap.code === 0, "the guest takes a picture " + snap.stderr);
  const read = await run("zbarimg", ["-q", "--raw", photo], {}, 10000);
  check(read.stdout.toString().trim() === text, "zbar reads the dropped code from the guest's picture");

  // A file that is no picture: one message, and the camera keeps the code.
  await page.setInputFiles("#camera-0 input[type=file]", { name: "notes.txt", mimeType: "text/plain", buffer: Buffer.from("hello") });
  await page.waitForSelector("#camera-0 .msg.error");
  check((await page.textContent("#camera-0 .msg")).includes("keeps its source"), "a bad upload gets one message");
  check((await page.textContent("#camera-0 .source")).startsWith("image:"), "camera 0 keeps the code");
  // The browser reports the refused upload itself; that is the only error it may show.
  check(problems.length === 1 && problems[0].includes("400"), "the refusal is the only error " + JSON.stringify(problems));
  problems.length = 0;

  // This browser's camera: the guest's frames follow the browser's fake capture device.
  await page.click("#camera-1 .browser-camera");
  await page.waitForFunction(() => document.querySelector("#camera-1 .source").textContent === "pushed");
  await page.waitForTimeout(500);
  const shots = [];
  for (let i = 0; i < 2; ++i) {
    const file = path.join(work, "browser" + i + ".jpg");
    const result = await camera("snap", "--camera", "1", "-o", file);
    check(result.code === 0, "the guest takes a picture of the browser's camera " + result.stderr);
    shots.push(fs.readFileSync(file).toString("base64"));
    await page.waitForTimeout(400);
  }
  // Mean colours, worked out by the page: the browser's own frame and the guest's pictures.
  const means = await page.evaluate(async shots => {
    const mean = source => {
      const canvas = document.createElement("canvas");
      canvas.width = 64; canvas.height = 36;
      const g = canvas.getContext("2d");
      g.drawImage(source, 0, 0, 64, 36);
      const data = g.getImageData(0, 0, 64, 36).data;
      const sum = [0, 0, 0];
      for (let i = 0; i < data.length; i += 4) for (let c = 0; c < 3; ++c) sum[c] += data[i + c];
      return sum.map(s => s / (64 * 36));
    };
    const load = base64 => new Promise(resolve => {
      const img = new Image();
      img.onload = () => resolve(img);
      img.src = "data:image/jpeg;base64," + base64;
    });
    const guest = [];
    for (const shot of shots) guest.push(mean(await load(shot)));
    return { browser: mean(document.querySelector("#camera-1 video")), guest };
  }, shots);
  const distance = (a, b) => Math.max(...a.map((v, i) => Math.abs(v - b[i])));
  check(distance(means.browser, means.guest[1]) < 40,
    "the guest's picture has the browser's colours " + JSON.stringify(means));
  check(shots[0] !== shots[1], "the guest's pictures move with the browser's");

  // The calls panel lists the guest's captureFrame calls while it previews.
  const preview = camera("preview", "--camera", "0", "--frames", "150");
  await page.waitForFunction(() => [...document.querySelectorAll("#camera-0 table.calls td")]
    .some(td => td.textContent === "captureFrame"), null, { timeout: 20000 });
  check(true, "the calls panel lists captureFrame");
  check((await preview).code === 0, "the guest's preview ends well");

  check(outside.length === 0, "nothing was fetched from elsewhere " + JSON.stringify(outside));
  check(problems.length === 0, "no console errors " + JSON.stringify(problems));
}

main().then(() => 0, error => { console.error(error.stack || error.message); return 1; }).then(async code => {
  if (context) await context.close().catch(() => {});
  if (host && host.exitCode === null) {
    host.kill("SIGTERM");
    await new Promise(resolve => { const t = setTimeout(resolve, 5000); host.on("exit", () => { clearTimeout(t); resolve(); }); });
  }
  fs.rmSync(work, { recursive: true, force: true });
  process.exit(code);
});
