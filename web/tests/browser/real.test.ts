import type { Browser, Page } from 'playwright-core';
import { afterAll, beforeAll, describe, expect, it } from 'vitest';
import { jsonChanges } from '../../src/model/diff';
import { axeFindings, done, launch, openPage, realConfig, sampleInventory, shot } from './harness.mjs';

// Three real karabiner.json files from public dotfiles (tests/fixtures/configs), tried as a new user
// would: every rule open without adopting it, one edited where it is, a simple modification changed.
// The stand-in writes what the page asks at the level of values; the bytes are the writer's tests'.

let browser: Browser;
beforeAll(async () => { browser = await launch(); });
afterAll(async () => { await browser?.close(); });

const bridge = (page: Page) => page.evaluate(() => (window as any).__bridge);
const applies = async (page: Page) => (await bridge(page)).messages.filter((m: { name: string }) => m.name === 'tarvelApply').map((m: { body: unknown }) => m.body);
const applyButton = (page: Page) => page.getByRole('button', { name: 'Apply…' });
const listNames = (page: Page) => page.locator('li.rulerow .text').allInnerTexts();
const keepAllBut = (n: number, i: number, entry: unknown) => Array.from({ length: n }, (_, k) => (k === i ? entry : { keep: k }));

/** Every rule of the profile, opened from the overview: its place in the file is named and nothing changes. */
async function inspectEach(page: Page, descriptions: string[]) {
  for (let i = 0; i < descriptions.length; i++) {
    await page.getByRole('tab', { name: 'In Karabiner-Elements' }).click();
    await page.locator('ol.installed-rules > li').nth(i).getByRole('button', { name: /^Show/ }).click();
    expect(await page.locator('.editor .inplace').innerText(), descriptions[i]).toContain(`Rule ${i + 1} of the profile in karabiner.json`);
    expect(await page.locator('.editor select').first().inputValue()).toBeTruthy();
  }
  expect(await applyButton(page).isDisabled()).toBe(true);
}

async function apply(page: Page) {
  await applyButton(page).click();
  const dialog = page.getByRole('dialog');
  await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
  await expect.poll(() => dialog.innerText()).toContain('karabiner.backup-');
  await dialog.getByRole('button', { name: 'Close' }).click();
}

describe('three real configurations, tried as a new user', () => {
  it('539 KB, 6 profiles: the profile in use opens whole; "Undo" is found; a rule switched off is sent as an edit of its "enabled" alone', async () => {
    const config = realConfig('six-profiles.json');
    const before = structuredClone(config.profiles);
    const rules = before[0].rules as { description: string }[];
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config } });
    await expect.poll(() => page.locator('.installed .summary').innerText()).toBe('25 rules (25 on), 44 manipulators · 0 simple modifications · 9 devices');
    expect(await page.getByRole('combobox', { name: 'Profile' }).inputValue()).toBe('0');
    await inspectEach(page, rules.map((r) => r.description));

    await page.getByLabel('Search mappings').fill('Undo');
    expect(await listNames(page)).toEqual(['Ctrl+Z => Cmd+Z (Undo)']);
    await page.locator('li.rulerow').getByRole('checkbox').uncheck();
    await page.getByLabel('Search mappings').fill('');
    await shot(page, 'editor-profile');
    await apply(page);
    const [body] = await applies(page);
    expect(body).toEqual({ baseDigest: config.digest, ruleList: keepAllBut(25, 2, { edit: 2, rule: { ...rules[2], enabled: false } }) });
    const after = (await bridge(page)).config.profiles;
    // Only that rule changed, and in it only "enabled"; the other profiles are as they were.
    expect(after[0].rules.filter((_: unknown, i: number) => i !== 2)).toEqual(rules.filter((_, i) => i !== 2));
    expect(jsonChanges(rules[2], after[0].rules[2]).changes).toEqual([{ path: ['enabled'], after: false }]);
    expect(after.slice(1)).toEqual(before.slice(1));
    await expect.poll(() => applyButton(page).isDisabled()).toBe(true);

    // Another profile is its own document.
    await page.getByRole('tab', { name: 'In Karabiner-Elements' }).click();
    await page.getByRole('combobox', { name: 'Profile' }).selectOption('3');
    await expect.poll(() => page.locator('.installed .summary').innerText()).toContain('18 rules');
    expect(await page.locator('ol.installed-rules > li').count()).toBe(18);
    await done(page);
  });

  it('comments: the file says so; a rule under a section comment removed says where its comment stays; a mapping edited in a form edits only its rule', async () => {
    const config = realConfig('comments.json');
    const rules = structuredClone(config.profiles[0].rules) as { description: string }[];
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config } });
    await expect.poll(() => page.locator('.installed').innerText()).toContain('It has comments; they stay as they are.');
    await inspectEach(page, rules.map((r) => r.description));

    // The first rule sits under the file's section comments.
    await page.getByLabel('Search mappings').fill('emacs cancel');
    await page.locator('li.rulerow').hover();
    await page.locator('li.rulerow').getByRole('button', { name: 'Delete rule “emacs cancel”' }).click();
    await page.getByLabel('Search mappings').fill('emacs up');
    await page.locator('li.mapping .summary').first().click();
    const label = page.getByLabel('Description (optional)');
    const edited = (await label.count()) > 0;
    if (edited) await label.fill('up, as Emacs has it');
    else await page.locator('li.mapping').first().getByRole('checkbox').uncheck();
    await applyButton(page).click();
    const dialog = page.getByRole('dialog');
    expect(await dialog.locator('ul.notes').innerText()).toBe('The comments around “emacs cancel” are kept, before “emacs up”.');
    expect(await dialog.locator('ul[aria-labelledby=apply-changed] .desc').allInnerTexts()).toEqual(['emacs up']);
    expect(await axeFindings(page), 'confirmation').toEqual([]);
    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await expect.poll(() => dialog.innerText()).toContain('karabiner.backup-');
    const [body] = await applies(page);
    expect(body.ruleList).toHaveLength(37);
    expect(body.ruleList.slice(1)).toEqual(Array.from({ length: 36 }, (_, k) => ({ keep: k + 2 })));
    expect(body.ruleList[0]).toMatchObject({ edit: 1 });
    const changes = jsonChanges(rules[1], body.ruleList[0].rule).changes;
    expect(changes.length).toBe(1);
    expect(changes[0].path.slice(0, 2)).toEqual(['manipulators', 0]);
    // The stand-in carries the comment to the next rule that stays, as the writer does.
    expect((await bridge(page)).config.profiles[0].commentedRules).toEqual([0, 16, 21, 26, 27]);
    await done(page);
  });

  it('simple modifications and changed parameters: on the picture, in the overview and as the forms’ timing; one edited is the only value sent', async () => {
    const config = realConfig('simple-modifications.json');
    const before = structuredClone(config.profiles[0]);
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config } });
    await expect.poll(() => page.locator('.kbkey[data-key=caps_lock]').getAttribute('aria-label')).toContain('simple modification → Escape');
    expect(await page.locator('.kbkey[data-key=escape]').getAttribute('aria-label')).toContain('simple modification → Caps Lock');
    expect(await page.locator('.installed .summary').innerText()).toBe('5 rules (3 on), 9 manipulators · 2 simple modifications · 8 devices');
    expect(await page.locator('fieldset.modlist > legend').allInnerTexts()).toEqual(['Simple modifications (2)', 'Function keys (4)']);
    expect(await page.locator('fieldset.modlist').first().locator('code').allInnerTexts()).toEqual(['caps_lock → Escape', 'escape → Caps Lock']);
    expect(await page.locator('.profilevalues details > summary').allInnerTexts()).toContain('Device 2 · 1539/254 · keyboard · 3 simple modifications of its own');
    const params = page.locator('.profilevalues fieldset', { hasText: 'Timing of complex modifications' }).locator('input');
    expect(await params.evaluateAll((els) => els.map((e) => (e as HTMLInputElement).value))).toEqual(['', '500', '150', '300', '']);
    await inspectEach(page, (before.rules as { description: string }[]).map((r) => r.description));
    // A form's timing without its own value shows the profile's.
    await page.getByRole('tab', { name: 'Recipes' }).click();
    await page.getByRole('button', { name: 'Add: Caps Lock → Control / Escape' }).click();
    await page.locator('li.mapping').first().locator('.summary').click();
    expect(await page.getByLabel('A tap ends within').getAttribute('placeholder')).toBe('500');
    await page.getByRole('button', { name: 'Undo' }).click();

    await page.getByRole('tab', { name: 'In Karabiner-Elements' }).click();
    const simple = page.locator('fieldset.modlist').first();
    await simple.locator('li.simplemod').nth(1).getByRole('button', { name: 'Simple modifications 2: Edit' }).click();
    await simple.locator('li.simplemod').nth(1).locator('input[list="tarvel-key_code"]').nth(1).fill('left_control');
    expect(await page.locator('.kbkey[data-key=escape]').getAttribute('aria-label')).toContain('simple modification → Control');
    await shot(page, 'config-values');
    expect(await axeFindings(page), 'overview with values').toEqual([]);
    await apply(page);
    const [body] = await applies(page);
    const value = [before.simpleModifications[0], { from: { key_code: 'escape' }, to: [{ key_code: 'left_control' }] }];
    expect(body).toEqual({ baseDigest: config.digest, ruleList: [0, 1, 2, 3, 4].map((keep) => ({ keep })), values: [{ path: ['simple_modifications'], value }] });
    const after = (await bridge(page)).config.profiles[0];
    expect(after).toEqual({ ...before, simpleModifications: value });
    await expect.poll(() => applyButton(page).isDisabled()).toBe(true);
    await done(page);
  });
});
