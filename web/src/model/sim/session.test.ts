import { describe, expect, it } from 'vitest';
import { buildDoubleTap, buildLayer, buildLeader, withLetterTapHold } from '../forms';
import type { JsonObject } from '../json';
import { parseSequence } from './sequence';
import { describePlace, Session, type Outcome, type ProfileSettings, type SimContext, type SimRule, type Step } from './session';

const key = (k: string, extra: JsonObject = {}): JsonObject => ({ key_code: k, ...extra });
const man = (from: JsonObject, extra: JsonObject = {}): JsonObject => ({ type: 'basic', from, ...extra });
const rule = (...manipulators: JsonObject[]): SimRule => ({ name: 'r', enabled: true, manipulators });
const context = (over: Partial<SimContext> = {}): SimContext => ({
  device: { is_keyboard: true, is_built_in_keyboard: true }, keyboardType: 'ansi', inputSource: {}, variables: {}, ...over,
});
const steps = (text: string): Step[] => {
  const s = parseSequence(text);
  if (!Array.isArray(s)) throw new Error(`bad sequence ${text}: ${s.error}`);
  return s;
};
/** What a sequence sends, as key strokes ("↓a" with "[modifiers]" down at that moment), until quiet. */
function run(rules: SimRule[], text: string, profile?: ProfileSettings, ctx = context()): { out: string; outcomes: Outcome[]; session: Session } {
  const session = new Session(rules, profile, ctx);
  const outcomes = session.play(steps(text));
  outcomes.push(session.settle(5000));
  const out = outcomes.flatMap((o) => o.sent.map((s) => (s.kind === 'command' ? s.text : `${s.kind === 'down' ? '↓' : '↑'}${s.key?.replace(/^key_code:/, '')}${s.kind === 'down' && s.modifiers?.length && !/shift|control|option|command|fn/.test(s.key ?? '') ? `[${s.modifiers.join(',')}]` : ''}`))).join(' ');
  return { out, outcomes, session };
}

const layer = rule(
  man({ key_code: 'tab' }, { to: [{ set_variable: { name: 'nav', value: 1, key_up_value: 0 } }] }),
  man({ key_code: 'h' }, { conditions: [{ type: 'variable_if', name: 'nav', value: 1 }], to: [key('left_arrow')] }),
);
const letter = (k: string, mod: string) => withLetterTapHold(man({ key_code: k, modifiers: { optional: ['any'] } }), { tap: [key(k)], hold: [key(mod)] });
const homeRow = rule(letter('a', 'left_control'), letter('s', 'left_option'), letter('f', 'left_shift'), letter('j', 'right_shift'));

describe('what the engine sends, cause by cause', () => {
  it.each<[string, SimRule[], string, string, ProfileSettings?]>([
    ['key_up_value turns a layer off when its key is released',
      [layer], 'tab↓ 0, h↓ 10, h↑ 20, tab↑ 30, h↓ 40, h↑ 50', '↓left_arrow ↑left_arrow ↓h ↑h'],
    ['a hold released within the alone timeout still sends to_if_alone',
      [rule(man({ key_code: 'caps_lock' }, { to: [key('left_control')], to_if_alone: [key('escape')] }))], 'caps_lock↓ 0, caps_lock↑ 700', '↓left_control ↑left_control ↓escape ↑escape'],
    ['…but not after it',
      [rule(man({ key_code: 'caps_lock' }, { to: [key('left_control')], to_if_alone: [key('escape')] }))], 'caps_lock↓ 0, caps_lock↑ 1000', '↓left_control ↑left_control'],
    ['halt ends the lists after it',
      [rule(man({ key_code: 'f1' }, { to_if_held_down: [key('f3'), key('f4', { halt: true })], to_after_key_up: [key('f2')] }))], 'f1↓ 0, f1↑ 600', '↓f3 ↑f3 ↓f4 ↑f4'],
    ['home-row mods: tap f then j types f, j',
      [homeRow], 'f↓ 0, f↑ 50, j↓ 100, j↑ 150', '↓f ↑f ↓j ↑j'],
    ['home-row mods: a fast roll types "as"',
      [homeRow], 'a↓ 0, s↓ 30, a↑ 60, s↑ 90', '↓a ↑a ↓s ↑s'],
    ['home-row mods: held past the threshold it is the modifier',
      [homeRow], 'f↓ 0, x↓ 300, x↑ 320, f↑ 400', '↓left_shift ↓x[left_shift] ↑x ↑left_shift'],
    ['the modifiers of a `to` key do not stay on the next keys',
      [rule(man({ key_code: 'right_command' }, { to: [key('spacebar', { modifiers: ['left_command'] })] }))], 'right_command↓ 0, tab↓ 50, tab↑ 60, right_command↑ 70', '↓left_command ↓spacebar[left_command] ↑left_command ↓tab ↑tab ↑spacebar'],
    ['a mandatory modifier stays up while the modifier a rule sends is held',
      [rule(man({ key_code: 'j', modifiers: { mandatory: ['command'] } }, { to: [key('left_control')] }))], 'left_command↓ 0, j↓ 10, k↓ 20, k↑ 30, j↑ 40, left_command↑ 50', '↓left_command ↓left_control ↑left_command ↓k[left_control] ↑k ↑left_control'],
    ['an earlier single-key mapping takes the first key of a chord',
      [rule(man({ key_code: 'j' }, { to: [key('x')] }), man({ simultaneous: [key('j'), key('k')] }, { to: [key('escape')] }))], 'j↓ 0, k↓ 10, j↑ 20, k↑ 30', '↓x ↑x ↓k ↑k'],
    ['keys pressed together fire in either order',
      [rule(man({ simultaneous: [key('j'), key('k')] }, { to: [key('escape')] }))], 'k↓ 0, j↓ 10, j↑ 20, k↑ 30', '↓escape ↑escape'],
    // While a key waits for the others of a chord, the key repeating before it is released.
    ['key_down_order strict: the other order is no chord',
      [rule(man({ simultaneous: [key('j'), key('k')], simultaneous_options: { key_down_order: 'strict' } }, { to: [key('escape')] }))], 'k↓ 0, j↓ 10, j↑ 20, k↑ 30', '↓k ↑k ↓j ↑j'],
    ['conditions on single `to` events',
      [rule(man({ key_code: 'a' }, { to: [key('b', { conditions: [{ type: 'variable_if', name: 'x', value: 1 }] }), key('c')] }))], 'a↓ 0, a↑ 10', '↓c ↑c'],
    ['`to` is released when the hold fires',
      [rule(man({ key_code: 'a' }, { to: [key('left_shift')], to_if_held_down: [key('b')] }))], 'a↓ 0, a↑ 700', '↓left_shift ↑left_shift ↓b ↑b'],
    ['simple modifications come before complex rules',
      [rule(man({ key_code: 'caps_lock' }, { to_if_alone: [key('escape')] }))], 'caps_lock↓ 0, caps_lock↑ 50', '↓left_control ↑left_control',
      { simpleModifications: [{ from: { key_code: 'caps_lock' }, to: [{ key_code: 'left_control' }] }] }],
    ['the profile’s parameters, under each manipulator’s own',
      [rule(man({ key_code: 'a' }, { to_if_alone: [key('x')] }), man({ key_code: 'b' }, { to_if_alone: [key('y')], parameters: { 'basic.to_if_alone_timeout_milliseconds': 500 } }))],
      'a↓ 0, a↑ 100, b↓ 200, b↑ 300', '↓y ↑y', { parameters: { 'basic.to_if_alone_timeout_milliseconds': 0 } }],
    ['F1 is brightness; fn+F1 is F1',
      [], 'f1↓ 0, f1↑ 10, fn↓ 20, f1↓ 30, f1↑ 40, fn↑ 50', '↓consumer_key_code:display_brightness_decrement ↑consumer_key_code:display_brightness_decrement ↓apple_vendor_top_case_key_code:keyboard_fn ↓f1 ↑f1 ↑apple_vendor_top_case_key_code:keyboard_fn'],
    ['a mapping of F1 in the profile',
      [], 'f1↓ 0, f1↑ 10', '↓consumer_key_code:mute ↑consumer_key_code:mute', { fnFunctionKeys: [{ from: { key_code: 'f1' }, to: [{ consumer_key_code: 'mute' }] }] }],
    ['mouse buttons',
      [rule(man({ pointing_button: 'button4' }, { to: [key('tab', { modifiers: ['left_command'] })] }))], 'button4↓ 0, button4↑ 10', '↓left_command ↓tab[left_command] ↑tab ↑left_command'],
    ['sticky modifiers stay for the next key only',
      [rule(man({ key_code: 'f13' }, { to: [{ sticky_modifier: { left_shift: 'toggle' } }] }))], 'f13↓ 0, f13↑ 10, a↓ 20, a↑ 30, b↓ 40, b↑ 50', '↓left_shift ↓a[left_shift] ↑a ↑left_shift ↓b ↑b'],
    ['set_variable with an expression',
      [rule(man({ key_code: 'f' }, { to: [{ set_variable: { name: 'n', expression: 'n + 1' } }] }),
        man({ key_code: 'g' }, { conditions: [{ type: 'expression_if', expression: 'n >= 2' }], to: [key('x')] }))],
      'g↓ 0, g↑ 5, f↓ 10, f↑ 15, f↓ 20, f↑ 25, g↓ 30, g↑ 35', '↓g ↑g ↓x ↑x'],
    ['to_if_other_key_pressed',
      [rule(man({ key_code: 'right_shift' }, { to: [key('right_shift')], to_if_other_key_pressed: [{ other_keys: [{ key_code: 'tab', modifiers: { optional: ['any'] } }], to: [key('left_command')] }] }))],
      'right_shift↓ 0, tab↓ 10, tab↑ 20, right_shift↑ 30', '↓right_shift ↑right_shift ↓left_command ↓tab[left_command] ↑tab ↑left_command'],
  ])('%s', (_n, rules, seq, expected, profile) => {
    expect(run(rules, seq, profile).out).toBe(expected);
  });

  it('names the manipulator that sent each event, and those on the key that did not take it', () => {
    const rules: SimRule[] = [
      { name: 'off', enabled: false, manipulators: [man({ key_code: 'a' }, { to: [key('q')] })] },
      rule(man({ key_code: 'a', modifiers: { mandatory: ['command'] } }, { to: [key('w')] }),
        man({ key_code: 'a' }, { conditions: [{ type: 'variable_if', name: 'v', value: 1 }], to: [key('e')] }),
        man({ key_code: 'a' }, { to: [key('r')], to_if_alone: [key('t')] })),
    ];
    const { outcomes } = run(rules, 'a↓ 0, a↑ 10');
    expect(describePlace(outcomes[0].took)).toBe('1.2');
    expect(outcomes[0].skipped.map((s) => `${describePlace(s.place)} ${s.reason}`)).toEqual(['1.0 modifiers', '1.1 condition']);
    expect(outcomes[1].sent.filter((s) => s.kind === 'down').map((s) => `${s.key} by ${describePlace(s.by)} ${s.by?.list}`)).toEqual(['key_code:t by 1.2 to_if_alone.0']);
  });

  it('release and letting time pass say what they send', () => {
    const rules = [rule(man({ key_code: 'q', modifiers: { mandatory: ['command'] } }, { to_delayed_action: { to_if_invoked: [key('x')] }, to_after_key_up: [key('y')] }))];
    const s = new Session(rules, undefined, context());
    s.play(steps('left_command↓ 0, q↓ 10'));
    expect(s.down).toEqual(['key_code:left_command', 'key_code:q']);
    const [up] = s.play([{ at: 100, key: 'key_code:q', down: false }]);
    // ⌘ comes back lazily, with the next key.
    expect(up.sent.map((x) => `${x.kind}${x.key}`)).toEqual(['upkey_code:left_command', 'downkey_code:y', 'upkey_code:y']);
    expect(s.next).toBe(510);
    const waited = s.settle(1000);
    expect(waited.sent.filter((x) => x.kind === 'down').map((x) => x.key)).toEqual(['key_code:x']);
    expect(s.next).toBeUndefined();
  });

  it('gallery patterns: a layer, a double tap, a leader', () => {
    const hold = [rule(...buildLayer({ mode: 'hold', from: { key_code: 'tab' }, conditions: [], variable: 'nav', on: 1, off: 0, tap: [key('tab')] }),
      man({ key_code: 'h' }, { conditions: [{ type: 'variable_if', name: 'nav', value: 1 }], to: [key('left_arrow')] }))];
    expect(run(hold, 'tab↓ 0, h↓ 10, h↑ 20, tab↑ 30').out).toBe('↓left_arrow ↑left_arrow');
    expect(run(hold, 'tab↓ 0, tab↑ 30').out).toBe('↓tab ↑tab');
    const quit = [rule(...buildDoubleTap({ from: { key_code: 'q', modifiers: { mandatory: ['command'] } }, conditions: [], variable: 'cq', first: [], second: [key('q', { modifiers: ['left_command'] })] }))];
    expect(run(quit, 'left_command↓ 0, q↓ 10, q↑ 20, q↓ 100, q↑ 110, left_command↑ 120').out).toMatch(/↓q\[left_command\]/);
    expect(run(quit, 'left_command↓ 0, q↓ 10, q↑ 20, q↓ 700, q↑ 710, left_command↑ 720').out).not.toMatch(/↓q/);
    const leader = [rule(...buildLeader({ from: { key_code: 'right_option' }, conditions: [], variable: 'L', sequences: [{ keys: ['g', 's'], to: [key('a')] }] }))];
    expect(run(leader, 'right_option↓ 0, right_option↑ 10, g↓ 20, g↑ 30, s↓ 40, s↑ 50').out).toBe('↓a ↑a');
    expect(run(leader, 'right_option↓ 0, right_option↑ 10, x↓ 20, x↑ 30, s↓ 40, s↑ 50').out).toBe('↓s ↑s');
  });

  it.each<[string, JsonObject, Partial<SimContext>, boolean]>([
    ['frontmost app', { type: 'frontmost_application_if', bundle_identifiers: ['^com\\.apple\\.Terminal$'] }, { app: { bundle_identifier: 'com.apple.Terminal' } }, true],
    ['another app', { type: 'frontmost_application_if', bundle_identifiers: ['^com\\.apple\\.Terminal$'] }, { app: { bundle_identifier: 'com.apple.Safari' } }, false],
    ['device by vendor and product', { type: 'device_if', identifiers: [{ vendor_id: 1452, product_id: 641 }] }, { device: { vendor_id: 1452, product_id: 641, is_keyboard: true } }, true],
    ['another device', { type: 'device_if', identifiers: [{ vendor_id: 1452 }] }, {}, false],
    ['keyboard type', { type: 'keyboard_type_if', keyboard_types: ['jis'] }, { keyboardType: 'jis' }, true],
    ['input source', { type: 'input_source_if', input_sources: [{ language: '^ja$' }] }, { inputSource: { language: 'ja' } }, true],
    ['a variable compares numbers and booleans apart', { type: 'variable_if', name: 'v', value: 1 }, { variables: { v: true } }, false],
    ['an unset variable is 0', { type: 'variable_unless', name: 'v', value: 0 }, {}, false],
    ['expressions', { type: 'expression_if', expression: 'v * 2 == 4 and w == 0' }, { variables: { v: 2 } }, true],
  ])('condition: %s', (_n, condition, ctx, fires) => {
    expect(run([rule(man({ key_code: 'a' }, { conditions: [condition], to: [key('b')] }))], 'a↓ 0, a↑ 10', undefined, context(ctx)).out).toBe(fires ? '↓b ↑b' : '↓a ↑a');
  });

  it('英数 / かな switch the input source that later conditions see', () => {
    const rules = [rule(
      man({ key_code: 'left_command' }, { to_if_alone: [key('japanese_kana')], to: [key('left_command')] }),
      man({ key_code: 'a' }, { conditions: [{ type: 'input_source_if', input_sources: [{ language: '^ja$' }] }], to: [key('b')] }),
    )];
    expect(run(rules, 'left_command↓ 0, left_command↑ 10, a↓ 20, a↑ 30').out).toBe('↓left_command ↑left_command ↓japanese_kana ↑japanese_kana ↓b ↑b');
  });

  it('manipulators the engine refuses are listed, and the others still run', () => {
    const s = new Session([rule(man({ key_code: 'nope' }, { to: [key('a')] }), man({ key_code: 'b' }, { to: [key('c')], extra: 1 }), man({ key_code: 'd' }, { to: [key('e')] }))], undefined, context());
    expect(s.dropped.map((d) => `${describePlace(d.place)}: ${d.why}`)).toEqual(['0.0: unknown key_code: "nope"', '0.1: unknown key extra in the manipulator']);
    expect(s.play(steps('d↓ 0'))[0].sent.map((x) => x.key)).toEqual(['key_code:e']);
  });
});

describe('sequences as typed', () => {
  it.each<[string, string]>([
    ['f↓ 0, j↓ 80, f↑ 120, j↑ 150', 'f↓0 j↓80 f↑120 j↑150'],
    ['left_alt down 0; button1 up 5ms\nconsumer_key_code:mute↓ 7', 'left_option↓0 button1↑5 consumer_key_code:mute↓7'],
  ])('%s', (text, expected) => {
    const s = parseSequence(text);
    expect(Array.isArray(s) ? s.map((x) => `${x.key.replace(/^(key_code|pointing_button):/, '')}${x.down ? '↓' : '↑'}${x.at}`).join(' ') : s).toBe(expected);
  });
  it.each([['x↓ 10, y↓ 5', 'order'], ['nokey↓ 0', 'key'], ['f 0', 'direction'], ['', 'empty']])('%s is refused (%s)', (text, error) => {
    expect(parseSequence(text)).toMatchObject({ error });
  });
});
