// "Try it" over the engine: a person's keyboard in front of the whole profile, on a real clock.
// Keys go down and up at times (tapped, held, or a typed sequence); for each, the session tells what
// reached the virtual keyboard and mouse, which manipulator sent it, and which manipulators on the
// key did not take it and why.
import { isObj, type Json, type JsonObject } from '../json';
import type { Trace } from './basic';
import { COMPLEX, Engine, profileStages, STAGES, type Dropped, type ProfileInput, type StageName } from './engine';
import { Env, type App, type DeviceProps, type InputSource, type VarValue } from './env';
import type { Flag, KeyId } from './keys';
import type { Effect } from './output';
import { MS, type Origin } from './queue';
import { StrokeReader, type Stroke } from './strokes';

export interface SimRule {
  name: string;
  enabled: boolean;
  manipulators: JsonObject[];
  /** The mapping each manipulator belongs to, for Tarvel's own rules. */
  mappingIds?: string[];
  kept?: boolean;
  /** Tried before it is added (from the gallery): not in the document. */
  tried?: boolean;
}

/** What of the profile besides its rules shapes what a key does. */
export interface ProfileSettings {
  simpleModifications?: JsonObject[];
  fnFunctionKeys?: JsonObject[];
  /** The profile's `devices` entries, whole. */
  devices?: JsonObject[];
  parameters?: JsonObject;
  keyboardType?: string | null;
}

/** Where the keys are typed. */
export interface SimContext {
  app?: App;
  device: DeviceProps;
  keyboardType: string;
  inputSource: InputSource;
  /** Variables as they are before the first key. */
  variables: Record<string, VarValue>;
  /** macOS' "Use F1, F2, etc. keys as standard function keys". */
  standardFunctionKeys?: boolean;
  /** Caps Lock is on (its light) before the first key. */
  capsLock?: boolean;
}

/** A key going down or up at a time (ms from the start). */
export interface Step { at: number; key: KeyId; down: boolean }

/** Which manipulator: its stage, and for complex modifications the rule and its manipulator. */
export interface Place { stage: StageName; index: number; rule?: number; manipulator?: number; list?: string }

export interface Sent extends Omit<Stroke, 'report'> { by?: Place }
export interface Skip { place: Place; reason: Exclude<Trace['result'], 'took'>; condition?: Json }
export interface Outcome {
  /** The key event; absent when only time passed. */
  step?: Step;
  from: number;
  to: number;
  sent: Sent[];
  effects: (Omit<Effect, 'origin' | 'time'> & { at: number; by?: Place })[];
  /** The manipulator that took the key, if one did. */
  took?: Place;
  skipped: Skip[];
}

const DEVICE = 1;
const JAPANESE: InputSource = { language: 'ja', input_source_id: 'com.apple.inputmethod.Kotoeri.RomajiTyping.Japanese', input_mode_id: 'com.apple.inputmethod.Japanese' };
const ROMAN: InputSource = { language: 'en', input_source_id: 'com.apple.inputmethod.Kotoeri.RomajiTyping.Roman', input_mode_id: 'com.apple.inputmethod.Roman' };

export class Session {
  readonly engine: Engine;
  readonly steps: Step[] = [];
  /** Now, in ms. */
  clock = 0;
  private readonly places: [number, number][];
  private readonly ruleOf: number[];
  private traces: Trace[] = [];
  private readonly pressed = new Set<KeyId>();
  private readonly reader = new StrokeReader();
  private reports = 0;
  private effects = 0;

  constructor(readonly rules: readonly SimRule[], readonly profile: ProfileSettings | undefined, readonly context: SimContext) {
    const enabled = rules.map((r, i) => [r, i] as const).filter(([r]) => r.enabled);
    this.ruleOf = enabled.map(([, i]) => i);
    const input: ProfileInput = {
      rules: enabled.map(([r]) => r.manipulators),
      simpleModifications: profile?.simpleModifications,
      fnFunctionKeys: profile?.fnFunctionKeys,
      devices: profile?.devices,
      parameters: profile?.parameters,
      standardFunctionKeys: context.standardFunctionKeys,
    };
    const { stages, places } = profileStages(input);
    this.places = places;
    const env = new Env();
    if (context.app) env.app = context.app;
    env.inputSource = context.inputSource;
    env.devices.set(DEVICE, context.device);
    env.keyboardType = context.keyboardType;
    for (const [k, v] of Object.entries(context.variables)) env.set(k, v);
    this.engine = new Engine(stages, { realTime: true, env });
    this.engine.trace = (t) => { if (this.traces.length < 64) this.traces.push(t); };
    if (context.capsLock) this.engine.input({ device: DEVICE, time: 0, ev: { t: 'caps_lock_state', on: true }, type: 'single' });
    this.collect(undefined, 0);
  }

  /** Manipulators the engine would not load, with why. */
  get dropped(): (Dropped & { place: Place })[] {
    return this.engine.dropped.map((d) => ({ ...d, place: this.place({ stage: d.stage, index: d.index, list: '' }) }));
  }

  place(o: Origin): Place {
    const p: Place = { stage: STAGES[o.stage] ?? 'fn_function_keys', index: o.index };
    if (o.list) p.list = o.list;
    if (o.stage === COMPLEX) {
      const at = this.places[o.index];
      if (at) { p.rule = this.ruleOf[at[0]]; p.manipulator = at[1]; }
    }
    return p;
  }

  /** What happened since the last look. */
  private collect(step: Step | undefined, from: number): Outcome {
    const out = this.engine.output;
    const sent: Sent[] = [];
    for (const r of out.list.slice(this.reports)) {
      for (const s of this.reader.read(r)) {
        const { report, ...rest } = s;
        // What is stamped earlier than it was made goes out when it is made.
        rest.time = Math.max(rest.time, Math.round((report.madeAt ?? 0) / MS));
        sent.push(report.origin ? { ...rest, by: this.place(report.origin) } : rest);
      }
    }
    this.reports = out.list.length;
    this.followInputSource(sent);
    const effects = out.effects.slice(this.effects).map((e) => ({ what: e.what, value: e.value, at: Math.round(Math.max(e.time, e.madeAt ?? 0) / MS), ...(e.origin ? { by: this.place(e.origin) } : {}) }));
    this.effects = out.effects.length;
    const traces = this.traces;
    this.traces = [];
    const took = traces.find((t) => t.result === 'took');
    const skipped: Skip[] = [];
    for (const t of traces) {
      if (t.result === 'took' || skipped.length >= 20) continue;
      if (took && t.stage === took.stage && t.index === took.index) continue;
      skipped.push({ place: this.place({ stage: t.stage, index: t.index, list: '' }), reason: t.result, ...(t.condition !== undefined ? { condition: t.condition } : {}) });
    }
    const o: Outcome = { from, to: this.clock, sent, effects, skipped };
    if (step) o.step = step;
    if (took) o.took = this.place({ stage: took.stage, index: took.index, list: '' });
    return o;
  }

  /**
   * What macOS does with what the engine sends and conditions see: 英数 / かな and selected input
   * sources change the input source.
   */
  private followInputSource(sent: Sent[]): void {
    let src: InputSource | undefined;
    for (const s of sent) {
      if (s.kind === 'down' && s.key === 'key_code:japanese_kana') src = JAPANESE;
      else if (s.kind === 'down' && s.key === 'key_code:japanese_eisuu') src = ROMAN;
      else if (s.kind === 'command' && s.text?.startsWith('[')) {
        try {
          const spec = (JSON.parse(s.text) as JsonObject[])[0];
          if (isObj(spec)) {
            const plain = (v: Json | undefined) => (typeof v === 'string' ? v.replace(/^\^|\$$/g, '').replace(/\\(.)/g, '$1') : undefined);
            src = {};
            for (const k of ['language', 'input_source_id', 'input_mode_id'] as const) { const v = plain(spec[k]); if (v !== undefined) src[k] = v; }
          }
        } catch { /* not an input source */ }
      }
    }
    if (src) this.engine.input({ device: 0, time: this.clock * MS, ev: { t: 'input_source', props: src }, type: 'single' });
  }

  /** Time passes until `to` (ms): what happens by itself meanwhile. */
  wait(to: number): Outcome {
    const from = this.clock;
    this.clock = Math.max(this.clock, to);
    this.engine.advance(this.clock * MS);
    return this.collect(undefined, from);
  }

  /** Keys down and up at their times (never before now); what each did, and what time did between. */
  play(steps: Step[]): Outcome[] {
    const out: Outcome[] = [];
    for (const s of steps) {
      const at = Math.max(s.at, this.clock);
      const passed = this.wait(at);
      if (passed.sent.length || passed.effects.length) out.push(passed);
      const step = { ...s, at };
      this.steps.push(step);
      const entry = { device: DEVICE, time: at * MS, ev: { t: 'key', key: s.key } as const, type: s.down ? 'down' as const : 'up' as const };
      // The engine notes when the last key of a device is up: modifiers sent lazily go up then.
      if (s.down) this.pressed.add(s.key);
      else if (this.pressed.delete(s.key) && !this.pressed.size) {
        this.engine.input(entry, { device: DEVICE, time: at * MS, ev: { t: 'released' }, type: 'single' });
        out.push(this.collect(step, at));
        continue;
      }
      this.engine.input(entry);
      out.push(this.collect(step, at));
    }
    return out;
  }

  /** Keys down now, in the order they went down. */
  get down(): KeyId[] {
    const keys: KeyId[] = [];
    for (const s of this.steps) {
      const i = keys.indexOf(s.key);
      if (s.down && i < 0) keys.push(s.key);
      else if (!s.down && i >= 0) keys.splice(i, 1);
    }
    return keys;
  }
  /** When something happens by itself next (ms), if anything waits. */
  get next(): number | undefined {
    const t = this.engine.nextDue();
    return t === undefined ? undefined : Math.ceil(t / MS);
  }
  /** Variables as complex modifications see them now. */
  get variables(): Record<string, VarValue> {
    return Object.fromEntries(this.engine.queues[COMPLEX + 1].env.variables);
  }
  /** A variable changed by hand, everywhere conditions look. */
  setVariable(name: string, value: VarValue): void {
    for (const q of this.engine.queues) q.env.set(name, value);
  }
  /** Modifiers down on the virtual keyboard now. */
  get modifiers(): Flag[] { return [...this.engine.queues[STAGES.length + 1].flags.down()]; }

  /**
   * Time passes while things keep happening by themselves, up to `limit` ms from now: a held key
   * passes its threshold, delayed actions run.
   */
  settle(limit: number): Outcome {
    const from = this.clock;
    const end = this.clock + limit;
    let next = this.next;
    while (next !== undefined && next <= end) {
      this.engine.advance(next * MS);
      this.clock = Math.max(this.clock, next);
      next = this.next;
      if (next !== undefined && next <= this.clock) break;
    }
    return this.collect(undefined, from);
  }
}

/** The rule and position a place names, for tests and labels. */
export const describePlace = (p: Place | undefined): string =>
  (!p ? '' : p.rule !== undefined ? `${p.rule}.${p.manipulator}` : `${p.stage}#${p.index}`);

export const isStep = (v: unknown): v is Step => isObj(v as Json) && typeof (v as Step).at === 'number' && typeof (v as Step).key === 'string';
