// Rule sets saved or exported by the first version of the editor, which kept typed mappings instead
// of manipulators: read strictly, compiled the way that version compiled them, and grouped into
// rules by their names (that version put an imported rule's description on each of its mappings).
import { groupManipulators } from './forms';
import { isObj, isStr, strArr, type JsonObject } from './json';
import { exactRegex, shellQuote } from './shell';
import type { Mapping, Rule, RuleSet } from './types';
import { newId } from './types';

interface KeyStroke { key: string; modifiers: string[] }
interface AppRef { name: string; bundleId?: string; path?: string }
type Action =
  | { type: 'keys'; strokes: KeyStroke[] }
  | { type: 'app'; app: AppRef | null }
  | { type: 'shortcut'; name: string }
  | { type: 'input'; source: 'eisuu' | 'kana' }
  | { type: 'media'; key: string }
  | { type: 'none' }
  | { type: 'shell'; command: string };
interface Trigger { keys: string[]; mandatory: string[]; optional: string[]; chordMs?: number }
interface Common { enabled: boolean; label?: string; layer?: string; apps?: { mode: 'only' | 'except'; apps: AppRef[] } }
type V1Mapping = Common & (
  | { kind: 'remap'; trigger: Trigger; action: Action }
  | { kind: 'tapHold'; trigger: Trigger; tap: Action; hold: Action; holdMode: 'immediate' | 'delayed'; lazy: boolean; tapTimeoutMs?: number; holdDelayMs?: number }
  | { kind: 'layerKey'; trigger: Trigger; name: string; mode: 'hold' | 'toggle'; tap: Action }
  | { kind: 'raw'; manipulator: JsonObject });

export const SHORTCUTS_TOOL = '/usr/bin/shortcuts';
const layerVariable = (name: string) => `tarvel_layer_${name}`;
const CONSUMER = new Set(['play_or_pause', 'scan_previous_track', 'scan_next_track', 'fast_forward', 'eject', 'dictation']);
const ms = (v: unknown): v is number | undefined => v === undefined || (typeof v === 'number' && Number.isFinite(v));

function readApp(v: unknown): AppRef | undefined {
  if (!isObj(v) || !isStr(v.name)) return undefined;
  if ((v.bundleId !== undefined && !isStr(v.bundleId)) || (v.path !== undefined && !isStr(v.path))) return undefined;
  return { name: v.name, ...(isStr(v.bundleId) ? { bundleId: v.bundleId } : {}), ...(isStr(v.path) ? { path: v.path } : {}) };
}

function readAction(v: unknown): Action | undefined {
  if (!isObj(v)) return undefined;
  switch (v.type) {
    case 'keys':
      if (!Array.isArray(v.strokes) || !v.strokes.every((s) => isObj(s) && isStr(s.key) && strArr(s.modifiers))) return undefined;
      return { type: 'keys', strokes: (v.strokes as JsonObject[]).map((s) => ({ key: s.key as string, modifiers: [...(s.modifiers as string[])] })) };
    case 'app': {
      if (v.app === null) return { type: 'app', app: null };
      const app = readApp(v.app);
      return app && { type: 'app', app };
    }
    case 'shortcut': return isStr(v.name) ? { type: 'shortcut', name: v.name } : undefined;
    case 'input': return v.source === 'eisuu' || v.source === 'kana' ? { type: 'input', source: v.source } : undefined;
    case 'media': return isStr(v.key) ? { type: 'media', key: v.key } : undefined;
    case 'none': return { type: 'none' };
    case 'shell': return isStr(v.command) ? { type: 'shell', command: v.command } : undefined;
    default: return undefined;
  }
}

function readTrigger(v: unknown): Trigger | undefined {
  if (!isObj(v) || !strArr(v.keys) || !v.keys.length || !strArr(v.mandatory) || !strArr(v.optional) || !ms(v.chordMs)) return undefined;
  return { keys: [...v.keys], mandatory: [...v.mandatory], optional: [...v.optional], ...(v.chordMs !== undefined ? { chordMs: v.chordMs as number } : {}) };
}

function readMapping(v: unknown): V1Mapping | undefined {
  if (!isObj(v) || typeof v.enabled !== 'boolean') return undefined;
  if ((v.label !== undefined && !isStr(v.label)) || (v.layer !== undefined && !isStr(v.layer))) return undefined;
  const base: Common = { enabled: v.enabled };
  if (isStr(v.label)) base.label = v.label;
  if (isStr(v.layer)) base.layer = v.layer;
  if (v.apps !== undefined) {
    const a = v.apps;
    if (!isObj(a) || (a.mode !== 'only' && a.mode !== 'except') || !Array.isArray(a.apps)) return undefined;
    const apps = a.apps.map(readApp);
    if (apps.some((x) => !x)) return undefined;
    base.apps = { mode: a.mode, apps: apps as AppRef[] };
  }
  switch (v.kind) {
    case 'raw': return isObj(v.manipulator) ? { ...base, kind: 'raw', manipulator: v.manipulator } : undefined;
    case 'remap': {
      const trigger = readTrigger(v.trigger);
      const action = readAction(v.action);
      return trigger && action && { ...base, kind: 'remap', trigger, action };
    }
    case 'tapHold': {
      const trigger = readTrigger(v.trigger);
      const tap = readAction(v.tap);
      const hold = readAction(v.hold);
      if (!trigger || !tap || !hold || (v.holdMode !== 'immediate' && v.holdMode !== 'delayed') || typeof v.lazy !== 'boolean') return undefined;
      if (!ms(v.tapTimeoutMs) || !ms(v.holdDelayMs)) return undefined;
      return { ...base, kind: 'tapHold', trigger, tap, hold, holdMode: v.holdMode, lazy: v.lazy, tapTimeoutMs: v.tapTimeoutMs as number | undefined, holdDelayMs: v.holdDelayMs as number | undefined };
    }
    case 'layerKey': {
      const trigger = readTrigger(v.trigger);
      const tap = readAction(v.tap);
      if (!trigger || !tap || !isStr(v.name) || (v.mode !== 'hold' && v.mode !== 'toggle')) return undefined;
      return { ...base, kind: 'layerKey', trigger, name: v.name, mode: v.mode, tap };
    }
    default: return undefined;
  }
}

const keyEvent = (key: string, modifiers: string[] = []): JsonObject => ({
  ...(CONSUMER.has(key) ? { consumer_key_code: key } : { key_code: key }), ...(modifiers.length ? { modifiers } : {}),
});

function compileAction(a: Action, helperPath?: string): JsonObject[] {
  switch (a.type) {
    case 'keys': return a.strokes.map((s) => keyEvent(s.key, s.modifiers));
    case 'app': {
      const app = a.app;
      if (!app) return [];
      if (helperPath) {
        const parts = [shellQuote(helperPath)];
        if (app.name) parts.push('--name', shellQuote(app.name));
        if (app.bundleId) parts.push('--bundle-id', shellQuote(app.bundleId));
        if (app.path) parts.push('--fallback', shellQuote(app.path));
        return [{ shell_command: parts.join(' ') }];
      }
      if (app.bundleId) return [{ software_function: { open_application: { bundle_identifier: app.bundleId } } }];
      return app.path ? [{ software_function: { open_application: { file_path: app.path } } }] : [];
    }
    case 'shortcut': return [{ shell_command: `${SHORTCUTS_TOOL} run ${shellQuote(a.name)}` }];
    case 'input': return [{ key_code: a.source === 'kana' ? 'japanese_kana' : 'japanese_eisuu' }];
    case 'media': return [{ consumer_key_code: a.key }];
    case 'none': return [{ key_code: 'vk_none' }];
    case 'shell': return [{ shell_command: a.command }];
  }
}

function compileMapping(m: V1Mapping, helperPath?: string): JsonObject[] {
  if (m.kind === 'raw') return [m.manipulator];
  const t = m.trigger;
  const from: JsonObject = t.keys.length > 1 ? { simultaneous: t.keys.map((k) => keyEvent(k)) } : keyEvent(t.keys[0] ?? '');
  if (t.mandatory.length || t.optional.length) {
    from.modifiers = { ...(t.mandatory.length ? { mandatory: t.mandatory } : {}), ...(t.optional.length ? { optional: t.optional } : {}) };
  }
  const conditions: JsonObject[] = [];
  if (m.layer) conditions.push({ type: 'variable_if', name: layerVariable(m.layer), value: 1 });
  if (m.apps?.apps.length) {
    const c: JsonObject = { type: m.apps.mode === 'only' ? 'frontmost_application_if' : 'frontmost_application_unless' };
    const ids = m.apps.apps.filter((a) => a.bundleId).map((a) => exactRegex(a.bundleId as string));
    const paths = m.apps.apps.filter((a) => !a.bundleId && a.path).map((a) => exactRegex(a.path as string));
    if (ids.length) c.bundle_identifiers = ids;
    if (paths.length) c.file_paths = paths;
    conditions.push(c);
  }
  const basic = (extra: JsonObject, conds = conditions): JsonObject => ({
    type: 'basic', from, ...(conds.length ? { conditions: conds } : {}), ...extra,
  });
  const params = (p: Record<string, number | undefined>): JsonObject => {
    const out: JsonObject = {};
    for (const [k, v] of Object.entries(p)) if (v !== undefined) out[k] = v;
    return Object.keys(out).length ? { parameters: out } : {};
  };
  const chord = { 'basic.simultaneous_threshold_milliseconds': t.keys.length > 1 ? t.chordMs : undefined };
  if (m.kind === 'remap') return [basic({ to: compileAction(m.action, helperPath), ...params(chord) })];
  if (m.kind === 'tapHold') {
    const hold = compileAction(m.hold, helperPath);
    const lazy: JsonObject[] = m.lazy ? hold.map((e) => ({ ...e, lazy: true })) : hold;
    const tap: JsonObject = m.tap.type === 'none' ? {} : { to_if_alone: compileAction(m.tap, helperPath) };
    const lists: JsonObject = m.holdMode === 'immediate' ? { to: lazy, ...tap } : { ...tap, to_if_held_down: lazy };
    return [basic({ ...lists, ...params({ ...chord, 'basic.to_if_alone_timeout_milliseconds': m.tapTimeoutMs, 'basic.to_if_held_down_threshold_milliseconds': m.holdMode === 'delayed' ? m.holdDelayMs : undefined }) })];
  }
  const name = layerVariable(m.name);
  const set = (value: number): JsonObject => ({ set_variable: { name, value } });
  if (m.mode === 'hold') {
    const tap: JsonObject = m.tap.type === 'none' ? {} : { to_if_alone: compileAction(m.tap, helperPath) };
    return [basic({ to: [set(1)], to_after_key_up: [set(0)], ...tap, ...params(chord) })];
  }
  return [
    basic({ to: [set(0)], ...params(chord) }, [...conditions, { type: 'variable_if', name, value: 1 }]),
    basic({ to: [set(1)], ...params(chord) }),
  ];
}

/** A rule set in the first version's form, or undefined when `v` is not one (or is damaged). */
export function readLegacyRuleSet(v: unknown, helperPath?: string): RuleSet | undefined {
  if (!isObj(v) || !isStr(v.title) || !Array.isArray(v.mappings)) return undefined;
  const layout = v.layout === 'jis' ? 'jis' : v.layout === undefined || v.layout === 'us' ? 'us' : undefined;
  if (!layout) return undefined;
  const rules: Rule[] = [];
  for (const raw of v.mappings) {
    const m = readMapping(raw);
    if (!m) return undefined;
    const name = m.label ?? v.title;
    let rule = rules[rules.length - 1];
    if (!rule || rule.name !== name) {
      rule = { id: newId('r'), name, enabled: true, mappings: [] };
      rules.push(rule);
    }
    const mappings: Mapping[] = groupManipulators(compileMapping(m, helperPath));
    for (const x of mappings) x.enabled = m.enabled;
    rule.mappings.push(...mappings);
  }
  return { title: v.title, layout, rules };
}
