import type { Browser, Page } from 'playwright-core';
import { afterAll, beforeAll, describe, expect, it } from 'vitest';
import { axeFindings, done, launch, openPage, PAGE_URL, sampleInventory, shot } from './harness.mjs';

// karabiner.json as the app reads it for the page, with a stand-in that writes it as the app does.

let browser: Browser;
beforeAll(async () => { browser = await launch(); });
afterAll(async () => { await browser?.close(); });

const GRAVE = { from: { key_code: 'grave_accent_and_tilde' }, to: [{ key_code: 'escape' }] };
const CAPS = { type: 'basic', from: { key_code: 'caps_lock', modifiers: { optional: ['any'] } }, to: [{ key_code: 'left_control' }], to_if_alone: [{ key_code: 'escape' }] };
const CURL = `curl -fsSL https://example.com/install-${'x'.repeat(90)}.sh | sh`;
const REVERSED = 'open -a /Applications/\u202Eppa.irafaS';
const DIGEST = `sha256:${'a'.repeat(64)}`;
const key = (from: string, mods: string[], to: object) => ({ type: 'basic', from: { key_code: from, modifiers: { mandatory: mods } }, to: [to] });
const RULES = [
  { description: '[Tarvel] Keys: Caps Lock → Control / Escape', manipulators: [CAPS] },
  { description: 'Install tools', manipulators: [key('f5', ['command'], { shell_command: CURL })] },
  { description: 'Open Safari', manipulators: [key('s', ['control', 'option'], { shell_command: REVERSED })] },
  { description: 'Vim arrows', enabled: false, manipulators: ['h', 'j', 'k', 'l'].map((k, i) => key(k, ['fn'], { key_code: ['left_arrow', 'down_arrow', 'up_arrow', 'right_arrow'][i] })) },
];
function karabiner() {
  return {
    path: '/Users/me/.config/karabiner/karabiner.json', digest: DIGEST, hasComments: true,
    profiles: [
      {
        name: 'Default profile', selected: true, rules: RULES, devices: [{ vendor_id: 1452, product_id: 641, is_keyboard: true }], commentedRules: [1],
        simpleModifications: [{ from: { key_code: 'caps_lock' }, to: [{ key_code: 'left_control' }] }, { from: { key_code: 'grave_accent_and_tilde' }, to: [{ key_code: 'escape' }] }],
        fnFunctionKeys: [], parameters: { 'basic.to_if_alone_timeout_milliseconds': 250 }, keyboardType: 'iso',
        deviceSettings: [{ identifiers: { vendor_id: 1452, product_id: 641, is_keyboard: true }, ignore: false, simple_modifications: [{ from: { key_code: 'right_command' }, to: [{ key_code: 'right_option' }] }] }],
      },
      { name: 'Games', selected: false, rules: [], devices: [] },
    ],
    backups: [{
      name: 'karabiner.backup-20251231-235959.json', path: '/Users/me/.config/karabiner/karabiner.backup-20251231-235959.json',
      modified: '2025-12-31T23:59:59+09:00', size: 17312, rules: [{ description: 'Install tools', enabled: true, manipulators: 1 }],
    }],
  };
}

const bridgeState = (page: Page) => page.evaluate(() => (window as any).__bridge);
const names = async (page: Page) => (await bridgeState(page)).messages.map((m: { name: string }) => m.name);
const applies = async (page: Page) => (await bridgeState(page)).messages.filter((m: { name: string }) => m.name === 'tarvelApply').map((m: { body: unknown }) => m.body);
const profileRules = async (page: Page, i = 0) => (await bridgeState(page)).config.profiles[i].rules;
const installedRows = (page: Page) => page.locator('ol.installed-rules > li').evaluateAll((els) => els.map((e) => [
  e.className, (e.querySelector('.desc') as HTMLElement).innerText, (e.querySelector('.badge.on, .badge.off') as HTMLElement).innerText,
  (e.querySelector('.mcount') as HTMLElement).innerText, !!e.querySelector('.badge.own'),
]));
/** The list: each rule with its place, its name and what the document says of it. */
const listRules = (page: Page) => page.locator('li.rulerow').evaluateAll((els) => els.map((e) => [
  (e.querySelector('.pos') as HTMLElement).innerText, (e.querySelector('.text') as HTMLElement).innerText,
  [...e.querySelectorAll('.badge')].map((b) => (b as HTMLElement).innerText).join(' '),
]));
const applyButton = (page: Page) => page.getByRole('button', { name: 'Apply…' });
const listTexts = (page: Page) => page.locator('li.mapping .summary .text').allInnerTexts();
const tab = (page: Page, name: string) => page.getByRole('tab', { name }).click();
const ruleRow = (page: Page, text: string) => page.locator('li.rulerow', { has: page.locator('.text', { hasText: text }) });

describe('karabiner.json in the editor', () => {
  it('every installed rule is in the list, the picture and search without adopting it; the overview comes first; nothing to apply', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await expect.poll(() => names(page)).toEqual(['tarvelApps', 'tarvelConfig']);
    await expect.poll(() => page.locator('[role=tab][aria-selected=true]').innerText()).toBe('In Karabiner-Elements');
    expect(await listRules(page)).toEqual([
      ['1', 'Keys: Caps Lock → Control / Escape', 'Tarvel'], ['2', 'Install tools', ''], ['3', 'Open Safari', ''], ['4', 'Vim arrows', ''],
    ]);
    expect(await applyButton(page).isDisabled()).toBe(true);
    expect(await applyButton(page).getAttribute('title')).toContain('Nothing to apply');
    expect(await page.locator('.installed').innerText()).toContain('/Users/me/.config/karabiner/karabiner.json · It has comments');
    expect(await page.locator('.installed .summary').innerText()).toBe('4 rules (3 on), 7 manipulators · 2 simple modifications · 1 device');
    expect(await installedRows(page)).toEqual([
      ['fate-same', 'Keys: Caps Lock → Control / Escape', 'on', '1 manipulator', true],
      ['fate-same', 'Install tools', 'on', '1 manipulator', false],
      ['fate-same', 'Open Safari', 'on', '1 manipulator', false],
      ['fate-same', 'Vim arrows', 'off', '4 manipulators', false],
    ]);
    // What every rule runs can be read before anything is applied.
    expect(await page.locator('.installed ul.commands code').allInnerTexts()).toEqual([CURL, 'open -a /Applications/⟨U+202E⟩ppa.irafaS']);
    // The picture: every rule's keys, the simple modification written on its key.
    expect(await page.locator('.kbkey.mapped').evaluateAll((els) => els.map((e) => (e as HTMLElement).dataset.key))).toEqual(expect.arrayContaining(['f5', 's', 'h', 'j', 'k', 'l', 'caps_lock']));
    expect(await page.locator('.kbkey[data-key=caps_lock]').getAttribute('aria-label')).toContain('simple modification → Control');
    // Search finds a rule that came from the file, by what it runs.
    await page.getByLabel('Search mappings').fill('safari');
    expect(await page.locator('li.mapping .summary .text').allInnerTexts()).toEqual(['⌃⌥S → Shell command']);
    await page.locator('li.mapping .summary').click();
    expect(await page.locator('.editor .inplace').innerText()).toContain('Rule 3 of the profile in karabiner.json');
    // Shown, not changed: opening a form is no edit.
    expect(await applyButton(page).isDisabled()).toBe(true);
    await page.getByLabel('Search mappings').fill('');
    await tab(page, 'In Karabiner-Elements');
    await shot(page, 'config-panel');
    expect(await axeFindings(page), 'overview').toEqual([]);

    // Every rule takes part in Try it, and the profile's devices are offered.
    await tab(page, 'Try it');
    await page.getByRole('button', { name: '⌘ left command' }).click();
    await page.locator('.kbkey[data-key=f5]').click();
    expect(await page.locator('li.outcome').first().innerText()).toContain('Install tools');
    expect(await page.locator('select option', { hasText: '1452/641' }).count()).toBe(1);
    // So do the profile's simple modifications and keyboard type.
    await page.getByRole('button', { name: '⌘ left command' }).click();
    await page.locator('.kbkey[data-key=grave_accent_and_tilde]').click();
    expect(await page.locator('li.outcome').first().locator('.sent').allInnerTexts()).toEqual(['Escape down', 'Escape up']);
    expect(await page.locator('li.outcome').first().innerText()).toContain('simple modification');
    expect(await page.getByLabel('Keyboard type').inputValue()).toBe('iso');
    await done(page);
  });

  it('edits where the rules are: switched off, moved, removed; the confirmation says each, field by field, and where comments go; the body names each rule once', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await expect.poll(() => listRules(page).then((r) => r.length)).toBe(4);
    await ruleRow(page, 'Open Safari').getByRole('checkbox').uncheck();
    await ruleRow(page, 'Install tools').hover();
    await ruleRow(page, 'Install tools').getByRole('button', { name: 'Move “Install tools” up' }).click();
    await ruleRow(page, 'Vim arrows').hover();
    await ruleRow(page, 'Vim arrows').getByRole('button', { name: 'Delete rule “Vim arrows”' }).click();
    expect(await listRules(page)).toEqual([['1', 'Install tools', ''], ['2', 'Keys: Caps Lock → Control / Escape', 'Tarvel'], ['3', 'Open Safari', 'changed']]);
    await tab(page, 'In Karabiner-Elements');
    expect((await installedRows(page)).map((r) => r[0])).toEqual(['fate-same', 'fate-moved', 'fate-changed', 'fate-removed']);

    await applyButton(page).click();
    const dialog = page.getByRole('dialog');
    const section = async (id: string) => dialog.locator(`ul[aria-labelledby=${id}] .desc`).allInnerTexts();
    expect(await dialog.innerText()).toContain('Profile “Default profile” changes.');
    expect(await section('apply-changed')).toEqual(['Open Safari']);
    expect(await dialog.locator('ul[aria-labelledby=apply-changed] ul.changes').innerText()).toBe('switched off');
    expect(await section('apply-moved')).toEqual(['Install tools']);
    expect(await dialog.locator('ul[aria-labelledby=apply-moved] .fate').innerText()).toBe('from place 2 to 1');
    expect(await section('apply-removed')).toEqual(['Vim arrows']);
    expect(await section('apply-kept')).toEqual(['Keys: Caps Lock → Control / Escape']);
    expect(await dialog.locator('#apply-added').count()).toBe(0);
    // Every command the profile's rules run afterwards, in full, wrapped, with the reversing mark shown.
    const codes = dialog.locator('ul.commands code');
    expect(await codes.allInnerTexts()).toEqual([CURL, 'open -a /Applications/⟨U+202E⟩ppa.irafaS']);
    const box = await codes.first().evaluate((el) => ({ sw: el.scrollWidth, cw: el.clientWidth, h: el.clientHeight }));
    expect(box.sw).toBeLessThanOrEqual(box.cw);
    expect(box.h).toBeGreaterThan(30);
    await shot(page, 'config-apply-confirm');
    expect(await axeFindings(page), 'confirmation').toEqual([]);

    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await expect.poll(() => dialog.innerText()).toContain('karabiner.backup-20260101-120001.json');
    const [body] = await applies(page);
    expect(body).toEqual({
      baseDigest: DIGEST,
      ruleList: [{ keep: 1 }, { keep: 0 }, { edit: 2, rule: { ...RULES[2], enabled: false } }],
    });
    // The stand-in wrote what a writer writes; read again, that is the document, with nothing left to do.
    expect(await profileRules(page)).toEqual([RULES[1], RULES[0], { ...RULES[2], enabled: false }]);
    await dialog.getByRole('button', { name: 'Close' }).click();
    await expect.poll(() => installedRows(page).then((rows) => rows.map((r) => [r[0], r[1], r[2]]))).toEqual([
      ['fate-same', 'Install tools', 'on'], ['fate-same', 'Keys: Caps Lock → Control / Escape', 'on'], ['fate-same', 'Open Safari', 'off'],
    ]);
    expect(await applyButton(page).isDisabled()).toBe(true);
    // Apply, now off, cannot take focus back: the open tab does.
    await expect.poll(() => page.evaluate(() => document.activeElement?.textContent)).toBe('In Karabiner-Elements');
    await done(page);
  });

  it('the confirmation shows a changed member, where the comments of a removed rule go, and a key another rule takes after a move', async () => {
    const hold = (to: string) => ({ type: 'basic', from: { key_code: 'caps_lock', modifiers: { optional: ['any'] } }, to: [{ key_code: to }] });
    const config: any = karabiner();
    config.profiles[0].rules = [...RULES.slice(1, 3), { description: 'Caps → Right Control', manipulators: [hold('right_control')] }, { description: 'Hyper', manipulators: [hold('left_command')] }];
    config.profiles[0].commentedRules = [0];
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config } });
    await expect.poll(() => listRules(page).then((r) => r.length)).toBe(4);
    await ruleRow(page, 'Hyper').hover();
    await ruleRow(page, 'Hyper').getByRole('button', { name: 'Move “Hyper” up' }).click();
    await ruleRow(page, 'Install tools').hover();
    await ruleRow(page, 'Install tools').getByRole('button', { name: 'Delete rule “Install tools”' }).click();
    // An edit in a form: the key Open Safari's mapping sends.
    await page.locator('li.mapping', { hasText: '⌃⌥S' }).locator('.summary').click();
    await page.getByLabel('When I press 1', { exact: true }).fill('d');
    await applyButton(page).click();
    const dialog = page.getByRole('dialog');
    expect(await dialog.locator('ul[aria-labelledby=apply-changed] ul.changes').innerText()).toBe('manipulators[0].from.key_code: "s" → "d"');
    expect(await dialog.locator('ul.notes').innerText()).toBe('The comments around “Install tools” are kept, before “Open Safari”.');
    expect(await dialog.locator('.warnbox').innerText()).toContain('Caps Lock: “Hyper” takes it; before, “Caps → Right Control” did.');
    expect(await axeFindings(page), 'confirmation with warnings').toEqual([]);
    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await expect.poll(() => dialog.innerText()).toContain('karabiner.backup-');
    expect((await applies(page))[0].ruleList).toEqual([{ edit: 1, rule: expect.objectContaining({ description: 'Open Safari' }) }, { keep: 3 }, { keep: 2 }]);
    // The stand-in keeps the comment with the next rule that stays, as the writer does.
    expect((await bridgeState(page)).config.profiles[0].commentedRules).toEqual([0]);
    await done(page);
  });

  it('the rest of the profile: simple modifications on the picture and in the overview; an edit sends only that value', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await expect.poll(() => page.locator('.profilevalues').count()).toBe(1);
    const simple = page.locator('fieldset.modlist').first();
    expect(await simple.locator('legend').first().innerText()).toBe('Simple modifications (2)');
    expect(await simple.locator('li.simplemod code').first().innerText()).toBe('caps_lock → Control');
    await simple.getByRole('button', { name: 'Simple modifications 1: Edit' }).click();
    await simple.locator('input[list="tarvel-key_code"]').nth(1).fill('escape');
    expect(await page.locator('.kbkey[data-key=caps_lock]').getAttribute('aria-label')).toContain('simple modification → Escape');
    // The forms' default timing is the profile's.
    await page.getByRole('tab', { name: 'Recipes' }).click();
    await page.getByRole('button', { name: 'Add: Caps Lock → Control / Escape' }).click();
    await page.locator('li.mapping').first().locator('.summary').click();
    expect(await page.getByLabel('A tap ends within').getAttribute('placeholder')).toBe('250');
    await page.getByRole('button', { name: 'Undo' }).click();
    await applyButton(page).click();
    const dialog = page.getByRole('dialog');
    expect(await dialog.locator('ul[aria-labelledby=apply-values]').innerText()).toContain('to[0].key_code: "left_control" → "escape"');
    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await expect.poll(() => dialog.innerText()).toContain('karabiner.backup-');
    expect(await applies(page)).toEqual([{
      baseDigest: DIGEST, ruleList: [0, 1, 2, 3].map((keep) => ({ keep })),
      values: [{ path: ['simple_modifications'], value: [{ from: { key_code: 'caps_lock' }, to: [{ key_code: 'escape' }] }, GRAVE] }],
    }]);
    const after = (await bridgeState(page)).config.profiles[0];
    expect([after.simpleModifications, after.rules]).toEqual([[{ from: { key_code: 'caps_lock' }, to: [{ key_code: 'escape' }] }, GRAVE], RULES]);
    await done(page);
  });

  it('the profile chosen survives a reload of the page (as after a recovery), with the edits; another profile is its own document and is named', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await expect.poll(() => listRules(page).then((r) => r.length)).toBe(4);
    await ruleRow(page, 'Vim arrows').hover();
    await ruleRow(page, 'Vim arrows').getByRole('button', { name: 'Delete rule “Vim arrows”' }).click();
    await page.waitForTimeout(800);
    await page.reload();
    await page.waitForFunction(() => (window as any).__tarvelReady !== undefined);
    await tab(page, 'In Karabiner-Elements');
    await expect.poll(() => installedRows(page).then((rows) => rows.map((r) => r[0]))).toEqual(['fate-same', 'fate-same', 'fate-same', 'fate-removed']);
    await page.getByRole('button', { name: 'Put back “Vim arrows”' }).click();
    expect((await installedRows(page)).map((r) => r[0])).toEqual(['fate-same', 'fate-same', 'fate-same', 'fate-same']);

    await page.getByRole('tab', { name: 'Recipes' }).click();
    await page.getByRole('button', { name: 'Add: Disable a key' }).click();
    await tab(page, 'In Karabiner-Elements');
    await page.getByRole('combobox', { name: 'Profile' }).selectOption('1');
    expect(await page.locator('.installed').innerText()).toContain('Karabiner-Elements does not use this profile now');
    expect(await listRules(page)).toEqual([['1', 'Disable a key', 'Tarvel new']]);
    await applyButton(page).click();
    expect(await page.getByRole('dialog').innerText()).toContain('Profile “Games” changes; Karabiner-Elements does not use it now.');
    await page.getByRole('dialog').getByRole('button', { name: 'Apply', exact: true }).click();
    await page.getByRole('dialog').getByRole('button', { name: 'Close' }).click();
    expect(await applies(page)).toMatchObject([{ profile: 1, ruleList: [{ rule: { description: '[Tarvel] Disable a key' } }], baseDigest: DIGEST }]);
    expect(await profileRules(page, 0)).toEqual(RULES);
    await done(page);
  });

  it('the last apply is undone by restoring its backup, after a confirmation of what comes back', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await expect.poll(() => listRules(page).then((r) => r.length)).toBe(4);
    await ruleRow(page, 'Install tools').hover();
    await ruleRow(page, 'Install tools').getByRole('button', { name: 'Delete rule “Install tools”' }).click();
    await applyButton(page).click();
    await page.getByRole('dialog').getByRole('button', { name: 'Apply', exact: true }).click();
    await page.getByRole('dialog').getByRole('button', { name: 'Undo this apply…' }).click();
    const dialog = page.getByRole('dialog');
    expect(await dialog.locator('h2').innerText()).toBe('Restore this backup?');
    expect(await dialog.locator('.desc').allInnerTexts()).toEqual(['Keys: Caps Lock → Control / Escape', 'Install tools', 'Open Safari', 'Vim arrows']);
    expect(await dialog.innerText()).toContain('The current karabiner.json is saved as a backup first');
    await shot(page, 'config-restore');
    expect(await axeFindings(page), 'restore').toEqual([]);
    await dialog.getByRole('button', { name: 'Restore', exact: true }).click();
    await expect.poll(() => dialog.innerText()).toContain('karabiner.backup-20260101-120002.json');
    const restores = (await bridgeState(page)).messages.filter((m: { name: string }) => m.name === 'tarvelRestore');
    expect(restores.map((m: { body: unknown }) => m.body)).toEqual([{ name: 'karabiner.backup-20260101-120001.json', baseDigest: `sha256:${'1'.padStart(64, '0')}` }]);
    await dialog.getByRole('button', { name: 'Close' }).click();
    await expect.poll(() => installedRows(page).then((rows) => rows.map((r) => r[1]))).toEqual(['Keys: Caps Lock → Control / Escape', 'Install tools', 'Open Safari', 'Vim arrows']);
    // The restored file is the document again: the rule is back in the list, nothing to apply.
    expect((await listRules(page)).map((r) => r[1])).toEqual(['Keys: Caps Lock → Control / Escape', 'Install tools', 'Open Safari', 'Vim arrows']);
    expect(await applyButton(page).isDisabled()).toBe(true);

    // Every backup with its time, size and rules; the newest first, marked as the undo.
    await tab(page, 'Backups');
    const items = page.locator('ol.backuplist > li');
    expect(await items.count()).toBe(3);
    expect(await items.first().innerText()).toContain('newest: undoes the last change');
    expect(await items.nth(2).innerText()).toMatch(/Dec 31, 2025, 11:59:59 PM[\s\S]*16\.9 KB[\s\S]*karabiner\.backup-20251231-235959\.json[\s\S]*Install tools/);
    await shot(page, 'config-backups');
    expect(await axeFindings(page), 'backups').toEqual([]);
    await done(page);
  });

  it('a restore chosen while an apply is under way names the file its list came from; the apply’s answer waits behind it', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await expect.poll(() => listRules(page).then((r) => r.length)).toBe(4);
    await ruleRow(page, 'Vim arrows').getByRole('checkbox').check();
    await page.evaluate(() => { (window as any).__bridge.delay = 700; });
    await applyButton(page).click();
    const dialog = page.getByRole('dialog');
    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await dialog.getByRole('button', { name: /^Hide/ }).click();
    await tab(page, 'Backups');
    await page.locator('ol.backuplist button').first().click();
    // Answered and read again behind the confirmation.
    await expect.poll(() => names(page), { timeout: 5000 }).toEqual(['tarvelApps', 'tarvelConfig', 'tarvelApply', 'tarvelConfig']);
    expect(await dialog.count()).toBe(1);
    await dialog.getByRole('button', { name: 'Restore', exact: true }).click();
    await dialog.getByRole('button', { name: 'Close' }).click();
    const restores = (await bridgeState(page)).messages.filter((m: { name: string }) => m.name === 'tarvelRestore');
    expect(restores.map((m: { body: unknown }) => m.body)).toEqual([{ name: 'karabiner.backup-20251231-235959.json', baseDigest: DIGEST }]);
    await expect.poll(() => dialog.innerText()).toContain('karabiner.backup-20260101-120001.json');
    await done(page);
  });

  it('a file changed by another program: when the app says so the page reads it again, keeping the edits; an apply on the old file is refused and offers only a reload', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await expect.poll(() => listRules(page).then((r) => r.length)).toBe(4);
    await ruleRow(page, 'Install tools').getByRole('checkbox').uncheck();
    await page.evaluate((rules) => (window as any).__bridge.outsideChange([rules[0], { description: 'Added elsewhere', manipulators: [] }, rules[1]], true), RULES);
    await expect.poll(() => listRules(page).then((r) => r.map((x) => x[1]))).toEqual(['Keys: Caps Lock → Control / Escape', 'Added elsewhere', 'Install tools']);
    expect((await listRules(page))[2][2]).toBe('changed');

    await page.evaluate(() => (window as any).__bridge.outsideChange([{ description: 'Later', manipulators: [] }]));
    await applyButton(page).click();
    const dialog = page.getByRole('dialog');
    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await expect.poll(() => dialog.innerText()).toContain('karabiner.json changed since Tarvel read it, so nothing was written.');
    expect(await dialog.getByRole('button').allInnerTexts()).toEqual(['Reload karabiner.json']);
    expect(await dialog.locator('pre').count()).toBe(0);
    expect(await applyButton(page).isDisabled()).toBe(true);
    await dialog.getByRole('button', { name: 'Reload karabiner.json' }).click();
    await expect.poll(() => installedRows(page).then((rows) => rows.map((r) => r[1]))).toEqual(['Later']);
    await done(page);
  });

  it('live: a rule another program changes is shown within a second; the one the user changed too is marked, nothing is lost, and the user chooses', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await expect.poll(() => listRules(page).then((r) => r.length)).toBe(4);
    await ruleRow(page, 'Install tools').getByRole('checkbox').uncheck();
    // Karabiner-Elements' Settings (or a git pull) rewrites the file: the Caps rule and the one the user
    // switched off change, the Vim arrows go, a rule comes.
    const brew = key('f5', ['command'], { shell_command: 'brew bundle' });
    const theirs = [
      { ...RULES[0], manipulators: [{ ...CAPS, to_if_alone: [{ key_code: 'tab' }] }] },
      { description: 'Install tools', manipulators: [brew] },
      RULES[2],
      { description: 'Added elsewhere', manipulators: [key('e', ['fn'], { key_code: 'escape' })] },
    ];
    await page.evaluate((rules) => (window as any).__bridge.outsideChange(rules, true), theirs);
    const notice = page.locator('.banner[role=status]', { hasText: 'changed outside Tarvel' });
    await notice.waitFor({ timeout: 1000 });
    expect(await notice.innerText()).toContain('karabiner.json changed outside Tarvel: 2 rules changed, 1 rule added, 1 rule removed. Your changes are kept. '
      + '1 of your changes meets a change made there: choose whose version stays.');
    expect((await listRules(page)).map((r) => [r[1], r[2]])).toEqual([
      ['Keys: Caps Lock → Control / Escape', 'Tarvel'], ['Install tools', '⚠ choose'], ['Open Safari', ''], ['Added elsewhere', ''],
    ]);
    expect(await listTexts(page)).toContain('Caps Lock: tap → Tab, hold → Control');
    // The user's rule is as they left it: off, with its own command.
    expect(await ruleRow(page, 'Install tools').getByRole('checkbox').isChecked()).toBe(false);
    const conflicts = page.locator('section.conflicts');
    expect(await conflicts.locator('li .what').allInnerTexts()).toEqual(['“Install tools” was changed in karabiner.json while you changed it here.']);
    await conflicts.locator('summary').click();
    expect(await conflicts.locator('ul.changes').innerText()).toContain('"brew bundle" → "curl');
    await page.locator('.tabpanel').hover();
    await shot(page, 'config-outside-change');
    await notice.getByRole('button', { name: 'Dismiss' }).click();
    expect(await applyButton(page).isDisabled()).toBe(true);
    expect(await applyButton(page).getAttribute('title')).toBe('Something you changed was changed in karabiner.json too: choose whose version stays first.');
    expect(await page.locator('ol.installed-rules > li').nth(1).locator('.fate .hint').innerText())
      .toBe('Changed here and in karabiner.json: stays as the file has it until you choose whose version stays.');
    expect(await axeFindings(page), 'changed outside').toEqual([]);

    await conflicts.getByRole('button', { name: 'Keep mine: Install tools' }).click();
    expect(await conflicts.count()).toBe(0);
    await applyButton(page).click();
    const dialog = page.getByRole('dialog');
    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await dialog.getByRole('button', { name: 'Close' }).click();
    const [body] = await applies(page);
    expect(body.ruleList).toEqual([{ keep: 0 }, { edit: 1, rule: { ...RULES[1], enabled: false } }, { keep: 2 }, { keep: 3 }]);
    // Their version is in the backup the apply made; the apply's own re-read is no news.
    const state = await bridgeState(page);
    expect(Object.values(state.backupFiles as Record<string, any>)[0][0].rules[1]).toEqual(theirs[1]);
    await expect.poll(() => names(page)).toEqual(['tarvelApps', 'tarvelConfig', 'tarvelConfig', 'tarvelApply', 'tarvelConfig']);
    expect(await page.locator('.banner', { hasText: 'changed outside' }).count()).toBe(0);
    expect(await applyButton(page).isDisabled()).toBe(true);

    // Japanese, and a change with nothing of the user's in it.
    const ja = await openPage(browser, { lang: 'ja-JP', bridge: { inventory: sampleInventory(), config: karabiner() } });
    await expect.poll(() => ja.locator('li.rulerow').count()).toBe(4);
    await ja.evaluate((rules) => (window as any).__bridge.outsideChange(rules.slice(0, 3), true), RULES);
    await ja.locator('.banner[role=status]', { hasText: 'karabiner.json が Tarvel の外で変更されました(ルール 1 件が削除)。' }).waitFor({ timeout: 1000 });
    await done(ja);
    await done(page);
  });

  it('a file that cannot be read: the help in the user’s language beside the native text, Apply off until a reload reads it', async () => {
    const error = 'karabiner.json has a trailing comma at line 12, column 5; Karabiner-Elements does not accept it either';
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner(), configAnswers: [{ ok: false, error, code: 'trailingComma', line: 12, column: 5 }] } });
    await expect.poll(() => page.locator('.banner.warn').innerText()).toContain('karabiner.json could not be read');
    expect(await applyButton(page).isDisabled()).toBe(true);
    await page.locator('.banner.warn').getByRole('button', { name: 'Show' }).click();
    expect(await page.locator('.installed p.explain').innerText()).toBe('karabiner.json has a comma before a closing bracket (line 12, column 5); remove it. Karabiner-Elements refuses it too.');
    expect(await page.locator('.installed pre.error-text').innerText()).toBe(error);
    expect(await axeFindings(page), 'failure').toEqual([]);
    await page.locator('.installed').getByRole('button', { name: 'Reload' }).click();
    await expect.poll(() => installedRows(page).then((rows) => rows.length)).toBe(4);

    const ja = await openPage(browser, { lang: 'ja-JP', bridge: { inventory: sampleInventory(), config: karabiner(), configAnswers: [{ ok: false, error: 'karabiner.json has no profiles', code: 'noProfiles' }] } });
    await ja.getByRole('tab', { name: 'Karabiner-Elements' }).click();
    expect(await ja.locator('.installed p.explain').innerText()).toBe('karabiner.json にプロファイルがありません。Karabiner-Elements を一度開いて作成させてください。');
    await shot(ja, 'config-failure-ja');
    expect(await axeFindings(ja), 'failure in Japanese').toEqual([]);
    await done(ja);
    await done(page);
  });
});

describe('around the page', () => {
  it('after the app reloaded a dead page it says so, and a later reload is an ordinary one', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() }, query: '?recovered=1' });
    expect(await page.locator('.banner.warn').innerText()).toContain('The editor stopped and was reloaded');
    expect(page.url()).toBe(PAGE_URL);
    await page.waitForTimeout(5500);
    expect(await page.locator('.banner.warn').count()).toBe(1);
    await done(page);
  });

  it('installed applications the app left out are counted', async () => {
    const page = await openPage(browser, { bridge: { inventory: { ...sampleInventory(), installedOmitted: 1234 } } });
    await expect.poll(() => page.locator('.recipe[data-recipe=focusApp] .applist').innerText()).toContain('And 1234 more applications that are installed but not listed.');
    await done(page);
  });
});
