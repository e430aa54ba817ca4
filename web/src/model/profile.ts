// The chosen profile of karabiner.json is the editor's document: every rule of it, in file order
// unless the user moves one, each linked to the rule it was read from (`origin`), and the rules
// made here. An apply states the profile's final rule list: a rule unchanged is kept byte for byte
// (by its index), a changed one is edited where it is, a new one is written new; the profile values
// the user changed go with it, and nothing else.
import { contentKey, describe, keyContent, ruleEnabled, ruleKeys, manipulatorsOf, type Profile } from './config';
import { deepEqual, isObj, jsonDepth, type Json, type JsonObject } from './json';
import { LIMITS } from './limits';
import { triggerKeys } from './manipulator';
import { importRule, ruleManipulators, writtenRule } from './rules';
import { findShadows, type Shadow, type SimRule } from './simulate';
import { newId, type Rule, type RuleSet, type ValueEdit, type ValuePath } from './types';

// ---- the document's rules ------------------------------------------------------------------------

const keyCache = new WeakMap<Rule, string>();
/** The content key of what an apply writes for this rule (see `contentKey`). */
export function writtenKey(r: Rule): string {
  let k = keyCache.get(r);
  if (k === undefined) keyCache.set(r, (k = contentKey(writtenRule(r))));
  return k;
}

/** New (made here or imported), the same as the installed rule it stands for, or changed. */
export type RuleState = 'new' | 'same' | 'changed';
export function ruleState(r: Rule): RuleState {
  if (r.origin === undefined) return 'new';
  if (r.fixed !== undefined) return 'same';
  return writtenKey(r) === keyContent(r.origin) ? 'same' : 'changed';
}

/** An installed rule as a rule of the document. One the editor cannot give back exactly (not a rule
 * object, odd members, nested too deep for an apply body to carry) stays fixed. */
export function installedRule(raw: Json, key: string): Rule {
  // body → ruleList → entry → rule
  if (isObj(raw) && Array.isArray(raw.manipulators) && jsonDepth(raw, LIMITS.depth) + 3 <= LIMITS.depth) {
    const r: Rule = { ...importRule(raw), origin: key };
    if (writtenKey(r) === keyContent(key)) return r;
  }
  return { id: newId('r'), name: describe(raw) ?? '', enabled: ruleEnabled(raw), mappings: [], origin: key, fixed: raw };
}

/** Whether a new rule has anything to write (Karabiner-Elements refuses a rule without manipulators). */
export const writable = (r: Rule): boolean => r.fixed !== undefined || ruleManipulators(r).length > 0;

/**
 * The document brought up to date with the profile as read: links to rules still there hold; a
 * rule whose installed rule is gone stays only if the user changed it (then as a new rule); a new
 * rule equal to an installed one that nothing stands for links to it (after an apply); every other
 * installed rule comes in near its place in the file, unless the user removed it. Profile values
 * the file now has are no longer edits. The same object when nothing changes.
 */
export function mergeDocument(rs: RuleSet, profile: Profile): RuleSet {
  const installed = profile.rules;
  const keys = ruleKeys(installed);
  const at = new Map(keys.map((k, i) => [k, i]));
  const taken: boolean[] = new Array(installed.length).fill(false);
  let changed = false;
  const list: { rule: Rule; idx?: number }[] = [];
  const loose: number[] = [];
  for (const r of rs.rules) {
    if (r.origin !== undefined) {
      const i = at.get(r.origin);
      if (i !== undefined && !taken[i]) {
        taken[i] = true;
        list.push({ rule: r, idx: i });
        continue;
      }
      changed = true;
      // Nothing of the user's in it: the file has the last word.
      if (r.fixed !== undefined || ruleState(r) === 'same') continue;
      const { origin: _gone, ...rest } = r;
      loose.push(list.length);
      list.push({ rule: rest });
    } else {
      if (writable(r)) loose.push(list.length);
      list.push({ rule: r });
    }
  }
  // After an apply the new and edited rules are in the file: the same content links up again.
  for (const p of loose) {
    const want = writtenKey(list[p].rule);
    const i = keys.findIndex((k, j) => !taken[j] && keyContent(k) === want);
    if (i < 0) continue;
    taken[i] = true;
    list[p] = { rule: { ...list[p].rule, origin: keys[i] }, idx: i };
    keyCache.set(list[p].rule, want);
    changed = true;
  }
  // Installed rules nothing stands for: after the nearest earlier one in the file that is in the
  // document, else before the nearest later one, else at the end.
  const removed = new Set(rs.removed ?? []);
  const posOf = new Map<number, number>();
  list.forEach((x, p) => { if (x.idx !== undefined) posOf.set(x.idx, p); });
  const after = new Map<number, Rule[]>();
  const before: Rule[] = [];
  const tail: Rule[] = [];
  const firstLinked = posOf.size ? Math.min(...posOf.keys()) : -1;
  let lastLinked = -1;
  for (let i = 0; i < installed.length; i++) {
    if (taken[i]) { lastLinked = i; continue; }
    if (removed.has(keys[i])) continue;
    changed = true;
    const rule = installedRule(installed[i], keys[i]);
    if (lastLinked >= 0) {
      const p = posOf.get(lastLinked) as number;
      const l = after.get(p);
      if (l) l.push(rule); else after.set(p, [rule]);
      // Rules inserted after an anchor follow each other in file order.
    } else if (firstLinked >= 0) before.push(rule);
    else tail.push(rule);
  }
  let rules = rs.rules;
  if (changed) {
    const anchor = firstLinked >= 0 ? posOf.get(firstLinked) : undefined;
    rules = [];
    list.forEach((x, p) => {
      if (p === anchor) rules.push(...before);
      rules.push(x.rule);
      const more = after.get(p);
      if (more) rules.push(...more);
    });
    rules.push(...tail);
  }
  const stillRemoved = (rs.removed ?? []).filter((k) => at.has(k) && !taken[at.get(k) as number]);
  const values = (rs.values ?? []).flatMap((e) => {
    const path = currentPath(profile, e);
    return path && !deepEqual(e.value, fileValue(profile, path)) ? [path === e.path ? e : { ...e, path }] : [];
  });
  const valuesChanged = values.length !== (rs.values ?? []).length || values.some((v, i) => v !== rs.values?.[i]);
  if (!changed && !valuesChanged && stillRemoved.length === (rs.removed ?? []).length) return rs;
  const out: RuleSet = { ...rs, rules };
  if (stillRemoved.length) out.removed = stillRemoved; else delete out.removed;
  if (values.length) out.values = values; else delete out.values;
  return out;
}

/** A profile's rules as a document of its own (another profile chosen, nothing saved). */
export const documentFromProfile = (profile: Profile, base: Omit<RuleSet, 'rules'>): RuleSet =>
  mergeDocument({ title: base.title, layout: base.layout, ...(base.extra ? { extra: base.extra } : {}), rules: [] }, profile);

// ---- the profile's values ------------------------------------------------------------------------

const EMPTY_LIST: Json[] = [];
const EMPTY_OBJECT: JsonObject = {};
/** A value as the file has it; an absent list or object counts as empty. */
export function fileValue(p: Profile, path: ValuePath): Json {
  if (path[0] === 'simple_modifications') return p.simpleModifications;
  if (path[0] === 'fn_function_keys') return p.fnFunctionKeys;
  if (path[0] === 'complex_modifications') return p.parameters;
  const v = p.deviceSettings[path[1]]?.[path[2]];
  return Array.isArray(v) ? v : EMPTY_LIST;
}
/** The value the document holds: the user's edit, else the file's. */
export function docValue(rs: RuleSet, p: Profile, path: ValuePath): Json {
  const k = JSON.stringify(path);
  const e = rs.values?.find((x) => JSON.stringify(x.path) === k);
  return e ? e.value : fileValue(p, path);
}
export const listValue = (v: Json): JsonObject[] => (Array.isArray(v) ? v.filter(isObj) : []);
export const objectValue = (v: Json): JsonObject => (isObj(v) ? v : EMPTY_OBJECT);

/** The document with one profile value set; `device` names the device a per-device value is for,
 * so that the edit follows it if the file's devices move. */
export function withValue(rs: RuleSet, path: ValuePath, value: Json, device?: JsonObject): RuleSet {
  const k = JSON.stringify(path);
  const rest = (rs.values ?? []).filter((x) => JSON.stringify(x.path) !== k);
  const edit: ValueEdit = { path, value, ...(device ? { device } : {}) };
  return { ...rs, values: [...rest, edit] };
}

/** Where an edit applies in this profile: a per-device edit finds its device again by identifiers. */
function currentPath(p: Profile, e: ValueEdit): ValuePath | undefined {
  if (e.path[0] !== 'devices') return e.path;
  if (!e.device) return p.deviceSettings[e.path[1]] ? e.path : undefined;
  const same = (i: number) => deepEqual(p.deviceSettings[i]?.identifiers, e.device);
  if (same(e.path[1])) return e.path;
  const i = p.deviceSettings.findIndex((_, j) => same(j));
  return i < 0 ? undefined : ['devices', i, e.path[2]];
}

export interface ValueChange { path: ValuePath; value: Json; before: Json }

// ---- what an apply does ----------------------------------------------------------------------------

export type RuleListEntry = { keep: number } | { edit: number; rule: Json } | { rule: Json };
export interface Step {
  kind: 'added' | 'changed' | 'kept';
  rule: Rule;
  /** What the profile holds afterwards. */
  content: Json;
  /** The installed rule's index, for a rule that stays. */
  index?: number;
  /** Its place afterwards. */
  position: number;
  /** Moved against the rules around it (not on the longest run that keeps the file's order). */
  moved: boolean;
}
export interface Gone { index: number; rule: Json }
export interface ProfilePlan {
  steps: Step[];
  removed: Gone[];
  ruleList: RuleListEntry[];
  values: ValueChange[];
  /** Manipulators in the rules written anew (added and changed): what the size limit counts. */
  written: number;
}

/** The indices that stay in order: one longest increasing run (patience sorting). */
function increasingRun(xs: number[]): Set<number> {
  const tails: number[] = [];
  const prev: number[] = new Array(xs.length).fill(-1);
  xs.forEach((x, i) => {
    let lo = 0;
    let hi = tails.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (xs[tails[mid]] < x) lo = mid + 1; else hi = mid;
    }
    if (lo > 0) prev[i] = tails[lo - 1];
    tails[lo] = i;
  });
  const out = new Set<number>();
  for (let i = tails.length ? tails[tails.length - 1] : -1; i >= 0; i = prev[i]) out.add(i);
  return out;
}

/** The chosen profile before and after an apply of the document. */
export function profilePlan(rs: RuleSet, profile: Profile): ProfilePlan {
  const installed = profile.rules;
  const keys = ruleKeys(installed);
  const at = new Map(keys.map((k, i) => [k, i]));
  const used = new Set<number>();
  const steps: Step[] = [];
  for (const r of rs.rules) {
    const i = r.origin !== undefined ? at.get(r.origin) : undefined;
    if (i !== undefined && !used.has(i)) {
      used.add(i);
      const same = ruleState(r) === 'same';
      steps.push({ kind: same ? 'kept' : 'changed', rule: r, content: same ? installed[i] : writtenRule(r), index: i, position: steps.length, moved: false });
    } else if (r.fixed === undefined && writable(r)) {
      steps.push({ kind: 'added', rule: r, content: writtenRule(r), position: steps.length, moved: false });
    }
  }
  const staying = steps.filter((s) => s.index !== undefined);
  const inOrder = increasingRun(staying.map((s) => s.index as number));
  staying.forEach((s, j) => { if (!inOrder.has(j)) s.moved = true; });
  const removed = installed.flatMap((rule, index) => (used.has(index) ? [] : [{ index, rule }]));
  const ruleList = steps.map((s): RuleListEntry => (
    s.kind === 'kept' ? { keep: s.index as number } : s.kind === 'changed' ? { edit: s.index as number, rule: s.content } : { rule: s.content }));
  const values = (rs.values ?? []).flatMap((e) => {
    const before = fileValue(profile, e.path);
    return deepEqual(e.value, before) ? [] : [{ path: e.path, value: e.value, before }];
  });
  const written = steps.reduce((n, s) => n + (s.kind === 'kept' ? 0 : manipulatorsOf(s.content).length), 0);
  return { steps, removed, ruleList, values, written };
}

export const nothingToDo = (p: ProfilePlan): boolean =>
  !p.removed.length && !p.values.length && p.steps.every((s) => s.kind === 'kept' && !s.moved);

export const added = (p: ProfilePlan) => p.steps.filter((s) => s.kind === 'added');
export const changedSteps = (p: ProfilePlan) => p.steps.filter((s) => s.kind === 'changed');
export const movedSteps = (p: ProfilePlan) => p.steps.filter((s) => s.moved);
export const keptSteps = (p: ProfilePlan) => p.steps.filter((s) => s.kind === 'kept' && !s.moved);

/** Where the comments around a removed rule are kept (the writer's rule): before the next rule of
 * the file that stays, else after the previous one, else at the start of the rules. */
export interface CommentPlace { index: number; rule: Json; before?: Step; after?: Step }
export function commentPlaces(p: ProfilePlan, commented: readonly number[] | undefined): CommentPlace[] {
  if (!commented?.length) return [];
  const marked = new Set(commented);
  const stays = p.steps.filter((s) => s.index !== undefined).sort((a, b) => (a.index as number) - (b.index as number));
  return p.removed.filter((g) => marked.has(g.index)).map((g) => {
    const next = stays.find((s) => (s.index as number) > g.index);
    if (next) return { ...g, before: next };
    const prev = stays.filter((s) => (s.index as number) < g.index).pop();
    return prev ? { ...g, after: prev } : { ...g };
  });
}

// ---- which manipulator takes a key ---------------------------------------------------------------

/** The only question asked of the simulator here: which earlier manipulator always takes another's
 * key first. */
const alwaysTakenBy = (rules: readonly SimRule[]): Shadow[] => findShadows(rules);

export interface WinnerChange { key: string; now: string; before: string }

const manText = new WeakMap<JsonObject, string>();
const textOf = (m: JsonObject): string => {
  let s = manText.get(m);
  if (s === undefined) manText.set(m, (s = JSON.stringify(m)));
  return s;
};
/** Each manipulator of a rule list named by the rule it stays with and its content. */
function named(rules: { id: string; content: Json }[]): { sim: SimRule[]; ids: string[][] } {
  const sim: SimRule[] = [];
  const ids: string[][] = [];
  for (const r of rules) {
    const ms = manipulatorsOf(r.content);
    const seen = new Map<string, number>();
    ids.push(ms.map((m) => {
      const text = textOf(m);
      const n = seen.get(text) ?? 0;
      seen.set(text, n + 1);
      return `${r.id}|${n}|${text}`;
    }));
    sim.push({ name: describe(r.content) ?? '', enabled: ruleEnabled(r.content), manipulators: ms });
  }
  return { sim, ids };
}
function winners(rules: { id: string; content: Json }[]): { win: Map<string, string>; live: Set<string>; rule: Map<string, string>; man: Map<string, JsonObject> } {
  const { sim, ids } = named(rules);
  const win = new Map<string, string>();
  for (const s of alwaysTakenBy(sim)) win.set(ids[s.rule][s.manipulator], ids[s.byRule][s.byManipulator]);
  const live = new Set<string>();
  const rule = new Map<string, string>();
  const man = new Map<string, JsonObject>();
  sim.forEach((r, i) => r.manipulators.forEach((m, j) => {
    if (r.enabled) live.add(ids[i][j]);
    rule.set(ids[i][j], r.name);
    man.set(ids[i][j], m);
  }));
  return { win, live, rule, man };
}

/**
 * Keys whose manipulator changes with the apply although both manipulators are there before and
 * after: a move, a rule turned on or off, a new rule put before an old one.
 */
export function winnerChanges(installed: Json[], p: ProfilePlan): WinnerChange[] {
  const b = winners(installed.map((content, i) => ({ id: `i${i}`, content })));
  const a = winners(p.steps.map((s, j) => ({ id: s.index !== undefined ? `i${s.index}` : `n${j}`, content: s.content })));
  const out: WinnerChange[] = [];
  const seen = new Set<string>();
  for (const id of a.live) {
    if (!b.live.has(id)) continue;
    const was = b.win.get(id) ?? id;
    const now = a.win.get(id) ?? id;
    if (was === now || (was !== id && !a.live.has(was))) continue;
    const key = triggerKeys(a.man.get(id) as JsonObject)[0] ?? '';
    const change = { key, now: a.rule.get(now) ?? '', before: b.rule.get(was) ?? '' };
    const k = JSON.stringify(change);
    if (!seen.has(k)) { seen.add(k); out.push(change); }
  }
  return out;
}

/** New rules go first, as Karabiner-Elements adds them, after the other rules made here. */
export function withNewRules(rs: RuleSet, rules: Rule[]): RuleSet {
  if (!rules.length) return rs;
  let at = 0;
  while (at < rs.rules.length && rs.rules[at].origin === undefined) at++;
  return { ...rs, rules: [...rs.rules.slice(0, at), ...rules, ...rs.rules.slice(at)] };
}
