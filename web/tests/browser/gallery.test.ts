import { readFileSync } from 'node:fs';
import { gunzipSync } from 'node:zlib';
import type { Browser, Page } from 'playwright-core';
import { afterAll, beforeAll, describe, expect, it } from 'vitest';
import { en } from '../../src/i18n/en';
import { ja } from '../../src/i18n/ja';
import { axeFindings, done, fetched, launch, openPage, realConfig, sampleInventory, shot } from './harness.mjs';

// The public rule gallery in the page: the snapshot found and tried with a real configuration loaded,
// a rule added where chosen and applied as the gallery has it; what the native fetch refuses, shown
// in both languages; the tree and the list worked from the keyboard. The stand-in answers fetches.

let browser: Browser;
beforeAll(async () => { browser = await launch(); });
afterAll(async () => { await browser?.close(); });

const snapshot = JSON.parse(gunzipSync(readFileSync(new URL('../../gallery/gallery.json.gz', import.meta.url))).toString());
const galleryDoc = (path: string) => JSON.parse(snapshot.documents[path]);
const site = (path: string) => `https://ke-complex-modifications.pqrs.org/${path}`;
const bridge = (page: Page) => page.evaluate(() => (window as any).__bridge);
const openGallery = async (page: Page, name = 'Gallery') => {
  await page.getByRole('button', { name }).click();
  await page.getByRole('tree').waitFor({ timeout: 20000 });
};
/** The page's text with the catalog's placeholders filled. */
const fill = (text: string, params: Record<string, string | number> = {}) => text.replace(/\{(\w+)\}/g, (_, k: string) => String(params[k]));

describe('the gallery, tried as a new user with a real configuration', () => {
  it('finds home row mods and a Japanese input-source rule by search, tries each with the whole profile, adds one where chosen and applies it unchanged', async () => {
    const config = realConfig('simple-modifications.json');
    const before = structuredClone(config.profiles[0]);
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config, fetchAnswers: {} } });
    await expect.poll(() => page.locator('.installed .summary').innerText()).toContain('5 rules');
    await openGallery(page);
    // Where the profile's rules came from: its Caps Lock rule is the gallery's.
    expect(await page.locator('.galintro li').allInnerTexts()).toEqual(['Change caps_lock to dual keys, escape and left_control.']);
    expect(await axeFindings(page), 'gallery').toEqual([]);

    // Home row mods: searched, opened from the keyboard, tried.
    const search = page.getByLabel('Search the gallery');
    await search.fill('home row mods');
    await search.press('ArrowDown');
    await page.keyboard.press('Enter');
    await expect.poll(() => page.locator('#galdoc-title').innerText()).toBe('HRM: Home Row Mods ⌃⌥⌘⇧');
    // Against this profile: its simple modification changes escape before any rule sees it.
    expect(await page.locator('details.galfindings > summary').innerText()).toMatch(/^With your profile: \d+ mappings never fire/);
    await shot(page, 'gallery-search');
    await page.locator('li.galrule').getByRole('button', { name: 'Try it' }).click();
    await expect.poll(() => page.locator('.trial h3').innerText()).toBe('Trying “HRM: Home Row Mods ⌃⌥⌘⇧” from the gallery: 1 rule at place 6, not added yet');
    await page.locator('.kbkey[data-key=f]').click();
    await expect.poll(() => page.locator('ol.simlog > li').first().innerText()).toMatch(/taken by\s+gallery rule “HRM: Home Row Mods hold a or ; for ⌃/);
    expect(await page.locator('.kbkey[data-key=j]').getAttribute('class')).toContain('mapped');
    expect(await axeFindings(page), 'Try it with gallery rules').toEqual([]);
    await page.getByRole('button', { name: 'Back to the gallery' }).click();

    // A Japanese input-source rule: searched in Japanese, tried, added at place 3.
    const path = 'json/left_cmd-EN-right_cmd-CH-right_option-JA.json';
    const rule = galleryDoc(path).rules[0];
    await search.fill('入力ソース 日本語');
    const option = page.getByRole('option', { name: /Switch EN\/CH\/JA with left_cmd/ });
    await option.focus();
    await page.keyboard.press('Enter');
    await expect.poll(() => page.locator('#galdoc-title').innerText()).toBe('Switch EN/CH/JA with left_cmd, right_cmd, and right_option');
    expect(await option.getAttribute('aria-selected')).toBe('true');
    await page.locator('li.galmapping .summary').nth(2).click();
    // The form shows the mapping and takes no input.
    const form = page.locator('fieldset.readonly');
    expect(await form.locator('input, select, textarea, button').evaluateAll((els) => els.filter((e) => e.matches(':enabled')).length)).toBe(0);
    expect(await form.locator('input').evaluateAll((els) => els.map((e) => (e as HTMLInputElement).value))).toContain('right_option');
    expect(await axeFindings(page), 'a document with a form open').toEqual([]);
    expect(await page.evaluate(() => [document.documentElement, document.querySelector('.galdoc') as HTMLElement].every((el) => el.scrollWidth <= el.clientWidth)), 'fits 900 x 640').toBe(true);
    await page.getByLabel('Add at').selectOption('2');
    await page.getByRole('button', { name: 'Try the chosen rule in Try it' }).click();
    await expect.poll(() => page.locator('.trial h3').innerText()).toContain('1 rule at place 3');
    await page.locator('.kbkey[data-key=right_option]').click();
    await expect.poll(() => page.locator('ol.simlog > li').first().innerText()).toContain('{"language":"ja"}');
    await page.locator('.trial').evaluate((el) => el.scrollIntoView());
    await shot(page, 'gallery-try');
    await page.getByRole('button', { name: 'Back to the gallery' }).click();
    await page.getByRole('button', { name: 'Add the chosen rule' }).click();
    await expect.poll(() => page.locator('li.galrule .galrulemeta').innerText()).toContain('added, not applied yet: rule 3');

    await page.getByRole('button', { name: 'Apply…' }).click();
    const dialog = page.getByRole('dialog');
    expect(await dialog.locator('ul[aria-labelledby=apply-added] .desc').allInnerTexts()).toEqual([rule.description]);
    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await expect.poll(() => dialog.innerText()).toContain('karabiner.backup-');
    await dialog.getByRole('button', { name: 'Close' }).click();
    const [body] = (await bridge(page)).messages.filter((m: { name: string }) => m.name === 'tarvelApply').map((m: { body: unknown }) => m.body);
    expect(body).toEqual({ baseDigest: config.digest, ruleList: [{ keep: 0 }, { keep: 1 }, { rule }, { keep: 2 }, { keep: 3 }, { keep: 4 }] });
    const after = (await bridge(page)).config.profiles[0];
    expect(after.rules[2]).toEqual(rule);
    expect(after).toEqual({ ...before, rules: [...before.rules.slice(0, 2), rule, ...before.rules.slice(2)] });
    // Read again: the added rule is the profile's, in its place.
    await expect.poll(() => page.locator('li.galrule .galrulemeta').innerText()).toContain('in your profile: rule 3');
    await done(page);
  });
});

describe('the network through the native side', () => {
  // What the native fetch refuses (its own tests use a local server), as the app answers.
  const refusals: [string, string, Record<string, unknown>][] = [
    ['http://example.com/rules.json', 'notHttps', { error: 'only https:// addresses and Karabiner-Elements import links can be fetched, not "http://example.com/rules.json"' }],
    ['https://example.com/big.json', 'tooLarge', { error: 'the answer from https://example.com/big.json is larger than 5 MB' }],
    ['https://example.com/slow.json', 'timeout', { error: 'https://example.com/slow.json did not answer within 20 seconds' }],
    ['https://example.com/loop.json', 'tooManyRedirects', { error: 'https://example.com/loop.json redirected more than 5 times' }],
    ['https://example.com/page.html', 'notRuleDocument', { error: 'https://example.com/page.html is not a Karabiner-Elements rule document: it is not JSON (syntax error while parsing value)' }],
    ['https://example.com/gone.json', 'httpStatus', { error: 'the server answered 404 for https://example.com/gone.json', status: 404 }],
    ['https://nowhere.example/r.json', 'offline', { error: 'could not reach nowhere.example: the tests have no network' }],
  ];
  const caps = 'json/caps_lock_tapped_escape_held_left_control.json';
  const newer = { ...galleryDoc(caps), rules: [...galleryDoc(caps).rules, { description: 'Also: right_control alone to escape', manipulators: [{ type: 'basic', from: { key_code: 'right_control' }, to: [{ key_code: 'right_control' }], to_if_alone: [{ key_code: 'escape' }] }] }] };
  const mine = { title: 'My rules', rules: [{ description: 'F13 to Mission Control', manipulators: [{ type: 'basic', from: { key_code: 'f13' }, to: [{ apple_vendor_keyboard_key_code: 'mission_control' }] }] }] };
  // The site's index lists one document the snapshot has not.
  const added = { title: 'Added since', rules: [{ description: 'F14 to Launchpad', manipulators: [{ type: 'basic', from: { key_code: 'f14' }, to: [{ apple_vendor_keyboard_key_code: 'launchpad' }] }] }] };
  const index = { index: [{ id: 'key-specific', name: 'Key Specific', files: [{ path: caps }, { path: 'json/added_since.json' }] }] };
  const link = `karabiner://karabiner/assets/complex_modifications/import?url=${encodeURIComponent('https://example.com/mine.json')}`;
  const fetchAnswers: Record<string, unknown> = {
    ...Object.fromEntries(refusals.filter(([, code]) => code !== 'offline').map(([url, code, more]) => [url, { ok: false, code, ...more }])),
    [site(caps)]: fetched(site(caps), JSON.stringify(newer, null, 2)),
    [link]: fetched('https://example.com/mine.json', JSON.stringify(mine)),
    [site('groups.json')]: { ok: true, url: site('groups.json'), index, text: JSON.stringify(index) },
    [site('json/added_since.json')]: fetched(site('json/added_since.json'), JSON.stringify(added)),
  };

  it.each([['en', en], ['ja', ja]] as const)('%s: every refusal says what it means and shows the app’s text; a link opens its document; newer rules are found', async (lang, catalog) => {
    const page = await openPage(browser, { lang: lang === 'ja' ? 'ja-JP' : 'en-US', bridge: { inventory: sampleInventory(), config: realConfig('simple-modifications.json'), fetchAnswers } });
    await openGallery(page, catalog['app.gallery']);
    await page.getByRole('button', { name: catalog['gallery.fromUrlButton'] }).click();
    const field = page.getByLabel(catalog['gallery.urlLabel']);
    const alert = page.locator('form.fromurl [role=alert]');
    for (const [url, code, more] of refusals) {
      await field.fill(url);
      await page.getByRole('button', { name: catalog['gallery.fetch'], exact: true }).click();
      await expect.poll(() => alert.locator('p.explain').innerText().catch(() => '')).toBe(fill(catalog[`gallery.fetch.${code}` as keyof typeof en], { status: 404 }));
      expect(await alert.locator('pre').innerText()).toBe(more.error);
    }
    if (lang === 'en') expect(await axeFindings(page), 'a refusal').toEqual([]);
    await shot(page, `gallery-url-${lang}`);
    await field.fill(link);
    await page.getByRole('button', { name: catalog['gallery.fetch'], exact: true }).click();
    await expect.poll(() => page.locator('#galdoc-title').innerText()).toBe('My rules');
    expect(await page.locator('.galdocument .source').innerText()).toContain('https://example.com/mine.json');
    expect(await page.locator('form.fromurl').count()).toBe(0);

    // "Check for newer rules": the document the profile's Caps Lock rule came from has a new rule on the site.
    await page.getByRole('button', { name: catalog['gallery.checkAll'] }).click();
    const checks = page.locator('section.checks li').first();
    await expect.poll(() => checks.innerText()).toContain(fill(catalog['gallery.newer'], { added: 1, changed: 0, removed: 0 }));
    await expect.poll(() => page.locator('#galnew').innerText()).toBe(fill(catalog['gallery.indexNew'], { n: 1 }));
    expect(await page.locator('ul.galnew').innerText()).toBe(`added_since.json · ${catalog['gallery.group.key-specific']}`);
    await page.getByRole('button', { name: 'added_since.json' }).click();
    await expect.poll(() => page.locator('#galdoc-title').innerText()).toBe('Added since');
    await checks.getByRole('button').click();
    await expect.poll(() => page.locator('.galdocument .source').innerText()).toContain(site(caps));
    expect(await page.locator('li.galrule h3').allInnerTexts()).toEqual(newer.rules.map((r: { description: string }) => r.description));
    expect((await bridge(page)).messages.filter((m: { name: string }) => m.name === 'tarvelFetch').map((m: { body: { url: string } }) => m.body.url))
      .toEqual([...refusals.map(([url]) => url), link, site(caps), site('groups.json'), site('json/added_since.json')]);
    expect((await bridge(page)).messages.find((m: { body: { url: string } }) => m.body.url === site('groups.json')).body).toEqual({ url: site('groups.json'), kind: 'galleryIndex' });
    await done(page);
  });
});

describe('keyboard and preview', () => {
  it('the groups are a tree and the results a list, worked with the arrow keys and Enter, focus shown; outside the app nothing is fetched', async () => {
    const page = await openPage(browser, { lang: 'ja-JP' });
    await openGallery(page, 'ギャラリー');
    expect(await page.getByRole('button', { name: '新しいルールを確認' }).isDisabled()).toBe(true);
    expect(await page.locator('.galtools .hint').innerText()).toBe(ja['gallery.noFetch']);
    const focused = () => page.evaluate(() => {
      const el = document.activeElement as HTMLElement;
      return { key: el.dataset.key, visible: el.matches(':focus-visible') && getComputedStyle(el).outlineStyle !== 'none', expanded: el.getAttribute('aria-expanded') };
    });
    await page.getByLabel('ギャラリーを検索').press('ArrowDown');
    expect(await focused()).toEqual({ key: 'g:os-functionality', visible: true, expanded: 'false' });
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('ArrowRight');
    expect(await focused()).toMatchObject({ key: 'g:modifier-keys', expanded: 'true' });
    await page.keyboard.press('ArrowRight');
    await page.keyboard.press('ArrowDown');
    const second = snapshot.groups.find((g: { id: string }) => g.id === 'modifier-keys').documents[1];
    expect(await focused()).toMatchObject({ key: `d:modifier-keys:${second}`, visible: true });
    await page.keyboard.press('Enter');
    await expect.poll(() => page.locator('#galdoc-title').innerText()).toBe(galleryDoc(second).title.trim());
    await page.keyboard.press('ArrowLeft');
    expect(await focused()).toMatchObject({ key: 'g:modifier-keys' });
    await page.keyboard.press('ArrowLeft');
    await page.keyboard.press('End');
    expect(await focused()).toMatchObject({ key: 'g:example-others', expanded: 'false' });
    expect(await page.locator('[role=treeitem][aria-level="1"] > .gname').first().innerText()).toBe('OS の機能');
    await shot(page, 'gallery-ja');
    expect(await axeFindings(page), 'the tree').toEqual([]);

    await page.getByLabel('ギャラリーを検索').fill('日本語');
    await page.getByLabel('ギャラリーを検索').press('ArrowDown');
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('Home');
    await page.keyboard.press('Enter');
    await expect.poll(() => page.locator('#galdoc-title').innerText()).toContain('日本語');
    expect(await page.locator('[role=option][aria-selected=true]').count()).toBe(1);
    expect(await axeFindings(page), 'the results').toEqual([]);
    // In a preview rules are tried and added all the same; Apply stays off.
    await page.getByRole('button', { name: /^選んだ \d+ 件を追加$/ }).click();
    await page.getByRole('button', { name: 'ギャラリー' }).click();
    expect(await page.locator('li.rulerow').count()).toBeGreaterThan(1);
    await done(page);
  });
});
