// The editor's model of a rule set. It is what the forms edit, what undo stores, what autosave and
// export keep; Karabiner manipulators are compiled from it.

export type Json = null | boolean | number | string | Json[] | { [key: string]: Json };
export type JsonObject = { [key: string]: Json };

export interface KeyStroke { key: string; modifiers: string[] }
export interface AppRef { name: string; bundleId?: string; path?: string }

export type Action =
  | { type: 'keys'; strokes: KeyStroke[] }
  | { type: 'app'; app: AppRef | null }
  | { type: 'shortcut'; name: string }
  | { type: 'input'; source: 'eisuu' | 'kana' }
  | { type: 'media'; key: string }
  | { type: 'none' }
  | { type: 'shell'; command: string };
export type ActionType = Action['type'];

/** One key, or several pressed together (a chord). */
export interface Trigger {
  keys: string[];
  mandatory: string[];
  optional: string[];
  chordMs?: number;
}

export interface AppScope { mode: 'only' | 'except'; apps: AppRef[] }

interface Common {
  id: string;
  enabled: boolean;
  label?: string;
  /** Name of the layer this mapping belongs to. */
  layer?: string;
  apps?: AppScope;
}

export interface RemapMapping extends Common { kind: 'remap'; trigger: Trigger; action: Action }
export interface TapHoldMapping extends Common {
  kind: 'tapHold';
  trigger: Trigger;
  tap: Action;
  hold: Action;
  /** immediate: hold action at once, tap on a lone release; delayed: hold action after a threshold. */
  holdMode: 'immediate' | 'delayed';
  lazy: boolean;
  tapTimeoutMs?: number;
  holdDelayMs?: number;
}
export interface LayerKeyMapping extends Common {
  kind: 'layerKey';
  trigger: Trigger;
  name: string;
  mode: 'hold' | 'toggle';
  tap: Action;
}
export interface RawMapping extends Common { kind: 'raw'; manipulator: JsonObject }

export type Mapping = RemapMapping | TapHoldMapping | LayerKeyMapping | RawMapping;
export type MappingKind = Mapping['kind'];

export interface RuleSet { title: string; layout: 'us' | 'jis'; mappings: Mapping[] }

/** What the native side tells us about the machine. */
export interface AppRecord {
  name: string;
  bundleId?: string;
  path?: string;
  icon?: string;
  running: boolean;
  launchable: boolean;
}
export interface Inventory { running: AppRecord[]; installed: AppRecord[]; shortcuts: string[]; helperPath?: string }

export interface CompileContext { helperPath?: string }

let counter = 0;
export function newId(): string {
  counter += 1;
  return `m${Date.now().toString(36)}${counter.toString(36)}${Math.random().toString(36).slice(2, 6)}`;
}

export const emptyTrigger = (key = ''): Trigger => ({ keys: [key], mandatory: [], optional: ['any'] });
export const emptyRuleSet = (): RuleSet => ({ title: 'My keymap', layout: 'us', mappings: [] });
