// A real karabiner.json as the app's "tarvelConfig" answers it, for the stand-in: the profiles with
// their rules and values, and which rules have comments around them (the writer's rule: a comment
// belongs to the rule on whose line it follows, else to the next rule, else to the last).
import { createHash } from 'node:crypto';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { stripComments } from '../../src/model/io';

type Frame = { kind: '{' | '['; path: (string | number)[]; key?: string; expectKey: boolean; n: number; starts: number[]; ends: number[]; endLines: number[]; comments: { at: number; line: number }[] };

/** For each profile (by index), the rules with comments around them. */
export function commentedRules(text: string): Map<number, number[]> {
  const out = new Map<number, number[]>();
  const stack: Frame[] = [];
  let line = 1;
  const top = () => stack[stack.length - 1] as Frame | undefined;
  const isRules = (f: Frame | undefined) => !!f && f.kind === '[' && f.path.length === 4 && f.path[0] === 'profiles' && f.path[2] === 'complex_modifications' && f.path[3] === 'rules';
  const start = (at: number) => { const f = top(); if (f && isRules(f) && f.starts.length === f.n) f.starts.push(at); };
  const end = (at: number) => { const f = top(); if (f && isRules(f)) { f.ends[f.n] = at; f.endLines[f.n] = line; } };
  const close = (f: Frame) => {
    const marked = new Set<number>();
    for (const c of f.comments) {
      let k = -1;
      for (let j = 0; j < f.ends.length; j++) if (f.ends[j] < c.at) k = j;
      if (k >= 0 && f.endLines[k] === c.line) marked.add(k);
      else if (f.starts.findIndex((s) => s > c.at) >= 0) marked.add(f.starts.findIndex((s) => s > c.at));
      else if (f.ends.length) marked.add(f.ends.length - 1);
    }
    if (marked.size) out.set(f.path[1] as number, [...marked].sort((a, b) => a - b));
  };
  for (let i = 0; i < text.length;) {
    const c = text[i];
    if (c === '\n') { line++; i++; continue; }
    if (c === '/' && (text[i + 1] === '/' || text[i + 1] === '*')) {
      const f = top();
      if (f && isRules(f)) f.comments.push({ at: i, line });
      const stop = text[i + 1] === '/' ? text.indexOf('\n', i) : text.indexOf('*/', i + 2) + 2;
      const to = stop < (text[i + 1] === '/' ? 0 : 2) ? text.length : stop;
      for (let j = i; j < to; j++) if (text[j] === '\n') line++;
      i = to;
      continue;
    }
    if (c === '"') {
      let j = i + 1;
      while (j < text.length && text[j] !== '"') j += text[j] === '\\' ? 2 : 1;
      const f = top();
      if (f?.kind === '{' && f.expectKey) { f.key = JSON.parse(text.slice(i, j + 1)); f.expectKey = false; } else { start(i); end(j); }
      i = j + 1;
      continue;
    }
    if (c === '{' || c === '[') {
      start(i);
      const f = top();
      const path = f ? [...f.path, f.kind === '[' ? f.n : f.key as string] : [];
      stack.push({ kind: c, path, expectKey: c === '{', n: 0, starts: [], ends: [], endLines: [], comments: [] });
      i++;
      continue;
    }
    if (c === '}' || c === ']') {
      const f = stack.pop() as Frame;
      if (isRules(f)) close(f);
      end(i);
      i++;
      continue;
    }
    if (c === ',') {
      const f = top();
      if (f?.kind === '[') f.n++; else if (f) f.expectKey = true;
      i++;
      continue;
    }
    if (/[-0-9a-z]/.test(c)) {
      let j = i;
      while (j < text.length && /[-+.0-9a-zA-Z]/.test(text[j])) j++;
      start(i);
      end(j - 1);
      i = j;
      continue;
    }
    i++;
  }
  return out;
}

const list = (v: unknown) => (Array.isArray(v) ? v.filter((x) => x && typeof x === 'object' && !Array.isArray(x)) : []);

/** The "tarvelConfig" answer for a karabiner.json text. */
export function tarvelConfigOf(text: string, path = '/Users/me/.config/karabiner/karabiner.json') {
  const plain = stripComments(text);
  const doc = JSON.parse(plain);
  const comments = commentedRules(text);
  return {
    path, digest: `sha256:${createHash('sha256').update(text).digest('hex')}`, hasComments: plain !== text, backups: [],
    profiles: (doc.profiles as any[]).map((p, i) => ({
      name: typeof p.name === 'string' ? p.name : null,
      selected: p.selected === true,
      rules: p.complex_modifications?.rules ?? [],
      devices: list(p.devices).map((d: any) => d.identifiers).filter((d) => d && typeof d === 'object'),
      simpleModifications: list(p.simple_modifications),
      fnFunctionKeys: list(p.fn_function_keys),
      parameters: p.complex_modifications?.parameters ?? {},
      deviceSettings: list(p.devices),
      keyboardType: p.virtual_hid_keyboard?.keyboard_type_v2 ?? null,
      commentedRules: comments.get(i) ?? [],
    })),
  };
}

export const FIXTURES = join(__dirname, '../fixtures/configs');
export const realConfig = (name: string) => tarvelConfigOf(readFileSync(join(FIXTURES, name), 'utf8'));
