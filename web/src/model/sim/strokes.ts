// What the virtual devices' reports amount to for a person: keys going down and up (with the
// modifiers down at that moment), buttons, pointer motion and the commands run. Reports from the
// engine's own vectors (JSON) and from the simulator read the same way.
import { isObj, isStr, type Json, type JsonObject } from '../json';
import type { KeyField } from '../vocabulary';
import { flagOf, keyId, nameOf, type Flag, type KeyId } from './keys';
import { MS } from './queue';
import type { Report, ReportKind } from './output';

export type { Report };

const PAGE_OF: Partial<Record<ReportKind, KeyField>> = {
  keyboard_input: 'key_code', consumer_input: 'consumer_key_code', apple_vendor_top_case_input: 'apple_vendor_top_case_key_code',
  apple_vendor_keyboard_input: 'apple_vendor_keyboard_key_code', generic_desktop_input: 'generic_desktop',
};

/** A report as the engine's vectors write it. */
export function reportFromJson(j: JsonObject): Report {
  const kind = j.type as ReportKind;
  const time = typeof j.time_stamp === 'number' ? j.time_stamp * MS : 0;
  const body = isObj(j[kind]) ? j[kind] as JsonObject : {};
  const keysOf = (list: Json | undefined): KeyId[] => (Array.isArray(list) ? list.filter(isObj).map((k) => {
    const [field, name] = Object.entries(k)[0];
    return keyId(field as KeyField, name) ?? `${field}:${String(name)}`;
  }) : []);
  if (kind === 'pointing_input') {
    // The report holds bytes: 246 is -10.
    const n = (k: string) => { const v = typeof body[k] === 'number' ? body[k] as number : 0; return v > 127 ? v - 256 : v; };
    const buttons = Array.isArray(body.buttons) ? body.buttons.filter(isStr).map((b) => `pointing_button:${b}`) : [];
    return { kind, time, buttons, x: n('x'), y: n('y'), v: n('vertical_wheel'), h: n('horizontal_wheel') };
  }
  if (PAGE_OF[kind]) {
    const r: Report = { kind, time, keys: keysOf(body.keys) };
    if (kind === 'keyboard_input') r.modifiers = Array.isArray(body.modifiers) ? body.modifiers.filter(isStr) as Flag[] : [];
    return r;
  }
  return { kind, time, value: (j.shell_command ?? j.user_command ?? j.input_source_specifiers ?? j.software_function ?? null) as Json };
}

/** One thing a person would notice, in order. */
export interface Stroke {
  time: number;
  /** A key or button going down or up, or pointer motion, or a command. */
  kind: 'down' | 'up' | 'motion' | 'command';
  key?: KeyId;
  /** Modifiers down at that moment (for a key or button going down). */
  modifiers?: Flag[];
  text?: string;
  report: Report;
}

/** Reads reports one after the other into strokes: what changed from one report of a page to the next. */
export class StrokeReader {
  private pages = new Map<ReportKind, KeyId[]>();
  private modifiers: Flag[] = [];
  private buttons: KeyId[] = [];
  read(r: Report): Stroke[] {
    const out: Stroke[] = [];
    const time = Math.round(r.time / MS);
    if (r.kind === 'pointing_input') {
      const now = r.buttons ?? [];
      for (const b of this.buttons) if (!now.includes(b)) out.push({ time, kind: 'up', key: b, report: r });
      for (const b of now) if (!this.buttons.includes(b)) out.push({ time, kind: 'down', key: b, modifiers: this.modifiers, report: r });
      this.buttons = now;
      if (r.x || r.y || r.v || r.h) out.push({ time, kind: 'motion', text: `${r.x ?? 0},${r.y ?? 0},${r.v ?? 0},${r.h ?? 0}`, report: r });
    } else if (PAGE_OF[r.kind]) {
      const before = this.pages.get(r.kind) ?? [];
      const now = r.keys ?? [];
      if (r.kind === 'keyboard_input') {
        const mods = r.modifiers ?? [];
        for (const m of this.modifiers) if (!mods.includes(m)) out.push({ time, kind: 'up', key: `key_code:${m}`, report: r });
        for (const m of mods) if (!this.modifiers.includes(m)) out.push({ time, kind: 'down', key: `key_code:${m}`, modifiers: mods, report: r });
        this.modifiers = mods;
      }
      for (const k of before) if (!now.includes(k)) out.push({ time, kind: 'up', key: k, report: r });
      for (const k of now) if (!before.includes(k)) out.push({ time, kind: 'down', key: k, modifiers: this.modifiers, report: r });
      this.pages.set(r.kind, now);
    } else {
      out.push({ time, kind: 'command', text: typeof r.value === 'string' ? r.value : JSON.stringify(r.value), report: r });
    }
    return out;
  }
}

export const readStrokes = (reports: Report[]): Stroke[] => {
  const reader = new StrokeReader();
  return reports.flatMap((r) => reader.read(r));
};

const token = (s: Stroke): string => {
  if (s.kind === 'motion') return `move(${s.text})`;
  if (s.kind === 'command') return `${s.report.kind}(${s.text ?? ''})`;
  const name = nameOf(s.key ?? '');
  const mods = s.kind === 'down' && s.modifiers?.length && !flagOf(s.key ?? '') ? `[${s.modifiers.join(',')}]` : '';
  return `${s.kind === 'down' ? '↓' : '↑'}${name}${mods}`;
};

/** Strokes as short text, for comparing: without times, and with them. */
export function strokes(reports: (Report | JsonObject)[], json: boolean): { strokes: string[]; timed: string[] } {
  const rs = json ? (reports as JsonObject[]).map(reportFromJson) : reports as Report[];
  const list = readStrokes(rs);
  return { strokes: list.map(token), timed: list.map((s) => `${token(s)}@${s.time}`) };
}
