import { readdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { describe, expect, it } from 'vitest';
import { checkRuleSet } from './check';
import { exportDocument, exportFileName, formFigures, importDocument, readRuleSet, ruleSetForSaving, stripComments } from './io';
import type { JsonObject } from './json';
import { checkLimits, LIMITS } from './limits';
import { compileRules, exportRule, flatManipulators, importRule } from './rules';
import type { RuleSet } from './types';

const FIXTURES = join(__dirname, '../../tests/fixtures/gallery');
const gallery = readdirSync(FIXTURES).filter((f) => f.endsWith('.json')).map((f) => [f, readFileSync(join(FIXTURES, f), 'utf8')] as const);
const imported = (text: string): RuleSet => {
  const r = importDocument(text);
  if (!r.ok) throw new Error(r.error);
  return r.ruleSet;
};
const strip = (rs: RuleSet) => ruleSetForSaving(rs);

describe('gallery documents come back out exactly', () => {
  it.each(gallery)('%s: export, apply and saved state are lossless; nothing blocks', (_name, text) => {
    const original = JSON.parse(text) as { title: string; rules: JsonObject[] };
    const rs = imported(text);
    const doc = exportDocument(rs);
    expect(doc.rules).toEqual(original.rules);
    expect(doc.title).toBe(original.title);
    const applied = compileRules(rs);
    expect(applied.map((r) => r.manipulators)).toEqual(original.rules.map((r) => r.manipulators));
    expect(applied.map((r) => r.enabled)).toEqual(original.rules.map((r) => r.enabled !== false));
    expect(flatManipulators(applied)).toEqual(original.rules.filter((r) => r.enabled !== false).flatMap((r) => r.manipulators));
    expect(checkRuleSet(rs).filter((p) => p.severity === 'block')).toEqual([]);
    expect(strip(readRuleSet(JSON.parse(JSON.stringify(strip(rs)))) as RuleSet)).toEqual(strip(rs));
    const again = importDocument(JSON.stringify(doc));
    expect(again.ok && strip(again.ruleSet)).toEqual(strip(rs));
  });

  it('most manipulators open in a form', () => {
    let all = 0;
    let forms = 0;
    for (const [, text] of gallery) {
      const f = formFigures(imported(text));
      all += f.manipulators;
      forms += f.inForms;
    }
    expect(forms / all).toBeGreaterThan(0.8);
  });

  it('a rule keeps its own fields, an explicit "enabled", and no description when it had none', () => {
    for (const rule of [
      { description: 'd', enabled: true, manipulators: [{ type: 'basic', from: { key_code: 'a' } }], description_notes: ['n'], comment: { any: ['thing'] } },
      { manipulators: [{ type: 'basic', from: { key_code: 'a' } }], enabled: false },
      { description: '', manipulators: [{ from: 7 }, 'not even an object'] },
    ] as JsonObject[]) expect(exportRule(importRule(rule))).toEqual(rule);
  });

  it('an imported open_application stays open_application', () => {
    const man = { type: 'basic', from: { key_code: 'f1' }, to: [{ software_function: { open_application: { bundle_identifier: 'com.apple.Safari' } } }] };
    const rs = imported(JSON.stringify({ title: 't', rules: [{ description: 'r', manipulators: [man] }] }));
    expect(compileRules(rs)[0].manipulators).toEqual([man]);
  });
});

describe('other files', () => {
  it('a karabiner.json with comments gives the selected profile’s rules', () => {
    const rule = { description: 'mine', manipulators: [{ type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b' }] }] };
    const text = `// my setup\n{ "profiles": [ { "name": "Work", "complex_modifications": { "rules": [] } },
      /* the one in use */ { "name": "Home", "selected": true, "complex_modifications": { "rules": ${JSON.stringify([rule])} } } ] }`;
    const r = importDocument(text);
    expect(r.ok && r.kind).toBe('configuration');
    if (r.ok) {
      expect(r.ruleSet.title).toBe('Home');
      expect(exportDocument(r.ruleSet).rules).toEqual([rule]);
    }
  });

  it('the first version’s saved state becomes rules: toggled layers, app actions and raw manipulators kept, now in forms', () => {
    const v1 = {
      title: 'Old', layout: 'jis',
      mappings: [
        { enabled: true, kind: 'layerKey', label: 'Nav', trigger: { keys: ['f13'], mandatory: [], optional: [] }, name: 'nav', mode: 'toggle', tap: { type: 'none' } },
        { enabled: false, kind: 'remap', label: 'Nav', layer: 'nav', trigger: { keys: ['h'], mandatory: [], optional: ['any'] }, action: { type: 'keys', strokes: [{ key: 'left_arrow', modifiers: [] }] } },
        { enabled: true, kind: 'remap', trigger: { keys: ['s'], mandatory: ['command', 'option'], optional: [] }, action: { type: 'app', app: { name: 'Safari', bundleId: 'com.apple.Safari' } } },
        { enabled: true, kind: 'raw', manipulator: { type: 'basic', from: { pointing_button: 'button5' }, to: [{ key_code: 'a' }] } },
      ],
    };
    const rs = readRuleSet(v1) as RuleSet;
    expect(rs.layout).toBe('jis');
    expect(rs.rules.map((r) => [r.name, r.mappings.map((m) => `${m.form}${m.enabled ? '' : ' (off)'}`)])).toEqual([
      ['Nav', ['layer', 'remap (off)']], ['Old', ['remap', 'remap']],
    ]);
    expect(rs.rules[0].mappings[1].manipulators[0].conditions).toEqual([{ type: 'variable_if', name: 'tarvel_layer_nav', value: 1 }]);
    expect(rs.rules[1].mappings[0].manipulators[0].to).toEqual([{ software_function: { open_application: { bundle_identifier: 'com.apple.Safari' } } }]);
    const exported = importDocument(JSON.stringify({ title: 'Old', rules: [], tarvel: { format: 'tarvel-ruleset', version: 1, ruleSet: v1 } }));
    expect(exported.ok && strip(exported.ruleSet)).toEqual(strip(rs));
  });

  it.each<[string, string, object]>([
    ['not JSON', '{"title": ', { ok: false, error: 'json' }],
    ['an array', '[1,2]', { ok: false, error: 'format' }],
    ['neither rules nor a configuration', '{"global": {}}', { ok: false, error: 'format' }],
    ['rules that are not rule objects', '{"rules": [{"manipulators": "x"}]}', { ok: false, error: 'malformed' }],
    ['a Tarvel file from a later version', '{"tarvel": {"format": "tarvel-ruleset", "version": 99, "ruleSet": {}}}', { ok: false, error: 'format' }],
    ['a damaged Tarvel file', '{"tarvel": {"format": "tarvel-ruleset", "version": 2, "ruleSet": {"title": "t", "rules": [{"name": 1}]}}}', { ok: false, error: 'malformed' }],
  ])('%s is refused with a reason', (_n, text, result) => expect(importDocument(text)).toMatchObject(result));

  it('a byte-order mark in front of the JSON is ignored; a single rule is accepted', () => {
    expect(importDocument('\uFEFF{"title": "t", "rules": []}')).toMatchObject({ ok: true, ruleSet: { title: 't', rules: [] } });
    expect(importDocument(JSON.stringify({ description: 'one', manipulators: [{ type: 'basic', from: { key_code: 'a' } }] }))).toMatchObject({ ok: true, kind: 'rule', ruleSet: { title: 'one' } });
  });

  it('documents past the limits are refused cleanly, without recursing into them', () => {
    const deep = `{"title": "t", "rules": [{"manipulators": [${'['.repeat(100000)}${']'.repeat(100000)}]}]}`;
    expect(importDocument(deep)).toMatchObject({ ok: false, error: 'tooDeep', limit: LIMITS.depth });
    const many = { title: 't', rules: [{ manipulators: Array.from({ length: LIMITS.manipulators + 1 }, () => ({})) }] };
    expect(importDocument(JSON.stringify(many))).toMatchObject({ ok: false, error: 'tooManyManipulators', value: LIMITS.manipulators + 1 });
    expect(importDocument(`{"title": "${'x'.repeat(LIMITS.bytes)}", "rules": []}`)).toMatchObject({ ok: false, error: 'tooLarge' });
  });
});

describe('comments, names and limits', () => {
  it.each([
    ['{"a": "http://x" // a comment\n}', { a: 'http://x' }],
    ['{"a": "/* not a comment */", /* one */ "b": 1}', { a: '/* not a comment */', b: 1 }],
    ['{"a": "quote \\" // still text"}', { a: 'quote " // still text' }],
    // As Karabiner-Elements' reader: a line comment ends at CR or NUL too, a NUL ends the document.
    ['{"a": 1, // one\r"b": 2}', { a: 1, b: 2 }],
    ['{"a": 1, // one\0"b": 2}', { a: 1, b: 2 }],
    ['{"a": 1}\0 anything', { a: 1 }],
  ])('%j reads as JSON with comments', (text, value) => expect(JSON.parse(stripComments(text))).toEqual(value));

  it.each(['{"a": 1 /* never closed }', '{"a": 1 /* a NUL \0 inside */}', '{"a": 1 // hides the rest\0'])(
    '%j is refused as the engine refuses it',
    (text) => expect(() => JSON.parse(stripComments(text))).toThrow(SyntaxError),
  );

  it('Apply names a rule without a name by its place, and leaves out rules with nothing to write', () => {
    const m = { type: 'basic', from: { key_code: 'a' } };
    const rs: RuleSet = { title: 't', layout: 'us', rules: [
      { id: '1', name: '  ', enabled: true, mappings: [{ id: 'a', enabled: true, form: 'remap', manipulators: [m] }] },
      { id: '2', name: 'only off', enabled: true, mappings: [{ id: 'b', enabled: false, form: 'remap', manipulators: [m] }] },
      { id: '3', name: 'off', enabled: false, mappings: [{ id: 'c', enabled: true, form: 'remap', manipulators: [m] }] },
    ] };
    expect(compileRules(rs).map((r) => [r.name, r.enabled])).toEqual([['1', true], ['off', false]]);
    expect(flatManipulators(compileRules(rs))).toEqual([m]);
  });

  it.each<[string, unknown, number, string | undefined]>([
    ['a body at the depth limit', JSON.parse(`${'['.repeat(64)}${']'.repeat(64)}`), 1, undefined],
    ['one level deeper', JSON.parse(`${'['.repeat(65)}${']'.repeat(65)}`), 1, 'tooDeep'],
    ['too many manipulators, counted before anything else', JSON.parse(`${'['.repeat(65)}${']'.repeat(65)}`), 20001, 'tooManyManipulators'],
    ['8 MB of text in UTF-8 bytes', { t: 'あ'.repeat(Math.ceil(LIMITS.bytes / 3)) }, 1, 'tooLarge'],
  ])('%s', (_n, body, count, code) => expect(checkLimits(body, count)?.code).toBe(code));
});

describe('export file names', () => {
  it.each([
    ['My keymap', 'My keymap.json'], ['a/b\\c:d', 'a-b-c-d.json'], ['', 'keymap.json'], ['...', 'keymap.json'],
    ['  spaced  out ', 'spaced out.json'], ['line\nbreak', 'line-break.json'], ['日本語の設定', '日本語の設定.json'],
    ['x'.repeat(200), `${'x'.repeat(80)}.json`],
  ])('%j → %j', (title, name) => expect(exportFileName(title)).toBe(name));
});
