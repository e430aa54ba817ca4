import { describe, expect, it } from 'vitest';
import { setLanguage } from '../i18n';
import { explain } from './Failure';

// Every code the app sends (docs/BRIDGE.md), with whether it can carry a place in karabiner.json.
const CODES: [string, boolean][] = [
  ['malformed', false], ['tooLarge', false], ['tooDeep', true], ['tooManyManipulators', false], ['lint', false], ['notFound', false],
  ['notRegularFile', false], ['syntax', true], ['trailingComma', true], ['numberOutOfRange', true], ['notAnObject', false],
  ['noProfiles', false], ['readOnly', false], ['changed', false], ['busy', false], ['noSuchProfile', false], ['noSuchRule', false],
  ['noSuchDevice', false], ['noSuchBackup', false], ['backupFailed', false], ['writeFailed', false], ['internalError', false],
];

describe('help for every failure code, in both languages', () => {
  it.each(['en', 'ja'] as const)('%s', (lang) => {
    setLanguage(lang);
    const texts = new Set<string>();
    for (const [code, placed] of CODES) {
      const bare = explain({ ok: false, error: 'e', code });
      const at = explain({ ok: false, error: 'e', code, line: 12, column: 34 });
      expect(bare, code).toBeTruthy();
      expect(bare, code).not.toMatch(/[{}]/);
      if (placed) expect(at, code).toMatch(/12[^0-9]+34/);
      else expect(at, code).toBe(bare);
      texts.add(bare as string);
    }
    expect(texts.size).toBe(CODES.length);
    expect(explain({ ok: false, error: 'e', code: 'somethingNew' })).toBeUndefined();
    expect(explain({ ok: false, error: 'e' })).toBeUndefined();
    setLanguage('en');
  });
});
