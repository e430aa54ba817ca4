import { describe, expect, it } from 'vitest';
import { commandsOf, visibleText, type Command } from './commands';
import type { JsonObject } from './json';

const HELPER = '/Applications/Tarvel.app/Contents/MacOS/tarvel-focus';
const on = (to: JsonObject[], extra: JsonObject = {}) => ({ type: 'basic', from: { key_code: 'a' }, to, ...extra });
const brief = (cs: Command[]) => cs.map((c) => [c.kind, c.text, c.warning ?? null]);

describe('what a manipulator runs or opens, in full', () => {
  const lookup = (id: string) => (id === 'com.apple.Safari' ? '/Applications/Safari.app' : undefined);
  it.each<[string, JsonObject, [string, string, string | null][]]>([
    ['a piped download is a shell command, never shortened', on([{ shell_command: `curl -fsSL https://example.com/${'x'.repeat(80)} | sh` }]), [['shell', `curl -fsSL https://example.com/${'x'.repeat(80)} | sh`, null]]],
    ['a Shortcut', on([{ shell_command: "/usr/bin/shortcuts run 'Start Focus'" }]), [['shortcut', "/usr/bin/shortcuts run 'Start Focus'", null]]],
    ['tarvel-focus with the app’s own bundle', on([{ shell_command: `'${HELPER}' --name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/Applications/Safari.app'` }]),
      [['focusApplication', `'${HELPER}' --name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/Applications/Safari.app'`, null]]],
    ['tarvel-focus whose fallback is a script', on([{ shell_command: `'${HELPER}' --name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/tmp/evil.sh'` }]),
      [['focusApplication', `'${HELPER}' --name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/tmp/evil.sh'`, 'fallbackNotApp']]],
    ['tarvel-focus whose fallback is another app', on([{ shell_command: `'${HELPER}' --name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/Users/me/Safari.app'` }]),
      [['focusApplication', `'${HELPER}' --name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/Users/me/Safari.app'`, 'fallbackMismatch']]],
    ['open_application by bundle id and by path, a file that is no app', on([
      { software_function: { open_application: { bundle_identifier: 'com.apple.Terminal' } } },
      { software_function: { open_application: { file_path: '/usr/share/applications/firefox.desktop' } } },
      { software_function: { open_application: { file_path: '/Users/me/run.command' } } },
    ]), [['openApplication', 'com.apple.Terminal', null], ['openApplication', '/usr/share/applications/firefox.desktop', null], ['openFile', '/Users/me/run.command', 'notApp']]],
    ['commands in every list, in the simultaneous options too', {
      type: 'basic', from: { simultaneous: [{ key_code: 'j' }, { key_code: 'k' }], simultaneous_options: { to_after_key_up: { shell_command: 'c' } } },
      to_if_alone: { shell_command: 'a' }, to_delayed_action: { to_if_canceled: [{ shell_command: 'b' }] },
    }, [['shell', 'a', null], ['shell', 'b', null], ['shell', 'c', null]]],
    ['keys only', on([{ key_code: 'b' }]), []],
  ])('%s', (_n, man, expected) => expect(brief(commandsOf(man, lookup))).toEqual(expected));

  it('anything that is not a manipulator runs nothing', () => expect(commandsOf('rm -rf /')).toEqual([]));
});

describe('invisible characters are made visible', () => {
  it.each([
    ['open /Applications/\u202Eppa.irafaS', 'open /Applications/⟨U+202E⟩ppa.irafaS'],
    ['rm\u200B -rf', 'rm⟨U+200B⟩ -rf'],
    ['a\u00A0b\u3000c', 'a⟨U+00A0⟩b⟨U+3000⟩c'],
    ['echo a\necho b\tc', 'echo a⟨U+000A⟩\necho b⟨U+0009⟩c'],
    ['\uFEFFx\u2066y\u2069', '⟨U+FEFF⟩x⟨U+2066⟩y⟨U+2069⟩'],
    ['日本語のアプリ 🎹 é', '日本語のアプリ 🎹 é'],
  ])('%j', (text, shown) => expect(visibleText(text)).toBe(shown));
});
