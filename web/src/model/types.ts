// The editor's model of a rule set: rules as Karabiner-Elements has them, each holding mappings.
// A mapping keeps its manipulators exactly as Karabiner-Elements reads them; the form it is shown in
// is a view over them, so whatever no form can show still goes out as it came in.
import type { Json, JsonObject } from './json';

export type { Json, JsonObject } from './json';

export type LayoutName = 'us' | 'jis';

/** How a mapping is shown: a pattern form, the form with every field, or its JSON. */
export type FormKind = 'remap' | 'tapHold' | 'layer' | 'doubleTap' | 'leader' | 'advanced' | 'raw';

export interface Mapping {
  id: string;
  /** Off: kept in the editor, left out of what is written. */
  enabled: boolean;
  form: FormKind;
  /** One manipulator for most forms; a toggled layer, a double tap and a leader key need several. */
  manipulators: JsonObject[];
}

export interface Rule {
  id: string;
  /** The rule's description, in full, as it is written ("[Tarvel] " starts those made in Tarvel). */
  name: string;
  enabled: boolean;
  mappings: Mapping[];
  /** The rule object's other fields (description_notes, comments), written back as they came. */
  extra?: JsonObject;
  /** "enabled": true was written out in the rule this came from. */
  enabledField?: boolean;
  /** The rule this came from had no description. */
  undescribed?: boolean;
  /** The installed rule this one is, named by its content when read (`ruleKeys`); absent for a new rule. */
  origin?: string;
  /** An installed entry the editor cannot open (not a rule object, or nested too deep to send back):
   * it stays as it is, moves or goes, and is never rewritten. */
  fixed?: Json;
  /** Changed here while karabiner.json changed it too, until the user chooses whose version stays:
   * 'changed' (edited here, changed there: linked to the file's new rule), 'removed' (edited here,
   * gone there: a new rule), 'returned' (removed here, changed there: back in the document). */
  outside?: OutsideConflict;
  /** A new rule named after its one mapping ("Caps Lock → Escape"): the name follows the mapping
   * until the user names the rule. */
  autoName?: boolean;
}
export type OutsideConflict = 'changed' | 'removed' | 'returned';

/** The profile values an apply can replace, by their place in the profile. */
export type ValuePath =
  | ['simple_modifications'] | ['fn_function_keys'] | ['complex_modifications', 'parameters']
  | ['devices', number, 'simple_modifications' | 'fn_function_keys'];
/** A profile value the user set; `device` names the device of a per-device value (its identifiers). */
export interface ValueEdit {
  path: ValuePath; value: Json; device?: JsonObject;
  /** The file's value changed while the user had changed it here: not sent until the user chooses. */
  outside?: boolean;
}
/** How rules open or focus an application: through Tarvel's tarvel-focus, or with Karabiner-Elements'
 * own software_function.open_application (no Tarvel needed on the machine that runs the rules). */
export type AppOpener = 'helper' | 'engine';

export interface RuleSet {
  title: string;
  layout: LayoutName;
  rules: Rule[];
  /** The imported document's other fields (maintainers, links), written back on export. */
  extra?: JsonObject;
  /** Installed rules (by `origin` key) the user removed. */
  removed?: string[];
  /** Profile values the user changed (simple modifications, function keys, parameters). */
  values?: ValueEdit[];
  /** How new actions open applications; absent: tarvel-focus when the app has it. */
  opener?: AppOpener;
}

/** What the native side tells us about the machine. */
export interface AppRecord {
  name: string;
  bundleId?: string;
  path?: string;
  icon?: string;
  running: boolean;
  launchable: boolean;
}
export interface AppRef { name: string; bundleId?: string; path?: string }
export interface Inventory {
  running: AppRecord[]; installed: AppRecord[]; shortcuts: string[]; helperPath?: string;
  /** Installed applications the native side left out of the list. */
  installedOmitted?: number;
}
/** A device as Karabiner-Elements lists it under a profile's `devices[].identifiers`. */
export interface DeviceRecord { identifiers: JsonObject; name?: string }

export interface CompileContext { helperPath?: string }

let counter = 0;
export function newId(prefix = 'm'): string {
  counter += 1;
  return `${prefix}${Date.now().toString(36)}${counter.toString(36)}${Math.random().toString(36).slice(2, 6)}`;
}
