// karabiner.json as the native side reads it ("tarvelConfig"), and the names that tell its rules
// apart by content. What an apply does with the chosen profile is profile.ts's.
import { isObj, isStr, type Json, type JsonObject } from './json';
import type { DeviceRecord } from './types';

export { TARVEL_PREFIX } from './rules';

export interface Failure { ok: false; error: string; code?: string; line?: number; column?: number }
export interface Profile {
  name: string | null; selected: boolean; rules: Json[]; devices: JsonObject[];
  /** What else in the profile shapes what a key does, as the file has it (empty when absent). */
  simpleModifications: JsonObject[]; fnFunctionKeys: JsonObject[]; parameters: JsonObject; deviceSettings: JsonObject[];
  keyboardType: string | null;
  /** Indices of the rules with comments around them (absent from an app that does not say). */
  commentedRules?: number[];
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
    ...(Array.isArray(p.commentedRules) ? { commentedRules: p.commentedRules.filter((i): i is number => typeof i === 'number' && Number.isInteger(i) && i >= 0) } : {}),
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

/** A rule's content as a short name: equal for rules that differ only in key order or a redundant
 * `"enabled": true`. */
export const contentKey = (rule: Json): string => hash53(canonical(rule));
/** The content part of a key from `ruleKeys` (without the occurrence number). */
export const keyContent = (key: string): string => key.split('.')[0];

const keyCache = new WeakMap<Json[], string[]>();
/**
 * Names each rule of a profile by its content, so that the editor's rule stays linked to it while
 * the rule is there unchanged, whatever else in the file is rewritten. A rule that appears more
 * than once is told apart by its occurrence ("<content>.<n>").
 */
export function ruleKeys(rules: Json[]): string[] {
  let keys = keyCache.get(rules);
  if (keys) return keys;
  const seen = new Map<string, number>();
  keys = rules.map((r) => {
    const h = contentKey(r);
    const n = seen.get(h) ?? 0;
    seen.set(h, n + 1);
    return n ? `${h}.${n}` : h;
  });
  keyCache.set(rules, keys);
  return keys;
}

/** The profile the apply changes. */
export interface Choices { profile: number }

/** The profile to use in a file read again: the one at the same place if it has the same name,
 * else the first of that name; undefined when there is none. */
export function sameProfile(c: Configuration, index: number, name: string | null): number | undefined {
  if (c.profiles[index] && c.profiles[index].name === name) return index;
  const at = c.profiles.findIndex((p) => p.name === name);
  return at >= 0 ? at : undefined;
}

/** One rule on a line: what the lists of rules show. */
export interface Listed { description: string | null; enabled: boolean; manipulators: number }
export const listed = (rule: Json): Listed => ({ description: describe(rule), enabled: ruleEnabled(rule), manipulators: manipulatorsOf(rule).length });
