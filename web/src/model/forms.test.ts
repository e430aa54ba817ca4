import { describe, expect, it } from 'vitest';
import {
  buildDoubleTap, buildLayer, buildLeader, classifyOne, convertMapping, formFits, groupManipulators, readDoubleTap, readLayer, readLetterTapHold,
  withLetterTapHold, withLetterTiming,
  readLeader, type DoubleTapParams, type LayerParams, type LeaderParams,
} from './forms';
import type { JsonObject } from './json';
import { RECIPES, recipeDefaults } from './recipes';
import { checkMapping } from './check';
import type { FormKind, Mapping } from './types';

const key = (k: string, modifiers?: string[]): JsonObject => (modifiers ? { key_code: k, modifiers } : { key_code: k });
const basic = (extra: JsonObject): JsonObject => ({ type: 'basic', from: { key_code: 'a' }, ...extra });
const mapping = (form: FormKind, manipulators: JsonObject[]): Mapping => ({ id: 'm', enabled: true, form, manipulators });

const layers: [string, LayerParams][] = [
  ['held, tap sends the key', { mode: 'hold', from: { key_code: 'tab', modifiers: { optional: ['any'] } }, conditions: [], variable: 'tarvel_layer_nav', on: 1, off: 0, tap: [key('tab')] }],
  ['after a delay, under an app condition', { mode: 'delayed', from: { key_code: 'spacebar' }, conditions: [{ type: 'frontmost_application_unless', bundle_identifiers: ['^com\\.apple\\.Terminal$'] }], variable: 'space_mode', on: true, off: false, tap: [key('spacebar')], parameters: { 'basic.to_if_held_down_threshold_milliseconds': 200 } }],
  ['toggled', { mode: 'toggle', from: { key_code: 'f13' }, conditions: [], variable: 'tarvel_layer_nums', on: 1, off: 0, tap: [] }],
];
const doubleTaps: [string, DoubleTapParams][] = [
  ['quiet first press', { from: { key_code: 'q', modifiers: { mandatory: ['command'] } }, conditions: [], variable: 'command-q', first: [], second: [key('q', ['left_command'])] }],
  ['the key itself on every press', { from: { key_code: 'left_command', modifiers: { optional: ['any'] } }, conditions: [], variable: 'left_command pressed', first: [key('left_command')], second: [key('left_control')], parameters: { 'basic.to_delayed_action_delay_milliseconds': 300 } }],
];
const leaders: [string, LeaderParams][] = [
  ['sequences sharing a first key', { from: { key_code: 'right_option' }, conditions: [], variable: 'tarvel_leader_1', sequences: [
    { keys: ['g', 's'], to: [{ shell_command: 'open -a Safari' }] }, { keys: ['g', 't'], to: [key('t', ['command'])] }, { keys: ['x'], to: [key('vk_none')] },
  ] }],
];

describe('pattern forms build manipulators and read exactly those back', () => {
  it.each(layers)('layer: %s', (_n, p) => expect(readLayer(buildLayer(p))).toEqual(p));
  it.each(doubleTaps)('double tap: %s', (_n, p) => expect(readDoubleTap(buildDoubleTap(p))).toEqual(p));
  it.each(leaders)('leader: %s', (_n, p) => expect(readLeader(buildLeader(p))).toEqual(p));

  it('a double tap is what the gallery writes: the second press tested first, the first resets after the delay', () => {
    const [twice, once] = buildDoubleTap(doubleTaps[0][1]);
    const reset = [{ set_variable: { name: 'command-q', value: 0 } }];
    expect(twice).toEqual({ type: 'basic', from: { key_code: 'q', modifiers: { mandatory: ['command'] } }, conditions: [{ type: 'variable_if', name: 'command-q', value: 1 }], to: [key('q', ['left_command'])] });
    expect(once).toEqual({ type: 'basic', from: { key_code: 'q', modifiers: { mandatory: ['command'] } }, to: [{ set_variable: { name: 'command-q', value: 1 } }], to_delayed_action: { to_if_invoked: reset, to_if_canceled: reset } });
  });

  it('a leader runs its followers before itself and ends with a catch-all; steps are shared', () => {
    const ms = buildLeader(leaders[0][1]);
    const v = 'tarvel_leader_1';
    expect(ms.map((m) => [(m.from as JsonObject).key_code ?? 'any', (m.conditions as JsonObject[] | undefined)?.at(-1)?.value ?? null])).toEqual([
      ['g', 1], ['s', 'g'], ['t', 'g'], ['x', 1], ['right_option', null], ['any', 0],
    ]);
    expect(ms[1].to).toEqual([{ set_variable: { name: v, value: 0 } }, { shell_command: 'open -a Safari' }]);
    expect(ms[0].to_delayed_action).toEqual({ to_if_invoked: [{ set_variable: { name: v, value: 0 } }] });
  });

  it('tap / hold for letters: halt ends the tap and the hold; the delay follows the threshold', () => {
    const m = withLetterTiming(withLetterTapHold(basic({}), { tap: [key('a')], hold: [key('left_control')] }), 150);
    expect(m).toMatchObject({
      to_if_alone: [{ key_code: 'a', halt: true }], to_if_held_down: [{ key_code: 'left_control', halt: true }], to_delayed_action: { to_if_canceled: [key('a')] },
      parameters: { 'basic.to_if_held_down_threshold_milliseconds': 150, 'basic.to_delayed_action_delay_milliseconds': 150 },
    });
    expect(readLetterTapHold(m)).toEqual({ tap: [key('a')], hold: [key('left_control')] });
  });

  it.each<[string, JsonObject[]]>([
    ['a layer key with another event', [basic({ to: [{ set_variable: { name: 'x', value: 1 } }, key('b')], to_after_key_up: [{ set_variable: { name: 'x', value: 0 } }] })]],
    ['a layer whose release sets another variable', [basic({ to: [{ set_variable: { name: 'x', value: 1 } }], to_after_key_up: [{ set_variable: { name: 'y', value: 0 } }] })]],
    ['a layer written with one-object lists', [basic({ to: { set_variable: { name: 'x', value: 1 } }, to_after_key_up: { set_variable: { name: 'x', value: 0 } } })]],
    ['a double tap on two different keys', [basic({ conditions: [{ type: 'variable_if', name: 'v', value: 1 }], to: [key('c')] }), { ...basic({ to: [{ set_variable: { name: 'v', value: 1 } }], to_delayed_action: { to_if_invoked: [{ set_variable: { name: 'v', value: 0 } }], to_if_canceled: [{ set_variable: { name: 'v', value: 0 } }] } }), from: { key_code: 'b' } }]],
  ])('near misses are not read as patterns: %s', (_n, ms) => {
    expect(readLayer(ms) ?? readDoubleTap(ms) ?? readLeader(ms)).toBeUndefined();
  });
});

describe('each manipulator opens in the most specific form that shows all of it', () => {
  it.each<[string, JsonObject, FormKind]>([
    ['a key to keys', basic({ to: [key('b', ['left_shift'])] }), 'remap'],
    ['one-object to, aliases, a mouse button trigger', { type: 'basic', from: { pointing_button: 'button4', modifiers: { optional: 'any' } }, to: { key_code: 'left_arrow', modifiers: ['left_gui'] } }, 'remap'],
    ['keys pressed together with their options', { type: 'basic', from: { simultaneous: [key('s'), key('j')], simultaneous_options: { key_down_order: 'strict', to_after_key_up: [{ set_variable: { name: 'vi', value: 0 } }] } }, to: [key('down_arrow')] }, 'remap'],
    ['every condition kind and event kind', basic({
      conditions: [
        { type: 'device_if', identifiers: [{ vendor_id: 1452, product_id: 641, is_keyboard: true }] }, { type: 'keyboard_type_if', keyboard_types: ['jis'] },
        { type: 'input_source_unless', input_sources: [{ language: '^ja$' }] }, { type: 'variable_unless', name: 'mode', value: 'insert' },
      ],
      to: [
        { mouse_key: { vertical_wheel: -64 } }, { pointing_button: 'button1' }, { set_notification_message: { id: 'n', text: 'hi' } },
        { select_input_source: { input_source_id: '^com\\.apple\\.keylayout\\.US$' } }, { sticky_modifier: { left_shift: 'toggle' } },
        { software_function: { set_mouse_cursor_position: { x: '50%', y: '50%', screen: 0 } } }, { key_code: 'a', repeat: false, halt: true, hold_down_milliseconds: 10 },
      ],
    }), 'remap'],
    ['tap and hold', basic({ to: [key('left_control')], to_if_alone: [key('escape')], parameters: { 'basic.to_if_alone_timeout_milliseconds': 0 } }), 'tapHold'],
    ['lazy with held down', basic({ to: [{ key_code: 'left_command', lazy: true }], to_if_held_down: [key('left_command')], to_if_alone: [key('japanese_eisuu')] }), 'tapHold'],
    ['a held layer', basic({ to: [{ set_variable: { name: 'x', value: 1 } }], to_after_key_up: [{ set_variable: { name: 'x', value: 0 } }] }), 'layer'],
    ['tap / hold for letters', withLetterTapHold(basic({}), { tap: [key('a')], hold: [key('left_control')] }), 'tapHold'],
    ['a delayed action', basic({ to: [key('b')], to_delayed_action: { to_if_invoked: [key('c')] } }), 'advanced'],
    ['…the letter pattern with a cancel that types something else', { ...withLetterTapHold(basic({}), { tap: [key('a')], hold: [key('left_control')] }), to_delayed_action: { to_if_canceled: [key('b')] } }, 'advanced'],
    ['a press with a release list only', basic({ to: [key('b')], to_after_key_up: [key('c')] }), 'advanced'],
    ['an unknown field', basic({ to: [key('b')], note: 'mine' }), 'raw'],
    ['a key given as a number', { type: 'basic', from: { key_code: 41 }, to: [key('b')] }, 'raw'],
    ['a command sent to another program', basic({ to: [{ send_user_command: { payload: 1 } }] }), 'raw'],
    ['to_if_other_key_pressed', basic({ to_if_other_key_pressed: [{ other_keys: [key('b')], to: [key('c')] }] }), 'raw'],
    ['a mouse manipulator', { type: 'mouse_motion_to_scroll', from: { modifiers: { mandatory: ['fn'] } } }, 'raw'],
  ])('%s → %s', (_n, man, form) => {
    expect(classifyOne(man)).toBe(form);
    expect(formFits(form, [man])).toBe(true);
  });

  it('a rule’s manipulators are grouped into the patterns Tarvel writes, and nothing else changes', () => {
    const ms = [
      basic({ to: [key('b')] }),
      ...buildDoubleTap(doubleTaps[1][1]),
      ...buildLayer(layers[2][1]),
      ...buildLeader(leaders[0][1]),
      basic({ to: [key('c')], weird: true }),
    ];
    const mappings = groupManipulators(ms);
    expect(mappings.map((m) => [m.form, m.manipulators.length])).toEqual([['remap', 1], ['doubleTap', 2], ['layer', 2], ['leader', 6], ['raw', 1]]);
    expect(mappings.flatMap((m) => m.manipulators)).toEqual(ms);
  });
});

describe('changing a mapping’s form keeps what the new form holds and lists the rest', () => {
  it.each<[string, Mapping, FormKind, string[], (m: JsonObject[]) => void]>([
    ['advanced to press → action drops the other lists', mapping('advanced', [basic({ to: [key('b')], to_if_alone: [key('c')], to_delayed_action: { to_if_invoked: [key('d')] }, description: 'kept' })]), 'remap',
      ['to_if_alone', 'to_delayed_action'], (ms) => expect(ms).toEqual([basic({ to: [key('b')], description: 'kept' })])],
    ['raw JSON to the advanced form drops only what no field shows', mapping('raw', [basic({ to: [key('b'), { send_user_command: {} }], extra: 1 })]), 'advanced',
      ['to (1)', 'extra'], (ms) => expect(ms).toEqual([basic({ to: [key('b')] })])],
    ['a press to a layer key carries the trigger and the conditions', mapping('remap', [basic({ conditions: [{ type: 'keyboard_type_if', keyboard_types: ['jis'] }], to: [key('b')] })]), 'layer',
      [], (ms) => expect(readLayer(ms)).toMatchObject({ from: { key_code: 'a' }, conditions: [{ type: 'keyboard_type_if', keyboard_types: ['jis'] }], tap: [key('b')] })],
    ['a double tap to JSON keeps both manipulators', mapping('doubleTap', buildDoubleTap(doubleTaps[0][1])), 'raw',
      [], (ms) => expect(ms).toEqual(buildDoubleTap(doubleTaps[0][1]))],
    ['a double tap to press → action keeps the trigger and what the second press sends', mapping('doubleTap', buildDoubleTap(doubleTaps[1][1])), 'remap',
      ['1 other manipulator', 'to_delayed_action'], (ms) => expect(ms).toEqual([{ type: 'basic', from: doubleTaps[1][1].from, to: doubleTaps[1][1].second, parameters: doubleTaps[1][1].parameters }])],
    ['a layer key to a leader key: the tap becomes the first sequence’s action, the layer variable goes', mapping('layer', buildLayer(layers[0][1])), 'leader',
      ['set_variable tarvel_layer_nav'], (ms) => expect(readLeader(ms)).toMatchObject({ from: layers[0][1].from, sequences: [{ keys: [''], to: [key('tab')] }] })],
  ])('%s', (_n, m, form, dropped, check) => {
    const c = convertMapping(m, form, new Set(['tarvel_layer_layer1']));
    expect(c.dropped).toEqual(dropped);
    expect(c.mapping.form).toBe(form);
    expect(formFits(form, c.mapping.manipulators)).toBe(true);
    check(c.mapping.manipulators);
  });
});

describe('recipes', () => {
  const build = (id: string, values: Record<string, unknown> = {}, helperPath?: string) => {
    const r = RECIPES.find((x) => x.id === id);
    if (!r) throw new Error(id);
    return r.build({ ...recipeDefaults(r), ...values }, { helperPath });
  };
  it('⌘ alone → 英数 / かな is the gallery’s current form, which keeps ⌘-click and ⌘-drag working', () => {
    expect(build('cmdEisuuKana')[0].manipulators).toEqual([{
      type: 'basic', from: { key_code: 'left_command', modifiers: { optional: ['any'] } },
      parameters: { 'basic.to_if_held_down_threshold_milliseconds': 100 },
      to: [{ key_code: 'left_command', lazy: true }], to_if_held_down: [{ key_code: 'left_command' }], to_if_alone: [{ key_code: 'japanese_eisuu' }],
    }]);
  });
  it('a focus recipe goes through tarvel-focus when it exists, else Karabiner-Elements’ open_application', () => {
    const safari = { name: 'Safari', bundleId: 'com.apple.Safari', path: '/Applications/Safari.app' };
    const helper = '/Applications/Tarvel.app/Contents/MacOS/tarvel-focus';
    expect(build('focusApp', { app: safari }, helper)[0].manipulators[0].to).toEqual([{ shell_command: `'${helper}' --name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/Applications/Safari.app'` }]);
    expect(build('focusApp', { app: safari })[0].manipulators[0].to).toEqual([{ software_function: { open_application: { bundle_identifier: 'com.apple.Safari' } } }]);
  });
  it('every recipe opens in its own form and checks clean', () => {
    for (const r of RECIPES) {
      for (const m of r.build({ ...recipeDefaults(r), app: { name: 'Mail', bundleId: 'com.apple.mail' } }, {})) {
        expect(formFits(m.form, m.manipulators), `${r.id} ${m.form}`).toBe(true);
        expect(checkMapping(m), r.id).toEqual([]);
      }
    }
  });
});
