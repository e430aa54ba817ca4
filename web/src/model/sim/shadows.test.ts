import { describe, expect, it } from 'vitest';
import type { JsonObject } from '../json';
import type { ProfileSettings, SimRule } from './session';
import { findShadows } from './shadows';

const key = (k: string): JsonObject => ({ key_code: k });
const a = (from: JsonObject, extra: JsonObject = {}): JsonObject => ({ type: 'basic', from, to: [key('x')], ...extra });
const rule = (manipulators: JsonObject[], enabled = true): SimRule => ({ name: 'r', enabled, manipulators });
const when = (...conditions: JsonObject[]) => ({ conditions });
const v = (value: unknown, negated = false): JsonObject => ({ type: negated ? 'variable_unless' : 'variable_if', name: 'v', value } as JsonObject);
const app = (negated = false): JsonObject => ({ type: negated ? 'frontmost_application_unless' : 'frontmost_application_if', bundle_identifiers: ['^com\\.apple\\.Terminal$'] });
const kb = (...types: string[]): JsonObject => ({ type: 'keyboard_type_if', keyboard_types: types });
const chord = (keys: string[], order?: string) => a({ simultaneous: keys.map(key), ...(order ? { simultaneous_options: { key_down_order: order } } : {}) });

describe('manipulators that never fire', () => {
  it.each<[string, SimRule[], string[], ProfileSettings?]>([
    ['the same key again, in a later rule', [rule([a(key('a'))]), rule([a(key('a'))])], ['1.0 by 0.0 always']],
    ['"any modifier" takes every shortcut on the key', [rule([a({ key_code: 's', modifiers: { optional: ['any'] } })]), rule([a({ key_code: 's', modifiers: { mandatory: ['command', 'shift'] } })])], ['1.0 by 0.0 always']],
    ['command covers the left one, not the other way', [rule([a({ key_code: 's', modifiers: { mandatory: ['command'] } }), a({ key_code: 's', modifiers: { mandatory: ['left_command'] } })]), rule([a({ key_code: 's', modifiers: { mandatory: ['left_gui'] } })])], ['0.1 by 0.0 always', '1.0 by 0.0 always']],
    ['exact modifiers do not hide "any modifier"', [rule([a(key('a')), a({ key_code: 'a', modifiers: { optional: ['any'] } })])], []],
    ['a condition hides a later one only under that condition too', [rule([a(key('a'), when(app())), a(key('a')), a(key('a'), when(app()))])], ['0.2 by 0.0 always']],
    ['v = 1 and v ≠ 1 together cover everything', [rule([a(key('a'), when(v(1))), a(key('a'), when(v(1, true))), a(key('a'))])], ['0.2 by 0.0+0.1 together']],
    ['v ≠ 1 covers v = 0', [rule([a(key('a'), when(v(1, true))), a(key('a'), when(v(0)))])], ['0.1 by 0.0 always']],
    ['…but v ≠ 1 does not cover v ≠ 0', [rule([a(key('a'), when(v(1, true))), a(key('a'), when(v(0, true)))])], []],
    ['1 is not true', [rule([a(key('a'), when(v(true, true))), a(key('a'), when(v(1)))])], ['0.1 by 0.0 always']],
    ['an application and everything but it', [rule([a(key('a'), when(app())), a(key('a'), when(app(true))), a(key('a'), when(v(2)))])], ['0.2 by 0.0+0.1 together']],
    ['keyboard types: ANSI or ISO, and JIS, cover ISO or JIS', [rule([a(key('a'), when(kb('ansi', 'iso'))), a(key('a'), when(kb('jis'))), a(key('a'), when(kb('iso', 'jis'))), a(key('a'))])], ['0.2 by 0.0+0.1 together']],
    ['devices and input sources by what they name', [rule([a(key('a'), when({ type: 'device_if', identifiers: [{ vendor_id: 1 }] })), a(key('a'), when({ type: 'device_unless', identifiers: [{ vendor_id: 1, description: 'x' }] })), a(key('a'))])], ['0.2 by 0.0+0.1 together']],
    ['modifier states and conditions together', [rule([a({ key_code: 'a', modifiers: { optional: ['shift'] } }, when(v(1))), a({ key_code: 'a', modifiers: { optional: ['any'] } }, when(v(1, true))), a({ key_code: 'a', modifiers: { optional: ['shift'] } })])], ['0.2 by 0.0+0.1 together']],
    ['a disabled rule hides nothing', [rule([a(key('a'))], false), rule([a(key('a'))])], []],
    // key_code "mute" is the consumer page's mute: the same key.
    ['any key_code takes every key of its page', [rule([a({ any: 'key_code' })]), rule([a(key('q')), a({ consumer_key_code: 'mute' }), a(key('mute'))])], ['1.0 by 0.0 always', '1.2 by 1.1 always']],
    ['keys together: an earlier key alone takes the first key, either way round', [rule([a(key('j')), a(key('k')), chord(['j', 'k'])])], ['0.2 by 0.0+0.1 chord']],
    ['…but with only j taken, k can go down first', [rule([a(key('j')), chord(['j', 'k'])])], []],
    ['…and in a strict order only the first key counts', [rule([a(key('j')), chord(['j', 'k'], 'strict'), chord(['k', 'j'], 'strict')])], ['0.1 by 0.0 chord']],
    ['strict j,k and strict k,j are different presses', [rule([chord(['j', 'k'], 'strict'), chord(['k', 'j'], 'strict'), chord(['k', 'j'])])], []],
    ['the same keys together in any order hide a strict one', [rule([chord(['j', 'k']), chord(['k', 'j'], 'strict')])], ['0.1 by 0.0 always']],
    ['a simple modification changes the key before the rules see it', [rule([a({ key_code: 'caps_lock', modifiers: { optional: ['any'] } }, { to_if_alone: [key('escape')] }), a(key('escape'))])],
      ['0.0 by simple caps_lock → left_control simple'], { simpleModifications: [{ from: { key_code: 'caps_lock' }, to: [{ key_code: 'left_control' }] }] }],
  ])('%s', (_n, rules, expected, profile) => {
    expect(findShadows(rules, profile).map((s) => `${s.rule}.${s.manipulator} by ${s.by.map((w) => ('rule' in w ? `${w.rule}.${w.manipulator}` : `simple ${w.simple.replace('key_code:', '')} → ${w.to.replace('key_code:', '')}`)).join('+')} ${s.why}`)).toEqual(expected);
  });
});
