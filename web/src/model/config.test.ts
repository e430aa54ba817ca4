import { readdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { describe, expect, it } from 'vitest';
import {
  backupMade, configBody, nothingToDo, plan, readConfiguration, ruleFromInstalled, ruleKeys, ruleSetFromInstalled, splitDescriptions,
  type Choices, type Configuration, type Profile,
} from './config';
import type { Json, JsonObject } from './json';
import { compileRules, newRule } from './rules';
import type { Rule, RuleSet } from './types';

const man = (from: string, to = 'b'): JsonObject => ({ type: 'basic', from: { key_code: from }, to: [{ key_code: to }] });
const DIGEST = `sha256:${'a'.repeat(64)}`;
const profile = (name: string, selected: boolean, rules: Json[]): Profile => ({
  name, selected, rules, devices: [], simpleModifications: [], fnFunctionKeys: [], parameters: {}, deviceSettings: [], keyboardType: null,
});
const config = (rules: Json[], more: Partial<Configuration> = {}): Configuration => ({
  path: '/k/karabiner.json', digest: DIGEST, hasComments: false, backups: [],
  profiles: [profile('Default', true, rules), profile('Other', false, [{ description: 'o', manipulators: [man('o')] }])],
  ...more,
});
const editor = (title: string, rules: Rule[]): RuleSet => ({ title, layout: 'us', rules });
const ruleOf = (name: string, ms: JsonObject[], more: Partial<Rule> = {}): Rule => ({
  ...newRule(name, ms.map((m, i) => ({ id: `${name}${i}`, enabled: true, form: 'raw' as const, manipulators: [m] }))), ...more,
});
const choices = (profile = 0, dropped: string[] = []): Choices => ({ profile, dropped: new Set(dropped) });

describe('the answer to "tarvelConfig"', () => {
  it.each([
    ['a configuration; rule indices stay those of the file, odd entries included',
      { ok: true, path: '/p', digest: DIGEST, hasComments: true, backups: [{ name: 'b1', rules: [{ description: 7, manipulators: 2, enabled: false }] }, { name: 'b2', error: 'bad' }, 'junk'],
        profiles: [{ name: 'A', selected: false, rules: [{ description: 'r' }, 'junk'], devices: [{ vendor_id: 1 }, 2] }, { selected: true }] },
      { path: '/p', hasComments: true, profiles: [{ name: 'A', selected: false, rules: [{ description: 'r' }, 'junk'], devices: [{ vendor_id: 1 }] }, { name: null, selected: true, rules: [], devices: [] }],
        backups: [{ name: 'b1', path: 'b1', modified: '', size: 0, rules: [{ description: null, enabled: false, manipulators: 2 }] }, { name: 'b2', path: 'b2', modified: '', size: 0, error: 'bad' }] }],
    ['no profile marked selected: the first is the one in use',
      { ok: true, digest: DIGEST, profiles: [{ name: 'A' }, { name: 'B' }] },
      { profiles: [{ name: 'A', selected: true, rules: [], devices: [] }, { name: 'B', selected: false, rules: [], devices: [] }] }],
    ['the rest of a profile; values of the wrong type count as absent',
      { ok: true, digest: DIGEST, profiles: [
        { simpleModifications: [{ from: { key_code: 'a' } }, 3], fnFunctionKeys: {}, parameters: { 'basic.to_if_alone_timeout_milliseconds': 300 },
          deviceSettings: [{ identifiers: { vendor_id: 1 }, ignore: true }], keyboardType: 'jis' },
        { parameters: [], keyboardType: 7 }] },
      { profiles: [
        { simpleModifications: [{ from: { key_code: 'a' } }], fnFunctionKeys: [], parameters: { 'basic.to_if_alone_timeout_milliseconds': 300 },
          deviceSettings: [{ identifiers: { vendor_id: 1 }, ignore: true }], keyboardType: 'jis' },
        { simpleModifications: [], fnFunctionKeys: [], parameters: {}, deviceSettings: [], keyboardType: null }] }],
    ['a failure with its place', { ok: false, error: 'karabiner.json has a trailing comma', code: 'trailingComma', line: 3, column: 9 },
      { ok: false, error: 'karabiner.json has a trailing comma', code: 'trailingComma', line: 3, column: 9 }],
    ['a failure without a code', { ok: false, error: 'boom', code: '', line: 'x' }, { ok: false, error: 'boom' }],
    ['ok without a digest', { ok: true, profiles: [] }, { ok: false, error: 'malformed configuration answer' }],
    ['not an object', null, { ok: false, error: 'null' }],
  ])('%s', (_name, answer, expected) => {
    expect(readConfiguration(answer)).toMatchObject(expected as object);
  });
});

it.each([
  ['karabiner.backup-20250314-091502.json', [2025, 2, 14, 9, 15, 2]],
  ['karabiner.backup-20250314-091502-3.json', [2025, 2, 14, 9, 15, 2]],
  ['karabiner.backup-20250230-091502.json', undefined],
  ['karabiner.backup-20250314-0915.json', undefined],
  ['automatic_backups/karabiner_20250314.json', undefined],
])('a backup named %s was made at %j (local time)', (name, at) => {
  const d = backupMade(name);
  expect(d && [d.getFullYear(), d.getMonth(), d.getDate(), d.getHours(), d.getMinutes(), d.getSeconds()]).toEqual(at);
});

describe('title and rule names from Tarvel’s descriptions', () => {
  it.each([
    [['[Tarvel] Keys: Caps', '[Tarvel] Keys: Vim'], undefined, 'Keys', ['Caps', 'Vim']],
    [['[Tarvel] Work: laptop: Caps', '[Tarvel] Work: laptop: Vim'], undefined, 'Work: laptop', ['Caps', 'Vim']],
    [['[Tarvel] Work: laptop: Caps'], 'Work: laptop', 'Work: laptop', ['Caps']],
    [['[Tarvel] Work: laptop: Caps'], 'Other', 'Work', ['laptop: Caps']],
    [['[Tarvel] Keys: a: b', '[Tarvel] Keys: c'], undefined, 'Keys', ['a: b', 'c']],
    [['[Tarvel] My keymap'], undefined, 'My keymap', ['My keymap']],
    [['[Tarvel] A: x', '[Tarvel] B: y'], undefined, 'A', ['x', 'B: y']],
  ])('%j (editor title %s) → %s %j', (descriptions, hint, title, names) => {
    expect(splitDescriptions(descriptions, hint)).toEqual({ title, names });
  });

  // Whatever the split, opening Tarvel's rules and applying them again writes the same rules.
  const FIXTURES = join(__dirname, '../../tests/fixtures/gallery');
  it.each(readdirSync(FIXTURES).filter((f) => f.endsWith('.json')))('%s installed by Tarvel opens and applies back unchanged', (file) => {
    const doc = JSON.parse(readFileSync(join(FIXTURES, file), 'utf8')) as { title: string; rules: JsonObject[] };
    // As Tarvel writes them: a description, "enabled" only when off, the manipulators.
    const installed: Json[] = doc.rules.map((r, i) => ({
      description: `[Tarvel] ${doc.title}: ${r.description || i + 1}`, ...(r.enabled === false ? { enabled: false } : {}), manipulators: r.manipulators,
    }));
    const foreign = { description: 'mine', manipulators: [man('z')] };
    const c = config([...installed, foreign]);
    const rs = ruleSetFromInstalled(c.profiles[0].rules, 'us') as RuleSet;
    const p = plan(c, choices(), rs, compileRules(rs));
    expect(nothingToDo(p)).toBe(true);
    expect(p.keep).toEqual([installed.length]);
  });
});

describe('what an apply does to the profile, and the body that says it', () => {
  const caps = man('caps_lock', 'left_control');
  const installed: Json[] = [
    { description: '[Tarvel] K: caps', enabled: true, manipulators: [caps] },
    { description: 'x', manipulators: [man('x')] },
    { description: '[Tarvel] Old: gone', manipulators: [man('g')] },
    { description: 'y', enabled: false, manipulators: [man('y')] },
    'not a rule',
  ];
  const c = config(installed);
  const names = (l: { description: string | null }[]) => l.map((r) => r.description);
  it.each([
    ['every other rule kept; an old Tarvel rule replaced', editor('K', [ruleOf('caps', [caps])]), choices(),
      { keep: [1, 3, 4], added: [], same: ['[Tarvel] K: caps'], removed: [['[Tarvel] Old: gone', 'tarvel']] }, { baseDigest: DIGEST, keep: [1, 3, 4] }],
    ['a dropped rule goes; the rule off in the editor is a new rule', editor('K', [ruleOf('caps', [caps], { enabled: false })]), choices(0, [ruleKeys(installed)[3]]),
      { keep: [1, 4], added: ['[Tarvel] K: caps'], same: [], removed: [['[Tarvel] K: caps', 'tarvel'], ['[Tarvel] Old: gone', 'tarvel'], ['y', 'drop']] }, { baseDigest: DIGEST, keep: [1, 4] }],
    ['a rule brought into the editor is written as Tarvel’s, not kept', editor('K', [ruleOf('caps', [caps]), { ...(ruleFromInstalled(c, 0, 1) as Rule), name: 'x' }]), choices(),
      { keep: [3, 4], added: ['[Tarvel] K: x'], same: ['[Tarvel] K: caps'], removed: [['x', 'editor'], ['[Tarvel] Old: gone', 'tarvel']] }, { baseDigest: DIGEST, keep: [3, 4] }],
    ['a link or a drop made on a rule since changed holds no more', editor('K', [ruleOf('caps', [caps], { origin: ruleKeys([{ description: 'x', manipulators: [man('x', 'c')] }])[0] })]),
      choices(0, ruleKeys([{ description: 'y', manipulators: [man('y')] }])),
      { keep: [1, 3, 4], added: [], same: ['[Tarvel] K: caps'], removed: [['[Tarvel] Old: gone', 'tarvel']] }, { baseDigest: DIGEST, keep: [1, 3, 4] }],
    ['a link and a drop made on the same rules written with another key order still hold', editor('K', [ruleOf('caps', [caps]), { ...ruleOf('x', [man('x')]), origin: ruleKeys([{ manipulators: [man('x')], enabled: true, description: 'x' }])[0] }]),
      choices(0, ruleKeys([{ manipulators: [man('y')], enabled: false, description: 'y' }])),
      { keep: [4], added: ['[Tarvel] K: x'], same: ['[Tarvel] K: caps'], removed: [['x', 'editor'], ['[Tarvel] Old: gone', 'tarvel'], ['y', 'drop']] }, { baseDigest: DIGEST, keep: [4] }],
    ['another profile is named in the body', editor('K', [ruleOf('caps', [caps])]), choices(1),
      { keep: [0], added: ['[Tarvel] K: caps'], same: [], removed: [] }, { baseDigest: DIGEST, keep: [0], profile: 1 }],
  ])('%s', (_name, rs, ch, expected, body) => {
    const p = plan(c, ch, rs, compileRules(rs));
    expect({ keep: p.keep, added: names(p.added), same: names(p.same), removed: p.removed.map((r) => [r.description, r.fate]) }).toEqual(expected);
    expect(configBody(c, ch, p)).toEqual(body);
    expect(nothingToDo(p)).toBe(false);
    // What runs afterwards: Tarvel's rules, then the kept ones in file order.
    expect(p.result.slice(p.result.length - p.keep.length)).toEqual(p.keep.map((i) => c.profiles[ch.profile].rules[i]));
  });

  it.each([
    ['the installed rules exactly', [{ description: '[Tarvel] K: caps', manipulators: [caps] }, { description: 'x', manipulators: [man('x')] }], false, true],
    ['the same rules in another order', [{ description: 'x', manipulators: [man('x')] }, { description: '[Tarvel] K: caps', manipulators: [caps] }], true, false],
    ['an empty profile and an empty editor', [], false, true],
  ])('%s', (_name, rules, reordered, nothing) => {
    const rs = editor('K', rules.length ? [ruleOf('caps', [caps])] : []);
    const p = plan(config(rules as Json[]), choices(), rs, compileRules(rs));
    expect([p.reordered, nothingToDo(p)]).toEqual([reordered, nothing]);
  });

  it('a rule nested deeper than an apply can carry is not brought in', () => {
    let deep: Json = 1;
    for (let i = 0; i < 60; i++) deep = [deep];
    const deeper = config([{ description: 'deep', manipulators: [{ ...man('a'), note: deep }] }]);
    expect(ruleFromInstalled(deeper, 0, 0)).toBeUndefined();
    expect(ruleFromInstalled(c, 0, 1)).toMatchObject({ name: 'x', origin: ruleKeys(installed)[1] });
    // The same rule twice: each copy is named on its own.
    expect(new Set(ruleKeys([installed[1], installed[1]])).size).toBe(2);
    expect(ruleFromInstalled(c, 0, 4)).toBeUndefined();
  });
});
