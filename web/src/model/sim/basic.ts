// A basic manipulator as the engine runs it: which key presses it takes (keys, modifiers,
// conditions, keys pressed together within the threshold), what it posts when the key goes down and
// up, tapped alone, held past the threshold, after a delay, or when another key is pressed. Our
// own code, following the engine's order of effects step by step: the order of what is posted is
// what a user sees.
import { isObj, type Json, type JsonObject } from '../json';
import type { KeyField } from '../vocabulary';
import { Debounced, type Dispatcher } from './dispatch';
import { allMet, makeCondition, type Condition, type ConditionContext } from './env';
import { readFrom, readParameters, readTo, readToList, Refused, type FromDef, type KeyDef, type Parameters, type ToDef } from './defs';
import { fieldOf, flagKey, flagOf, isCapsLock, isValidKey, modifierFlags, type Flag } from './keys';
import { MS, sameEv, type ActiveFlag, type Entry, type Ev, type EventType, type Origin, type Queue, type Ticks } from './queue';

export type Result = 'passed' | 'manipulated' | 'wait';

/** What every stage's manipulators have in common. */
export interface Manipulator {
  valid: boolean;
  alreadyManipulated(front: Entry): boolean;
  manipulate(front: Entry, input: Queue, output: Queue, now: Ticks): Result;
  active(): boolean;
  /** The keys it can take, when nothing else makes it look at other keys; undefined: it looks at every event. */
  triggers?(): { keys: string[]; any: string[] } | undefined;
  onReleased(front: Entry, output: Queue): void;
  onUngrabbed(device: number, output: Queue, time: Ticks): void;
  onEventTap(front: Entry, output: Queue): void;
}

/** Why a manipulator on a key did not take a press of it. */
export interface Trace {
  stage: number; index: number;
  result: 'took' | 'taken' | 'modifiers' | 'condition' | 'keys' | 'integer';
  condition?: Json;
}
/** What a manipulator needs from the engine around it. */
export interface Host { dispatcher: Dispatcher; notify(): void; trace?: (t: Trace) => void }

// ---- what a press left behind ----------------------------------------------------------------

interface FromEvent { device: number; ev: Ev; original: Ev }
const sameFrom = (a: FromEvent, b: FromEvent) => a.device === b.device && sameEv(a.ev, b.ev) && sameEv(a.original, b.original);
const fromEventOf = (e: Entry): FromEvent => ({ device: e.device, ev: e.ev, original: e.original });

interface Deferred { device: number; ev: Ev; type: EventType; original: Ev; lazy: boolean; origin?: Origin }

/** One press a manipulator took, until its keys are up. */
export class Press {
  alone = true;
  halted = false;
  keyUpPosted = false;
  upPostedMandatory = new Set<Flag>();
  atKeyUp: Deferred[] = [];
  constructor(public fromEvents: FromEvent[], public mandatory: Set<Flag>, public keyDownTime: Ticks, public keyDownFlags: Set<Flag>) {}
  has(fe: FromEvent): boolean { return this.fromEvents.some((x) => sameFrom(x, fe)); }
  erase(fe: FromEvent): void { this.fromEvents = this.fromEvents.filter((x) => !sameFrom(x, fe)); }
}

// ---- posting ---------------------------------------------------------------------------------

/** The time of what one event makes the engine send: one tick apart, in order. */
interface Clock { base: Entry; delay: { v: Ticks } }
const at = (c: Clock): Ticks => c.base.time + c.delay.v++;

function post(q: Queue, c: Clock, device: number, ev: Ev, type: EventType, lazy: boolean, origin: Origin | undefined, time = at(c)): void {
  q.push({ device, time, inputDelay: c.base.inputDelay, valid: true, state: 'manipulated', lazy, ev, type, original: c.base.original, origin });
}

/** A modifier key pressed or released on the side; caps lock goes as its lock state. */
function postModifier(q: Queue, c: Clock, device: number, key: string, type: EventType, origin: Origin | undefined, lazy = true): void {
  if (!isValidKey(key)) return;
  if (isCapsLock(key)) post(q, c, device, { t: 'sticky_modifier', flag: 'caps_lock', value: type === 'down' ? 'on' : 'off' }, 'single', lazy, origin);
  else post(q, c, device, { t: 'key', key }, type, lazy, origin);
}

function postMandatoryUp(p: Press, q: Queue, c: Clock, device: number, origin: Origin | undefined): void {
  for (const m of p.mandatory) {
    if (p.upPostedMandatory.has(m) || !q.flags.pressed(m)) continue;
    p.upPostedMandatory.add(m);
    postModifier(q, c, device, flagKey(m), 'up', origin);
  }
}
function postMandatoryDown(p: Press, q: Queue, c: Clock, device: number, origin: Origin | undefined): void {
  for (const m of p.mandatory) {
    if (!p.upPostedMandatory.has(m)) continue;
    p.upPostedMandatory.delete(m);
    postModifier(q, c, device, flagKey(m), 'down', origin);
  }
}

const isModifierEvent = (ev: Ev | undefined): boolean =>
  !!ev && ((ev.t === 'key' && (!!flagOf(ev.key) || isCapsLock(ev.key))) || (ev.t === 'mouse_key' && ev.value.x === 0 && ev.value.y === 0 && ev.value.v === 0 && ev.value.h === 0));
/** Whether the last event of a list is a modifier key (it then stays down, and the from modifiers with it). */
const lastIsModifier = (to: ToDef[]): boolean => {
  const last = to[to.length - 1];
  return !!last?.ev && last.ev.t === 'key' && !!flagOf(last.ev.key);
};

type Tagged = { def: ToDef; ev: Ev; origin: Origin };

/** The events of a list that are sent now: their conditions met; `from_event` replaced by the keys pressed. */
function filterTo(list: ToDef[], origin: (i: number) => Origin, p: Press, ctx: ConditionContext, q: Queue): Tagged[] {
  const out: Tagged[] = [];
  list.forEach((def, i) => {
    if (!allMet(def.conditions, ctx, q.env)) return;
    if (def.ev) { out.push({ def, ev: def.ev, origin: origin(i) }); return; }
    for (const fe of p.fromEvents) if (fe.ev.t === 'key') out.push({ def, ev: fe.ev, origin: origin(i) });
  });
  return out;
}

/** A list sent when the key goes down: a key that repeats and the modifiers of a modifier key stay down until the key is up. */
function postAtKeyDown(list: ToDef[], origin: (i: number) => Origin, p: Press, ctx: ConditionContext, device: number, c: Clock, q: Queue): void {
  if (p.halted) return;
  const events = filterTo(list, origin, p, ctx, q);
  events.forEach(({ def, ev, origin: o }, i) => {
    const last = i === events.length - 1;
    const modifierKey = isModifierEvent(ev);
    // Modifiers of a plain key go with it, lazily; those of a modifier key keep the keys' order.
    const lazy = !modifierKey || def.lazy;
    for (const f of def.modifiers) postModifier(q, c, device, flagKey(f), 'down', o, lazy);
    post(q, c, device, ev, 'down', def.lazy, o);
    if (def.halt) p.halted = true;
    if (!last || !def.repeat) {
      c.delay.v += def.holdDown * MS;
      post(q, c, device, ev, 'up', def.lazy, o);
    } else {
      p.atKeyUp.push({ device, ev, type: 'up', original: c.base.original, lazy: def.lazy, origin: o });
    }
    for (const f of def.modifiers) {
      if (last && modifierKey) {
        const key = flagKey(f);
        if (isCapsLock(key)) p.atKeyUp.push({ device, ev: { t: 'sticky_modifier', flag: 'caps_lock', value: 'off' }, type: 'single', original: c.base.original, lazy: true, origin: o });
        else p.atKeyUp.push({ device, ev: { t: 'key', key }, type: 'up', original: c.base.original, lazy: true, origin: o });
      } else {
        postModifier(q, c, device, flagKey(f), 'up', o);
      }
    }
  });
}

function postAtKeyUp(p: Press, c: Clock, q: Queue): void {
  for (const d of p.atKeyUp) {
    q.push({ device: d.device, time: at(c), inputDelay: c.base.inputDelay, valid: true, state: 'manipulated', lazy: d.lazy, ev: d.ev, type: d.type, original: d.original, origin: d.origin });
  }
  p.atKeyUp = [];
}

/** A list sent as taps: each event down and up at once, with its modifiers. */
function postTaps(list: ToDef[], origin: (i: number) => Origin, p: Press, ctx: ConditionContext, device: number, c: Clock, q: Queue): void {
  if (p.halted) return;
  for (const { def, ev, origin: o } of filterTo(list, origin, p, ctx, q)) {
    for (const f of def.modifiers) postModifier(q, c, device, flagKey(f), 'down', o);
    post(q, c, device, ev, 'down', def.lazy, o);
    if (def.halt) p.halted = true;
    c.delay.v += def.holdDown * MS;
    post(q, c, device, ev, 'up', def.lazy, o);
    for (const f of def.modifiers) postModifier(q, c, device, flagKey(f), 'up', o);
  }
}

function postFlagChanges(changes: ActiveFlag[], c: Clock, q: Queue, origin: Origin | undefined): void {
  for (const f of changes) postModifier(q, c, f.device, flagKey(f.flag), f.type.startsWith('inc') ? 'down' : 'up', origin);
}

/** Sends `body` with exactly the modifiers that were down when the key was pressed, then puts them back. */
function withKeyDownFlags(p: Press, c: Clock, q: Queue, origin: Origin | undefined, body: () => void): void {
  const { changes, inverse } = q.flags.scoped(p.keyDownFlags);
  postFlagChanges(changes, c, q, origin);
  body();
  postFlagChanges(inverse, c, q, origin);
}

// ---- matching ----------------------------------------------------------------------------------

const ANY_PAGES: Record<string, KeyField> = {
  key_code: 'key_code', consumer_key_code: 'consumer_key_code', apple_vendor_keyboard_key_code: 'apple_vendor_keyboard_key_code',
  apple_vendor_top_case_key_code: 'apple_vendor_top_case_key_code', pointing_button: 'pointing_button',
};
export function keyMatches(ev: Ev, d: KeyDef): boolean {
  if (ev.t !== 'key') return false;
  if ('key' in d) return ev.key === d.key;
  // `any` takes every real key of its page; key_code's page holds no consumer or Apple keys.
  return isValidKey(ev.key) && ANY_PAGES[fieldOf(ev.key)] === d.any && !ev.key.endsWith(':#0');
}
export const fromMatches = (ev: Ev, from: FromDef): boolean => from.keys.some((d) => keyMatches(ev, d));

function keyOrderOk(events: Ev[], order: FromDef['keyDownOrder'], defs: KeyDef[]): boolean {
  if (order === 'insensitive') return true;
  for (let i = 0; i < events.length && i < defs.length; i++) {
    const d = order === 'strict' ? defs[i] : defs[defs.length - 1 - i];
    if (!keyMatches(events[i], d)) return false;
  }
  return true;
}

const ALL_FLAGS: Flag[] = ['caps_lock', 'left_control', 'left_shift', 'left_option', 'left_command', 'right_control', 'right_shift', 'right_option', 'right_command', 'fn'];
/** A `from.modifiers` made ready to test: the flags each mandatory name stands for, and those not allowed. */
interface ModifierTest { any: boolean; mandatory: Flag[][]; forbidden: Flag[] }
const modifierTests = new WeakMap<FromDef, ModifierTest>();
function modifierTest(from: FromDef): ModifierTest {
  let hit = modifierTests.get(from);
  if (!hit) {
    const allowed = new Set<Flag>();
    for (const m of [...from.mandatory, ...from.optional]) for (const f of modifierFlags(m) ?? []) allowed.add(f);
    hit = {
      any: from.mandatory.includes('any'),
      mandatory: from.mandatory.filter((m) => m !== 'any').map((m) => modifierFlags(m) ?? []),
      forbidden: from.optional.includes('any') ? [] : ALL_FLAGS.filter((f) => !allowed.has(f)),
    };
    modifierTests.set(from, hit);
  }
  return hit;
}

/**
 * The modifiers a press needs, if the modifiers down now fit `from.modifiers`: for each mandatory
 * name the first of its flags that is down; `any` mandatory takes every flag down.
 */
export function testModifiers(from: FromDef, pressed: (f: Flag) => boolean): Set<Flag> | undefined {
  const test = modifierTest(from);
  if (test.any) return new Set(ALL_FLAGS.filter(pressed));
  const hits: Flag[] = [];
  for (const flags of test.mandatory) {
    const hit = flags.find(pressed);
    if (!hit) return undefined;
    hits.push(hit);
  }
  for (const f of test.forbidden) if (pressed(f)) return undefined;
  return new Set(hits);
}

// ---- the manipulator ---------------------------------------------------------------------------

export interface BasicSource { stage: number; index: number }

/** A basic manipulator read once: the same object always reads the same way. */
interface Parsed {
  from: FromDef; to: ToDef[]; toAfterKeyUp: ToDef[]; toIfAlone: ToDef[];
  held?: ToDef[]; delayed?: { invoked: ToDef[]; canceled: ToDef[] }; other?: OtherEntry[];
  conditions: Condition[]; conditionJson: Json[];
  keys: { keys: string[]; any: string[] };
}
interface OtherEntry { keys: FromDef[]; to: ToDef[] }
const MEMBERS = new Set(['from', 'to', 'to_after_key_up', 'to_if_alone', 'to_if_held_down', 'to_if_other_key_pressed', 'to_delayed_action', 'description', 'conditions', 'parameters', 'type']);
const parsedCache = new WeakMap<JsonObject, Parsed | Refused>();

function parse(json: JsonObject): Parsed {
  for (const k of Object.keys(json)) if (!MEMBERS.has(k)) throw new Refused(`unknown key ${k} in the manipulator`);
  if (json.from === undefined) throw new Refused('from is missing');
  const p: Parsed = {
    from: readFrom(json.from),
    to: readToList(json.to, 'to'),
    toAfterKeyUp: readToList(json.to_after_key_up, 'to_after_key_up'),
    toIfAlone: readToList(json.to_if_alone, 'to_if_alone'),
    conditions: [],
    conditionJson: [],
    keys: { keys: [], any: [] },
  };
  for (const d of p.from.keys) if ('key' in d) p.keys.keys.push(d.key); else p.keys.any.push(d.any);
  if (json.to_if_held_down !== undefined) p.held = readToList(json.to_if_held_down, 'to_if_held_down');
  if (json.to_delayed_action !== undefined) {
    const d = json.to_delayed_action;
    if (!isObj(d)) throw new Refused('to_delayed_action must be an object');
    for (const k of Object.keys(d)) if (k !== 'to_if_invoked' && k !== 'to_if_canceled') throw new Refused(`unknown key ${k} in to_delayed_action`);
    p.delayed = { invoked: readToList(d.to_if_invoked, 'to_if_invoked'), canceled: readToList(d.to_if_canceled, 'to_if_canceled') };
  }
  if (json.to_if_other_key_pressed !== undefined) {
    const list = json.to_if_other_key_pressed;
    if (!Array.isArray(list)) throw new Refused('to_if_other_key_pressed must be a list');
    p.other = list.map((e) => {
      if (!isObj(e)) throw new Refused('each to_if_other_key_pressed entry must be an object');
      const entry: OtherEntry = { keys: [], to: [] };
      for (const [k, v] of Object.entries(e)) {
        if (k === 'other_keys') {
          if (!Array.isArray(v)) throw new Refused('other_keys must be a list');
          entry.keys = v.map((x) => readFrom(x));
        } else if (k === 'to') {
          if (!Array.isArray(v)) throw new Refused('to_if_other_key_pressed.to must be a list');
          entry.to = v.map(readTo);
        } else throw new Refused(`unknown key ${k} in to_if_other_key_pressed`);
      }
      return entry;
    });
  }
  if (json.conditions !== undefined) {
    if (!Array.isArray(json.conditions)) throw new Refused('conditions must be a list');
    p.conditionJson = json.conditions;
    p.conditions = json.conditions.map((c) => {
      const made = makeCondition(c);
      if (!made) throw new Refused(`condition ${JSON.stringify(c)} cannot be read`);
      return made;
    });
  }
  return p;
}
export function parseBasic(json: JsonObject): Readonly<Parsed> {
  let hit = parsedCache.get(json);
  if (!hit) {
    try { hit = parse(json); } catch (e) { if (!(e instanceof Refused)) throw e; hit = e; }
    parsedCache.set(json, hit);
  }
  if (hit instanceof Refused) throw hit;
  return hit;
}

export class Basic implements Manipulator {
  valid = true;
  presses: Press[] = [];
  readonly from: FromDef;
  readonly to: ToDef[];
  readonly toAfterKeyUp: ToDef[];
  readonly toIfAlone: ToDef[];
  readonly held?: HeldDown;
  readonly other?: OtherKey;
  readonly delayed?: Delayed;
  readonly conditions: Condition[];
  readonly conditionJson: Json[];
  readonly params: Parameters;
  private readonly keys: { keys: string[]; any: string[] };

  constructor(json: JsonObject, profileParameters: Parameters | undefined, readonly host: Host, readonly src: BasicSource) {
    const p = parseBasic(json);
    this.from = p.from;
    this.to = p.to;
    this.toAfterKeyUp = p.toAfterKeyUp;
    this.toIfAlone = p.toIfAlone;
    if (p.held) this.held = new HeldDown(p.held, this);
    if (p.other) this.other = new OtherKey(p.other, this);
    if (p.delayed) this.delayed = new Delayed(p.delayed.invoked, p.delayed.canceled, this);
    this.conditions = p.conditions;
    this.conditionJson = p.conditionJson;
    this.keys = p.keys;
    this.params = readParameters(json.parameters, profileParameters);
  }

  origin(list: string): (i: number) => Origin {
    return (i) => ({ stage: this.src.stage, index: this.src.index, list: `${list}.${i}` });
  }

  alreadyManipulated(front: Entry): boolean {
    if (front.type !== 'down' || !this.presses.length) return false;
    const fe = fromEventOf(front);
    return this.presses.some((p) => p.has(fe));
  }

  active(): boolean { return this.presses.length > 0; }
  triggers(): { keys: string[]; any: string[] } | undefined {
    // Delays are canceled, and other keys watched, on any key.
    return this.held || this.delayed || this.other ? undefined : this.keys;
  }
  onReleased(): void { /* nothing to do */ }
  onUngrabbed(device: number): void {
    for (const p of this.presses) p.fromEvents = p.fromEvents.filter((f) => f.device !== device);
    this.presses = this.presses.filter((p) => p.fromEvents.length > 0);
  }
  onEventTap(front: Entry): void { this.unsetAlone(front.original, front.type); }

  private unsetAlone(ev: Ev, type: EventType): void {
    if ((ev.t === 'key' && type === 'down') || (ev.t === 'motion' && (ev.v !== 0 || ev.h !== 0))) for (const p of this.presses) p.alone = false;
  }

  private allFound(fromEvents: FromEvent[]): boolean {
    return this.from.keys.every((d) => fromEvents.some((e) => keyMatches(e.ev, d)));
  }

  manipulate(front: Entry, input: Queue, output: Queue, now: Ticks): Result {
    this.unsetAlone(front.ev, front.type);
    this.held?.cancel(front);
    this.delayed?.cancel(front);
    const from = this.from;
    const trace = this.host.trace;
    if (!front.valid) {
      if (trace && front.type === 'down' && fromMatches(front.ev, from)) trace({ stage: this.src.stage, index: this.src.index, result: 'taken' });
      return 'passed';
    }
    this.other?.otherKeyPressed(front);
    if (!fromMatches(front.ev, from)) return 'passed';
    let press: Press | undefined;
    if (front.type === 'down') {
      let target = this.valid;
      let mandatory: Set<Flag> | undefined;
      let why: Trace['result'] = 'keys';
      let failed: Json | undefined;
      if (target) {
        mandatory = testModifiers(from, (f) => output.flags.pressed(f));
        if (!mandatory) { target = false; why = 'modifiers'; }
      }
      if (target && from.integerValue !== undefined && front.integer !== from.integerValue) { target = false; why = 'integer'; }
      if (target && this.conditions.length && !allMet(this.conditions, { device: front.device, state: front.state }, output.env)) {
        target = false;
        why = 'condition';
        if (trace) {
          const i = this.conditions.findIndex((c) => !c({ device: front.device, state: front.state }, output.env));
          failed = this.conditionJson[i];
        }
      }

      // The keys of the press: all of `from`'s keys down within the threshold, nothing else between.
      const fromEvents: FromEvent[] = [];
      const downs: Ev[] = [];
      const ups: Ev[] = [];
      const threshold = this.params.simultaneous * MS;
      const end = front.time + threshold;
      for (const e of input.entries) {
        if (!target) break;
        if (!e.valid) continue;
        if (end < e.time) break;
        const x = fromEventOf(e);
        if (e.type === 'down') {
          if (fromMatches(e.ev, from)) {
            // The same key from another device counts once.
            if (!fromEvents.some((y) => sameEv(y.ev, x.ev))) { fromEvents.push(x); downs.push(e.ev); }
          } else if (!from.detectUninterruptedly && !this.allFound(fromEvents)) {
            target = false;
          }
        } else if (e.type === 'up') {
          if (fromEvents.some((y) => sameFrom(y, x))) {
            // A key of the press released before all of them are down: not a press of these keys.
            if (!this.allFound(fromEvents)) target = false;
            if (target && !ups.some((u) => sameEv(u, e.ev))) ups.push(e.ev);
          }
        }
      }
      if (target && !fromEvents.length) target = false;
      if (target && !keyOrderOk(downs, from.keyDownOrder, from.keys)) target = false;
      let waitKeyUp = false;
      if (target && from.keyUpOrder !== 'insensitive') {
        if (!keyOrderOk(ups, from.keyUpOrder, from.keys)) target = false;
        else if (ups.length < from.keys.length - 1) waitKeyUp = true;
      }
      if (target) {
        const found = this.allFound(fromEvents);
        if (waitKeyUp || !found) {
          front.inputDelay = Math.max(front.inputDelay, threshold);
          if (now < front.time + front.inputDelay) {
            // Waiting for the other keys: a key repeating meanwhile is stopped.
            output.push({ device: front.device, time: front.time, inputDelay: front.inputDelay, valid: true, state: 'virtual', lazy: true, ev: { t: 'stop_keyboard_repeat' }, type: 'single', original: front.original });
            return 'wait';
          }
          if (!found) target = false;
        }
      }
      if (target && mandatory) {
        press = new Press(fromEvents, mandatory, front.time, output.flags.down());
        this.presses.push(press);
      }
      if (trace && this.valid) trace({ stage: this.src.stage, index: this.src.index, result: press ? 'took' : why, ...(failed !== undefined ? { condition: failed } : {}) });
    } else if (front.type === 'up' && this.presses.length) {
      const fe = fromEventOf(front);
      const i = this.presses.findIndex((p) => p.has(fe));
      if (i >= 0) {
        press = this.presses[i];
        press.erase(fe);
        if (!press.fromEvents.length) this.presses.splice(i, 1);
        trace?.({ stage: this.src.stage, index: this.src.index, result: 'took' });
      }
    }
    if (!press) return 'passed';

    front.valid = false;
    const c: Clock = { base: front, delay: { v: 0 } };
    const ctx: ConditionContext = { device: front.device, state: front.state };
    const dev = front.device;
    const o = (list: string) => ({ stage: this.src.stage, index: this.src.index, list });
    if (front.type === 'down') {
      postMandatoryUp(press, output, c, dev, o('from.modifiers'));
      postAtKeyDown(this.to, this.origin('to'), press, ctx, dev, c, output);
      if (!lastIsModifier(this.to)) postMandatoryDown(press, output, c, dev, o('from.modifiers'));
    } else if (front.type === 'up') {
      const skip = from.keyUpWhen === 'all' && press.fromEvents.length > 0;
      if (!skip && !press.keyUpPosted) {
        press.keyUpPosted = true;
        postAtKeyUp(press, c, output);
        postMandatoryDown(press, output, c, dev, o('from.modifiers'));
        if (this.toIfAlone.length) {
          const duration = front.time - press.keyDownTime;
          if (press.alone && duration < this.params.alone * MS) {
            const p = press;
            withKeyDownFlags(p, c, output, o('to_if_alone'), () => {
              postMandatoryUp(p, output, c, dev, o('from.modifiers'));
              postTaps(this.toIfAlone, this.origin('to_if_alone'), p, ctx, dev, c, output);
              postMandatoryDown(p, output, c, dev, o('from.modifiers'));
            });
          }
        }
        if (this.toAfterKeyUp.length) {
          postMandatoryUp(press, output, c, dev, o('from.modifiers'));
          postTaps(this.toAfterKeyUp, this.origin('to_after_key_up'), press, ctx, dev, c, output);
          postMandatoryDown(press, output, c, dev, o('from.modifiers'));
        }
      }
      if (from.toAfterKeyUp.length && !press.fromEvents.length) {
        postMandatoryUp(press, output, c, dev, o('from.modifiers'));
        postTaps(from.toAfterKeyUp, this.origin('simultaneous_options.to_after_key_up'), press, ctx, dev, c, output);
        postMandatoryDown(press, output, c, dev, o('from.modifiers'));
      }
    }
    this.held?.setup(front, press, output, this.params.heldDown * MS);
    if (this.other) {
      if (front.type === 'down') this.other.setup(front, press, output);
      else if (front.type === 'up') this.other.fromKeyUp(front);
    }
    this.delayed?.setup(front, press, output, this.params.delayed * MS);
    if (c.delay.v > 0) output.delay += c.delay.v - 1;
    return 'manipulated';
  }
}

// ---- held down, delayed action, other key pressed --------------------------------------------

class HeldDown {
  private readonly task: Debounced;
  private front?: Entry;
  private press?: Press;
  private queue?: Queue;
  constructor(readonly to: ToDef[], readonly owner: Basic) { this.task = new Debounced(owner.host.dispatcher); }
  cancel(front: Entry): void { if (front.type === 'down') this.task.cancel(); }
  setup(front: Entry, press: Press, q: Queue, threshold: Ticks): void {
    this.task.cancel();
    if (front.type !== 'down' || !this.to.length) return;
    this.front = { ...front };
    this.press = press;
    this.queue = q;
    this.task.after(() => {
      const f = this.front;
      const p = this.press;
      const out = this.queue;
      // Only while the key is still down (the engine holds the press weakly).
      if (!f || !p || !out || !this.owner.presses.includes(p)) return;
      const c: Clock = { base: f, delay: { v: 0 } };
      const o = (list: string) => ({ stage: this.owner.src.stage, index: this.owner.src.index, list });
      postAtKeyUp(p, c, out);
      postMandatoryDown(p, out, c, f.device, o('from.modifiers'));
      postMandatoryUp(p, out, c, f.device, o('from.modifiers'));
      postAtKeyDown(this.to, this.owner.origin('to_if_held_down'), p, { device: f.device, state: f.state }, f.device, c, out);
      if (!lastIsModifier(this.to)) postMandatoryDown(p, out, c, f.device, o('from.modifiers'));
      this.owner.host.notify();
    }, threshold);
  }
}

class Delayed {
  private readonly task: Debounced;
  private front?: Entry;
  private press?: Press;
  private queue?: Queue;
  constructor(readonly invoked: ToDef[], readonly canceled: ToDef[], readonly owner: Basic) {
    this.task = new Debounced(owner.host.dispatcher);
  }
  setup(front: Entry, press: Press, q: Queue, delay: Ticks): void {
    if (front.type !== 'down' || (!this.invoked.length && !this.canceled.length)) return;
    this.front = { ...front };
    this.press = press;
    this.queue = q;
    this.task.after(() => this.post(this.invoked, 'to_delayed_action.to_if_invoked'), delay);
  }
  cancel(front: Entry): void {
    if (front.type !== 'down') return;
    this.task.cancel();
    this.post(this.canceled, 'to_delayed_action.to_if_canceled');
  }
  private post(list: ToDef[], name: string): void {
    const f = this.front;
    const p = this.press;
    const out = this.queue;
    if (f && p && out) {
      const c: Clock = { base: f, delay: { v: 0 } };
      const o = { stage: this.owner.src.stage, index: this.owner.src.index, list: 'from.modifiers' };
      withKeyDownFlags(p, c, out, o, () => {
        for (const m of p.mandatory) postModifier(out, c, f.device, flagKey(m), 'up', o);
        postTaps(list, this.owner.origin(name), p, { device: f.device, state: f.state }, f.device, c, out);
        for (const m of p.mandatory) postModifier(out, c, f.device, flagKey(m), 'down', o);
      });
      this.owner.host.notify();
    }
    this.press = undefined;
  }
}

class OtherKey {
  private fromPress?: Press;
  private device?: number;
  private queue?: Queue;
  private otherPress?: Press;
  constructor(readonly entries: OtherEntry[], readonly owner: Basic) {}
  setup(front: Entry, press: Press, q: Queue): void {
    if (front.type !== 'down') return;
    this.reset();
    this.fromPress = press;
    this.device = front.device;
    this.queue = q;
  }
  fromKeyUp(front: Entry): void {
    const out = this.queue;
    if (this.otherPress && out && this.device !== undefined) {
      const c: Clock = { base: front, delay: { v: 0 } };
      postAtKeyUp(this.otherPress, c, out);
      postMandatoryDown(this.otherPress, out, c, this.device, undefined);
    }
    this.reset();
  }
  otherKeyPressed(front: Entry): void {
    if (front.type !== 'down' || this.otherPress) return;
    const out = this.queue;
    if (!out) return;
    for (let n = 0; n < this.entries.length; n++) {
      const entry = this.entries[n];
      const def = entry.keys.find((k) => fromMatches(front.ev, k));
      if (!def) continue;
      const mandatory = testModifiers(def, (f) => out.flags.pressed(f));
      if (!mandatory) continue;
      this.otherPress = new Press([fromEventOf(front)], mandatory, front.time, out.flags.down());
      const fp = this.fromPress;
      if (fp && this.owner.presses.includes(fp) && this.device !== undefined) {
        const c: Clock = { base: front, delay: { v: 0 } };
        const dev = this.device;
        postAtKeyUp(fp, c, out);
        postMandatoryDown(fp, out, c, dev, undefined);
        postMandatoryUp(this.otherPress, out, c, dev, undefined);
        postAtKeyDown(entry.to, this.owner.origin(`to_if_other_key_pressed.${n}.to`), this.otherPress, { device: dev, state: front.state }, dev, c, out);
        if (!lastIsModifier(entry.to)) postMandatoryDown(this.otherPress, out, c, dev, undefined);
      }
      break;
    }
  }
  private reset(): void { this.fromPress = undefined; this.device = undefined; this.queue = undefined; this.otherPress = undefined; }
}

export { Refused };
export type { Flag };
