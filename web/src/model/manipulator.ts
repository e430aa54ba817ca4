// Reading and rewriting parts of a manipulator. Every writer returns a new object that keeps the
// other fields, in their order; lists keep the one-object form they came in while they hold one event.
import { isObj, isStr, type Json, type JsonObject } from './json';
import { eventsOf, keyFieldOf } from './shapes';
import { canonicalKey, KEY_FIELDS, MODIFIER_KEYS, type KeyField } from './vocabulary';

/** `o` with `key` set to `value` where it was (or at the end), or removed when `value` is undefined. */
export function withKey(o: JsonObject, key: string, value: Json | undefined): JsonObject {
  const out: JsonObject = {};
  let placed = false;
  for (const [k, v] of Object.entries(o)) {
    if (k === key) {
      placed = true;
      if (value !== undefined) out[k] = value;
    } else {
      out[k] = v;
    }
  }
  if (!placed && value !== undefined) out[key] = value;
  return out;
}

/** Writes a result list, dropping it when empty and keeping the single-object form it had. */
export function withEvents(o: JsonObject, list: string, events: JsonObject[]): JsonObject {
  if (!events.length) return withKey(o, list, undefined);
  const wasObject = isObj(o[list]);
  return withKey(o, list, wasObject && events.length === 1 ? events[0] : events);
}

export interface KeyRef { field: KeyField; name: string }

/** The keys of a trigger: one, or those pressed together; `any` gives none. */
export function fromKeys(from: Json | undefined): KeyRef[] {
  if (!isObj(from)) return [];
  const parts = Array.isArray(from.simultaneous) ? from.simultaneous.filter(isObj) : [from];
  const out: KeyRef[] = [];
  for (const p of parts) {
    const field = keyFieldOf(p);
    if (field && (isStr(p[field]) || typeof p[field] === 'number')) out.push({ field, name: String(p[field]) });
  }
  return out;
}

/** Key names a manipulator is triggered by, as the keyboard picture names its keys. */
export function triggerKeys(man: JsonObject): string[] {
  return fromKeys(man.from).map((k) => {
    if (k.field === 'key_code' || k.field === 'consumer_key_code') return canonicalKey(k.field, k.name);
    // The fn key has a name of its own on the Apple top case page.
    if (k.field === 'apple_vendor_top_case_key_code' && k.name === 'keyboard_fn') return 'fn';
    return `${k.field}:${k.name}`;
  });
}

export interface VariableTest { name: string; value: Json; negated: boolean }

export function variableTests(conditions: Json | undefined): VariableTest[] {
  if (!Array.isArray(conditions)) return [];
  const out: VariableTest[] = [];
  for (const c of conditions) {
    if (isObj(c) && (c.type === 'variable_if' || c.type === 'variable_unless') && isStr(c.name) && c.value !== undefined) {
      out.push({ name: c.name, value: c.value, negated: c.type === 'variable_unless' });
    }
  }
  return out;
}

/** A layer is a variable tested for a value: "name" when the value is 1 or true, else "name = value". */
export const layerId = (name: string, value: Json): string =>
  value === 1 || value === true ? name : `${name} = ${JSON.stringify(value)}`;

/** The layers a manipulator works in (its variable_if tests), empty for the base layer. */
export function layersOf(man: JsonObject): string[] {
  return variableTests(man.conditions).filter((v) => !v.negated).map((v) => layerId(v.name, v.value));
}

/** Every event a manipulator can send, in every result list, with where it sits. */
export function allEvents(man: JsonObject): { list: string; event: JsonObject }[] {
  const out: { list: string; event: JsonObject }[] = [];
  for (const list of ['to', 'to_if_alone', 'to_if_held_down', 'to_after_key_up']) {
    for (const event of eventsOf(man[list])) out.push({ list, event });
  }
  const delayed = man.to_delayed_action;
  if (isObj(delayed)) {
    for (const list of ['to_if_invoked', 'to_if_canceled']) for (const event of eventsOf(delayed[list])) out.push({ list, event });
  }
  const options = isObj(man.from) ? man.from.simultaneous_options : undefined;
  if (isObj(options)) for (const event of eventsOf(options.to_after_key_up)) out.push({ list: 'simultaneous_options.to_after_key_up', event });
  if (Array.isArray(man.to_if_other_key_pressed)) {
    for (const entry of man.to_if_other_key_pressed) if (isObj(entry)) for (const event of eventsOf(entry.to)) out.push({ list: 'to_if_other_key_pressed', event });
  }
  return out;
}

export const setVariable = (name: string, value: Json): JsonObject => ({ set_variable: { name, value } });
export const variableIf = (name: string, value: Json, negated = false): JsonObject =>
  ({ type: negated ? 'variable_unless' : 'variable_if', name, value });

export function keyEvent(field: KeyField, name: string, modifiers: string[] = []): JsonObject {
  const ev: JsonObject = { [field]: name };
  if (modifiers.length) ev.modifiers = modifiers;
  return ev;
}

export const isKeyField = (k: string): k is KeyField => (KEY_FIELDS as readonly string[]).includes(k);

/** "Also with other modifiers held": on for a modifier key remapped alone, off for shortcuts and
 * other keys, as the public gallery mostly writes them. */
export const defaultOptional = (key: string, mandatory: readonly string[]): string[] =>
  (!mandatory.length && MODIFIER_KEYS.has(key) ? ['any'] : []);
