// npm run check-documents -- FOLDER
// Runs every rule document or karabiner.json in FOLDER (and below) through the editor's import,
// checks, Apply's rules and Export, and prints how many would be blocked, how many lose anything,
// and the share of manipulators that open in a form. Exits 1 when any document is blocked or lossy.
import { readdirSync, readFileSync, statSync } from 'node:fs';
import { join, relative } from 'node:path';
import { checkRuleSet } from '../src/model/check';
import { FORMS } from '../src/model/forms';
import { exportDocument, formFigures, importDocument, stripComments } from '../src/model/io';
import { deepEqual, isObj, type JsonObject } from '../src/model/json';
import { compileRules } from '../src/model/rules';
import { findShadows } from '../src/model/simulate';
import type { FormKind } from '../src/model/types';

const folder = process.argv[2];
if (!folder) {
  console.error('usage: npm run check-documents -- FOLDER');
  process.exit(2);
}

function files(dir: string): string[] {
  return readdirSync(dir).sort().flatMap((name) => {
    const path = join(dir, name);
    if (statSync(path).isDirectory()) return files(path);
    return name.endsWith('.json') ? [path] : [];
  });
}

/** The rules a document holds, as the file has them. */
function originalRules(text: string): JsonObject[] {
  let doc: unknown;
  try { doc = JSON.parse(text.replace(/^\uFEFF/, '')); } catch { doc = JSON.parse(stripComments(text.replace(/^\uFEFF/, ''))); }
  if (!isObj(doc)) return [];
  if (Array.isArray(doc.profiles)) {
    const profiles = doc.profiles.filter(isObj);
    const p = profiles.find((x) => x.selected === true) ?? profiles[0];
    const cm = p && isObj(p.complex_modifications) ? p.complex_modifications : {};
    return Array.isArray(cm.rules) ? cm.rules.filter(isObj) : [];
  }
  if (Array.isArray(doc.rules)) return doc.rules.filter(isObj);
  return Array.isArray(doc.manipulators) ? [doc] : [];
}

const blocked: string[] = [];
const lossy: string[] = [];
const byForm = Object.fromEntries(FORMS.map((f) => [f, 0])) as Record<FormKind, number>;
let manipulators = 0;
let inForms = 0;
let shadowed = 0;
let slowest = { ms: 0, cpu: 0, file: '', bytes: 0 };
const list = files(folder);
for (const path of list) {
  const name = relative(folder, path);
  const text = readFileSync(path, 'utf8');
  const t0 = performance.now();
  const c0 = process.cpuUsage();
  const r = importDocument(text);
  if (!r.ok) {
    blocked.push(`${name}: not imported (${r.error}${r.detail ? `: ${r.detail}` : ''})`);
    continue;
  }
  const problems = checkRuleSet(r.ruleSet);
  const ms = performance.now() - t0;
  const cpu = process.cpuUsage(c0);
  if (ms > slowest.ms) slowest = { ms, cpu: (cpu.user + cpu.system) / 1000, file: name, bytes: Buffer.byteLength(text) };
  const blocks = problems.filter((p) => p.severity === 'block');
  if (blocks.length) blocked.push(`${name}: ${blocks.length} blocking (${blocks[0].code} at ${blocks[0].path})`);

  const original = originalRules(text);
  const exported = exportDocument(r.ruleSet).rules as JsonObject[];
  const applied = compileRules(r.ruleSet);
  const sameApply = applied.length === original.length && applied.every((a, i) => deepEqual(a.manipulators, original[i].manipulators)
    && (original[i].description === undefined || a.name === original[i].description || (a.name === String(i + 1) && original[i].description === ''))
    && a.enabled === (original[i].enabled !== false));
  if (!deepEqual(exported, original)) lossy.push(`${name}: export differs`);
  else if (!sameApply) lossy.push(`${name}: apply differs`);

  const f = formFigures(r.ruleSet);
  manipulators += f.manipulators;
  inForms += f.inForms;
  for (const k of FORMS) byForm[k] += f.byForm[k];
  shadowed += findShadows(applied.map((a) => ({ name: a.name, enabled: a.enabled, manipulators: a.manipulators }))).length;
}

const pct = (n: number) => (manipulators ? `${((100 * n) / manipulators).toFixed(1)}%` : '-');
console.log(`documents: ${list.length}, manipulators: ${manipulators}`);
console.log(`blocked: ${blocked.length}`);
for (const b of blocked.slice(0, 20)) console.log(`  ${b}`);
console.log(`lossy: ${lossy.length}`);
for (const l of lossy.slice(0, 20)) console.log(`  ${l}`);
console.log(`in forms: ${inForms} of ${manipulators} (${pct(inForms)})`);
console.log(`  ${FORMS.map((k) => `${k} ${byForm[k]} (${pct(byForm[k])})`).join(', ')}`);
console.log(`never fire (an earlier manipulator always takes their key): ${shadowed}`);
console.log(`slowest import + check: ${slowest.ms.toFixed(1)} ms wall, ${slowest.cpu.toFixed(1)} ms CPU (${slowest.file}, ${(slowest.bytes / 1024).toFixed(0)} KB)`);
process.exit(blocked.length || lossy.length ? 1 : 0);
