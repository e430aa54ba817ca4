// Rules tried before they are added (from the gallery): put into the profile's rules where they
// would be added, and what that does to the never-fire findings on either side.
import type { JsonObject } from './json';
import { layersOf, triggerKeys } from './manipulator';
import { findShadows, type ProfileSettings, type Shadow, type SimRule } from './simulate';
import type { Rule } from './types';

/** A rule of the editor as the simulator takes it; `tried` marks one that is not in the document. */
export function simRuleOf(r: Rule, tried = false): SimRule {
  const on = r.mappings.filter((m) => m.enabled);
  return {
    name: r.name, enabled: r.enabled, manipulators: on.flatMap((m) => m.manipulators), mappingIds: on.flatMap((m) => m.manipulators.map(() => m.id)),
    ...(tried ? { tried: true } : {}),
  };
}

/** The profile's rules with the tried ones at `at` (clamped to the list). */
export function withTrial(rules: readonly SimRule[], tried: readonly SimRule[], at: number): SimRule[] {
  const i = Math.max(0, Math.min(at, rules.length));
  return [...rules.slice(0, i), ...tried, ...rules.slice(i)];
}

export interface TrialFindings {
  /** The rules as tried: `withTrial`'s list, which the findings' indices are into. */
  rules: SimRule[];
  /** Manipulators of the tried rules that would never fire, and what takes their keys first. */
  shadowed: Shadow[];
  /** Manipulators of the profile that the tried rules would keep from ever firing. */
  shadows: Shadow[];
}

/** What trying `tried` at `at` finds: what never fires among them, and what of the rest they shadow. */
export function trialFindings(rules: readonly SimRule[], tried: readonly SimRule[], at: number, profile?: ProfileSettings): TrialFindings {
  const all = withTrial(rules, tried, at);
  const from = Math.max(0, Math.min(at, rules.length));
  const to = from + tried.length;
  const mine = (rule: number) => rule >= from && rule < to;
  const shadowed: Shadow[] = [];
  const shadows: Shadow[] = [];
  for (const s of findShadows(all, profile)) {
    if (mine(s.rule)) shadowed.push(s);
    else if (s.by.some((w) => 'rule' in w && mine(w.rule))) shadows.push(s);
  }
  return { rules: all, shadowed, shadows };
}

/** Key name → the mappings triggered by it in `layer` ("" for the base layer), and the layers the
 * rules use: what the keyboard picture shows for rules that are not in the document. */
export function ruleMarks(rules: readonly Rule[], layer: string): { marks: Map<string, string[]>; layers: string[] } {
  const marks = new Map<string, string[]>();
  const layers = new Set<string>();
  for (const r of rules) for (const m of r.mappings) for (const man of m.manipulators as JsonObject[]) {
    const ls = layersOf(man);
    for (const l of ls) layers.add(l);
    if (!(ls.length ? ls.includes(layer) : layer === '')) continue;
    for (const k of triggerKeys(man)) {
      const list = marks.get(k);
      if (!list) marks.set(k, [m.id]);
      else if (!list.includes(m.id)) list.push(m.id);
    }
  }
  return { marks, layers: [...layers].sort((a, b) => a.localeCompare(b)) };
}
