import { readdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { describe, expect, it } from 'vitest';
import { ruleKeys, type Profile } from './config';
import { jsonChanges, pathText } from './diff';
import type { Json, JsonObject } from './json';
import {
  commentPlaces, documentFromProfile, expectedProfile, mergeDocument, nothingToDo, outsideChanges, profilePlan, ruleState, winnerChanges, withNewRules, withValue,
} from './profile';
import { newRule } from './rules';
import type { Rule, RuleSet, ValuePath } from './types';

const man = (from: string, to = 'b', more: JsonObject = {}): JsonObject => ({ type: 'basic', from: { key_code: from }, to: [{ key_code: to }], ...more });
const rule = (description: string, ...ms: JsonObject[]): JsonObject => ({ description, manipulators: ms.length ? ms : [man(description)] });
const profile = (rules: Json[], more: Partial<Profile> = {}): Profile => ({
  name: 'P', selected: true, rules, devices: [], simpleModifications: [], fnFunctionKeys: [], parameters: {}, deviceSettings: [], keyboardType: null, ...more,
});
const doc = (p: Profile): RuleSet => documentFromProfile(p, { title: 'T', layout: 'us' });
const names = (rs: RuleSet) => rs.rules.map((r) => `${r.name}${r.origin === undefined ? '*' : ''}`);
const made = (name: string, ...ms: JsonObject[]): Rule => newRule(name, ms.map((m, i) => ({ id: `${name}${i}`, enabled: true, form: 'raw' as const, manipulators: [m] })));
const edit = (rs: RuleSet, name: string, fn: (r: Rule) => Rule): RuleSet => ({ ...rs, rules: rs.rules.map((r) => (r.name === name ? fn(r) : r)) });
const move = (rs: RuleSet, order: string[]): RuleSet => ({ ...rs, rules: order.map((n) => rs.rules.find((r) => r.name === n) as Rule) });
const drop = (rs: RuleSet, name: string): RuleSet => {
  const gone = rs.rules.find((r) => r.name === name) as Rule;
  return { ...rs, rules: rs.rules.filter((r) => r !== gone), removed: [...(rs.removed ?? []), gone.origin as string] };
};

const A = rule('A');
const B = rule('B');
const C = rule('C');
const X = rule('X');

describe('the profile as the document', () => {
  it('opens every rule in file order, linked and unchanged; an entry the editor cannot give back stays fixed', () => {
    let deep: Json = 1;
    for (let i = 0; i < 62; i++) deep = [deep];
    const odd = [A, 'not a rule', { description: 'no list' }, { description: 'deep', manipulators: [man('d', 'b', { note: deep })] }, { description: 7, manipulators: [man('s')] }];
    const rs = doc(profile(odd));
    expect(rs.rules.map((r) => [r.name, r.fixed !== undefined, ruleState(r)])).toEqual([
      ['A', false, 'same'], ['', true, 'same'], ['no list', true, 'same'], ['deep', true, 'same'], ['', true, 'same'],
    ]);
    expect(profilePlan(rs, profile(odd)).ruleList).toEqual([0, 1, 2, 3, 4].map((keep) => ({ keep })));
  });

  // Whatever a gallery document holds, installed as it is, it opens and applies back as nothing to do.
  const FIXTURES = join(__dirname, '../../tests/fixtures/gallery');
  it.each(readdirSync(FIXTURES).filter((f) => f.endsWith('.json')))('%s installed opens in forms and applies back unchanged', (file) => {
    const p = profile((JSON.parse(readFileSync(join(FIXTURES, file), 'utf8')) as { rules: JsonObject[] }).rules);
    const rs = doc(p);
    expect(rs.rules.filter((r) => r.fixed !== undefined)).toEqual([]);
    expect(nothingToDo(profilePlan(rs, p))).toBe(true);
  });

  type Case = [string, RuleSet, Profile, string[], string[]?];
  const base = doc(profile([A, B, C]));
  it.each<Case>([
    ['the same file: nothing changes', base, profile([A, B, C]), ['A', 'B', 'C']],
    ['a rule added elsewhere comes in after the nearest earlier rule of the file', base, profile([A, X, B, C]), ['A', 'X', 'B', 'C']],
    ['… or before the first one, when it is first', base, profile([X, A, B, C]), ['X', 'A', 'B', 'C']],
    ['… also when the user moved rules', move(base, ['C', 'A', 'B']), profile([A, B, X, C]), ['C', 'A', 'B', 'X']],
    ['a removed rule stays out while it is in the file, and is forgotten when it is gone', drop(base, 'B'), profile([A, B, C]), ['A', 'C'], ['B']],
    ['… the key of a rule no longer in the file is forgotten', drop(base, 'B'), profile([A, C]), ['A', 'C'], []],
    ['a rule gone from the file goes when unchanged, and stays as a new rule when the user changed it',
      edit(base, 'B', (r) => ({ ...r, enabled: false })), profile([A]), ['A', 'B*']],
    ['after an apply the new and edited rules link to what was written, the new ones first',
      withNewRules(edit(base, 'B', (r) => ({ ...r, name: 'B2' })), [made('N', man('n'))]),
      profile([rule('N', man('n')), A, rule('B2', man('B')), C]), ['N', 'A', 'B2', 'C']],
    ['rules made before the file was read link to equal installed ones', { title: 'T', layout: 'us', rules: [made('A', man('A')), made('N', man('n'))] },
      profile([A, B]), ['A', 'B', 'N*']],
    ['an empty document takes the whole profile', { title: 'T', layout: 'us', rules: [] }, profile([A, B, 'junk']), ['A', 'B', '']],
  ])('%s', (_name, rs, p, expected, removed) => {
    const out = mergeDocument(rs, p);
    expect(names(out)).toEqual(expected);
    if (removed) expect(out.removed ?? []).toEqual(removed.map((n) => ruleKeys(p.rules)[p.rules.findIndex((r) => (r as JsonObject).description === n)]));
    // Merging again changes nothing.
    expect(mergeDocument(out, p)).toBe(out);
    if (expected.join() === names(rs).join() && (removed === undefined || removed.length === (rs.removed ?? []).length)) expect(out).toBe(rs);
  });
});

describe('changes made by another program', () => {
  const B2 = rule('B', man('B', 'z'));
  it.each<[string, Json[], Json[], string]>([
    ['nothing', [A, B, C], [A, B, C], ''],
    ['moved rules are the same rules', [A, B, C], [C, A, B], ''],
    ['one changed: found by its description', [A, B, C], [A, B2, C], 'changed B'],
    ['… also when it moved', [A, B, C], [B2, A, C], 'changed B'],
    ['one renamed where it stands: found by its place', [A, B, C], [A, rule('B renamed', man('B')), C], 'changed B as B renamed'],
    ['added and removed', [A, B, C], [X, A, C], 'added X; removed B'],
    ['two renamed between the same rules, in order', [A, B, C], [rule('P', man('A')), rule('Q', man('B')), C], 'changed A as P, B as Q'],
    ['one gone and another come in its place are not one rule', [A, B, C], [A, rule('P', man('p')), C], 'added P; removed B'],
    ['a duplicate added', [A, B], [A, A, B], 'added A'],
    ['from nothing and to nothing', [], [A], 'added A'],
    ['… to nothing', [A, B], [], 'removed A, B'],
  ])('%s', (_name, before, after, expected) => {
    const ch = outsideChanges(before, after);
    const d = (list: Json[], i: number) => (list[i] as JsonObject).description;
    const parts = [
      ch.changed.length ? `changed ${ch.changed.map(([i, j]) => `${d(before, i)}${d(after, j) === d(before, i) ? '' : ` as ${d(after, j)}`}`).join(', ')}` : '',
      ch.added.length ? `added ${ch.added.map((j) => d(after, j)).join(', ')}` : '',
      ch.removed.length ? `removed ${ch.removed.map((i) => d(before, i)).join(', ')}` : '',
    ];
    expect(parts.filter(Boolean).join('; ')).toEqual(expected);
  });

  // Each case: the document (made from `before`, then edited), the file read now, and with `before`
  // known or not (a page opened on work saved earlier). Expected: the rules (* new, ! marked with
  // what is marked) and what the apply would send.
  const off = (r: Rule): Rule => ({ ...r, enabled: false });
  const base = doc(profile([A, B, C]));
  type Merge = [string, RuleSet, Json[], boolean, string[], unknown[]];
  it.each<Merge>([
    ['a rule changed there and not here takes the new content where it stands', move(base, ['C', 'A', 'B']), [A, B2, C], true,
      ['C', 'A', 'B'], [{ keep: 2 }, { keep: 0 }, { keep: 1 }]],
    ['a rule changed there and here is marked; the apply keeps the file’s until the user chooses', edit(base, 'B', off), [A, B2, C], true,
      ['A', 'B!changed', 'C'], [{ keep: 0 }, { keep: 1 }, { keep: 2 }]],
    ['… also without the last read, found by its description', edit(base, 'B', off), [A, C, B2], false,
      ['A', 'B!changed', 'C'], [{ keep: 0 }, { keep: 2 }, { keep: 1 }]],
    ['… and when it was renamed there where it stands', edit(base, 'B', off), [A, rule('B2', man('B')), C], true,
      ['A', 'B!changed', 'C'], [{ keep: 0 }, { keep: 1 }, { keep: 2 }]],
    ['changed there into just what the user made: no question', edit(base, 'B', off), [A, { ...B, enabled: false }, C], true,
      ['A', 'B', 'C'], [{ keep: 0 }, { keep: 1 }, { keep: 2 }]],
    ['removed there, changed here: kept as a new rule, marked, not sent', edit(base, 'B', off), [A, C], true,
      ['A', 'B*!removed', 'C'], [{ keep: 0 }, { keep: 1 }]],
    ['removed there, not changed here: gone', base, [A, C], true, ['A', 'C'], [{ keep: 0 }, { keep: 1 }]],
    ['removed here, changed there: back, marked, kept', drop(base, 'B'), [A, B2, C], true,
      ['A', 'B!returned', 'C'], [{ keep: 0 }, { keep: 1 }, { keep: 2 }]],
    ['added there while rules were edited here: comes in near its place', edit(base, 'A', off), [A, X, B, C], true,
      ['A', 'X', 'B', 'C'], [{ edit: 0, rule: { description: 'A', enabled: false, manipulators: [man('A')] } }, { keep: 1 }, { keep: 2 }, { keep: 3 }]],
  ])('%s', (_name, rs, now, known, expected, ruleList) => {
    const p = profile(now);
    const out = mergeDocument(rs, p, known ? profile([A, B, C]) : undefined);
    expect(out.rules.map((r) => `${r.name}${r.origin === undefined ? '*' : ''}${r.outside ? `!${r.outside}` : ''}`)).toEqual(expected);
    expect(profilePlan(out, p).ruleList).toEqual(ruleList);
    // Read again, nothing more changes.
    expect(mergeDocument(out, p, p)).toBe(out);
  });

  it('after an apply the file is compared with what the apply wrote: the user’s own edits are no news', () => {
    const p = profile([A, B, C]);
    const rs = withNewRules(edit(doc(p), 'B', off), [made('N', man('n'))]);
    const plan = profilePlan(rs, p);
    const written = profile(plan.steps.map((s) => s.content));
    const out = mergeDocument(rs, written, expectedProfile(p, plan));
    expect(out.rules.map((r) => [r.name, r.outside, ruleState(r)])).toEqual([['N', undefined, 'same'], ['A', undefined, 'same'], ['B', undefined, 'same'], ['C', undefined, 'same']]);
    expect(outsideChanges(expectedProfile(p, plan).rules, written.rules)).toEqual({ added: [], removed: [], changed: [] });
  });

  it.each<[string, Json, Json, boolean]>([
    ['a value changed here and there is marked and not sent', [], [{ from: { key_code: 'a' } }], true],
    ['a value changed here only stays an edit', [], [], false],
  ])('%s', (_name, was, now, marked) => {
    const mine = [{ from: { key_code: 'caps_lock' }, to: [{ key_code: 'escape' }] }];
    const q = profile([A], { simpleModifications: was as JsonObject[] });
    const out = mergeDocument(withValue(doc(q), ['simple_modifications'], mine), profile([A], { simpleModifications: now as JsonObject[] }), q);
    expect(out.values?.[0].outside ?? false).toBe(marked);
    expect(profilePlan(out, profile([A], { simpleModifications: now as JsonObject[] })).values.length).toBe(marked ? 0 : 1);
  });
});

describe('what an apply sends and the confirmation says', () => {
  const p = profile([A, B, C, X]);
  const rs = doc(p);
  const kinds = (plan: ReturnType<typeof profilePlan>) => plan.steps.map((s) => `${s.kind}${s.moved ? '+moved' : ''}:${(s.content as JsonObject).description}`);
  it.each<[string, RuleSet, unknown[], string[], number[]]>([
    ['nothing changed: every rule kept', rs, [{ keep: 0 }, { keep: 1 }, { keep: 2 }, { keep: 3 }], ['kept:A', 'kept:B', 'kept:C', 'kept:X'], []],
    ['one rule edited in place: only it is sent, in its place', edit(rs, 'B', (r) => ({ ...r, name: 'B!' })),
      [{ keep: 0 }, { edit: 1, rule: rule('B!', man('B')) }, { keep: 2 }, { keep: 3 }], ['kept:A', 'changed:B!', 'kept:C', 'kept:X'], []],
    ['switched off: an edit with "enabled": false', edit(rs, 'C', (r) => ({ ...r, enabled: false })),
      [{ keep: 0 }, { keep: 1 }, { edit: 2, rule: { description: 'C', enabled: false, manipulators: [man('C')] } }, { keep: 3 }], ['kept:A', 'kept:B', 'changed:C', 'kept:X'], []],
    ['one rule moved up: only it is marked moved', move(rs, ['A', 'X', 'B', 'C']),
      [{ keep: 0 }, { keep: 3 }, { keep: 1 }, { keep: 2 }], ['kept:A', 'kept+moved:X', 'kept:B', 'kept:C'], []],
    ['removed, duplicated (a new rule) and a new rule made here', withNewRules({ ...drop(rs, 'C'), rules: [...drop(rs, 'C').rules, { ...made('A copy', man('A')) }] }, [made('N', man('n'))]),
      [{ rule: rule('N', man('n')) }, { keep: 0 }, { keep: 1 }, { keep: 3 }, { rule: rule('A copy', man('A')) }], ['added:N', 'kept:A', 'kept:B', 'kept:X', 'added:A copy'], [2]],
    ['a new rule with nothing to write is not sent', withNewRules(rs, [made('Empty')]), [{ keep: 0 }, { keep: 1 }, { keep: 2 }, { keep: 3 }], ['kept:A', 'kept:B', 'kept:C', 'kept:X'], []],
  ])('%s', (_name, d, ruleList, expected, removed) => {
    const plan = profilePlan(d, p);
    expect(plan.ruleList).toEqual(ruleList);
    expect(kinds(plan)).toEqual(expected);
    expect(plan.removed.map((g) => g.index)).toEqual(removed);
    expect(nothingToDo(plan)).toBe(d === rs || expected.every((k) => k.startsWith('kept:')) && !removed.length);
  });

  it.each<[string, ValuePath, Json, Partial<Profile>, unknown[]]>([
    ['a simple modification added', ['simple_modifications'], [{ from: { key_code: 'caps_lock' }, to: [{ key_code: 'escape' }] }], {},
      [{ path: ['simple_modifications'], value: [{ from: { key_code: 'caps_lock' }, to: [{ key_code: 'escape' }] }], before: [] }]],
    ['a parameter set to what the file has: nothing', ['complex_modifications', 'parameters'], { 'basic.to_if_alone_timeout_milliseconds': 300 },
      { parameters: { 'basic.to_if_alone_timeout_milliseconds': 300 } }, []],
    ['a device’s function keys', ['devices', 0, 'fn_function_keys'], [], { deviceSettings: [{ identifiers: { vendor_id: 1 }, fn_function_keys: [{ from: { key_code: 'f1' } }] }] },
      [{ path: ['devices', 0, 'fn_function_keys'], value: [], before: [{ from: { key_code: 'f1' } }] }]],
  ])('profile values: %s', (_name, path, value, more, expected) => {
    const q = profile([A], more);
    const plan = profilePlan(withValue(doc(q), path, value), q);
    expect(plan.values).toEqual(expected);
    expect(plan.ruleList).toEqual([{ keep: 0 }]);
    expect(nothingToDo(plan)).toBe(!expected.length);
  });

  it('a value edit the file now has is no longer an edit; a device edit follows its device when devices move', () => {
    const d0 = { identifiers: { vendor_id: 1 } };
    const d1 = { identifiers: { vendor_id: 2 } };
    const q = profile([A], { deviceSettings: [d0, d1] });
    const rs0 = withValue(withValue(doc(q), ['simple_modifications'], []), ['devices', 1, 'simple_modifications'], [{ from: { key_code: 'a' } }], d1.identifiers);
    // The profile-wide edit equals the file's (empty) value and goes; the device's moves with it.
    const moved = mergeDocument(rs0, profile([A], { deviceSettings: [d1, d0] }));
    expect(moved.values).toEqual([{ path: ['devices', 0, 'simple_modifications'], value: [{ from: { key_code: 'a' } }], device: d1.identifiers }]);
    expect(mergeDocument(rs0, profile([A], { deviceSettings: [d0] })).values).toBeUndefined();
  });

  it.each<[string, RuleSet, number[] | undefined, string[]]>([
    ['between two rules that stay: before the next', drop(rs, 'B'), [1], ['B before C']],
    ['the last rule: after the previous one that stays', drop(rs, 'X'), [3, 0], ['X after C']],
    ['both neighbours go too: before the next that stays', drop(drop(rs, 'B'), 'C'), [1, 2], ['B before X', 'C before X']],
    ['every rule goes: at the start', drop(drop(drop(drop(rs, 'A'), 'B'), 'C'), 'X'), [2], ['C at the start']],
    ['an app that does not say which rules have comments', drop(rs, 'B'), undefined, []],
  ])('comments of a removed rule: %s', (_name, d, commented, expected) => {
    const text = commentPlaces(profilePlan(d, p), commented).map((c) => {
      const to = c.before ?? c.after;
      const name = (j: Json) => (j as JsonObject).description;
      return `${name(c.rule)} ${c.before ? 'before' : c.after ? 'after' : 'at the start'}${to ? ` ${name(to.content)}` : ''}`;
    });
    expect(text).toEqual(expected);
  });

  const hold = (to: string) => ({ type: 'basic', from: { key_code: 'caps_lock', modifiers: { optional: ['any'] } }, to: [{ key_code: to }] });
  const ctrl = rule('Caps to Control', hold('right_control'));
  const hyper = rule('Hyper', hold('left_command'));
  const q = profile([ctrl, hyper, A]);
  const qs = doc(q);
  const off = profile([{ ...hyper, enabled: false }, ctrl]);
  it.each<[string, RuleSet, string[], Profile?]>([
    ['moving the later rule first', move(qs, ['Hyper', 'Caps to Control', 'A']), ['caps_lock: Hyper, before Caps to Control']],
    ['switching an earlier rule on', edit(doc(off), 'Hyper', (r) => ({ ...r, enabled: true })), ['caps_lock: Hyper, before Caps to Control'], off],
    ['a new rule put first', withNewRules(qs, [made('New caps', hold('escape'))]), ['caps_lock: New caps, before Caps to Control']],
    ['switching the winning rule off says nothing more than the switch', edit(qs, 'Caps to Control', (r) => ({ ...r, enabled: false })), []],
    ['removing the winner says nothing more than the removal', drop(qs, 'Caps to Control'), []],
    ['moving a rule that shares no key', move(qs, ['A', 'Caps to Control', 'Hyper']), []],
  ])('which rule takes a key: %s', (_name, d, expected, p0 = q) => {
    expect(winnerChanges(p0.rules, profilePlan(d, p0)).map((w) => `${w.key}: ${w.now}, before ${w.before}`)).toEqual(expected);
  });
});

describe('field-level differences', () => {
  const m0 = man('a');
  const m1 = man('b');
  const m2 = man('c');
  it.each<[string, Json, Json, string[]]>([
    ['one value', { d: 'x', to: [{ key_code: 'a' }] }, { d: 'x', to: [{ key_code: 'b' }] }, ['to[0].key_code: "a" → "b"']],
    ['a manipulator inserted in the middle reads as one added', { manipulators: [m0, m2] }, { manipulators: [m0, m1, m2] }, [`manipulators[1] + ${JSON.stringify(m1)}`]],
    ['one removed and one changed', { manipulators: [m0, m1, m2] }, { manipulators: [man('a', 'z'), m2] }, ['manipulators[0].to[0].key_code: "b" → "z"', `manipulators[1] - ${JSON.stringify(m1)}`]],
    ['members added and removed; odd names quoted', { enabled: false, 'x.y': 1 }, { description: 'n' }, ['description + "n"', 'enabled - false', '["x.y"] - 1']],
  ])('%s', (_name, a, b, expected) => {
    const text = jsonChanges(a, b).changes.map((c) => `${pathText(c.path)}${c.before === undefined ? ` + ${JSON.stringify(c.after)}` : c.after === undefined ? ` - ${JSON.stringify(c.before)}` : `: ${JSON.stringify(c.before)} → ${JSON.stringify(c.after)}`}`);
    expect(text).toEqual(expected);
  });

  it('stops at the limit and counts the rest', () => {
    const a = Array.from({ length: 50 }, (_, i) => ({ k: i }));
    const r = jsonChanges(a, a.map((x) => ({ k: x.k + 1000 })), 10);
    expect([r.changes.length, r.more]).toEqual([10, 40]);
  });
});
