// A sequence of key events as a person types it: "f↓ 0, j↓ 80, f↑ 120, j↑ 150" (a key, down or
// up, and the time in milliseconds from the first event). Keys are key_code names; other pages are
// written "consumer_key_code:mute"; mouse buttons "button1".
import type { KeyField } from '../vocabulary';
import { KEY_FIELDS } from '../vocabulary';
import { fieldOf, keyId, nameOf, type KeyId } from './keys';
import type { Step } from './session';

export type SequenceError = { error: 'key' | 'direction' | 'time' | 'order' | 'empty' | 'long'; token: string };

export const MAX_STEPS = 200;

export function keyFromName(name: string): KeyId | undefined {
  const m = /^([a-z_]+):(.+)$/.exec(name);
  if (m && (KEY_FIELDS as readonly string[]).includes(m[1])) return keyId(m[1] as KeyField, /^\d+$/.test(m[2]) ? Number(m[2]) : m[2]);
  if (/^button\d+$/.test(name)) return keyId('pointing_button', name);
  return keyId('key_code', name);
}

export function parseSequence(text: string): Step[] | SequenceError {
  const tokens = text.split(/[,;\n]+/).map((t) => t.trim()).filter(Boolean);
  if (!tokens.length) return { error: 'empty', token: '' };
  if (tokens.length > MAX_STEPS) return { error: 'long', token: String(tokens.length) };
  const steps: Step[] = [];
  let last = 0;
  for (const token of tokens) {
    const m = /^(.+?)\s*(↓|↑|\bdown\b|\bup\b)\s*(?:(?:@|at)\s*)?(-?\d+(?:\.\d+)?)?\s*(?:ms)?$/i.exec(token);
    if (!m) return { error: 'direction', token };
    const key = keyFromName(m[1].trim().toLowerCase());
    if (!key) return { error: 'key', token };
    const dir = m[2].toLowerCase();
    const at = m[3] === undefined ? last : Number(m[3]);
    if (!Number.isFinite(at) || at < 0 || at > 600_000) return { error: 'time', token };
    if (at < last) return { error: 'order', token };
    last = at;
    steps.push({ at: Math.round(at), key, down: dir === '↓' || dir === 'down' });
  }
  return steps;
}

/** The short name a sequence writes for a key. */
export function keyName(k: KeyId): string {
  const f = fieldOf(k);
  return f === 'key_code' || f === 'pointing_button' ? nameOf(k) : k;
}

export function formatSequence(steps: Step[]): string {
  const start = steps[0]?.at ?? 0;
  return steps.map((s) => `${keyName(s.key)}${s.down ? '↓' : '↑'} ${Math.round(s.at - start)}`).join(', ');
}
