import { execFileSync } from 'node:child_process';
import { chmodSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { afterAll, describe, expect, it } from 'vitest';
import { appEvent, shortcutEvent } from './actions';
import { SHORTCUTS_RUN } from './commands';
import { exactRegex, shellQuote, unescapeExactRegex } from './shell';

const HOSTILE = [
  "Bob's App", 'say "hi"', '$(touch /tmp/tarvel-pwned)', '`id`', 'a\nb\n', 'tab\there', '日本語のアプリ',
  "'", "''", '\\', '$HOME', '; rm -rf ~ #', '--name', '-', ' leading and trailing ', 'é (décomposé: e\u0301)', '*', '!x',
];

// A stub in a folder whose own name needs quoting: prints each argument NUL-terminated.
const dir = mkdtempSync(join(tmpdir(), "tarvel quote's "));
const stub = join(dir, 'tarvel-focus');
writeFileSync(stub, '#!/bin/sh\nfor a in "$@"; do printf \'%s\\0\' "$a"; done\n');
chmodSync(stub, 0o755);
afterAll(() => rmSync(dir, { recursive: true, force: true }));

const run = (cmd: string) => execFileSync('/bin/sh', ['-c', cmd], { encoding: 'utf8' }).split('\0').slice(0, -1);

describe('every name reaches the helper as exactly one argument, unchanged', () => {
  it.each(HOSTILE)('app named %j', (name) => {
    const app = { name, bundleId: `id.${name}`, path: `/Applications/${name}.app` };
    const ev = appEvent(app, stub);
    expect(run(ev.shell_command as string)).toEqual(['--name', name, '--bundle-id', app.bundleId, '--fallback', app.path]);
  });

  it('options that are not known are not passed', () => {
    const ev = appEvent({ name: 'Only Name' }, stub);
    expect(run(ev.shell_command as string)).toEqual(['--name', 'Only Name']);
  });

  it.each(HOSTILE)('Shortcut named %j', (name) => {
    const cmd = shortcutEvent(name).shell_command as string;
    expect(cmd.startsWith(SHORTCUTS_RUN)).toBe(true);
    expect(run(`${shellQuote(stub)} run ${cmd.slice(SHORTCUTS_RUN.length)}`)).toEqual(['run', name]);
  });
});

describe('bundle identifiers in conditions', () => {
  it.each(['com.apple.Terminal', 'a+b.c', 'x(1)', 'net.[weird]^$|*?{}', 'a\\b', 'org/x'])('%j matches only itself', (id) => {
    const re = new RegExp(exactRegex(id));
    expect(re.test(id)).toBe(true);
    expect(re.test(`x${id}`)).toBe(false);
    expect(re.test(`${id}x`)).toBe(false);
    expect(unescapeExactRegex(exactRegex(id))).toBe(id);
  });

  it('a dot is not a wildcard', () => {
    expect(new RegExp(exactRegex('com.apple.Terminal')).test('comXappleXTerminal')).toBe(false);
  });

  it('expressions written by hand are not mistaken for exact names', () => {
    expect(unescapeExactRegex('^com\\.apple\\..*$')).toBeUndefined();
    expect(unescapeExactRegex('com\\.apple')).toBeUndefined();
  });
});
