// Keys as Karabiner-Elements tells them apart: a HID page and a usage. Every spelling of one key (an
// alias, a key_code name of another page, `left_alt` for `left_option`) comes to the same id,
// "field:name" with the name the engine reports.
import {
  KEY_CODES_OTHER_PAGES_ALIASES, KEY_CODES_OTHER_PAGES_TARGETS,
} from '../vocabulary.data';
import { canonicalKey, canonicalModifier, isKnownName, type KeyField } from '../vocabulary';

export type KeyId = string;

/** Modifier flags, in the engine's own order (the order its reports and dispatcher use). */
export const FLAGS = [
  'caps_lock', 'left_control', 'left_shift', 'left_option', 'left_command',
  'right_control', 'right_shift', 'right_option', 'right_command', 'fn',
] as const;
export type Flag = typeof FLAGS[number];
export const isFlag = (s: string): s is Flag => (FLAGS as readonly string[]).includes(s);

/** The id of a key named in a `from` or a to-event; undefined for a name the engine refuses. */
export function keyId(field: KeyField, value: unknown): KeyId | undefined {
  if (typeof value === 'number') return Number.isInteger(value) && value >= 0 ? `${field}:#${value}` : undefined;
  if (typeof value !== 'string' || !isKnownName(field, value)) return undefined;
  if (field === 'key_code') {
    const other = KEY_CODES_OTHER_PAGES_TARGETS[KEY_CODES_OTHER_PAGES_ALIASES[value] ?? value];
    if (other) return other;
  }
  return `${field}:${canonicalKey(field, value)}`;
}

export const fieldOf = (id: KeyId): KeyField => id.slice(0, id.indexOf(':')) as KeyField;
export const nameOf = (id: KeyId): string => id.slice(id.indexOf(':') + 1);

const FLAG_KEYS: Record<Flag, KeyId> = {
  caps_lock: 'key_code:caps_lock', left_control: 'key_code:left_control', left_shift: 'key_code:left_shift',
  left_option: 'key_code:left_option', left_command: 'key_code:left_command', right_control: 'key_code:right_control',
  right_shift: 'key_code:right_shift', right_option: 'key_code:right_option', right_command: 'key_code:right_command',
  fn: 'apple_vendor_top_case_key_code:keyboard_fn',
};
const KEY_FLAGS = new Map<KeyId, Flag>(Object.entries(FLAG_KEYS).filter(([f]) => f !== 'caps_lock').map(([f, k]) => [k, f as Flag]));
KEY_FLAGS.set('apple_vendor_keyboard_key_code:function', 'fn');

/** The key that stands for a modifier flag (caps lock's own key for caps_lock). */
export const flagKey = (f: Flag): KeyId => FLAG_KEYS[f];
/** The modifier a key is, if it is one; caps lock is a lock key, not a modifier. */
export const flagOf = (id: KeyId): Flag | undefined => KEY_FLAGS.get(id);
export const isCapsLock = (id: KeyId): boolean => id === 'key_code:caps_lock';
export const isPointingButton = (id: KeyId): boolean => id.startsWith('pointing_button:');
/** vk_none: a key that is no key (the engine posts nothing for it). */
export const isValidKey = (id: KeyId): boolean => id !== 'key_code:vk_none';
/** The page a key's report goes to. */
export const pageOf = (id: KeyId): KeyField => fieldOf(id);

/** Modifier names in `modifiers` lists: the flags each stands for, the first one used when sending. */
const GENERIC: Record<string, Flag[]> = {
  command: ['left_command', 'right_command'], control: ['left_control', 'right_control'],
  option: ['left_option', 'right_option'], shift: ['left_shift', 'right_shift'],
};
export function modifierFlags(name: string): Flag[] | undefined {
  const m = canonicalModifier(name);
  if (GENERIC[m]) return GENERIC[m];
  return isFlag(m) ? [m] : undefined;
}
/** The engine keeps modifier names in a set ordered by its own enumeration. */
export const MODIFIER_ORDER = [
  'any', 'caps_lock', 'command', 'control', 'fn', 'left_command', 'left_control', 'left_option', 'left_shift',
  'option', 'right_command', 'right_control', 'right_option', 'right_shift', 'shift',
] as const;
