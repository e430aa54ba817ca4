// The editor's model of a rule set: rules as Karabiner-Elements has them, each holding mappings.
// A mapping keeps its manipulators exactly as Karabiner-Elements reads them; the form it is shown in
// is a view over them, so whatever no form can show still goes out as it came in.
import type { JsonObject } from './json';

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
  /** Written as the rule's description ("[Tarvel] <title>: <name>" when applied). */
  name: string;
  enabled: boolean;
  mappings: Mapping[];
  /** The rule object's other fields (description_notes, comments), written back as they came. */
  extra?: JsonObject;
  /** "enabled": true was written out in the rule this came from. */
  enabledField?: boolean;
  /** The rule this came from had no description. */
  undescribed?: boolean;
  /** A rule of karabiner.json brought into the editor (see config.ts): that rule is not kept as well. */
  origin?: string;
}

export interface RuleSet {
  title: string;
  layout: LayoutName;
  rules: Rule[];
  /** The imported document's other fields (maintainers, links), written back on export. */
  extra?: JsonObject;
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
