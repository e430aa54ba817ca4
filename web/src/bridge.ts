// The page's end of the native channel. Answers carry no request id and arrive in request order
// per kind, so each kind keeps its pending requests in a queue.
import { readConfiguration, readFailure, type Configuration, type Failure } from './model/config';
import type { ApplyRule } from './model/rules';
import { isObj, isStr } from './model/json';
import type { RuleListEntry } from './model/profile';
import type { Inventory, Json, JsonObject, ValuePath } from './model/types';

export type ApplyOutcome = { ok: true; backupPath: string } | Failure;

/** What "tarvelApply" carries. With karabiner.json read: the digest of what was read, the chosen
 * profile's final rule list, the profile values changed, and the profile when it is not the
 * selected one. To an app that does not read it: the rules, and the same manipulators flattened
 * in case it writes one rule. */
export interface ApplyBody {
  title?: string; manipulators?: JsonObject[]; rules?: ApplyRule[];
  baseDigest?: string; profile?: number;
  ruleList?: RuleListEntry[]; values?: { path: ValuePath; value: Json }[];
}
export interface RestoreBody { name: string; baseDigest?: string }

/** A rule document as Karabiner-Elements imports one; checked by the native side before it arrives. */
export type RuleDocument = JsonObject & { title: string; rules: JsonObject[] };
/** What "tarvelFetch" answers: the document, where it came from in the end, and its bytes as text.
 * A failure's `code` is one of docs/BRIDGE.md's (notHttps, offline, untrusted, timeout, tooLarge,
 * tooDeep, tooManyRedirects, httpStatus, notRuleDocument, malformed); `status` comes with httpStatus. */
export type FetchOutcome = { ok: true; url: string; document: RuleDocument; text: string } | (Failure & { status?: number });
/** What "tarvelFetch" answers for the gallery's index (its groups.json): `{"index": [groups], "example"?: [groups]}`,
 * each group with "id", "name" and "files" ([{"path"}]); a failure as for a document (`notGalleryIndex` for another shape). */
export type IndexOutcome = { ok: true; url: string; index: JsonObject; text: string } | (Failure & { status?: number });

type Kind = 'Apps' | 'Apply' | 'Config' | 'Restore' | 'Fetch';
interface Handler { postMessage(body: unknown): void }
type BridgeWindow = {
  webkit?: { messageHandlers?: Partial<Record<`tarvel${Kind}`, Handler>> };
} & Partial<Record<`__tarvel${Kind}Resolve`, (v: unknown) => void>> & { __tarvelConfigChanged?: (v: unknown) => void };

export function readOutcome(v: unknown): ApplyOutcome {
  if (v && typeof v === 'object') {
    const o = v as Record<string, unknown>;
    if (o.ok === true) return { ok: true, backupPath: typeof o.backupPath === 'string' ? o.backupPath : '' };
    if (o.ok === false) return readFailure(o);
  }
  return { ok: false, error: String(JSON.stringify(v)) };
}

export function readFetchOutcome(v: unknown): FetchOutcome {
  if (isObj(v)) {
    const doc = v.document;
    if (v.ok === true && isStr(v.url) && isStr(v.text) && isObj(doc) && isStr(doc.title) && Array.isArray(doc.rules) && doc.rules.every(isObj))
      return { ok: true, url: v.url, document: doc as RuleDocument, text: v.text };
    if (v.ok === false) {
      const failure: Failure & { status?: number } = readFailure(v);
      if (typeof v.status === 'number') failure.status = v.status;
      return failure;
    }
  }
  return { ok: false, error: 'malformed fetch answer: ' + String(JSON.stringify(v)).slice(0, 200) };
}

export function readIndexOutcome(v: unknown): IndexOutcome {
  if (isObj(v) && v.ok === true && isStr(v.url) && isStr(v.text) && isObj(v.index) && Array.isArray(v.index.index)) {
    return { ok: true, url: v.url, index: v.index, text: v.text };
  }
  const failure = readFetchOutcome(isObj(v) && v.ok === false ? v : null);
  return failure.ok ? { ok: false, error: 'malformed fetch answer' } : failure;
}

function readInventory(v: unknown): Inventory | null {
  if (!v || typeof v !== 'object') return null;
  const o = v as Record<string, unknown>;
  const list = (x: unknown) => (Array.isArray(x) ? x.filter((r) => r && typeof r === 'object' && typeof (r as { name?: unknown }).name === 'string') : []);
  const inv: Inventory = {
    running: list(o.running) as Inventory['running'],
    installed: list(o.installed) as Inventory['installed'],
    shortcuts: Array.isArray(o.shortcuts) ? o.shortcuts.filter((s): s is string => typeof s === 'string') : [],
    helperPath: typeof o.helperPath === 'string' && o.helperPath ? o.helperPath : undefined,
  };
  if (typeof o.installedOmitted === 'number' && o.installedOmitted > 0) inv.installedOmitted = o.installedOmitted;
  return inv;
}

export class Bridge {
  private queues: Record<Kind, ((v: unknown) => void)[]> = { Apps: [], Apply: [], Config: [], Restore: [], Fetch: [] };
  private configListeners = new Set<() => void>();

  constructor(private readonly win: BridgeWindow) {
    for (const kind of Object.keys(this.queues) as Kind[]) win[`__tarvel${kind}Resolve`] = (v) => this.queues[kind].shift()?.(v);
    // Pushed by the native side when karabiner.json changed on disk (its own applies included).
    win.__tarvelConfigChanged = () => { for (const listener of [...this.configListeners]) listener(); };
  }

  /** False outside the app: the page then runs as a preview. */
  get available(): boolean {
    const h = this.win.webkit?.messageHandlers;
    return !!(h && h.tarvelApply && h.tarvelApps);
  }
  /** An app that reads karabiner.json for the page and keeps the rules it did not write. */
  get readsConfiguration(): boolean { return this.available && !!this.win.webkit?.messageHandlers?.tarvelConfig; }
  /** An app that fetches rule documents from the web for the page. */
  get fetches(): boolean { return this.available && !!this.win.webkit?.messageHandlers?.tarvelFetch; }

  private post<T>(kind: Kind, body: unknown, read: (v: unknown) => T, fail: (error: string) => T): Promise<T> {
    const h = this.win.webkit?.messageHandlers?.[`tarvel${kind}`];
    if (!h) return Promise.resolve(fail('preview'));
    return new Promise((resolve) => {
      const queue = this.queues[kind];
      queue.push((v) => resolve(read(v)));
      try {
        h.postMessage(body);
      } catch (e) {
        queue.pop();
        resolve(fail(e instanceof Error ? e.message : String(e)));
      }
    });
  }

  requestInventory(): Promise<Inventory | null> { return this.post('Apps', {}, readInventory, () => null); }
  apply(body: ApplyBody): Promise<ApplyOutcome> { return this.post('Apply', body, readOutcome, (error) => ({ ok: false, error })); }
  requestConfiguration(): Promise<Configuration | Failure> { return this.post('Config', {}, readConfiguration, (error) => ({ ok: false, error })); }
  restore(body: RestoreBody): Promise<ApplyOutcome> { return this.post('Restore', body, readOutcome, (error) => ({ ok: false, error })); }
  /** An https address, or a karabiner://karabiner/assets/complex_modifications/import?url=... link. */
  fetchRuleDocument(url: string): Promise<FetchOutcome> { return this.post('Fetch', { url }, readFetchOutcome, (error) => ({ ok: false, error })); }
  /** The gallery's index of its documents (its groups.json), checked as that by the native side. */
  fetchGalleryIndex(url: string): Promise<IndexOutcome> { return this.post('Fetch', { url, kind: 'galleryIndex' }, readIndexOutcome, (error) => ({ ok: false, error })); }
  /** Calls `listener` each time karabiner.json changes on disk; the page then reads it again and
   * compares digests. Returns what stops the calls. */
  onConfigChanged(listener: () => void): () => void {
    this.configListeners.add(listener);
    return () => { this.configListeners.delete(listener); };
  }
}
