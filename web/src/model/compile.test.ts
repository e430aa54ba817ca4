import { describe, expect, it } from 'vitest';
import { compileMapping, compileRuleSet } from './compile';
import { RECIPES, recipeDefaults } from './recipes';
import type { Action, Mapping, RuleSet } from './types';

const HELPER = '/Applications/Tarvel.app/Contents/MacOS/tarvel-focus';
const safari = { name: 'Safari', bundleId: 'com.apple.Safari', path: '/Applications/Safari.app' };
const recipe = (id: string, values: Record<string, unknown> = {}) => {
  const r = RECIPES.find((x) => x.id === id);
  if (!r) throw new Error(id);
  return r.build({ ...recipeDefaults(r), ...values });
};
const compileAll = (ms: Mapping[], helperPath?: string) =>
  compileRuleSet({ title: 't', layout: 'us', mappings: ms }, { helperPath });

describe('recipes compile to the manipulators Karabiner-Elements expects', () => {
  it('Caps Lock to Control when held, Escape when tapped', () => {
    expect(compileAll(recipe('capsCtrlEsc'))).toEqual([{
      type: 'basic',
      from: { key_code: 'caps_lock', modifiers: { optional: ['any'] } },
      to: [{ key_code: 'left_control' }],
      to_if_alone: [{ key_code: 'escape' }],
    }]);
  });

  it('command alone sends 英数 and かな, lazily so ⌘-shortcuts still work', () => {
    expect(compileAll(recipe('cmdEisuuKana'))).toEqual([
      { type: 'basic', from: { key_code: 'left_command', modifiers: { optional: ['any'] } }, to: [{ key_code: 'left_command', lazy: true }], to_if_alone: [{ key_code: 'japanese_eisuu' }] },
      { type: 'basic', from: { key_code: 'right_command', modifiers: { optional: ['any'] } }, to: [{ key_code: 'right_command', lazy: true }], to_if_alone: [{ key_code: 'japanese_kana' }] },
    ]);
  });

  it('hyper+S focuses an app through the helper, or opens it without one', () => {
    const ms = recipe('focusApp', { app: safari });
    const from = { key_code: 's', modifiers: { mandatory: ['control', 'option', 'shift', 'command'] } };
    expect(compileAll(ms, HELPER)).toEqual([{
      type: 'basic', from,
      to: [{ shell_command: `'${HELPER}' --name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/Applications/Safari.app'` }],
    }]);
    expect(compileAll(ms)).toEqual([{ type: 'basic', from, to: [{ software_function: { open_application: { bundle_identifier: 'com.apple.Safari' } } }] }]);
    const pathOnly = recipe('focusApp', { app: { name: 'Tool', path: '/opt/Tool.app' } });
    expect(compileAll(pathOnly)[0].to).toEqual([{ software_function: { open_application: { file_path: '/opt/Tool.app' } } }]);
    expect(compileAll(pathOnly, HELPER)[0].to).toEqual([{ shell_command: `'${HELPER}' --name 'Tool' --fallback '/opt/Tool.app'` }]);
  });

  it('hyper key emits all four modifiers, tap optional', () => {
    expect(compileAll(recipe('hyper', { key: 'caps_lock', tap: 'escape' }))).toEqual([{
      type: 'basic', from: { key_code: 'caps_lock', modifiers: { optional: ['any'] } },
      to: [{ key_code: 'left_shift', modifiers: ['left_command', 'left_control', 'left_option'] }],
      to_if_alone: [{ key_code: 'escape' }],
    }]);
    expect(compileAll(recipe('hyper'))[0]).not.toHaveProperty('to_if_alone');
  });

  it('vim arrows: a held layer key sets a variable that the arrow mappings require', () => {
    const out = compileAll(recipe('vimArrows'));
    expect(out[0]).toEqual({
      type: 'basic', from: { key_code: 'tab', modifiers: { optional: ['any'] } },
      to: [{ set_variable: { name: 'tarvel_layer_arrows', value: 1 } }],
      to_after_key_up: [{ set_variable: { name: 'tarvel_layer_arrows', value: 0 } }],
      to_if_alone: [{ key_code: 'tab' }],
    });
    expect(out.slice(1).map((m) => [(m.from as { key_code: string }).key_code, (m.to as { key_code: string }[])[0].key_code])).toEqual([
      ['h', 'left_arrow'], ['j', 'down_arrow'], ['k', 'up_arrow'], ['l', 'right_arrow'],
    ]);
    for (const m of out.slice(1)) expect(m.conditions).toEqual([{ type: 'variable_if', name: 'tarvel_layer_arrows', value: 1 }]);
  });

  it('app launcher layer, chord, space cadet, media keys, disabled key', () => {
    const launcher = compileAll(recipe('launcher', { app: safari }), HELPER);
    expect(launcher).toHaveLength(2);
    expect(launcher[0]).not.toHaveProperty('to_if_alone');
    expect(launcher[1]).toMatchObject({ from: { key_code: 'f' }, conditions: [{ type: 'variable_if', name: 'tarvel_layer_apps', value: 1 }] });
    expect(compileAll(recipe('chordEsc'))).toEqual([{
      type: 'basic', from: { simultaneous: [{ key_code: 'j' }, { key_code: 'k' }], modifiers: { optional: ['any'] } }, to: [{ key_code: 'escape' }],
    }]);
    expect(compileAll(recipe('spaceCadet'))[0].to_if_alone).toEqual([{ key_code: '9', modifiers: ['left_shift'] }]);
    expect(compileAll(recipe('spaceCadet'))[1].to_if_alone).toEqual([{ key_code: '0', modifiers: ['left_shift'] }]);
    const media = compileAll(recipe('mediaFKeys'));
    expect(media).toHaveLength(6);
    expect(media[1]).toEqual({ type: 'basic', from: { key_code: 'f8' }, to: [{ consumer_key_code: 'play_or_pause' }] });
    expect(compileAll(recipe('disableKey', { key: 'insert' }))).toEqual([{
      type: 'basic', from: { key_code: 'insert', modifiers: { optional: ['any'] } }, to: [{ key_code: 'vk_none' }],
    }]);
  });
});

describe('forms', () => {
  const base = { id: 'x', enabled: true };
  it('a key sequence gives one to-object per key', () => {
    const m: Mapping = { ...base, kind: 'remap', trigger: { keys: ['f1'], mandatory: ['command'], optional: [] }, action: { type: 'keys', strokes: [{ key: 'a', modifiers: ['left_command'] }, { key: 'c', modifiers: ['left_command'] }] } };
    expect(compileMapping(m, {})).toEqual([{ type: 'basic', from: { key_code: 'f1', modifiers: { mandatory: ['command'] } }, to: [{ key_code: 'a', modifiers: ['left_command'] }, { key_code: 'c', modifiers: ['left_command'] }] }]);
  });

  it('delayed hold uses to_if_held_down and carries the timing parameters', () => {
    const m: Mapping = { ...base, kind: 'tapHold', trigger: { keys: ['f'], mandatory: [], optional: [] }, tap: { type: 'keys', strokes: [{ key: 'f', modifiers: [] }] }, hold: { type: 'keys', strokes: [{ key: 'left_shift', modifiers: [] }] }, holdMode: 'delayed', lazy: false, tapTimeoutMs: 200, holdDelayMs: 180 };
    expect(compileMapping(m, {})).toEqual([{
      type: 'basic', from: { key_code: 'f' }, to_if_alone: [{ key_code: 'f' }], to_if_held_down: [{ key_code: 'left_shift' }],
      parameters: { 'basic.to_if_alone_timeout_milliseconds': 200, 'basic.to_if_held_down_threshold_milliseconds': 180 },
    }]);
  });

  it('a toggled layer key needs two manipulators, the "off" one first', () => {
    const m: Mapping = { ...base, kind: 'layerKey', trigger: { keys: ['f13'], mandatory: [], optional: [] }, name: 'nav', mode: 'toggle', tap: { type: 'none' } };
    const v = 'tarvel_layer_nav';
    expect(compileMapping(m, {})).toEqual([
      { type: 'basic', from: { key_code: 'f13' }, conditions: [{ type: 'variable_if', name: v, value: 1 }], to: [{ set_variable: { name: v, value: 0 } }] },
      { type: 'basic', from: { key_code: 'f13' }, to: [{ set_variable: { name: v, value: 1 } }] },
    ]);
  });

  it('app restrictions are anchored, escaped expressions; apps without id match by path', () => {
    const m: Mapping = {
      ...base, kind: 'remap', trigger: { keys: ['a'], mandatory: [], optional: [] }, action: { type: 'none' },
      apps: { mode: 'except', apps: [{ name: 'Terminal', bundleId: 'com.apple.Terminal' }, { name: 'X', path: '/opt/x (1).app' }] },
    };
    const [man] = compileMapping(m, {});
    expect(man.conditions).toEqual([{
      type: 'frontmost_application_unless',
      bundle_identifiers: ['^com\\.apple\\.Terminal$'],
      file_paths: ['^\\/opt\\/x \\(1\\)\\.app$'],
    }]);
  });

  it('Shortcuts, input sources, media keys and shell commands', () => {
    const act = (action: Action) => compileMapping({ ...base, kind: 'remap', trigger: { keys: ['f5'], mandatory: [], optional: [] }, action }, {})[0].to;
    expect(act({ type: 'shortcut', name: "Mom's list" })).toEqual([{ shell_command: `/usr/bin/shortcuts run 'Mom'\\''s list'` }]);
    expect(act({ type: 'input', source: 'kana' })).toEqual([{ key_code: 'japanese_kana' }]);
    expect(act({ type: 'media', key: 'mute' })).toEqual([{ consumer_key_code: 'mute' }]);
    expect(act({ type: 'shell', command: 'open -a Mail' })).toEqual([{ shell_command: 'open -a Mail' }]);
  });

  it('disabled mappings are left out; raw manipulators pass through unchanged', () => {
    const raw = { type: 'basic', from: { pointing_button: 'button4' }, to: [{ key_code: 'vk_none' }], whatever: { kept: true } };
    const rs: RuleSet = { title: 't', layout: 'us', mappings: [
      { ...base, id: 'a', enabled: false, kind: 'remap', trigger: { keys: ['a'], mandatory: [], optional: [] }, action: { type: 'none' } },
      { ...base, id: 'b', kind: 'raw', manipulator: raw },
    ] };
    expect(compileRuleSet(rs, {})).toEqual([raw]);
  });
});
