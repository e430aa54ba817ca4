// The engine's pipeline: events from the keyboard go through the stages in the engine's order
// (device keys, simple modifications, complex modifications, function keys) and out to the virtual
// devices. Each stage is a list of manipulators between two queues; the first manipulator that
// takes an event changes it, the others still see it go by.
import { isObj, isStr, type Json, type JsonObject } from '../json';
import { Basic, parseBasic, Refused, type Host, type Manipulator, type Result, type Trace } from './basic';
import { readParameters, type Parameters } from './defs';
import { Dispatcher } from './dispatch';
import { Env, makeCondition, type DeviceProps } from './env';
import { Output, type OutputOptions } from './output';
import { fieldOf } from './keys';
import { MS, Queue, type Entry, type Ticks } from './queue';

export const STAGES = ['device_keys', 'simple_modifications', 'complex_modifications', 'fn_function_keys'] as const;
export type StageName = typeof STAGES[number];
export const COMPLEX = 2;

/** A manipulator the engine would not load, and why. */
export interface Dropped { stage: number; index: number; why: string }

class MouseBasic implements Manipulator {
  valid = true;
  private readonly flip: Set<string>;
  private readonly swap: Set<string>;
  private readonly discard: Set<string>;
  constructor(json: JsonObject, readonly conditions: ((ctx: { device: number; state: Entry['state'] }, env: Env) => boolean)[]) {
    const list = (k: string) => new Set(Array.isArray(json[k]) ? (json[k] as Json[]).filter(isStr) : []);
    this.flip = list('flip');
    this.swap = list('swap');
    this.discard = list('discard');
  }
  alreadyManipulated(): boolean { return false; }
  active(): boolean { return false; }
  onReleased(): void { /* nothing */ }
  onUngrabbed(): void { /* nothing */ }
  onEventTap(): void { /* nothing */ }
  manipulate(front: Entry, _in: Queue, out: Queue): Result {
    if (!front.valid || !this.valid || front.ev.t !== 'motion') return 'passed';
    if (!this.conditions.every((c) => c({ device: front.device, state: front.state }, out.env))) return 'passed';
    if (!this.flip.size && !this.swap.size && !this.discard.size) return 'passed';
    front.valid = false;
    let { x, y, v, h } = front.ev;
    if (this.swap.has('xy')) [x, y] = [y, x];
    if (this.swap.has('wheels')) [v, h] = [h, v];
    if (this.flip.has('x')) x = -x;
    if (this.flip.has('y')) y = -y;
    if (this.flip.has('vertical_wheel')) v = -v;
    if (this.flip.has('horizontal_wheel')) h = -h;
    if (this.discard.has('x')) x = 0;
    if (this.discard.has('y')) y = 0;
    if (this.discard.has('vertical_wheel')) v = 0;
    if (this.discard.has('horizontal_wheel')) h = 0;
    out.push({ ...front, valid: true, state: 'manipulated', ev: { t: 'motion', x, y, v, h } });
    return 'manipulated';
  }
}

/** A manipulator the simulation does not run (mouse motion to scroll): it lets everything by. */
class Inert implements Manipulator {
  valid = true;
  triggers() { return { keys: [], any: [] }; }
  alreadyManipulated(): boolean { return false; }
  active(): boolean { return false; }
  manipulate(): Result { return 'passed'; }
  onReleased(): void { /* nothing */ }
  onUngrabbed(): void { /* nothing */ }
  onEventTap(): void { /* nothing */ }
}

const HANDLED = new Set(['key', 'motion', 'shell_command', 'send_user_command', 'select_input_source', 'notification', 'mouse_key', 'sticky_modifier', 'software_function', 'stop_keyboard_repeat', 'caps_lock_state']);

type Triggers = { keys: string[]; any: string[] } | undefined;
interface Index { byKey: Map<string, number[]>; byAny: Map<string, number[]>; always: number[] }
/** Indices are the same for the same stage made again: kept with the stage's list. */
const indexCache = new WeakMap<StageSpec, Index>();

export class Manager {
  private items: (Manipulator | undefined)[] = [];
  /** Manipulators are made when an event first concerns them: most never are. */
  private makers: ((() => Manipulator) | undefined)[] = [];
  private triggerList: Triggers[] = [];
  /** Which manipulators a key can concern: those on the key, those on any key of its page, and those
   * that always look (delays to cancel, other-key watches); plus those holding a press. */
  private index?: Index;
  private active = new Set<number>();
  constructor(private readonly spec?: StageSpec) {}

  get size(): number { return this.items.length; }
  get list(): Manipulator[] { return this.items.filter((m): m is Manipulator => !!m); }
  push(m: Manipulator): void { this.items.push(m); this.makers.push(undefined); this.triggerList.push(m.triggers?.()); this.index = undefined; }
  pushLazy(make: () => Manipulator, triggers: Triggers): void {
    this.items.push(undefined);
    this.makers.push(make);
    this.triggerList.push(triggers);
    this.index = undefined;
  }
  private at(i: number): Manipulator {
    let m = this.items[i];
    if (!m) this.items[i] = m = (this.makers[i] as () => Manipulator)();
    return m;
  }

  private candidates(front: Entry): Iterable<number> {
    if (!this.index) {
      const cached = this.spec && indexCache.get(this.spec);
      if (cached && this.spec && this.triggerList.length === this.spec.length) this.index = cached;
      else {
        const byKey = new Map<string, number[]>();
        const byAny = new Map<string, number[]>();
        const always: number[] = [];
        this.triggerList.forEach((t, i) => {
          if (!t) { always.push(i); return; }
          for (const k of t.keys) { const l = byKey.get(k); if (l) l.push(i); else byKey.set(k, [i]); }
          for (const a of t.any) { const l = byAny.get(a); if (l) l.push(i); else byAny.set(a, [i]); }
        });
        this.index = { byKey, byAny, always };
        if (this.spec && this.triggerList.length === this.spec.length) indexCache.set(this.spec, this.index);
      }
    }
    const { byKey, byAny, always } = this.index;
    const parts: number[][] = [];
    if (always.length) parts.push(always);
    if (front.ev.t === 'key') {
      const k = byKey.get(front.ev.key);
      if (k) parts.push(k);
      const a = byAny.get(fieldOf(front.ev.key));
      if (a) parts.push(a);
    }
    if (this.active.size) {
      const extra = [...this.active].filter((i) => !parts.some((p) => p.includes(i)));
      if (extra.length) parts.push(extra);
    }
    if (parts.length === 1) return parts[0];
    // A manipulator on a key and on any key of its page is asked once.
    return parts.flat().sort((x, y) => x - y).filter((x, i, all) => i === 0 || x !== all[i - 1]);
  }
  private made(): Manipulator[] { return this.items.filter((m): m is Manipulator => !!m); }

  manipulate(input: Queue, output: Queue, now: Ticks, reorder: boolean): boolean {
    const front = input.entries[0];
    if (!front) return false;
    const t = front.ev.t;
    if (t === 'released') {
      output.flags.eraseDeviceExceptLockAndSticky(front.device);
      output.buttons.eraseDevice(front.device);
      for (const m of this.made()) m.onReleased(front, output);
    } else if (t === 'ungrabbed') {
      output.flags.eraseDevice(front.device);
      output.buttons.eraseDevice(front.device);
      for (const m of this.made()) m.onUngrabbed(front.device, output, front.time);
      this.active = new Set([...this.active].filter((i) => this.items[i]?.active()));
    } else if (t === 'event_tap') {
      for (const m of this.made()) m.onEventTap(front, output);
    } else if (HANDLED.has(t)) {
      let skip = false;
      if (front.valid && [...this.active].some((i) => this.at(i).alreadyManipulated(front))) {
        front.valid = false;
        skip = true;
      }
      if (!skip) {
        for (const i of this.candidates(front)) {
          const m = this.at(i);
          const r = m.manipulate(front, input, output, now);
          if (m.active()) this.active.add(i); else this.active.delete(i);
          if (r === 'wait') {
            this.removeInvalid();
            return false;
          }
        }
      }
    }
    if (front.valid) output.push(front);
    if (reorder) output.sortEvents();
    input.shift();
    return true;
  }
  invalidate(): void {
    // Those never made are invalid and hold nothing: they go.
    for (const m of this.made()) m.valid = false;
    this.removeInvalid(true);
  }
  private removeInvalid(unmadeToo = false): void {
    const keep = this.items.map((m) => (m ? m.valid || m.active() : !unmadeToo));
    if (keep.every((k) => k)) return;
    const pick = <T>(xs: T[]) => xs.filter((_, i) => keep[i]);
    this.items = pick(this.items);
    this.makers = pick(this.makers);
    this.triggerList = pick(this.triggerList);
    this.index = undefined;
    this.active = new Set(this.items.flatMap((m, i) => (m?.active() ? [i] : [])));
  }
}

/** The profile as it shapes what keys do, beside its complex-modification rules. */
export interface ProfileInput {
  /** Enabled rules only, in order: each one's manipulators as written. */
  rules: JsonObject[][];
  simpleModifications?: JsonObject[];
  fnFunctionKeys?: JsonObject[];
  /** The profile's `devices` entries, whole. */
  devices?: JsonObject[];
  parameters?: JsonObject;
  keyboardType?: string;
  /** macOS' "Use F1, F2, etc. keys as standard function keys". */
  standardFunctionKeys?: boolean;
}

/** The manipulators of one stage, each with the parameters under its own and conditions added. */
export type StageSpec = { json: Json; params?: Parameters; conditions?: JsonObject[] }[];

export interface EngineOptions extends Partial<OutputOptions> {
  /** A real clock (each delay runs at its own time, waits for keys pressed together resolve by
   * themselves), or the engine's test runner's (time moves only when an event or the test says). */
  realTime: boolean;
  env?: Env;
}

const DEFAULT_FN_KEYS: [string, JsonObject][] = [
  ['f1', { consumer_key_code: 'display_brightness_decrement' }], ['f2', { consumer_key_code: 'display_brightness_increment' }],
  ['f3', { apple_vendor_keyboard_key_code: 'mission_control' }], ['f4', { apple_vendor_keyboard_key_code: 'spotlight' }],
  ['f5', { consumer_key_code: 'dictation' }], ['f6', { generic_desktop: 'do_not_disturb' }], ['f7', { consumer_key_code: 'rewind' }],
  ['f8', { consumer_key_code: 'play_or_pause' }], ['f9', { consumer_key_code: 'fast_forward' }], ['f10', { consumer_key_code: 'mute' }],
  ['f11', { consumer_key_code: 'volume_decrement' }], ['f12', { consumer_key_code: 'volume_increment' }],
];
const APP_KEYS: [string, string][] = [
  ['al_consumer_control_configuration', 'Music'], ['al_word_processor', 'Pages'], ['al_text_editor', 'TextEdit'], ['al_spreadsheet', 'Numbers'],
  ['al_presentation_app', 'Keynote'], ['al_email_reader', 'Mail'], ['al_calculator', 'Calculator'], ['al_local_machine_browser', 'Finder'],
  ['al_internet_browser', 'Safari'], ['al_dictionary', 'Dictionary'],
];

/** JSON as the engine writes it to compare (keys sorted, no spaces). */
const dump = (v: Json): string => JSON.stringify(v, (_k, x: Json) => (isObj(x) ? Object.fromEntries(Object.keys(x).sort().map((k) => [k, x[k]])) : x));
/** Natural order, as the engine sorts simple modifications: digits compare as numbers. */
const natural = (a: string, b: string): number => a.localeCompare(b, 'en', { numeric: true });

/** A list of `{from, to}` pairs as the engine keeps it: a later `from` replaces an earlier one; sorted. */
function pairs(list: Json[] | undefined, defaults: [JsonObject, Json][] = []): [JsonObject, JsonObject[]][] {
  const out: [string, JsonObject, JsonObject[]][] = [];
  const add = (from: Json, to: Json) => {
    if (!isObj(from)) return;
    const f = { ...from };
    delete f[''];
    let t: Json[] = Array.isArray(to) ? to : isObj(to) ? (Object.keys(to).filter((k) => k !== '').length ? [Object.fromEntries(Object.entries(to).filter(([k]) => k !== ''))] : []) : [];
    t = t.filter(isObj);
    const key = dump(f);
    const i = out.findIndex(([k]) => k === key);
    if (i >= 0) out.splice(i, 1);
    out.push([key, f, t as JsonObject[]]);
  };
  for (const [f, t] of defaults) add(f, t);
  for (const p of list ?? []) if (isObj(p)) add(p.from ?? {}, p.to ?? []);
  out.sort((a, b) => natural(a[0], b[0]));
  return out.map(([, f, t]) => [f, t]);
}

const deviceIf = (d: JsonObject) => {
  const ids = isObj(d.identifiers) ? d.identifiers : {};
  return {
    type: 'device_if',
    identifiers: [{ vendor_id: ids.vendor_id ?? 0, product_id: ids.product_id ?? 0, is_keyboard: ids.is_keyboard ?? false, is_pointing_device: ids.is_pointing_device ?? false }],
  } as JsonObject;
};
const F_KEYS = new Set(Array.from({ length: 12 }, (_, i) => `f${i + 1}`));

/** The stages a profile makes besides its rules: made once per profile, so that each manipulator
 * is read once however often a session starts. */
let around: { key: unknown[]; stages: StageSpec[] } | undefined;

let last: { key: unknown[]; made: { stages: StageSpec[]; places: [number, number][] } } | undefined;

export function profileStages(p: ProfileInput): { stages: StageSpec[]; places: [number, number][] } {
  const key = [p.simpleModifications, p.fnFunctionKeys, p.devices, p.standardFunctionKeys];
  const all = [...key, p.parameters, ...p.rules];
  if (last && last.key.length === all.length && all.every((k, i) => k === last?.key[i])) return last.made;
  if (!around || !key.every((k, i) => k === around?.key[i])) around = { key, stages: stagesAround(p) };
  const stages = around.stages.map((s) => [...s]);
  const places: [number, number][] = [];
  // Complex modifications, with the profile's parameters under each manipulator's own.
  const params = readParameters(p.parameters);
  p.rules.forEach((rule, r) => rule.forEach((m, i) => {
    places.push([r, i]);
    stages[COMPLEX].push({ json: m, params });
  }));
  last = { key: all, made: { stages, places } };
  return last.made;
}

function stagesAround(p: ProfileInput): StageSpec[] {
  const stages: StageSpec[] = STAGES.map(() => []);
  const add = (stage: number, json: JsonObject, _params?: Parameters, conditions: JsonObject[] = []) => {
    stages[stage].push({ json: conditions.length ? { ...json, conditions: [...(Array.isArray(json.conditions) ? json.conditions : []), ...conditions] } : json });
  };
  const devices = (p.devices ?? []).filter(isObj);
  // Device keys: the grave accent and the non-US backslash swapped where a device asks.
  for (const d of devices) {
    if (d.swap_grave_accent_and_non_us_backslash !== true) continue;
    for (const [a, b] of [['grave_accent_and_tilde', 'non_us_backslash'], ['non_us_backslash', 'grave_accent_and_tilde']]) {
      add(0, { type: 'basic', from: { key_code: a, modifiers: { optional: ['any'] } }, to: [{ key_code: b }] }, undefined, [deviceIf(d)]);
    }
  }
  // Simple modifications: each device's own, then the profile's; any modifier held stays on.
  const simple = (from: JsonObject, to: JsonObject[], conditions: JsonObject[]) => {
    if (!Object.keys(from).length) return;
    const modifiers = isObj(from.modifiers) ? { ...from.modifiers, optional: ['any'] } : { optional: ['any'] };
    add(1, { type: 'basic', from: { ...from, modifiers }, to }, undefined, conditions);
  };
  for (const d of devices) {
    for (const [f, t] of pairs(Array.isArray(d.simple_modifications) ? d.simple_modifications : [])) simple(f, t, [deviceIf(d)]);
    const flags = (names: string[], prefix: string) => names.filter((n) => d[`${prefix}${n}`] === true);
    const flip = flags(['x', 'y', 'vertical_wheel', 'horizontal_wheel'], 'mouse_flip_');
    const swap = flags(['xy', 'wheels'], 'mouse_swap_');
    const discard = flags(['x', 'y', 'vertical_wheel', 'horizontal_wheel'], 'mouse_discard_');
    if (flip.length || swap.length || discard.length) add(1, { type: 'mouse_basic', flip, swap, discard }, undefined, [deviceIf(d)]);
  }
  for (const [f, t] of pairs(p.simpleModifications)) simple(f, t, []);
  // Function keys: fn+F1… are F1…; F1… do what the profile says, on the keys' own presses only.
  const standard = p.standardFunctionKeys === true;
  if (!standard) {
    for (const f of F_KEYS) add(3, { type: 'basic', from: { key_code: f, modifiers: { mandatory: ['fn'], optional: ['any'] } }, to: [{ key_code: f, modifiers: ['fn'] }] }, undefined);
  }
  const fnKey = (from: JsonObject, to: JsonObject[], conditions: JsonObject[]) => {
    if (!Object.keys(from).length || !to.length) return;
    const f = { ...from, modifiers: { mandatory: standard ? ['fn'] : [], optional: ['any'] } };
    const t = to.map((e) => {
      const isF = isStr(e.key_code) && F_KEYS.has(e.key_code);
      const mods = Array.isArray(e.modifiers) ? [...e.modifiers] : isStr(e.modifiers) ? [e.modifiers] : [];
      if (isF ? !standard : standard) { if (!mods.includes('fn')) mods.push('fn'); }
      return mods.length ? { ...e, modifiers: mods } : e;
    });
    add(3, { type: 'basic', from: f, to: t }, undefined, [
      { type: 'event_changed_if', value: false }, { type: 'device_unless', identifiers: [{ is_touch_bar: true }] }, ...conditions,
    ]);
  };
  for (const d of devices) for (const [f, t] of pairs(Array.isArray(d.fn_function_keys) ? d.fn_function_keys : [])) fnKey(f, t, [deviceIf(d)]);
  for (const [f, t] of pairs(p.fnFunctionKeys, DEFAULT_FN_KEYS.map(([k, to]) => [{ key_code: k }, [to]]))) fnKey(f, t, []);
  add(3, { type: 'basic', from: { consumer_key_code: 'menu', modifiers: { optional: ['any'] } }, to: [{ consumer_key_code: 'al_terminal_lock_or_screensaver' }] }, undefined);
  for (const [key, app] of APP_KEYS) {
    add(3, { type: 'basic', from: { consumer_key_code: key, modifiers: { mandatory: ['any'] } }, to: [{ shell_command: `open -a '${app}.app'` }] }, undefined);
  }
  return stages;
}

export class Engine implements Host {
  readonly dispatcher = new Dispatcher();
  readonly queues: Queue[];
  readonly managers: Manager[];
  readonly output: Output;
  readonly dropped: Dropped[] = [];
  reorder = true;
  paused = false;
  trace?: (t: Trace) => void;
  readonly realTime: boolean;
  private wake: Ticks | undefined;

  constructor(stages: StageSpec[], options: EngineOptions) {
    this.realTime = options.realTime;
    const env = options.env ?? new Env();
    this.queues = Array.from({ length: STAGES.length + 2 }, () => new Queue(env.clone()));
    this.output = new Output(this, {
      sleepShortcutDelay: options.sleepShortcutDelay ?? 500, mouseKeyScale: options.mouseKeyScale ?? 100, naturalScrolling: options.naturalScrolling ?? false,
    });
    this.managers = [...STAGES.map((_, i) => new Manager(stages[i])), new Manager()];
    this.managers[STAGES.length].push(this.output);
    stages.forEach((spec, stage) => { for (const m of spec) this.add(stage, m.json, m.params, m.conditions); });
  }

  get now(): Ticks { return this.dispatcher.now; }
  notify(): void { this.dispatcher.enqueue(() => this.manipulate(this.dispatcher.now)); }

  private add(stage: number, json: Json, params: Parameters | undefined, conditions: JsonObject[] = []): void {
    const manager = this.managers[stage];
    const index = manager.size;
    try {
      if (!isObj(json)) throw new Refused('a manipulator must be an object');
      const withConditions = conditions.length ? { ...json, conditions: [...(Array.isArray(json.conditions) ? json.conditions : []), ...conditions] } : json;
      if (json.type === 'basic') {
        // Read now (once per object), to know what the engine refuses and which keys it is on.
        const p = parseBasic(withConditions);
        manager.pushLazy(() => new Basic(withConditions, params, this, { stage, index }), p.held || p.delayed || p.other ? undefined : p.keys);
      } else if (json.type === 'mouse_basic') {
        const conds = (Array.isArray(withConditions.conditions) ? withConditions.conditions : []).map((c) => makeCondition(c) ?? (() => { throw new Refused('a condition cannot be read'); })());
        manager.push(new MouseBasic(json, conds));
      } else if (json.type === 'mouse_motion_to_scroll') {
        manager.push(new Inert());
      } else {
        throw new Refused(json.type === undefined ? 'type must be specified' : `unknown type ${JSON.stringify(json.type)}`);
      }
    } catch (e) {
      if (!(e instanceof Refused)) throw e;
      this.dropped.push({ stage, index, why: e.message });
      // A place holder keeps the indices of later manipulators.
      manager.push(new Inert());
    }
  }

  /** Runs every stage over what waits in its queue. */
  manipulate(now: Ticks): void {
    for (let s = 0; s < this.managers.length; s++) {
      const input = this.queues[s];
      const output = this.queues[s + 1];
      for (let guard = 0; guard < 100_000 && this.managers[s].manipulate(input, output, now, this.reorder); guard++) { /* next event */ }
    }
    // The engine looks again when an event waiting for keys pressed together is due.
    if (this.realTime) {
      let min: Ticks | undefined;
      for (let s = 0; s < this.managers.length; s++) {
        const front = this.queues[s].entries[0];
        if (front) { const t = front.time + front.inputDelay; if (min === undefined || t < min) min = t; }
      }
      if (min !== undefined && this.wake !== min) {
        const when = Math.max(min, this.dispatcher.now);
        this.wake = min;
        this.dispatcher.enqueueAt(when, () => { if (this.wake === min) this.wake = undefined; this.manipulate(min as Ticks); });
      }
    }
  }

  /** Events from a device at their time, arrived together. */
  input(...es: (Omit<Entry, 'inputDelay' | 'valid' | 'state' | 'lazy' | 'original'> & Partial<Entry>)[]): void {
    const entries: Entry[] = es.map((e) => ({ inputDelay: 0, valid: true, state: 'original', lazy: false, original: e.ev, ...e }));
    const time = Math.max(...entries.map((e) => e.time));
    if (this.realTime) this.dispatcher.advance(time, true);
    this.dispatcher.enqueue(() => {
      for (const entry of entries) this.queues[0].push(entry);
      this.dispatcher.now = Math.max(this.dispatcher.now, time);
      if (!this.paused) {
        if (this.reorder) this.queues[0].sortEvents();
        this.manipulate(this.dispatcher.now);
      }
    });
    this.dispatcher.drain();
  }
  /** Time passes with no event. */
  advance(to: Ticks): void { this.dispatcher.advance(to, this.realTime); }
  /** The test runner's explicit "manipulate now, at this time". */
  manipulateAt(time: Ticks): void {
    this.dispatcher.now = Math.max(this.dispatcher.now, time);
    this.dispatcher.enqueue(() => this.manipulate(time));
    this.dispatcher.drain();
  }
  setPaused(paused: boolean): void {
    this.paused = paused;
    if (!paused) {
      this.dispatcher.enqueue(() => {
        if (this.reorder) this.queues[0].sortEvents();
        this.manipulate(this.dispatcher.now);
      });
      this.dispatcher.drain();
    }
  }
  invalidate(): void { for (const m of this.managers) m.invalidate(); }
  /** When something will happen by itself next (a held key's threshold, a delayed action). */
  nextDue(): Ticks | undefined { return this.dispatcher.next(); }
}

export type { DeviceProps };
export { MS };
