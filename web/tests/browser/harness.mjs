// Headless Debian Chromium serving the built page from memory (no server, no network) and, where
// asked, a stand-in for the native bridge that answers the way the app does: one evaluated line.
import { createHash } from 'node:crypto';
import { mkdirSync, readFileSync } from 'node:fs';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';
import { fileURLToPath } from 'node:url';
import { deflateSync } from 'node:zlib';
import { chromium } from 'playwright-core';
import { expect } from 'vitest';

export const ROOT = fileURLToPath(new URL('../../../WebResources/', import.meta.url));
export const ORIGIN = 'http://tarvel.test';
export const PAGE_URL = `${ORIGIN}/index.html`;

/** @type {Record<string, string>} */
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.json': 'application/json', '.svg': 'image/svg+xml', '.png': 'image/png', '.gz': 'application/gzip' };

export async function launch() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM_PATH ?? '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update', '--no-first-run', '--disable-sync'],
  });
}

/** @type {WeakMap<object, string[]>} */
const ERRORS = new WeakMap();
/** Script errors the page raised so far. @param {object} page */
export const pageErrors = (page) => ERRORS.get(page) ?? [];

/**
 * `config`: karabiner.json as "tarvelConfig" answers it; with it the stand-in also reads and writes
 * it as the app does (applies against a digest, kept rules, backups, restores). Without it the
 * stand-in is an app that does not read karabiner.json for the page.
 * `fetchAnswers`: with it the stand-in fetches for the page ("tarvelFetch"), answering each address
 * with its entry there and any other as the app does offline; nothing reaches the network.
 * @typedef {{ inventory?: unknown, applyAnswers?: unknown[], restoreAnswers?: unknown[], configAnswers?: unknown[], config?: any, delay?: number, fetchAnswers?: Record<string, unknown> }} BridgeConfig
 */

/** What "tarvelFetch" answers for a rule document's text that came from `url`. @param {string} url @param {string} text */
export const fetched = (url, text) => ({ ok: true, url, document: JSON.parse(text), text });

// Screenshots for the docs are written only when asked (npm run screenshots).
const SHOTS = process.env.TARVEL_SCREENSHOTS;
/** @param {import('playwright-core').Page} page @param {string} name */
export async function shot(page, name) {
  if (!SHOTS) return;
  mkdirSync(SHOTS, { recursive: true });
  await page.screenshot({ path: join(SHOTS, `${name}.png`) });
}

/** Every page must get through its test without a script error. @param {import('playwright-core').Page} page */
export async function done(page) {
  expect(pageErrors(page)).toEqual([]);
  await page.context().close();
}

/**
 * A page at 900 x 640 (the app's smallest window); `bridge` undefined means preview mode.
 * @param {import('playwright-core').Browser} browser
 * With `url` the page comes from there (a loopback server) and no request is intercepted.
 * `query` is added to the page's address (the app adds "?recovered=1" after its web process died).
 * @param {{ bridge?: BridgeConfig, lang?: string, storage?: Record<string, string>, url?: string, query?: string }} [opts]
 * @returns {Promise<import('playwright-core').Page>}
 */
export async function openPage(browser, opts = {}) {
  const context = await browser.newContext({ viewport: { width: 900, height: 640 }, locale: opts.lang ?? 'en-US', acceptDownloads: true });
  context.setDefaultTimeout(8000);
  if (!opts.url) await routeToBuild(context);
  if (opts.storage) {
    await context.addInitScript((items) => {
      if (!sessionStorage.getItem('__seeded')) {
        for (const [k, v] of Object.entries(items)) localStorage.setItem(k, v);
        sessionStorage.setItem('__seeded', '1');
      }
    }, opts.storage);
  }
  if (opts.bridge) await context.addInitScript(installBridge, opts.bridge);
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  ERRORS.set(page, errors);
  await page.goto(opts.url ?? `${PAGE_URL}${opts.query ?? ''}`);
  await page.waitForFunction(() => window.__tarvelReady !== undefined);
  return page;
}

/** Serves the build from memory; everything else would be the network and is refused.
 * @param {import('playwright-core').BrowserContext} context */
async function routeToBuild(context) {
  await context.route(`${ORIGIN}/**`, async (route) => {
    const path = normalize(decodeURIComponent(new URL(route.request().url()).pathname)).replace(/^\/+/, '');
    try {
      const body = await readFile(join(ROOT, path));
      await route.fulfill({ status: 200, body, contentType: TYPES[extname(path)] ?? 'application/octet-stream' });
    } catch {
      await route.fulfill({ status: 404, body: 'not found' });
    }
  });
  // Anything else would be the network: refuse it.
  await context.route(/^(?!http:\/\/tarvel\.test\/)(https?|wss?):/, (route) => route.abort());
}

/** @param {any} cfg */
function installBridge(cfg) {
  /** @type {any} */
  const w = window;
  const state = {
    /** @type {{ name: string, body: unknown }[]} */
    messages: [],
    inventory: cfg.inventory ?? null,
    /** @type {unknown[]} */
    applyAnswers: cfg.applyAnswers ?? [],
    delay: cfg.delay ?? 30,
    /** @type {any} */
    config: cfg.config ?? null,
    /** @type {unknown[]} */
    configAnswers: cfg.configAnswers ?? [],
    /** @type {unknown[]} */
    restoreAnswers: cfg.restoreAnswers ?? [],
    /** Full copies of the profiles behind each backup, by name. @type {Record<string, any>} */
    backupFiles: {},
    writes: 0,
  };
  const dir = '/Users/me/.config/karabiner';
  /** @param {any} rules */
  const summary = (rules) => rules.map((/** @type {any} */ r) => ({
    description: typeof r.description === 'string' ? r.description : null, enabled: r.enabled !== false, manipulators: (r.manipulators ?? []).length,
  }));
  const selected = () => Math.max(0, state.config.profiles.findIndex((/** @type {any} */ p) => p.selected));
  // A new backup of the file as it is now; then the file gets a new digest.
  const backUp = () => {
    state.writes += 1;
    const name = `karabiner.backup-20260101-12000${state.writes}.json`;
    state.backupFiles[name] = JSON.parse(JSON.stringify(state.config.profiles));
    state.config.backups.unshift({
      name, path: `${dir}/${name}`, modified: `2026-01-01T11:30:0${state.writes}Z`, size: 18000 + state.writes,
      rules: summary(state.config.profiles[selected()].rules),
    });
    state.config.digest = `sha256:${String(state.writes).padStart(64, '0')}`;
    return `${dir}/${name}`;
  };
  const malformed = { ok: false, error: 'malformed apply message from the web view', code: 'malformed' };
  const VALUE_MEMBERS = { simple_modifications: 'simpleModifications', fn_function_keys: 'fnFunctionKeys' };
  /**
   * The profile's final rule list and values, as the writer applies them (at the level of values:
   * a kept rule is the rule as it was, an edited one its new content; comments follow the writer's
   * rule in `commentedRules`).
   * @param {any} body
   */
  const writeList = (body) => {
    if (typeof body.baseDigest !== 'string' || !Array.isArray(body.ruleList)) return malformed;
    if (body.baseDigest !== state.config.digest) {
      return { ok: false, error: 'karabiner.json changed since Tarvel read it; reload to see the change', code: 'changed' };
    }
    const profile = state.config.profiles[body.profile ?? selected()];
    if (!profile) return { ok: false, error: `karabiner.json has no profile ${body.profile}`, code: 'noSuchProfile' };
    const old = profile.rules;
    /** @type {number[]} */
    const from = [];
    const rules = [];
    for (const e of body.ruleList) {
      const i = e && typeof e === 'object' ? ('keep' in e ? e.keep : 'edit' in e ? e.edit : undefined) : undefined;
      if (i !== undefined) {
        if (!Number.isInteger(i) || from.includes(i)) return malformed;
        if (i < 0 || i >= old.length) return { ok: false, error: `the profile has no rule ${i} to keep`, code: 'noSuchRule' };
        if ('edit' in e && (!e.rule || typeof e.rule !== 'object')) return malformed;
        from.push(i);
        rules.push('edit' in e ? e.rule : old[i]);
      } else if (e && typeof e === 'object' && e.rule && typeof e.rule === 'object' && Object.keys(e).length === 1) {
        from.push(-1);
        rules.push(e.rule);
      } else {
        return malformed;
      }
    }
    /** @type {[any, string, unknown][]} */
    const sets = [];
    for (const v of body.values ?? []) {
      const path = v?.path;
      if (!Array.isArray(path)) return malformed;
      if (path.length === 1 && path[0] in VALUE_MEMBERS) sets.push([profile, VALUE_MEMBERS[path[0]], v.value]);
      else if (path.length === 2 && path[0] === 'complex_modifications' && path[1] === 'parameters') sets.push([profile, 'parameters', v.value]);
      else if (path.length === 3 && path[0] === 'devices' && path[2] in VALUE_MEMBERS) {
        const d = profile.deviceSettings?.[path[1]];
        if (!d) return { ok: false, error: `the profile has no device ${path[1]}`, code: 'noSuchDevice' };
        sets.push([d, path[2], v.value]);
      } else return malformed;
    }
    // Comments stay with the rules that stay; a removed rule's go to the next one that stays in
    // the file's order, else the previous one.
    if (profile.commentedRules) {
      const stays = (/** @type {number} */ i) => from.includes(i);
      const marked = new Set();
      for (const i of profile.commentedRules) {
        let j = i;
        if (!stays(j)) {
          j = old.findIndex((_, k) => k > i && stays(k));
          if (j < 0) j = [...old.keys()].filter((k) => k < i && stays(k)).pop() ?? -1;
        }
        if (j >= 0) marked.add(from.indexOf(j));
      }
      profile.commentedRules = [...marked].sort((a, b) => a - b);
    }
    const backupPath = backUp();
    profile.rules = rules;
    for (const [o, k, v] of sets) o[k] = v;
    return { ok: true, backupPath };
  };
  /** @param {any} body */
  const write = (body) => {
    if (body.ruleList !== undefined) return writeList(body);
    if (body.baseDigest !== undefined && body.baseDigest !== state.config.digest) {
      return { ok: false, error: 'karabiner.json changed since Tarvel read it; reload to see the change', code: 'changed' };
    }
    const profile = state.config.profiles[body.profile ?? selected()];
    const old = profile.rules;
    const written = body.rules
      .filter((/** @type {any} */ r) => r.manipulators.length)
      .map((/** @type {any} */ r) => ({ description: `[Tarvel] ${body.title}: ${r.name}`, ...(r.enabled === false ? { enabled: false } : {}), manipulators: r.manipulators }));
    const backupPath = backUp();
    profile.rules = [...written, ...(body.keep ?? []).map((/** @type {number} */ i) => old[i])];
    return { ok: true, backupPath };
  };
  /** @param {any} body */
  const restore = (body) => {
    const saved = state.backupFiles[body.name];
    if (!saved) return { ok: false, error: `there is no backup named "${body.name}" beside karabiner.json`, code: 'noSuchBackup' };
    if (body.baseDigest !== undefined && body.baseDigest !== state.config.digest) {
      return { ok: false, error: 'karabiner.json changed since Tarvel read it; reload to see the change', code: 'changed' };
    }
    const backupPath = backUp();
    state.config.profiles = JSON.parse(JSON.stringify(saved));
    return { ok: true, backupPath };
  };
  w.__bridge = state;
  // The native side evaluates exactly this kind of line.
  /** @type {(fn: string, value: unknown) => void} */
  const answer = (fn, value) => setTimeout(() => {
    (0, eval)(`window.${fn} && window.${fn}(${JSON.stringify(value)})`);
  }, state.delay);
  w.webkit = {
    messageHandlers: {
      tarvelApps: { postMessage(/** @type {unknown} */ body) { state.messages.push({ name: 'tarvelApps', body: JSON.parse(JSON.stringify(body ?? null)) }); answer('__tarvelAppsResolve', state.inventory); } },
      tarvelApply: {
        postMessage(/** @type {unknown} */ body) {
          state.messages.push({ name: 'tarvelApply', body: JSON.parse(JSON.stringify(body)) });
          const next = state.applyAnswers.shift()
            ?? (state.config ? write(body) : { ok: true, backupPath: '/Users/me/.config/karabiner/karabiner.backup-20260101-120000.json' });
          // 'silence' stands for an outcome the app could not send: no answer at all.
          if (next !== 'silence') answer('__tarvelApplyResolve', next);
        },
      },
    },
  };
  if (state.config) {
    w.webkit.messageHandlers.tarvelConfig = {
      postMessage(/** @type {unknown} */ body) {
        state.messages.push({ name: 'tarvelConfig', body: JSON.parse(JSON.stringify(body ?? null)) });
        const next = state.configAnswers.shift() ?? { ok: true, ...state.config };
        if (next !== 'silence') answer('__tarvelConfigResolve', next);
      },
    };
    w.webkit.messageHandlers.tarvelRestore = {
      postMessage(/** @type {unknown} */ body) {
        state.messages.push({ name: 'tarvelRestore', body: JSON.parse(JSON.stringify(body)) });
        answer('__tarvelRestoreResolve', state.restoreAnswers.shift() ?? restore(body));
      },
    };
  }
  if (cfg.fetchAnswers) {
    w.webkit.messageHandlers.tarvelFetch = {
      postMessage(/** @type {any} */ body) {
        state.messages.push({ name: 'tarvelFetch', body: JSON.parse(JSON.stringify(body)) });
        const url = typeof body?.url === 'string' ? body.url : '';
        const host = /^[a-z]+:\/\/([^/?#]*)/i.exec(url.trim())?.[1] ?? url;
        answer('__tarvelFetchResolve', cfg.fetchAnswers[url] ?? { ok: false, error: `could not reach ${host}: the tests have no network`, code: 'offline' });
      },
    };
  }
  // Another program changing karabiner.json: a new digest and, if given, the chosen profile's rules;
  // with `notify` the app then tells the page, as it does when it sees the file change.
  let outside = 0;
  state.outsideChange = (/** @type {any} */ rules, notify = false) => {
    outside += 1;
    state.config.digest = `sha256:${String(outside - 1 || '').padStart(64, 'f')}`;
    if (rules) state.config.profiles[selected()].rules = rules;
    if (notify) setTimeout(() => w.__tarvelConfigChanged && w.__tarvelConfigChanged(null), state.delay);
  };
}

// A tiny solid-colour PNG, so the inventory carries real icons.
/** @param {Buffer} buf */
function crc32(buf) {
  let c = ~0;
  for (const b of buf) {
    c ^= b;
    for (let k = 0; k < 8; k++) c = (c >>> 1) ^ (0xedb88320 & -(c & 1));
  }
  return ~c >>> 0;
}
/** @param {string} type @param {Buffer} data */
function chunk(type, data) {
  const len = Buffer.alloc(4); len.writeUInt32BE(data.length);
  const td = Buffer.concat([Buffer.from(type), data]);
  const crc = Buffer.alloc(4); crc.writeUInt32BE(crc32(td));
  return Buffer.concat([len, td, crc]);
}
/** @param {number} r @param {number} g @param {number} b */
export function pngIcon(r, g, b, size = 32) {
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(size, 0); ihdr.writeUInt32BE(size, 4); ihdr[8] = 8; ihdr[9] = 6;
  const rows = [];
  for (let y = 0; y < size; y++) {
    const row = Buffer.alloc(1 + size * 4);
    for (let x = 0; x < size; x++) {
      const inside = (x - size / 2) ** 2 + (y - size / 2) ** 2 < (size / 2 - 1) ** 2 || (x > 2 && x < size - 3 && y > 2 && y < size - 3);
      row.set([r, g, b, inside ? 255 : 0], 1 + x * 4);
    }
    rows.push(row);
  }
  const png = Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', ihdr), chunk('IDAT', deflateSync(Buffer.concat(rows))), chunk('IEND', Buffer.alloc(0))]);
  return `data:image/png;base64,${png.toString('base64')}`;
}

export const HELPER = '/Applications/Tarvel.app/Contents/MacOS/tarvel-focus';
export function sampleInventory() {
  /** @param {string} name @param {string} bundleId @param {[number, number, number]} color */
  const app = (name, bundleId, color, running = false) => ({
    name, bundleId, path: `/Applications/${name}.app`, icon: pngIcon(...color), running, launchable: true,
  });
  const installed = [
    app('Calendar', 'com.apple.iCal', [230, 80, 70]),
    app('Mail', 'com.apple.mail', [60, 140, 230]),
    app('Notes', 'com.apple.Notes', [240, 200, 60]),
    app('Safari', 'com.apple.Safari', [40, 150, 220]),
    app('Slack', 'com.tinyspeck.slackmacgap', [120, 60, 130]),
    app('Terminal', 'com.apple.Terminal', [50, 50, 50]),
    app("Bob's \"App\" $(echo hi)", 'org.example.bob', [90, 170, 90]),
  ];
  const running = [
    { ...app('Safari', 'com.apple.Safari', [40, 150, 220], true), launchable: true },
    { name: 'Finder', bundleId: 'com.apple.finder', path: '/System/Library/CoreServices/Finder.app', icon: pngIcon(80, 160, 240), running: true, launchable: true },
    { name: 'helperd', running: true, launchable: false },
  ];
  return { running, installed, shortcuts: ['Start Focus', 'Toggle "Dark" Mode'], helperPath: HELPER };
}

const AXE = fileURLToPath(new URL('../../node_modules/axe-core/axe.min.js', import.meta.url));
/**
 * axe-core's critical and serious findings on the page as it is now, one line each.
 * @param {import('playwright-core').Page} page
 * @returns {Promise<string[]>}
 */
export async function axeFindings(page) {
  if (!(await page.evaluate(() => 'axe' in window))) await page.addScriptTag({ content: await readFile(AXE, 'utf8') });
  return page.evaluate(async () => {
    /** @type {any} */
    const w = window;
    const r = await w.axe.run(document, { resultTypes: ['violations'] });
    return r.violations
      .filter((/** @type {any} */ v) => v.impact === 'critical' || v.impact === 'serious')
      .map((/** @type {any} */ v) => `${v.impact} ${v.id}: ${v.nodes.slice(0, 3).map((/** @type {any} */ n) => n.target.join(' ')).join(' | ')}`);
  });
}

// ---- real karabiner.json files ------------------------------------------------------------------

/** JSON with comments as Karabiner-Elements reads it: comments become spaces. @param {string} text */
function withoutComments(text) {
  let out = '';
  for (let i = 0; i < text.length;) {
    const c = text[i];
    if (c === '"') {
      let j = i + 1;
      while (j < text.length && text[j] !== '"') j += text[j] === '\\' ? 2 : 1;
      out += text.slice(i, j + 1);
      i = j + 1;
    } else if (c === '/' && (text[i + 1] === '/' || text[i + 1] === '*')) {
      const line = text[i + 1] === '/';
      const end = line ? text.indexOf('\n', i) : text.indexOf('*/', i + 2);
      i = end < 0 ? text.length : line ? end : end + 2;
      out += ' ';
    } else {
      out += c;
      i++;
    }
  }
  return out;
}

/**
 * For each profile (by index), the rules with comments around them, by the writer's rule: a comment
 * belongs to the rule on whose line it follows, else to the next rule, else to the last one.
 * @param {string} text
 */
export function commentedRules(text) {
  /** @typedef {{ kind: string, path: (string|number)[], key?: string, expectKey: boolean, n: number, starts: number[], ends: number[], endLines: number[], comments: { at: number, line: number }[] }} Frame */
  /** @type {Map<number, number[]>} */
  const out = new Map();
  /** @type {Frame[]} */
  const stack = [];
  let line = 1;
  const top = () => stack[stack.length - 1];
  /** @param {Frame | undefined} f */
  const isRules = (f) => !!f && f.kind === '[' && f.path.length === 4 && f.path[0] === 'profiles' && f.path[2] === 'complex_modifications' && f.path[3] === 'rules';
  /** @param {number} at */
  const start = (at) => { const f = top(); if (isRules(f) && f.starts.length === f.n) f.starts.push(at); };
  /** @param {number} at */
  const end = (at) => { const f = top(); if (isRules(f)) { f.ends[f.n] = at; f.endLines[f.n] = line; } };
  /** @param {Frame} f */
  const close = (f) => {
    const marked = new Set();
    for (const c of f.comments) {
      let k = -1;
      for (let j = 0; j < f.ends.length; j++) if (f.ends[j] < c.at) k = j;
      const next = f.starts.findIndex((s) => s > c.at);
      if (k >= 0 && f.endLines[k] === c.line) marked.add(k);
      else if (next >= 0) marked.add(next);
      else if (f.ends.length) marked.add(f.ends.length - 1);
    }
    if (marked.size) out.set(Number(f.path[1]), [...marked].sort((a, b) => a - b));
  };
  for (let i = 0; i < text.length;) {
    const c = text[i];
    if (c === '\n') { line++; i++; continue; }
    if (c === '/' && (text[i + 1] === '/' || text[i + 1] === '*')) {
      const f = top();
      if (isRules(f)) f.comments.push({ at: i, line });
      const lineComment = text[i + 1] === '/';
      const stop = lineComment ? text.indexOf('\n', i) : text.indexOf('*/', i + 2);
      const to = stop < 0 ? text.length : lineComment ? stop : stop + 2;
      for (let j = i; j < to; j++) if (text[j] === '\n') line++;
      i = to;
      continue;
    }
    if (c === '"') {
      let j = i + 1;
      while (j < text.length && text[j] !== '"') j += text[j] === '\\' ? 2 : 1;
      const f = top();
      if (f?.kind === '{' && f.expectKey) { f.key = JSON.parse(text.slice(i, j + 1)); f.expectKey = false; } else { start(i); end(j); }
      i = j + 1;
      continue;
    }
    if (c === '{' || c === '[') {
      start(i);
      const f = top();
      const path = f ? [...f.path, f.kind === '[' ? f.n : /** @type {string} */ (f.key)] : [];
      stack.push({ kind: c, path, expectKey: c === '{', n: 0, starts: [], ends: [], endLines: [], comments: [] });
      i++;
      continue;
    }
    if (c === '}' || c === ']') {
      const f = /** @type {Frame} */ (stack.pop());
      if (isRules(f)) close(f);
      end(i);
      i++;
      continue;
    }
    if (c === ',') {
      const f = top();
      if (f?.kind === '[') f.n++; else if (f) f.expectKey = true;
      i++;
      continue;
    }
    if (/[-0-9a-z]/.test(c)) {
      let j = i;
      while (j < text.length && /[-+.0-9a-zA-Z]/.test(text[j])) j++;
      start(i);
      end(j - 1);
      i = j;
      continue;
    }
    i++;
  }
  return out;
}

/** @param {unknown} v @returns {any[]} */
const objects = (v) => (Array.isArray(v) ? v.filter((x) => x && typeof x === 'object' && !Array.isArray(x)) : []);

/**
 * A karabiner.json text as the app's "tarvelConfig" answers it.
 * @param {string} text
 */
export function tarvelConfigOf(text, path = '/Users/me/.config/karabiner/karabiner.json') {
  const plain = withoutComments(text);
  const doc = JSON.parse(plain);
  const comments = commentedRules(text);
  return {
    path, digest: `sha256:${createHash('sha256').update(text).digest('hex')}`, hasComments: plain !== text, backups: [],
    profiles: objects(doc.profiles).map((p, i) => ({
      name: typeof p.name === 'string' ? p.name : null,
      selected: p.selected === true,
      rules: p.complex_modifications?.rules ?? [],
      devices: objects(p.devices).map((d) => d.identifiers).filter((d) => d && typeof d === 'object'),
      simpleModifications: objects(p.simple_modifications),
      fnFunctionKeys: objects(p.fn_function_keys),
      parameters: p.complex_modifications?.parameters ?? {},
      deviceSettings: objects(p.devices),
      keyboardType: p.virtual_hid_keyboard?.keyboard_type_v2 ?? null,
      commentedRules: comments.get(i) ?? [],
    })),
  };
}

export const CONFIGS = fileURLToPath(new URL('../fixtures/configs/', import.meta.url));
/** One of the real files in tests/fixtures/configs, as the app answers it. @param {string} name */
export const realConfig = (name) => tarvelConfigOf(readFileSync(join(CONFIGS, name), 'utf8'));
