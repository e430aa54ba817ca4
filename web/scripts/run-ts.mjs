#!/usr/bin/env node
// Runs a TypeScript entry point under Node: bundles it with rolldown (already installed with Vite)
// into a temporary module next to node_modules, then imports it with the remaining arguments.
//
//   node scripts/run-ts.mjs scripts/check-documents.ts FOLDER
import { mkdtempSync, rmSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { build } from 'rolldown';

const [entry, ...rest] = process.argv.slice(2);
if (!entry) {
  console.error('usage: run-ts.mjs ENTRY.ts [ARGS...]');
  process.exit(2);
}
const dir = mkdtempSync(join(resolve('node_modules'), '.run-ts-'));
try {
  await build({
    input: resolve(entry),
    platform: 'node',
    logLevel: 'warn',
    output: { dir, format: 'esm', entryFileNames: 'main.mjs' },
  });
  process.argv = [process.argv[0], resolve(entry), ...rest];
  await import(pathToFileURL(join(dir, 'main.mjs')).href);
} finally {
  rmSync(dir, { recursive: true, force: true });
}
