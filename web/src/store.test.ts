import { describe, expect, it } from 'vitest';
import { setLanguage } from './i18n';
import { buildLayer, LAYER_PREFIX } from './model/forms';
import type { JsonObject } from './model/json';
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
    expect(texts(s)).toEqual(['My mappings: ', 'spaceCadet: tapHold', 'capsCtrlEsc: tapHold tapHold']);
    s.moveMapping(first.id, -1);
    s.moveMapping(first.id, -1);
    expect(texts(s)).toEqual(['My mappings: ', 'spaceCadet: tapHold tapHold', 'capsCtrlEsc: tapHold']);
    s.removeRule(s.ruleSet.rules[1].id);
    expect(texts(s)).toEqual(['My mappings: ', 'capsCtrlEsc: tapHold']);
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
  function app(answers: { config: unknown[]; apply?: unknown[]; restore?: unknown[] }) {
    const posted: { name: string; body: any }[] = [];
    const win: Record<string, any> = { navigator: { language: 'en-US' } };
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
    return { s: new Store(win as unknown as Window), posted };
  }
  const answer = (rules: unknown[], digest = DIGEST, more: Record<string, unknown> = {}) => ({
    ok: true, path: '/k.json', digest, hasComments: true, backups: [],
    profiles: [{ name: 'Default', selected: true, rules, devices: [{ vendor_id: 1, product_id: 2 }] }, { name: 'Games', rules: [] }],
    ...more,
  });
  const digest = (c: string) => `sha256:${c.repeat(64)}`;
  const tick = () => new Promise((r) => setTimeout(r, 0));

  it('with nothing saved the editor opens Tarvel’s rules; the others are kept, simulated and sent by index', async () => {
    const { s, posted } = app({ config: [answer(installed)] });
    await tick();
    expect([s.ruleSet.title, s.ruleSet.rules.map((r) => r.name)]).toEqual(['Keys', ['Caps']]);
    expect(s.applyHold).toBe('nothing');
    expect(s.simRules.filter((r) => r.kept).map((r) => [r.name, r.enabled])).toEqual([['Build', true], ['Old', false]]);
    expect(s.devices).toEqual([{ identifiers: { vendor_id: 1, product_id: 2 } }]);
    expect(s.commands().map((c) => [c.rule, c.text])).toEqual([['Build', 'make']]);
    s.setDropped(2, true);
    expect(s.applyHold).toBeUndefined();
    expect(s.applyBody).toMatchObject({ title: 'Keys', baseDigest: DIGEST, keep: [1], rules: [{ name: 'Caps', manipulators: [caps] }] });
    // The flat list is for an app that does not read karabiner.json; here it would only double the size.
    expect([s.applyBody.profile, s.applyBody.manipulators]).toEqual([undefined, undefined]);
    s.chooseProfile(1);
    expect(s.applyBody).toMatchObject({ keep: [], profile: 1 });
    expect(s.keptRules).toEqual([]);
    expect(posted.map((p) => p.name)).toEqual(['tarvelConfig']);
  });

  it('a rule brought into the editor is not kept; undoing that keeps it again', async () => {
    const { s } = app({ config: [answer(installed)] });
    await tick();
    expect(s.bringIn(1)).toBe(true);
    expect(s.ruleSet.rules.map((r) => r.name)).toEqual(['Caps', 'Build']);
    expect(s.applyBody.keep).toEqual([2]);
    expect(s.applyBody.rules.map((r) => r.name)).toEqual(['Caps', 'Build']);
    expect(s.simRules.filter((r) => r.kept).map((r) => r.name)).toEqual(['Old']);
    s.undo();
    expect(s.applyBody.keep).toEqual([1, 2]);
    expect(s.applyHold).toBe('nothing');
  });

  it('an apply refused because the file changed holds Apply until the file is read again; any other answer reads it at once', async () => {
    const changed = { ok: false, error: 'karabiner.json changed since Tarvel read it; reload to see the change', code: 'changed' };
    const { s, posted } = app({ config: [answer([]), answer(installed, `sha256:${'d'.repeat(64)}`), answer([installed[0], installed[1]], `sha256:${'e'.repeat(64)}`)], apply: [changed, { ok: true, backupPath: '/b' }] });
    await tick();
    s.addRule('r', [{ id: 'm', enabled: true, form: 'raw', manipulators: [caps] }]);
    await s.runApply();
    expect(s.applyHold).toBe('stale');
    expect(posted.map((p) => p.name)).toEqual(['tarvelConfig', 'tarvelApply']);
    await s.loadConfig();
    expect(s.applyHold).toBeUndefined();
    expect(s.applyBody.keep).toEqual([1, 2]);
    await s.runApply();
    await tick();
    expect(posted.map((p) => p.name)).toEqual(['tarvelConfig', 'tarvelApply', 'tarvelConfig', 'tarvelApply', 'tarvelConfig']);
    expect(s.config.phase === 'ready' && s.config.config.digest).toBe(`sha256:${'e'.repeat(64)}`);
  });

  it('a profile chosen instead of the used one stays chosen across re-reads, found by place and name, until it is gone', async () => {
    const games = { description: '[Tarvel] Keys: Caps', manipulators: [caps] };
    const { s, posted } = app({
      config: [
        answer(installed),
        answer(installed, digest('1'), { profiles: [{ name: 'Default', selected: true, rules: installed }, { name: 'Games', rules: [games] }] }),
        answer(installed, digest('2'), { profiles: [{ name: 'Games', rules: [games] }, { name: 'Default', selected: true, rules: installed }] }),
        answer(installed, digest('3'), { profiles: [{ name: 'Default', selected: true, rules: installed }, { name: 'Work', rules: [] }] }),
      ],
      apply: [{ ok: true, backupPath: '/b' }],
    });
    await tick();
    s.chooseProfile(1);
    await s.runApply();
    await tick();
    expect(posted.map((p) => [p.name, p.body?.profile])).toEqual([['tarvelConfig', undefined], ['tarvelApply', 1], ['tarvelConfig', undefined]]);
    expect([s.choices.profile, s.applyHold]).toEqual([1, 'nothing']);
    await s.loadConfig();
    expect([s.choices.profile, s.applyBody.profile]).toEqual([0, 0]);
    await s.loadConfig();
    expect([s.choices.profile, s.applyBody.profile]).toEqual([0, undefined]);
  });

  it('dropped and brought-in rules stay so when the file is rewritten with them unchanged, and not once they change', async () => {
    const changed = [installed[0], { ...installed[1], manipulators: [caps] }, { ...installed[2], enabled: true }];
    const { s } = app({ config: [answer(installed), answer([...installed], digest('f')), answer(changed, digest('e'))] });
    await tick();
    s.setDropped(2, true);
    s.bringIn(1);
    expect(s.applyBody.keep).toEqual([]);
    await s.loadConfig();
    expect(s.applyBody).toMatchObject({ baseDigest: digest('f'), keep: [] });
    await s.loadConfig();
    expect(s.applyBody).toMatchObject({ baseDigest: digest('e'), keep: [1, 2] });
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

  it('a file that cannot be read holds Apply and keeps nothing in the simulator', async () => {
    const { s } = app({ config: [{ ok: false, error: 'karabiner.json has no profiles', code: 'noProfiles' }] });
    await tick();
    expect(s.applyHold).toBe('failed');
    expect(s.config).toEqual({ phase: 'failed', failure: { ok: false, error: 'karabiner.json has no profiles', code: 'noProfiles' } });
    expect(s.keptRules).toEqual([]);
  });
});
