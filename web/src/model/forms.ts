// The forms a mapping can be shown in. Remap, tap / hold and the advanced form are views over one
// manipulator: their field editors rewrite only what the user changes. Layer keys, double taps and
// leader keys are patterns of one or more manipulators: they are read into parameters only when
// building those parameters gives back exactly the same manipulators, so editing them loses nothing.
import { deepEqual, isObj, isStr, type Json, type JsonObject } from './json';
import { setVariable, variableIf, withKey } from './manipulator';
import { conditionsFit, eventFits, eventsOf, fromFits, parametersFit, partsFit } from './shapes';
import type { FormKind, Mapping } from './types';
import { newId } from './types';

export const FORMS: FormKind[] = ['remap', 'tapHold', 'layer', 'doubleTap', 'leader', 'advanced', 'raw'];

const REMAP_FIELDS = ['type', 'from', 'to', 'conditions', 'parameters', 'description'];
const TAP_HOLD_FIELDS = [...REMAP_FIELDS, 'to_if_alone', 'to_if_held_down', 'to_after_key_up'];
const ADVANCED_FIELDS = [...TAP_HOLD_FIELDS, 'to_delayed_action'];
export const FORM_FIELDS: Partial<Record<FormKind, readonly string[]>> = {
  remap: REMAP_FIELDS, tapHold: TAP_HOLD_FIELDS, advanced: ADVANCED_FIELDS,
};

export const LAYER_PREFIX = 'tarvel_layer_';
export const layerLabel = (variable: string): string =>
  variable.startsWith(LAYER_PREFIX) && variable.length > LAYER_PREFIX.length ? variable.slice(LAYER_PREFIX.length) : variable;

// ---- patterns --------------------------------------------------------------------------------

interface PatternBase { from: JsonObject; conditions: JsonObject[]; description?: string; parameters?: JsonObject }

export interface LayerParams extends PatternBase {
  mode: 'hold' | 'delayed' | 'toggle';
  variable: string;
  on: Json;
  off: Json;
  /** Sent when the key is tapped alone (hold and delayed modes). */
  tap: JsonObject[];
}
export interface DoubleTapParams extends PatternBase {
  variable: string;
  /** Sent at once on every press. */
  first: JsonObject[];
  /** Sent instead when the key is pressed again within the delay. */
  second: JsonObject[];
}
export interface LeaderParams extends PatternBase {
  variable: string;
  sequences: { keys: string[]; to: JsonObject[] }[];
}

function basic(p: PatternBase, extra: JsonObject, conditions = p.conditions, withParameters = true): JsonObject {
  const m: JsonObject = { type: 'basic', from: p.from };
  if (conditions.length) m.conditions = conditions;
  Object.assign(m, extra);
  if (withParameters && p.parameters && Object.keys(p.parameters).length) m.parameters = p.parameters;
  if (p.description !== undefined) m.description = p.description;
  return m;
}

export function buildLayer(p: LayerParams): JsonObject[] {
  const on = [setVariable(p.variable, p.on)];
  const off = [setVariable(p.variable, p.off)];
  const tap: JsonObject = p.tap.length ? { to_if_alone: p.tap } : {};
  switch (p.mode) {
    case 'hold': return [basic(p, { to: on, to_after_key_up: off, ...tap })];
    case 'delayed': return [basic(p, { to_if_held_down: on, to_after_key_up: off, ...tap })];
    case 'toggle': return [
      // While on, the key turns it off: the first manipulator that matches wins.
      basic(p, { to: off }, [...p.conditions, variableIf(p.variable, p.on)]),
      basic(p, { to: on }),
    ];
  }
}

export function buildDoubleTap(p: DoubleTapParams): JsonObject[] {
  const reset = [setVariable(p.variable, 0)];
  return [
    basic(p, { to: p.second }, [...p.conditions, variableIf(p.variable, 1)], false),
    basic(p, { to: [setVariable(p.variable, 1), ...p.first], to_delayed_action: { to_if_invoked: reset, to_if_canceled: reset } }),
  ];
}

const stepValue = (keys: string[]): Json => (keys.length ? keys.join(' ') : 1);

/** The keys after the leader run first (each under the state the keys before it left); then the
 * leader itself; last, any other key while a sequence is under way ends it. */
export function buildLeader(p: LeaderParams): JsonObject[] {
  const out: JsonObject[] = [];
  const steps = new Set<string>();
  const reset = setVariable(p.variable, 0);
  const key = (name: string): JsonObject => ({ key_code: name });
  for (const seq of p.sequences) {
    seq.keys.forEach((k, i) => {
      const before = seq.keys.slice(0, i);
      const cond = [...p.conditions, variableIf(p.variable, stepValue(before))];
      if (i === seq.keys.length - 1) {
        out.push({ type: 'basic', from: key(k), conditions: cond, to: [reset, ...seq.to] });
        return;
      }
      const state = seq.keys.slice(0, i + 1);
      const id = JSON.stringify(state);
      if (steps.has(id)) return;
      steps.add(id);
      out.push({ type: 'basic', from: key(k), conditions: cond, to: [setVariable(p.variable, stepValue(state))], to_delayed_action: { to_if_invoked: [reset] } });
    });
  }
  out.push(basic(p, { to: [setVariable(p.variable, 1)], to_delayed_action: { to_if_invoked: [reset] } }));
  out.push({
    type: 'basic', from: { any: 'key_code', modifiers: { optional: ['any'] } },
    conditions: [...p.conditions, variableIf(p.variable, 0, true)], to: [reset],
  });
  return out;
}

const setOf = (e: JsonObject | undefined) => (e && isObj(e.set_variable) && isStr(e.set_variable.name) ? e.set_variable : undefined);
const single = (v: Json | undefined) => { const l = eventsOf(v); return l.length === 1 ? l[0] : undefined; };
const conditionsOf = (m: JsonObject): JsonObject[] => (Array.isArray(m.conditions) ? m.conditions.filter(isObj) : []);
const baseOf = (m: JsonObject): PatternBase => {
  const b: PatternBase = { from: isObj(m.from) ? m.from : {}, conditions: conditionsOf(m) };
  if (isStr(m.description)) b.description = m.description;
  if (isObj(m.parameters)) b.parameters = m.parameters;
  return b;
};
const patternPartsFit = (p: PatternBase, events: JsonObject[]) =>
  fromFits(p.from) && conditionsFit(p.conditions) && parametersFit(p.parameters) && events.every(eventFits);
const exact = <P>(p: P, build: (p: P) => JsonObject[], ms: JsonObject[]): P | undefined => (deepEqual(build(p), ms) ? p : undefined);

export function readLayer(ms: JsonObject[]): LayerParams | undefined {
  if (ms.length === 2) {
    const [offM, onM] = ms;
    const on = setOf(single(onM.to));
    const off = setOf(single(offM.to));
    if (!on || !off || on.name !== off.name || on.value === undefined || off.value === undefined) return undefined;
    const p: LayerParams = { ...baseOf(onM), mode: 'toggle', variable: on.name as string, on: on.value, off: off.value, tap: [] };
    return patternPartsFit(p, []) ? exact(p, buildLayer, ms) : undefined;
  }
  if (ms.length !== 1) return undefined;
  const m = ms[0];
  const mode = setOf(single(m.to)) ? 'hold' : setOf(single(m.to_if_held_down)) ? 'delayed' : undefined;
  if (!mode) return undefined;
  const on = setOf(single(mode === 'hold' ? m.to : m.to_if_held_down));
  const off = setOf(single(m.to_after_key_up));
  if (!on || !off || on.name !== off.name || on.value === undefined || off.value === undefined) return undefined;
  const p: LayerParams = { ...baseOf(m), mode, variable: on.name as string, on: on.value, off: off.value, tap: eventsOf(m.to_if_alone) };
  return patternPartsFit(p, p.tap) ? exact(p, buildLayer, ms) : undefined;
}

export function readDoubleTap(ms: JsonObject[]): DoubleTapParams | undefined {
  if (ms.length !== 2) return undefined;
  const [twice, once] = ms;
  const onceTo = eventsOf(once.to);
  const set = setOf(onceTo[0]);
  if (!set || set.value !== 1 || !isObj(once.to_delayed_action)) return undefined;
  const p: DoubleTapParams = { ...baseOf(once), variable: set.name as string, first: onceTo.slice(1), second: eventsOf(twice.to) };
  return patternPartsFit(p, [...p.first, ...p.second]) ? exact(p, buildDoubleTap, ms) : undefined;
}

export function readLeader(ms: JsonObject[]): LeaderParams | undefined {
  if (ms.length < 2) return undefined;
  const leader = ms[ms.length - 2];
  const set = setOf(single(leader.to));
  if (!set || set.value !== 1) return undefined;
  const variable = set.name as string;
  const base = baseOf(leader);
  const n = base.conditions.length;
  const sequences: LeaderParams['sequences'] = [];
  for (const m of ms.slice(0, -2)) {
    const to = eventsOf(m.to);
    const first = setOf(to[0]);
    if (!first || first.value !== 0) continue;
    const test = conditionsOf(m)[n];
    const from = isObj(m.from) && isStr(m.from.key_code) ? m.from.key_code : undefined;
    if (!test || from === undefined) return undefined;
    const before = test.value === 1 ? [] : isStr(test.value) ? test.value.split(' ') : undefined;
    if (!before) return undefined;
    sequences.push({ keys: [...before, from], to: to.slice(1) });
  }
  const p: LeaderParams = { ...base, variable, sequences };
  return patternPartsFit(p, sequences.flatMap((s) => s.to)) ? exact(p, buildLeader, ms) : undefined;
}

// ---- which form shows what -----------------------------------------------------------------

/** Whether `form` shows every field of these manipulators. */
export function formFits(form: FormKind, ms: JsonObject[]): boolean {
  switch (form) {
    case 'raw': return true;
    case 'layer': return !!readLayer(ms);
    case 'doubleTap': return !!readDoubleTap(ms);
    case 'leader': return !!readLeader(ms);
    case 'tapHold': return ms.length === 1 && (partsFit(ms[0], TAP_HOLD_FIELDS) || (partsFit(ms[0], ADVANCED_FIELDS) && !!readLetterTapHold(ms[0])));
    default: return ms.length === 1 && partsFit(ms[0], FORM_FIELDS[form] as string[]);
  }
}

/** The form a mapping is shown in: its own when that form shows every field, else JSON. */
export const formShown = (m: Mapping): FormKind => (formFits(m.form, m.manipulators) ? m.form : 'raw');

/** The most specific form for one manipulator. */
export function classifyOne(man: JsonObject): FormKind {
  if (man.type !== 'basic') return 'raw';
  const ms = [man];
  if (readLayer(ms)) return 'layer';
  if (partsFit(man, REMAP_FIELDS)) return 'remap';
  if ((man.to_if_alone !== undefined || man.to_if_held_down !== undefined) && formFits('tapHold', ms)) return 'tapHold';
  if (partsFit(man, ADVANCED_FIELDS)) return 'advanced';
  return 'raw';
}

// ---- tap / hold for letters ---------------------------------------------------------------------

/**
 * Tap / hold that works for letters typed fast (home-row modifiers): the key sends nothing when it
 * goes down. Released before the hold threshold with no other key meanwhile, it types itself;
 * another key going down before the threshold types it at once, ahead of that key (the delayed
 * action's cancel); held past the threshold it is the hold events. `halt` on both ends the others:
 * once held, neither the tap nor the cancel types the letter.
 */
export interface LetterTapHold { tap: JsonObject[]; hold: JsonObject[] }
export const LETTER_THRESHOLD = 200;
const HELD_PARAM = 'basic.to_if_held_down_threshold_milliseconds';
const DELAY_PARAM = 'basic.to_delayed_action_delay_milliseconds';

const halted = (events: JsonObject[]): JsonObject[] => events.map((e, i) => {
  const { halt: _h, ...rest } = e;
  return i === events.length - 1 ? { ...rest, halt: true } : rest as JsonObject;
});
const unhalted = (events: JsonObject[]): JsonObject[] => events.map((e) => { const { halt: _h, ...rest } = e; return rest as JsonObject; });

/** The letter pattern's lists on a manipulator (its other members kept); the delay follows the threshold. */
export function withLetterTapHold(man: JsonObject, p: LetterTapHold): JsonObject {
  let out = withKey(man, 'to', undefined);
  out = withKey(out, 'to_if_alone', p.tap.length ? halted(p.tap) : undefined);
  out = withKey(out, 'to_if_held_down', p.hold.length ? halted(p.hold) : undefined);
  out = withKey(out, 'to_delayed_action', p.tap.length ? { to_if_canceled: unhalted(p.tap) } : undefined);
  return withLetterTiming(out);
}
/** The delayed action must not run out before the hold threshold is reached. */
export function withLetterTiming(man: JsonObject, threshold?: number): JsonObject {
  const params = isObj(man.parameters) ? man.parameters : {};
  const held = threshold ?? (typeof params[HELD_PARAM] === 'number' ? params[HELD_PARAM] as number : LETTER_THRESHOLD);
  return withKey(man, 'parameters', { ...params, [HELD_PARAM]: held, [DELAY_PARAM]: held });
}

export function readLetterTapHold(man: JsonObject): LetterTapHold | undefined {
  if (man.to !== undefined || man.to_after_key_up !== undefined) return undefined;
  const alone = eventsOf(man.to_if_alone);
  const held = eventsOf(man.to_if_held_down);
  const d = man.to_delayed_action;
  if (!alone.length || !held.length || !isObj(d) || Object.keys(d).some((k) => k !== 'to_if_canceled')) return undefined;
  const p: LetterTapHold = { tap: unhalted(alone), hold: unhalted(held) };
  const parts = (m: JsonObject) => [eventsOf(m.to_if_alone), eventsOf(m.to_if_held_down), m.to_delayed_action];
  return deepEqual(parts(withLetterTapHold(man, p)), parts(man)) ? p : undefined;
}

const isCatchAll = (m: JsonObject) => isObj(m.from) && m.from.any === 'key_code' && Array.isArray(m.conditions)
  && isObj(m.conditions[m.conditions.length - 1]) && (m.conditions[m.conditions.length - 1] as JsonObject).type === 'variable_unless';

/** A rule's manipulators as mappings: the patterns Tarvel writes are found again, everything else
 * one manipulator per mapping in the most specific form that shows it. */
export function groupManipulators(ms: JsonObject[]): Mapping[] {
  const out: Mapping[] = [];
  // Where the next catch-all after each position is, found in one pass from the end.
  const nextCatchAll = new Int32Array(ms.length + 1).fill(-1);
  for (let j = ms.length - 1; j >= 0; j--) nextCatchAll[j] = isObj(ms[j]) && isCatchAll(ms[j]) ? j : nextCatchAll[j + 1];
  const add = (form: FormKind, manipulators: JsonObject[]) => out.push({ id: newId(), enabled: true, form, manipulators });
  let i = 0;
  while (i < ms.length) {
    const m = ms[i];
    if (!isObj(m)) {
      add('raw', [m]);
      i++;
      continue;
    }
    const pair = ms.slice(i, i + 2);
    if (pair.length === 2 && isObj(pair[1]) && isObj(pair[1].to_delayed_action) && readDoubleTap(pair)) {
      add('doubleTap', pair);
      i += 2;
      continue;
    }
    if (pair.length === 2 && Array.isArray(m.conditions) && readLayer(pair)) {
      add('layer', pair);
      i += 2;
      continue;
    }
    if (Array.isArray(m.conditions)) {
      // A leader group ends with its catch-all; look a bounded way ahead for one.
      const end = ms.findIndex((x, j) => j > i && isObj(x) && isCatchAll(x));
      if (end > i && end - i < 512) {
        const group = ms.slice(i, end + 1);
        if (readLeader(group)) {
          add('leader', group);
          i = end + 1;
          continue;
        }
      }
    }
    add(classifyOne(m), [m]);
    i++;
  }
  return out;
}

// ---- changing a mapping's form ---------------------------------------------------------------

export interface Conversion { mapping: Mapping; dropped: string[] }

/** The parts of one manipulator a lens form keeps: its fields, fitting events and conditions. */
function sanitize(man: JsonObject, fields: readonly string[], dropped: string[]): JsonObject {
  let out: JsonObject = { type: 'basic' };
  if (man.type !== 'basic' && man.type !== undefined) dropped.push(`type: ${JSON.stringify(man.type)}`);
  for (const [k, v] of Object.entries(man)) {
    if (k === 'type') continue;
    if (!fields.includes(k)) { dropped.push(k); continue; }
    if (k === 'from') {
      if (fromFits(v)) out.from = v;
      else dropped.push('from');
    } else if (k === 'conditions') {
      const list = Array.isArray(v) ? v : [];
      const kept = list.filter((c) => conditionsFit([c]));
      if (kept.length !== list.length) dropped.push(`conditions (${list.length - kept.length})`);
      if (kept.length) out.conditions = kept;
    } else if (k === 'parameters') {
      if (parametersFit(v)) out.parameters = v;
      else dropped.push('parameters');
    } else if (k === 'description') {
      if (isStr(v)) out.description = v;
      else dropped.push('description');
    } else if (k === 'to_delayed_action') {
      if (!isObj(v)) { dropped.push(k); continue; }
      const d: JsonObject = {};
      for (const [l, x] of Object.entries(v)) {
        const evs = eventsOf(x);
        const kept = evs.filter(eventFits);
        if (kept.length !== (Array.isArray(x) ? x.length : 1) || !['to_if_invoked', 'to_if_canceled'].includes(l)) dropped.push(`${k}.${l}`);
        if (kept.length && ['to_if_invoked', 'to_if_canceled'].includes(l)) d[l] = kept;
      }
      if (Object.keys(d).length) out.to_delayed_action = d;
    } else {
      const evs = eventsOf(v);
      const kept = evs.filter(eventFits);
      if (kept.length !== (Array.isArray(v) ? v.length : 1)) dropped.push(`${k} (${(Array.isArray(v) ? v.length : 1) - kept.length})`);
      if (kept.length) out = withKey(out, k, isObj(v) && kept.length === 1 ? kept[0] : kept);
    }
  }
  if (!out.from) out.from = { key_code: '' };
  return out;
}

/** What a pattern mapping is about, in terms any form can take: its trigger, its conditions, and
 * the events that are its point (a layer key's tap, a double tap's second press, a leader's first
 * sequence); and what is lost when only that is kept. */
function patternCore(m: Mapping): { base: PatternBase; events: JsonObject[]; rest: string[] } | undefined {
  const others = m.manipulators.length - 1;
  const more = others > 0 ? [others === 1 ? '1 other manipulator' : `${others} other manipulators`] : [];
  const strip = ({ from, conditions, description, parameters }: PatternBase): PatternBase => ({ from, conditions, description, parameters });
  if (m.form === 'layer') {
    const p = readLayer(m.manipulators);
    return p && { base: strip(p), events: p.tap, rest: [...more, `set_variable ${p.variable}`] };
  }
  if (m.form === 'doubleTap') {
    const p = readDoubleTap(m.manipulators);
    return p && { base: strip(p), events: p.second.length ? p.second : p.first, rest: [...more, 'to_delayed_action'] };
  }
  if (m.form === 'leader') {
    const p = readLeader(m.manipulators);
    return p && { base: strip(p), events: p.sequences[0]?.to ?? [], rest: [...more, ...p.sequences.slice(1).map((x) => `sequence ${x.keys.join(' ')}`)] };
  }
  return undefined;
}

function uniqueVariable(prefix: string, taken: ReadonlySet<string>): string {
  let n = 1;
  while (taken.has(`${prefix}${n}`)) n++;
  return `${prefix}${n}`;
}

/** The same mapping in another form, with what that form cannot hold listed (ask before dropping it). */
export function convertMapping(m: Mapping, form: FormKind, takenVariables: ReadonlySet<string> = new Set()): Conversion {
  if (m.form === form) return { mapping: m, dropped: [] };
  if (form === 'raw' || formFits(form, m.manipulators)) return { mapping: { ...m, form }, dropped: [] };
  const dropped: string[] = [];
  let base: PatternBase;
  let events: JsonObject[];
  const core = patternCore(m);
  if (core) {
    ({ base, events } = core);
    dropped.push(...core.rest);
  } else {
    const main = isObj(m.manipulators[0]) ? m.manipulators[0] : {};
    if (m.manipulators.length > 1) dropped.push(m.manipulators.length === 2 ? '1 other manipulator' : `${m.manipulators.length - 1} other manipulators`);
    const fields = FORM_FIELDS[form];
    if (fields) return { mapping: { ...m, form, manipulators: [sanitize(main, fields, dropped)] }, dropped };
    const kept = sanitize(main, ['from', 'conditions', 'description', 'to', 'to_if_alone', 'parameters'], dropped);
    base = { from: kept.from as JsonObject, conditions: conditionsOf(kept) };
    if (isStr(kept.description)) base.description = kept.description;
    if (isObj(kept.parameters)) base.parameters = kept.parameters;
    const alone = eventsOf(kept.to_if_alone);
    events = alone.length ? alone : eventsOf(kept.to);
  }
  const withBase = (extra: JsonObject): JsonObject => {
    const man: JsonObject = { type: 'basic', from: base.from };
    if (base.conditions.length) man.conditions = base.conditions;
    Object.assign(man, extra);
    if (base.parameters && Object.keys(base.parameters).length) man.parameters = base.parameters;
    if (base.description !== undefined) man.description = base.description;
    return man;
  };
  let ms: JsonObject[];
  if (form === 'layer') {
    ms = buildLayer({ ...base, mode: 'hold', variable: uniqueVariable(`${LAYER_PREFIX}layer`, takenVariables), on: 1, off: 0, tap: events });
  } else if (form === 'doubleTap') {
    ms = buildDoubleTap({ ...base, variable: uniqueVariable('tarvel_double_tap_', takenVariables), first: [], second: events });
  } else if (form === 'leader') {
    ms = buildLeader({ ...base, variable: uniqueVariable('tarvel_leader_', takenVariables), sequences: [{ keys: [''], to: events }] });
  } else {
    ms = [withBase(events.length ? { to: events } : {})];
  }
  return { mapping: { ...m, form, manipulators: ms }, dropped };
}

/** The variable names the manipulators use, so that new patterns pick fresh ones. */
export function variableNames(ms: Iterable<JsonObject>): Set<string> {
  const names = new Set<string>();
  for (const m of ms) {
    for (const c of conditionsOf(m)) if (isStr(c.name)) names.add(c.name);
    for (const list of ['to', 'to_after_key_up', 'to_if_held_down', 'to_if_alone']) {
      for (const e of eventsOf(m[list])) { const s = setOf(e); if (s) names.add(s.name as string); }
    }
  }
  return names;
}
