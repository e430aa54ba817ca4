// What Karabiner-Elements accepts, by field: key names (generated from its own tables), modifiers,
// event and condition fields, parameters. Checks ask here and only warn; Karabiner-Elements' own
// linter has the last word.
import {
  APPLE_VENDOR_KEYBOARD_KEY_CODE_ALIASES, APPLE_VENDOR_KEYBOARD_KEY_CODES, APPLE_VENDOR_TOP_CASE_KEY_CODES, CONSUMER_KEY_CODE_ALIASES, CONSUMER_KEY_CODES,
  GENERIC_DESKTOP, KEY_CODE_ALIASES, KEY_CODES, KEY_CODES_OTHER_PAGES, KEY_CODES_OTHER_PAGES_ALIASES,
  POINTING_BUTTON_COUNT,
} from './vocabulary.data';

const words = (s: string): string[] => s.split(' ');

/** The fields that name one key-like event, in `from`, in `simultaneous` and in to-events. */
export const KEY_FIELDS = [
  'key_code', 'consumer_key_code', 'pointing_button', 'apple_vendor_keyboard_key_code',
  'apple_vendor_top_case_key_code', 'generic_desktop',
] as const;
export type KeyField = typeof KEY_FIELDS[number];

const names = (list: string, aliases: Record<string, string> = {}) => new Set([...words(list), ...Object.keys(aliases)]);
const KEY_NAMES: Record<KeyField, ReadonlySet<string>> = {
  key_code: new Set([...names(KEY_CODES, KEY_CODE_ALIASES), ...names(KEY_CODES_OTHER_PAGES, KEY_CODES_OTHER_PAGES_ALIASES)]),
  consumer_key_code: names(CONSUMER_KEY_CODES, CONSUMER_KEY_CODE_ALIASES),
  pointing_button: new Set(Array.from({ length: POINTING_BUTTON_COUNT }, (_, i) => `button${i + 1}`)),
  apple_vendor_keyboard_key_code: names(APPLE_VENDOR_KEYBOARD_KEY_CODES, APPLE_VENDOR_KEYBOARD_KEY_CODE_ALIASES),
  apple_vendor_top_case_key_code: names(APPLE_VENDOR_TOP_CASE_KEY_CODES),
  generic_desktop: names(GENERIC_DESKTOP),
};
const ALIASES: Partial<Record<KeyField, Record<string, string>>> = {
  key_code: { ...KEY_CODE_ALIASES, ...KEY_CODES_OTHER_PAGES_ALIASES },
  consumer_key_code: CONSUMER_KEY_CODE_ALIASES,
  apple_vendor_keyboard_key_code: APPLE_VENDOR_KEYBOARD_KEY_CODE_ALIASES,
};

/** Karabiner-Elements also takes a number (a HID usage) wherever it takes a key name. */
export function isKnownName(field: KeyField, name: unknown): boolean {
  if (typeof name === 'number') return Number.isInteger(name) && name >= 0;
  return typeof name === 'string' && KEY_NAMES[field].has(name);
}

/** The name Karabiner-Elements reports for a key (left_alt → left_option, lang1 → japanese_kana). */
export function canonicalKey(field: KeyField, name: string): string {
  return ALIASES[field]?.[name] ?? name;
}

export const keyNames = (field: KeyField): readonly string[] => [...KEY_NAMES[field]];

/** Modifier names in `from.modifiers` and in to-events' `modifiers`; generic ones cover both sides. */
export const MODIFIERS = [
  'caps_lock', 'command', 'control', 'fn', 'option', 'shift', 'left_command', 'left_control', 'left_option',
  'left_shift', 'right_command', 'right_control', 'right_option', 'right_shift',
] as const;
export const MODIFIER_ALIASES: Record<string, string> = {
  left_alt: 'left_option', right_alt: 'right_option', left_gui: 'left_command', right_gui: 'right_command',
};
export const canonicalModifier = (m: string): string => MODIFIER_ALIASES[m] ?? m;
export const isModifierName = (m: unknown): boolean =>
  typeof m === 'string' && ((MODIFIERS as readonly string[]).includes(canonicalModifier(m)));

/** Keys that are modifiers themselves, by their key_code names. */
export const MODIFIER_KEYS: ReadonlySet<string> = new Set([
  'left_control', 'left_shift', 'left_option', 'left_command', 'right_control', 'right_shift', 'right_option',
  'right_command', 'fn', 'caps_lock', 'left_alt', 'right_alt', 'left_gui', 'right_gui',
]);

/** Every field of a basic manipulator. */
export const MANIPULATOR_FIELDS = [
  'type', 'from', 'to', 'to_if_alone', 'to_if_held_down', 'to_after_key_up', 'to_delayed_action',
  'to_if_other_key_pressed', 'conditions', 'parameters', 'description',
] as const;
export const MANIPULATOR_TYPES = ['basic', 'mouse_basic', 'mouse_motion_to_scroll'] as const;

/** Result lists that may be written as one object instead of an array. */
export const EVENT_LISTS = ['to', 'to_if_alone', 'to_if_held_down', 'to_after_key_up'] as const;
export type EventList = typeof EVENT_LISTS[number];
export const DELAYED_LISTS = ['to_if_invoked', 'to_if_canceled'] as const;

export const FROM_FIELDS = [...KEY_FIELDS, 'any', 'modifiers', 'simultaneous', 'simultaneous_options', 'integer_value', 'description'] as const;
export const SIMULTANEOUS_OPTIONS: Record<string, readonly (string | boolean)[] | 'events'> = {
  detect_key_down_uninterruptedly: [true, false],
  key_down_order: ['insensitive', 'strict', 'strict_inverse'],
  key_up_order: ['insensitive', 'strict', 'strict_inverse'],
  key_up_when: ['any', 'all'],
  to_after_key_up: 'events',
};
export const ANY_VALUES = ['key_code', 'consumer_key_code', 'pointing_button', 'apple_vendor_keyboard_key_code', 'apple_vendor_top_case_key_code'] as const;

/** What one to-event does: exactly one of these per event. */
export const EVENT_KINDS = [
  ...KEY_FIELDS, 'shell_command', 'select_input_source', 'set_variable', 'set_notification_message', 'mouse_key',
  'sticky_modifier', 'software_function', 'send_user_command',
] as const;
export type EventKind = typeof EVENT_KINDS[number];
/** Fields that may sit next to the event in a to-event. */
export const EVENT_FLAGS = ['modifiers', 'lazy', 'repeat', 'halt', 'hold_down_milliseconds', 'held_down_milliseconds', 'conditions', 'description'] as const;

export const SET_VARIABLE_FIELDS = ['name', 'value', 'expression', 'key_up_value', 'key_up_expression', 'type'] as const;
export const NOTIFICATION_FIELDS = ['id', 'text', 'duration_milliseconds'] as const;
export const MOUSE_KEY_FIELDS = ['x', 'y', 'vertical_wheel', 'horizontal_wheel', 'speed_multiplier'] as const;
export const INPUT_SOURCE_FIELDS = ['language', 'input_source_id', 'input_mode_id'] as const;
export const STICKY_VALUES = ['on', 'off', 'toggle'] as const;
export const SOFTWARE_FUNCTIONS: Record<string, readonly string[]> = {
  open_application: ['bundle_identifier', 'file_path', 'frontmost_application_history_index', 'frontmost_application_history_exclusion_bundle_identifiers', 'frontmost_application_history_exclusion_file_paths'],
  set_mouse_cursor_position: ['x', 'y', 'screen', 'relative_to', 'fallback_to'],
  cg_event_double_click: ['button'],
  iokit_power_management_sleep_system: ['delay_milliseconds'],
};

/** Condition types and the fields each takes besides `type` and `description`. */
export const CONDITIONS: Record<string, readonly string[]> = {
  frontmost_application_if: ['bundle_identifiers', 'file_paths'],
  frontmost_application_unless: ['bundle_identifiers', 'file_paths'],
  device_if: ['identifiers'], device_unless: ['identifiers'],
  device_exists_if: ['identifiers'], device_exists_unless: ['identifiers'],
  keyboard_type_if: ['keyboard_types'], keyboard_type_unless: ['keyboard_types'],
  input_source_if: ['input_sources'], input_source_unless: ['input_sources'],
  variable_if: ['name', 'value'], variable_unless: ['name', 'value'],
  expression_if: ['expression'], expression_unless: ['expression'],
  event_changed_if: ['value'], event_changed_unless: ['value'],
};
export const DEVICE_FIELDS = [
  'vendor_id', 'product_id', 'location_id', 'device_address', 'is_keyboard', 'is_pointing_device', 'is_game_pad',
  'is_consumer', 'is_touch_bar', 'is_built_in_keyboard',
] as const;
export const KEYBOARD_TYPES = ['ansi', 'iso', 'jis'] as const;

/** Timing parameters a manipulator may set for itself, with Karabiner-Elements' defaults and lower bounds. */
export const PARAMETERS: Record<string, { default: number; min: number; max?: number }> = {
  'basic.simultaneous_threshold_milliseconds': { default: 50, min: 0, max: 1000 },
  'basic.to_if_alone_timeout_milliseconds': { default: 1000, min: 0 },
  'basic.to_if_held_down_threshold_milliseconds': { default: 500, min: 0 },
  'basic.to_delayed_action_delay_milliseconds': { default: 500, min: 0 },
  'mouse_motion_to_scroll.speed': { default: 100, min: 1, max: 10000 },
};
