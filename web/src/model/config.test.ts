import { describe, expect, it } from 'vitest';
import { backupMade, readConfiguration, ruleKeys } from './config';
import type { JsonObject } from './json';

const man = (from: string, to = 'b'): JsonObject => ({ type: 'basic', from: { key_code: from }, to: [{ key_code: to }] });
const DIGEST = `sha256:${'a'.repeat(64)}`;

describe('the answer to "tarvelConfig"', () => {
  it.each([
    ['a configuration; rule indices stay those of the file, odd entries included',
      { ok: true, path: '/p', digest: DIGEST, hasComments: true, backups: [{ name: 'b1', rules: [{ description: 7, manipulators: 2, enabled: false }] }, { name: 'b2', error: 'bad' }, 'junk'],
        profiles: [{ name: 'A', selected: false, rules: [{ description: 'r' }, 'junk'], devices: [{ vendor_id: 1 }, 2] }, { selected: true }] },
      { path: '/p', hasComments: true, profiles: [{ name: 'A', selected: false, rules: [{ description: 'r' }, 'junk'], devices: [{ vendor_id: 1 }] }, { name: null, selected: true, rules: [], devices: [] }],
        backups: [{ name: 'b1', path: 'b1', modified: '', size: 0, rules: [{ description: null, enabled: false, manipulators: 2 }] }, { name: 'b2', path: 'b2', modified: '', size: 0, error: 'bad' }] }],
    ['no profile marked selected: the first is the one in use',
      { ok: true, digest: DIGEST, profiles: [{ name: 'A' }, { name: 'B' }] },
      { profiles: [{ name: 'A', selected: true, rules: [], devices: [] }, { name: 'B', selected: false, rules: [], devices: [] }] }],
    ['the rest of a profile; values of the wrong type count as absent',
      { ok: true, digest: DIGEST, profiles: [
        { simpleModifications: [{ from: { key_code: 'a' } }, 3], fnFunctionKeys: {}, parameters: { 'basic.to_if_alone_timeout_milliseconds': 300 },
          deviceSettings: [{ identifiers: { vendor_id: 1 }, ignore: true }], keyboardType: 'jis', commentedRules: [0, -1, 2.5, 'x', 3] },
        { parameters: [], keyboardType: 7 }] },
      { profiles: [
        { simpleModifications: [{ from: { key_code: 'a' } }], fnFunctionKeys: [], parameters: { 'basic.to_if_alone_timeout_milliseconds': 300 },
          deviceSettings: [{ identifiers: { vendor_id: 1 }, ignore: true }], keyboardType: 'jis', commentedRules: [0, 3] },
        { simpleModifications: [], fnFunctionKeys: [], parameters: {}, deviceSettings: [], keyboardType: null }] }],
    ['a failure with its place', { ok: false, error: 'karabiner.json has a trailing comma', code: 'trailingComma', line: 3, column: 9 },
      { ok: false, error: 'karabiner.json has a trailing comma', code: 'trailingComma', line: 3, column: 9 }],
    ['a failure without a code', { ok: false, error: 'boom', code: '', line: 'x' }, { ok: false, error: 'boom' }],
    ['ok without a digest', { ok: true, profiles: [] }, { ok: false, error: 'malformed configuration answer' }],
    ['not an object', null, { ok: false, error: 'null' }],
  ])('%s', (_name, answer, expected) => {
    expect(readConfiguration(answer)).toMatchObject(expected as object);
  });
});

it.each([
  ['karabiner.backup-20250314-091502.json', [2025, 2, 14, 9, 15, 2]],
  ['karabiner.backup-20250314-091502-3.json', [2025, 2, 14, 9, 15, 2]],
  ['karabiner.backup-20250230-091502.json', undefined],
  ['karabiner.backup-20250314-0915.json', undefined],
  ['automatic_backups/karabiner_20250314.json', undefined],
])('a backup named %s was made at %j (local time)', (name, at) => {
  const d = backupMade(name);
  expect(d && [d.getFullYear(), d.getMonth(), d.getDate(), d.getHours(), d.getMinutes(), d.getSeconds()]).toEqual(at);
});

it('names each rule by its content: key order and a redundant "enabled": true make no other rule; a repeat is told apart', () => {
  const r = { description: 'x', manipulators: [man('x')] };
  const keys = ruleKeys([r, { manipulators: [man('x')], enabled: true, description: 'x' }, { ...r, enabled: false }]);
  expect(keys[1]).toBe(`${keys[0]}.1`);
  expect(keys[2]).not.toContain(keys[0]);
});
