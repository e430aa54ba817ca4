import { describe, expect, it } from 'vitest';
import { compileRuleSet, manipulatorCount } from './compile';
import { decompile } from './decompile';
import { exportDocument, exportFileName, importDocument, readRuleSet, ruleSetForSaving } from './io';
import { RECIPES, recipeDefaults } from './recipes';
import type { JsonObject, Mapping, RuleSet } from './types';

const HELPER = '/Applications/Tarvel.app/Contents/MacOS/tarvel-focus';
const safari = { name: 'Safari', bundleId: 'com.apple.Safari', path: '/Applications/Safari.app' };
const everyRecipe = (): Mapping[] => RECIPES.flatMap((r) => r.build({ ...recipeDefaults(r), app: safari }));
const strip = (rs: RuleSet) => ruleSetForSaving(rs);

function richRuleSet(): RuleSet {
  const ms = everyRecipe();
  ms.push(
    { id: 'a', enabled: false, label: 'off for now', kind: 'remap', trigger: { keys: ['a'], mandatory: ['fn'], optional: ['shift'] }, action: { type: 'shortcut', name: 'Start "Focus"' } },
    { id: 'b', enabled: true, kind: 'raw', manipulator: { type: 'basic', from: { pointing_button: 'button5' }, to: [{ mouse_key: { vertical_wheel: -64 } }] } },
    { id: 'c', enabled: true, kind: 'layerKey', trigger: { keys: ['f13'], mandatory: [], optional: [] }, name: 'nav', mode: 'toggle', tap: { type: 'none' } },
    { id: 'd', enabled: true, kind: 'tapHold', trigger: { keys: ['d', 'f'], mandatory: [], optional: [], chordMs: 80 }, tap: { type: 'keys', strokes: [{ key: 'escape', modifiers: [] }] }, hold: { type: 'keys', strokes: [{ key: 'left_option', modifiers: [] }] }, holdMode: 'delayed', lazy: true, tapTimeoutMs: 250, holdDelayMs: 150, layer: 'nav', apps: { mode: 'except', apps: [{ name: 'Terminal', bundleId: 'com.apple.Terminal' }] } },
  );
  return { title: 'Mine / 日本語: "x"', layout: 'jis', mappings: ms };
}

describe('export and import', () => {
  it('the export is a Karabiner importable document and a lossless Tarvel rule set', () => {
    const rs = richRuleSet();
    const doc = exportDocument(rs, { helperPath: HELPER });
    expect(doc.title).toBe(rs.title);
    expect(doc.rules).toEqual([{ description: rs.title, manipulators: compileRuleSet(rs, { helperPath: HELPER }) }]);
    expect(manipulatorCount(rs)).toBe(compileRuleSet(rs, {}).length);
    const back = importDocument(JSON.stringify(doc));
    expect(back.ok).toBe(true);
    if (back.ok) expect(strip(back.ruleSet)).toEqual(strip(rs));
  });

  it('an empty rule set exports no rule (Karabiner rejects empty manipulator lists)', () => {
    expect(exportDocument({ title: 'e', layout: 'us', mappings: [] }, {}).rules).toEqual([]);
  });

  it('Karabiner documents come back as forms where a form reproduces them exactly', () => {
    const rs = { title: 'k', layout: 'us' as const, mappings: everyRecipe() };
    for (const helperPath of [HELPER, undefined]) {
      const manipulators = compileRuleSet(rs, { helperPath });
      const r = importDocument(JSON.stringify({ title: 'From K-E', rules: [{ description: 'all', manipulators }] }));
      if (!r.ok) throw new Error(r.error);
      expect(r.raw).toBe(0);
      expect(r.ruleSet.title).toBe('From K-E');
      expect(compileRuleSet(r.ruleSet, { helperPath })).toEqual(manipulators);
    }
  });

  it('what the forms cannot express is kept raw, never dropped or altered', () => {
    const odd: JsonObject[] = [
      { type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b' }], to_delayed_action: { to_if_invoked: [{ key_code: 'c' }] } },
      { type: 'basic', from: { key_code: 'q', modifiers: { mandatory: ['command'] } }, to: [{ key_code: 'q', modifiers: ['command'], repeat: false }] },
      { type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b' }], conditions: [{ type: 'frontmost_application_if', bundle_identifiers: ['^com\\.apple\\..*'] }] },
      { type: 'basic', from: { key_code: 'a' }, to: [{ set_variable: { name: 'mine', value: 1 } }] },
      { type: 'mouse_motion_to_scroll', from: { modifiers: { mandatory: ['fn'] } } },
      { type: 'basic', from: { any: 'key_code' }, to: [{ key_code: 'vk_none' }] },
    ];
    const r = importDocument(JSON.stringify({ title: 'odd', rules: [{ description: 'o', manipulators: odd, enabled: false }] }));
    if (!r.ok) throw new Error(r.error);
    expect(r.raw).toBe(odd.length);
    expect(r.ruleSet.mappings.every((m) => !m.enabled && m.label === 'o')).toBe(true);
    expect(r.ruleSet.mappings.map((m) => (m.kind === 'raw' ? m.manipulator : null))).toEqual(odd);
  });

  it('a byte-order mark in front of the JSON is ignored', () => {
    expect(importDocument('\uFEFF{"title": "t", "rules": []}')).toMatchObject({ ok: true, ruleSet: { title: 't', mappings: [] } });
  });

  it('a single rule object is accepted too', () => {
    const r = importDocument(JSON.stringify({ description: 'one rule', manipulators: [{ type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b' }] }] }));
    expect(r.ok && r.ruleSet.title === 'one rule' && r.ruleSet.mappings[0].kind === 'remap').toBe(true);
  });

  it('bad files give a reason and nothing else', () => {
    expect(importDocument('{"title": ')).toMatchObject({ ok: false, error: 'json' });
    expect(importDocument('[1,2]')).toEqual({ ok: false, error: 'format' });
    expect(importDocument('{"profiles": []}')).toEqual({ ok: false, error: 'format' });
    expect(importDocument('{"rules": [{"manipulators": [1]}]}')).toEqual({ ok: false, error: 'malformed' });
    expect(importDocument('{"rules": [{"manipulators": "x"}]}')).toEqual({ ok: false, error: 'malformed' });
    const doc = exportDocument(richRuleSet(), {});
    const broken = JSON.parse(JSON.stringify(doc));
    broken.tarvel.ruleSet.mappings[0].trigger.keys = 'caps_lock';
    expect(importDocument(JSON.stringify(broken))).toEqual({ ok: false, error: 'malformed' });
    const future = JSON.parse(JSON.stringify(doc));
    future.tarvel.version = 99;
    expect(importDocument(JSON.stringify(future))).toEqual({ ok: false, error: 'format' });
  });

  it('saved state is read back strictly', () => {
    const rs = richRuleSet();
    expect(strip(readRuleSet(ruleSetForSaving(rs)) as RuleSet)).toEqual(strip(rs));
    expect(readRuleSet({ title: 'x', mappings: [{ kind: 'remap' }] })).toBeUndefined();
    expect(readRuleSet({ title: 1, mappings: [] })).toBeUndefined();
    expect(readRuleSet(null)).toBeUndefined();
  });
});

describe('decompile', () => {
  it('keeps the rule description as the label', () => {
    expect(decompile({ type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b' }] }, 'mine').label).toBe('mine');
  });
  it('reads a focus command with hostile quoting back into the app it names', () => {
    const man = { type: 'basic', from: { key_code: 'f1' }, to: [{ shell_command: `'${HELPER}' --name 'Bob'\\''s "App"' --bundle-id 'org.bob'` }] };
    const m = decompile(man);
    expect(m.kind === 'remap' && m.action).toEqual({ type: 'app', app: { name: 'Bob\'s "App"', bundleId: 'org.bob' } });
  });
});

describe('export file name', () => {
  it.each([
    ['My keymap', 'My keymap.json'], ['a/b\\c:d', 'a-b-c-d.json'], ['', 'keymap.json'], ['...', 'keymap.json'],
    ['  spaced  out ', 'spaced out.json'], ['line\nbreak', 'line-break.json'], ['日本語の設定', '日本語の設定.json'],
    ['x'.repeat(200), `${'x'.repeat(80)}.json`],
  ])('%j → %j', (title, name) => expect(exportFileName(title)).toBe(name));
});
