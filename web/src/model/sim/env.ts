// What conditions look at: variables, the application in front, the input source, the devices and
// the keyboard type. Each event queue of the engine keeps its own copy, updated by the events that
// pass through it; conditions read the copy of the queue a manipulator writes to.
import { isObj, isStr, type Json, type JsonObject } from '../json';
import { compileExpression, expressionText, type Compiled } from './expression';

/** A variable's value: the engine keeps integers, booleans and strings apart (1 is not true). */
export type VarValue = number | boolean | string;
export interface App { bundle_identifier?: string; file_path?: string }
export interface InputSource { language?: string; input_source_id?: string; input_mode_id?: string }
export interface DeviceProps {
  vendor_id?: number; product_id?: number; location_id?: number; device_address?: string;
  is_keyboard?: boolean; is_pointing_device?: boolean; is_game_pad?: boolean; is_consumer?: boolean;
  is_touch_bar?: boolean; is_built_in_keyboard?: boolean;
}

/** Reads a value the way the engine does: numbers become integers; anything else is refused. */
export function varValue(v: Json | undefined): VarValue | undefined {
  if (typeof v === 'number') return Number.isFinite(v) ? Math.trunc(v) : undefined;
  if (typeof v === 'boolean' || typeof v === 'string') return v;
  return undefined;
}

export class Env {
  variables = new Map<string, VarValue>();
  unset = new Set<string>();
  app: App = {};
  inputSource: InputSource = {};
  devices = new Map<number, DeviceProps>();
  keyboardType = '';
  /** The wall clock the engine gives expressions as system.now.milliseconds. */
  wallClock = (): number => Date.now();

  clone(): Env {
    const e = new Env();
    e.variables = new Map(this.variables);
    e.unset = new Set(this.unset);
    e.app = { ...this.app };
    e.inputSource = { ...this.inputSource };
    e.devices = new Map(this.devices);
    e.keyboardType = this.keyboardType;
    e.wallClock = this.wallClock;
    return e;
  }
  get(name: string): VarValue { return this.variables.get(name) ?? 0; }
  set(name: string, v: VarValue): void { this.variables.set(name, v); this.unset.delete(name); }
  remove(name: string): void { this.variables.delete(name); this.unset.add(name); }

  /** The variables as an expression sees them: booleans are 1 or 0, names without regard to case. */
  evaluate(expr: Compiled): number {
    const lower = new Map<string, VarValue>();
    for (const n of this.unset) lower.set(n.toLowerCase(), n.endsWith('_string') ? '' : 0);
    for (const [n, v] of this.variables) lower.set(n.toLowerCase(), v);
    lower.set('system.now.milliseconds', this.wallClock());
    return expr((name) => {
      const v = lower.get(name);
      if (v === undefined) return undefined;
      const isString = name.endsWith('_string');
      if (isString) return typeof v === 'string' ? v : undefined;
      return typeof v === 'boolean' ? (v ? 1 : 0) : typeof v === 'number' ? v : undefined;
    });
  }
}

export type EntryState = 'original' | 'manipulated' | 'virtual';
/** The device an event comes from, and whether a manipulator made it (event_changed conditions). */
export interface ConditionContext { device: number; state: EntryState }

export type Condition = (ctx: ConditionContext, env: Env) => boolean;

function regexes(v: Json | undefined): RegExp[] | undefined {
  if (v === undefined) return [];
  if (!Array.isArray(v)) return undefined;
  const out: RegExp[] = [];
  for (const p of v) {
    if (!isStr(p)) return undefined;
    try { out.push(new RegExp(p)); } catch { return undefined; }
  }
  return out;
}

const DEVICE_FIELDS = ['vendor_id', 'product_id', 'location_id', 'device_address', 'is_keyboard', 'is_pointing_device', 'is_game_pad', 'is_consumer', 'is_touch_bar', 'is_built_in_keyboard'] as const;

function deviceMatches(d: JsonObject, p: DeviceProps): boolean {
  for (const f of DEVICE_FIELDS) {
    if (d[f] === undefined) continue;
    const have = p[f] ?? (typeof d[f] === 'boolean' ? false : f === 'device_address' ? '' : 0);
    if (have !== d[f]) return false;
  }
  return true;
}

/**
 * A condition as the engine builds it; undefined when the engine would refuse it (it then drops the
 * whole manipulator).
 */
export function makeCondition(c: Json): Condition | undefined {
  if (!isObj(c) || !isStr(c.type)) return undefined;
  const negate = c.type.endsWith('_unless');
  const kind = c.type.replace(/_(if|unless)$/, '');
  const result = (found: boolean) => (negate ? !found : found);
  switch (kind) {
    case 'variable': {
      const value = varValue(c.value);
      if (!isStr(c.name) || value === undefined) return undefined;
      const name = c.name;
      return (_ctx, env) => result(env.get(name) === value);
    }
    case 'frontmost_application': {
      const ids = regexes(c.bundle_identifiers);
      const paths = regexes(c.file_paths);
      if (!ids || !paths) return undefined;
      return (_ctx, env) => {
        const id = env.app.bundle_identifier;
        const path = env.app.file_path;
        return result((id !== undefined && ids.some((r) => r.test(id))) || (path !== undefined && paths.some((r) => r.test(path))));
      };
    }
    case 'keyboard_type': {
      if (!Array.isArray(c.keyboard_types) || !c.keyboard_types.every(isStr)) return undefined;
      const types = c.keyboard_types as string[];
      return (_ctx, env) => result(types.includes(env.keyboardType));
    }
    case 'input_source': {
      if (!Array.isArray(c.input_sources)) return undefined;
      const specs: [keyof InputSource, RegExp][][] = [];
      for (const s of c.input_sources) {
        if (!isObj(s)) return undefined;
        const spec: [keyof InputSource, RegExp][] = [];
        for (const k of ['language', 'input_source_id', 'input_mode_id'] as const) {
          if (s[k] === undefined) continue;
          const r = regexes([s[k] as Json]);
          if (!r) return undefined;
          spec.push([k, r[0]]);
        }
        specs.push(spec);
      }
      return (_ctx, env) => result(specs.some((spec) => spec.every(([k, r]) => {
        const have = env.inputSource[k];
        return have !== undefined && r.test(have);
      })));
    }
    case 'device': case 'device_exists': {
      if (!Array.isArray(c.identifiers) || !c.identifiers.every(isObj)) return undefined;
      // An entry that names nothing is left out, as the engine does.
      const defs = (c.identifiers as JsonObject[]).filter((d) => DEVICE_FIELDS.some((f) => d[f] !== undefined));
      if (kind === 'device') return (ctx, env) => {
        const p = env.devices.get(ctx.device);
        return result(!!p && defs.some((d) => deviceMatches(d, p)));
      };
      return (_ctx, env) => result([...env.devices.values()].some((p) => defs.some((d) => deviceMatches(d, p))));
    }
    case 'expression': {
      const text = expressionText(c.expression);
      const expr = text === undefined ? undefined : compileExpression(text);
      if (!expr) return undefined;
      return (_ctx, env) => {
        const v = env.evaluate(expr);
        if (Number.isNaN(v)) return false;
        return result(v !== 0);
      };
    }
    case 'event_changed': {
      if (typeof c.value !== 'boolean') return undefined;
      const want = c.value;
      // `_if` asks whether a manipulator made the event, `_unless` whether it is the device's own.
      if (!negate) return (ctx) => (ctx.state === 'manipulated') === want;
      return (ctx) => (ctx.state === 'original') === want;
    }
    default:
      return undefined;
  }
}

/** Every condition met (all are evaluated, as the engine does). */
export const allMet = (conds: readonly Condition[], ctx: ConditionContext, env: Env): boolean => {
  let ok = true;
  for (const c of conds) if (!c(ctx, env)) ok = false;
  return ok;
};
