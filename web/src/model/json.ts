// JSON values as Karabiner-Elements reads them, and the few operations the model needs on them.
// Documents are checked for depth once, at the door (see limits.ts); the recursive helpers here
// are only ever given values that passed that check or that the page built itself.

export type Json = null | boolean | number | string | Json[] | { [key: string]: Json };
export type JsonObject = { [key: string]: Json };

export const isObj = (v: unknown): v is JsonObject => !!v && typeof v === 'object' && !Array.isArray(v);
export const isStr = (v: unknown): v is string => typeof v === 'string';
export const strArr = (v: unknown): v is string[] => Array.isArray(v) && v.every(isStr);

export function deepEqual(a: unknown, b: unknown): boolean {
  if (a === b) return true;
  if (Array.isArray(a) || Array.isArray(b)) {
    if (!Array.isArray(a) || !Array.isArray(b) || a.length !== b.length) return false;
    for (let i = 0; i < a.length; i++) if (!deepEqual(a[i], b[i])) return false;
    return true;
  }
  if (isObj(a) && isObj(b)) {
    const ka = Object.keys(a).filter((k) => a[k] !== undefined);
    const kb = Object.keys(b).filter((k) => b[k] !== undefined);
    if (ka.length !== kb.length) return false;
    for (const k of ka) if (!(k in b) || !deepEqual(a[k], b[k])) return false;
    return true;
  }
  return false;
}

export const clone = <T extends Json>(v: T): T => structuredClone(v);

/** Nesting depth of a value without recursion: 0 for a scalar, 1 for [] or {}. Stops counting at `stop`. */
export function jsonDepth(root: unknown, stop = Infinity): number {
  let max = 0;
  // Two parallel stacks: no pair allocated per value.
  const values: unknown[] = [root];
  const depths: number[] = [1];
  while (values.length) {
    const v = values.pop();
    const d = depths.pop() as number;
    if (!v || typeof v !== 'object') continue;
    if (d > max) {
      max = d;
      if (max > stop) return max;
    }
    if (Array.isArray(v)) {
      for (let i = 0; i < v.length; i++) {
        const c = v[i];
        if (c && typeof c === 'object') { values.push(c); depths.push(d + 1); }
      }
    } else {
      for (const k in v) {
        const c = (v as Record<string, unknown>)[k];
        if (c && typeof c === 'object') { values.push(c); depths.push(d + 1); }
      }
    }
  }
  return max;
}

/** An object without the keys whose value is undefined (the forms unset a field that way). */
export function compact(o: JsonObject | Record<string, Json | undefined>): JsonObject {
  const out: JsonObject = {};
  for (const [k, v] of Object.entries(o)) if (v !== undefined) out[k] = v;
  return out;
}

/** UTF-8 length of a string, without encoding it. */
export function utf8Length(s: string): number {
  let n = 0;
  for (let i = 0; i < s.length; i++) {
    const c = s.charCodeAt(i);
    if (c < 0x80) n += 1;
    else if (c < 0x800) n += 2;
    else if (c >= 0xd800 && c <= 0xdbff && i + 1 < s.length) { n += 4; i++; }
    else n += 3;
  }
  return n;
}
