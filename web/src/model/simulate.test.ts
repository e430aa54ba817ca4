import { describe, expect, it } from 'vitest';
import { buildDoubleTap, buildLayer, buildLeader } from './forms';
import type { Json, JsonObject } from './json';
import { findShadows, simulatePress, simulateRelease, simulateWait, type Flag, type SimEnv, type SimResult, type SimRule } from './simulate';

const key = (k: string, modifiers?: string[]): JsonObject => (modifiers ? { key_code: k, modifiers } : { key_code: k });
const man = (from: JsonObject, extra: JsonObject = {}): JsonObject => ({ type: 'basic', from, ...extra });
const rule = (name: string, manipulators: JsonObject[], enabled = true): SimRule => ({ name, enabled, manipulators });
const env = (over: Partial<SimEnv> = {}): SimEnv => ({ held: [], variables: {}, keyboardType: 'ansi', ...over });
const press = (rules: SimRule[], k: string, e = env(), hold = false): SimResult => simulatePress(rules, e, [], [{ field: 'key_code', name: k }], hold);
/** What a press sends, as "when:key+mods" strings, and which rule and manipulator took it. */
const sent = (r: SimResult) => ({
  by: r.rule === undefined ? null : `${r.rule}.${r.manipulator}`,
  out: r.phases.flatMap((p) => p.events.map((e) => `${p.when}:${JSON.stringify(e)}`)),
  extra: r.heldExtra,
});

describe('one key press over every rule, in order', () => {
  const cmdK = man({ key_code: 'k', modifiers: { mandatory: ['command'], optional: ['any'] } }, { to: [key('l', ['left_control'])] });
  const strictK = man({ key_code: 'k', modifiers: { mandatory: ['command'] } }, { to: [key('l', ['left_control'])] });
  it.each<[string, SimRule[], string, Flag[], { by: string | null; extra: Flag[] }]>([
    ['no manipulator: the key goes through', [rule('r', [cmdK])], 'j', ['left_command'], { by: null, extra: ['left_command'] }],
    ['mandatory modifiers are taken out of what is sent', [rule('r', [cmdK])], 'k', ['right_command'], { by: '0.0', extra: [] }],
    ['"other modifiers too" keeps shift on the result', [rule('r', [cmdK])], 'k', ['left_command', 'left_shift'], { by: '0.0', extra: ['left_shift'] }],
    ['without it, ⌘⇧K is not taken', [rule('r', [strictK])], 'k', ['left_command', 'left_shift'], { by: null, extra: ['left_shift', 'left_command'] }],
    ['the first matching rule wins; a disabled one never does', [rule('off', [cmdK], false), rule('a', [strictK]), rule('b', [cmdK])], 'k', ['left_command'], { by: '1.0', extra: [] }],
    ['aliases name the same key and modifier', [rule('r', [man({ key_code: 'left_alt', modifiers: { mandatory: ['left_gui'] } }, { to: [key('a')] })])], 'left_option', ['left_command'], { by: '0.0', extra: [] }],
  ])('%s', (_n, rules, k, held, expected) => expect(sent(press(rules, k, env({ held })))).toMatchObject(expected));

  it('tap and hold send different lists; lazy events are marked, not dropped', () => {
    const rules = [rule('r', [man({ key_code: 'left_command', modifiers: { optional: ['any'] } }, {
      to: [{ key_code: 'left_command', lazy: true }], to_if_held_down: [key('left_command')], to_if_alone: [key('japanese_eisuu')],
    })])];
    expect(sent(press(rules, 'left_command')).out).toEqual(['down:{"key_code":"left_command","lazy":true}', 'alone:{"key_code":"japanese_eisuu"}']);
    const held = press(rules, 'left_command', env(), true);
    expect(sent(held).out).toEqual(['down:{"key_code":"left_command","lazy":true}', 'held:{"key_code":"left_command"}']);
    // Held, it stays down: the next key comes with ⌘.
    expect(sent(press([], 'c', held.env)).extra).toEqual(['left_command']);
    const released = simulateRelease(held.env, held.env.down?.[0] ?? { pressed: [], up: [], flags: [] });
    expect(sent(press([], 'c', released.env)).extra).toEqual([]);
  });

  it('a layer held down turns its mappings on; released, they are off again', () => {
    const rules = [rule('layer', [...buildLayer({ mode: 'hold', from: { key_code: 'tab' }, conditions: [], variable: 'nav', on: 1, off: 0, tap: [key('tab')] }),
      man({ key_code: 'h' }, { conditions: [{ type: 'variable_if', name: 'nav', value: 1 }], to: [key('left_arrow')] })])];
    const held = press(rules, 'tab', env(), true);
    expect(held.env.variables).toEqual({ nav: 1 });
    expect(sent(press(rules, 'h', held.env)).by).toBe('0.1');
    const after = simulateRelease(held.env, held.env.down?.[0] ?? { pressed: [], up: [], flags: [] }).env;
    expect(after.variables).toEqual({ nav: 0 });
    expect(sent(press(rules, 'h', after)).by).toBeNull();
    // Tapped, the layer key only sends itself.
    expect(sent(press(rules, 'tab')).out).toEqual(['down:{"set_variable":{"name":"nav","value":1}}', 'alone:{"key_code":"tab"}', 'up:{"set_variable":{"name":"nav","value":0}}']);
  });

  it('a double tap: the first press waits, the second within the delay fires', () => {
    const rules = [rule('q', buildDoubleTap({ from: { key_code: 'q', modifiers: { mandatory: ['command'] } }, conditions: [], variable: 'cq', first: [], second: [key('q', ['left_command'])] }))];
    const e = env({ held: ['left_command'] });
    const first = press(rules, 'q', e);
    expect(sent(first).by).toBe('0.1');
    expect(first.pending).toHaveLength(1);
    const second = simulatePress(rules, first.env, first.pending, [{ field: 'key_code', name: 'q' }], false);
    expect(sent(second).by).toBe('0.0');
    expect(second.env.variables).toEqual({ cq: 0 });
    const waited = simulateWait(first.env, first.pending);
    expect(sent(press(rules, 'q', waited.env)).by).toBe('0.1');
  });

  it('a leader key: its sequence fires, a wrong key ends the sequence', () => {
    const rules = [rule('leader', buildLeader({ from: { key_code: 'right_option' }, conditions: [], variable: 'L', sequences: [{ keys: ['g', 's'], to: [key('a')] }] }))];
    const run = (keys: string[]) => {
      let e = env();
      let pending: SimResult['pending'] = [];
      const out: (string | null)[] = [];
      for (const k of keys) {
        const r = simulatePress(rules, e, pending, [{ field: 'key_code', name: k }], false);
        out.push(sent(r).by);
        e = r.env;
        pending = r.pending;
      }
      return { out, variables: e.variables };
    };
    expect(run(['right_option', 'g', 's'])).toEqual({ out: ['0.2', '0.0', '0.1'], variables: { L: 0 } });
    expect(run(['right_option', 'x', 's'])).toEqual({ out: ['0.2', '0.3', null], variables: { L: 0 } });
    expect(run(['g', 's'])).toEqual({ out: [null, null], variables: {} });
  });

  it('keys pressed together match only a manipulator for exactly those keys, in any order', () => {
    const rules = [rule('r', [man({ key_code: 'j' }, { to: [key('x')] }), man({ simultaneous: [key('j'), key('k')] }, { to: [key('escape')] })])];
    const together = (ks: string[]) => sent(simulatePress(rules, env(), [], ks.map((name) => ({ field: 'key_code' as const, name })), false)).by;
    expect([together(['k', 'j']), together(['j']), together(['j', 'k', 'l'])]).toEqual(['0.1', '0.0', null]);
  });

  it.each<[string, Json, Partial<SimEnv>, boolean]>([
    ['frontmost app', { type: 'frontmost_application_if', bundle_identifiers: ['^com\\.apple\\.Terminal$'] }, { app: { bundleId: 'com.apple.Terminal' } }, true],
    ['another app', { type: 'frontmost_application_if', bundle_identifiers: ['^com\\.apple\\.Terminal$'] }, { app: { bundleId: 'com.apple.Safari' } }, false],
    ['except that app, with none in front', { type: 'frontmost_application_unless', bundle_identifiers: ['Terminal'] }, {}, true],
    ['device by vendor and product', { type: 'device_if', identifiers: [{ vendor_id: 1452, product_id: 641 }] }, { device: { vendor_id: 1452, product_id: 641, is_keyboard: true } }, true],
    ['another device', { type: 'device_if', identifiers: [{ vendor_id: 1452 }] }, { device: { is_keyboard: true } }, false],
    ['keyboard type', { type: 'keyboard_type_if', keyboard_types: ['jis'] }, { keyboardType: 'jis' }, true],
    ['input source', { type: 'input_source_if', input_sources: [{ language: '^ja$' }] }, { inputSource: { language: 'ja' } }, true],
    ['a variable compares numbers and booleans apart', { type: 'variable_if', name: 'v', value: 1 }, { variables: { v: true } }, false],
    ['an unset variable is 0', { type: 'variable_unless', name: 'v', value: 0 }, {}, false],
  ])('condition: %s', (_n, condition, e, fires) => {
    const rules = [rule('r', [man({ key_code: 'a' }, { conditions: [condition], to: [key('b')] })])];
    expect(sent(press(rules, 'a', env(e))).by).toBe(fires ? '0.0' : null);
  });

  it('英数 / かな switch the input source that later conditions see', () => {
    const rules = [rule('r', [
      man({ key_code: 'left_command' }, { to_if_alone: [key('japanese_kana')], to: [key('left_command')] }),
      man({ key_code: 'a' }, { conditions: [{ type: 'input_source_if', input_sources: [{ language: '^ja$' }] }], to: [key('b')] }),
    ])];
    const after = press(rules, 'left_command');
    expect(sent(press(rules, 'a', after.env)).by).toBe('0.1');
  });
});

describe('manipulators that never fire', () => {
  const a = (from: JsonObject, extra: JsonObject = {}) => man(from, { to: [key('x')], ...extra });
  const onlyTerminal = { conditions: [{ type: 'frontmost_application_if', bundle_identifiers: ['^com\\.apple\\.Terminal$'] }] };
  it.each<[string, SimRule[], string[]]>([
    ['the same key again, in a later rule', [rule('1', [a({ key_code: 'a' })]), rule('2', [a({ key_code: 'a' })])], ['1.0 by 0.0']],
    ['"any modifier" takes every shortcut on the key', [rule('1', [a({ key_code: 's', modifiers: { optional: ['any'] } })]), rule('2', [a({ key_code: 's', modifiers: { mandatory: ['command', 'shift'] } })])], ['1.0 by 0.0']],
    ['command covers the left one, not the other way', [rule('1', [a({ key_code: 's', modifiers: { mandatory: ['command'] } }), a({ key_code: 's', modifiers: { mandatory: ['left_command'] } })]), rule('2', [a({ key_code: 's', modifiers: { mandatory: ['left_gui'] } })])], ['0.1 by 0.0', '1.0 by 0.0']],
    ['an earlier one with a condition hides a later one only under that condition too', [rule('1', [a({ key_code: 'a' }, onlyTerminal), a({ key_code: 'a' }), a({ key_code: 'a' }, onlyTerminal)])], ['0.2 by 0.0']],
    ['exact modifiers do not hide "any modifier"', [rule('1', [a({ key_code: 'a' }), a({ key_code: 'a', modifiers: { optional: ['any'] } })])], []],
    ['a disabled rule hides nothing', [rule('1', [a({ key_code: 'a' })], false), rule('2', [a({ key_code: 'a' })])], []],
    ['any key_code takes every key', [rule('1', [a({ any: 'key_code' })]), rule('2', [a({ key_code: 'q' }), a({ consumer_key_code: 'mute' })])], ['1.0 by 0.0']],
    ['keys pressed together are compared only with the same keys together', [rule('1', [a({ key_code: 'j' }), a({ simultaneous: [key('j'), key('k')] }), a({ simultaneous: [key('k'), key('j')] })])], ['0.2 by 0.1']],
    ['raw and mouse manipulators are looked at too', [rule('1', [{ type: 'mouse_motion_to_scroll', from: {} }, a({ pointing_button: 'button4' })]), rule('2', [a({ pointing_button: 'button4' }, { weird: true })])], ['1.0 by 0.1']],
  ])('%s', (_n, rules, expected) => {
    expect(findShadows(rules).map((s) => `${s.rule}.${s.manipulator} by ${s.byRule}.${s.byManipulator}`)).toEqual(expected);
  });
});
