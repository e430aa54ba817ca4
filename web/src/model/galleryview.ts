// The gallery view's model (loaded with the view): the snapshot's documents indexed for search in
// both languages of the page, a document opened as it is (its rule objects untouched, for adding)
// and as the editor's rules (for the picture, the forms and the summaries), where the profile's
// rules came from, and what the network brings through the native side: the gallery site's
// current copy of a document, or a document from an address.
import type { FetchOutcome, IndexOutcome, RuleDocument } from '../bridge';
import { en } from '../i18n/en';
import { ja } from '../i18n/ja';
import { contentKey, describe as descriptionOf, type Failure } from './config';
import { loadGallerySnapshot, type GallerySnapshot } from './gallery';
import { isObj, isStr, type Json, type JsonObject } from './json';
import { allEvents, fromKeys } from './manipulator';
import { writtenKey } from './profile';
import { importRule } from './rules';
import type { Rule } from './types';
import { canonicalKey } from './vocabulary';

/** Where the gallery's site serves each document (the snapshot's paths are relative to it). */
export const GALLERY_SITE = 'https://ke-complex-modifications.pqrs.org/';
export const siteUrl = (path: string): string => GALLERY_SITE + path;
/** The gallery's index of its documents and their groups. */
export const INDEX_URL = `${GALLERY_SITE}groups.json`;
/** The file name a path ends in. */
export const fileOf = (path: string): string => path.slice(path.lastIndexOf('/') + 1);

// ---- search --------------------------------------------------------------------------------------

/** Text as search compares it: full-width and half-width forms alike, case ignored. */
export const fold = (s: string): string => s.normalize('NFKC').toLowerCase();

export interface GalleryEntry {
  path: string;
  title: string;
  /** The groups that list it, by id. */
  groups: string[];
  rules: number;
  manipulators: number;
  /** What search looks in, folded: the title and file name; the rules' descriptions; everything else
   * (keys used in both languages, applications, commands, what the rules do). */
  hay: [string, string, string];
}

type Catalog = Record<string, string>;
const CATALOGS: Catalog[] = [en, ja];

// What a rule does, named in both languages, so that a search in either finds it.
const TAGS = {
  input: 'input source 入力ソース 入力切替',
  shell: 'shell command シェルコマンド',
  app: 'application アプリケーション アプリ',
  open: 'open application アプリを開く 起動',
  mouse: 'mouse マウス',
  button: 'mouse button マウスボタン クリック',
  variable: 'variable layer 変数 レイヤー',
  notification: 'notification message 通知 メッセージ',
  sticky: 'sticky modifier 固定',
  media: 'media key メディアキー',
  device: 'device デバイス',
  keyboardType: 'keyboard type キーボードの種類',
  together: 'simultaneous pressed together 同時押し',
  alone: 'tap alone 単独',
  hold: 'hold held down 長押し',
  delayed: 'delayed action double tap 遅延 2回押し',
} as const;
const LANGUAGES: Record<string, string> = {
  en: 'english 英語', ja: 'japanese 日本語', zh: 'chinese 中国語', ko: 'korean 韓国語', ru: 'russian ロシア語', uk: 'ukrainian ウクライナ語',
  de: 'german ドイツ語', fr: 'french フランス語', es: 'spanish スペイン語', it: 'italian イタリア語', pt: 'portuguese ポルトガル語',
  el: 'greek ギリシャ語', he: 'hebrew ヘブライ語', ar: 'arabic アラビア語', th: 'thai タイ語', vi: 'vietnamese ベトナム語',
};

/** A regular expression of a condition as the name it stands for: "^com\.apple\.Terminal$" → "com.apple.Terminal". */
const unescape = (s: string): string => s.replace(/^\^|\$$/g, '').replace(/\\(.)/g, '$1');

/** Words for a key: its name, the name with spaces, its labels in both languages. */
function keyWords(field: string, name: string, into: Set<string>): void {
  const code = field === 'key_code' || field === 'consumer_key_code' || field === 'pointing_button' ? canonicalKey(field, name) : name;
  into.add(code);
  if (code.includes('_')) into.add(code.replace(/_/g, ' '));
  for (const c of CATALOGS) { const label = c[`key.${code}`]; if (label) into.add(label); }
  if (code === 'japanese_eisuu') into.add('英数');
  if (code === 'japanese_kana') into.add('かな');
}

function languageWords(v: Json | undefined, into: Set<string>): void {
  if (!isStr(v)) return;
  into.add(v);
  const code = /[a-z]{2}/.exec(v.toLowerCase())?.[0];
  if (code && LANGUAGES[code]) into.add(LANGUAGES[code]);
}

/** Everything of one manipulator a search should find it by, added to `words`. */
function manipulatorWords(man: JsonObject, words: Set<string>): void {
  if (isStr(man.description)) words.add(man.description);
  for (const k of fromKeys(man.from)) keyWords(k.field, k.name, words);
  if (isObj(man.from)) {
    if (Array.isArray(man.from.simultaneous)) words.add(TAGS.together);
    const mods = isObj(man.from.modifiers) ? man.from.modifiers.mandatory : undefined;
    for (const m of Array.isArray(mods) ? mods : [mods]) if (isStr(m)) keyWords('modifier', m, words);
  }
  if (man.to_if_alone !== undefined) words.add(TAGS.alone);
  if (man.to_if_held_down !== undefined) words.add(TAGS.hold);
  if (man.to_delayed_action !== undefined) words.add(TAGS.delayed);
  for (const { event: e } of allEvents(man)) {
    for (const field of ['key_code', 'consumer_key_code', 'pointing_button', 'apple_vendor_top_case_key_code', 'apple_vendor_keyboard_key_code']) {
      if (isStr(e[field])) keyWords(field, e[field] as string, words);
    }
    if (isStr(e.consumer_key_code)) words.add(TAGS.media);
    if (isStr(e.pointing_button)) words.add(TAGS.button);
    for (const m of Array.isArray(e.modifiers) ? e.modifiers : [e.modifiers]) if (isStr(m)) keyWords('modifier', m, words);
    if (isStr(e.shell_command)) { words.add(TAGS.shell); words.add(e.shell_command); }
    const source = e.select_input_source;
    if (source !== undefined) {
      words.add(TAGS.input);
      for (const s of Array.isArray(source) ? source : [source]) {
        if (!isObj(s)) continue;
        languageWords(s.language, words);
        if (isStr(s.input_source_id)) words.add(s.input_source_id);
        if (isStr(s.input_mode_id)) words.add(s.input_mode_id);
      }
    }
    const sf = isObj(e.software_function) ? e.software_function : undefined;
    const open = isObj(sf?.open_application) ? sf.open_application : isObj(e.open_application) ? e.open_application : undefined;
    if (open) {
      words.add(TAGS.open);
      for (const k of ['bundle_identifier', 'file_path', 'name']) if (isStr(open[k])) words.add(open[k] as string);
    }
    if (isObj(e.set_variable)) { words.add(TAGS.variable); if (isStr(e.set_variable.name)) words.add(e.set_variable.name); }
    if (isObj(e.mouse_key)) words.add(TAGS.mouse);
    if (isObj(e.set_notification_message)) words.add(TAGS.notification);
    if (isObj(e.sticky_modifier)) words.add(TAGS.sticky);
  }
  for (const c of Array.isArray(man.conditions) ? man.conditions : []) {
    if (!isObj(c) || !isStr(c.type)) continue;
    if (c.type.startsWith('frontmost_application')) {
      words.add(TAGS.app);
      for (const k of ['bundle_identifiers', 'file_paths']) {
        for (const v of Array.isArray(c[k]) ? c[k] as Json[] : []) if (isStr(v)) words.add(unescape(v));
      }
    } else if (c.type.startsWith('device')) words.add(TAGS.device);
    else if (c.type.startsWith('input_source')) {
      words.add(TAGS.input);
      for (const s of Array.isArray(c.input_sources) ? c.input_sources : []) {
        if (!isObj(s)) continue;
        languageWords(s.language, words);
        if (isStr(s.input_source_id)) words.add(unescape(s.input_source_id));
      }
    } else if (c.type.startsWith('keyboard_type')) {
      words.add(TAGS.keyboardType);
      for (const v of Array.isArray(c.keyboard_types) ? c.keyboard_types : []) if (isStr(v)) words.add(v);
    } else if (c.type.startsWith('variable') && isStr(c.name)) words.add(c.name);
  }
}

/** A document of the gallery as search and the lists see it. */
export function indexDocument(path: string, doc: JsonObject, groups: string[], groupNames: string[]): GalleryEntry {
  const title = isStr(doc.title) ? doc.title : fileOf(path);
  const rules = Array.isArray(doc.rules) ? doc.rules.filter(isObj) : [];
  const descriptions: string[] = [];
  const words = new Set<string>(groupNames);
  let manipulators = 0;
  for (const r of rules) {
    if (isStr(r.description)) descriptions.push(r.description);
    if (Array.isArray(r.description_notes)) for (const n of r.description_notes) if (isStr(n)) words.add(n);
    const ms = Array.isArray(r.manipulators) ? r.manipulators.filter(isObj) : [];
    manipulators += ms.length;
    for (const m of ms) manipulatorWords(m, words);
  }
  const file = fileOf(path).replace(/\.json$/, '');
  return {
    path, title, groups, rules: rules.length, manipulators,
    hay: [fold(`${title}\n${file}\n${file.replace(/[_-]+/g, ' ')}`), fold(descriptions.join('\n')), fold([...words].join('\n'))],
  };
}

const WEIGHTS = [8, 3, 1];
/** The entries that have every word of the query, best first: found in titles, then in the rules'
 * descriptions, then anywhere; in the gallery's order among equals. */
export function searchEntries(entries: readonly GalleryEntry[], query: string): GalleryEntry[] {
  const terms = fold(query).split(/\s+/).filter(Boolean);
  if (!terms.length) return [...entries];
  const scored: { e: GalleryEntry; score: number; i: number }[] = [];
  entries.forEach((e, i) => {
    let score = 0;
    for (const term of terms) {
      const at = e.hay.findIndex((h) => h.includes(term));
      if (at < 0) return;
      score += WEIGHTS[at];
    }
    // The whole query as typed in the title counts most ("home row mods").
    if (terms.length > 1 && e.hay[0].includes(terms.join(' '))) score += 8;
    scored.push({ e, score, i });
  });
  return scored.sort((a, b) => b.score - a.score || a.i - b.i).map((x) => x.e);
}

// ---- a document opened ---------------------------------------------------------------------------

export type DocumentSource =
  | { kind: 'snapshot'; path: string }
  /** The gallery site's current copy of a snapshot document. */
  | { kind: 'site'; path: string; url: string; at: number }
  | { kind: 'url'; url: string; at: number };

export interface GalleryDocument {
  source: DocumentSource;
  title: string;
  /** The document's text, exactly as it came. */
  text: string;
  /** Its rule objects exactly as the document has them: what is added. */
  raw: JsonObject[];
  /** The same as the editor's rules, for the picture, the forms and the summaries. */
  rules: Rule[];
}

export function readDocument(doc: JsonObject, text: string, source: DocumentSource): GalleryDocument {
  const raw = Array.isArray(doc.rules) ? doc.rules.filter(isObj) : [];
  return { source, title: isStr(doc.title) ? doc.title : '', text, raw, rules: raw.map(importRule) };
}

export interface VersionDiff { added: string[]; removed: string[]; changed: string[]; same: number }
const nameOf = (r: JsonObject, i: number): string => descriptionOf(r) ?? `#${i + 1}`;
/** What another version of a document does to its rules, matched by description. */
export function compareVersions(before: readonly JsonObject[], after: readonly JsonObject[]): VersionDiff {
  const old = new Map<string, string[]>();
  before.forEach((r, i) => { const n = nameOf(r, i); old.set(n, [...(old.get(n) ?? []), contentKey(r)]); });
  const diff: VersionDiff = { added: [], removed: [], changed: [], same: 0 };
  after.forEach((r, i) => {
    const n = nameOf(r, i);
    const keys = old.get(n);
    if (!keys?.length) { diff.added.push(n); return; }
    const k = contentKey(r);
    const at = keys.indexOf(k);
    keys.splice(at < 0 ? 0 : at, 1);
    if (at < 0) diff.changed.push(n); else diff.same++;
  });
  for (const [n, keys] of old) for (let i = 0; i < keys.length; i++) diff.removed.push(n);
  return diff;
}
export const sameVersion = (d: VersionDiff): boolean => !d.added.length && !d.removed.length && !d.changed.length;

/** A rule of the document that stands for a gallery rule: one that writes the same content, else
 * one with the same description (another version); `added` when it is not installed yet. */
export interface DocumentMatch { index: number; same: boolean; added: boolean }
export function matchInDocument(rules: readonly Rule[], raw: JsonObject): DocumentMatch | undefined {
  const key = contentKey(raw);
  let i = rules.findIndex((r) => writtenKey(r) === key);
  if (i >= 0) return { index: i, same: true, added: rules[i].origin === undefined };
  const d = descriptionOf(raw);
  i = d === null ? -1 : rules.findIndex((r) => r.name === d);
  return i >= 0 ? { index: i, same: false, added: rules[i].origin === undefined } : undefined;
}

// ---- the model the view keeps ----------------------------------------------------------------------

export type CheckState =
  | { phase: 'checking' }
  | { phase: 'same' }
  | { phase: 'newer'; doc: GalleryDocument; diff: VersionDiff }
  | { phase: 'failed'; failure: Failure };
export type UrlState = { phase: 'idle' } | { phase: 'busy' } | { phase: 'failed'; failure: Failure };
/** The gallery site's index compared with the snapshot: the documents it lists that the snapshot has not. */
export interface NewDocument { path: string; groups: { id: string; name: string }[] }
export type IndexState = { phase: 'checking' } | { phase: 'done'; added: NewDocument[] } | { phase: 'failed'; failure: Failure };

/** The documents an index (groups.json) lists that are not among `known`, with the groups that list them. */
export function newInIndex(index: JsonObject, known: ReadonlySet<string>): NewDocument[] {
  const out = new Map<string, NewDocument['groups']>();
  for (const list of ['index', 'example']) {
    for (const g of Array.isArray(index[list]) ? (index[list] as Json[]).filter(isObj) : []) {
      for (const f of Array.isArray(g.files) ? g.files.filter(isObj) : []) {
        if (!isStr(f.path) || known.has(f.path)) continue;
        out.set(f.path, [...(out.get(f.path) ?? []), { id: isStr(g.id) ? g.id : '', name: isStr(g.name) ? g.name : '' }]);
      }
    }
  }
  return [...out].map(([path, groups]) => ({ path, groups }));
}

export interface GalleryDeps {
  /** Called after every change of state the view shows. */
  notify: () => void;
  /** The native side's fetch (bridge.fetchRuleDocument); undefined outside the app. */
  fetchRule?: (url: string) => Promise<FetchOutcome>;
  /** The same for the gallery's index (bridge.fetchGalleryIndex). */
  fetchIndex?: (url: string) => Promise<IndexOutcome>;
  /** Reads the snapshot beside the page. */
  fetchFile?: (path: string) => Promise<Response>;
}

const parseDocument = (path: string, text: string | undefined): JsonObject => {
  const v: unknown = JSON.parse(text ?? 'null');
  return isObj(v) ? v : { title: fileOf(path), rules: [] };
};

/** How many documents are indexed between two frames while the gallery opens. */
const SLICE = 60;

export class GalleryModel {
  phase: 'idle' | 'loading' | 'ready' | 'failed' = 'idle';
  /** Documents indexed so far while loading. */
  progress = 0;
  error = '';
  snapshot: GallerySnapshot | undefined;
  entries: GalleryEntry[] = [];
  private byPath = new Map<string, GalleryEntry>();
  private byDescription = new Map<string, string[]>();
  query = '';
  /** Groups open in the tree, by id. */
  expanded = new Set<string>();
  /** The document shown. */
  doc: GalleryDocument | undefined;
  /** Its rules chosen for trying and adding, by index. */
  chosen = new Set<number>();
  /** The gallery site's copy of each document checked, by path. */
  checks = new Map<string, CheckState>();
  /** "Check for newer rules": the documents it looked at, in order; undefined before the first. */
  checked: string[] | undefined;
  url: UrlState = { phase: 'idle' };
  /** "Check for newer rules": documents the site lists that the snapshot has not. */
  index: IndexState | undefined;
  /** Such documents being fetched, or that could not be, by path. */
  fetchingNew = new Map<string, { phase: 'busy' } | { phase: 'failed'; failure: Failure }>();
  private parsed = new Map<string, JsonObject>();
  private searchCache: { query: string; list: GalleryEntry[] } | undefined;

  constructor(private readonly deps: GalleryDeps) {}

  get canFetch(): boolean { return !!this.deps.fetchRule; }
  entry(path: string): GalleryEntry | undefined { return this.byPath.get(path); }

  /** Reads the snapshot and indexes it, a slice at a time so that the page stays responsive. */
  async load(): Promise<void> {
    if (this.phase !== 'idle' && this.phase !== 'failed') return;
    this.phase = 'loading';
    this.deps.notify();
    try {
      const snapshot = await loadGallerySnapshot(this.deps.fetchFile);
      const groupsOf = new Map<string, string[]>();
      for (const g of snapshot.groups) for (const p of g.documents) groupsOf.set(p, [...(groupsOf.get(p) ?? []), g.id]);
      const names = new Map(snapshot.groups.map((g) => [g.id, [g.name, ja[`gallery.group.${g.id}` as keyof typeof ja] ?? '']]));
      const paths = Object.keys(snapshot.documents);
      const entries: GalleryEntry[] = [];
      for (let i = 0; i < paths.length; i += SLICE) {
        for (const path of paths.slice(i, i + SLICE)) {
          // Read for the index and let go: only the documents opened stay parsed.
          const doc = parseDocument(path, snapshot.documents[path]);
          const groups = groupsOf.get(path) ?? [];
          entries.push(indexDocument(path, doc, groups, groups.flatMap((g) => names.get(g) ?? [])));
          for (const r of Array.isArray(doc.rules) ? doc.rules : []) {
            const d = descriptionOf(r);
            if (d !== null) this.byDescription.set(d, [...(this.byDescription.get(d) ?? []), path]);
          }
        }
        this.progress = entries.length;
        this.deps.notify();
        await new Promise((r) => setTimeout(r, 0));
      }
      this.snapshot = snapshot;
      this.entries = entries;
      this.byPath = new Map(entries.map((e) => [e.path, e]));
      this.phase = 'ready';
    } catch (e) {
      this.phase = 'failed';
      this.error = e instanceof Error ? e.message : String(e);
    }
    this.deps.notify();
  }

  private document(path: string): JsonObject {
    let doc = this.parsed.get(path);
    if (!doc) this.parsed.set(path, (doc = parseDocument(path, this.snapshot?.documents[path])));
    return doc;
  }

  /** The documents the query finds, best first (all of them, in path order, without a query). */
  get results(): GalleryEntry[] {
    if (this.searchCache?.query !== this.query || this.searchCache.list.length > this.entries.length) {
      this.searchCache = { query: this.query, list: searchEntries(this.entries, this.query) };
    }
    return this.searchCache.list;
  }
  setQuery(query: string): void { this.query = query; this.deps.notify(); }
  toggleGroup(id: string, open = !this.expanded.has(id)): void {
    if (open) this.expanded.add(id); else this.expanded.delete(id);
    this.deps.notify();
  }

  private show(doc: GalleryDocument): void {
    this.doc = doc;
    this.chosen = new Set(doc.raw.map((_, i) => i));
    this.deps.notify();
  }
  /** A document of the snapshot, or its newer copy from the gallery site once one was fetched. */
  open(path: string, newer = false): void {
    const check = this.checks.get(path);
    if (newer && check?.phase === 'newer') { this.show(check.doc); return; }
    const text = this.snapshot?.documents[path];
    if (text === undefined) return;
    this.show(readDocument(this.document(path), text, { kind: 'snapshot', path }));
  }
  close(): void { this.doc = undefined; this.deps.notify(); }
  choose(i: number, on: boolean): void {
    if (on) this.chosen.add(i); else this.chosen.delete(i);
    this.chosen = new Set(this.chosen);
    this.deps.notify();
  }
  /** Where added rules go among the document's `count` rules: the place chosen, else the end. */
  at(count: number): number { return this.place === undefined || this.place > count ? count : this.place; }
  setAt(at: number, count: number): void { this.place = at >= count ? undefined : at; this.deps.notify(); }
  private place: number | undefined;
  /** The chosen rule objects of the document shown, in its order. */
  get chosenRules(): JsonObject[] { return this.doc ? this.doc.raw.filter((_, i) => this.chosen.has(i)) : []; }

  /** The documents of the snapshot the profile's rules came from, by their descriptions (the same
   * as one of a document's rules: Karabiner-Elements' import keeps them), in the gallery's order. */
  sourcesOf(descriptions: readonly string[]): string[] {
    const paths = new Set<string>();
    for (const d of descriptions) for (const p of this.byDescription.get(d) ?? []) paths.add(p);
    return this.entries.filter((e) => paths.has(e.path)).map((e) => e.path);
  }

  /** Fetches the gallery site's copy of a snapshot document and compares it with the snapshot's. */
  async checkNewer(path: string): Promise<void> {
    const fetchRule = this.deps.fetchRule;
    const text = this.snapshot?.documents[path];
    if (!fetchRule || text === undefined || this.checks.get(path)?.phase === 'checking') return;
    this.checks.set(path, { phase: 'checking' });
    this.deps.notify();
    const answer = await fetchRule(siteUrl(path));
    if (!answer.ok) {
      this.checks.set(path, { phase: 'failed', failure: answer });
    } else if (answer.text === text) {
      this.checks.set(path, { phase: 'same' });
    } else {
      const doc = readDocument(answer.document, answer.text, { kind: 'site', path, url: answer.url, at: Date.now() });
      const diff = compareVersions(this.document(path).rules as JsonObject[], doc.raw);
      // Only the layout changed: the same rules.
      this.checks.set(path, sameVersion(diff) ? { phase: 'same' } : { phase: 'newer', doc, diff });
    }
    this.deps.notify();
  }

  /** "Check for newer rules": the documents the profile's rules came from (by their descriptions),
   * and the one shown. */
  async checkAll(descriptions: readonly string[]): Promise<void> {
    const shown = this.doc && this.doc.source.kind !== 'url' ? [this.doc.source.path] : [];
    const paths = [...new Set([...this.sourcesOf(descriptions), ...shown])];
    this.checked = paths;
    this.deps.notify();
    await Promise.all([...paths.map((p) => this.checkNewer(p)), this.checkIndex()]);
  }

  /** The site's index against the snapshot: which documents are new since. */
  private async checkIndex(): Promise<void> {
    const fetchIndex = this.deps.fetchIndex;
    if (!fetchIndex || !this.snapshot || this.index?.phase === 'checking') return;
    this.index = { phase: 'checking' };
    this.deps.notify();
    const answer = await fetchIndex(INDEX_URL);
    this.index = answer.ok ? { phase: 'done', added: newInIndex(answer.index, new Set(Object.keys(this.snapshot.documents))) } : { phase: 'failed', failure: answer };
    this.deps.notify();
  }

  /** A document the site has and the snapshot has not, fetched and shown. */
  async openNew(path: string): Promise<void> {
    const fetchRule = this.deps.fetchRule;
    if (!fetchRule || this.fetchingNew.get(path)?.phase === 'busy') return;
    this.fetchingNew.set(path, { phase: 'busy' });
    this.deps.notify();
    const answer = await fetchRule(siteUrl(path));
    if (answer.ok) {
      this.fetchingNew.delete(path);
      this.show(readDocument(answer.document, answer.text, { kind: 'site', path, url: answer.url, at: Date.now() }));
    } else {
      this.fetchingNew.set(path, { phase: 'failed', failure: answer });
      this.deps.notify();
    }
  }

  /** "Import from a URL": an https address or a Karabiner-Elements import link, fetched by the app. */
  async importUrl(text: string): Promise<boolean> {
    const fetchRule = this.deps.fetchRule;
    if (!fetchRule || this.url.phase === 'busy') return false;
    this.url = { phase: 'busy' };
    this.deps.notify();
    const answer = await fetchRule(text.trim());
    if (!answer.ok) {
      this.url = { phase: 'failed', failure: answer };
      this.deps.notify();
      return false;
    }
    this.url = { phase: 'idle' };
    this.show(readDocument(answer.document as RuleDocument, answer.text, { kind: 'url', url: answer.url, at: Date.now() }));
    return true;
  }
}
