// One line per mapping, in the user's words ("Caps Lock: tap → Escape, hold → Control"), for any
// manipulator, whether a form shows it or not.
import { language, t } from '../i18n';
import { layerLabel, readDoubleTap, readLayer, readLeader } from './forms';
import { isObj, isStr, type Json, type JsonObject } from './json';
import { keyLabel, modifierSymbols } from './keys';
import { fromKeys } from './manipulator';
import { eventKind, eventsOf } from './shapes';
import { SHORTCUTS_RUN } from './commands';
import { shellWords, unescapeExactRegex } from './shell';
import type { Mapping } from './types';

/** Names for bundle identifiers, from the inventory. */
export type AppNames = (bundleId: string) => string | undefined;
let appNames: AppNames = () => undefined;
let appNamesVersion = 0;
export function setAppNames(fn: AppNames): void {
  appNames = fn;
  appNamesVersion++;
}

const names = (v: Json | undefined): string[] => (isStr(v) ? [v] : Array.isArray(v) ? v.filter(isStr) : []);

export function strokeText(key: string, modifiers: readonly string[]): string {
  const sym = modifierSymbols(modifiers);
  const label = key ? keyLabel(key) : t('summary.noKey');
  return sym ? `${sym}${label}` : label;
}

export function triggerText(from: Json | undefined): string {
  if (!isObj(from)) return t('summary.noKey');
  const mods = isObj(from.modifiers) ? names(from.modifiers.mandatory).filter((m) => m !== 'any') : [];
  let keys: string;
  if (isStr(from.any)) keys = t('summary.anyKey');
  else {
    const refs = fromKeys(from);
    keys = refs.length ? refs.map((k) => (k.name ? keyLabel(k.name) : t('summary.noKey'))).join(' + ') : t('summary.noKey');
  }
  const sym = modifierSymbols(mods);
  return sym ? `${sym}${keys}` : keys;
}

function appName(bundleId: string): string {
  return appNames(bundleId) ?? bundleId;
}

function direction(x: number, pos: string, neg: string): string {
  return x > 0 ? pos : neg;
}

export function eventText(e: JsonObject): string {
  const kind = eventKind(e);
  const v = kind ? e[kind] : undefined;
  switch (kind) {
    case 'key_code': case 'consumer_key_code': case 'apple_vendor_keyboard_key_code':
    case 'apple_vendor_top_case_key_code': case 'generic_desktop': case 'pointing_button': {
      if (v === 'vk_none') return t('summary.nothing');
      if (v === 'japanese_eisuu') return '英数';
      if (v === 'japanese_kana') return 'かな';
      return strokeText(String(v ?? ''), names(e.modifiers));
    }
    case 'shell_command': {
      const cmd = String(v);
      if (cmd.startsWith(SHORTCUTS_RUN)) {
        const w = shellWords(cmd.slice(SHORTCUTS_RUN.length));
        if (w?.length === 1) return t('summary.shortcut', { name: w[0] });
      }
      const w = shellWords(cmd);
      if (w && /(^|\/)tarvel-focus$/.test(w[0])) {
        const i = w.indexOf('--name');
        const j = w.indexOf('--bundle-id');
        return t('summary.open', { app: i > 0 ? w[i + 1] : j > 0 ? appName(w[j + 1]) : '?' });
      }
      return t('summary.shellShort');
    }
    case 'software_function': {
      if (!isObj(v)) return kind;
      const open = v.open_application;
      if (isObj(open)) {
        if (isStr(open.bundle_identifier)) return t('summary.open', { app: appName(open.bundle_identifier) });
        if (isStr(open.file_path)) return t('summary.open', { app: open.file_path.replace(/\/+$/, '').split('/').pop()?.replace(/\.(app|desktop)$/, '') ?? open.file_path });
        return t('summary.previousApp');
      }
      return t(`sf.${Object.keys(v)[0]}`);
    }
    case 'set_variable': {
      if (!isObj(v)) return kind;
      const name = layerLabel(String(v.name));
      if (v.type === 'unset') return t('summary.unset', { name });
      const value = v.value ?? v.key_up_value ?? v.expression;
      return `${name} = ${JSON.stringify(value)}`;
    }
    case 'set_notification_message':
      return isObj(v) && isStr(v.text) ? (v.text ? t('summary.notify', { text: v.text }) : t('summary.notifyOff')) : kind;
    case 'mouse_key': {
      if (!isObj(v)) return kind;
      const parts: string[] = [];
      const num = (x: Json | undefined) => (typeof x === 'number' ? x : 0);
      if (num(v.x) || num(v.y)) parts.push(`${t('summary.mouse')} ${num(v.y) ? direction(num(v.y), '↓', '↑') : ''}${num(v.x) ? direction(num(v.x), '→', '←') : ''}`);
      if (num(v.vertical_wheel) || num(v.horizontal_wheel)) parts.push(`${t('summary.scroll')} ${num(v.vertical_wheel) ? direction(num(v.vertical_wheel), '↑', '↓') : ''}${num(v.horizontal_wheel) ? direction(num(v.horizontal_wheel), '←', '→') : ''}`);
      if (typeof v.speed_multiplier === 'number') parts.push(`× ${v.speed_multiplier}`);
      return parts.join(', ') || t('summary.mouse');
    }
    case 'select_input_source': {
      const s = eventsOf(v)[0];
      const id = s ? (s.input_source_id ?? s.language ?? s.input_mode_id) : undefined;
      return t('summary.inputSource', { id: isStr(id) ? id.replace(/^\^|\$$/g, '').replace(/\\(.)/g, '$1') : '?' });
    }
    case 'sticky_modifier':
      return isObj(v) ? t('summary.sticky', { mod: modifierSymbols(Object.keys(v)) || Object.keys(v).join(), how: String(Object.values(v)[0]) }) : kind;
    case 'send_user_command':
      return t('summary.userCommand');
    default:
      return '?';
  }
}

export function eventsText(v: Json | undefined): string {
  const evs = eventsOf(v);
  return evs.length ? evs.map(eventText).join(t('summary.sep')) : t('summary.nothing');
}

/** Where a mapping works, from its conditions. */
export function scopeText(conditions: Json | undefined, skipVariables: ReadonlySet<string> = new Set()): string[] {
  const out: string[] = [];
  if (!Array.isArray(conditions)) return out;
  for (const c of conditions) {
    if (!isObj(c) || !isStr(c.type)) continue;
    const unless = c.type.endsWith('_unless');
    switch (c.type.replace(/_(if|unless)$/, '')) {
      case 'variable':
        if (isStr(c.name) && skipVariables.has(c.name)) break;
        if (isStr(c.name)) {
          const plain = c.value === 1 || c.value === true;
          out.push(unless ? t('summary.unless', { name: layerLabel(c.name), value: JSON.stringify(c.value) })
            : plain ? t('summary.inLayer', { layer: layerLabel(c.name) }) : t('summary.when', { name: layerLabel(c.name), value: JSON.stringify(c.value) }));
        }
        break;
      case 'frontmost_application': {
        const apps = [...names(c.bundle_identifiers).map((re) => { const id = unescapeExactRegex(re); return id ? appName(id) : re; }),
          ...names(c.file_paths).map((re) => unescapeExactRegex(re)?.split('/').pop() ?? re)];
        out.push(t(unless ? 'summary.except' : 'summary.only', { apps: apps.join(', ') }));
        break;
      }
      case 'device': case 'device_exists': {
        const ids = Array.isArray(c.identifiers) ? c.identifiers.filter(isObj).map((d) => [d.vendor_id, d.product_id].filter((x) => x !== undefined).join('/') || Object.keys(d).join(' ')) : [];
        out.push(t(unless ? 'summary.notDevice' : 'summary.device', { devices: ids.join(', ') }));
        break;
      }
      case 'keyboard_type':
        out.push(t(unless ? 'summary.notKeyboard' : 'summary.keyboard', { types: names(c.keyboard_types).map((x) => x.toUpperCase()).join(', ') }));
        break;
      case 'input_source': {
        const ids = Array.isArray(c.input_sources) ? c.input_sources.filter(isObj).map((s) => String(s.language ?? s.input_source_id ?? s.input_mode_id ?? '?')) : [];
        out.push(t(unless ? 'summary.notInput' : 'summary.input', { sources: ids.join(', ') }));
        break;
      }
      case 'expression':
        out.push(t('summary.expression'));
        break;
      default:
        break;
    }
  }
  return out;
}

const withScope = (main: string, scope: string[]) => (scope.length ? `${main} (${scope.join('; ')})` : main);

function genericText(man: JsonObject): string {
  const parts: string[] = [];
  if (man.to !== undefined) parts.push(eventsText(man.to));
  const lists: [string, Json | undefined][] = [
    ['summary.alone', man.to_if_alone], ['summary.held', man.to_if_held_down], ['summary.up', man.to_after_key_up],
    ['summary.delayed', isObj(man.to_delayed_action) ? man.to_delayed_action.to_if_invoked : undefined],
  ];
  for (const [key, list] of lists) if (list !== undefined) parts.push(t(key, { events: eventsText(list) }));
  return `${triggerText(man.from)} → ${parts.join(t('summary.sep')) || t('summary.nothing')}`;
}

function tapHoldText(man: JsonObject): string {
  const strip = (v: Json | undefined) => eventsOf(v).map((e) => { const { lazy: _l, ...rest } = e; return rest as JsonObject; });
  const held = strip(man.to_if_held_down);
  const to = strip(man.to);
  const hold = held.length ? held : to;
  const parts: string[] = [];
  if (man.to_if_alone !== undefined) parts.push(t('summary.tap', { events: eventsText(man.to_if_alone) }));
  if (hold.length) parts.push(t('summary.hold', { events: eventsText(hold) }));
  if (held.length && to.length && JSON.stringify(held) !== JSON.stringify(to)) parts.push(t('summary.pressed', { events: eventsText(to) }));
  if (man.to_after_key_up !== undefined) parts.push(t('summary.up', { events: eventsText(man.to_after_key_up) }));
  return `${triggerText(man.from)}: ${parts.join(t('summary.sep'))}`;
}

function compose(m: Mapping): string {
  const ms = m.manipulators;
  const first = isObj(ms[0]) ? ms[0] : undefined;
  if (!first) return t('summary.raw', { what: '?' });
  switch (m.form) {
    case 'remap':
      return withScope(`${triggerText(first.from)} → ${eventsText(first.to)}`, scopeText(first.conditions));
    case 'tapHold':
      return withScope(tapHoldText(first), scopeText(first.conditions));
    case 'layer': {
      const p = readLayer(ms);
      if (!p) break;
      const key = `layerMode.${p.mode}`;
      let main = t('summary.layer', { key: triggerText(p.from), how: t(key), layer: layerLabel(p.variable) });
      if (p.tap.length) main += t('summary.tapSuffix', { tap: eventsText(p.tap) });
      return withScope(main, scopeText(p.conditions));
    }
    case 'doubleTap': {
      const p = readDoubleTap(ms);
      if (!p) break;
      let main = t('summary.doubleTap', { key: triggerText(p.from), events: eventsText(p.second) });
      if (p.first.length) main += t('summary.tapSuffix', { tap: eventsText(p.first) });
      return withScope(main, scopeText(p.conditions));
    }
    case 'leader': {
      const p = readLeader(ms);
      if (!p) break;
      const seqs = p.sequences.map((s) => `${s.keys.map((k) => (k ? keyLabel(k) : '…')).join(' ')} → ${eventsText(s.to)}`);
      return withScope(t('summary.leader', { key: triggerText(p.from), sequences: seqs.join('; ') }), scopeText(p.conditions));
    }
    case 'advanced':
      return withScope(genericText(first), scopeText(first.conditions));
    case 'raw':
      break;
  }
  const what = first.type === 'basic' || first.type === undefined ? genericText(first) : String(first.type);
  return t('summary.raw', { what: ms.length > 1 ? `${what} (+${ms.length - 1})` : what });
}

// Summaries are asked for on every render of long lists; a mapping object never changes once made.
const cache = new WeakMap<Mapping, { lang: string; apps: number; text: string }>();

export function summarize(m: Mapping): string {
  const hit = cache.get(m);
  if (hit && hit.lang === language() && hit.apps === appNamesVersion) return hit.text;
  const text = compose(m);
  cache.set(m, { lang: language(), apps: appNamesVersion, text });
  return text;
}

/** A manipulator of any rule, for the simulator and the shadow warnings. */
export function describeManipulator(man: Json): string {
  if (!isObj(man)) return t('summary.raw', { what: '?' });
  return withScope(man.type === 'basic' || man.type === undefined ? genericText(man) : String(man.type), scopeText(man.conditions));
}
