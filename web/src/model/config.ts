// karabiner.json as the native side reads it ("tarvelConfig"), and what an apply does to the chosen
// profile's rules: Tarvel's own rules ("[Tarvel] <title>: <name>") are replaced by the rule set,
// every other rule is kept unless the user drops it or brings it into the editor.
import { deepEqual, isObj, isStr, jsonDepth, type Json, type JsonObject } from './json';
import { LIMITS } from './limits';
import { appliedDescription, importRule, type ApplyRule } from './rules';
import type { DeviceRecord, LayoutName, Rule, RuleSet } from './types';

export const TARVEL_PREFIX = '[Tarvel] ';

export interface Failure { ok: false; error: string; code?: string; line?: number; column?: number }
export interface Profile {
  name: string | null; selected: boolean; rules: Json[]; devices: JsonObject[];
  /** What else in the profile shapes what a key does, as the file has it (empty when absent). */
  simpleModifications: JsonObject[]; fnFunctionKeys: JsonObject[]; parameters: JsonObject; deviceSettings: JsonObject[];
  keyboardType: string | null;
}
export interface BackupRule { description: string | null; enabled: boolean; manipulators: number }
export interface Backup { name: string; path: string; modified: string; size: number; rules?: BackupRule[]; error?: string }
export interface Configuration { path: string; digest: string; hasComments: boolean; profiles: Profile[]; backups: Backup[] }

const num = (v: unknown) => (typeof v === 'number' && Number.isFinite(v) ? v : undefined);

export function readFailure(o: Record<string, unknown>): Failure {
  const out: Failure = { ok: false, error: isStr(o.error) ? o.error : '' };
  if (isStr(o.code) && o.code) out.code = o.code;
  const line = num(o.line);
  const column = num(o.column);
  if (line !== undefined) out.line = line;
  if (column !== undefined) out.column = column;
  return out;
}

function readBackup(v: unknown): Backup | undefined {
  if (!isObj(v) || !isStr(v.name)) return undefined;
  const b: Backup = { name: v.name, path: isStr(v.path) ? v.path : v.name, modified: isStr(v.modified) ? v.modified : '', size: num(v.size) ?? 0 };
  if (Array.isArray(v.rules)) {
    b.rules = v.rules.filter(isObj).map((r) => ({
      description: isStr(r.description) ? r.description : null, enabled: r.enabled !== false, manipulators: num(r.manipulators) ?? 0,
    }));
  } else {
    b.error = isStr(v.error) ? v.error : '?';
  }
  return b;
}

/** The answer to "tarvelConfig", checked; anything without the expected shape is a failure. */
export function readConfiguration(v: unknown): Configuration | Failure {
  if (!isObj(v)) return { ok: false, error: String(JSON.stringify(v)) };
  if (v.ok !== true) return readFailure(v);
  if (!isStr(v.digest) || !Array.isArray(v.profiles)) return { ok: false, error: 'malformed configuration answer' };
  const profiles: Profile[] = v.profiles.filter(isObj).map((p) => ({
    name: isStr(p.name) ? p.name : null,
    selected: p.selected === true,
    // Indices into this list are what the apply's `keep` names: nothing is filtered out.
    rules: Array.isArray(p.rules) ? p.rules : [],
    devices: Array.isArray(p.devices) ? p.devices.filter(isObj) : [],
    simpleModifications: Array.isArray(p.simpleModifications) ? p.simpleModifications.filter(isObj) : [],
    fnFunctionKeys: Array.isArray(p.fnFunctionKeys) ? p.fnFunctionKeys.filter(isObj) : [],
    parameters: isObj(p.parameters) ? p.parameters : {},
    deviceSettings: Array.isArray(p.deviceSettings) ? p.deviceSettings.filter(isObj) : [],
    keyboardType: isStr(p.keyboardType) ? p.keyboardType : null,
  }));
  if (profiles.length && !profiles.some((p) => p.selected)) profiles[0].selected = true;
  const backups = Array.isArray(v.backups) ? v.backups.map(readBackup).filter((b): b is Backup => !!b) : [];
  return { path: isStr(v.path) ? v.path : '', digest: v.digest, hasComments: v.hasComments === true, profiles, backups };
}

/** When a backup was made, from its name ("karabiner.backup-yyyyMMdd-HHmmss[-N].json", local time).
 * Its file's own time is older: a backup is the replaced file itself, kept under a second name. */
export function backupMade(name: string): Date | undefined {
  const m = /^karabiner\.backup-(\d{4})(\d{2})(\d{2})-(\d{2})(\d{2})(\d{2})(?:-\d+)?\.json$/.exec(name);
  if (!m) return undefined;
  const [y, mo, d, h, mi, se] = m.slice(1).map(Number);
  const date = new Date(y, mo - 1, d, h, mi, se);
  return date.getMonth() === mo - 1 && date.getDate() === d ? date : undefined;
}

export const isFailure = (v: Configuration | Failure): v is Failure => (v as Failure).ok === false;

export const describe = (rule: Json): string | null => (isObj(rule) && isStr(rule.description) ? rule.description : null);
export const isOwn = (rule: Json): boolean => describe(rule)?.startsWith(TARVEL_PREFIX) ?? false;
export const ruleEnabled = (rule: Json): boolean => !isObj(rule) || rule.enabled !== false;
export const manipulatorsOf = (rule: Json): JsonObject[] => (isObj(rule) && Array.isArray(rule.manipulators) ? rule.manipulators.filter(isObj) : []);

export const selectedProfile = (c: Configuration): number => Math.max(0, c.profiles.findIndex((p) => p.selected));

/** The profile devices as the device fields list them. */
export const devicesOf = (p: Profile | undefined): DeviceRecord[] => (p?.devices ?? []).map((identifiers) => ({ identifiers }));

// 53 bits of a string (cyrb53): enough to tell rules apart, short enough to store.
function hash53(s: string): string {
  let h1 = 0xdeadbeef;
  let h2 = 0x41c6ce57;
  for (let i = 0; i < s.length; i++) {
    const ch = s.charCodeAt(i);
    h1 = Math.imul(h1 ^ ch, 2654435761);
    h2 = Math.imul(h2 ^ ch, 1597334677);
  }
  h1 = Math.imul(h1 ^ (h1 >>> 16), 2246822507) ^ Math.imul(h2 ^ (h2 >>> 13), 3266489909);
  h2 = Math.imul(h2 ^ (h2 >>> 16), 2246822507) ^ Math.imul(h1 ^ (h1 >>> 13), 3266489909);
  return (4294967296 * (2097151 & h2) + (h1 >>> 0)).toString(36);
}
// Key order and a redundant "enabled": true do not make another rule.
const canonical = (rule: Json): string => JSON.stringify(isObj(rule) && rule.enabled === true ? { ...rule, enabled: undefined } : rule, (_k, v: Json) => (
  isObj(v) ? Object.fromEntries(Object.keys(v).sort().map((k) => [k, v[k]])) : v));

const keyCache = new WeakMap<Json[], string[]>();
/**
 * Names each rule of a profile by its content, so that a choice made on it (dropped, brought into
 * the editor) holds while the rule is there unchanged, whatever else in the file is rewritten. A
 * rule that appears more than once is told apart by its occurrence.
 */
export function ruleKeys(rules: Json[]): string[] {
  let keys = keyCache.get(rules);
  if (keys) return keys;
  const seen = new Map<string, number>();
  keys = rules.map((r) => {
    const h = hash53(canonical(r));
    const n = seen.get(h) ?? 0;
    seen.set(h, n + 1);
    return n ? `${h}.${n}` : h;
  });
  keyCache.set(rules, keys);
  return keys;
}

export type RuleFate = 'tarvel' | 'keep' | 'drop' | 'editor';
/** The profile an apply changes and the rules of it that go (by `ruleKeys`). */
export interface Choices { profile: number; dropped: ReadonlySet<string> }

/** What an apply does with each rule of the chosen profile, in file order. */
export function fates(c: Configuration, choices: Choices, rs: RuleSet): RuleFate[] {
  const inEditor = new Set(rs.rules.map((r) => r.origin).filter(isStr));
  const rules = c.profiles[choices.profile]?.rules ?? [];
  const keys = ruleKeys(rules);
  return rules.map((rule, i) => {
    if (isOwn(rule)) return 'tarvel';
    if (inEditor.has(keys[i])) return 'editor';
    return choices.dropped.has(keys[i]) ? 'drop' : 'keep';
  });
}

/** The profile to use in a file read again: the one at the same place if it has the same name,
 * else the first of that name; undefined when there is none. */
export function sameProfile(c: Configuration, index: number, name: string | null): number | undefined {
  if (c.profiles[index] && c.profiles[index].name === name) return index;
  const at = c.profiles.findIndex((p) => p.name === name);
  return at >= 0 ? at : undefined;
}

/** The rule object an apply writes for one of Tarvel's rules, as the native side writes it. */
export const writtenRule = (title: string, r: ApplyRule): JsonObject => ({
  description: appliedDescription(title, r.name), ...(r.enabled ? {} : { enabled: false }), manipulators: r.manipulators,
});

const sameRule = (a: Json, b: Json): boolean => {
  if (!isObj(a) || !isObj(b)) return deepEqual(a, b);
  const norm = (r: JsonObject) => (r.enabled === true ? { ...r, enabled: undefined } : r);
  return deepEqual(norm(a), norm(b));
};

export interface Listed { description: string | null; enabled: boolean; manipulators: number; index?: number }
export interface Removed extends Listed { fate: Exclude<RuleFate, 'keep'> }
export interface Plan {
  /** Tarvel's rules that are new or differ from the installed ones. */
  added: Listed[];
  /** Tarvel's rules written again exactly as they are installed. */
  same: Listed[];
  kept: Listed[];
  removed: Removed[];
  /** Only the order changes (Tarvel's rules go first). */
  reordered: boolean;
  /** Every rule the file holds afterwards, in order: what runs. */
  result: Json[];
  keep: number[];
}

const listed = (rule: Json, index?: number): Listed => ({
  description: describe(rule), enabled: ruleEnabled(rule), manipulators: manipulatorsOf(rule).length, ...(index === undefined ? {} : { index }),
});

/** The chosen profile before and after an apply of `rules`. */
export function plan(c: Configuration, choices: Choices, rs: RuleSet, rules: ApplyRule[]): Plan {
  const current = c.profiles[choices.profile]?.rules ?? [];
  const fate = fates(c, choices, rs);
  const written = rules.map((r) => writtenRule(rs.title, r));
  const keep = fate.flatMap((f, i) => (f === 'keep' ? [i] : []));
  const result: Json[] = [...written, ...keep.map((i) => current[i])];
  // A written rule equal to an installed one of Tarvel's is neither added nor removed.
  const matched = new Set<number>();
  const added: Listed[] = [];
  const same: Listed[] = [];
  for (const w of written) {
    const at = current.findIndex((r, i) => fate[i] !== 'keep' && !matched.has(i) && sameRule(r, w));
    if (at >= 0) { matched.add(at); same.push(listed(w)); } else added.push(listed(w));
  }
  const removed = current.flatMap((r, i) => {
    const f = fate[i];
    return f === 'keep' || matched.has(i) ? [] : [{ ...listed(r, i), fate: f }];
  });
  const reordered = !added.length && !removed.length && !(result.length === current.length && result.every((r, i) => sameRule(r, current[i])));
  return { added, same, kept: keep.map((i) => listed(current[i], i)), removed, reordered, result, keep };
}

export const nothingToDo = (p: Plan): boolean => !p.added.length && !p.removed.length && !p.reordered;

/** The parts of the apply body that say what happens to the file: the digest read, the rules
 * kept, and the profile when it is not the one Karabiner-Elements uses. */
export function configBody(c: Configuration, choices: Choices, p: Plan): { baseDigest: string; keep: number[]; profile?: number } {
  const body: { baseDigest: string; keep: number[]; profile?: number } = { baseDigest: c.digest, keep: p.keep };
  if (choices.profile !== selectedProfile(c)) body.profile = choices.profile;
  return body;
}

/**
 * Title and rule names back from "[Tarvel] <title>: <name>" descriptions. Both may hold ": ", so
 * the title is the one they all share: the editor's own title when every description starts with
 * it, else the longest shared start. A single rule of the first version, "[Tarvel] <title>", is
 * named after its title.
 */
export function splitDescriptions(descriptions: string[], hint?: string): { title: string; names: string[] } {
  const rest = descriptions.map((d) => (d.startsWith(TARVEL_PREFIX) ? d.slice(TARVEL_PREFIX.length) : d));
  if (!rest.length) return { title: hint ?? '', names: [] };
  const fits = (title: string) => rest.every((r) => r.startsWith(`${title}: `) && r.length > title.length + 2);
  let title: string | undefined = hint !== undefined && fits(hint) ? hint : undefined;
  if (title === undefined && rest.length > 1) {
    for (let at = rest[0].indexOf(': '); at >= 0; at = rest[0].indexOf(': ', at + 1)) {
      if (fits(rest[0].slice(0, at))) title = rest[0].slice(0, at);
    }
  }
  if (title === undefined) {
    const at = rest[0].indexOf(': ');
    title = at >= 0 ? rest[0].slice(0, at) : rest[0];
  }
  const t = title;
  return { title: t, names: rest.map((r) => (r.startsWith(`${t}: `) ? r.slice(t.length + 2) : r)) };
}

/** Tarvel's installed rules as a rule set for the editor. */
export function ruleSetFromInstalled(rules: Json[], layout: LayoutName, hint?: string): RuleSet | undefined {
  const own = rules.filter((r): r is JsonObject => isObj(r) && isOwn(r));
  if (!own.length) return undefined;
  const { title, names } = splitDescriptions(own.map((r) => describe(r) as string), hint);
  return { title, layout, rules: own.map((r, i) => ({ ...importRule(r), name: names[i] })) };
}

/** A foreign rule as a rule of the editor's set, linked to where it came from; undefined when it
 * is nested too deep to be sent back (the apply body holds it two levels down). */
export function ruleFromInstalled(c: Configuration, profile: number, index: number): Rule | undefined {
  const raw = c.profiles[profile]?.rules[index];
  if (!isObj(raw) || jsonDepth(raw, LIMITS.depth) + 2 > LIMITS.depth) return undefined;
  const r = importRule(raw);
  return { ...r, origin: ruleKeys(c.profiles[profile].rules)[index] };
}
