// The "Try it" tab's state: where keys are typed, how (tapped, held, or a timed sequence), and what
// happened, newest first. The engine's session runs behind it; it is made again (and what was
// pressed replayed) when the rules, the profile or the place change.
import type { KeyRef } from './model/manipulator';
import {
  flagKey, keyId, keyName, MAX_STEPS, parseSequence, Session, type Flag, type KeyId, type Outcome, type ProfileSettings, type SequenceError,
  type SimContext, type SimRule, type Step, type VarValue,
} from './model/simulate';
import type { LayoutName } from './model/types';

export type SimMode = 'tap' | 'hold' | 'sequence';
export type SimAction = 'tap' | 'hold' | 'release' | 'wait' | 'sequence' | 'modifier';
export interface SimEntry { id: number; action: SimAction; keys: KeyId[]; outcomes: Outcome[]; from: number; to: number }
export interface SimState {
  mode: SimMode;
  context: SimContext;
  /** Newest first. */
  log: SimEntry[];
  /** The sequence as typed in sequence mode. */
  sequence: string;
  sequenceError?: SequenceError;
  /** Chosen by hand; otherwise the profile's keyboard type, or the layout's. */
  keyboardTypeChosen: boolean;
}

/** How long a tap holds the key, and how long after the last thing the next press comes. */
export const TAP_MS = 50;
export const GAP_MS = 100;
/** How long "hold" holds a key before the next thing: held-down thresholds and delays up to this
 * run, and a release after it is no longer a tap (the engine's default alone timeout). */
export const HOLD_MS = 1000;
const LOG = 30;

export const initialContext = (layout: LayoutName): SimContext => ({
  device: { is_keyboard: true, is_built_in_keyboard: true }, keyboardType: layout === 'jis' ? 'jis' : 'ansi', inputSource: {}, variables: {},
});
export const initialSim = (layout: LayoutName): SimState => ({
  mode: 'tap', context: initialContext(layout), log: [], sequence: 'a↓ 0, s↓ 30, a↑ 60, s↑ 90', keyboardTypeChosen: false,
});

const refKey = (k: KeyRef): KeyId | undefined => keyId(k.field, k.name);

/** The session for what the simulator shows now, kept while nothing it depends on changes. */
export class TryIt {
  private session: Session | undefined;
  private key: unknown[] = [];
  private ids = 0;

  current(rules: SimRule[], profile: ProfileSettings | undefined, context: SimContext): Session {
    const key = [rules, profile, context];
    if (!this.session || !key.every((k, i) => k === this.key[i])) {
      const steps = this.session?.steps ?? [];
      const clock = this.session?.clock ?? 0;
      this.session = new Session(rules, profile, context);
      // What was pressed is pressed again: keys held stay held under the new rules.
      this.session.play(steps);
      this.session.wait(clock);
      this.key = key;
    }
    return this.session;
  }
  reset(): void { this.session = undefined; }

  private entry(action: SimAction, keys: KeyId[], outcomes: Outcome[], from: number, to: number): SimEntry {
    return { id: ++this.ids, action, keys, outcomes: outcomes.filter((o) => o.step || o.sent.length || o.effects.length), from, to };
  }
  private static push(s: SimState, e: SimEntry): SimState { return { ...s, log: [e, ...s.log].slice(0, LOG) }; }

  /** Keys pressed (together) by the chosen mode: tapped, or held until what holding does has happened. */
  press(state: SimState, session: Session, refs: KeyRef[]): SimState {
    const keys = refs.map(refKey).filter((k): k is KeyId => !!k);
    if (!keys.length) return state;
    const from = session.clock;
    const at = from + (session.steps.length ? GAP_MS : 0);
    const outcomes = session.play(keys.map((key) => ({ at, key, down: true })));
    if (state.mode === 'hold') {
      outcomes.push(session.settle(HOLD_MS));
      outcomes.push(session.wait(at + HOLD_MS));
      return TryIt.push(state, this.entry('hold', keys, outcomes, from, session.clock));
    }
    outcomes.push(...session.play(keys.map((key) => ({ at: at + TAP_MS, key, down: false }))));
    return TryIt.push(state, this.entry('tap', keys, outcomes, from, session.clock));
  }
  release(state: SimState, session: Session, key: KeyId): SimState {
    const from = session.clock;
    const outcomes = session.play([{ at: from + GAP_MS, key, down: false }]);
    return TryIt.push(state, this.entry('release', [key], outcomes, from, session.clock));
  }
  /** A modifier key held down by hand, or released. */
  modifier(state: SimState, session: Session, flag: Flag): SimState {
    const key = flagKey(flag);
    const from = session.clock;
    const outcomes = session.play([{ at: from + GAP_MS, key, down: !session.down.includes(key) }]);
    return TryIt.push(state, this.entry('modifier', [key], outcomes, from, session.clock));
  }
  /** Time passes until nothing more happens by itself (at most a few seconds). */
  wait(state: SimState, session: Session): SimState {
    const from = session.clock;
    const o = session.settle(5000);
    return TryIt.push(state, this.entry('wait', [], [o], from, session.clock));
  }
  /** The typed sequence, from nothing pressed, then as long again for what follows by itself. */
  sequence(state: SimState, rules: SimRule[], profile: ProfileSettings | undefined, context = state.context): SimState {
    const steps = parseSequence(state.sequence);
    if (!Array.isArray(steps)) return { ...state, sequenceError: steps };
    this.session = new Session(rules, profile, context);
    this.key = [rules, profile, context];
    const session = this.session;
    const outcomes = session.play(steps.slice(0, MAX_STEPS));
    outcomes.push(session.settle(2000));
    return TryIt.push({ ...state, sequenceError: undefined }, this.entry('sequence', [...new Set(steps.map((s) => s.key))], outcomes, 0, session.clock));
  }
  /** In sequence mode a key clicked on the picture is a tap added at the end of the sequence. */
  appendTap(state: SimState, refs: KeyRef[]): SimState {
    const steps = parseSequence(state.sequence);
    const last = Array.isArray(steps) && steps.length ? steps[steps.length - 1].at + GAP_MS : 0;
    const keys = refs.map(refKey).filter((k): k is KeyId => !!k);
    const tokens = [...keys.map((k) => `${keyName(k)}↓ ${last}`), ...keys.map((k) => `${keyName(k)}↑ ${last + TAP_MS}`)];
    const base = Array.isArray(steps) ? state.sequence.trim().replace(/,\s*$/, '') : '';
    return { ...state, sequence: base ? `${base}, ${tokens.join(', ')}` : tokens.join(', '), sequenceError: undefined };
  }
  /** A variable set by hand, now and for the sessions made later. */
  variable(state: SimState, session: Session, name: string, value: VarValue): SimState {
    session.setVariable(name, value);
    const context = { ...state.context, variables: { ...state.context.variables, [name]: value } };
    this.key[2] = context;
    return { ...state, context };
  }
}

export type { Step };
