import { readFileSync } from 'node:fs';
import { beforeAll, describe, expect, it } from 'vitest';
import type { FetchOutcome, IndexOutcome } from '../bridge';
import { setLanguage } from '../i18n';
import { Store } from '../store';
import { GALLERY_SNAPSHOT } from './gallery';
import { compareVersions, GalleryModel, INDEX_URL, matchInDocument, searchEntries, siteUrl, type GalleryEntry } from './galleryview';
import type { JsonObject } from './json';
import { checkLimits } from './limits';
import { importRule } from './rules';
import type { SimRule } from './simulate';
import { trialFindings } from './trial';

const snapshotFile = new URL('../../gallery/gallery.json.gz', import.meta.url);
const readSnapshot = async () => new Response(readFileSync(snapshotFile));

const DIGEST = `sha256:${'a'.repeat(64)}`;
const installed = [
  { description: 'Mine: caps', manipulators: [{ type: 'basic', from: { key_code: 'caps_lock' }, to: [{ key_code: 'escape' }] }] },
  { description: 'Mine: f5', manipulators: [{ type: 'basic', from: { key_code: 'f5' }, to: [{ shell_command: 'make' }] }] },
];
/** A page inside the app with karabiner.json read: two installed rules, a simple modification. */
async function appStore(rules: unknown[] = installed): Promise<Store> {
  const win: Record<string, any> = { navigator: { language: 'en-US' } };
  const config = {
    ok: true, path: '/k.json', digest: DIGEST, hasComments: false, backups: [],
    profiles: [{ name: 'Default', selected: true, rules, simpleModifications: [{ from: { key_code: 'right_command' }, to: [{ key_code: 'right_option' }] }] }],
  };
  win.webkit = { messageHandlers: {
    tarvelApps: { postMessage: () => {} }, tarvelApply: { postMessage: () => {} },
    tarvelConfig: { postMessage: () => win.__tarvelConfigResolve(config) },
  } };
  setLanguage('en');
  const s = new Store(win as unknown as Window);
  await new Promise((r) => setTimeout(r, 0));
  return s;
}

let model: GalleryModel;
let byTitle: Map<string, GalleryEntry>;
beforeAll(async () => {
  model = new GalleryModel({ notify: () => {}, fetchFile: async (p) => { expect(p).toBe(GALLERY_SNAPSHOT); return readSnapshot(); } });
  await model.load();
  byTitle = new Map(model.entries.map((e) => [e.path, e]));
}, 60000);

describe('the whole snapshot in the gallery view', () => {
  it('every document opens as it is, and each can be added where chosen and applied without a change to its rules', async () => {
    expect([model.phase, model.entries.length]).toEqual(['ready', 843]);
    const s = await appStore();
    let rules = 0;
    model.entries.forEach((e, n) => {
      model.open(e.path);
      const doc = model.doc!;
      const raw = JSON.parse(model.snapshot!.documents[e.path]).rules as JsonObject[];
      expect(doc.raw, e.path).toEqual(raw);
      expect(doc.rules.length, e.path).toBe(raw.length);
      expect([...model.chosen].length).toBe(raw.length);
      // At the start, after the first rule, or at the end.
      const at = n % 3 === 0 ? 0 : n % 3 === 1 ? 1 : 2;
      s.addRules(model.chosenRules, at);
      const body = s.applyBody;
      const list = body.ruleList!;
      expect(list.length, e.path).toBe(raw.length + 2);
      expect(list.filter((x) => 'keep' in x), e.path).toEqual([{ keep: 0 }, { keep: 1 }]);
      const added = list.slice(at, at + raw.length);
      // The rule objects exactly as the gallery has them (key order aside: the writer lays them out).
      expect(added, e.path).toEqual(raw.map((rule) => ({ rule })));
      expect(checkLimits(body, s.plan!.written), e.path).toBeUndefined();
      rules += raw.length;
      s.undo();
    });
    expect(rules).toBe(2833);
    expect(s.applyHold).toBe('nothing');
  }, 120000);

  it('every document is found by its own title', () => {
    for (const e of model.entries) {
      if (!e.title.trim()) continue;
      expect(searchEntries(model.entries, e.title).map((x) => x.path), e.path).toContain(e.path);
    }
  });
});

describe('search, in English and Japanese', () => {
  const top = (q: string, n = 5) => searchEntries(model.entries, q).slice(0, n).map((e) => e.path);
  const all = (q: string) => searchEntries(model.entries, q).map((e) => e.path);
  it.each<[string, string, (q: string) => string[]]>([
    ['a title, words in order', 'home row mods', (q) => top(q, 1)],
    ['the same in full-width letters', 'ＨＯＭＥ　ＲＯＷ　ＭＯＤＳ', (q) => top(q, 1)],
    ['a Japanese title', '日本語環境', (q) => top(q, 1)],
    ['a key by its Japanese label', '英数 コマンドキー', (q) => top(q, 3)],
    ['what a rule does, in Japanese, with the language it selects', '入力ソース 日本語', all],
    ['the same in English', 'input source japanese right_option', all],
    ['an application named in a condition', 'com.googlecode.iterm2', all],
    ['a file name', 'caps_lock_enhancement', (q) => top(q, 1)],
  ])('%s: "%s"', (_, q, find) => {
    const expected: Record<string, string> = {
      'home row mods': 'json/home_row_mods.json', 'ＨＯＭＥ　ＲＯＷ　ＭＯＤＳ': 'json/home_row_mods.json', '日本語環境': 'json/japanese.json',
      '英数 コマンドキー': 'json/japanese.json', '入力ソース 日本語': 'json/left_cmd-EN-right_cmd-CH-right_option-JA.json',
      'input source japanese right_option': 'json/left_cmd-EN-right_cmd-CH-right_option-JA.json', 'com.googlecode.iterm2': 'json/HomeEnd.json',
      caps_lock_enhancement: 'json/caps_lock_enhancement.json',
    };
    expect(find(q)).toContain(expected[q]);
  });
  it('every word must be there; nothing found is an empty list; no query lists everything in order', () => {
    expect(all('home row mods zzzqqq')).toEqual([]);
    expect(all('   ')).toEqual(model.entries.map((e) => e.path));
    expect(byTitle.get('json/japanese.json')?.groups).toEqual(['international']);
  });
});

describe('versions and matches', () => {
  const r = (description: string, key: string): JsonObject => ({ description, manipulators: [{ type: 'basic', from: { key_code: key } }] });
  it.each<[string, JsonObject[], JsonObject[], ReturnType<typeof compareVersions>]>([
    ['the same rules, keys reordered', [r('a', 'x')], [{ manipulators: [{ from: { key_code: 'x' }, type: 'basic' }], description: 'a' }], { added: [], removed: [], changed: [], same: 1 }],
    ['one changed, one new, one gone', [r('a', 'x'), r('b', 'y')], [r('a', 'z'), r('c', 'y')], { added: ['c'], removed: ['b'], changed: ['a'], same: 0 }],
    ['two rules of one name, one changed', [r('a', 'x'), r('a', 'y')], [r('a', 'y'), r('a', 'q')], { added: [], removed: [], changed: ['a'], same: 1 }],
  ])('%s', (_, before, after, diff) => expect(compareVersions(before, after)).toEqual(diff));

  it('a gallery rule in the document: the same content (installed or just added), else another version by description', () => {
    const rules = [importRule(r('a', 'x')), { ...importRule(r('b', 'y')), origin: 'k' }];
    expect(matchInDocument(rules, r('a', 'x'))).toEqual({ index: 0, same: true, added: true });
    expect(matchInDocument(rules, r('b', 'z'))).toEqual({ index: 1, same: false, added: false });
    expect(matchInDocument(rules, r('c', 'x'))).toBeUndefined();
  });
});

describe('the network, through the native side', () => {
  const path = 'json/caps_lock.json';
  function fetching(answers: Record<string, FetchOutcome>, index?: IndexOutcome) {
    const asked: string[] = [];
    const m = new GalleryModel({
      notify: () => {}, fetchFile: readSnapshot,
      fetchRule: async (url) => { asked.push(url); return answers[url] ?? { ok: false, error: 'could not reach x', code: 'offline' }; },
      fetchIndex: async (url) => { asked.push(url); return index ?? { ok: false, error: 'could not reach x', code: 'offline' }; },
    });
    return { m, asked };
  }
  it('a newer version: the same text, the same rules laid out anew, changed rules, a failure', async () => {
    const text = model.snapshot!.documents[path];
    const doc = JSON.parse(text);
    const changed = { ...doc, rules: [...doc.rules.slice(1), { description: 'New one', manipulators: [] }] };
    for (const [answer, phase] of [
      [{ ok: true, url: siteUrl(path), document: doc, text }, 'same'],
      [{ ok: true, url: siteUrl(path), document: doc, text: JSON.stringify(doc) }, 'same'],
      [{ ok: true, url: siteUrl(path), document: changed, text: JSON.stringify(changed) }, 'newer'],
      [{ ok: false, error: 'the server answered 404 for x', code: 'httpStatus', status: 404 }, 'failed'],
    ] as [FetchOutcome, string][]) {
      const { m, asked } = fetching({ [siteUrl(path)]: answer });
      await m.load();
      await m.checkNewer(path);
      expect(asked).toEqual(['https://ke-complex-modifications.pqrs.org/json/caps_lock.json']);
      const c = m.checks.get(path)!;
      expect(c.phase).toBe(phase);
      if (c.phase === 'newer') {
        expect(c.diff).toEqual({ added: ['New one'], removed: [doc.rules[0].description], changed: [], same: doc.rules.length - 1 });
        m.open(path, true);
        expect([m.doc?.source.kind, m.doc?.raw]).toEqual(['site', changed.rules]);
      }
    }
  });
  it('"Check for newer rules" asks for the documents the profile’s rules came from and for the site’s index; an address opens its document or says why not', async () => {
    const added = { title: 'New', rules: [installed[1]] };
    const index = { index: [{ id: 'international', name: 'International', files: [{ path: 'json/japanese.json' }, { path: 'json/new.json' }] }], example: [{ id: 'x', name: 'X', files: [{ path: 'json/new.json' }] }] };
    const { m, asked } = fetching({
      'https://example.com/r.json': { ok: true, url: 'https://example.com/r.json', document: { title: 'R', rules: [installed[0]] }, text: '{}' },
      [siteUrl('json/new.json')]: { ok: true, url: siteUrl('json/new.json'), document: added, text: JSON.stringify(added) },
    }, { ok: true, url: INDEX_URL, index, text: JSON.stringify(index) });
    await m.load();
    const doc = JSON.parse(m.snapshot!.documents['json/japanese.json']);
    await m.checkAll(['Mine: caps', doc.rules[2].description]);
    expect(asked).toEqual([siteUrl('json/japanese.json'), 'https://ke-complex-modifications.pqrs.org/groups.json']);
    expect(m.checks.get('json/japanese.json')?.phase).toBe('failed');
    expect(m.index).toEqual({ phase: 'done', added: [{ path: 'json/new.json', groups: [{ id: 'international', name: 'International' }, { id: 'x', name: 'X' }] }] });
    await m.openNew('json/new.json');
    expect([m.doc?.title, m.doc?.source]).toEqual(['New', { kind: 'site', path: 'json/new.json', url: siteUrl('json/new.json'), at: expect.any(Number) }]);
    expect(await m.importUrl(' https://example.com/r.json ')).toBe(true);
    expect([m.doc?.title, m.doc?.source.kind, m.url.phase]).toEqual(['R', 'url', 'idle']);
    expect(await m.importUrl('http://example.com/r.json')).toBe(false);
    expect(m.url).toMatchObject({ phase: 'failed', failure: { code: 'offline' } });
    expect(m.doc?.title).toBe('R');
  });
});

describe('trying rules where they would be added', () => {
  const key = (k: string, to = 'x') => ({ type: 'basic', from: { key_code: k }, to: [{ key_code: to }] });
  const rule = (name: string, ...ms: JsonObject[]): SimRule => ({ name, enabled: true, manipulators: ms });
  const profile = [rule('p0', key('a')), rule('p1', key('b'))];
  it.each<[string, number, SimRule[], string[], string[]]>([
    ['at the end, a key the profile takes never fires', 2, [rule('t', key('a'), key('c'))], ['2.0 by 0.0'], []],
    ['at the start it takes the key from the profile instead', 0, [rule('t', key('a'), key('c'))], [], ['1.0 by 0.0']],
    ['between: it shadows what follows, and is shadowed by what comes first', 1, [rule('t', key('a'), key('b'))], ['1.0 by 0.0'], ['2.0 by 1.1']],
    ['inside the tried rules alone', 2, [rule('t', key('c'), key('c'))], ['2.1 by 2.0'], []],
  ])('%s', (_, at, tried, shadowed, shadows) => {
    const f = trialFindings(profile, tried, at);
    const text = (list: typeof f.shadowed) => list.map((s) => `${s.rule}.${s.manipulator} by ${s.byRule}.${s.byManipulator}`);
    expect([text(f.shadowed), text(f.shadows)]).toEqual([shadowed, shadows]);
    expect(f.rules.slice(at, at + tried.length)).toEqual(tried);
  });

  it('the store tries rules with the whole profile at their place, names them as the gallery’s, and adds them as they are', async () => {
    const s = await appStore();
    const doc = [{ description: 'Gallery caps', manipulators: [key('caps_lock', 'left_control')] }];
    s.tryRules('Doc', doc, 1);
    expect([s.view, s.tab, s.triedRules.map((r) => [r.name, !!r.tried])]).toEqual(['editor', 'try', [['Mine: caps', false], ['Gallery caps', true], ['Mine: f5', false]]]);
    expect(s.placeName(1, 0, s.triedRules)).toBe('gallery rule “Gallery caps”, mapping 1');
    expect(s.simRules).toHaveLength(2);
    expect(s.applyHold).toBe('nothing');
    s.addRules(doc, 1);
    expect([s.trial, s.triedRules]).toEqual([undefined, s.simRules]);
    expect(s.applyBody.ruleList).toEqual([{ keep: 0 }, { rule: doc[0] }, { keep: 1 }]);
    // A gallery mapping shown in a form is never an edit.
    const shown = importRule(doc[0]).mappings[0];
    const before = s.ruleSet;
    s.updateMapping(shown.id, (m) => ({ ...m, enabled: false }));
    expect(s.ruleSet).toBe(before);
    s.undo();
    expect(s.applyHold).toBe('nothing');
  });
});
