// "Try it": what Karabiner-Elements does with one key press, over every rule that will be written,
// in order: the first manipulator whose trigger, modifiers and conditions all match takes the key.
// Also which manipulators can never fire because one before them always takes their key first.
import { deepEqual, isObj, isStr, type Json, type JsonObject } from './json';
import { fromKeys, type KeyRef } from './manipulator';
import { eventsOf } from './shapes';
import { canonicalKey, canonicalModifier } from './vocabulary';

export interface SimRule {
  name: string;
  enabled: boolean;
  manipulators: JsonObject[];
  /** The mapping each manipulator belongs to, for Tarvel's own rules. */
  mappingIds?: string[];
  kept?: boolean;
}

/** Modifier flags, as Karabiner-Elements tracks them. */
export const FLAGS = [
  'caps_lock', 'left_control', 'left_shift', 'left_option', 'left_command',
  'right_control', 'right_shift', 'right_option', 'right_command', 'fn',
] as const;
export type Flag = typeof FLAGS[number];
const FLAG_BITS: Record<string, number> = Object.fromEntries(FLAGS.map((f, i) => [f, 1 << i]));
const GENERIC: Record<string, number> = {
  command: FLAG_BITS.left_command | FLAG_BITS.right_command,
  control: FLAG_BITS.left_control | FLAG_BITS.right_control,
  option: FLAG_BITS.left_option | FLAG_BITS.right_option,
  shift: FLAG_BITS.left_shift | FLAG_BITS.right_shift,
};
const STATES = 1 << FLAGS.length;
const bitsOf = (m: string): number => GENERIC[m] ?? FLAG_BITS[canonicalModifier(m)] ?? 0;
const names = (v: Json | undefined): string[] => (isStr(v) ? [v] : Array.isArray(v) ? v.filter(isStr) : []);

/** Which held-modifier states a `from.modifiers` accepts, one bit per state; shared per spelling. */
const acceptCache = new Map<string, Uint32Array>();
const accepts = (set: Uint32Array, state: number) => (set[state >>> 5] & (1 << (state & 31))) !== 0;
function acceptance(mods: Json | undefined): Uint32Array {
  const key = JSON.stringify(mods ?? null);
  let hit = acceptCache.get(key);
  if (hit) return hit;
  const mandatory = isObj(mods) ? names(mods.mandatory) : [];
  const optional = isObj(mods) ? names(mods.optional) : [];
  hit = new Uint32Array(STATES / 32);
  const anyMandatory = mandatory.includes('any');
  const anyOptional = optional.includes('any');
  const allowed = [...mandatory, ...optional].reduce((b, m) => b | bitsOf(m), 0);
  for (let s = 0; s < STATES; s++) {
    let ok = anyMandatory || mandatory.every((m) => (s & bitsOf(m)) !== 0);
    if (ok && !anyMandatory && !anyOptional && (s & ~allowed) !== 0) ok = false;
    if (ok) hit[s >>> 5] |= 1 << (s & 31);
  }
  acceptCache.set(key, hit);
  return hit;
}

/** The flags a mandatory list takes out of the output (Karabiner-Elements releases them first). */
function mandatoryBits(mods: Json | undefined, state: number): number {
  if (!isObj(mods)) return 0;
  let out = 0;
  for (const m of names(mods.mandatory)) if (m !== 'any') out |= bitsOf(m) & state;
  return out;
}

// ---- the environment ---------------------------------------------------------------------------

export interface SimApp { bundleId?: string; path?: string }
export interface SimInputSource { language?: string; input_source_id?: string; input_mode_id?: string }
/** A key held down: what it sends when released, and the modifiers it holds meanwhile. */
export interface DownKey { pressed: KeyRef[]; up: JsonObject[]; flags: Flag[]; rule?: number; manipulator?: number }
export interface SimEnv {
  /** Modifiers held down by hand (and caps lock when locked). */
  held: Flag[];
  /** Keys pressed with "hold" and not yet released. */
  down?: DownKey[];
  variables: Record<string, Json>;
  app?: SimApp;
  /** The device the key comes from, as Karabiner-Elements identifies it. */
  device?: JsonObject;
  keyboardType?: 'ansi' | 'iso' | 'jis';
  inputSource?: SimInputSource;
}

export interface Pending { rule: number; manipulator: number; invoked: JsonObject[]; canceled: JsonObject[] }

const variableOf = (env: SimEnv, name: string): Json => (name in env.variables ? env.variables[name] : 0);
/** Karabiner-Elements keeps numbers, booleans and strings apart: 1 is not true. */
const sameValue = (a: Json, b: Json): boolean => typeof a === typeof b && a === b;

function regexTest(patterns: Json | undefined, value: string | undefined): boolean {
  if (value === undefined || !Array.isArray(patterns)) return false;
  return patterns.some((p) => {
    if (!isStr(p)) return false;
    try { return new RegExp(p).test(value); } catch { return false; }
  });
}

export interface ConditionResult { ok: boolean; assumed?: boolean }

export function testCondition(c: Json, env: SimEnv): ConditionResult {
  if (!isObj(c) || !isStr(c.type)) return { ok: true, assumed: true };
  const negate = c.type.endsWith('_unless');
  const result = (found: boolean): ConditionResult => ({ ok: negate ? !found : found });
  switch (c.type.replace(/_(if|unless)$/, '')) {
    case 'variable':
      return result(isStr(c.name) && c.value !== undefined && sameValue(variableOf(env, c.name), c.value));
    case 'frontmost_application':
      return result(regexTest(c.bundle_identifiers, env.app?.bundleId) || regexTest(c.file_paths, env.app?.path));
    case 'keyboard_type':
      return result(Array.isArray(c.keyboard_types) && !!env.keyboardType && c.keyboard_types.includes(env.keyboardType));
    case 'input_source':
      return result(Array.isArray(c.input_sources) && c.input_sources.some((wanted) => isObj(wanted) && Object.entries(wanted).every(
        ([k, re]) => isStr(re) && regexTest([re], env.inputSource?.[k as keyof SimInputSource]),
      )));
    case 'device': case 'device_exists':
      return result(Array.isArray(c.identifiers) && !!env.device && c.identifiers.some((d) => isObj(d) && Object.keys(d).length > 0
        && Object.entries(d).every(([k, v]) => k === 'description' || deepEqual(env.device?.[k] ?? (typeof v === 'boolean' ? false : 0), v))));
    default:
      // expression_if and event_changed_if are not evaluated here.
      return { ok: true, assumed: true };
  }
}

// ---- compiled manipulators ---------------------------------------------------------------------

interface Compiled {
  basic: boolean;
  keys: KeyRef[];
  any?: string;
  simultaneous: boolean;
  accept: Uint32Array;
}
const compiledCache = new WeakMap<JsonObject, Compiled>();
const norm = (k: KeyRef): string => `${k.field}:${k.field === 'key_code' || k.field === 'consumer_key_code' ? canonicalKey(k.field, k.name) : k.name}`;

function compiled(m: JsonObject): Compiled {
  let c = compiledCache.get(m);
  if (c) return c;
  const from = isObj(m.from) ? m.from : {};
  c = {
    basic: m.type === 'basic',
    keys: fromKeys(from),
    any: isStr(from.any) ? from.any : undefined,
    simultaneous: Array.isArray(from.simultaneous),
    accept: acceptance(from.modifiers),
  };
  compiledCache.set(m, c);
  return c;
}

function fromMatches(c: Compiled, pressed: KeyRef[]): boolean {
  if (!c.basic) return false;
  if (c.any) return pressed.length === 1 && pressed[0].field === c.any;
  if (c.simultaneous) {
    if (c.keys.length !== pressed.length) return false;
    const want = new Set(c.keys.map(norm));
    return pressed.every((k) => want.has(norm(k)));
  }
  return pressed.length === 1 && c.keys.length === 1 && norm(c.keys[0]) === norm(pressed[0]);
}

// ---- one press ---------------------------------------------------------------------------------

export interface SimPhase { when: 'down' | 'held' | 'alone' | 'up'; events: JsonObject[] }
export interface SimSkip { rule: number; manipulator: number; reason: 'modifiers' | 'condition'; condition?: JsonObject }
export interface SimResult {
  pressed: KeyRef[];
  hold: boolean;
  /** The manipulator that took the key, or none: the key goes on as it is. */
  rule?: number;
  manipulator?: number;
  phases: SimPhase[];
  /** Every modifier down when the key was pressed. */
  held: Flag[];
  /** Modifiers held that stay on the events sent (those the trigger did not require). */
  heldExtra: Flag[];
  /** Manipulators on the same key that did not take it, and why. */
  skipped: SimSkip[];
  /** Conditions this simulation cannot evaluate and took as met. */
  assumed: JsonObject[];
  /** Delayed actions that were waiting and got canceled by this press. */
  canceled: JsonObject[];
  env: SimEnv;
  pending: Pending[];
}

const flagsOf = (state: number): Flag[] => FLAGS.filter((f) => (state & FLAG_BITS[f]) !== 0);
/** Every modifier down: held by hand, and those held keys send or are. */
export function modifierState(env: SimEnv): number {
  let s = env.held.reduce((acc, f) => acc | FLAG_BITS[f], 0);
  for (const d of env.down ?? []) for (const f of d.flags) s |= FLAG_BITS[f];
  return s;
}

/** The modifiers a held key keeps down: the modifier keys it sends, with their own modifiers. */
function heldFlags(events: JsonObject[]): Flag[] {
  const out = new Set<Flag>();
  for (const e of events) {
    if (!isStr(e.key_code)) continue;
    const k = canonicalKey('key_code', e.key_code);
    if (k in FLAG_BITS && k !== 'caps_lock') out.add(k as Flag);
    if (k !== 'vk_none') for (const m of names(e.modifiers)) for (const f of flagsOf(bitsOf(m))) out.add(f);
  }
  return [...out];
}

function applyEvents(env: SimEnv, events: JsonObject[]): SimEnv {
  let next = env;
  for (const e of events) {
    const sv = e.set_variable;
    if (isObj(sv) && isStr(sv.name)) {
      const variables = { ...next.variables };
      if (sv.type === 'unset') delete variables[sv.name];
      else if (sv.value !== undefined) variables[sv.name] = sv.value;
      next = { ...next, variables };
    }
    // Switching input sources: the JIS keys, and select_input_source.
    if (e.key_code === 'japanese_kana' || e.key_code === 'lang1') next = { ...next, inputSource: { language: 'ja', input_source_id: 'com.apple.inputmethod.Kotoeri.RomajiTyping.Japanese', input_mode_id: 'com.apple.inputmethod.Japanese' } };
    if (e.key_code === 'japanese_eisuu' || e.key_code === 'lang2') next = { ...next, inputSource: { language: 'en', input_source_id: 'com.apple.inputmethod.Kotoeri.RomajiTyping.Roman', input_mode_id: 'com.apple.inputmethod.Roman' } };
    const sel = eventsOf(e.select_input_source)[0];
    if (sel) {
      const src: SimInputSource = {};
      for (const k of ['language', 'input_source_id', 'input_mode_id'] as const) if (isStr(sel[k])) src[k] = (sel[k] as string).replace(/^\^|\$$/g, '').replace(/\\(.)/g, '$1');
      next = { ...next, inputSource: src };
    }
  }
  return next;
}

function sameKeys(a: KeyRef[], b: KeyRef[]): boolean {
  return a.length === b.length && a.every((k, i) => norm(k) === norm(b[i]));
}

/**
 * Presses `pressed` (one key, or several together). Tapped, it is released at once; held, it stays
 * down past the hold threshold until `simulateRelease`, keeping the modifiers it sends down for the
 * keys pressed meanwhile. Delayed actions left pending by earlier presses are canceled on the way.
 */
export function simulatePress(rules: readonly SimRule[], env: SimEnv, pending: readonly Pending[], pressed: KeyRef[], hold: boolean): SimResult {
  // Pressing a key that is held down releases it first.
  let start = env;
  for (const d of env.down ?? []) if (sameKeys(d.pressed, pressed)) start = simulateRelease(start, d).env;
  const state = modifierState(start);
  const skipped: SimSkip[] = [];
  const assumed: JsonObject[] = [];
  let current = start;
  const stillPending = [...pending];
  const canceled: JsonObject[] = [];
  const cancelUpTo = (rule: number, manipulator: number) => {
    for (let i = stillPending.length - 1; i >= 0; i--) {
      const p = stillPending[i];
      if (p.rule < rule || (p.rule === rule && p.manipulator <= manipulator)) {
        current = applyEvents(current, p.canceled);
        canceled.push(...p.canceled);
        stillPending.splice(i, 1);
      }
    }
  };
  for (let r = 0; r < rules.length; r++) {
    const rule = rules[r];
    if (!rule.enabled) continue;
    for (let i = 0; i < rule.manipulators.length; i++) {
      const man = rule.manipulators[i];
      if (!isObj(man)) continue;
      const c = compiled(man);
      if (!fromMatches(c, pressed)) continue;
      if (!accepts(c.accept, state)) {
        if (skipped.length < 20) skipped.push({ rule: r, manipulator: i, reason: 'modifiers' });
        continue;
      }
      // The delayed actions of manipulators before this one are canceled before it decides.
      cancelUpTo(r, i - 1);
      let failed: JsonObject | undefined;
      const maybe: JsonObject[] = [];
      for (const cond of Array.isArray(man.conditions) ? man.conditions : []) {
        const res = testCondition(cond, current);
        if (res.assumed && isObj(cond)) maybe.push(cond);
        if (!res.ok) { failed = isObj(cond) ? cond : {}; break; }
      }
      if (failed) {
        if (skipped.length < 20) skipped.push({ rule: r, manipulator: i, reason: 'condition', condition: failed });
        continue;
      }
      assumed.push(...maybe);
      cancelUpTo(Infinity, Infinity);
      return fire(current, stillPending, pressed, hold, r, i, man, state, skipped, assumed, canceled);
    }
  }
  cancelUpTo(Infinity, Infinity);
  const passthrough = pressed.map((k) => ({ [k.field]: k.name } as JsonObject));
  const result: SimResult = { pressed, hold, phases: [{ when: 'down', events: passthrough }], held: flagsOf(state), heldExtra: flagsOf(state), skipped, assumed, canceled, env: current, pending: stillPending };
  if (hold) result.env = { ...current, down: [...(current.down ?? []), { pressed, up: [], flags: heldFlags(passthrough) }] };
  return result;
}

function fire(
  env: SimEnv, pending: Pending[], pressed: KeyRef[], hold: boolean,
  rule: number, index: number, man: JsonObject, state: number, skipped: SimSkip[], assumed: JsonObject[], canceled: JsonObject[],
): SimResult {
  const from = isObj(man.from) ? man.from : {};
  const extra = state & ~mandatoryBits(from.modifiers, state);
  const phases: SimPhase[] = [];
  let current = env;
  const push = (when: SimPhase['when'], events: JsonObject[]) => {
    if (!events.length) return;
    phases.push({ when, events });
    current = applyEvents(current, events);
  };
  const to = eventsOf(man.to);
  push('down', to);
  const options = isObj(from.simultaneous_options) ? from.simultaneous_options : {};
  const up = [...eventsOf(man.to_after_key_up), ...eventsOf(options.to_after_key_up)];
  const delayed = isObj(man.to_delayed_action) ? man.to_delayed_action : undefined;
  const nextPending = [...pending];
  if (delayed) nextPending.push({ rule, manipulator: index, invoked: eventsOf(delayed.to_if_invoked), canceled: eventsOf(delayed.to_if_canceled) });
  if (hold) {
    const held = eventsOf(man.to_if_held_down);
    push('held', held);
    current = { ...current, down: [...(current.down ?? []), { pressed, up, flags: heldFlags([...to, ...held]), rule, manipulator: index }] };
  } else {
    push('alone', eventsOf(man.to_if_alone));
    push('up', up);
  }
  return { pressed, hold, rule, manipulator: index, phases, held: flagsOf(state), heldExtra: flagsOf(extra), skipped, assumed, canceled, env: current, pending: nextPending };
}

/** Releases a key pressed with "hold": its to_after_key_up runs and its modifiers come up. */
export function simulateRelease(env: SimEnv, key: DownKey): { env: SimEnv; events: JsonObject[] } {
  const down = (env.down ?? []).filter((d) => d !== key);
  return { env: applyEvents({ ...env, down }, key.up), events: key.up };
}

/** Time passes with no other key: pending delayed actions run their to_if_invoked. */
export function simulateWait(env: SimEnv, pending: readonly Pending[]): { env: SimEnv; invoked: JsonObject[] } {
  const invoked = pending.flatMap((p) => p.invoked);
  return { env: applyEvents(env, invoked), invoked };
}

// ---- shadowing ---------------------------------------------------------------------------------

export interface Shadow { rule: number; manipulator: number; byRule: number; byManipulator: number }

/** Each manipulator's conditions as text, to compare many of them quickly. */
const conditionKeys = new WeakMap<JsonObject, string[]>();
function keysOf(m: JsonObject): string[] {
  let hit = conditionKeys.get(m);
  if (!hit) conditionKeys.set(m, (hit = Array.isArray(m.conditions) ? m.conditions.map((c) => JSON.stringify(c)) : []));
  return hit;
}
/** Whether every condition of `earlier` is also one of `later`'s (written the same way). */
function conditionsCover(earlier: JsonObject, later: JsonObject): boolean {
  const e = keysOf(earlier);
  if (!e.length) return true;
  const l = keysOf(later);
  return e.every((c) => l.includes(c));
}

function acceptsAll(earlier: Uint32Array, later: Uint32Array): boolean {
  if (earlier === later) return true;
  for (let w = 0; w < later.length; w++) if ((later[w] & ~earlier[w]) !== 0) return false;
  return true;
}

/**
 * Manipulators that can never fire: an earlier one (in an enabled rule) takes the same key under
 * every modifier state they accept and needs no condition they do not also need. Keys pressed
 * together are compared only with the same keys pressed together.
 */
export function findShadows(rules: readonly SimRule[]): Shadow[] {
  const out: Shadow[] = [];
  const seen = new Map<string, { rule: number; manipulator: number; man: JsonObject; c: Compiled }[]>();
  const anyOf = new Map<string, { rule: number; manipulator: number; man: JsonObject; c: Compiled }[]>();
  rules.forEach((rule, r) => {
    if (!rule.enabled) return;
    rule.manipulators.forEach((man, i) => {
      if (!isObj(man)) return;
      const c = compiled(man);
      if (!c.basic) return;
      const sig = c.any ? `any:${c.any}` : `${c.simultaneous ? 'sim' : 'one'}:${c.keys.map(norm).sort().join('+')}`;
      if (!c.any && !c.keys.length) return;
      const covers = (e: { man: JsonObject; c: Compiled }) => conditionsCover(e.man, man) && acceptsAll(e.c.accept, c.accept);
      const hit = seen.get(sig)?.find(covers)
        ?? (!c.simultaneous && !c.any && c.keys.length === 1 ? anyOf.get(c.keys[0].field)?.find(covers) : undefined);
      if (hit) out.push({ rule: r, manipulator: i, byRule: hit.rule, byManipulator: hit.manipulator });
      const entry = { rule: r, manipulator: i, man, c };
      const group = seen.get(sig);
      if (group) group.push(entry); else seen.set(sig, [entry]);
      if (c.any) {
        const anyGroup = anyOf.get(c.any);
        if (anyGroup) anyGroup.push(entry); else anyOf.set(c.any, [entry]);
      }
    });
  });
  return out;
}
