import type { Browser, Page } from 'playwright-core';
import { afterAll, beforeAll, describe, expect, it } from 'vitest';
import { axeFindings, done, launch, openPage, PAGE_URL, sampleInventory, shot } from './harness.mjs';

// karabiner.json as the app reads it for the page, with a stand-in that writes it as the app does.

let browser: Browser;
beforeAll(async () => { browser = await launch(); });
afterAll(async () => { await browser?.close(); });

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
        name: 'Default profile', selected: true, rules: RULES, devices: [{ vendor_id: 1452, product_id: 641, is_keyboard: true }],
        simpleModifications: [{ from: { key_code: 'grave_accent_and_tilde' }, to: [{ key_code: 'escape' }] }], fnFunctionKeys: [],
        parameters: { 'basic.to_if_alone_timeout_milliseconds': 300 }, deviceSettings: [], keyboardType: 'iso',
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
const installedRows = (page: Page) => page.locator('ol.installed-rules > li').evaluateAll((els) => els.map((e) => [
  e.className, (e.querySelector('.desc') as HTMLElement).innerText, (e.querySelector('.badge.on, .badge.off') as HTMLElement).innerText,
  (e.querySelector('.mcount') as HTMLElement).innerText, !!e.querySelector('.badge.own'),
]));
const applyButton = (page: Page) => page.getByRole('button', { name: 'Apply…' });
const tab = (page: Page, name: string) => page.getByRole('tab', { name }).click();

describe('karabiner.json in the editor', () => {
  it('is read at start and shown; Tarvel’s rules open in the editor; with nothing to change Apply is off', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await expect.poll(() => names(page)).toEqual(['tarvelApps', 'tarvelConfig']);
    // Nothing saved: the rule set comes back from its "[Tarvel] <title>: <name>" description.
    await expect.poll(() => page.getByLabel('Rule set title').inputValue()).toBe('Keys');
    expect(await page.locator('li.rulerow .rulename .text').allInnerTexts()).toEqual(['Caps Lock → Control / Escape']);
    expect(await page.locator('.banner.info').innerText()).toContain('“Keys”, 1 rule.');
    expect(await applyButton(page).isDisabled()).toBe(true);
    expect(await applyButton(page).getAttribute('title')).toContain('Nothing to apply');

    await tab(page, 'In Karabiner-Elements');
    expect(await page.locator('.installed').innerText()).toContain('/Users/me/.config/karabiner/karabiner.json · It has comments');
    expect(await installedRows(page)).toEqual([
      ['fate-tarvel', 'Keys: Caps Lock → Control / Escape', 'on', '1 manipulator', true],
      ['fate-keep', 'Install tools', 'on', '1 manipulator', false],
      ['fate-keep', 'Open Safari', 'on', '1 manipulator', false],
      ['fate-keep', 'Vim arrows', 'off', '4 manipulators', false],
    ]);
    // What the other rules run is there to decide on keeping them.
    expect(await page.locator('.installed ul.commands code').allInnerTexts()).toEqual([CURL, 'open -a /Applications/⟨U+202E⟩ppa.irafaS']);
    expect(await page.locator('.installed').innerText()).toContain('The editor holds exactly the rules Tarvel installed here.');
    expect(await page.getByRole('combobox', { name: 'Profile' }).inputValue()).toBe('0');
    await page.locator('.banner.info').getByRole('button', { name: 'Dismiss' }).click();
    await shot(page, 'config-panel');
    expect(await axeFindings(page), 'panel').toEqual([]);

    // Kept rules take part in Try it, and the profile's devices are offered.
    await tab(page, 'Try it');
    await page.getByRole('button', { name: '⌘ left command' }).click();
    await page.locator('.kbkey[data-key=f5]').click();
    expect(await page.locator('li.outcome').first().innerText()).toContain('kept rule “Install tools”');
    expect(await page.locator('select option', { hasText: '1452/641' }).count()).toBe(1);
    // So do the profile's simple modifications and keyboard type.
    await page.getByRole('button', { name: '⌘ left command' }).click();
    await page.locator('.kbkey[data-key=grave_accent_and_tilde]').click();
    expect(await page.locator('li.outcome').first().locator('.sent').allInnerTexts()).toEqual(['Escape down', 'Escape up']);
    expect(await page.locator('li.outcome').first().innerText()).toContain('simple modification');
    expect(await page.getByLabel('Keyboard type').inputValue()).toBe('iso');
    await done(page);
  });

  it('keep, drop and edit in Tarvel; the confirmation lists the changes and every command in full; the body says what stays', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await tab(page, 'In Karabiner-Elements');
    await page.getByRole('checkbox', { name: 'Keep “Vim arrows”' }).uncheck();
    await page.getByRole('button', { name: 'Edit in Tarvel: “Open Safari”' }).click();
    expect(await page.locator('.banner.info').innerText()).toContain('“Open Safari” is now in the editor');
    expect((await installedRows(page)).map((r) => r[0])).toEqual(['fate-tarvel', 'fate-keep', 'fate-editor', 'fate-drop']);
    expect(await page.locator('li.rulerow .rulename .text').allInnerTexts()).toEqual(['Caps Lock → Control / Escape', 'Open Safari']);
    expect(await page.locator('li.mapping ul.commands code').allInnerTexts()).toEqual(['open -a /Applications/⟨U+202E⟩ppa.irafaS']);

    await applyButton(page).click();
    const dialog = page.getByRole('dialog');
    const section = async (id: string) => dialog.locator(`ul[aria-labelledby=${id}] .desc`).allInnerTexts();
    expect(await dialog.innerText()).toContain('Profile “Default profile” changes.');
    expect(await dialog.locator('#apply-added').innerText()).toBe('Added (1)');
    expect(await section('apply-added')).toEqual(['Keys: Open Safari']);
    expect(await section('apply-same')).toEqual(['Keys: Caps Lock → Control / Escape']);
    expect(await section('apply-kept')).toEqual(['Install tools']);
    expect(await section('apply-removed')).toEqual(['Open Safari', 'Vim arrows']);
    expect(await dialog.locator('ul[aria-labelledby=apply-removed] .fate').allInnerTexts()).toEqual(['now in the editor', 'dropped']);
    // Tarvel's commands and the kept rules' alike, in full, wrapped, with the reversing mark shown.
    const codes = dialog.locator('ul.commands code');
    expect(await codes.allInnerTexts()).toEqual(['open -a /Applications/⟨U+202E⟩ppa.irafaS', CURL]);
    expect(await dialog.locator('ul.commands .rule').allInnerTexts()).toEqual(['[Tarvel] Keys: Open Safari', 'Install tools']);
    const box = await codes.nth(1).evaluate((el) => ({ sw: el.scrollWidth, cw: el.clientWidth, h: el.clientHeight }));
    expect(box.sw).toBeLessThanOrEqual(box.cw);
    expect(box.h).toBeGreaterThan(30);
    expect(await dialog.innerText()).toContain('Comments and everything else in karabiner.json stay as they are.');
    await shot(page, 'config-apply-confirm');
    expect(await axeFindings(page), 'confirmation').toEqual([]);

    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await expect.poll(() => dialog.innerText()).toContain('karabiner.backup-20260101-120001.json');
    const [body] = await applies(page);
    expect(body).toMatchObject({ title: 'Keys', baseDigest: DIGEST, keep: [1] });
    expect(body.profile).toBeUndefined();
    expect(body.rules.map((r: { name: string }) => r.name)).toEqual(['Caps Lock → Control / Escape', 'Open Safari']);
    expect(body.manipulators).toBeUndefined();
    // Read again after the apply: what was written, and nothing left to do.
    await expect.poll(() => names(page)).toEqual(['tarvelApps', 'tarvelConfig', 'tarvelApply', 'tarvelConfig']);
    await dialog.getByRole('button', { name: 'Close' }).click();
    await expect.poll(() => installedRows(page)).toEqual([
      ['fate-tarvel', 'Keys: Caps Lock → Control / Escape', 'on', '1 manipulator', true],
      ['fate-tarvel', 'Keys: Open Safari', 'on', '1 manipulator', true],
      ['fate-keep', 'Install tools', 'on', '1 manipulator', false],
    ]);
    expect(await applyButton(page).isDisabled()).toBe(true);
    // Apply, now off, cannot take focus back: the open tab does.
    await expect.poll(() => page.evaluate(() => document.activeElement?.textContent)).toBe('In Karabiner-Elements');
    await done(page);
  });

  it('choices made on a file survive a reload of the page (as after a recovery); another profile starts afresh and is named', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await tab(page, 'In Karabiner-Elements');
    await page.getByRole('checkbox', { name: 'Keep “Vim arrows”' }).uncheck();
    await page.getByRole('button', { name: 'Edit in Tarvel: “Install tools”' }).click();
    await page.waitForTimeout(800);
    await page.reload();
    await page.waitForFunction(() => (window as any).__tarvelReady !== undefined);
    await tab(page, 'In Karabiner-Elements');
    await expect.poll(() => installedRows(page).then((rows) => rows.map((r) => r[0]))).toEqual(['fate-tarvel', 'fate-editor', 'fate-keep', 'fate-drop']);

    await page.getByRole('combobox', { name: 'Profile' }).selectOption('1');
    expect(await page.locator('.installed').innerText()).toContain('Karabiner-Elements does not use this profile now');
    await applyButton(page).click();
    expect(await page.getByRole('dialog').innerText()).toContain('Profile “Games” changes; Karabiner-Elements does not use it now.');
    await page.getByRole('dialog').getByRole('button', { name: 'Apply', exact: true }).click();
    await page.getByRole('dialog').getByRole('button', { name: 'Close' }).click();
    expect(await applies(page)).toMatchObject([{ profile: 1, keep: [], baseDigest: DIGEST }]);
    await done(page);
  });

  it('the last apply is undone by restoring its backup, after a confirmation of what comes back', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await tab(page, 'In Karabiner-Elements');
    await page.getByRole('checkbox', { name: 'Keep “Install tools”' }).uncheck();
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
    await tab(page, 'In Karabiner-Elements');
    await page.getByRole('checkbox', { name: 'Keep “Vim arrows”' }).uncheck();
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

  it('a file changed by another program since it was read: the apply is refused, the page says so and offers only a reload', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: karabiner() } });
    await page.getByRole('tab', { name: 'Recipes' }).click();
    await page.getByRole('button', { name: 'Add: Disable a key' }).click();
    await page.evaluate(() => (window as any).__bridge.outsideChange([{ description: 'Added elsewhere', manipulators: [] }]));
    await applyButton(page).click();
    const dialog = page.getByRole('dialog');
    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await expect.poll(() => dialog.innerText()).toContain('karabiner.json changed since Tarvel read it, so nothing was written.');
    expect(await dialog.getByRole('button').allInnerTexts()).toEqual(['Reload karabiner.json']);
    expect(await dialog.locator('pre').count()).toBe(0);
    expect(await applyButton(page).isDisabled()).toBe(true);
    await dialog.getByRole('button', { name: 'Reload karabiner.json' }).click();
    await expect.poll(() => installedRows(page).then((rows) => rows.map((r) => r[1]))).toEqual(['Added elsewhere']);
    expect(await applyButton(page).isDisabled()).toBe(false);
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
