// Which parts of a manipulator the forms can show. A part that fits is shown by a field editor that
// rewrites only what the user changes; a part that does not fit keeps its mapping in JSON.
import { isObj, isStr, type Json, type JsonObject } from './json';
import {
  CONDITIONS, DEVICE_FIELDS, EVENT_FLAGS, EVENT_KINDS, INPUT_SOURCE_FIELDS, KEY_FIELDS, MOUSE_KEY_FIELDS,
  NOTIFICATION_FIELDS, PARAMETERS, SET_VARIABLE_FIELDS, SIMULTANEOUS_OPTIONS, SOFTWARE_FUNCTIONS, STICKY_VALUES,
  type EventKind, type KeyField,
} from './vocabulary';

const only = (o: JsonObject, allowed: readonly string[]) => Object.keys(o).every((k) => allowed.includes(k));
const isNum = (v: unknown): v is number => typeof v === 'number' && Number.isFinite(v);
const isScalar = (v: unknown) => isNum(v) || isStr(v) || typeof v === 'boolean';
const strOrStrs = (v: unknown) => isStr(v) || (Array.isArray(v) && v.every(isStr));

/** A list of events as Karabiner-Elements takes them: one object, or an array of objects. */
export function eventsOf(v: Json | undefined): JsonObject[] {
  if (v === undefined) return [];
  if (isObj(v)) return [v];
  return Array.isArray(v) ? v.filter(isObj) : [];
}
function listFits(v: Json | undefined): boolean {
  if (v === undefined) return true;
  if (isObj(v)) return eventFits(v);
  return Array.isArray(v) && v.every((e) => isObj(e) && eventFits(e));
}

export function eventKind(e: JsonObject): EventKind | undefined {
  for (const k of EVENT_KINDS) if (k in e) return k;
  return undefined;
}
export function keyFieldOf(e: JsonObject): KeyField | undefined {
  for (const k of KEY_FIELDS) if (k in e) return k;
  return undefined;
}

const modifiersFit = (v: Json | undefined) => v === undefined || strOrStrs(v);

function kindValueFits(kind: EventKind, v: Json): boolean {
  switch (kind) {
    case 'key_code': case 'consumer_key_code': case 'pointing_button': case 'apple_vendor_keyboard_key_code':
    case 'apple_vendor_top_case_key_code': case 'generic_desktop':
    case 'shell_command':
      return isStr(v);
    case 'select_input_source':
      return eventsOf(v).length > 0 && (isObj(v) || (Array.isArray(v) && v.every(isObj)))
        && eventsOf(v).every((s) => only(s, INPUT_SOURCE_FIELDS) && Object.values(s).every(isStr));
    case 'set_variable':
      return isObj(v) && only(v, SET_VARIABLE_FIELDS) && isStr(v.name)
        && ['value', 'key_up_value'].every((k) => v[k] === undefined || isScalar(v[k]))
        && ['expression', 'key_up_expression'].every((k) => v[k] === undefined || isStr(v[k]))
        && (v.type === undefined || v.type === 'set' || v.type === 'unset');
    case 'set_notification_message':
      return isObj(v) && only(v, NOTIFICATION_FIELDS) && isStr(v.id) && isStr(v.text)
        && (v.duration_milliseconds === undefined || isNum(v.duration_milliseconds));
    case 'mouse_key':
      return isObj(v) && only(v, MOUSE_KEY_FIELDS) && Object.values(v).every(isNum);
    case 'sticky_modifier':
      return isObj(v) && Object.keys(v).length === 1 && (STICKY_VALUES as readonly Json[]).includes(Object.values(v)[0]);
    case 'software_function': {
      if (!isObj(v) || Object.keys(v).length !== 1) return false;
      const [name, body] = Object.entries(v)[0];
      const fields = SOFTWARE_FUNCTIONS[name];
      return !!fields && isObj(body) && only(body, fields)
        && Object.values(body).every((x) => isScalar(x) || (Array.isArray(x) && x.every(isStr)));
    }
    case 'send_user_command':
      return false;
  }
}

export function eventFits(e: JsonObject): boolean {
  const kind = eventKind(e);
  if (!kind) return false;
  for (const k of Object.keys(e)) {
    if (k === kind) continue;
    if (!(EVENT_FLAGS as readonly string[]).includes(k)) return false;
  }
  if (EVENT_KINDS.filter((k) => k in e).length !== 1) return false;
  if (!modifiersFit(e.modifiers)) return false;
  for (const f of ['lazy', 'repeat', 'halt'] as const) if (e[f] !== undefined && typeof e[f] !== 'boolean') return false;
  for (const f of ['hold_down_milliseconds', 'held_down_milliseconds']) if (e[f] !== undefined && !isNum(e[f])) return false;
  if (e.description !== undefined && !isStr(e.description)) return false;
  if (e.conditions !== undefined && !conditionsFit(e.conditions)) return false;
  return kindValueFits(kind, e[kind]);
}

export function conditionFits(c: Json): boolean {
  if (!isObj(c) || !isStr(c.type)) return false;
  const fields = CONDITIONS[c.type];
  if (!fields || !only(c, [...fields, 'type', 'description'])) return false;
  if (c.description !== undefined && !isStr(c.description)) return false;
  switch (c.type.replace(/_(if|unless)$/, '')) {
    case 'frontmost_application':
      return ['bundle_identifiers', 'file_paths'].every((k) => c[k] === undefined || (Array.isArray(c[k]) && (c[k] as Json[]).every(isStr)));
    case 'device': case 'device_exists':
      return Array.isArray(c.identifiers) && c.identifiers.every((d) => isObj(d) && only(d, DEVICE_FIELDS) && Object.values(d).every(isScalar));
    case 'keyboard_type':
      return Array.isArray(c.keyboard_types) && c.keyboard_types.every(isStr);
    case 'input_source':
      return Array.isArray(c.input_sources) && c.input_sources.every((s) => isObj(s) && only(s, INPUT_SOURCE_FIELDS) && Object.values(s).every(isStr));
    case 'variable':
      return isStr(c.name) && isScalar(c.value);
    case 'expression':
      return isStr(c.expression);
    case 'event_changed':
      return typeof c.value === 'boolean';
    default:
      return false;
  }
}
export const conditionsFit = (v: Json | undefined): boolean => v === undefined || (Array.isArray(v) && v.every(conditionFits));

function simultaneousOptionsFit(v: Json): boolean {
  if (!isObj(v)) return false;
  for (const [k, x] of Object.entries(v)) {
    const allowed = SIMULTANEOUS_OPTIONS[k];
    if (k === 'description') continue;
    if (!allowed) return false;
    if (allowed === 'events' ? !listFits(x) : !allowed.includes(x as string | boolean)) return false;
  }
  return true;
}

function fromModifiersFit(v: Json | undefined): boolean {
  if (v === undefined) return true;
  return isObj(v) && only(v, ['mandatory', 'optional']) && modifiersFit(v.mandatory) && modifiersFit(v.optional);
}

/** A trigger the trigger editor shows: one named key (or any key of a kind), or keys pressed together. */
export function fromFits(from: Json | undefined): boolean {
  if (!isObj(from)) return false;
  const keyFields = KEY_FIELDS.filter((k) => k in from);
  const simultaneous = from.simultaneous;
  for (const k of Object.keys(from)) {
    if (!(KEY_FIELDS as readonly string[]).includes(k) && !['any', 'modifiers', 'simultaneous', 'simultaneous_options'].includes(k)) return false;
  }
  if (!fromModifiersFit(from.modifiers)) return false;
  if (simultaneous !== undefined) {
    if (keyFields.length || 'any' in from || !Array.isArray(simultaneous)) return false;
    if (!simultaneous.every((s) => isObj(s) && Object.keys(s).length === 1 && KEY_FIELDS.some((k) => isStr(s[k])))) return false;
    return from.simultaneous_options === undefined || simultaneousOptionsFit(from.simultaneous_options);
  }
  if (from.simultaneous_options !== undefined) return false;
  if ('any' in from) return keyFields.length === 0 && isStr(from.any);
  return keyFields.length === 1 && isStr(from[keyFields[0]]);
}

export const parametersFit = (v: Json | undefined): boolean =>
  v === undefined || (isObj(v) && Object.entries(v).every(([k, x]) => k in PARAMETERS && isNum(x)));

/** Top-level fields of a basic manipulator with every part shown by a field editor. */
export function partsFit(man: JsonObject, fields: readonly string[]): boolean {
  if (man.type !== 'basic' || !only(man, fields)) return false;
  if (!fromFits(man.from) || !conditionsFit(man.conditions) || !parametersFit(man.parameters)) return false;
  if (man.description !== undefined && !isStr(man.description)) return false;
  for (const list of ['to', 'to_if_alone', 'to_if_held_down', 'to_after_key_up']) if (!listFits(man[list])) return false;
  const delayed = man.to_delayed_action;
  if (delayed !== undefined) {
    if (!isObj(delayed) || !only(delayed, ['to_if_invoked', 'to_if_canceled'])) return false;
    if (!listFits(delayed.to_if_invoked) || !listFits(delayed.to_if_canceled)) return false;
  }
  return true;
}
