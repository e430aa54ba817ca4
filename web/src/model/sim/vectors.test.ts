// Karabiner-Elements' own end-to-end vectors (tests/fixtures/ke-vectors) through the simulator: the
// same manipulators, the same device events at the same times, the same test-runner steps; then the
// key strokes posted are compared with what the engine posted.
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { describe, expect, it } from 'vitest';
import { isObj, type Json, type JsonObject } from '../json';
import { stripComments } from '../io';
import { Engine, type StageSpec } from './engine';
import { keyId } from './keys';
import { MS, type Ev, type EventType } from './queue';
import { strokes, type Report } from './strokes';

const DIR = join(__dirname, '../../../tests/fixtures/ke-vectors');
const load = (path: string): Json => JSON.parse(stripComments(readFileSync(join(DIR, path.replace(/^json\//, '')), 'utf8')));

/** Vectors outside what the simulator models, each with the reason. */
const OUTSIDE: Record<string, string> = {};

function eventOf(j: Json): Ev {
  if (!isObj(j)) return { t: 'none' };
  const m = j.momentary_switch_event;
  switch (j.type) {
    case 'momentary_switch_event': {
      if (!isObj(m)) return { t: 'none' };
      const [field, value] = Object.entries(m)[0];
      return { t: 'key', key: keyId(field as never, value) ?? `${field}:${String(value)}` };
    }
    case 'pointing_motion': {
      const p = isObj(j.pointing_motion) ? j.pointing_motion : {};
      const n = (k: string) => (typeof p[k] === 'number' ? p[k] as number : 0);
      return { t: 'motion', x: n('x'), y: n('y'), v: n('vertical_wheel'), h: n('horizontal_wheel') };
    }
    case 'caps_lock_state_changed': return { t: 'caps_lock_state', on: j.caps_lock_state_changed !== 0 };
    case 'device_keys_and_pointing_buttons_are_released': return { t: 'released' };
    case 'device_ungrabbed': return { t: 'ungrabbed' };
    case 'pointing_device_event_from_event_tap': return { t: 'event_tap' };
    case 'frontmost_application_changed': return { t: 'app', app: isObj(j.frontmost_application) ? j.frontmost_application as JsonObject : {} };
    case 'stop_keyboard_repeat': return { t: 'stop_keyboard_repeat' };
    default: return { t: 'none' };
  }
}

const TYPES: Record<string, EventType> = { key_down: 'down', key_up: 'up', single: 'single' };

/** The engine's test runner: one stage per rules file, then F10 → mute on the keys' own presses. */
function run(test: JsonObject): Report[] {
  const rules = (test.rules as string[]).map((r) => load(r) as Json[]);
  const stages: StageSpec[] = [[], [], rules.flat().map((json) => ({ json })), [{
    json: { type: 'basic', from: { key_code: 'f10', modifiers: { optional: ['any'] } }, to: [{ consumer_key_code: 'mute' }] },
    conditions: [{ type: 'event_changed_if', value: false }],
  }]];
  const engine = new Engine(stages, { realTime: false });
  for (const j of load(test.input_event_queue as string) as JsonObject[]) {
    const ms = (v: Json | undefined) => (typeof v === 'number' ? v * MS : 0);
    if (j.action === 'invalidate_manipulators') engine.invalidate();
    else if (j.action === 'invoke_dispatcher') engine.advance(ms(j.time_stamp));
    else if (j.action === 'manipulate') engine.manipulateAt(ms(j.time_stamp));
    else if (typeof j.pause_manipulation === 'boolean') engine.setPaused(j.pause_manipulation);
    else if (typeof j.reorder_same_timestamp_input_events_to_prioritize_modifiers === 'boolean') engine.reorder = j.reorder_same_timestamp_input_events_to_prioritize_modifiers;
    else if (typeof j.delay_milliseconds_before_sleep_shortcut === 'number') engine.output.options.sleepShortcutDelay = j.delay_milliseconds_before_sleep_shortcut;
    else {
      const ts = isObj(j.event_time_stamp) ? j.event_time_stamp : {};
      const ev = eventOf(j.event);
      engine.input({
        device: typeof j.device_id === 'number' ? j.device_id : 0, time: ms(ts.time_stamp), inputDelay: ms(ts.input_delay_duration),
        ev, original: j.original_event !== undefined ? eventOf(j.original_event) : ev, type: TYPES[j.event_type as string] ?? 'down',
        lazy: j.lazy === true, valid: j.validity !== false, ...(typeof j.event_integer_value === 'number' ? { integer: j.event_integer_value } : {}),
      });
    }
  }
  return engine.output.list;
}

describe('Karabiner-Elements’ own vectors', () => {
  const tests = load('tests.json') as JsonObject[];
  it(`every one of the ${tests.length} vectors posts what the engine posts`, () => {
    const differ: string[] = [];
    const outside: string[] = [];
    let matched = 0;
    let exact = 0;
    for (const test of tests) {
      const name = test.description as string;
      const expected = load(test.expected_post_event_to_virtual_devices_queue as string) as JsonObject[];
      if (OUTSIDE[name]) { outside.push(`${name}: ${OUTSIDE[name]}`); continue; }
      let got: Report[] = [];
      try { got = run(test); } catch (e) { differ.push(`${name}: threw ${(e as Error).stack}`); continue; }
      const want = strokes(expected, true);
      const have = strokes(got, false);
      if (JSON.stringify(want.strokes) === JSON.stringify(have.strokes)) {
        matched++;
        if (JSON.stringify(want.timed) === JSON.stringify(have.timed)) exact++;
      } else {
        differ.push(`${name}:\n  want ${want.strokes.join(' ')}\n  have ${have.strokes.join(' ')}`);
      }
    }
    console.log(`Karabiner-Elements vectors: ${matched} match (${exact} with the same times), ${differ.length} differ, ${outside.length} outside`);
    for (const o of outside) console.log(`  outside: ${o}`);
    for (const d of differ) console.log(`  differs: ${d}`);
    expect(differ).toEqual([]);
    expect(outside.length).toBeLessThanOrEqual(10);
  });
});
