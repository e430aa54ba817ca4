// Checks run as the user types. Karabiner-Elements' linter decides what it accepts, so almost every
// finding here is a warning with its reason. What blocks Apply: a manipulator no engine can read (not
// an object, or a basic one whose `from` names no event), and an application condition that names no
// application (accepted, but it never does what was meant).
import { isObj, isStr, type Json, type JsonObject } from './json';
import { eventKind, eventsOf } from './shapes';
import type { Mapping, RuleSet } from './types';
import {
  ANY_VALUES, CONDITIONS, DEVICE_FIELDS, EVENT_FLAGS, EVENT_KINDS, FROM_FIELDS, INPUT_SOURCE_FIELDS, isKnownName,
  isModifierName, KEY_FIELDS, KEYBOARD_TYPES, MANIPULATOR_FIELDS, MANIPULATOR_TYPES, MOUSE_KEY_FIELDS,
  NOTIFICATION_FIELDS, PARAMETERS, SET_VARIABLE_FIELDS, SIMULTANEOUS_OPTIONS, SOFTWARE_FUNCTIONS, STICKY_VALUES,
} from './vocabulary';

export type Severity = 'block' | 'warning';
export interface Problem {
  /** The mapping it belongs to. */
  id: string;
  /** Where in the mapping's manipulators: "0.from.key_code", "1.to[2]". */
  path: string;
  code: string;
  params?: Record<string, string | number>;
  severity: Severity;
}

type Report = (path: string, code: string, params?: Problem['params'], severity?: Severity) => void;

const show = (v: Json): string => {
  const s = typeof v === 'string' ? v : JSON.stringify(v);
  return s.length > 60 ? `${s.slice(0, 59)}…` : s;
};

const EVENT_FIELDS: ReadonlySet<string> = new Set([...EVENT_KINDS, ...EVENT_FLAGS]);
const CONDITION_FIELDS: Record<string, ReadonlySet<string>> = Object.fromEntries(
  Object.entries(CONDITIONS).map(([type, fields]) => [type, new Set([...fields, 'type', 'description'])]),
);

function unknownFields(o: JsonObject, allowed: readonly string[] | ReadonlySet<string>, path: string, report: Report) {
  const has = Array.isArray(allowed) ? (k: string) => allowed.includes(k) : (k: string) => (allowed as ReadonlySet<string>).has(k);
  for (const k in o) if (!has(k)) report(`${path}.${k}`, 'v.unknownField', { field: k });
}

function checkModifiers(v: Json | undefined, path: string, report: Report) {
  if (v === undefined) return;
  const list = isStr(v) ? [v] : Array.isArray(v) ? v : undefined;
  if (!list) { report(path, 'v.modifiersShape'); return; }
  for (const m of list) if (m !== 'any' && !isModifierName(m)) report(path, 'v.modUnknown', { mod: show(m) });
}

function checkKeyNames(o: JsonObject, path: string, report: Report) {
  for (const f of KEY_FIELDS) {
    if (!(f in o)) continue;
    const name = o[f];
    if (name === '') report(`${path}.${f}`, 'v.keyRequired');
    else if (!isKnownName(f, name)) report(`${path}.${f}`, 'v.keyUnknown', { key: show(name), field: f });
  }
}

function checkTiming(v: Json, path: string, report: Report) {
  if (typeof v !== 'number' || !Number.isFinite(v)) report(path, 'v.number');
  else if (v < 0) report(path, 'v.negative');
}

function checkEvent(e: Json, path: string, report: Report) {
  if (!isObj(e)) { report(path, 'v.eventObject'); return; }
  let kinds = 0;
  for (const k of EVENT_KINDS) if (k in e) kinds++;
  if (kinds !== 1) report(path, 'v.oneEvent', { n: kinds });
  unknownFields(e, EVENT_FIELDS, path, report);
  checkKeyNames(e, path, report);
  checkModifiers(e.modifiers, `${path}.modifiers`, report);
  for (const f of ['lazy', 'repeat', 'halt']) if (e[f] !== undefined && typeof e[f] !== 'boolean') report(`${path}.${f}`, 'v.boolean', { field: f });
  for (const f of ['hold_down_milliseconds', 'held_down_milliseconds']) if (e[f] !== undefined) checkTiming(e[f], `${path}.${f}`, report);
  if (e.conditions !== undefined) checkConditions(e.conditions, `${path}.conditions`, report);
  const kind = eventKind(e);
  const v = e[kind ?? ''];
  switch (kind) {
    case 'shell_command':
      if (!isStr(v) || !v.trim()) report(`${path}.shell_command`, 'v.shellRequired');
      else if (v.includes('\u0000')) report(`${path}.shell_command`, 'v.nul');
      break;
    case 'set_variable':
      if (!isObj(v) || !isStr(v.name) || !v.name) report(`${path}.set_variable`, 'v.variableName');
      else {
        unknownFields(v, SET_VARIABLE_FIELDS, `${path}.set_variable`, report);
        if (v.type !== 'unset' && ['value', 'expression', 'key_up_value', 'key_up_expression'].every((k) => v[k] === undefined)) report(`${path}.set_variable`, 'v.variableValue');
      }
      break;
    case 'set_notification_message':
      if (!isObj(v) || !isStr(v.id) || !isStr(v.text)) report(`${path}.set_notification_message`, 'v.notification');
      else unknownFields(v, NOTIFICATION_FIELDS, `${path}.set_notification_message`, report);
      break;
    case 'mouse_key':
      if (!isObj(v)) report(`${path}.mouse_key`, 'v.object', { field: 'mouse_key' });
      else unknownFields(v, MOUSE_KEY_FIELDS, `${path}.mouse_key`, report);
      break;
    case 'select_input_source':
      for (const s of eventsOf(v)) unknownFields(s, INPUT_SOURCE_FIELDS, `${path}.select_input_source`, report);
      break;
    case 'sticky_modifier':
      if (!isObj(v)) report(`${path}.sticky_modifier`, 'v.object', { field: 'sticky_modifier' });
      else for (const [m, x] of Object.entries(v)) {
        if (!isModifierName(m)) report(`${path}.sticky_modifier`, 'v.modUnknown', { mod: m });
        if (!(STICKY_VALUES as readonly Json[]).includes(x)) report(`${path}.sticky_modifier`, 'v.valueUnknown', { value: show(x), field: 'sticky_modifier' });
      }
      break;
    case 'software_function':
      if (!isObj(v)) report(`${path}.software_function`, 'v.object', { field: 'software_function' });
      else for (const [name, body] of Object.entries(v)) {
        const fields = SOFTWARE_FUNCTIONS[name];
        if (!fields) report(`${path}.software_function.${name}`, 'v.unknownField', { field: name });
        else if (isObj(body)) unknownFields(body, fields, `${path}.software_function.${name}`, report);
      }
      break;
    default:
      break;
  }
}

function checkList(v: Json | undefined, path: string, report: Report) {
  if (v === undefined) return;
  if (isObj(v)) { checkEvent(v, path, report); return; }
  if (!Array.isArray(v)) { report(path, 'v.listShape'); return; }
  v.forEach((e, i) => checkEvent(e, `${path}[${i}]`, report));
}

function checkConditions(v: Json, path: string, report: Report) {
  if (!Array.isArray(v)) { report(path, 'v.conditionsShape'); return; }
  v.forEach((c, i) => {
    const p = `${path}[${i}]`;
    if (!isObj(c) || !isStr(c.type)) { report(p, 'v.conditionType'); return; }
    const fields = CONDITION_FIELDS[c.type];
    if (!fields) { report(p, 'v.conditionUnknown', { type: c.type }); return; }
    unknownFields(c, fields, p, report);
    if (c.type.startsWith('variable_') && (!isStr(c.name) || c.value === undefined)) report(p, 'v.variableTest');
    if (c.type.startsWith('keyboard_type_') && Array.isArray(c.keyboard_types)) {
      for (const t of c.keyboard_types) if (!(KEYBOARD_TYPES as readonly Json[]).includes(t)) report(p, 'v.valueUnknown', { value: show(t), field: 'keyboard_types' });
    }
    if (c.type.startsWith('device') && Array.isArray(c.identifiers)) {
      for (const d of c.identifiers) if (isObj(d)) unknownFields(d, DEVICE_FIELDS, `${p}.identifiers`, report);
    }
    if (c.type.startsWith('frontmost_application_')) {
      // Karabiner-Elements takes an application condition that names no application, and then
      // "only in" never holds and "not in" always does: never what was meant.
      // An empty pattern (what "+ pattern" starts with) names none either.
      if (!['bundle_identifiers', 'file_paths'].some((f) => c[f] !== undefined && !(Array.isArray(c[f]) && (c[f] as Json[]).every((x) => x === '')))) {
        report(p, 'v.appEmpty', { type: c.type }, 'block');
      }
      for (const f of ['bundle_identifiers', 'file_paths']) {
        if (!Array.isArray(c[f])) continue;
        for (const re of c[f] as Json[]) {
          try { new RegExp(String(re)); } catch { report(`${p}.${f}`, 'v.regex', { re: show(re) }); }
        }
      }
    }
  });
}

function checkFrom(from: JsonObject, path: string, report: Report) {
  unknownFields(from, FROM_FIELDS, path, report);
  checkKeyNames(from, path, report);
  if (from.any !== undefined && !(ANY_VALUES as readonly Json[]).includes(from.any)) report(`${path}.any`, 'v.valueUnknown', { value: show(from.any), field: 'any' });
  const mods = from.modifiers;
  if (mods !== undefined) {
    if (!isObj(mods)) report(`${path}.modifiers`, 'v.modifiersShape');
    else {
      unknownFields(mods, ['mandatory', 'optional', 'description'], `${path}.modifiers`, report);
      checkModifiers(mods.mandatory, `${path}.modifiers.mandatory`, report);
      checkModifiers(mods.optional, `${path}.modifiers.optional`, report);
    }
  }
  if (Array.isArray(from.simultaneous)) {
    from.simultaneous.forEach((s, i) => {
      if (isObj(s)) checkKeyNames(s, `${path}.simultaneous[${i}]`, report);
      else report(`${path}.simultaneous[${i}]`, 'v.eventObject');
    });
    const names = from.simultaneous.map((s) => JSON.stringify(s));
    if (new Set(names).size !== names.length) report(`${path}.simultaneous`, 'v.chordDistinct');
  }
  const opts = from.simultaneous_options;
  if (isObj(opts)) {
    for (const [k, x] of Object.entries(opts)) {
      const allowed = SIMULTANEOUS_OPTIONS[k];
      if (k === 'description') continue;
      if (!allowed) report(`${path}.simultaneous_options.${k}`, 'v.unknownField', { field: k });
      else if (allowed === 'events') checkList(x, `${path}.simultaneous_options.${k}`, report);
      else if (!allowed.includes(x as string | boolean)) report(`${path}.simultaneous_options.${k}`, 'v.valueUnknown', { value: show(x), field: k });
    }
  }
}

/** Findings for one manipulator; `path` prefixes every location. */
export function checkManipulator(man: Json, path: string, report: Report): void {
  if (!isObj(man)) { report(path, 'v.notObject', undefined, 'block'); return; }
  if (man.type === undefined) report(`${path}.type`, 'v.typeMissing');
  else if (!(MANIPULATOR_TYPES as readonly Json[]).includes(man.type)) report(`${path}.type`, 'v.typeUnknown', { type: show(man.type) });
  if (man.type !== 'basic' && man.type !== undefined) return;
  const from = man.from;
  if (!isObj(from) || (!KEY_FIELDS.some((f) => f in from) && from.any === undefined && !Array.isArray(from.simultaneous))) {
    report(`${path}.from`, 'v.fromMissing', undefined, 'block');
  } else {
    checkFrom(from, `${path}.from`, report);
  }
  unknownFields(man, MANIPULATOR_FIELDS, path, report);
  for (const list of ['to', 'to_if_alone', 'to_if_held_down', 'to_after_key_up']) checkList(man[list], `${path}.${list}`, report);
  const delayed = man.to_delayed_action;
  if (delayed !== undefined) {
    if (!isObj(delayed)) report(`${path}.to_delayed_action`, 'v.object', { field: 'to_delayed_action' });
    else {
      unknownFields(delayed, ['to_if_invoked', 'to_if_canceled'], `${path}.to_delayed_action`, report);
      checkList(delayed.to_if_invoked, `${path}.to_delayed_action.to_if_invoked`, report);
      checkList(delayed.to_if_canceled, `${path}.to_delayed_action.to_if_canceled`, report);
    }
  }
  if (man.conditions !== undefined) checkConditions(man.conditions, `${path}.conditions`, report);
  const params = man.parameters;
  if (params !== undefined) {
    if (!isObj(params)) report(`${path}.parameters`, 'v.object', { field: 'parameters' });
    else for (const [k, v] of Object.entries(params)) {
      const known = PARAMETERS[k];
      if (!known) { report(`${path}.parameters.${k}`, 'v.parameterUnknown', { field: k }); continue; }
      checkTiming(v, `${path}.parameters.${k}`, report);
      if (typeof v === 'number' && known.max !== undefined && v > known.max) report(`${path}.parameters.${k}`, 'v.clamped', { max: known.max });
    }
  }
}

export function checkMapping(m: Mapping): Problem[] {
  const out: Problem[] = [];
  const report = (id: string): Report => (path, code, params, severity = 'warning') => { out.push({ id, path, code, params, severity }); };
  m.manipulators.forEach((man, i) => checkManipulator(man, String(i), report(m.id)));
  return out;
}

/** Findings for every mapping that is on, in rules that are on or off (both are written). */
export function checkRuleSet(rs: RuleSet): Problem[] {
  const out: Problem[] = [];
  for (const r of rs.rules) for (const m of r.mappings) if (m.enabled) out.push(...checkMapping(m));
  return out;
}
