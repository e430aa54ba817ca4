// What changed between two JSON values, member by member: the confirmation shows a changed rule or
// profile value this way. Lists are lined up on their unchanged elements first, so that one
// manipulator inserted in the middle reads as one added, not as every later one changed.
import { deepEqual, isObj, type Json } from './json';

export type Path = (string | number)[];
export interface Change { path: Path; before?: Json; after?: Json }

// Lining up longer lists costs more than it helps.
const ALIGN_LIMIT = 400;

/** Pairs of equal elements (by their JSON text), in order: a longest common subsequence. */
function common(a: readonly Json[], b: readonly Json[]): [number, number][] {
  const ta = a.map((x) => JSON.stringify(x));
  const tb = b.map((x) => JSON.stringify(x));
  const n = a.length;
  const m = b.length;
  const len = new Uint16Array((n + 1) * (m + 1));
  for (let i = n - 1; i >= 0; i--) {
    for (let j = m - 1; j >= 0; j--) {
      len[i * (m + 1) + j] = ta[i] === tb[j] ? len[(i + 1) * (m + 1) + j + 1] + 1 : Math.max(len[(i + 1) * (m + 1) + j], len[i * (m + 1) + j + 1]);
    }
  }
  const out: [number, number][] = [];
  for (let i = 0, j = 0; i < n && j < m;) {
    if (ta[i] === tb[j]) { out.push([i, j]); i++; j++; } else if (len[(i + 1) * (m + 1) + j] >= len[i * (m + 1) + j + 1]) i++; else j++;
  }
  return out;
}

/** The changes from `a` to `b`, at most `limit` of them; `more` counts the rest. */
export function jsonChanges(a: Json | undefined, b: Json | undefined, limit = 40): { changes: Change[]; more: number } {
  const changes: Change[] = [];
  let more = 0;
  const add = (c: Change) => { if (changes.length < limit) changes.push(c); else more++; };
  const walk = (x: Json | undefined, y: Json | undefined, path: Path): void => {
    if (x === undefined && y === undefined) return;
    if (x === undefined) { add({ path, after: y }); return; }
    if (y === undefined) { add({ path, before: x }); return; }
    if (Array.isArray(x) && Array.isArray(y)) {
      if (deepEqual(x, y)) return;
      const pairs = x.length <= ALIGN_LIMIT && y.length <= ALIGN_LIMIT ? common(x, y) : [];
      let i = 0;
      let j = 0;
      // Between two unchanged elements, the elements at the same offset are compared member by
      // member; what is left over was removed or added.
      const gap = (ei: number, ej: number) => {
        const paired = Math.min(ei - i, ej - j);
        for (let k = 0; k < paired; k++) walk(x[i + k], y[j + k], [...path, j + k]);
        for (let k = i + paired; k < ei; k++) add({ path: [...path, k], before: x[k] });
        for (let k = j + paired; k < ej; k++) add({ path: [...path, k], after: y[k] });
      };
      for (const [pi, pj] of pairs) {
        gap(pi, pj);
        i = pi + 1;
        j = pj + 1;
      }
      gap(x.length, y.length);
      return;
    }
    if (isObj(x) && isObj(y)) {
      for (const k of Object.keys(y)) walk(x[k], y[k], [...path, k]);
      for (const k of Object.keys(x)) if (!(k in y)) walk(x[k], undefined, [...path, k]);
      return;
    }
    if (!deepEqual(x, y)) add({ path, before: x, after: y });
  };
  walk(a, b, []);
  return { changes, more };
}

/** A path as the file would name it: manipulators[2].to[0].key_code. */
export function pathText(path: Path): string {
  let out = '';
  for (const p of path) {
    if (typeof p === 'number') out += `[${p}]`;
    else out += /^[A-Za-z_][\w]*$/.test(p) ? (out ? `.${p}` : p) : `[${JSON.stringify(p)}]`;
  }
  return out;
}

/** A value in a line of the confirmation: JSON, cut after `max` characters. */
export function valueText(v: Json, max = 120): string {
  const s = JSON.stringify(v) ?? '';
  return s.length > max ? `${s.slice(0, max - 1)}…` : s;
}
