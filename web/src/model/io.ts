// Files in and out: the exported document is both a Karabiner-Elements importable rule document and
// a lossless copy of the editor's rule set (under "tarvel"); saved state uses the same rule-set form.
import { compileRuleSet } from './compile';
import { decompile } from './decompile';
import type {
  Action, AppRef, AppScope, CompileContext, Json, JsonObject, KeyStroke, Mapping, RuleSet, Trigger,
} from './types';
import { newId } from './types';

export const FORMAT = 'tarvel-ruleset';
export const VERSION = 1;

type R<T> = T | undefined;
const isObj = (v: unknown): v is Record<string, unknown> => !!v && typeof v === 'object' && !Array.isArray(v);
const isStr = (v: unknown): v is string => typeof v === 'string';
const strArr = (v: unknown): v is string[] => Array.isArray(v) && v.every(isStr);
const optMs = (v: unknown): v is number | undefined => v === undefined || (typeof v === 'number' && Number.isFinite(v));

function readApp(v: unknown): R<AppRef> {
  if (!isObj(v) || !isStr(v.name)) return undefined;
  if ((v.bundleId !== undefined && !isStr(v.bundleId)) || (v.path !== undefined && !isStr(v.path))) return undefined;
  const a: AppRef = { name: v.name };
  if (isStr(v.bundleId)) a.bundleId = v.bundleId;
  if (isStr(v.path)) a.path = v.path;
  return a;
}

function readAction(v: unknown): R<Action> {
  if (!isObj(v)) return undefined;
  switch (v.type) {
    case 'keys': {
      if (!Array.isArray(v.strokes)) return undefined;
      const strokes: KeyStroke[] = [];
      for (const s of v.strokes) {
        if (!isObj(s) || !isStr(s.key) || !strArr(s.modifiers)) return undefined;
        strokes.push({ key: s.key, modifiers: [...s.modifiers] });
      }
      return { type: 'keys', strokes };
    }
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

function readTrigger(v: unknown): R<Trigger> {
  if (!isObj(v) || !strArr(v.keys) || !v.keys.length || !strArr(v.mandatory) || !strArr(v.optional) || !optMs(v.chordMs)) return undefined;
  const t: Trigger = { keys: [...v.keys], mandatory: [...v.mandatory], optional: [...v.optional] };
  if (v.chordMs !== undefined) t.chordMs = v.chordMs as number;
  return t;
}

function readScope(v: unknown): R<AppScope> | null {
  if (v === undefined) return null;
  if (!isObj(v) || (v.mode !== 'only' && v.mode !== 'except') || !Array.isArray(v.apps)) return undefined;
  const apps = v.apps.map(readApp);
  if (apps.some((a) => !a)) return undefined;
  return { mode: v.mode, apps: apps as AppRef[] };
}

function readMapping(v: unknown): R<Mapping> {
  if (!isObj(v) || typeof v.enabled !== 'boolean') return undefined;
  if ((v.label !== undefined && !isStr(v.label)) || (v.layer !== undefined && !isStr(v.layer))) return undefined;
  const scope = readScope(v.apps);
  if (scope === undefined) return undefined;
  const base: Pick<Mapping, 'id' | 'enabled' | 'label' | 'layer' | 'apps'> = { id: newId(), enabled: v.enabled };
  if (isStr(v.label)) base.label = v.label;
  if (isStr(v.layer)) base.layer = v.layer;
  if (scope) base.apps = scope;
  switch (v.kind) {
    case 'raw':
      return isObj(v.manipulator) ? { ...base, kind: 'raw', manipulator: structuredClone(v.manipulator) as JsonObject } : undefined;
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
      if (!optMs(v.tapTimeoutMs) || !optMs(v.holdDelayMs)) return undefined;
      const m: Mapping = { ...base, kind: 'tapHold', trigger, tap, hold, holdMode: v.holdMode, lazy: v.lazy };
      if (v.tapTimeoutMs !== undefined) m.tapTimeoutMs = v.tapTimeoutMs as number;
      if (v.holdDelayMs !== undefined) m.holdDelayMs = v.holdDelayMs as number;
      return m;
    }
    case 'layerKey': {
      const trigger = readTrigger(v.trigger);
      const tap = readAction(v.tap);
      if (!trigger || !tap || !isStr(v.name) || (v.mode !== 'hold' && v.mode !== 'toggle')) return undefined;
      return { ...base, kind: 'layerKey', trigger, name: v.name, mode: v.mode, tap };
    }
    default:
      return undefined;
  }
}

/** A rule set from untrusted JSON (a file, saved state); undefined when any part is malformed. */
export function readRuleSet(v: unknown): R<RuleSet> {
  if (!isObj(v) || !isStr(v.title) || !Array.isArray(v.mappings)) return undefined;
  const layout = v.layout === 'jis' ? 'jis' : v.layout === undefined || v.layout === 'us' ? 'us' : undefined;
  if (!layout) return undefined;
  const mappings: Mapping[] = [];
  for (const m of v.mappings) {
    const r = readMapping(m);
    if (!r) return undefined;
    mappings.push(r);
  }
  return { title: v.title, layout, mappings };
}

export function ruleSetForSaving(rs: RuleSet): JsonObject {
  // Ids are per session; everything else is kept.
  return JSON.parse(JSON.stringify({ ...rs, mappings: rs.mappings.map(({ id: _id, ...m }) => m) })) as JsonObject;
}

export function exportDocument(rs: RuleSet, ctx: CompileContext): JsonObject {
  const manipulators = compileRuleSet(rs, ctx);
  return {
    title: rs.title,
    rules: manipulators.length ? [{ description: rs.title, manipulators }] : [],
    tarvel: { format: FORMAT, version: VERSION, ruleSet: ruleSetForSaving(rs) },
  };
}

/** A file name for the export: the title without characters file systems or shells trip over. */
export function exportFileName(title: string): string {
  const stem = title
    .normalize('NFC')
    .replace(/[\u0000-\u001f\u007f/\\:*?"<>|]+/g, '-')
    .replace(/\s+/g, ' ')
    .replace(/^[\s.-]+|[\s.]+$/g, '')
    .slice(0, 80)
    .trim();
  return `${stem || 'keymap'}.json`;
}

export type ImportResult =
  | { ok: true; ruleSet: RuleSet; raw: number }
  | { ok: false; error: 'json' | 'format' | 'malformed'; detail?: string };

/** Tarvel's own documents first; then Karabiner's importable documents and single rules. */
export function importDocument(text: string): ImportResult {
  let doc: unknown;
  try {
    doc = JSON.parse(text.replace(/^\uFEFF/, ''));
  } catch (e) {
    return { ok: false, error: 'json', detail: e instanceof Error ? e.message : String(e) };
  }
  if (!isObj(doc)) return { ok: false, error: 'format' };
  const own = isObj(doc.tarvel) ? doc.tarvel : doc.format === FORMAT ? doc : undefined;
  if (own) {
    if (own.format !== FORMAT || typeof own.version !== 'number' || own.version > VERSION) return { ok: false, error: 'format' };
    const rs = readRuleSet(own.ruleSet);
    return rs ? { ok: true, ruleSet: rs, raw: 0 } : { ok: false, error: 'malformed' };
  }
  let rules: unknown[];
  if (Array.isArray(doc.rules)) rules = doc.rules;
  else if (Array.isArray(doc.manipulators)) rules = [doc];
  else return { ok: false, error: 'format' };
  const mappings: Mapping[] = [];
  for (const rule of rules) {
    if (!isObj(rule) || !Array.isArray(rule.manipulators) || !rule.manipulators.every(isObj)) return { ok: false, error: 'malformed' };
    const label = isStr(rule.description) ? rule.description : undefined;
    for (const man of rule.manipulators) {
      const m = decompile(man as JsonObject, label);
      if (rule.enabled === false) m.enabled = false;
      mappings.push(m);
    }
  }
  const title = isStr(doc.title) ? doc.title
    : isStr(doc.description) ? doc.description
      : rules.length && isObj(rules[0]) && isStr(rules[0].description) ? rules[0].description : 'Imported';
  return { ok: true, ruleSet: { title, layout: 'us', mappings }, raw: mappings.filter((m) => m.kind === 'raw').length };
}

export const asJson = (v: unknown): Json => JSON.parse(JSON.stringify(v)) as Json;
