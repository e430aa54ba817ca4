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

// ---- changes made outside --------------------------------------------------------------------------

/** What another program did to a profile's rules between two reads: indices into `after` for rules
 * added, into `before` for rules removed, and [before, after] for a rule whose content changed. */
export interface OutsideChanges { added: number[]; removed: number[]; changed: [number, number][] }

/**
 * A rule whose content is in both reads is the same rule, wherever it went. Of the rest, a rule gone
 * and a rule come are one rule changed when they have the same description, or the same manipulators
 * after the same unchanged rule (renamed where it stands); the others were removed or added.
 */
export function outsideChanges(before: readonly Json[], after: readonly Json[]): OutsideChanges {
  const kb = ruleKeys(before as Json[]);
  const ka = ruleKeys(after as Json[]);
  const inBefore = new Set(kb);
  const inAfter = new Set(ka);
  const come = ka.flatMap((k, j) => (inBefore.has(k) ? [] : [j]));
  const free = new Set(come);
  const changed: [number, number][] = [];
  const rest: number[] = [];
  for (let i = 0; i < kb.length; i++) {
    if (inAfter.has(kb[i])) continue;
    const d = describe(before[i]);
    const j = d ? come.find((x) => free.has(x) && describe(after[x]) === d) : undefined;
    if (j === undefined) { rest.push(i); continue; }
    free.delete(j);
    changed.push([i, j]);
  }
  const anchor = (keys: string[], shared: Set<string>, i: number): string => {
    for (let k = i - 1; k >= 0; k--) if (shared.has(keys[k])) return keys[k];
    return '';
  };
  const removed: number[] = [];
  const byAnchor = new Map<string, number[]>();
  for (const j of come) {
    if (!free.has(j)) continue;
    const a = anchor(ka, inBefore, j);
    const l = byAnchor.get(a);
    if (l) l.push(j); else byAnchor.set(a, [j]);
  }
  for (const i of rest) {
    const here = byAnchor.get(anchor(kb, inAfter, i)) ?? [];
    const k = here.findIndex((j) => deepEqual(manipulatorsOf(after[j]), manipulatorsOf(before[i])));
    if (k < 0) { removed.push(i); continue; }
    const [j] = here.splice(k, 1);
    free.delete(j);
    changed.push([i, j]);
  }
  changed.sort((x, y) => x[1] - y[1]);
  return { added: come.filter((j) => free.has(j)), removed, changed };
}

/** The profile as an apply of `plan` leaves it, for telling that apply's own change from others'. */
export function expectedProfile(p: Profile, plan: ProfilePlan): Profile {
  const out: Profile = { ...p, rules: plan.steps.map((s) => s.content), deviceSettings: [...p.deviceSettings] };
  for (const v of plan.values) {
    if (v.path[0] === 'simple_modifications') out.simpleModifications = listValue(v.value);
    else if (v.path[0] === 'fn_function_keys') out.fnFunctionKeys = listValue(v.value);
    else if (v.path[0] === 'complex_modifications') out.parameters = objectValue(v.value);
    else if (out.deviceSettings[v.path[1]]) out.deviceSettings[v.path[1]] = { ...out.deviceSettings[v.path[1]], [v.path[2]]: v.value };
  }
  return out;
}

/**
 * The document brought up to date with the profile as read; `before` is the profile the document
 * was last brought up to date with (or what the last apply wrote), when known. Links to rules still
 * there hold. A rule changed in the file takes the new content where it stands, unless the user
 * changed it too: then the user's content stays, linked to the file's new rule and marked, and
 * nothing of it is sent until the user chooses (`outside`). A rule gone from the file goes, unless
 * the user changed it: then it stays as a new rule, marked. Without `before`, a rule changed in the
 * file is found by its description. A new rule equal to an installed one that nothing stands for
 * links to it (after an apply); every other installed rule comes in near its place in the file,
 * unless the user removed it (marked, when the file changed it since). Profile values the file now
 * has are no longer edits; one the file changed while the user changed it too is marked. The same
 * object when nothing changes.
 */
export function mergeDocument(rs: RuleSet, profile: Profile, before?: Profile): RuleSet {
  const installed = profile.rules;
  const keys = ruleKeys(installed);
  const at = new Map(keys.map((k, i) => [k, i]));
  const taken: boolean[] = new Array(installed.length).fill(false);
  // Installed rules a rule of the document stands for: never another rule's successor.
  const linked = new Set<number>();
  for (const r of rs.rules) {
    const i = r.origin === undefined ? undefined : at.get(r.origin);
    if (i !== undefined) linked.add(i);
  }
  // What each rule of the last read became, when it changed.
  const became = new Map<string, number>();
  if (before) {
    const bk = ruleKeys(before.rules);
    for (const [i, j] of outsideChanges(before.rules, installed).changed) if (!linked.has(j)) became.set(bk[i], j);
  }
  const successor = (r: Rule): number | undefined => {
    const j = before ? became.get(r.origin as string) : installed.findIndex((x, k) => !linked.has(k) && !taken[k] && describe(x) === r.name);
    return j === undefined || j < 0 || taken[j] ? undefined : j;
  };
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
      const mine = r.fixed === undefined && ruleState(r) !== 'same';
      const j = successor(r);
      if (j !== undefined) {
        taken[j] = true;
        const { outside: _o, ...rest } = r;
        let rule: Rule;
        if (!mine) rule = { ...installedRule(installed[j], keys[j]), id: r.id };
        else if (writtenKey(r) === keyContent(keys[j])) rule = { ...rest, origin: keys[j] };
        else rule = { ...r, origin: keys[j], outside: 'changed' };
        list.push({ rule, idx: j });
        continue;
      }
      if (!mine) continue;
      const { origin: _gone, ...rest } = r;
      loose.push(list.length);
      list.push({ rule: { ...rest, outside: 'removed' } });
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
    const { outside: _o, ...rest } = list[p].rule;
    list[p] = { rule: { ...rest, origin: keys[i] }, idx: i };
    keyCache.set(list[p].rule, want);
    changed = true;
  }
  // Installed rules nothing stands for: after the nearest earlier one in the file that is in the
  // document, else before the nearest later one, else at the end. One the user removed stays out;
  // when the file changed it since, it comes back, marked.
  const removed = new Set(rs.removed ?? []);
  const returned = new Set<number>();
  for (const k of removed) { const j = became.get(k); if (j !== undefined) returned.add(j); }
  const posOf = new Map<number, number>();
  list.forEach((x, p) => { if (x.idx !== undefined) posOf.set(x.idx, p); });
  const after = new Map<number, Rule[]>();
  const ahead: Rule[] = [];
  const tail: Rule[] = [];
  const firstLinked = posOf.size ? Math.min(...posOf.keys()) : -1;
  let lastLinked = -1;
  for (let i = 0; i < installed.length; i++) {
    if (taken[i]) { lastLinked = i; continue; }
    if (removed.has(keys[i])) continue;
    changed = true;
    const rule = installedRule(installed[i], keys[i]);
    if (returned.has(i)) rule.outside = 'returned';
    if (lastLinked >= 0) {
      const p = posOf.get(lastLinked) as number;
      const l = after.get(p);
      if (l) l.push(rule); else after.set(p, [rule]);
      // Rules inserted after an anchor follow each other in file order.
    } else if (firstLinked >= 0) ahead.push(rule);
    else tail.push(rule);
  }
  let rules = rs.rules;
  if (changed) {
    const anchor = firstLinked >= 0 ? posOf.get(firstLinked) : undefined;
    rules = [];
    list.forEach((x, p) => {
      if (p === anchor) rules.push(...ahead);
      rules.push(x.rule);
      const more = after.get(p);
      if (more) rules.push(...more);
    });
    rules.push(...tail);
  }
  const stillRemoved = (rs.removed ?? []).filter((k) => at.has(k) && !taken[at.get(k) as number]);
  const values = (rs.values ?? []).flatMap((e) => {
    const path = currentPath(profile, e);
    if (!path) return [];
    const now = fileValue(profile, path);
    if (deepEqual(e.value, now)) return [];
    const was = before && !e.outside ? currentPath(before, e) : undefined;
    const outside = was !== undefined && !deepEqual(fileValue(before as Profile, was), now);
    return [path === e.path && !outside ? e : { ...e, path, ...(outside ? { outside } : {}) }];
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
    if (r.outside === 'removed') continue;
    if (i !== undefined && !used.has(i)) {
      used.add(i);
      // Changed on both sides: the file's rule stays as it is until the user chooses.
      const same = ruleState(r) === 'same' || r.outside !== undefined;
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
    return e.outside || deepEqual(e.value, before) ? [] : [{ path: e.path, value: e.value, before }];
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
