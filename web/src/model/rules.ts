// Rules in and out: a Karabiner-Elements rule object becomes a page rule without loss, and back.
import { groupManipulators } from './forms';
import { isStr, type Json, type JsonObject } from './json';
import type { Mapping, Rule, RuleSet } from './types';
import { newId } from './types';

/** What starts the description of a rule made in Tarvel. */
export const TARVEL_PREFIX = '[Tarvel] ';

/** One rule as the older apply body's `rules` carries it (the app writes "[Tarvel] <title>: <name>"). */
export interface ApplyRule { name: string; enabled: boolean; manipulators: JsonObject[] }

/** A rule's description as the page names it: the mark of a rule made in Tarvel is shown apart. */
export const plainName = (description: string): string => (description.startsWith(TARVEL_PREFIX) ? description.slice(TARVEL_PREFIX.length) : description);

/** What an app that writes the older body makes of a rule's name. */
export const appliedDescription = (title: string, name: string): string => `${TARVEL_PREFIX}${title}: ${name}`;

/** The manipulators a rule writes: those of its mappings that are on, in order. */
export const ruleManipulators = (r: Rule): JsonObject[] => r.mappings.filter((m) => m.enabled).flatMap((m) => m.manipulators);

/** The rule set as the older apply body's rules, for an app that does not read karabiner.json (it
 * marks them itself). A rule with nothing to write is left out (Karabiner-Elements refuses a rule
 * without manipulators); a rule that is off is written off. */
export function compileRules(rs: RuleSet): ApplyRule[] {
  const out: ApplyRule[] = [];
  rs.rules.forEach((r, i) => {
    const manipulators = ruleManipulators(r);
    const name = plainName(r.name);
    if (manipulators.length) out.push({ name: name.trim() ? name : String(i + 1), enabled: r.enabled, manipulators });
  });
  return out;
}

/** The enabled rules' manipulators in order: the one-rule form of the apply body. */
export const flatManipulators = (rules: ApplyRule[]): JsonObject[] => rules.filter((r) => r.enabled).flatMap((r) => r.manipulators);

export const manipulatorCount = (rs: RuleSet): number => rs.rules.reduce((n, r) => n + ruleManipulators(r).length, 0);

/** A Karabiner-Elements rule object (description, enabled, manipulators, anything else) as a page
 * rule; `exportRule` gives the same object back. */
export function importRule(rule: JsonObject): Rule {
  const manipulators = Array.isArray(rule.manipulators) ? rule.manipulators : [];
  const extra: JsonObject = {};
  for (const [k, v] of Object.entries(rule)) if (!['description', 'enabled', 'manipulators'].includes(k)) extra[k] = v;
  const r: Rule = {
    id: newId('r'),
    name: isStr(rule.description) ? rule.description : '',
    enabled: rule.enabled !== false,
    mappings: groupManipulators(manipulators as JsonObject[]),
  };
  if (Object.keys(extra).length) r.extra = extra;
  if (rule.enabled === true) r.enabledField = true;
  if (rule.description === undefined) r.undescribed = true;
  if (rule.enabled !== undefined && typeof rule.enabled !== 'boolean') r.extra = { ...r.extra, enabled: rule.enabled };
  return r;
}

/** The rule object for a Karabiner-Elements document: its own fields back, its mappings that are on. */
export function exportRule(r: Rule): JsonObject {
  const out: JsonObject = {};
  if (!r.undescribed || r.name) out.description = r.name;
  if (!r.enabled) out.enabled = false;
  else if (r.enabledField) out.enabled = true;
  Object.assign(out, r.extra ?? {});
  out.manipulators = ruleManipulators(r);
  return out;
}

/** The rule object an apply writes for a rule of the editor: an entry it cannot open as it came. */
export const writtenRule = (r: Rule): Json => (r.fixed !== undefined ? r.fixed : exportRule(r));

export const newRule = (name: string, mappings: Mapping[] = []): Rule => ({ id: newId('r'), name, enabled: true, mappings });

export function newMapping(manipulators: JsonObject[], form: Mapping['form']): Mapping {
  return { id: newId(), enabled: true, form, manipulators };
}
