// Checks run as the user types. Each problem names the mapping and the field it belongs to, and a
// catalog message; errors block Apply, warnings do not.
import { isConsumerKey, isKnownKey, MEDIA_KEYS, MODIFIER_NAMES } from './keys';
import type { Action, Json, JsonObject, Mapping, RuleSet, Trigger } from './types';

export interface Problem {
  id: string;
  field: string;
  code: string;
  params?: Record<string, string | number>;
  severity: 'error' | 'warning';
}

const EVENT_KEYS = [
  'key_code', 'consumer_key_code', 'pointing_button', 'shell_command', 'select_input_source',
  'set_variable', 'set_notification_message', 'mouse_key', 'sticky_modifier', 'software_function',
  'apple_vendor_keyboard_key_code', 'apple_vendor_top_case_key_code', 'generic_desktop',
];
const TO_LISTS = ['to', 'to_if_alone', 'to_if_held_down', 'to_after_key_up', 'to_if_other_key_pressed'];
export const LAYER_NAME = /^[\p{L}\p{N}_-]+$/u;

function checkKey(out: Problem[], id: string, field: string, key: string) {
  if (!key) out.push({ id, field, code: 'v.keyRequired', severity: 'error' });
  else if (!isKnownKey(key)) out.push({ id, field, code: 'v.keyUnknown', params: { key }, severity: 'error' });
}

function checkTrigger(out: Problem[], id: string, t: Trigger) {
  t.keys.forEach((k, i) => checkKey(out, id, `trigger.${i}`, k));
  if (t.keys.length > 1 && new Set(t.keys).size !== t.keys.length) {
    out.push({ id, field: 'trigger', code: 'v.chordDistinct', severity: 'error' });
  }
  for (const m of t.mandatory) {
    if (m === 'any') out.push({ id, field: 'mods', code: 'v.anyMandatory', severity: 'error' });
    else if (!MODIFIER_NAMES.has(m)) out.push({ id, field: 'mods', code: 'v.modUnknown', params: { mod: m }, severity: 'error' });
  }
  for (const m of t.optional) {
    if (m !== 'any' && !MODIFIER_NAMES.has(m)) out.push({ id, field: 'mods', code: 'v.modUnknown', params: { mod: m }, severity: 'error' });
  }
  checkMs(out, id, 'chordMs', t.keys.length > 1 ? t.chordMs : undefined);
}

function checkMs(out: Problem[], id: string, field: string, v: number | undefined) {
  if (v !== undefined && !(Number.isInteger(v) && v >= 1 && v <= 5000)) {
    out.push({ id, field, code: 'v.timing', severity: 'error' });
  }
}

const hasNul = (s: string) => s.includes('\u0000');

export function checkAction(out: Problem[], id: string, field: string, a: Action) {
  switch (a.type) {
    case 'keys':
      if (!a.strokes.length) out.push({ id, field, code: 'v.strokesRequired', severity: 'error' });
      a.strokes.forEach((s, i) => {
        checkKey(out, id, `${field}.${i}`, s.key);
        for (const m of s.modifiers) {
          if (!MODIFIER_NAMES.has(m)) out.push({ id, field: `${field}.${i}`, code: 'v.modUnknown', params: { mod: m }, severity: 'error' });
        }
      });
      break;
    case 'app':
      if (!a.app || !(a.app.name || a.app.bundleId || a.app.path)) out.push({ id, field, code: 'v.appRequired', severity: 'error' });
      else if (hasNul(`${a.app.name}${a.app.bundleId ?? ''}${a.app.path ?? ''}`)) out.push({ id, field, code: 'v.nul', severity: 'error' });
      break;
    case 'shortcut':
      if (!a.name.trim()) out.push({ id, field, code: 'v.shortcutRequired', severity: 'error' });
      else if (hasNul(a.name)) out.push({ id, field, code: 'v.nul', severity: 'error' });
      break;
    case 'shell':
      if (!a.command.trim()) out.push({ id, field, code: 'v.shellRequired', severity: 'error' });
      else if (hasNul(a.command)) out.push({ id, field, code: 'v.nul', severity: 'error' });
      break;
    case 'media':
      if (!MEDIA_KEYS.includes(a.key) && !isKnownKey(a.key)) out.push({ id, field, code: 'v.keyUnknown', params: { key: a.key }, severity: 'error' });
      break;
    case 'input':
    case 'none':
      break;
  }
}

/** Structural checks of a hand-written manipulator, in Karabiner's terms. */
export function checkRaw(out: Problem[], id: string, man: Json): void {
  const p = (code: string, params?: Problem['params']) => { out.push({ id, field: 'raw', code, params, severity: 'error' }); };
  if (!man || typeof man !== 'object' || Array.isArray(man)) { p('v.rawObject'); return; }
  if (man.type !== 'basic' && man.type !== 'mouse_motion_to_scroll') p('v.rawType');
  if (!man.from || typeof man.from !== 'object' || Array.isArray(man.from)) p('v.rawFrom');
  else checkRawKeys(man.from as JsonObject, p);
  for (const list of TO_LISTS) {
    if (!(list in man)) continue;
    const v = man[list];
    if (!Array.isArray(v)) { p('v.rawToNotArray', { list }); continue; }
    v.forEach((ev) => {
      const n = ev && typeof ev === 'object' && !Array.isArray(ev) ? EVENT_KEYS.filter((k) => k in ev).length : 0;
      if (n !== 1) p('v.rawOneEvent', { list, n });
      else checkRawKeys(ev as JsonObject, p);
    });
  }
}

function checkRawKeys(obj: JsonObject, p: (code: string, params?: Problem['params']) => void) {
  const kc = obj.key_code;
  if (typeof kc === 'string' && !isKnownKey(kc)) p('v.keyUnknown', { key: kc });
  const cc = obj.consumer_key_code;
  if (typeof cc === 'string' && !isConsumerKey(cc) && !isKnownKey(cc)) p('v.keyUnknown', { key: cc });
  if (Array.isArray(obj.simultaneous)) for (const s of obj.simultaneous) if (s && typeof s === 'object' && !Array.isArray(s)) checkRawKeys(s, p);
}

export function validateMapping(m: Mapping, layers: ReadonlySet<string>): Problem[] {
  const out: Problem[] = [];
  if (m.kind === 'raw') {
    checkRaw(out, m.id, m.manipulator);
    return out;
  }
  checkTrigger(out, m.id, m.trigger);
  if (m.kind === 'remap') checkAction(out, m.id, 'action', m.action);
  if (m.kind === 'tapHold') {
    checkAction(out, m.id, 'tap', m.tap);
    checkAction(out, m.id, 'hold', m.hold);
    checkMs(out, m.id, 'tapTimeoutMs', m.tapTimeoutMs);
    checkMs(out, m.id, 'holdDelayMs', m.holdMode === 'delayed' ? m.holdDelayMs : undefined);
  }
  if (m.kind === 'layerKey') {
    if (!LAYER_NAME.test(m.name)) out.push({ id: m.id, field: 'name', code: 'v.layerName', severity: 'error' });
    if (m.tap.type !== 'none') checkAction(out, m.id, 'tap', m.tap);
  }
  if (m.layer !== undefined && !layers.has(m.layer)) {
    out.push({ id: m.id, field: 'layer', code: 'v.layerMissing', params: { layer: m.layer }, severity: 'error' });
  }
  if (m.apps && !m.apps.apps.length) out.push({ id: m.id, field: 'apps', code: 'v.appsEmpty', severity: 'error' });
  return out;
}

const sameSet = (a: readonly string[], b: readonly string[]) =>
  a.length === b.length && a.every((x) => b.includes(x));

/** True when every key press that reaches `later` is already taken by `earlier`. */
function covers(earlier: Mapping, later: Mapping): boolean {
  if (earlier.kind === 'raw' || later.kind === 'raw') return false;
  const a = earlier.trigger;
  const b = later.trigger;
  if (!sameSet(a.keys, b.keys)) return false;
  if (!a.mandatory.every((m) => b.mandatory.includes(m))) return false;
  const anyA = a.optional.includes('any');
  const extra = [...b.mandatory.filter((m) => !a.mandatory.includes(m)), ...b.optional];
  if (!anyA && !extra.every((m) => a.optional.includes(m) && m !== 'any')) return false;
  if (!anyA && b.optional.includes('any')) return false;
  if (earlier.layer !== undefined && earlier.layer !== later.layer) return false;
  if (earlier.apps && !(later.apps && later.apps.mode === earlier.apps.mode && JSON.stringify(later.apps.apps) === JSON.stringify(earlier.apps.apps))) return false;
  return true;
}

export function layerNames(rs: RuleSet): Set<string> {
  return new Set(rs.mappings.filter((m) => m.kind === 'layerKey').map((m) => (m as { name: string }).name));
}

export function validateRuleSet(rs: RuleSet): Problem[] {
  const layers = layerNames(rs);
  const out: Problem[] = [];
  const enabled = rs.mappings.filter((m) => m.enabled);
  for (const m of rs.mappings) {
    if (!m.enabled) continue;
    out.push(...validateMapping(m, layers));
  }
  // Only mappings on the same keys can hide each other: compare within those groups.
  const groups = new Map<string, Mapping[]>();
  for (const m of enabled) {
    if (m.kind === 'raw') continue;
    const sig = [...m.trigger.keys].sort().join('+');
    const earlier = groups.get(sig) ?? [];
    const hit = earlier.find((e) => covers(e, m));
    if (hit) {
      out.push({ id: m.id, field: 'trigger', code: 'v.shadowed', params: { other: rs.mappings.indexOf(hit) + 1 }, severity: 'warning' });
    }
    earlier.push(m);
    groups.set(sig, earlier);
  }
  return out;
}
