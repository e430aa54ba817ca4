// "Try it": what Karabiner-Elements does with key presses, over the whole profile the apply leaves
// (Tarvel's rules and the kept ones, simple modifications, function keys, parameters), on a clock.
// The engine's model lives in sim/: one event-processing core (engine.ts and what it runs), and
// views over it: the session Try it drives (session.ts), typed sequences (sequence.ts), what reports
// amount to (strokes.ts) and the manipulators that never fire (shadows.ts).
export { FLAGS, flagKey, flagOf, keyId, nameOf, type Flag, type KeyId } from './sim/keys';
export { findShadows, type Shadow, type ShadowWhy, type Winner } from './sim/shadows';
export { formatSequence, keyFromName, keyName, parseSequence, MAX_STEPS, type SequenceError } from './sim/sequence';
export {
  describePlace, Session, type Outcome, type Place, type ProfileSettings, type Sent, type SimContext, type SimRule, type Skip, type Step,
} from './sim/session';
export type { App as SimApp, DeviceProps, InputSource as SimInputSource, VarValue } from './sim/env';
