// One line per mapping, in the user's words ("Caps Lock: tap → Escape, hold → Control").
import { language, t } from '../i18n';
import { keyLabel, modifierSymbols } from './keys';
import type { Action, JsonObject, Mapping, Trigger } from './types';

export function strokeText(key: string, modifiers: readonly string[]): string {
  const sym = modifierSymbols(modifiers);
  const label = key ? keyLabel(key) : t('summary.noKey');
  return sym ? `${sym}${label}` : label;
}

export function triggerText(tr: Trigger): string {
  const keys = tr.keys.map((k) => (k ? keyLabel(k) : t('summary.noKey'))).join(' + ');
  const sym = modifierSymbols(tr.mandatory);
  return sym ? `${sym}${keys}` : keys;
}

export function actionText(a: Action): string {
  switch (a.type) {
    case 'keys': return a.strokes.length ? a.strokes.map((s) => strokeText(s.key, s.modifiers)).join(', ') : t('summary.noKey');
    case 'app': return a.app ? t('summary.open', { app: a.app.name || a.app.bundleId || a.app.path || '' }) : t('summary.chooseApp');
    case 'shortcut': return t('summary.shortcut', { name: a.name });
    case 'input': return a.source === 'kana' ? 'かな' : '英数';
    case 'media': return keyLabel(a.key);
    case 'none': return t('summary.nothing');
    case 'shell': return t('summary.shell', { cmd: a.command.length > 40 ? `${a.command.slice(0, 39)}…` : a.command });
  }
}

function rawWhat(man: JsonObject): string {
  const from = man.from;
  if (from && typeof from === 'object' && !Array.isArray(from)) {
    const k = from.key_code ?? from.consumer_key_code;
    if (typeof k === 'string') return keyLabel(k);
  }
  return typeof man.type === 'string' ? man.type : '?';
}

// Summaries are asked for on every render of long lists; a mapping object never changes once made.
const cache = new WeakMap<Mapping, { lang: string; text: string }>();

export function summarize(m: Mapping): string {
  const hit = cache.get(m);
  if (hit && hit.lang === language()) return hit.text;
  const text = compose(m);
  cache.set(m, { lang: language(), text });
  return text;
}

function compose(m: Mapping): string {
  let main: string;
  switch (m.kind) {
    case 'raw': return t('summary.raw', { what: rawWhat(m.manipulator) });
    case 'remap': main = `${triggerText(m.trigger)} → ${actionText(m.action)}`; break;
    case 'tapHold':
      main = t('summary.tapHold', { key: triggerText(m.trigger), tap: actionText(m.tap), hold: actionText(m.hold) });
      break;
    case 'layerKey':
      main = t(m.mode === 'hold' ? 'summary.layerHold' : 'summary.layerToggle', { key: triggerText(m.trigger), layer: m.name });
      if (m.tap.type !== 'none') main += t('summary.tapSuffix', { tap: actionText(m.tap) });
      break;
  }
  const scope: string[] = [];
  if (m.layer) scope.push(t('summary.inLayer', { layer: m.layer }));
  if (m.apps && m.apps.apps.length) {
    const names = m.apps.apps.map((a) => a.name).join(', ');
    scope.push(t(m.apps.mode === 'only' ? 'summary.only' : 'summary.except', { apps: names }));
  }
  return scope.length ? `${main} (${scope.join('; ')})` : main;
}
