// Files in and out. Import takes Tarvel's own files, Karabiner-Elements rule documents, single rules
// and karabiner.json (the selected profile's rules), and keeps every rule exactly; export writes a
// document Karabiner-Elements imports, with Tarvel's rule set alongside under "tarvel".
import { classifyOne, FORMS } from './forms';
import { isObj, isStr, jsonDepth, utf8Length, type JsonObject } from './json';
import { readLegacyRuleSet } from './legacy';
import { LIMITS, type LimitCode } from './limits';
import { exportRule, importRule } from './rules';
import type { FormKind, LayoutName, Mapping, Rule, RuleSet, ValueEdit, ValuePath } from './types';
import { newId } from './types';

export const FORMAT = 'tarvel-ruleset';
export const VERSION = 2;

export function ruleSetForSaving(rs: RuleSet): JsonObject {
  const rules = rs.rules.map((r) => {
    const out: JsonObject = { name: r.name, enabled: r.enabled };
    if (r.enabledField) out.enabledField = true;
    if (r.undescribed) out.undescribed = true;
    if (r.extra) out.extra = r.extra;
    if (r.origin) out.origin = r.origin;
    if (r.fixed !== undefined) out.fixed = r.fixed;
    if (r.outside) out.outside = r.outside;
    if (r.autoName) out.autoName = true;
    out.mappings = r.mappings.map((m) => ({ enabled: m.enabled, form: m.form, manipulators: m.manipulators }));
    return out;
  });
  const out: JsonObject = { title: rs.title, layout: rs.layout, rules };
  if (rs.extra) out.extra = rs.extra;
  if (rs.removed?.length) out.removed = rs.removed;
  if (rs.values?.length) out.values = rs.values.map((v) => ({ path: v.path, value: v.value, ...(v.device ? { device: v.device } : {}), ...(v.outside ? { outside: true } : {}) }));
  if (rs.opener) out.opener = rs.opener;
  return out;
}

function readMapping(v: unknown): Mapping | undefined {
  if (!isObj(v) || typeof v.enabled !== 'boolean' || !Array.isArray(v.manipulators)) return undefined;
  const manipulators = v.manipulators as JsonObject[];
  // The form is checked against the manipulators when the mapping is opened (see formShown).
  const form = (FORMS as unknown[]).includes(v.form) ? v.form as FormKind : manipulators.length === 1 && isObj(manipulators[0]) ? classifyOne(manipulators[0]) : 'raw';
  return { id: newId(), enabled: v.enabled, form, manipulators };
}

function readRule(v: unknown): Rule | undefined {
  if (!isObj(v) || !isStr(v.name) || typeof v.enabled !== 'boolean' || !Array.isArray(v.mappings)) return undefined;
  if (v.extra !== undefined && !isObj(v.extra)) return undefined;
  const mappings: Mapping[] = [];
  for (const m of v.mappings) {
    const r = readMapping(m);
    if (!r) return undefined;
    mappings.push(r);
  }
  const rule: Rule = { id: newId('r'), name: v.name, enabled: v.enabled, mappings };
  if (v.enabledField === true) rule.enabledField = true;
  if (v.undescribed === true) rule.undescribed = true;
  if (isObj(v.extra)) rule.extra = v.extra;
  if (isStr(v.origin)) rule.origin = v.origin;
  if (v.fixed !== undefined && rule.origin !== undefined) rule.fixed = v.fixed;
  if (v.outside === 'changed' || v.outside === 'removed' || v.outside === 'returned') rule.outside = v.outside;
  if (v.autoName === true) rule.autoName = true;
  return rule;
}

/** A rule set from saved state or a Tarvel file; the first version's form is converted. */
export function readRuleSet(v: unknown, helperPath?: string): RuleSet | undefined {
  if (!isObj(v) || !isStr(v.title)) return undefined;
  if (jsonDepth(v, LIMITS.depth + 8) > LIMITS.depth + 8) return undefined;
  if (Array.isArray(v.mappings)) return readLegacyRuleSet(v, helperPath);
  if (!Array.isArray(v.rules)) return undefined;
  const layout: LayoutName | undefined = v.layout === 'jis' ? 'jis' : v.layout === 'us' || v.layout === undefined ? 'us' : undefined;
  if (!layout || (v.extra !== undefined && !isObj(v.extra))) return undefined;
  const rules: Rule[] = [];
  for (const r of v.rules) {
    const rule = readRule(r);
    if (!rule) return undefined;
    rules.push(rule);
  }
  const rs: RuleSet = { title: v.title, layout, rules };
  if (isObj(v.extra)) rs.extra = v.extra;
  if (Array.isArray(v.removed)) {
    const removed = v.removed.filter(isStr);
    if (removed.length) rs.removed = removed;
  }
  if (Array.isArray(v.values)) {
    const values = v.values.flatMap((e): ValueEdit[] => {
      const path = isObj(e) ? valuePath(e.path) : undefined;
      return path && isObj(e) && e.value !== undefined ? [{ path, value: e.value, ...(isObj(e.device) ? { device: e.device } : {}), ...(e.outside === true ? { outside: true } : {}) }] : [];
    });
    if (values.length) rs.values = values;
  }
  if (v.opener === 'helper' || v.opener === 'engine') rs.opener = v.opener;
  return rs;
}

/** One of the five places in a profile an apply may set, or undefined. */
export function valuePath(v: unknown): ValuePath | undefined {
  if (!Array.isArray(v)) return undefined;
  const [a, b, c] = v as unknown[];
  if (v.length === 1 && (a === 'simple_modifications' || a === 'fn_function_keys')) return [a];
  if (v.length === 2 && a === 'complex_modifications' && b === 'parameters') return [a, b];
  if (v.length === 3 && a === 'devices' && typeof b === 'number' && Number.isInteger(b) && b >= 0 && (c === 'simple_modifications' || c === 'fn_function_keys')) return [a, b, c];
  return undefined;
}

export function exportDocument(rs: RuleSet): JsonObject {
  const rules = rs.rules.map(exportRule).filter((r) => (r.manipulators as unknown[]).length > 0);
  return { title: rs.title, ...(rs.extra ?? {}), rules, tarvel: { format: FORMAT, version: VERSION, ruleSet: ruleSetForSaving(rs) } };
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

/** JSON with line and block comments, as Karabiner-Elements reads its own file: comments become
 * spaces, a line comment ends at CR, LF or NUL, and a NUL outside strings and comments ends the
 * document. What its reader refuses (an unclosed block comment, a NUL inside one) throws. */
export function stripComments(text: string): string {
  let out = '';
  let i = 0;
  while (i < text.length) {
    const c = text[i];
    if (c === '\0') break;
    if (c === '"') {
      let j = i + 1;
      while (j < text.length && text[j] !== '"') j += text[j] === '\\' ? 2 : 1;
      out += text.slice(i, j + 1);
      i = j + 1;
    } else if (c === '/' && text[i + 1] === '/') {
      i += 2;
      while (i < text.length && text[i] !== '\n' && text[i] !== '\r' && text[i] !== '\0') i++;
      if (text[i] === '\0') i++; // the NUL ends the comment and is read as its end
      out += ' ';
    } else if (c === '/' && text[i + 1] === '*') {
      const end = text.indexOf('*/', i + 2);
      const nul = text.indexOf('\0', i + 2);
      if (end < 0 || (nul >= 0 && nul < end)) throw new SyntaxError("invalid comment; missing closing '*/'");
      i = end + 2;
      out += ' ';
    } else {
      out += c;
      i++;
    }
  }
  return out;
}

export type ImportError = 'json' | 'format' | 'malformed' | LimitCode;
export type ImportResult =
  | { ok: true; ruleSet: RuleSet; kind: 'tarvel' | 'document' | 'rule' | 'configuration' }
  | { ok: false; error: ImportError; detail?: string; value?: number; limit?: number };

function selectedRules(doc: JsonObject): { name: string; rules: unknown } | undefined {
  const profiles = (doc.profiles as unknown[]).filter(isObj);
  const p = profiles.find((x) => x.selected === true) ?? profiles[0];
  if (!p) return undefined;
  const cm = isObj(p.complex_modifications) ? p.complex_modifications : {};
  return { name: isStr(p.name) ? p.name : 'Karabiner-Elements', rules: cm.rules ?? [] };
}

/** Reads a file the user chose. Nothing is kept when any part of it is refused. */
export function importDocument(text: string, helperPath?: string): ImportResult {
  const bytes = utf8Length(text);
  if (bytes > LIMITS.bytes) return { ok: false, error: 'tooLarge', value: bytes, limit: LIMITS.bytes };
  const body = text.replace(/^\uFEFF/, '');
  let doc: unknown;
  try {
    doc = JSON.parse(body);
  } catch (e) {
    try {
      doc = JSON.parse(stripComments(body));
    } catch {
      return { ok: false, error: 'json', detail: e instanceof Error ? e.message : String(e) };
    }
  }
  if (!isObj(doc)) return { ok: false, error: 'format' };
  const own = isObj(doc.tarvel) ? doc.tarvel : doc.format === FORMAT ? doc : undefined;
  if (own) {
    if (own.format !== FORMAT || typeof own.version !== 'number' || own.version > VERSION) return { ok: false, error: 'format' };
    const rs = readRuleSet(own.ruleSet, helperPath);
    return rs ? { ok: true, ruleSet: rs, kind: 'tarvel' } : { ok: false, error: 'malformed' };
  }
  let rules: unknown;
  let title: string;
  let extra: JsonObject | undefined;
  let kind: 'document' | 'rule' | 'configuration';
  if (Array.isArray(doc.profiles)) {
    const sel = selectedRules(doc);
    if (!sel) return { ok: false, error: 'format' };
    ({ rules, name: title } = sel);
    kind = 'configuration';
  } else if (Array.isArray(doc.rules)) {
    rules = doc.rules;
    title = isStr(doc.title) ? doc.title : isStr(doc.description) ? doc.description : '';
    const { title: _t, rules: _r, ...rest } = doc;
    if (Object.keys(rest).length) extra = rest;
    kind = 'document';
  } else if (Array.isArray(doc.manipulators)) {
    rules = [doc];
    title = isStr(doc.description) ? doc.description : '';
    kind = 'rule';
  } else {
    return { ok: false, error: 'format' };
  }
  if (!Array.isArray(rules) || !rules.every((r) => isObj(r) && Array.isArray(r.manipulators))) return { ok: false, error: 'malformed' };
  // The apply body nests the rules one level deeper than they sit here.
  const depth = Math.max(jsonDepth(rules, LIMITS.depth), extra ? jsonDepth(extra, LIMITS.depth) : 0);
  if (depth > LIMITS.depth - 1) return { ok: false, error: 'tooDeep', value: depth + 1, limit: LIMITS.depth };
  const count = (rules as JsonObject[]).reduce((n, r) => n + (r.manipulators as unknown[]).length, 0);
  if (count > LIMITS.manipulators) return { ok: false, error: 'tooManyManipulators', value: count, limit: LIMITS.manipulators };
  const imported = (rules as JsonObject[]).map(importRule);
  if (!title) title = imported[0]?.name || 'Imported';
  const rs: RuleSet = { title, layout: 'us', rules: imported };
  if (extra) rs.extra = extra;
  return { ok: true, ruleSet: rs, kind };
}

export interface DocumentFigures { rules: number; manipulators: number; inForms: number; byForm: Record<FormKind, number> }

/** How many manipulators of a rule set open in each form. */
export function formFigures(rs: RuleSet): DocumentFigures {
  const byForm = Object.fromEntries(FORMS.map((f) => [f, 0])) as Record<FormKind, number>;
  let manipulators = 0;
  for (const r of rs.rules) for (const m of r.mappings) {
    byForm[m.form] += m.manipulators.length;
    manipulators += m.manipulators.length;
  }
  return { rules: rs.rules.length, manipulators, inForms: manipulators - byForm.raw, byForm };
}
