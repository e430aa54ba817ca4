import { describe, expect, it } from 'vitest';
import { t } from '../i18n';
import { RECIPES, recipeDefaults } from './recipes';
import type { Mapping, RuleSet } from './types';
import { validateRuleSet } from './validate';

const remap = (id: string, over: Partial<Mapping & { kind: 'remap' }> = {}): Mapping => ({
  id, enabled: true, kind: 'remap', trigger: { keys: ['a'], mandatory: [], optional: ['any'] }, action: { type: 'keys', strokes: [{ key: 'b', modifiers: [] }] }, ...over,
} as Mapping);
const rs = (...mappings: Mapping[]): RuleSet => ({ title: 't', layout: 'us', mappings });
const codes = (set: RuleSet) => validateRuleSet(set).map((p) => `${p.id}:${p.field}:${p.code}`);

describe('validation messages', () => {
  it('every recipe with its defaults is clean, except a missing app', () => {
    for (const r of RECIPES) {
      const problems = validateRuleSet(rs(...r.build(recipeDefaults(r))));
      expect(problems.map((p) => p.code), r.id).toEqual(r.params.some((p) => p.kind === 'app') ? ['v.appRequired'] : []);
    }
  });

  it('unknown and missing key names, bad modifiers', () => {
    expect(codes(rs(remap('x', { trigger: { keys: ['capslock'], mandatory: ['cmd', 'any'], optional: [] } })))).toEqual([
      'x:trigger.0:v.keyUnknown', 'x:mods:v.modUnknown', 'x:mods:v.anyMandatory',
    ]);
    expect(codes(rs(remap('x', { action: { type: 'keys', strokes: [{ key: '', modifiers: [] }] } })))).toEqual(['x:action.0:v.keyRequired']);
    expect(t('v.keyUnknown', { key: 'capslock' })).toBe('“capslock” is not a key name Karabiner-Elements knows.');
  });

  it('required fields of actions', () => {
    expect(codes(rs(remap('a', { action: { type: 'app', app: null } })))).toEqual(['a:action:v.appRequired']);
    expect(codes(rs(remap('s', { action: { type: 'shortcut', name: '  ' } })))).toEqual(['s:action:v.shortcutRequired']);
    expect(codes(rs(remap('c', { action: { type: 'shell', command: '' } })))).toEqual(['c:action:v.shellRequired']);
    expect(codes(rs(remap('n', { action: { type: 'shortcut', name: 'a\u0000b' } })))).toEqual(['n:action:v.nul']);
    expect(codes(rs(remap('k', { action: { type: 'keys', strokes: [] } })))).toEqual(['k:action:v.strokesRequired']);
  });

  it('chords, timing, layers and app scopes', () => {
    expect(codes(rs(remap('c', { trigger: { keys: ['j', 'j'], mandatory: [], optional: [], chordMs: 0 } })))).toEqual(['c:trigger:v.chordDistinct', 'c:chordMs:v.timing']);
    expect(codes(rs(remap('l', { layer: 'nav' })))).toEqual(['l:layer:v.layerMissing']);
    expect(codes(rs(remap('p', { apps: { mode: 'only', apps: [] } })))).toEqual(['p:apps:v.appsEmpty']);
    const layerKey: Mapping = { id: 'k', enabled: true, kind: 'layerKey', trigger: { keys: ['tab'], mandatory: [], optional: [] }, name: 'bad name', mode: 'hold', tap: { type: 'none' } };
    expect(codes(rs(layerKey))).toEqual(['k:name:v.layerName']);
  });

  it('a raw manipulator must hold one event per to-object', () => {
    const raw: Mapping = { id: 'r', enabled: true, kind: 'raw', manipulator: { type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b', shell_command: 'x' }, {}], to_if_alone: 'x' } };
    expect(validateRuleSet(rs(raw)).map((p) => [p.code, p.params])).toEqual([
      ['v.rawOneEvent', { list: 'to', n: 2 }], ['v.rawOneEvent', { list: 'to', n: 0 }], ['v.rawToNotArray', { list: 'to_if_alone' }],
    ]);
    const bad: Mapping = { id: 'r', enabled: true, kind: 'raw', manipulator: { from: { key_code: 'spac' }, to: [{ key_code: 'b' }] } };
    expect(codes(rs(bad))).toEqual(['r:raw:v.rawType', 'r:raw:v.keyUnknown']);
  });

  it('a trigger taken by an earlier mapping in the same places is reported, later ones only', () => {
    const hyperS = remap('h', { trigger: { keys: ['s'], mandatory: ['control', 'option', 'shift', 'command'], optional: [] } });
    const plainS = remap('s', { trigger: { keys: ['s'], mandatory: [], optional: ['any'] } });
    expect(codes(rs(plainS, hyperS))).toEqual(['h:trigger:v.shadowed']);
    expect(codes(rs(hyperS, plainS))).toEqual([]);
    expect(codes(rs(plainS, { ...plainS, id: 's2' }))).toEqual(['s2:trigger:v.shadowed']);
    // A mapping limited to an app or a layer does not hide a later global one, nor one elsewhere.
    expect(codes(rs({ ...plainS, apps: { mode: 'only', apps: [{ name: 'X', bundleId: 'x' }] } } as Mapping, { ...plainS, id: 's2' }))).toEqual([]);
    expect(codes(rs({ ...plainS, enabled: false }, { ...plainS, id: 's2' }))).toEqual([]);
    const strict = remap('a', { trigger: { keys: ['s'], mandatory: [], optional: [] } });
    expect(codes(rs(strict, hyperS))).toEqual([]);
  });
});
