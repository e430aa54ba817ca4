// Manipulator parts read the way the engine reads them. Whatever the engine refuses (an unknown
// key name, a misspelt member, a wrong type) makes it drop the whole manipulator; here the reader
// says why instead.
import { isObj, isStr, type Json, type JsonObject } from '../json';
import { KEY_FIELDS, type KeyField } from '../vocabulary';
import { makeCondition, varValue, type Condition } from './env';
import { compileExpression, expressionText } from './expression';
import { isFlag, keyId, MODIFIER_ORDER, modifierFlags, type Flag, type KeyId } from './keys';
import type { Ev, MouseKey, SetVariable } from './queue';

export class Refused extends Error {}
const refuse = (why: string): never => { throw new Refused(why); };

/** One to-event: what it sends and how. `ev` is absent for `from_event` (the key that came in). */
export interface ToDef {
  ev?: Ev;
  modifiers: Flag[];
  lazy: boolean; repeat: boolean; halt: boolean; holdDown: number;
  conditions: Condition[];
  /** The event as written, for what the page shows. */
  json: JsonObject;
}

/** The modifier names of a list, in the engine's order, each once. */
function modifierNames(v: Json | undefined, where: string): string[] {
  const list = isStr(v) ? [v] : Array.isArray(v) ? v : refuse(`${where} must be a name or a list of names`);
  const names = new Set<string>();
  for (const n of list) {
    if (!isStr(n)) refuse(`${where}: ${JSON.stringify(n)} is not a modifier`);
    const canonical = n === 'any' ? 'any' : modifierFlags(n as string) ? (n as string).replace(/^(left|right)_alt$/, '$1_option').replace(/^(left|right)_gui$/, '$1_command') : undefined;
    if (!canonical) refuse(`unknown modifier ${JSON.stringify(n)}`);
    names.add(canonical as string);
  }
  return MODIFIER_ORDER.filter((m) => names.has(m));
}

function keyOf(field: KeyField, value: Json): KeyId {
  return keyId(field, value) ?? refuse(`unknown ${field}: ${JSON.stringify(value)}`);
}

function num(v: Json | undefined, what: string): number {
  return typeof v === 'number' && Number.isFinite(v) ? v : refuse(`${what} must be a number`);
}

function readSetVariable(v: Json): SetVariable {
  if (!isObj(v)) return refuse('set_variable must be an object');
  const out: SetVariable = { name: '', unset: false };
  let named = false;
  for (const [k, x] of Object.entries(v)) {
    switch (k) {
      case 'name': if (!isStr(x)) refuse('set_variable.name must be a string'); out.name = x as string; named = true; break;
      case 'value': out.value = varValue(x) ?? refuse('set_variable.value must be a number, boolean or string'); break;
      case 'key_up_value': out.keyUpValue = varValue(x) ?? refuse('set_variable.key_up_value must be a number, boolean or string'); break;
      case 'expression': case 'key_up_expression': {
        const text = expressionText(x);
        const e = text === undefined ? undefined : compileExpression(text);
        if (!e) refuse(`set_variable.${k} cannot be read`);
        if (k === 'expression') out.expression = e; else out.keyUpExpression = e;
        break;
      }
      case 'type': if (x !== 'set' && x !== 'unset') refuse('set_variable.type must be "set" or "unset"'); out.unset = x === 'unset'; break;
      default: refuse(`unknown key ${k} in set_variable`);
    }
  }
  if (!named) refuse('set_variable.name is missing');
  if (!out.unset && out.value === undefined && !out.expression && out.keyUpValue === undefined && !out.keyUpExpression) {
    refuse('set_variable needs value, expression, key_up_value or key_up_expression');
  }
  return out;
}

function readMouseKey(v: Json): MouseKey {
  if (!isObj(v)) return refuse('mouse_key must be an object');
  const m: MouseKey = { x: 0, y: 0, v: 0, h: 0, speed: 1 };
  for (const [k, x] of Object.entries(v)) {
    const n = num(x, `mouse_key.${k}`);
    if (k === 'x') m.x = Math.trunc(n);
    else if (k === 'y') m.y = Math.trunc(n);
    else if (k === 'vertical_wheel') m.v = Math.trunc(n);
    else if (k === 'horizontal_wheel') m.h = Math.trunc(n);
    else if (k === 'speed_multiplier') m.speed = n;
    else refuse(`unknown key ${k} in mouse_key`);
  }
  return m;
}

/**
 * Reads the event members of an object (a to-event, a `from` or one key of `simultaneous`):
 * exactly one event, plus the members the caller handles itself.
 */
function readEvent(o: JsonObject, other: (k: string, v: Json) => boolean, allowAny: boolean): { ev?: Ev; any?: KeyField; fromEvent?: boolean } {
  let found: { ev?: Ev; any?: KeyField; fromEvent?: boolean } | undefined;
  const set = (x: { ev?: Ev; any?: KeyField; fromEvent?: boolean }) => {
    if (found) refuse(`more than one event in ${JSON.stringify(o)}`);
    found = x;
  };
  for (const [k, v] of Object.entries(o)) {
    if ((KEY_FIELDS as readonly string[]).includes(k)) set({ ev: { t: 'key', key: keyOf(k as KeyField, v) } });
    else if (k === 'any') {
      if (!allowAny || !isStr(v) || !['key_code', 'consumer_key_code', 'apple_vendor_keyboard_key_code', 'apple_vendor_top_case_key_code', 'pointing_button'].includes(v)) refuse(`unknown any: ${JSON.stringify(v)}`);
      set({ any: v as KeyField });
    } else if (k === 'from_event') {
      if (typeof v !== 'boolean') refuse('from_event must be true or false');
      if (found) refuse(`more than one event in ${JSON.stringify(o)}`);
      if (v) found = { fromEvent: true };
    } else if (k === 'shell_command') set({ ev: { t: 'shell_command', value: isStr(v) ? v : refuse('shell_command must be a string') } });
    else if (k === 'send_user_command') set({ ev: { t: 'send_user_command', value: isObj(v) ? v : refuse('send_user_command must be an object') } });
    else if (k === 'select_input_source') {
      const list = isObj(v) ? [v] : Array.isArray(v) && v.every(isObj) ? v as JsonObject[] : refuse('select_input_source must be an object or a list of objects');
      set({ ev: { t: 'select_input_source', value: list } });
    } else if (k === 'set_variable') set({ ev: { t: 'set_variable', value: readSetVariable(v) } });
    else if (k === 'set_notification_message') set({ ev: { t: 'notification', value: isObj(v) ? v : refuse('set_notification_message must be an object') } });
    else if (k === 'mouse_key') set({ ev: { t: 'mouse_key', value: readMouseKey(v) } });
    else if (k === 'sticky_modifier') {
      if (!isObj(v)) refuse('sticky_modifier must be an object');
      let ev: Ev | undefined;
      for (const [f, s] of Object.entries(v as JsonObject)) {
        if (!isFlag(f)) refuse(`unknown sticky modifier ${f}`);
        if (s !== 'on' && s !== 'off' && s !== 'toggle') refuse(`sticky_modifier ${f} must be on, off or toggle`);
        ev = { t: 'sticky_modifier', flag: f as Flag, value: s as 'on' };
      }
      set({ ev: ev ?? { t: 'none' } });
    } else if (k === 'software_function') set({ ev: { t: 'software_function', value: isObj(v) ? v : refuse('software_function must be an object') } });
    else if (k === 'description') continue;
    else if (!other(k, v)) refuse(`unknown key ${k} in ${JSON.stringify(o)}`);
  }
  return found ?? {};
}

export function readTo(j: Json): ToDef {
  if (!isObj(j)) return refuse('a to-event must be an object');
  const def: ToDef = { modifiers: [], lazy: false, repeat: true, halt: false, holdDown: 0, conditions: [], json: j };
  const bool = (k: string, v: Json) => (typeof v === 'boolean' ? v : refuse(`${k} must be true or false`));
  const got = readEvent(j, (k, v) => {
    switch (k) {
      case 'modifiers':
        def.modifiers = modifierNames(v, 'modifiers').flatMap((m) => (m === 'any' ? [] : [(modifierFlags(m) as Flag[])[0]]));
        return true;
      case 'lazy': def.lazy = bool(k, v); return true;
      case 'repeat': def.repeat = bool(k, v); return true;
      case 'halt': def.halt = bool(k, v); return true;
      case 'hold_down_milliseconds': case 'held_down_milliseconds': def.holdDown = Math.trunc(num(v, k)); return true;
      case 'conditions':
        if (!Array.isArray(v)) refuse('conditions must be a list');
        def.conditions = (v as Json[]).map((c) => makeCondition(c) ?? refuse(`condition ${JSON.stringify(c)} cannot be read`));
        return true;
      default: return false;
    }
  }, false);
  if (got.fromEvent) return def;
  if (!got.ev) return refuse(`no event in ${JSON.stringify(j)}`);
  def.ev = got.ev;
  return def;
}

export function readToList(v: Json | undefined, what: string): ToDef[] {
  if (v === undefined) return [];
  if (isObj(v)) return [readTo(v)];
  if (Array.isArray(v)) return v.map(readTo);
  return refuse(`${what} must be an object or a list`);
}

/** One key a `from` or `simultaneous` names, or a whole kind of keys (`any`). */
export type KeyDef = { key: KeyId } | { any: KeyField };

export interface FromDef {
  keys: KeyDef[];
  simultaneous: boolean;
  mandatory: string[];
  optional: string[];
  integerValue?: number;
  detectUninterruptedly: boolean;
  keyDownOrder: 'insensitive' | 'strict' | 'strict_inverse';
  keyUpOrder: 'insensitive' | 'strict' | 'strict_inverse';
  keyUpWhen: 'any' | 'all';
  toAfterKeyUp: ToDef[];
}

function readModifiers(v: Json, into: FromDef): void {
  if (!isObj(v)) refuse('modifiers must be an object');
  for (const [k, x] of Object.entries(v as JsonObject)) {
    if (k === 'mandatory') into.mandatory = modifierNames(x, 'modifiers.mandatory');
    else if (k === 'optional') into.optional = modifierNames(x, 'modifiers.optional');
    else if (k !== 'description') refuse(`unknown key ${k} in modifiers`);
  }
}

const ORDERS = ['insensitive', 'strict', 'strict_inverse'];

export function readFrom(j: Json, allowEventsOnly = false): FromDef {
  if (!isObj(j)) return refuse('from must be an object');
  const def: FromDef = {
    keys: [], simultaneous: false, mandatory: [], optional: [], detectUninterruptedly: false,
    keyDownOrder: 'insensitive', keyUpOrder: 'insensitive', keyUpWhen: 'any', toAfterKeyUp: [],
  };
  let simultaneous: KeyDef[] = [];
  const own = readEvent(j, (k, v) => {
    if (allowEventsOnly) return false;
    switch (k) {
      case 'modifiers': readModifiers(v, def); return true;
      case 'integer_value': def.integerValue = Math.trunc(num(v, k)); return true;
      case 'simultaneous':
        if (!Array.isArray(v)) refuse('simultaneous must be a list');
        simultaneous = (v as Json[]).map((x) => {
          if (!isObj(x)) refuse('each key of simultaneous must be an object');
          const e = readEvent(x as JsonObject, () => false, true);
          return keyDefOf(e) ?? refuse(`no key in ${JSON.stringify(x)}`);
        });
        return true;
      case 'simultaneous_options': {
        if (!isObj(v)) refuse('simultaneous_options must be an object');
        for (const [o, x] of Object.entries(v as JsonObject)) {
          if (o === 'detect_key_down_uninterruptedly') def.detectUninterruptedly = typeof x === 'boolean' ? x : refuse(`${o} must be true or false`);
          else if (o === 'key_down_order' || o === 'key_up_order') {
            if (!isStr(x) || !ORDERS.includes(x)) refuse(`unknown ${o}: ${JSON.stringify(x)}`);
            if (o === 'key_down_order') def.keyDownOrder = x as FromDef['keyDownOrder']; else def.keyUpOrder = x as FromDef['keyUpOrder'];
          } else if (o === 'key_up_when') {
            if (x !== 'any' && x !== 'all') refuse(`unknown key_up_when: ${JSON.stringify(x)}`);
            def.keyUpWhen = x as 'any';
          } else if (o === 'to_after_key_up') def.toAfterKeyUp = readToList(x, 'simultaneous_options.to_after_key_up');
          else if (o !== 'description') refuse(`unknown key ${o} in simultaneous_options`);
        }
        return true;
      }
      default: return false;
    }
  }, true);
  if (own.ev && own.ev.t !== 'key') refuse(`from cannot be ${own.ev.t}`);
  if (own.fromEvent) refuse('from cannot be from_event');
  if (simultaneous.length) {
    def.keys = simultaneous;
    def.simultaneous = true;
  } else {
    const k = keyDefOf(own);
    if (!k) refuse(`from names no key: ${JSON.stringify(j)}`);
    def.keys = [k as KeyDef];
  }
  return def;
}

function keyDefOf(e: { ev?: Ev; any?: KeyField }): KeyDef | undefined {
  if (e.any) return { any: e.any };
  if (e.ev?.t === 'key') return { key: e.ev.key };
  if (e.ev) refuse('from takes keys only');
  return undefined;
}

export interface Parameters { simultaneous: number; alone: number; heldDown: number; delayed: number }
export const DEFAULT_PARAMETERS: Parameters = { simultaneous: 50, alone: 1000, heldDown: 500, delayed: 500 };

/** Parameters over others (the profile's under a manipulator's own), clamped as the engine clamps them. */
export function readParameters(v: Json | undefined, base: Parameters = DEFAULT_PARAMETERS): Parameters {
  if (!isObj(v)) return base;
  const out = { ...base };
  const int = (k: string): number | undefined => (typeof v[k] === 'number' && Number.isFinite(v[k]) ? Math.trunc(v[k] as number) : undefined);
  const s = int('basic.simultaneous_threshold_milliseconds');
  const a = int('basic.to_if_alone_timeout_milliseconds');
  const h = int('basic.to_if_held_down_threshold_milliseconds');
  const d = int('basic.to_delayed_action_delay_milliseconds');
  if (s !== undefined) out.simultaneous = Math.min(Math.max(s, 0), 1000);
  if (a !== undefined) out.alone = Math.max(a, 0);
  if (h !== undefined) out.heldDown = Math.max(h, 0);
  if (d !== undefined) out.delayed = Math.max(d, 0);
  return out;
}
