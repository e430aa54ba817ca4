// Karabiner manipulators back into editable mappings. A manipulator becomes a form only when the
// form compiles back to exactly the same JSON; anything else stays a raw manipulator, never dropped.
import { compileMapping, LAYER_PREFIX, SHORTCUTS_TOOL } from './compile';
import { MEDIA_KEYS } from './keys';
import { unescapeExactRegex } from './shell';
import type { Action, AppRef, AppScope, Json, JsonObject, KeyStroke, Mapping, Trigger } from './types';
import { newId } from './types';

const isObj = (v: unknown): v is JsonObject => !!v && typeof v === 'object' && !Array.isArray(v);
const strArr = (v: unknown): v is string[] => Array.isArray(v) && v.every((x) => typeof x === 'string');

/** Words of a command made only of bare words and single-quoted parts ('it'\''s' is one word). */
export function shellWords(cmd: string): string[] | undefined {
  const words: string[] = [];
  let i = 0;
  while (i < cmd.length) {
    if (cmd[i] === ' ') { i++; continue; }
    let word = '';
    while (i < cmd.length && cmd[i] !== ' ') {
      if (cmd[i] === "'") {
        const end = cmd.indexOf("'", i + 1);
        if (end < 0) return undefined;
        word += cmd.slice(i + 1, end);
        i = end + 1;
      } else if (cmd[i] === '\\' && cmd[i + 1] === "'") {
        word += "'";
        i += 2;
      } else if (/[A-Za-z0-9_./-]/.test(cmd[i])) {
        word += cmd[i++];
      } else {
        return undefined;
      }
    }
    words.push(word);
  }
  return words;
}

function parseFocus(cmd: string): { helperPath: string; app: AppRef } | undefined {
  const w = shellWords(cmd);
  if (!w || w.length < 3 || w.length % 2 !== 1) return undefined;
  const app: AppRef = { name: '' };
  for (let i = 1; i < w.length; i += 2) {
    const v = w[i + 1];
    if (w[i] === '--name') app.name = v;
    else if (w[i] === '--bundle-id') app.bundleId = v;
    else if (w[i] === '--fallback') app.path = v;
    else return undefined;
  }
  return { helperPath: w[0], app };
}

interface Ctx { helperPath?: string }

function parseAction(list: Json | undefined, ctx: Ctx): Action | undefined {
  if (!Array.isArray(list) || !list.length || !list.every(isObj)) return undefined;
  const evs = list as JsonObject[];
  if (evs.length === 1) {
    const e = evs[0];
    if (e.key_code === 'vk_none') return { type: 'none' };
    if (e.key_code === 'japanese_eisuu' && !e.modifiers) return { type: 'input', source: 'eisuu' };
    if (e.key_code === 'japanese_kana' && !e.modifiers) return { type: 'input', source: 'kana' };
    if (typeof e.consumer_key_code === 'string' && MEDIA_KEYS.includes(e.consumer_key_code) && !e.modifiers) {
      return { type: 'media', key: e.consumer_key_code };
    }
    if (typeof e.shell_command === 'string') {
      const cmd = e.shell_command;
      const prefix = `${SHORTCUTS_TOOL} run `;
      if (cmd.startsWith(prefix)) {
        const w = shellWords(cmd.slice(prefix.length));
        if (w && w.length === 1) return { type: 'shortcut', name: w[0] };
      }
      const focus = parseFocus(cmd);
      if (focus && /tarvel-focus$/.test(focus.helperPath)) {
        ctx.helperPath = focus.helperPath;
        return { type: 'app', app: focus.app };
      }
      return { type: 'shell', command: cmd };
    }
    const open = isObj(e.software_function) ? e.software_function.open_application : undefined;
    if (isObj(open)) {
      if (typeof open.bundle_identifier === 'string') return { type: 'app', app: { name: open.bundle_identifier, bundleId: open.bundle_identifier } };
      if (typeof open.file_path === 'string') {
        const base = open.file_path.replace(/\/+$/, '').split('/').pop() ?? open.file_path;
        return { type: 'app', app: { name: base.replace(/\.(app|desktop)$/, ''), path: open.file_path } };
      }
    }
  }
  const strokes: KeyStroke[] = [];
  for (const e of evs) {
    const key = e.key_code ?? e.consumer_key_code;
    if (typeof key !== 'string') return undefined;
    strokes.push({ key, modifiers: strArr(e.modifiers) ? e.modifiers : [] });
  }
  return { type: 'keys', strokes };
}

function parseTrigger(from: Json | undefined): Trigger | undefined {
  if (!isObj(from)) return undefined;
  let keys: string[];
  if (Array.isArray(from.simultaneous)) {
    keys = from.simultaneous.map((s) => (isObj(s) ? (s.key_code ?? s.consumer_key_code) : undefined)).filter((k): k is string => typeof k === 'string');
  } else {
    const k = from.key_code ?? from.consumer_key_code;
    keys = typeof k === 'string' ? [k] : [];
  }
  if (!keys.length) return undefined;
  const mods = isObj(from.modifiers) ? from.modifiers : {};
  return {
    keys,
    mandatory: strArr(mods.mandatory) ? mods.mandatory : [],
    optional: strArr(mods.optional) ? mods.optional : [],
  };
}

function parseConditions(conds: Json | undefined, out: { layer?: string; apps?: AppScope }): boolean {
  if (conds === undefined) return true;
  if (!Array.isArray(conds)) return false;
  for (const c of conds) {
    if (!isObj(c)) return false;
    if (c.type === 'variable_if' && typeof c.name === 'string' && c.name.startsWith(LAYER_PREFIX) && !out.layer) {
      out.layer = c.name.slice(LAYER_PREFIX.length);
    } else if ((c.type === 'frontmost_application_if' || c.type === 'frontmost_application_unless') && !out.apps) {
      const apps: AppRef[] = [];
      for (const e of strArr(c.bundle_identifiers) ? c.bundle_identifiers : []) {
        const id = unescapeExactRegex(e);
        if (id === undefined) return false;
        apps.push({ name: id, bundleId: id });
      }
      for (const e of strArr(c.file_paths) ? c.file_paths : []) {
        const p = unescapeExactRegex(e);
        if (p === undefined) return false;
        apps.push({ name: p.split('/').pop() || p, path: p });
      }
      out.apps = { mode: c.type === 'frontmost_application_if' ? 'only' : 'except', apps };
    } else {
      return false;
    }
  }
  return true;
}

const num = (v: Json | undefined) => (typeof v === 'number' ? v : undefined);

function candidate(man: JsonObject, ctx: Ctx): Mapping | undefined {
  if (man.type !== 'basic') return undefined;
  const trigger = parseTrigger(man.from);
  if (!trigger) return undefined;
  const params = isObj(man.parameters) ? man.parameters : {};
  const chordMs = num(params['basic.simultaneous_threshold_milliseconds']);
  if (chordMs !== undefined) trigger.chordMs = chordMs;
  const scope: { layer?: string; apps?: AppScope } = {};
  if (!parseConditions(man.conditions, scope)) return undefined;
  const base = { id: newId(), enabled: true, ...scope };
  const to = man.to;
  if (Array.isArray(to) && to.length === 1 && isObj(to[0]) && isObj(to[0].set_variable)) {
    const sv = to[0].set_variable;
    if (typeof sv.name !== 'string' || !sv.name.startsWith(LAYER_PREFIX)) return undefined;
    const tap = man.to_if_alone ? parseAction(man.to_if_alone, ctx) : { type: 'none' as const };
    if (!tap) return undefined;
    return { ...base, kind: 'layerKey', trigger, name: sv.name.slice(LAYER_PREFIX.length), mode: 'hold', tap };
  }
  const stripLazy = (l: Json | undefined) => (Array.isArray(l) ? l.map((e) => {
    if (!isObj(e)) return e;
    const { lazy: _lazy, ...rest } = e;
    return rest as Json;
  }) : l);
  const lazyOf = (l: Json | undefined) => Array.isArray(l) && l.some((e) => isObj(e) && e.lazy === true);
  if (man.to_if_held_down !== undefined) {
    const hold = parseAction(stripLazy(man.to_if_held_down), ctx);
    const tap = man.to_if_alone ? parseAction(man.to_if_alone, ctx) : { type: 'none' as const };
    if (!hold || !tap) return undefined;
    return {
      ...base, kind: 'tapHold', trigger, tap, hold, holdMode: 'delayed', lazy: lazyOf(man.to_if_held_down),
      tapTimeoutMs: num(params['basic.to_if_alone_timeout_milliseconds']),
      holdDelayMs: num(params['basic.to_if_held_down_threshold_milliseconds']),
    };
  }
  if (man.to_if_alone !== undefined) {
    const hold = parseAction(stripLazy(to), ctx);
    const tap = parseAction(man.to_if_alone, ctx);
    if (!hold || !tap) return undefined;
    return {
      ...base, kind: 'tapHold', trigger, tap, hold, holdMode: 'immediate', lazy: lazyOf(to),
      tapTimeoutMs: num(params['basic.to_if_alone_timeout_milliseconds']),
    };
  }
  const action = parseAction(to, ctx);
  if (!action) return undefined;
  return { ...base, kind: 'remap', trigger, action };
}

export function deepEqual(a: unknown, b: unknown): boolean {
  if (a === b) return true;
  if (Array.isArray(a) || Array.isArray(b)) {
    return Array.isArray(a) && Array.isArray(b) && a.length === b.length && a.every((x, i) => deepEqual(x, b[i]));
  }
  if (isObj(a) && isObj(b)) {
    const ka = Object.keys(a).filter((k) => a[k] !== undefined);
    const kb = Object.keys(b).filter((k) => b[k] !== undefined);
    return ka.length === kb.length && ka.every((k) => deepEqual(a[k], b[k]));
  }
  return false;
}

function dropUndefined<T extends object>(m: T): T {
  for (const k of Object.keys(m) as (keyof T)[]) if (m[k] === undefined) delete m[k];
  return m;
}

/** A form when one reproduces the manipulator exactly, else the raw manipulator. */
export function decompile(man: JsonObject, label?: string): Mapping {
  const ctx: Ctx = {};
  let m: Mapping | undefined;
  try {
    m = candidate(man, ctx);
  } catch {
    m = undefined;
  }
  if (m) dropUndefined(m);
  if (!m || !deepEqual(compileMapping(m, ctx), [man])) {
    m = { id: newId(), enabled: true, kind: 'raw', manipulator: structuredClone(man) };
  }
  if (label) m.label = label;
  return m;
}
