// The recipe gallery: ready rules, each built from a few parameters, in the shapes the public rule
// gallery uses today.
import { appEvent } from './actions';
import { buildDoubleTap, buildLayer, LAYER_PREFIX, withLetterTapHold } from './forms';
import type { JsonObject } from './json';
import { HYPER } from './keys';
import { defaultOptional, keyEvent, variableIf } from './manipulator';
import { newMapping } from './rules';
import type { AppRef, CompileContext, FormKind, Mapping } from './types';

export type ParamKind = 'key' | 'app' | 'mods' | 'keys2' | 'tap';
export interface RecipeParam { name: string; kind: ParamKind; label: string; default?: unknown }
export interface Recipe { id: string; params: RecipeParam[]; build(p: RecipeValues, ctx: CompileContext): Mapping[] }
export type RecipeValues = Record<string, unknown>;

const str = (v: unknown, d: string) => (typeof v === 'string' && v ? v : d);
const key = (name: string, modifiers: string[] = []) => keyEvent('key_code', name, modifiers);
const from = (name: string, mandatory: string[] = [], optional: string[] = defaultOptional(name, mandatory)): JsonObject => {
  const f: JsonObject = { key_code: name };
  if (mandatory.length || optional.length) {
    f.modifiers = { ...(mandatory.length ? { mandatory } : {}), ...(optional.length ? { optional } : {}) };
  }
  return f;
};
const one = (form: FormKind, man: JsonObject): Mapping => newMapping([{ type: 'basic', ...man }], form);
const app = (v: unknown) => v as AppRef | undefined;

function lazyEisuuKana(side: 'left' | 'right', tap: string): Mapping {
  const mod = `${side}_command`;
  return one('tapHold', {
    from: from(mod),
    parameters: { 'basic.to_if_held_down_threshold_milliseconds': 100 },
    to: [{ key_code: mod, lazy: true }],
    // Held past 100 ms it is a plain Command at once, so Command+click and Command+drag work.
    to_if_held_down: [key(mod)],
    to_if_alone: [key(tap)],
  });
}

function layer(name: string, trigger: string, tap: JsonObject[]): Mapping {
  return newMapping(buildLayer({ from: from(trigger), conditions: [], mode: 'hold', variable: `${LAYER_PREFIX}${name}`, on: 1, off: 0, tap }), 'layer');
}
const inLayer = (name: string, man: JsonObject): Mapping => one('remap', { ...man, conditions: [variableIf(`${LAYER_PREFIX}${name}`, 1)] });

export const RECIPES: Recipe[] = [
  {
    id: 'capsCtrlEsc',
    params: [{ name: 'key', kind: 'key', label: 'p.key', default: 'caps_lock' }],
    build: (p) => [one('tapHold', { from: from(str(p.key, 'caps_lock'), [], ['any']), to: [key('left_control')], to_if_alone: [key('escape')] })],
  },
  { id: 'cmdEisuuKana', params: [], build: () => [lazyEisuuKana('left', 'japanese_eisuu'), lazyEisuuKana('right', 'japanese_kana')] },
  {
    id: 'focusApp',
    params: [
      { name: 'mods', kind: 'mods', label: 'p.mods', default: HYPER },
      { name: 'key', kind: 'key', label: 'p.key', default: 's' },
      { name: 'app', kind: 'app', label: 'p.app' },
    ],
    build: (p, ctx) => {
      const a = app(p.app);
      return [one('remap', { from: from(str(p.key, 's'), Array.isArray(p.mods) ? [...p.mods as string[]] : [...HYPER]), to: a ? [appEvent(a, ctx.helperPath)] : [] })];
    },
  },
  {
    id: 'hyper',
    params: [{ name: 'key', kind: 'key', label: 'p.key', default: 'right_option' }, { name: 'tap', kind: 'tap', label: 'p.tapSends', default: 'none' }],
    build: (p) => [one('tapHold', {
      from: from(str(p.key, 'right_option'), [], ['any']),
      to: [key('left_shift', ['left_command', 'left_control', 'left_option'])],
      ...(p.tap === 'escape' ? { to_if_alone: [key('escape')] } : {}),
    })],
  },
  {
    id: 'vimArrows',
    params: [{ name: 'key', kind: 'key', label: 'p.layerKey', default: 'tab' }],
    build: (p) => {
      const trigger = str(p.key, 'tab');
      const arrows: [string, string][] = [['h', 'left_arrow'], ['j', 'down_arrow'], ['k', 'up_arrow'], ['l', 'right_arrow']];
      return [layer('arrows', trigger, [key(trigger)]), ...arrows.map(([f, t]) => inLayer('arrows', { from: from(f, [], ['any']), to: [key(t)] }))];
    },
  },
  {
    id: 'launcher',
    params: [
      { name: 'key', kind: 'key', label: 'p.layerKey', default: 'right_option' },
      { name: 'letter', kind: 'key', label: 'p.letter', default: 'f' },
      { name: 'app', kind: 'app', label: 'p.app' },
    ],
    build: (p, ctx) => {
      const a = app(p.app);
      return [layer('apps', str(p.key, 'right_option'), []), inLayer('apps', { from: from(str(p.letter, 'f'), [], []), to: a ? [appEvent(a, ctx.helperPath)] : [] })];
    },
  },
  {
    // Modifiers on the home row, in the order the gallery's home-row mods use: ⌃⌥⌘⇧ on the left,
    // mirrored on the right. Letters typed fast stay letters.
    id: 'homeRowMods',
    params: [],
    build: () => ([
      ['a', 'left_control'], ['s', 'left_option'], ['d', 'left_command'], ['f', 'left_shift'],
      ['j', 'right_shift'], ['k', 'right_command'], ['l', 'right_option'], ['semicolon', 'right_control'],
    ] as const).map(([letter, mod]) => one('tapHold', withLetterTapHold({ from: from(letter, [], ['any']) }, { tap: [key(letter)], hold: [key(mod)] }))),
  },
  {
    id: 'chordEsc',
    params: [{ name: 'keys', kind: 'keys2', label: 'p.chordKeys', default: ['j', 'k'] }],
    build: (p) => {
      const ks = Array.isArray(p.keys) && p.keys.length >= 2 ? (p.keys as string[]) : ['j', 'k'];
      return [one('remap', { from: { simultaneous: ks.map((k) => key(k)), modifiers: { optional: ['any'] } }, to: [key('escape')] })];
    },
  },
  {
    id: 'doubleTapQuit',
    params: [],
    build: () => [newMapping(buildDoubleTap({
      from: from('q', ['command']), conditions: [], variable: 'tarvel_double_tap_command_q', first: [], second: [key('q', ['left_command'])],
    }), 'doubleTap')],
  },
  {
    id: 'spaceCadet',
    params: [],
    build: () => [
      one('tapHold', { from: from('left_shift'), to: [key('left_shift')], to_if_alone: [key('9', ['left_shift'])] }),
      one('tapHold', { from: from('right_shift'), to: [key('right_shift')], to_if_alone: [key('0', ['left_shift'])] }),
    ],
  },
  {
    id: 'mediaFKeys',
    params: [],
    build: () => ([
      ['f7', 'scan_previous_track'], ['f8', 'play_or_pause'], ['f9', 'scan_next_track'], ['f10', 'mute'], ['f11', 'volume_decrement'], ['f12', 'volume_increment'],
    ] as const).map(([f, media]) => one('remap', { from: { key_code: f }, to: [{ consumer_key_code: media }] })),
  },
  {
    id: 'disableKey',
    params: [{ name: 'key', kind: 'key', label: 'p.key', default: 'caps_lock' }],
    build: (p) => [one('remap', { from: from(str(p.key, 'caps_lock'), [], ['any']), to: [key('vk_none')] })],
  },
];

export function recipeDefaults(r: Recipe): RecipeValues {
  return Object.fromEntries(r.params.map((p) => [p.name, p.default]));
}
