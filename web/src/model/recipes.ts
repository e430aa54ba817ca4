// The recipe gallery: ready mappings, each built from a few parameters.
import { HYPER } from './keys';
import type { Action, AppRef, Mapping, Trigger } from './types';
import { newId } from './types';

export type ParamKind = 'key' | 'app' | 'mods' | 'keys2' | 'tap';
export interface RecipeParam { name: string; kind: ParamKind; label: string; default?: unknown }
export interface Recipe { id: string; params: RecipeParam[]; build(p: Record<string, unknown>): Mapping[] }
export type RecipeValues = Record<string, unknown>;

const trig = (key: string, mandatory: string[] = [], optional: string[] = ['any']): Trigger => ({ keys: [key], mandatory, optional });
const keys = (key: string, modifiers: string[] = []): Action => ({ type: 'keys', strokes: [{ key, modifiers }] });
const base = () => ({ id: newId(), enabled: true });
const str = (v: unknown, d: string) => (typeof v === 'string' && v ? v : d);

export const RECIPES: Recipe[] = [
  {
    id: 'capsCtrlEsc',
    params: [{ name: 'key', kind: 'key', label: 'p.key', default: 'caps_lock' }],
    build: (p) => [{
      ...base(), kind: 'tapHold', trigger: trig(str(p.key, 'caps_lock')), hold: keys('left_control'), tap: keys('escape'),
      holdMode: 'immediate', lazy: false,
    }],
  },
  {
    id: 'cmdEisuuKana',
    params: [],
    build: () => [
      { ...base(), kind: 'tapHold', trigger: trig('left_command'), hold: keys('left_command'), tap: { type: 'input', source: 'eisuu' }, holdMode: 'immediate', lazy: true },
      { ...base(), kind: 'tapHold', trigger: trig('right_command'), hold: keys('right_command'), tap: { type: 'input', source: 'kana' }, holdMode: 'immediate', lazy: true },
    ],
  },
  {
    id: 'focusApp',
    params: [
      { name: 'mods', kind: 'mods', label: 'p.mods', default: HYPER },
      { name: 'key', kind: 'key', label: 'p.key', default: 's' },
      { name: 'app', kind: 'app', label: 'p.app' },
    ],
    build: (p) => [{
      ...base(), kind: 'remap', trigger: trig(str(p.key, 's'), Array.isArray(p.mods) ? [...p.mods as string[]] : [...HYPER], []),
      action: { type: 'app', app: (p.app as AppRef | undefined) ?? null },
    }],
  },
  {
    id: 'hyper',
    params: [{ name: 'key', kind: 'key', label: 'p.key', default: 'right_option' }, { name: 'tap', kind: 'tap', label: 'p.tapSends', default: 'none' }],
    build: (p) => [{
      ...base(), kind: 'tapHold', trigger: trig(str(p.key, 'right_option')),
      hold: keys('left_shift', ['left_command', 'left_control', 'left_option']),
      tap: p.tap === 'escape' ? keys('escape') : { type: 'none' }, holdMode: 'immediate', lazy: false,
    }],
  },
  {
    id: 'vimArrows',
    params: [{ name: 'key', kind: 'key', label: 'p.layerKey', default: 'tab' }],
    build: (p) => {
      const layerKey = str(p.key, 'tab');
      const layer = 'arrows';
      const arrows: [string, string][] = [['h', 'left_arrow'], ['j', 'down_arrow'], ['k', 'up_arrow'], ['l', 'right_arrow']];
      return [
        { ...base(), kind: 'layerKey', trigger: trig(layerKey), name: layer, mode: 'hold', tap: keys(layerKey) },
        ...arrows.map(([from, to]): Mapping => ({ ...base(), kind: 'remap', layer, trigger: trig(from), action: keys(to) })),
      ];
    },
  },
  {
    id: 'launcher',
    params: [
      { name: 'key', kind: 'key', label: 'p.layerKey', default: 'right_option' },
      { name: 'letter', kind: 'key', label: 'p.letter', default: 'f' },
      { name: 'app', kind: 'app', label: 'p.app' },
    ],
    build: (p) => {
      const layer = 'apps';
      return [
        { ...base(), kind: 'layerKey', trigger: trig(str(p.key, 'right_option')), name: layer, mode: 'hold', tap: { type: 'none' } },
        { ...base(), kind: 'remap', layer, trigger: trig(str(p.letter, 'f')), action: { type: 'app', app: (p.app as AppRef | undefined) ?? null } },
      ];
    },
  },
  {
    id: 'chordEsc',
    params: [{ name: 'keys', kind: 'keys2', label: 'p.chordKeys', default: ['j', 'k'] }],
    build: (p) => {
      const ks = Array.isArray(p.keys) && p.keys.length >= 2 ? (p.keys as string[]) : ['j', 'k'];
      return [{ ...base(), kind: 'remap', trigger: { keys: [...ks], mandatory: [], optional: ['any'] }, action: keys('escape') }];
    },
  },
  {
    id: 'spaceCadet',
    params: [],
    build: () => [
      { ...base(), kind: 'tapHold', trigger: trig('left_shift'), hold: keys('left_shift'), tap: keys('9', ['left_shift']), holdMode: 'immediate', lazy: false },
      { ...base(), kind: 'tapHold', trigger: trig('right_shift'), hold: keys('right_shift'), tap: keys('0', ['left_shift']), holdMode: 'immediate', lazy: false },
    ],
  },
  {
    id: 'mediaFKeys',
    params: [],
    build: () => ([
      ['f7', 'scan_previous_track'], ['f8', 'play_or_pause'], ['f9', 'scan_next_track'],
      ['f10', 'mute'], ['f11', 'volume_decrement'], ['f12', 'volume_increment'],
    ] as const).map(([f, media]): Mapping => ({ ...base(), kind: 'remap', trigger: trig(f, [], []), action: { type: 'media', key: media } })),
  },
  {
    id: 'disableKey',
    params: [{ name: 'key', kind: 'key', label: 'p.key', default: 'caps_lock' }],
    build: (p) => [{ ...base(), kind: 'remap', trigger: trig(str(p.key, 'caps_lock')), action: { type: 'none' } }],
  },
];

export function recipeDefaults(r: Recipe): RecipeValues {
  return Object.fromEntries(r.params.map((p) => [p.name, p.default]));
}
