import { describe, expect, it } from 'vitest';
import { checkManipulator, type Severity } from './check';
import type { Json } from './json';
import { canonicalKey, isKnownName, isModifierName } from './vocabulary';

const findings = (man: Json) => {
  const out: [string, string, Severity][] = [];
  checkManipulator(man, '0', (path, code, _p, severity = 'warning') => { out.push([path, code, severity]); });
  return out;
};
const basic = (extra: Record<string, Json>) => ({ type: 'basic', from: { key_code: 'a' }, ...extra });

describe('the vocabulary is Karabiner-Elements’ own, aliases included', () => {
  it.each([
    ['key_code', 'left_alt', 'left_option'], ['key_code', 'right_gui', 'right_command'], ['key_code', 'lang1', 'japanese_kana'],
    ['key_code', 'international5', 'japanese_pc_nfer'], ['key_code', 'vk_consumer_play', 'play_or_pause'], ['key_code', 'volume_up', 'volume_up'],
    ['key_code', 'fn', 'fn'], ['consumer_key_code', 'fastforward', 'fast_forward'], ['consumer_key_code', 'al_terminal_lock_or_screensaver', 'al_terminal_lock_or_screensaver'],
    ['pointing_button', 'button255', 'button255'], ['apple_vendor_keyboard_key_code', 'spotlight', 'spotlight'], ['generic_desktop', 'do_not_disturb', 'do_not_disturb'],
  ] as const)('%s %s is known as %s', (field, name, canonical) => {
    expect(isKnownName(field, name)).toBe(true);
    expect(canonicalKey(field, name)).toBe(canonical);
  });
  it.each([
    ['key_code', 'spac'], ['key_code', 'Left_Option'], ['pointing_button', 'button256'], ['consumer_key_code', 'a'], ['key_code', -1], ['key_code', 1.5],
  ] as const)('%s %j is not', (field, name) => expect(isKnownName(field, name)).toBe(false));
  it('a key may be given by its HID number, and modifiers by their aliases', () => {
    expect(isKnownName('key_code', 41)).toBe(true);
    expect(['left_alt', 'right_gui', 'command', 'caps_lock'].every(isModifierName)).toBe(true);
    expect(['cmd', 'alt', 'any'].some(isModifierName)).toBe(false);
  });
});

describe('checks warn about what Karabiner-Elements may refuse and block only what nothing can read or never means anything', () => {
  it.each<[string, Json, [string, string, Severity][]]>([
    ['aliases in keys and modifiers', { type: 'basic', from: { key_code: 'left_alt', modifiers: { mandatory: ['right_gui'], optional: 'any' } }, to: [{ key_code: 'a', modifiers: 'left_gui' }] }, []],
    ['result lists given as one object', basic({ to: { key_code: 'b' }, to_if_alone: { key_code: 'c' }, to_after_key_up: { set_variable: { name: 'x', value: 0 } }, to_if_held_down: { key_code: 'd' } }), []],
    ['consumer keys in key_code and consumer_key_code', basic({ to: [{ key_code: 'vk_consumer_play' }, { consumer_key_code: 'volume_increment' }] }), []],
    ['timings of 0 and above 5000 ms', basic({ parameters: { 'basic.to_if_alone_timeout_milliseconds': 0, 'basic.to_if_held_down_threshold_milliseconds': 8000 } }), []],
    ['mandatory any, any key_code, a mouse button', { type: 'basic', from: { any: 'pointing_button', modifiers: { mandatory: ['any'] } }, to: [{ pointing_button: 'button1' }] }, []],
    ['not an object', 'basic', [['0', 'v.notObject', 'block']]],
    ['no from', { type: 'basic', to: [] }, [['0.from', 'v.fromMissing', 'block']]],
    ['a from that names no key', { type: 'basic', from: { modifiers: { mandatory: ['command'] } } }, [['0.from', 'v.fromMissing', 'block']]],
    ['an unknown key name', basic({ to: [{ key_code: 'spac' }] }), [['0.to[0].key_code', 'v.keyUnknown', 'warning']]],
    ['an empty key', { type: 'basic', from: { key_code: '' } }, [['0.from.key_code', 'v.keyRequired', 'warning']]],
    ['an unknown modifier', { type: 'basic', from: { key_code: 'a', modifiers: { mandatory: ['cmd'] } } }, [['0.from.modifiers.mandatory', 'v.modUnknown', 'warning']]],
    ['two events in one', basic({ to: [{ key_code: 'b', shell_command: 'x' }] }), [['0.to[0]', 'v.oneEvent', 'warning']]],
    ['a field Karabiner-Elements does not know', basic({ too: [] }), [['0.too', 'v.unknownField', 'warning']]],
    ['no type', { from: { key_code: 'a' } }, [['0.type', 'v.typeMissing', 'warning']]],
    ['a negative timing, and one above its maximum', basic({ parameters: { 'basic.to_if_alone_timeout_milliseconds': -1, 'basic.simultaneous_threshold_milliseconds': 2000 } }),
      [['0.parameters.basic.to_if_alone_timeout_milliseconds', 'v.negative', 'warning'], ['0.parameters.basic.simultaneous_threshold_milliseconds', 'v.clamped', 'warning']]],
    ['a set_variable without a value', basic({ to: [{ set_variable: { name: 'x' } }] }), [['0.to[0].set_variable', 'v.variableValue', 'warning']]],
    ['an unknown condition and a bad regular expression', basic({ conditions: [{ type: 'frontmost_application_if', bundle_identifiers: ['('] }, { type: 'weather_if' }] }),
      [['0.conditions[0].bundle_identifiers', 'v.regex', 'warning'], ['0.conditions[1]', 'v.conditionUnknown', 'warning']]],
    ['an application condition with no application blocks (only in: never; not in: always)',
      basic({ conditions: [{ type: 'frontmost_application_if' }, { type: 'frontmost_application_unless', bundle_identifiers: [] }, { type: 'frontmost_application_if', bundle_identifiers: [], file_paths: [''] }] }),
      [['0.conditions[0]', 'v.appEmpty', 'block'], ['0.conditions[1]', 'v.appEmpty', 'block'], ['0.conditions[2]', 'v.appEmpty', 'block']]],
    ['… also in a condition of an action; one list with an entry is enough', basic({
      conditions: [{ type: 'frontmost_application_if', bundle_identifiers: [], file_paths: ['^/Applications/Safari\\.app$'] }],
      to: [{ key_code: 'b', conditions: [{ type: 'frontmost_application_unless', file_paths: [] }] }],
    }), [['0.to[0].conditions[0]', 'v.appEmpty', 'block']]],
    ['a NUL in a command', basic({ to: [{ shell_command: 'a\u0000b' }] }), [['0.to[0].shell_command', 'v.nul', 'warning']]],
    ['a mouse manipulator is left to the linter', { type: 'mouse_motion_to_scroll', from: { modifiers: { mandatory: ['fn'] } } }, []],
  ])('%s', (_name, man, expected) => expect(findings(man)).toEqual(expected));
});
