import { describe, expect, it } from 'vitest';
import { Bridge } from '../bridge';
import { setLanguage } from '../i18n';
import { appRef, filterApps, mergeInventory } from './apps';
import { History } from './history';
import { RECIPES, recipeDefaults } from './recipes';
import { setAppNames, summarize } from './summary';
import { buildLayer, buildLeader } from './forms';
import type { JsonObject } from './json';
import type { Mapping } from './types';

describe('undo history', () => {
  it('keystrokes in one field coalesce; other edits are separate steps', () => {
    const h = new History('a');
    h.commit('ab', 'title', 1000);
    h.commit('abc', 'title', 1500);
    h.commit('abcd', 'other', 1600);
    h.commit('abcde', 'title', 1700);
    expect(h.undo() && h.present).toBe('abcd');
    expect(h.undo() && h.present).toBe('abc');
    expect(h.undo() && h.present).toBe('a');
    expect(h.undo()).toBe(false);
    expect(h.redo() && h.present).toBe('abc');
    h.commit('x');
    expect(h.canRedo).toBe(false);
  });
  it('a pause ends a typing step', () => {
    const h = new History(0);
    h.commit(1, 'k', 0);
    h.commit(2, 'k', 5000);
    h.undo();
    expect(h.present).toBe(1);
  });
});

describe('inventory', () => {
  const inv = {
    installed: [
      { name: 'Safari', bundleId: 'com.apple.Safari', path: '/Applications/Safari.app', icon: 'data:image/png;base64,AA', running: false, launchable: true },
      { name: 'app 10', bundleId: 'x.10', path: '/A/app 10.app', running: false, launchable: true },
      { name: 'App 9', bundleId: 'x.9', path: '/A/App 9.app', running: false, launchable: true },
    ],
    running: [
      { name: 'Safari', bundleId: 'com.apple.Safari', path: '/Volumes/Other/Safari', running: true, launchable: false },
      { name: 'daemon', running: true, launchable: false },
    ],
    shortcuts: [],
  };
  it('an app both installed and running is listed once, running, with the path that opens it', () => {
    const apps = mergeInventory(inv);
    expect(apps.map((a) => a.name)).toEqual(['App 9', 'app 10', 'daemon', 'Safari']);
    const safari = apps.find((a) => a.name === 'Safari');
    expect(safari).toMatchObject({ running: true, launchable: true, path: '/Applications/Safari.app', icon: 'data:image/png;base64,AA' });
    expect(appRef(apps.find((a) => a.name === 'daemon')!)).toEqual({ name: 'daemon' });
    expect(mergeInventory(null)).toEqual([]);
  });
  it('filters by name and bundle id, ignoring case', () => {
    const apps = mergeInventory(inv);
    expect(filterApps(apps, 'SAF').map((a) => a.name)).toEqual(['Safari']);
    expect(filterApps(apps, 'x.1').map((a) => a.name)).toEqual(['app 10']);
    expect(filterApps(apps, '  ')).toHaveLength(4);
  });
});

describe('bridge', () => {
  it('answers resolve pending requests in request order, per kind; failures keep their code and place', async () => {
    const posted: unknown[] = [];
    const win: Record<string, any> = { webkit: { messageHandlers: { tarvelApps: { postMessage: () => posted.push('apps') }, tarvelApply: { postMessage: (b: unknown) => posted.push(b) } } } };
    const bridge = new Bridge(win);
    expect(bridge.available).toBe(true);
    const body = { title: 'one', manipulators: [{ type: 'basic' }], rules: [{ name: 'r', enabled: true, manipulators: [{ type: 'basic' }] }] };
    const a1 = bridge.apply(body);
    const inv = bridge.requestInventory();
    const a2 = bridge.apply({ ...body, title: 'two' });
    expect(posted).toEqual([body, 'apps', { ...body, title: 'two' }]);
    win.__tarvelApplyResolve({ ok: true, backupPath: '/b/1' });
    win.__tarvelApplyResolve({ ok: false, error: 'line 1\nline 2', code: 'trailingComma', line: 3, column: 7, extra: 'ignored' });
    win.__tarvelAppsResolve(null);
    expect(await a1).toEqual({ ok: true, backupPath: '/b/1' });
    expect(await a2).toEqual({ ok: false, error: 'line 1\nline 2', code: 'trailingComma', line: 3, column: 7 });
    expect(await inv).toBeNull();
    // An answer nobody waits for is dropped.
    expect(() => win.__tarvelApplyResolve({ ok: true, backupPath: 'x' })).not.toThrow();
  });
  it('fetches rule documents through the native side and hears when karabiner.json changes', async () => {
    const posted: unknown[] = [];
    const win: Record<string, any> = { webkit: { messageHandlers: { tarvelApps: {}, tarvelApply: {}, tarvelFetch: { postMessage: (b: unknown) => posted.push(b) } } } };
    const bridge = new Bridge(win);
    expect(bridge.fetches).toBe(true);
    const urls = ['https://a.example/x.json', 'karabiner://karabiner/assets/complex_modifications/import?url=x', 'http://b', 'c'];
    const outcomes = urls.map((url) => bridge.fetchRuleDocument(url));
    expect(posted).toEqual(urls.map((url) => ({ url })));
    const document = { title: 'T', rules: [{ description: 'd', manipulators: [] }] };
    win.__tarvelFetchResolve({ ok: true, url: 'https://a.example/y.json', document, text: '{"title": "T"}', extra: 1 });
    win.__tarvelFetchResolve({ ok: false, error: 'the server answered 404 for https://b', code: 'httpStatus', status: 404 });
    win.__tarvelFetchResolve({ ok: false, error: 'only https:// addresses', code: 'notHttps' });
    win.__tarvelFetchResolve({ ok: true, url: 'https://c', document: { title: 'no rules' }, text: '' });
    const [good, status, notHttps, malformed] = await Promise.all(outcomes);
    expect(good).toEqual({ ok: true, url: 'https://a.example/y.json', document, text: '{"title": "T"}' });
    expect(status).toEqual({ ok: false, error: 'the server answered 404 for https://b', code: 'httpStatus', status: 404 });
    expect(notHttps).toEqual({ ok: false, error: 'only https:// addresses', code: 'notHttps' });
    expect(malformed.ok).toBe(false);

    let changes = 0;
    const stop = bridge.onConfigChanged(() => changes++);
    win.__tarvelConfigChanged(null);
    win.__tarvelConfigChanged(null);
    stop();
    win.__tarvelConfigChanged(null);
    expect(changes).toBe(2);
  });
  it('outside the app there is no bridge: preview mode', async () => {
    const win: Record<string, any> = {};
    const bridge = new Bridge(win);
    expect(bridge.available).toBe(false);
    expect(typeof win.__tarvelAppsResolve).toBe('function');
    expect(await bridge.requestInventory()).toBeNull();
    expect(bridge.fetches).toBe(false);
    expect(await bridge.fetchRuleDocument('https://a.example/x.json')).toEqual({ ok: false, error: 'preview' });
    expect(() => win.__tarvelConfigChanged(null)).not.toThrow();
  });
});

describe('summaries', () => {
  const build = (id: string, v: Record<string, unknown> = {}): Mapping[] => {
    const r = RECIPES.find((x) => x.id === id)!;
    return r.build({ ...recipeDefaults(r), ...v }, {});
  };
  const raw = (man: JsonObject): Mapping => ({ id: 'r', enabled: true, form: 'raw', manipulators: [man] });
  it('read as a person would say them, in both languages', () => {
    setLanguage('en');
    expect(summarize(build('capsCtrlEsc')[0])).toBe('Caps Lock: tap → Escape, hold → Control');
    expect(summarize(build('cmdEisuuKana')[1])).toBe('Right Command: tap → かな, hold → Right Command');
    expect(summarize(build('focusApp', { app: { name: 'Safari', bundleId: 'com.apple.Safari' } })[0])).toBe('⌃⌥⇧⌘S → Open com.apple.Safari');
    expect(summarize(build('vimArrows')[0])).toBe('Tab: layer “arrows” on while the key is held, tap → Tab');
    expect(summarize(build('vimArrows')[1])).toBe('H → ← (in layer “arrows”)');
    expect(summarize(build('chordEsc')[0])).toBe('J + K → Escape');
    expect(summarize(build('doubleTapQuit')[0])).toBe('⌘Q twice → ⌘Q');
    expect(summarize(raw({ type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b' }], x: 1 }))).toBe('JSON: A → B');
    setLanguage('ja');
    expect(summarize(build('capsCtrlEsc')[0])).toBe('Caps Lock: タップ → Escape、長押し → Control');
    setLanguage('en');
  });

  it.each<[string, Mapping, string]>([
    ['a leader with its sequences', { id: 'l', enabled: true, form: 'leader', manipulators: buildLeader({ from: { key_code: 'right_option' }, conditions: [], variable: 'L', sequences: [{ keys: ['g', 's'], to: [{ key_code: 'a' }] }, { keys: ['x'], to: [] }] }) },
      'Right Option leads: G S → A; X → Nothing'],
    ['a toggled layer', { id: 't', enabled: true, form: 'layer', manipulators: buildLayer({ mode: 'toggle', from: { key_code: 'f13' }, conditions: [], variable: 'tarvel_layer_num', on: 1, off: 0, tap: [] }) },
      'F13: layer “num” on from one press to the next'],
    ['every list, in the form with every field', { id: 'a', enabled: true, form: 'advanced', manipulators: [{ type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b' }], to_after_key_up: [{ set_variable: { name: 'x', value: 0 } }], to_delayed_action: { to_if_invoked: [{ set_notification_message: { id: 'n', text: 'hi' } }] } }] },
      'A → B, released → x = 0, later → Message “hi”'],
    ['where: a device, a keyboard type, an input source, an app known by name and a pattern', { id: 'w', enabled: true, form: 'remap', manipulators: [{ type: 'basic', from: { key_code: 'a' }, to: [{ mouse_key: { y: 1536 } }], conditions: [
      { type: 'device_if', identifiers: [{ vendor_id: 1452, product_id: 641 }] }, { type: 'keyboard_type_unless', keyboard_types: ['jis'] },
      { type: 'input_source_if', input_sources: [{ language: '^ja$' }] }, { type: 'frontmost_application_if', bundle_identifiers: ['^com\\.apple\\.Safari$', '^org\\.mozilla\\.'] },
    ] }] }, 'A → Mouse ↓ (on 1452/641; not on JIS keyboards; with ^ja$ input; only in Safari, ^org\\.mozilla\\.)'],
    ['a mouse manipulator as JSON', raw({ type: 'mouse_motion_to_scroll', from: { modifiers: { mandatory: ['fn'] } } }), 'JSON: mouse_motion_to_scroll'],
  ])('%s', (_n, m, text) => {
    setLanguage('en');
    setAppNames((id) => (id === 'com.apple.Safari' ? 'Safari' : undefined));
    expect(summarize(m)).toBe(text);
    setAppNames(() => undefined);
  });
});

describe('keys and language', () => {
  it('key presses in the browser map to Karabiner key names', async () => {
    const { keyFromEventCode } = await import('./keys');
    expect(['KeyA', 'Digit0', 'F13', 'CapsLock', 'MetaLeft', 'AltRight', 'Lang1', 'Lang2', 'IntlYen', 'Space', 'Backquote', 'Numpad5', 'Nonsense'].map(keyFromEventCode))
      .toEqual(['a', '0', 'f13', 'caps_lock', 'left_command', 'right_option', 'japanese_kana', 'japanese_eisuu', 'international3', 'spacebar', 'grave_accent_and_tilde', 'keypad_5', undefined]);
  });
  it('the language follows the system unless the user chose one', async () => {
    const { detectLanguage } = await import('../i18n');
    expect(detectLanguage(null, 'ja-JP')).toBe('ja');
    expect(detectLanguage(null, 'en-GB')).toBe('en');
    expect(detectLanguage(null, undefined)).toBe('en');
    expect(detectLanguage('en', 'ja')).toBe('en');
    expect(detectLanguage('fr', 'ja')).toBe('ja');
  });
  it('counts read as numbers are said, in both languages', async () => {
    const { t } = await import('../i18n');
    setLanguage('en');
    expect([1, 0, 2].map((k) => t('list.count', { r: k, n: k, m: k }))).toEqual([
      '1 rule, 1 mapping, 1 manipulator', '0 rules, 0 mappings, 0 manipulators', '2 rules, 2 mappings, 2 manipulators']);
    setLanguage('ja');
    expect(t('list.count', { r: 1, n: 2, m: 3 })).toBe('ルール 1 件、マッピング 2 件、マニピュレータ 3 件');
    setLanguage('en');
  });
  it('every key on both keyboards is a name Karabiner-Elements knows', async () => {
    const { LAYOUTS } = await import('./keys');
    const { isKnownName } = await import('./vocabulary');
    for (const rows of Object.values(LAYOUTS)) for (const row of rows) for (const cap of row) expect(isKnownName('key_code', cap.key), cap.key).toBe(true);
  });
});

describe('catalogs', () => {
  it('hold every message the page builds from a name, in both languages', async () => {
    const { hasMessage } = await import('../i18n');
    const { FORMS } = await import('./forms');
    const { EVENT_UIS } = await import('../ui/fields');
    const { PARAMETERS, KEY_FIELDS, SOFTWARE_FUNCTIONS } = await import('./vocabulary');
    const { TABS } = await import('../store');
    const names = [
      ...RECIPES.flatMap((r) => [`recipe.${r.id}`, `recipe.${r.id}.d`, ...r.params.map((p) => p.label)]),
      ...EVENT_UIS.map((a) => `action.${a}`),
      ...FORMS.flatMap((k) => [`form.${k}`, `form.${k}.d`]),
      ...TABS.map((x) => `tab.${x}`),
      ...['json', 'format', 'malformed', 'tooDeep', 'tooLarge', 'tooManyManipulators'].map((x) => `import.${x}`),
      ...['tooDeep', 'tooLarge', 'tooManyManipulators'].flatMap((x) => [`limit.${x}`, `code.${x}`]),
      ...Object.keys(PARAMETERS).map((k) => `param.${k}`),
      ...KEY_FIELDS.map((k) => `keyField.${k}`),
      ...Object.keys(SOFTWARE_FUNCTIONS).map((k) => `sf.${k}`),
      ...['app', 'variable', 'device', 'keyboard', 'input', 'expression', 'changed'].flatMap((c) => [`cond.${c}`, `cond.${c}.if`, `cond.${c}.unless`]),
      ...['immediate', 'delayed', 'lazyHeld'].map((m) => `holdMode.${m}`), ...['hold', 'delayed', 'toggle'].map((m) => `layerMode.${m}`),
      ...['fallbackNotApp', 'fallbackMismatch', 'notApp'].map((w) => `commands.${w}`),
      'layout.us', 'layout.jis', 'tap.none', 'tap.escape',
    ];
    expect(names.filter((n) => !hasMessage(n))).toEqual([]);
  });
});
