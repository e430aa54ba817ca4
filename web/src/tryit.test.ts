import { describe, expect, it } from 'vitest';
import type { SimRule } from './model/simulate';
import { HOLD_MS, initialSim, TryIt, type SimState } from './tryit';

const caps: SimRule[] = [{ name: 'Caps', enabled: true, manipulators: [{
  type: 'basic', from: { key_code: 'caps_lock' }, to: [{ key_code: 'left_control' }], to_if_alone: [{ key_code: 'escape' }],
  to_if_held_down: [{ set_variable: { name: 'held', value: 1 } }],
}] }];
const sent = (s: SimState) => s.log[0].outcomes.flatMap((o) => o.sent.map((x) => `${x.kind === 'down' ? '↓' : '↑'}${x.key?.replace('key_code:', '')}@${x.time}`)).join(' ');

describe('Try it’s ways of pressing', () => {
  it('tap, hold (a second, through what holding does), release, and a sequence from nothing pressed', () => {
    const t = new TryIt();
    let s = initialSim('us');
    const session = () => t.current(caps, undefined, s.context);
    s = t.press(s, session(), [{ field: 'key_code', name: 'caps_lock' }]);
    expect(sent(s)).toBe('↓left_control@5 ↑left_control@50 ↓escape@55 ↑escape@60');
    s = t.press({ ...s, mode: 'hold' }, session(), [{ field: 'key_code', name: 'caps_lock' }]);
    // When the hold fires, the key `to` held goes up.
    expect([s.log[0].to - s.log[0].from, session().variables.held, sent(s)]).toEqual([HOLD_MS + 100, 1, '↓left_control@150 ↑left_control@650']);
    s = t.release(s, session(), 'key_code:caps_lock');
    expect([sent(s), s.log[0].outcomes.length]).toEqual(['', 1]);
    s = t.sequence({ ...s, sequence: 'caps_lock↓ 0, caps_lock↑ 700' }, caps, undefined);
    expect(sent(s)).toBe('↓left_control@5 ↑left_control@500 ↓escape@700 ↑escape@705');
    expect(t.sequence({ ...s, sequence: 'caps_lock 0' }, caps, undefined).sequenceError).toEqual({ error: 'direction', token: 'caps_lock 0' });
  });

  it('a key clicked in sequence mode is a tap added at the end', () => {
    const t = new TryIt();
    const s = t.appendTap({ ...initialSim('us'), sequence: 'a↓ 0, a↑ 40' }, [{ field: 'key_code', name: 'left_alt' }]);
    expect(s.sequence).toBe('a↓ 0, a↑ 40, left_option↓ 140, left_option↑ 190');
  });
});
