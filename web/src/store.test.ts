import { describe, expect, it } from 'vitest';
import { setLanguage } from './i18n';
import { buildLayer, LAYER_PREFIX } from './model/forms';
import { ruleKeys } from './model/config';
import type { Json, JsonObject } from './model/json';
import { RECIPES, recipeDefaults } from './model/recipes';
import { Store } from './store';

/** A page outside the app, in English, with nothing saved. */
function store(post?: (body: unknown) => void): Store {
  const win: Record<string, unknown> = { navigator: { language: 'en-US' } };
  if (post) win.webkit = { messageHandlers: { tarvelApps: { postMessage: () => {} }, tarvelApply: { postMessage: post } } };
  setLanguage('en');
  return new Store(win as unknown as Window);
}
const recipe = (s: Store, id: string) => {
  const r = RECIPES.find((x) => x.id === id)!;
  return s.addRule(id, r.build(recipeDefaults(r), {}));
};
const texts = (s: Store) => s.ruleSet.rules.map((r) => `${r.name}: ${r.mappings.map((m) => m.form).join(' ')}`);

describe('drafts', () => {
  it('a key clicked just to look adds nothing; the draft becomes a mapping once it sends something, keeping its id', () => {
    const s = store();
    s.openDraft('k', '');
    const id = s.selectedId as string;
    expect(s.selected?.manipulators).toEqual([{ type: 'basic', from: { key_code: 'k' } }]);
    s.updateMapping(id, (m) => ({ ...m, manipulators: [{ ...m.manipulators[0], to: [{ key_code: '' }] }] }));
    expect(s.ruleSet.rules[0].mappings).toEqual([]);
    expect(s.history.canUndo).toBe(false);
    s.updateMapping(id, (m) => ({ ...m, manipulators: [{ ...m.manipulators[0], to: [{ key_code: 'l' }] }] }));
    expect(s.ruleSet.rules[0].mappings.map((m) => m.id)).toEqual([id]);
    expect(s.draft).toBeUndefined();
  });

  it('a draft in a layer view works in that layer; a modifier key starts with "other modifiers too"', () => {
    const s = store();
    s.addMappings([{ id: 'l', enabled: true, form: 'layer', manipulators: buildLayer({ mode: 'hold', from: { key_code: 'tab' }, conditions: [], variable: `${LAYER_PREFIX}nav`, on: 1, off: 0, tap: [] }) }]);
    s.addMappings([{ id: 'h', enabled: true, form: 'remap', manipulators: [{ type: 'basic', from: { key_code: 'h' }, conditions: [{ type: 'variable_if', name: `${LAYER_PREFIX}nav`, value: 1 }], to: [{ key_code: 'left_arrow' }] }] }]);
    expect(s.layers).toEqual([`${LAYER_PREFIX}nav`]);
    expect([...s.marksFor('').keys()]).toEqual(['tab']);
    expect([...s.marksFor(`${LAYER_PREFIX}nav`).keys()]).toEqual(['h']);
    s.openDraft('j', `${LAYER_PREFIX}nav`);
    expect(s.selected?.manipulators[0].conditions).toEqual([{ type: 'variable_if', name: `${LAYER_PREFIX}nav`, value: 1 }]);
    s.openDraft('right_shift', '');
    expect(s.selected?.manipulators[0].from).toEqual({ key_code: 'right_shift', modifiers: { optional: ['any'] } });
  });
});

describe('new mappings and imports add, where the user says', () => {
  const tap = (key: string, to: string) => ({ type: 'basic', from: { key_code: key }, to: [{ key_code: to }] });
  it('a new mapping goes into a new rule named after it, whatever rule was used last; or into the rule chosen', () => {
    const s = store();
    recipe(s, 'hyper');
    const hyper = s.ruleSet.rules.find((r) => r.name === '[Tarvel] hyper') as { id: string; mappings: { id: string }[] };
    s.select(hyper.mappings[0].id);
    s.openDraft('caps_lock', '');
    const id = s.selectedId as string;
    s.updateMapping(id, (m) => ({ ...m, manipulators: [{ ...m.manipulators[0], to: [{ key_code: 'escape' }] }] }));
    expect(texts(s)).toEqual(['[Tarvel] Caps Lock → Escape: remap', '[Tarvel] hyper: tapHold']);
    // The name follows the one mapping until the rule is named.
    s.updateMapping(id, (m) => ({ ...m, manipulators: [{ ...m.manipulators[0], to: [{ key_code: 'tab' }] }] }));
    expect(texts(s)[0]).toBe('[Tarvel] Caps Lock → Tab: remap');
    s.openDraft('a', '');
    s.setDraftRule(hyper.id);
    s.updateMapping(s.selectedId as string, (m) => ({ ...m, manipulators: [{ ...m.manipulators[0], to: [{ key_code: 'b' }] }] }));
    expect(texts(s)).toEqual(['[Tarvel] Caps Lock → Tab: remap', '[Tarvel] hyper: tapHold remap']);
  });

  it.each<[string, 'add' | 'replace', string[]]>([
    ['added by default after the rules made here; one undo takes them out', 'add', ['[Tarvel] capsCtrlEsc', 'Doc 1', 'Doc 2']],
    ['or replacing the editor’s rules', 'replace', ['Doc 1', 'Doc 2']],
  ])('an import into an editor with work: %s', (_name, mode, expected) => {
    const s = store();
    recipe(s, 'capsCtrlEsc');
    const before = s.ruleSet;
    const doc = { title: 'Doc', rules: [{ description: 'Doc 1', manipulators: [tap('a', 'b')] }, { description: 'Doc 2', manipulators: [tap('c', 'd')] }] };
    expect(s.importText(JSON.stringify(doc))).toEqual({ ok: true, pending: true });
    expect(s.ruleSet).toBe(before);
    s.finishImport({ ...(s.importing as NonNullable<Store['importing']>), mode });
    expect(s.ruleSet.rules.map((r) => r.name)).toEqual(expected);
    expect(s.notice?.text).toContain('2 rules, 2 mappings');
    s.undo();
    expect(s.ruleSet).toBe(before);
  });
});

describe('editing', () => {
  it('a form that cannot hold a mapping asks first, naming what goes; cancelling changes nothing', () => {
    const s = store();
    const man: JsonObject = { type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b' }], to_delayed_action: { to_if_invoked: [{ key_code: 'c' }] } };
    s.addMappings([{ id: 'x', enabled: true, form: 'advanced', manipulators: [man] }]);
    s.changeForm('x', 'remap');
    expect(s.confirm?.items).toEqual(['to_delayed_action']);
    expect(s.locate('x')?.mapping.manipulators).toEqual([man]);
    s.confirm?.run();
    expect(s.locate('x')?.mapping).toMatchObject({ form: 'remap', manipulators: [{ type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b' }] }] });
    s.changeForm('x', 'raw');
    expect(s.locate('x')?.mapping.form).toBe('raw');
  });

  it('mappings move within a rule and across rule boundaries; undo takes a whole step back', () => {
    const s = store();
    recipe(s, 'spaceCadet');
    recipe(s, 'capsCtrlEsc');
    const [first] = s.ruleSet.rules[1].mappings;
    s.moveMapping(first.id, 1);
    s.moveMapping(first.id, 1);
    expect(texts(s)).toEqual(['[Tarvel] My mappings: ', '[Tarvel] spaceCadet: tapHold', '[Tarvel] capsCtrlEsc: tapHold tapHold']);
    s.moveMapping(first.id, -1);
    s.moveMapping(first.id, -1);
    expect(texts(s)).toEqual(['[Tarvel] My mappings: ', '[Tarvel] spaceCadet: tapHold tapHold', '[Tarvel] capsCtrlEsc: tapHold']);
    s.removeRule(s.ruleSet.rules[1].id);
    expect(texts(s)).toEqual(['[Tarvel] My mappings: ', '[Tarvel] capsCtrlEsc: tapHold']);
    s.undo();
    expect(s.ruleSet.rules).toHaveLength(3);
  });

  it('only the title changing keeps every finding and derived value', () => {
    const s = store();
    recipe(s, 'vimArrows');
    const before = { problems: s.problems, rules: s.rules, marks: s.marksFor('') };
    s.setTitle('Other');
    expect({ problems: s.problems, rules: s.rules, marks: s.marksFor('') }).toEqual(before);
    expect(s.rules).toBe(before.rules);
  });
});

describe('apply', () => {
  it('sends the rules and the enabled rules’ manipulators flattened; a rule that is off goes as off', async () => {
    const posted: any[] = [];
    const s = store((b) => posted.push(b));
    recipe(s, 'capsCtrlEsc');
    recipe(s, 'disableKey');
    s.updateRule(s.ruleSet.rules[2].id, (r) => ({ ...r, enabled: false }));
    void s.runApply();
    expect(posted).toHaveLength(1);
    // An older app marks the names itself ("[Tarvel] <title>: <name>").
    expect(posted[0].rules.map((r: any) => [r.name, r.enabled, r.manipulators.length])).toEqual([['capsCtrlEsc', true, 1], ['disableKey', false, 1]]);
    expect(posted[0].manipulators).toEqual(posted[0].rules[0].manipulators);
  });

  it('a body past a limit is not posted and the dialog says which', async () => {
    const posted: unknown[] = [];
    const s = store((b) => posted.push(b));
    const many = Array.from({ length: 20001 }, (_, i) => ({ type: 'basic', from: { key_code: 'a' }, to: [{ key_code: i % 2 ? 'b' : 'c' }] }));
    s.addRule('many', [{ id: 'm', enabled: true, form: 'raw', manipulators: many }]);
    await s.runApply();
    expect(posted).toEqual([]);
    expect(s.apply).toEqual({ phase: 'refused', problem: { code: 'tooManyManipulators', value: 20001, limit: 20000 } });
  });
});

describe('karabiner.json', () => {
  const DIGEST = `sha256:${'c'.repeat(64)}`;
  const caps = { type: 'basic', from: { key_code: 'caps_lock' }, to: [{ key_code: 'left_control' }] };
  const other = { type: 'basic', from: { key_code: 'f5' }, to: [{ shell_command: 'make' }] };
  const installed = [
    { description: '[Tarvel] Keys: Caps', manipulators: [caps] },
    { description: 'Build', manipulators: [other] },
    { description: 'Old', enabled: false, manipulators: [{ type: 'basic', from: { key_code: 'q' } }] },
  ];
  /** An app that reads karabiner.json; answers come at once, in order. */
  function app(answers: { config: unknown[]; apply?: unknown[]; restore?: unknown[] }, saved: Record<string, string> = {}) {
    const posted: { name: string; body: any }[] = [];
    const items = new Map(Object.entries(saved));
    const win: Record<string, any> = {
      navigator: { language: 'en-US' },
      localStorage: { getItem: (k: string) => items.get(k) ?? null, setItem: (k: string, v: string) => items.set(k, v) },
    };
    const handler = (name: string, queue: unknown[], resolve: string) => ({
      postMessage: (body: unknown) => { posted.push({ name, body }); win[resolve](queue.shift()); },
    });
    win.webkit = { messageHandlers: {
      tarvelApps: { postMessage: () => {} },
      tarvelConfig: handler('tarvelConfig', answers.config, '__tarvelConfigResolve'),
      tarvelApply: handler('tarvelApply', answers.apply ?? [], '__tarvelApplyResolve'),
      tarvelRestore: handler('tarvelRestore', answers.restore ?? [], '__tarvelRestoreResolve'),
    } };
    setLanguage('en');
    // The store reads the saved state through window.localStorage.
    (globalThis as any).window = win;
    try {
      return { s: new Store(win as unknown as Window), posted, win };
    } finally {
      delete (globalThis as any).window;
    }
  }
  const answer = (rules: unknown[], digest = DIGEST, more: Record<string, unknown> = {}) => ({
    ok: true, path: '/k.json', digest, hasComments: true, backups: [],
    profiles: [{ name: 'Default', selected: true, rules, devices: [{ vendor_id: 1, product_id: 2 }], simpleModifications: [{ from: { key_code: 'caps_lock' }, to: [{ key_code: 'escape' }] }] }, { name: 'Games', rules: [] }],
    ...more,
  });
  const digest = (c: string) => `sha256:${c.repeat(64)}`;
  const tick = () => new Promise((r) => setTimeout(r, 0));
  const names = (s: Store) => s.ruleSet.rules.map((r) => r.name);

  it('the profile is the document: every rule in order, the overview first, nothing to apply; the body keeps them all by index', async () => {
    const { s, posted } = app({ config: [answer(installed)] });
    await tick();
    expect(names(s)).toEqual(['[Tarvel] Keys: Caps', 'Build', 'Old']);
    expect([s.tab, s.applyHold, s.history.canUndo]).toEqual(['installed', 'nothing', false]);
    expect(s.simRules.map((r) => [r.name, r.enabled])).toEqual([['[Tarvel] Keys: Caps', true], ['Build', true], ['Old', false]]);
    expect([...s.marksFor('').keys()]).toEqual(['caps_lock', 'f5', 'q']);
    expect([...s.simpleMarks]).toEqual([['caps_lock', 'Escape']]);
    expect(s.devices).toEqual([{ identifiers: { vendor_id: 1, product_id: 2 } }]);
    expect(s.commands().map((c) => [c.rule, c.text])).toEqual([['Build', 'make']]);
    expect(s.applyBody).toEqual({ baseDigest: DIGEST, ruleList: [{ keep: 0 }, { keep: 1 }, { keep: 2 }] });
    expect(posted.map((p) => p.name)).toEqual(['tarvelConfig']);
  });

  it('edits in place: a rule switched on edits only it; removed, duplicated and moved rules say so; undo takes each back', async () => {
    const { s } = app({ config: [answer(installed)] });
    await tick();
    const [tarvel, build, old] = s.ruleSet.rules;
    s.updateRule(old.id, (r) => ({ ...r, enabled: true }));
    expect(s.applyBody.ruleList).toEqual([{ keep: 0 }, { keep: 1 }, { edit: 2, rule: { description: 'Old', manipulators: [{ type: 'basic', from: { key_code: 'q' } }] } }]);
    s.removeRule(build.id);
    s.duplicateRule(tarvel.id);
    s.moveRule(old.id, -1);
    s.moveRule(old.id, -1);
    expect(names(s)).toEqual(['Old', '[Tarvel] Keys: Caps', '[Tarvel] Keys: Caps (copy)']);
    expect(s.applyBody.ruleList).toEqual([{ edit: 2, rule: expect.anything() }, { keep: 0 }, { rule: { description: '[Tarvel] Keys: Caps (copy)', manipulators: [caps] } }]);
    expect(s.plan?.removed.map((g) => g.index)).toEqual([1]);
    for (let i = 0; i < 5; i++) s.undo();
    expect(s.applyHold).toBe('nothing');
  });

  it('a simple modification and a parameter edited are sent as values, and only they; forms default to the profile’s timing', async () => {
    const { s } = app({ config: [answer(installed, DIGEST, { profiles: [{ name: 'Default', selected: true, rules: installed, parameters: { 'basic.to_if_alone_timeout_milliseconds': 250 } }] })] });
    await tick();
    expect(s.parameters).toEqual({ 'basic.to_if_alone_timeout_milliseconds': 250 });
    s.setValue(['simple_modifications'], [{ from: { key_code: 'caps_lock' }, to: [{ key_code: 'left_control' }] }]);
    s.setValue(['complex_modifications', 'parameters'], { 'basic.to_if_alone_timeout_milliseconds': 200 });
    expect(s.applyBody).toEqual({
      baseDigest: DIGEST, ruleList: [{ keep: 0 }, { keep: 1 }, { keep: 2 }],
      values: [{ path: ['simple_modifications'], value: [{ from: { key_code: 'caps_lock' }, to: [{ key_code: 'left_control' }] }] },
        { path: ['complex_modifications', 'parameters'], value: { 'basic.to_if_alone_timeout_milliseconds': 200 } }],
    });
    expect([...s.simpleMarks]).toEqual([['caps_lock', 'Control']]);
  });

  it('after an apply the file read again is the document: new and edited rules link up, nothing left to do, a new undo history', async () => {
    const written = [{ description: '[Tarvel] r', manipulators: [other] }, { ...installed[0], enabled: false }, installed[1], installed[2]];
    const { s, posted } = app({ config: [answer(installed), answer(written, digest('e'))], apply: [{ ok: true, backupPath: '/b' }] });
    await tick();
    s.addRule('r', [{ id: 'm', enabled: true, form: 'raw', manipulators: [other] }]);
    s.updateRule(s.ruleSet.rules[1].id, (r) => ({ ...r, enabled: false }));
    expect(s.applyBody.ruleList).toEqual([{ rule: written[0] }, { edit: 0, rule: written[1] }, { keep: 1 }, { keep: 2 }]);
    await s.runApply();
    await tick();
    expect(posted.map((p) => p.name)).toEqual(['tarvelConfig', 'tarvelApply', 'tarvelConfig']);
    expect([names(s), s.applyHold, s.history.canUndo]).toEqual([['[Tarvel] r', '[Tarvel] Keys: Caps', 'Build', 'Old'], 'nothing', false]);
    expect(s.locate('m')?.rule.name).toBe('[Tarvel] r');
  });

  it('a file changed elsewhere: the page reads it when told, keeps the user’s edit and takes in the new rule near its place', async () => {
    const outside = [installed[0], { description: 'Elsewhere', manipulators: [caps] }, installed[1], installed[2]];
    const { s, win } = app({ config: [answer(installed), answer(outside, digest('f'))] });
    await tick();
    s.updateRule(s.ruleSet.rules[2].id, (r) => ({ ...r, name: 'Old!' }));
    win.__tarvelConfigChanged(null);
    await tick();
    expect(names(s)).toEqual(['[Tarvel] Keys: Caps', 'Elsewhere', 'Build', 'Old!']);
    expect(s.applyBody).toMatchObject({ baseDigest: digest('f'), ruleList: [{ keep: 0 }, { keep: 1 }, { keep: 2 }, { edit: 3 }] });
  });

  it('a rule changed elsewhere while the user changed it too: said, marked, not sent, until the user chooses', async () => {
    const build2 = { description: 'Build', manipulators: [{ ...other, to: [{ shell_command: 'make all' }] }] };
    const now = [installed[0], build2, installed[2]];
    const { s, win } = app({ config: [answer(installed), answer(now, digest('f')), answer(now, digest('f'))] });
    await tick();
    s.updateRule(s.ruleSet.rules[1].id, (r) => ({ ...r, enabled: false }));
    const mine = s.ruleSet.rules[1];
    win.__tarvelConfigChanged(null);
    await tick();
    expect(s.notice).toEqual({ kind: 'info', text: 'karabiner.json changed outside Tarvel: 1 rule changed. Your changes are kept. 1 of your changes meets a change made there: choose whose version stays.' });
    expect([s.conflicts.rules.map((r) => [r.name, r.enabled, r.outside]), s.applyHold]).toEqual([[['Build', false, 'changed']], 'conflict']);
    expect(s.applyBody.ruleList).toEqual([{ keep: 0 }, { keep: 1 }, { keep: 2 }]);
    // The same file again is no news.
    s.set({ notice: undefined });
    await s.loadConfig();
    expect(s.notice).toBeUndefined();
    s.resolve([mine.id], [], 'theirs');
    expect([s.ruleSet.rules[1].enabled, s.applyHold]).toEqual([true, 'nothing']);
    s.undo();
    s.resolve([mine.id], [], 'mine');
    expect(s.applyBody.ruleList).toEqual([{ keep: 0 }, { edit: 1, rule: { ...installed[1], enabled: false } }, { keep: 2 }]);
  });

  it('an application condition with no application blocks Apply in a rule that is written, not in one kept as the file has it', async () => {
    const never = { type: 'basic', from: { key_code: 'f6' }, to: [{ key_code: 'mute' }], conditions: [{ type: 'frontmost_application_if', bundle_identifiers: [] }] };
    const { s } = app({ config: [answer([...installed, { description: 'Never', manipulators: [never] }])] });
    await tick();
    const rule = s.ruleSet.rules[3];
    expect([s.problems.filter((p) => p.code === 'v.appEmpty').map((p) => p.severity), s.blockCount]).toEqual([['warning'], 0]);
    s.updateRule(rule.id, (r) => ({ ...r, name: 'Never!' }));
    expect([s.problems.filter((p) => p.code === 'v.appEmpty').map((p) => p.severity), s.blockCount]).toEqual([['block'], 1]);
  });

  it('a change heard while the file is being read is read once more afterwards', async () => {
    const { s, win, posted } = app({ config: [answer(installed), answer(installed, digest('1')), answer([installed[0]], digest('2'))] });
    await tick();
    const reading = s.loadConfig();
    win.__tarvelConfigChanged(null);
    await reading;
    await tick();
    expect(posted.map((p) => p.name)).toEqual(['tarvelConfig', 'tarvelConfig', 'tarvelConfig']);
    expect(names(s)).toEqual(['[Tarvel] Keys: Caps']);
  });

  it('an apply refused because the file changed holds Apply until the file is read again', async () => {
    const changed = { ok: false, error: 'karabiner.json changed since Tarvel read it; reload to see the change', code: 'changed' };
    const { s, posted } = app({ config: [answer([]), answer(installed, digest('d'))], apply: [changed] });
    await tick();
    s.addRule('r', [{ id: 'm', enabled: true, form: 'raw', manipulators: [caps] }]);
    await s.runApply();
    expect(s.applyHold).toBe('stale');
    expect(posted.map((p) => p.name)).toEqual(['tarvelConfig', 'tarvelApply']);
    await s.loadConfig();
    expect(s.applyHold).toBeUndefined();
    expect(s.applyBody.ruleList).toEqual([{ rule: { description: '[Tarvel] r', manipulators: [caps] } }, { keep: 0 }, { keep: 1 }, { keep: 2 }]);
  });

  it('another profile: its rules become the document with the rules made here, after a question when changes would go; it stays chosen across re-reads', async () => {
    const games = { description: 'Game keys', manipulators: [caps] };
    const two = (d: string) => answer(installed, digest(d), { profiles: [{ name: 'Default', selected: true, rules: installed }, { name: 'Games', rules: [games] }] });
    const { s } = app({ config: [two('1'), two('2'), answer(installed, digest('3'), { profiles: [{ name: 'Default', selected: true, rules: installed }] })] });
    await tick();
    s.addRule('mine', [{ id: 'm', enabled: true, form: 'raw', manipulators: [other] }]);
    s.removeRule(s.ruleSet.rules[2].id);
    s.chooseProfile(1);
    expect(s.choices.profile).toBe(0);
    s.confirm?.run();
    expect([s.choices.profile, names(s), s.applyBody.profile]).toEqual([1, ['[Tarvel] mine', 'Game keys'], 1]);
    await s.loadConfig();
    expect([s.choices.profile, names(s)]).toEqual([1, ['[Tarvel] mine', 'Game keys']]);
    await s.loadConfig();
    expect([s.choices.profile, names(s)]).toEqual([0, ['[Tarvel] mine', '[Tarvel] Keys: Caps', 'Build', 'Old']]);
  });

  it('work saved by the older page finds its installed rules ("[Tarvel] <title>: <name>"); rules it dropped are removed', async () => {
    const saved = { title: 'Keys', layout: 'us', rules: [{ name: 'Caps', enabled: true, mappings: [{ enabled: true, form: 'raw', manipulators: [caps] }] }] };
    const keys = ruleKeys(installed as Json[]);
    const { s } = app({ config: [answer(installed)] }, { 'tarvel.workingRuleSet': JSON.stringify(saved), 'tarvel.configChoices': JSON.stringify({ profile: 0, name: 'Default', follow: true, dropped: [keys[2]] }) });
    await tick();
    expect(names(s)).toEqual(['[Tarvel] Keys: Caps', 'Build']);
    expect(s.applyBody.ruleList).toEqual([{ keep: 0 }, { keep: 1 }]);
  });

  it('a restore carries the digest of the list it was chosen from, even while the file is read again', async () => {
    const backup = { name: 'karabiner.backup-20250101-000000.json', path: '/b', modified: '', size: 1, rules: [] };
    const { s, posted } = app({ config: [answer(installed, DIGEST, { backups: [backup] }), answer(installed, digest('9'))], restore: [{ ok: true, backupPath: '/c' }] });
    await tick();
    s.askRestore(backup);
    const reading = s.loadConfig();
    expect(s.config.phase).toBe('loading');
    await s.runRestore();
    await reading;
    expect(posted.filter((p) => p.name === 'tarvelRestore').map((p) => p.body)).toEqual([{ name: backup.name, baseDigest: DIGEST }]);
  });

  it('a rule set over half the size limit is posted (with the configuration read the flat list is left out)', async () => {
    const { s, posted } = app({ config: [answer([])], apply: [{ ok: true, backupPath: '/b' }] });
    await tick();
    const big = Array.from({ length: 50 }, (_, i) => ({ type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b' }], note: `${i}`.padEnd(100_000, 'x') }));
    s.addRule('big', [{ id: 'big', enabled: true, form: 'raw', manipulators: big }]);
    await s.runApply();
    expect(s.apply).toEqual({ phase: 'done', outcome: { ok: true, backupPath: '/b' } });
    expect(posted.filter((p) => p.name === 'tarvelApply')).toHaveLength(1);
  });

  it('a file that cannot be read holds Apply', async () => {
    const { s } = app({ config: [{ ok: false, error: 'karabiner.json has no profiles', code: 'noProfiles' }] });
    await tick();
    expect(s.applyHold).toBe('failed');
    expect(s.config).toEqual({ phase: 'failed', failure: { ok: false, error: 'karabiner.json has no profiles', code: 'noProfiles' } });
  });
});
