// Manipulators that can never fire: in every case where one would take a key press (each modifier
// state it accepts, each situation its conditions allow), something before it takes the press
// first: one earlier manipulator, several that between them cover every case, a simple
// modification that changes the key before complex modifications see it, or, for keys pressed
// together, earlier manipulators that take the key that must go down first.
import { isObj, isStr, type Json, type JsonObject } from '../json';
import { testModifiers } from './basic';
import { readFrom, type FromDef, type KeyDef } from './defs';
import { varValue } from './env';
import { expressionText } from './expression';
import { FLAGS, fieldOf, keyId, type Flag, type KeyId } from './keys';
import type { ProfileSettings, SimRule } from './session';

/** Who wins: a manipulator of a rule, or a simple modification of the profile. */
export type Winner = { rule: number; manipulator: number } | { simple: KeyId; to: string };
export type ShadowWhy =
  /** One earlier manipulator takes the key in every case this one would. */
  | 'always'
  /** Several earlier manipulators between them take it in every case. */
  | 'together'
  /** Keys pressed together: earlier manipulators take the key that goes down first. */
  | 'chord'
  /** A simple modification changes the key before complex modifications see it. */
  | 'simple';

export interface Shadow {
  rule: number; manipulator: number;
  /** The first winner, for a short message. */
  byRule: number; byManipulator: number;
  by: Winner[];
  why: ShadowWhy;
}

// ---- modifier states -------------------------------------------------------------------------

const STATES = 1 << FLAGS.length;
const acceptCache = new Map<string, Uint32Array>();
/** Which of the 1,024 modifier states a `from` accepts, one bit per state. */
function acceptance(from: FromDef): Uint32Array {
  const key = `${from.mandatory.join(',')}|${from.optional.join(',')}`;
  let hit = acceptCache.get(key);
  if (hit) return hit;
  hit = new Uint32Array(STATES / 32);
  for (let s = 0; s < STATES; s++) {
    const pressed = (f: Flag) => (s & (1 << FLAGS.indexOf(f))) !== 0;
    if (testModifiers(from, pressed)) hit[s >>> 5] |= 1 << (s & 31);
  }
  acceptCache.set(key, hit);
  return hit;
}
const has = (set: Uint32Array, s: number) => (set[s >>> 5] & (1 << (s & 31))) !== 0;
const intersects = (a: Uint32Array, b: Uint32Array) => a.some((w, i) => (w & b[i]) !== 0);
const covers = (a: Uint32Array, b: Uint32Array) => b.every((w, i) => (w & ~a[i]) === 0);

// ---- conditions as clauses ---------------------------------------------------------------------

/** A fact about the situation; variables (and the keyboard type) hold one value at a time. */
interface Atom { id: string; variable?: string; value?: string }
interface Literal { atom: Atom; positive: boolean }
type Clause = Literal[];

const atoms = new Map<string, Atom>();
function atom(id: string, variable?: string, value?: string): Atom {
  let a = atoms.get(id);
  if (!a) atoms.set(id, (a = { id, ...(variable !== undefined ? { variable, value } : {}) }));
  return a;
}
const KEYBOARD = '\u0000keyboard_type';

/** A condition as clauses that must all hold; undefined when it cannot be read (never met). */
function clausesOf(c: Json): Clause[] | undefined {
  if (!isObj(c) || !isStr(c.type)) return undefined;
  const negate = c.type.endsWith('_unless');
  const kind = c.type.replace(/_(if|unless)$/, '');
  // `_if` holds when one of the facts does; `_unless` when none does.
  const oneOf = (facts: Atom[]): Clause[] => (negate ? facts.map((a) => [{ atom: a, positive: false }]) : [facts.map((a) => ({ atom: a, positive: true }))]);
  switch (kind) {
    case 'variable': {
      const v = varValue(c.value);
      if (!isStr(c.name) || v === undefined) return undefined;
      return oneOf([atom(`v:${c.name}=${JSON.stringify(v)}`, c.name, JSON.stringify(v))]);
    }
    case 'keyboard_type':
      if (!Array.isArray(c.keyboard_types)) return undefined;
      return oneOf(c.keyboard_types.filter(isStr).map((t) => atom(`k:${t}`, KEYBOARD, JSON.stringify(t))));
    case 'frontmost_application': {
      const facts = [
        ...(Array.isArray(c.bundle_identifiers) ? c.bundle_identifiers.filter(isStr).map((r) => atom(`ab:${r}`)) : []),
        ...(Array.isArray(c.file_paths) ? c.file_paths.filter(isStr).map((r) => atom(`af:${r}`)) : []),
      ];
      return oneOf(facts);
    }
    case 'device': case 'device_exists':
      if (!Array.isArray(c.identifiers)) return undefined;
      return oneOf(c.identifiers.filter(isObj).map((d) => atom(`${kind}:${canonical(d)}`)));
    case 'input_source':
      if (!Array.isArray(c.input_sources)) return undefined;
      return oneOf(c.input_sources.filter(isObj).map((s) => atom(`i:${canonical(s)}`)));
    case 'expression': {
      const text = expressionText(c.expression);
      return text === undefined ? undefined : oneOf([atom(`x:${text}`)]);
    }
    case 'event_changed':
      return oneOf([atom(`e:${String(c.value)}`)]);
    default:
      return undefined;
  }
}
const canonical = (o: JsonObject): string => JSON.stringify(Object.fromEntries(Object.keys(o).filter((k) => k !== 'description').sort().map((k) => [k, o[k]])));

const clauseCache = new WeakMap<JsonObject, Clause[] | null>();
function conditionsOf(man: JsonObject): Clause[] | undefined {
  let hit = clauseCache.get(man);
  if (hit === undefined) {
    hit = [];
    for (const c of Array.isArray(man.conditions) ? man.conditions : []) {
      const cl = clausesOf(c);
      if (!cl) { hit = null; break; }
      hit.push(...cl);
    }
    clauseCache.set(man, hit);
  }
  return hit ?? undefined;
}

/** What is known in one branch of the search: facts true or false, newest first. */
class Facts {
  constructor(readonly atom?: Atom, readonly on?: boolean, readonly parent?: Facts) {}
  value(a: Atom): boolean | undefined {
    for (let f: Facts | undefined = this; f?.atom; f = f.parent) {
      if (f.atom === a) return f.on;
      // A variable holding another value does not hold this one.
      if (f.on && a.variable !== undefined && f.atom.variable === a.variable) return false;
    }
    return undefined;
  }
  with(a: Atom, on: boolean): Facts | undefined {
    const now = this.value(a);
    if (now !== undefined) return now === on ? this : undefined;
    return new Facts(a, on, this);
  }
}
const literal = (f: Facts, l: Literal) => { const v = f.value(l.atom); return v === undefined ? undefined : v === l.positive; };
function clause(f: Facts, c: Clause): boolean | undefined {
  let open = false;
  for (const l of c) {
    const v = literal(f, l);
    if (v === true) return true;
    if (v === undefined) open = true;
  }
  return open ? undefined : false;
}
function all(f: Facts, cs: Clause[]): boolean | undefined {
  let open = false;
  for (const c of cs) {
    const v = clause(f, c);
    if (v === false) return false;
    if (v === undefined) open = true;
  }
  return open ? undefined : true;
}

/** What `mine` says outright (its clauses of one fact); undefined when that contradicts itself. */
function unitFacts(mine: Clause[]): Facts | undefined {
  let f: Facts | undefined = new Facts();
  for (const c of mine) if (c.length === 1) f = f?.with(c[0].atom, c[0].positive);
  return f;
}

/**
 * A quick try at a situation where `mine` holds and none of `theirs` does: each of theirs is made
 * false through one of its clauses, keeping `mine` possible. Found, there is no cover.
 */
function counterexample(mine: Clause[], theirs: Clause[][]): boolean {
  let f = unitFacts(mine);
  if (!f) return false;
  for (const cs of theirs) {
    if (all(f, cs) === false) continue;
    let done = false;
    for (const c of cs) {
      let g: Facts | undefined = f;
      for (const l of c) g = g?.with(l.atom, !l.positive);
      if (g && all(g, mine) !== false) { f = g; done = true; break; }
    }
    if (!done) return false;
  }
  return true;
}

/**
 * Whether, wherever `mine` holds, one of `theirs` holds too; which of them were needed. A search
 * over the facts they mention, with a budget: when it runs out the answer is no.
 */
function coveredBy(mine: Clause[], theirs: Clause[][]): Set<number> | undefined {
  if (counterexample(mine, theirs)) return undefined;
  const used = new Set<number>();
  let budget = 4000;
  const go = (f: Facts): boolean => {
    if (--budget < 0) return false;
    if (all(f, mine) === false) return true;
    let open: Clause[] | undefined;
    for (let i = 0; i < theirs.length; i++) {
      const v = all(f, theirs[i]);
      if (v === true) { used.add(i); return true; }
      if (v === undefined && !open) open = theirs[i];
    }
    if (!open) return false;
    const next = open.map((c) => c.find((l) => literal(f, l) === undefined)).find((l) => l)?.atom;
    if (!next) return false;
    for (const on of [true, false]) {
      const g = f.with(next, on);
      if (g && !go(g)) return false;
    }
    return true;
  };
  return go(new Facts()) ? used : undefined;
}

// ---- the search ---------------------------------------------------------------------------------

const fromCache = new WeakMap<JsonObject, FromDef | null>();
/** A manipulator's `from` as the engine reads it; undefined when it refuses it. */
function fromOf(man: JsonObject): FromDef | undefined {
  const from = man.from;
  if (!isObj(from)) return undefined;
  let hit = fromCache.get(from);
  if (hit === undefined) {
    try { hit = readFrom(from); } catch { hit = null; }
    fromCache.set(from, hit);
  }
  return hit ?? undefined;
}

interface Entry { rule: number; manipulator: number; from: FromDef; accept: Uint32Array; conditions: Clause[] }

/** The order keys pressed together must go down in, first to last ("" for any order). */
const downOrder = (f: FromDef): string => {
  if (f.keyDownOrder === 'insensitive') return '';
  const keys = f.keys.map((d) => keyOf(d));
  return (f.keyDownOrder === 'strict' ? keys : keys.reverse()).join('+');
};
const keyOf = (d: KeyDef): string => ('key' in d ? d.key : `any:${d.any}`);
const anyPage = (k: KeyId): string => `any:${fieldOf(k)}`;

/** Two lists of earlier manipulators in the order they come. */
function* inOrder(a: Entry[] = [], b: Entry[] = []): Generator<Entry> {
  let i = 0;
  let j = 0;
  while (i < a.length || j < b.length) {
    const x = a[i];
    const y = b[j];
    if (y === undefined || (x !== undefined && (x.rule < y.rule || (x.rule === y.rule && x.manipulator < y.manipulator)))) { yield x; i++; } else { yield y; j++; }
  }
}

/** Earlier manipulators (and simple modifications) that take `key` in every case `me` accepts. */
function takers(key: KeyId, me: Entry, singles: Map<string, Entry[]>, simple: Map<KeyId, string>): { by: Winner[]; why: ShadowWhy } | undefined {
  const to = simple.get(key);
  if (to !== undefined) return { by: [{ simple: key, to }], why: 'simple' };
  const known = unitFacts(me.conditions);
  if (!known) return undefined;
  const candidates: Entry[] = [];
  const anyList = singles.get(anyPage(key));
  for (const c of anyList?.length ? inOrder(singles.get(key), anyList) : singles.get(key) ?? []) {
    if (!intersects(c.accept, me.accept) || all(known, c.conditions) === false) continue;
    // One that does it alone.
    if (covers(c.accept, me.accept) && coveredBy(me.conditions, [c.conditions])) return { by: [c], why: 'always' };
    candidates.push(c);
  }
  if (candidates.length < 2) return undefined;
  // Every state this one accepts must be accepted by one of them at least.
  const union = new Uint32Array(me.accept.length);
  for (const c of candidates) for (let w = 0; w < union.length; w++) union[w] |= c.accept[w];
  if (!covers(union, me.accept)) return undefined;
  // Several together: in each modifier state, those that accept it must cover every situation.
  const sets = [...new Set(candidates.map((c) => c.accept))].slice(0, 30);
  const groups = new Map<number, number[]>();
  // Usually each of them accepts every state this one does: one group.
  if (sets.every((set) => covers(set, me.accept))) groups.set(0, candidates.map((_, i) => i));
  else for (let s = 0; s < STATES; s++) {
    if (!has(me.accept, s)) continue;
    let mask = 0;
    for (let k = 0; k < sets.length; k++) if (has(sets[k], s)) mask |= 1 << k;
    if (!groups.has(mask)) groups.set(mask, candidates.flatMap((c, i) => { const k = sets.indexOf(c.accept); return k >= 0 && (mask & (1 << k)) ? [i] : []; }));
  }
  const used = new Set<number>();
  for (const idx of groups.values()) {
    const got = coveredBy(me.conditions, idx.map((i) => candidates[i].conditions));
    if (!got) return undefined;
    for (const j of got) used.add(idx[j]);
  }
  const by = [...used].sort((a, b) => a - b).map((i) => candidates[i]);
  return { by: by.map(({ rule, manipulator }) => ({ rule, manipulator })), why: by.length > 1 ? 'together' : 'always' };
}

/** The simple modifications that change a key for every device, by the key they take. */
function simpleChanges(profile: ProfileSettings | undefined): Map<KeyId, string> {
  const out = new Map<KeyId, string>();
  for (const p of profile?.simpleModifications ?? []) {
    if (!isObj(p) || !isObj(p.from)) continue;
    const entries = Object.entries(p.from).filter(([k]) => k !== 'modifiers' && k !== '');
    if (entries.length !== 1 || (isObj(p.from.modifiers) && Array.isArray(p.from.modifiers.mandatory) && p.from.modifiers.mandatory.length)) continue;
    const [field, name] = entries[0];
    const key = keyId(field as never, name);
    const to = Array.isArray(p.to) ? p.to : isObj(p.to) ? [p.to] : [];
    const target = to.filter(isObj).map((e) => Object.entries(e).filter(([k]) => k !== 'modifiers').map(([k, v]) => keyId(k as never, v) ?? `${k}:${JSON.stringify(v)}`).join('')).join(' + ');
    if (key && to.length && target !== key) out.set(key, target);
  }
  return out;
}

/**
 * Manipulators (of enabled rules) that can never fire, each with what takes its key first and why.
 */
export function findShadows(rules: readonly SimRule[], profile?: ProfileSettings): Shadow[] {
  const out: Shadow[] = [];
  const singles = new Map<string, Entry[]>();
  const chords = new Map<string, Entry[]>();
  const simple = simpleChanges(profile);
  const report = (e: Entry, got: { by: Winner[]; why: ShadowWhy }) => {
    const first = got.by.find((w): w is { rule: number; manipulator: number } => 'rule' in w);
    out.push({ rule: e.rule, manipulator: e.manipulator, byRule: first?.rule ?? -1, byManipulator: first?.manipulator ?? -1, by: got.by, why: got.why });
  };
  rules.forEach((rule, r) => {
    if (!rule.enabled) return;
    rule.manipulators.forEach((man, i) => {
      if (!isObj(man) || man.type !== 'basic') return;
      const from = fromOf(man);
      if (!from) return;
      const conditions = conditionsOf(man);
      if (!conditions) return;
      const me: Entry = { rule: r, manipulator: i, from, accept: acceptance(from), conditions };
      if (from.simultaneous) {
        const sig = `${from.keys.map(keyOf).sort().join('+')}`;
        // The same keys together, taken first in every order this one allows.
        const same = (chords.get(sig) ?? []).find((e) => (e.from.keyDownOrder === 'insensitive' || downOrder(e.from) === downOrder(from))
          && covers(e.accept, me.accept) && coveredBy(me.conditions, [e.conditions]));
        if (same) report(me, { by: [{ rule: same.rule, manipulator: same.manipulator }], why: 'always' });
        else {
          // Keys that may go down first: all of them, or the first in a strict order.
          const keys = from.keys.filter((d): d is { key: KeyId } => 'key' in d).map((d) => d.key);
          const firsts = from.keyDownOrder === 'strict' ? keys.slice(0, 1) : from.keyDownOrder === 'strict_inverse' ? keys.slice(-1) : keys;
          const found = firsts.length === from.keys.length || from.keyDownOrder !== 'insensitive' ? firsts.map((k) => takers(k, me, singles, simple)) : [];
          if (found.length && found.every((f) => f)) {
            const by: Winner[] = [];
            for (const f of found) for (const w of (f as { by: Winner[] }).by) if (!by.some((b) => JSON.stringify(b) === JSON.stringify(w))) by.push(w);
            report(me, { by, why: found.every((f) => f?.why === 'simple') ? 'simple' : 'chord' });
          }
        }
        const list = chords.get(sig);
        if (list) list.push(me); else chords.set(sig, [me]);
        return;
      }
      const d = from.keys[0];
      if ('key' in d) {
        const got = takers(d.key, me, singles, simple);
        if (got) report(me, got);
      } else {
        const same = (singles.get(keyOf(d)) ?? []).find((e) => covers(e.accept, me.accept) && coveredBy(me.conditions, [e.conditions]));
        if (same) report(me, { by: [{ rule: same.rule, manipulator: same.manipulator }], why: 'always' });
      }
      const k = keyOf(d);
      const list = singles.get(k);
      if (list) list.push(me); else singles.set(k, [me]);
    });
  });
  return out;
}
