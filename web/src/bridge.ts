// The page's end of the native channel. Answers carry no request id and arrive in request order
// per kind, so each kind keeps its pending requests in a queue.
import type { ApplyRule } from './model/rules';
import type { Inventory, JsonObject } from './model/types';

export type ApplyOutcome =
  | { ok: true; backupPath: string }
  | { ok: false; error: string; code?: string; line?: number; column?: number };

/** What "tarvelApply" carries: `rules` for a native side that writes several rules, and the same
 * manipulators flattened for one that writes one. */
export interface ApplyBody { title: string; manipulators: JsonObject[]; rules: ApplyRule[] }

interface Handler { postMessage(body: unknown): void }
interface BridgeWindow {
  webkit?: { messageHandlers?: { tarvelApps?: Handler; tarvelApply?: Handler } };
  __tarvelAppsResolve?: (v: unknown) => void;
  __tarvelApplyResolve?: (v: unknown) => void;
}

const num = (v: unknown) => (typeof v === 'number' && Number.isFinite(v) ? v : undefined);

export function readOutcome(v: unknown): ApplyOutcome {
  if (v && typeof v === 'object') {
    const o = v as Record<string, unknown>;
    if (o.ok === true) return { ok: true, backupPath: typeof o.backupPath === 'string' ? o.backupPath : '' };
    if (o.ok === false) {
      const out: ApplyOutcome = { ok: false, error: typeof o.error === 'string' ? o.error : '' };
      if (typeof o.code === 'string' && o.code) out.code = o.code;
      const line = num(o.line);
      const column = num(o.column);
      if (line !== undefined) out.line = line;
      if (column !== undefined) out.column = column;
      return out;
    }
  }
  return { ok: false, error: String(JSON.stringify(v)) };
}

function readInventory(v: unknown): Inventory | null {
  if (!v || typeof v !== 'object') return null;
  const o = v as Record<string, unknown>;
  const list = (x: unknown) => (Array.isArray(x) ? x.filter((r) => r && typeof r === 'object' && typeof (r as { name?: unknown }).name === 'string') : []);
  return {
    running: list(o.running) as Inventory['running'],
    installed: list(o.installed) as Inventory['installed'],
    shortcuts: Array.isArray(o.shortcuts) ? o.shortcuts.filter((s): s is string => typeof s === 'string') : [],
    helperPath: typeof o.helperPath === 'string' && o.helperPath ? o.helperPath : undefined,
  };
}

export class Bridge {
  private apps: ((v: Inventory | null) => void)[] = [];
  private applies: ((v: ApplyOutcome) => void)[] = [];

  constructor(private readonly win: BridgeWindow) {
    win.__tarvelAppsResolve = (v) => this.apps.shift()?.(readInventory(v));
    win.__tarvelApplyResolve = (v) => this.applies.shift()?.(readOutcome(v));
  }

  /** False outside the app: the page then runs as a preview. */
  get available(): boolean {
    const h = this.win.webkit?.messageHandlers;
    return !!(h && h.tarvelApply && h.tarvelApps);
  }

  requestInventory(): Promise<Inventory | null> {
    const h = this.win.webkit?.messageHandlers?.tarvelApps;
    if (!h) return Promise.resolve(null);
    return new Promise((resolve) => {
      this.apps.push(resolve);
      try {
        h.postMessage({});
      } catch {
        this.apps.pop();
        resolve(null);
      }
    });
  }

  apply(body: ApplyBody): Promise<ApplyOutcome> {
    const h = this.win.webkit?.messageHandlers?.tarvelApply;
    if (!h) return Promise.resolve({ ok: false, error: 'preview' });
    return new Promise((resolve) => {
      this.applies.push(resolve);
      try {
        h.postMessage(body);
      } catch (e) {
        this.applies.pop();
        resolve({ ok: false, error: e instanceof Error ? e.message : String(e) });
      }
    });
  }
}
