import { hasMessage, t } from '../i18n';
import { canonicalKey, canonicalModifier } from './vocabulary';

// Labels for Karabiner-Elements key names, and the two Mac keyboard layouts.

const digits = '1234567890'.split('');

export const GENERIC_MODIFIERS = ['control', 'option', 'shift', 'command'] as const;
export const HYPER = ['control', 'option', 'shift', 'command'];

const MOD_SYMBOL: Record<string, string> = {
  control: '⌃', option: '⌥', shift: '⇧', command: '⌘', fn: 'fn', caps_lock: '⇪',
};
const MOD_ORDER = ['fn', 'caps_lock', 'control', 'option', 'shift', 'command'];

/** Mac order (⌃⌥⇧⌘), one symbol per modifier; "R⌘" for a right-hand one. */
export function modifierSymbols(mods: readonly string[]): string {
  const base = (m: string) => canonicalModifier(m).replace(/^(left|right)_/, '');
  const sorted = [...mods].sort((a, b) => MOD_ORDER.indexOf(base(a)) - MOD_ORDER.indexOf(base(b)));
  return sorted.map((m) => {
    const sym = MOD_SYMBOL[base(m)] ?? m;
    return canonicalModifier(m).startsWith('right_') ? `R${sym}` : sym;
  }).join('');
}

// Symbols that read the same in every language; words come from the message catalogs ("key.<name>").
const LABELS: Record<string, string> = {
  hyphen: '-', equal_sign: '=', open_bracket: '[', close_bracket: ']', backslash: '\\', non_us_pound: '#',
  semicolon: ';', quote: "'", grave_accent_and_tilde: '`', comma: ',', period: '.', slash: '/', non_us_backslash: '§',
  right_arrow: '→', left_arrow: '←', down_arrow: '↓', up_arrow: '↑', fn: 'fn', japanese_eisuu: '英数',
  japanese_kana: 'かな', international3: '¥',
};

export function keyLabel(name: string): string {
  const code = canonicalKey('key_code', name);
  if (LABELS[code]) return LABELS[code];
  if (hasMessage(`key.${code}`)) return t(`key.${code}`);
  if (/^[a-z]$/.test(code)) return code.toUpperCase();
  if (/^f\d+$/.test(code)) return code.toUpperCase();
  if (code.startsWith('keypad_')) return `Keypad ${keyLabel(code.slice(7))}`;
  const button = /^button(\d+)$/.exec(code);
  if (button) return t('key.button', { n: button[1] });
  return code;
}

/** KeyboardEvent.code to Karabiner key name, for "press the key". */
export function keyFromEventCode(code: string): string | undefined {
  const m = /^Key([A-Z])$/.exec(code);
  if (m) return m[1].toLowerCase();
  const d = /^Digit(\d)$/.exec(code);
  if (d) return d[1];
  const f = /^F(\d+)$/.exec(code);
  if (f) return `f${f[1]}`;
  const n = /^Numpad(\d)$/.exec(code);
  if (n) return `keypad_${n[1]}`;
  return EVENT_CODES[code];
}

const EVENT_CODES: Record<string, string> = {
  Minus: 'hyphen', Equal: 'equal_sign', BracketLeft: 'open_bracket', BracketRight: 'close_bracket',
  Backslash: 'backslash', Semicolon: 'semicolon', Quote: 'quote', Backquote: 'grave_accent_and_tilde',
  Comma: 'comma', Period: 'period', Slash: 'slash', CapsLock: 'caps_lock', Tab: 'tab', Space: 'spacebar',
  Enter: 'return_or_enter', Backspace: 'delete_or_backspace', Delete: 'delete_forward', Escape: 'escape',
  ArrowLeft: 'left_arrow', ArrowRight: 'right_arrow', ArrowUp: 'up_arrow', ArrowDown: 'down_arrow',
  Home: 'home', End: 'end', PageUp: 'page_up', PageDown: 'page_down', Insert: 'insert',
  ShiftLeft: 'left_shift', ShiftRight: 'right_shift', ControlLeft: 'left_control',
  ControlRight: 'right_control', AltLeft: 'left_option', AltRight: 'right_option',
  MetaLeft: 'left_command', MetaRight: 'right_command', OSLeft: 'left_command', OSRight: 'right_command',
  Fn: 'fn', IntlYen: 'international3', IntlRo: 'international1', IntlBackslash: 'non_us_backslash',
  Lang1: 'japanese_kana', Lang2: 'japanese_eisuu', KanaMode: 'japanese_kana', NonConvert: 'japanese_pc_nfer',
  Convert: 'japanese_pc_xfer', NumpadEnter: 'keypad_enter', NumpadAdd: 'keypad_plus',
  NumpadSubtract: 'keypad_hyphen', NumpadMultiply: 'keypad_asterisk', NumpadDivide: 'keypad_slash',
  NumpadDecimal: 'keypad_period', NumpadEqual: 'keypad_equal_sign', NumLock: 'keypad_num_lock',
  AudioVolumeMute: 'mute', AudioVolumeUp: 'volume_increment', AudioVolumeDown: 'volume_decrement',
};

/** One key cap: Karabiner name, cap text, width in key units. */
export interface Cap { key: string; cap: string; w: number }
export type LayoutName = 'us' | 'jis';

const c = (key: string, cap: string, w = 1): Cap => ({ key, cap, w });
const letterRow = (s: string) => s.split('').map((ch) => c(ch, ch.toUpperCase()));
const fnRow: Cap[] = [c('escape', 'esc', 1.5), ...Array.from({ length: 12 }, (_, i) => c(`f${i + 1}`, `F${i + 1}`)), c('eject', '⏏', 1)];

const US: Cap[][] = [
  fnRow,
  [c('grave_accent_and_tilde', '`'), ...digits.map((d) => c(d, d)), c('hyphen', '-'), c('equal_sign', '='), c('delete_or_backspace', '⌫', 1.5)],
  [c('tab', '⇥ tab', 1.5), ...letterRow('qwertyuiop'), c('open_bracket', '['), c('close_bracket', ']'), c('backslash', '\\')],
  [c('caps_lock', '⇪ caps', 1.8), ...letterRow('asdfghjkl'), c('semicolon', ';'), c('quote', "'"), c('return_or_enter', '↩ return', 1.7)],
  [c('left_shift', '⇧ shift', 2.3), ...letterRow('zxcvbnm'), c('comma', ','), c('period', '.'), c('slash', '/'), c('right_shift', '⇧ shift', 2.2)],
  [c('fn', 'fn'), c('left_control', '⌃'), c('left_option', '⌥'), c('left_command', '⌘', 1.3), c('spacebar', 'space', 4), c('right_command', '⌘', 1.3), c('right_option', '⌥'), c('left_arrow', '←'), c('up_arrow', '↑'), c('down_arrow', '↓'), c('right_arrow', '→')],
];

const JIS: Cap[][] = [
  fnRow,
  [...digits.map((d) => c(d, d)), c('hyphen', '-'), c('equal_sign', '^'), c('international3', '¥'), c('delete_or_backspace', '⌫', 1.5)],
  [c('tab', '⇥ tab', 1.5), ...letterRow('qwertyuiop'), c('open_bracket', '@'), c('close_bracket', '['), c('return_or_enter', '↩', 1)],
  [c('left_control', '⌃ control', 1.8), ...letterRow('asdfghjkl'), c('semicolon', ';'), c('quote', ':'), c('backslash', ']'), c('return_or_enter', '', 0.7)],
  [c('left_shift', '⇧ shift', 2.3), ...letterRow('zxcvbnm'), c('comma', ','), c('period', '.'), c('slash', '/'), c('international1', '_'), c('right_shift', '⇧ shift', 1.2)],
  [c('caps_lock', '⇪'), c('left_option', '⌥'), c('left_command', '⌘', 1.3), c('japanese_eisuu', '英数', 1.2), c('spacebar', 'space', 2.6), c('japanese_kana', 'かな', 1.2), c('right_command', '⌘', 1.3), c('fn', 'fn'), c('left_arrow', '←'), c('up_arrow', '↑'), c('down_arrow', '↓'), c('right_arrow', '→')],
];

export const LAYOUTS: Record<LayoutName, Cap[][]> = { us: US, jis: JIS };
