import { mkdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import type { Browser, Page } from 'playwright-core';
import { afterAll, beforeAll, describe, expect, it } from 'vitest';
import { HELPER, launch, openPage, pageErrors, sampleInventory } from './harness.mjs';

// Screenshots for the docs are written only when asked (npm run screenshots).
const SHOTS = process.env.TARVEL_SCREENSHOTS;
async function shot(page: Page, name: string) {
  if (!SHOTS) return;
  mkdirSync(SHOTS, { recursive: true });
  await page.screenshot({ path: join(SHOTS, `${name}.png`) });
}

/** Every page must get through its test without a script error. */
async function done(page: Page) {
  expect(pageErrors(page)).toEqual([]);
  await page.context().close();
}

let browser: Browser;
beforeAll(async () => { browser = await launch(); });
afterAll(async () => { await browser?.close(); });

const messages = (page: Page) => page.evaluate(() => (window as any).__bridge.messages as { name: string; body: any }[]);
const noHorizontalScroll = (page: Page) => page.evaluate(() => document.documentElement.scrollWidth <= document.documentElement.clientWidth && document.body.scrollWidth <= window.innerWidth);
const listTexts = (page: Page) => page.locator('li.mapping .summary .text').allInnerTexts();

async function addRecipe(page: Page, title: string) {
  await page.getByRole('button', { name: `Add: ${title}` }).click();
}

const DONE_WHEN = [
  { type: 'basic', from: { key_code: 'caps_lock', modifiers: { optional: ['any'] } }, to: [{ key_code: 'left_control' }], to_if_alone: [{ key_code: 'escape' }] },
  { type: 'basic', from: { key_code: 'left_command', modifiers: { optional: ['any'] } }, to: [{ key_code: 'left_command', lazy: true }], to_if_alone: [{ key_code: 'japanese_eisuu' }] },
  { type: 'basic', from: { key_code: 'right_command', modifiers: { optional: ['any'] } }, to: [{ key_code: 'right_command', lazy: true }], to_if_alone: [{ key_code: 'japanese_kana' }] },
  { type: 'basic', from: { key_code: 's', modifiers: { mandatory: ['control', 'option', 'shift', 'command'] } }, to: [{ shell_command: `'${HELPER}' --name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/Applications/Safari.app'` }] },
];

describe('a newcomer builds the three classic mappings and applies them', () => {
  it('recipes, an app from the inventory, confirmation, success with the backup path', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), delay: 700 } });
    expect((await messages(page)).map((m) => m.name)).toEqual(['tarvelApps']);
    await expect.poll(() => page.locator('.recipe[data-recipe=focusApp] img.appicon').count()).toBeGreaterThan(3);
    expect(await page.locator('.recipe[data-recipe=focusApp] img.appicon').first().getAttribute('src')).toMatch(/^data:image\/png;base64,/);
    // Safari is installed and running: listed once, marked running.
    await expect.poll(() => page.locator('.recipe[data-recipe=focusApp] button.appitem', { hasText: 'Safari' }).count()).toBe(1);
    expect(await page.locator('.recipe[data-recipe=focusApp] button.appitem', { hasText: 'Safari' }).innerText()).toContain('running');
    await shot(page, 'editor-recipes');

    await addRecipe(page, 'Caps Lock → Control / Escape');
    await addRecipe(page, '⌘ alone → 英数 / かな');
    await page.locator('.recipe[data-recipe=focusApp] input[type=search]').fill('saf');
    await page.locator('.recipe[data-recipe=focusApp] button.appitem', { hasText: 'Safari' }).click();
    await addRecipe(page, 'Hyper + key focuses an app');
    expect(await listTexts(page)).toEqual([
      'Caps Lock: tap → Escape, hold → Control',
      'Command: tap → 英数, hold → Command',
      'Right Command: tap → かな, hold → Right Command',
      '⌃⌥⇧⌘S → Open Safari',
    ]);
    expect(await page.locator('.kbkey.mapped').count()).toBeGreaterThanOrEqual(4);
    expect(await noHorizontalScroll(page)).toBe(true);

    await page.getByRole('button', { name: 'Apply…' }).click();
    const dialog = page.getByRole('dialog');
    await expect.poll(() => dialog.innerText()).toContain('4 manipulators');
    await shot(page, 'editor-apply-confirm');
    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await expect.poll(() => dialog.getAttribute('aria-busy')).toBe('true');
    await expect.poll(() => dialog.innerText()).toContain('karabiner.backup-20260101-120000.json');
    await shot(page, 'editor-apply-ok');
    const applies = (await messages(page)).filter((m) => m.name === 'tarvelApply');
    expect(applies).toHaveLength(1);
    expect(applies[0].body).toEqual({ title: 'My keymap', manipulators: DONE_WHEN });
    await dialog.getByRole('button', { name: 'Close' }).click();
    expect(await page.getByRole('dialog').count()).toBe(0);
    await done(page);
  });

  it('a linter failure is shown verbatim, line breaks kept, in monospace', async () => {
    const error = 'ルールを検証できませんでした: /tmp/tarvel-lint-1.json: \n`rule 1` error: unknown key_code: `"spac"`\n  at "manipulators"[0]';
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), applyAnswers: [{ ok: false, error }] } });
    await addRecipe(page, 'Chord → Escape');
    await page.getByRole('button', { name: 'Apply…' }).click();
    await page.getByRole('dialog').getByRole('button', { name: 'Apply', exact: true }).click();
    const pre = page.locator('pre.error-text');
    await pre.waitFor();
    expect(await pre.evaluate((el: Element) => el.textContent)).toBe(error);
    expect(await pre.evaluate((el: Element) => getComputedStyle(el).whiteSpace)).toBe('pre-wrap');
    expect(await pre.evaluate((el: Element) => getComputedStyle(el).fontFamily)).toMatch(/mono/i);
    await shot(page, 'editor-apply-error');
    await page.keyboard.press('Escape');
    expect(await page.getByRole('dialog').count()).toBe(0);
    await done(page);
  });

  it('an apply that is never answered can be hidden; its result shows when it comes', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), applyAnswers: ['silence'] } });
    await addRecipe(page, 'Disable a key');
    await page.getByRole('button', { name: 'Apply…' }).click();
    await page.getByRole('dialog').getByRole('button', { name: 'Apply', exact: true }).click();
    await page.getByRole('button', { name: /^Hide/ }).click();
    expect(await page.getByRole('dialog').count()).toBe(0);
    expect(await page.getByRole('button', { name: 'Apply…' }).isDisabled()).toBe(true);
    await page.evaluate(() => (0, eval)('window.__tarvelApplyResolve && window.__tarvelApplyResolve({"ok":true,"backupPath":"/late/backup.json"})'));
    await expect.poll(() => page.getByRole('dialog').innerText()).toContain('/late/backup.json');
    await page.getByRole('dialog').getByRole('button', { name: 'Close' }).click();
    expect(await page.getByRole('button', { name: 'Apply…' }).isDisabled()).toBe(false);
    await done(page);
  });
});

describe('editing by hand', () => {
  it('click a key, fill the form, press a key to pick one, undo and redo', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await page.locator('.kbkey[data-key=caps_lock]').click();
    expect(await page.getByRole('tab', { name: 'Edit' }).getAttribute('aria-selected')).toBe('true');
    await page.getByLabel('What it does').selectOption('tapHold');
    const tap = page.locator('fieldset.action', { hasText: 'Tap (press and release alone)' });
    await tap.getByLabel('Tap (press and release alone) 1', { exact: true }).fill('escap');
    await expect.poll(() => tap.locator('.problems').innerText()).toContain('“escap” is not a key name');
    await tap.getByRole('button', { name: 'Tap (press and release alone) 1: Press the key' }).click();
    await page.keyboard.press('Escape');
    await expect.poll(() => tap.locator('.problems').count()).toBe(0);
    expect(await listTexts(page)).toEqual(['Caps Lock: tap → Escape, hold → Control']);
    await shot(page, 'editor-mapping');

    // A second mapping via the visual keyboard while picking: the clicked key fills the field.
    await page.getByRole('button', { name: 'Show all' }).click();
    await page.getByRole('button', { name: 'New mapping' }).click();
    await page.getByRole('button', { name: 'When I press 1: Press the key' }).click();
    await page.locator('.kbkey[data-key=f5]').click();
    await page.getByLabel('Then 1', { exact: true }).fill('mute');
    await page.getByLabel('Then', { exact: true }).selectOption('media');
    expect((await listTexts(page))[1]).toBe('F5 → Play/Pause');
    expect(await noHorizontalScroll(page)).toBe(true);

    const mod = process.platform === 'darwin' ? 'Meta' : 'Control';
    await page.locator('body').click({ position: { x: 5, y: 630 } });
    await page.keyboard.press(`${mod}+z`);
    expect((await listTexts(page))[1]).toBe('F5 → Mute');
    await page.keyboard.press(`${mod}+z`);
    expect((await listTexts(page))[1]).toBe('F5 → (no key)');
    await page.keyboard.press(`${mod}+z`);
    expect((await listTexts(page))[1]).toBe('(no key) → (no key)');
    await page.keyboard.press(`${mod}+Shift+z`);
    await page.keyboard.press(`${mod}+Shift+z`);
    await page.keyboard.press(`${mod}+Shift+z`);
    expect((await listTexts(page))[1]).toBe('F5 → Play/Pause');
    await page.getByRole('button', { name: 'Undo' }).click();
    expect((await listTexts(page))[1]).toBe('F5 → Mute');
    await done(page);
  });

  it('reorder, duplicate, disable, delete; shadowed triggers are pointed out', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await addRecipe(page, 'Disable a key');
    await addRecipe(page, 'Caps Lock → Control / Escape');
    await expect.poll(() => page.locator('.problems .warning').count()).toBe(0);
    await page.locator('li.mapping').nth(1).hover();
    await page.locator('li.mapping').nth(1).getByRole('button', { name: 'Move up' }).click();
    expect(await listTexts(page)).toEqual(['Caps Lock: tap → Escape, hold → Control', 'Caps Lock → Nothing']);
    expect(await page.locator('li.mapping .badge.warning').count()).toBe(1);
    await page.locator('li.mapping').nth(1).locator('.summary').click();
    expect(await page.locator('.problems .warning').innerText()).toContain('Never fires: mapping 1 above');
    await page.locator('li.mapping').nth(1).getByRole('checkbox', { name: 'Enabled' }).uncheck();
    expect(await page.locator('li.mapping .badge.warning').count()).toBe(0);
    await page.locator('li.mapping').nth(0).hover();
    await page.locator('li.mapping').nth(0).getByRole('button', { name: 'Duplicate' }).click();
    expect(await page.locator('li.mapping').count()).toBe(3);
    await page.locator('li.mapping').nth(2).hover();
    await page.locator('li.mapping').nth(2).getByRole('button', { name: 'Delete' }).click();
    expect(await listTexts(page)).toEqual(['Caps Lock: tap → Escape, hold → Control', 'Caps Lock: tap → Escape, hold → Control']);
    await page.getByRole('tab', { name: 'JSON' }).click();
    const json = JSON.parse(await page.locator('.json pre').innerText());
    expect(json).toHaveLength(2);
    await page.getByLabel('Search mappings').fill('nothing');
    expect(await page.locator('li.mapping').count()).toBe(0);
    await done(page);
  });
});

describe('applications, Shortcuts and layers in the forms', () => {
  it('restricts a mapping to an app, runs a Shortcut, and puts a mapping in a layer', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await addRecipe(page, 'Vim arrows layer');
    await page.getByRole('button', { name: 'New mapping' }).click();
    await page.getByLabel('When I press 1', { exact: true }).fill('f6');
    await page.getByLabel('Then', { exact: true }).selectOption('shortcut');
    await page.getByLabel('Shortcut name').fill('Toggle "Dark" Mode');
    await page.getByLabel('Applications').selectOption('only');
    await page.locator('.applist button.appitem', { hasText: 'Terminal' }).click();
    await page.getByLabel('Layer', { exact: true }).selectOption('arrows');
    expect((await listTexts(page))[5]).toBe('F6 → Shortcut “Toggle "Dark" Mode” (in layer “arrows”; only in Terminal)');
    expect(await page.locator('.appchip img.appicon').count()).toBe(1);
    await page.getByRole('tab', { name: 'JSON' }).click();
    const json = JSON.parse(await page.locator('.json pre').innerText());
    expect(json[5]).toEqual({
      type: 'basic',
      from: { key_code: 'f6', modifiers: { optional: ['any'] } },
      conditions: [
        { type: 'variable_if', name: 'tarvel_layer_arrows', value: 1 },
        { type: 'frontmost_application_if', bundle_identifiers: ['^com\\.apple\\.Terminal$'] },
      ],
      to: [{ shell_command: `/usr/bin/shortcuts run 'Toggle "Dark" Mode'` }],
    });
    // The layer key's own form adds mappings straight into its layer.
    await page.getByRole('tab', { name: 'Edit' }).click();
    await page.locator('li.mapping').nth(0).locator('.summary').click();
    await page.getByRole('button', { name: '+ Mapping inside the layer “arrows”' }).click();
    await page.getByLabel('When I press 1', { exact: true }).fill('0');
    await page.getByLabel('Then 1', { exact: true }).fill('end');
    expect((await listTexts(page))[6]).toBe('0 → End (in layer “arrows”)');
    await done(page);
  });
});

describe('files', () => {
  it('imports a Karabiner document, refuses a broken one untouched, exports a file that reimports', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    const input = page.locator('input[type=file]');
    expect(await input.getAttribute('accept')).toBe('.json,application/json');
    const doc = {
      title: 'Imported set',
      rules: [{ description: 'Vim', manipulators: [
        { type: 'basic', from: { key_code: 'h', modifiers: { mandatory: ['control'] } }, to: [{ key_code: 'left_arrow' }] },
        { type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b' }], to_delayed_action: { to_if_invoked: [{ key_code: 'c' }] } },
      ] }],
    };
    await input.setInputFiles({ name: 'vim.json', mimeType: 'application/json', buffer: Buffer.from(JSON.stringify(doc)) });
    await expect.poll(() => page.locator('.banner.info').innerText()).toContain('Imported “Imported set”: 2 mappings. 1 of them are kept as raw JSON.');
    expect(await page.getByLabel('Rule set title').inputValue()).toBe('Imported set');
    expect(await listTexts(page)).toEqual(['Vim\n⌃H → ←', 'Vim\nRaw manipulator: A']);

    await input.setInputFiles({ name: 'bad.json', mimeType: 'application/json', buffer: Buffer.from('{"rules": [ {') });
    await expect.poll(() => page.locator('.banner.error').innerText()).toContain('not valid JSON');
    await input.setInputFiles({ name: 'other.json', mimeType: 'application/json', buffer: Buffer.from('{"profiles": []}') });
    await expect.poll(() => page.locator('.banner.error').innerText()).toContain('neither a Tarvel rule set');
    expect(await listTexts(page)).toHaveLength(2);

    await page.getByLabel('Rule set title').fill('Work: laptop/desk');
    const [download] = await Promise.all([page.waitForEvent('download'), page.getByRole('button', { name: 'Export' }).click()]);
    expect(download.suggestedFilename()).toBe('Work- laptop-desk.json');
    const exported = JSON.parse(readFileSync(await download.path(), 'utf8'));
    expect(exported.title).toBe('Work: laptop/desk');
    expect(exported.rules[0].manipulators).toHaveLength(2);
    expect(exported.tarvel.format).toBe('tarvel-ruleset');

    // Start over in a fresh page and bring the export back.
    const fresh = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await fresh.locator('input[type=file]').setInputFiles({ name: 'x.json', mimeType: 'application/json', buffer: readFileSync(await download.path()) });
    await expect.poll(() => listTexts(fresh)).toEqual(['Vim\n⌃H → ←', 'Vim\nRaw manipulator: A']);
    await done(fresh);
    await done(page);
  });

  it('the working rule set survives a reload', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await addRecipe(page, 'Space-cadet shift');
    await page.waitForTimeout(400);
    await page.reload();
    await page.waitForFunction(() => (window as any).__tarvelReady !== undefined);
    expect(await listTexts(page)).toHaveLength(2);
    expect(await page.locator('.banner.info').innerText()).toContain('previous work was restored');
    await done(page);
  });
});

describe('language, preview and layout', () => {
  it('follows a Japanese system and switches to English and back', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() }, lang: 'ja-JP' });
    expect(await page.getByRole('button', { name: '適用…' }).count()).toBe(1);
    await page.getByRole('button', { name: '追加: Caps Lock → Control / Escape' }).click();
    expect(await listTexts(page)).toEqual(['Caps Lock: タップ → Escape、長押し → Control']);
    await page.getByRole('combobox', { name: 'キーボード' }).selectOption('jis');
    expect(await page.locator('.kbkey[data-key=japanese_eisuu]').count()).toBe(1);
    await shot(page, 'editor-ja');
    await page.getByRole('combobox', { name: '言語' }).selectOption('en');
    expect(await page.getByRole('button', { name: 'Apply…' }).count()).toBe(1);
    expect(await listTexts(page)).toEqual(['Caps Lock: tap → Escape, hold → Control']);
    await done(page);
  });

  it('outside the app the page is a preview: only Apply is off', async () => {
    const page = await openPage(browser);
    expect(await page.locator('.banner.preview').innerText()).toContain('Preview');
    expect(await page.getByRole('button', { name: 'Apply…' }).isDisabled()).toBe(true);
    expect(await page.getByRole('button', { name: 'Export' }).isDisabled()).toBe(false);
    await addRecipe(page, 'Vim arrows layer');
    expect(await listTexts(page)).toHaveLength(5);
    await shot(page, 'editor-preview');
    await done(page);
  });

  it('fits 900 x 640 in every view and shows where the keyboard focus is', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    for (const r of ['Vim arrows layer', 'App launcher layer', 'Hyper key', 'Media keys on F7–F12']) await addRecipe(page, r);
    for (const tab of ['Recipes', 'Edit', 'JSON']) {
      await page.getByRole('tab', { name: tab }).click();
      expect(await noHorizontalScroll(page), tab).toBe(true);
    }
    await page.locator('li.mapping').nth(0).locator('.summary').click();
    expect(await noHorizontalScroll(page)).toBe(true);
    await page.getByLabel('Rule set title').focus();
    await page.keyboard.press('Tab');
    const outline = await page.evaluate(() => getComputedStyle(document.activeElement as Element).outlineStyle);
    expect(outline).toBe('solid');
    await done(page);
  });
});
