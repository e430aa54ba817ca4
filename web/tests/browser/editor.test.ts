import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import type { Browser, Page } from 'playwright-core';
import { afterAll, beforeAll, describe, expect, it } from 'vitest';
import { axeFindings, done, HELPER, launch, openPage, sampleInventory, shot } from './harness.mjs';


let browser: Browser;
beforeAll(async () => { browser = await launch(); });
afterAll(async () => { await browser?.close(); });

const FIXTURES = join(__dirname, '../fixtures/gallery');
const fixture = (name: string) => readFileSync(join(FIXTURES, name));
const messages = (page: Page) => page.evaluate(() => (window as any).__bridge.messages as { name: string; body: any }[]);
const applies = async (page: Page) => (await messages(page)).filter((m) => m.name === 'tarvelApply').map((m) => m.body);
const noHorizontalScroll = (page: Page) => page.evaluate(() => document.documentElement.scrollWidth <= document.documentElement.clientWidth && document.body.scrollWidth <= window.innerWidth);
const listTexts = (page: Page) => page.locator('li.mapping .summary .text').allInnerTexts();
const ruleNames = (page: Page) => page.locator('li.rulerow .rulename .text').allInnerTexts();
const focused = (page: Page) => page.evaluate(() => {
  const el = document.activeElement as HTMLElement | null;
  return el ? `${el.tagName.toLowerCase()}${el.getAttribute('role') ? `[${el.getAttribute('role')}]` : ''}:${el.dataset.key ?? el.getAttribute('aria-label') ?? el.textContent?.trim()}` : '';
});

async function addRecipe(page: Page, title: string) {
  await page.getByRole('button', { name: `Add: ${title}` }).click();
}
async function importFile(page: Page, name: string, buffer: Buffer) {
  await page.locator('input[type=file]').setInputFiles({ name, mimeType: 'application/json', buffer });
  await page.locator('.banner.info, .banner.error').first().waitFor();
}

const CAPS = { type: 'basic', from: { key_code: 'caps_lock', modifiers: { optional: ['any'] } }, to: [{ key_code: 'left_control' }], to_if_alone: [{ key_code: 'escape' }] };
const EISUU_KANA = ([['left', 'japanese_eisuu'], ['right', 'japanese_kana']] as const).map(([side, tap]) => ({
  type: 'basic', from: { key_code: `${side}_command`, modifiers: { optional: ['any'] } }, parameters: { 'basic.to_if_held_down_threshold_milliseconds': 100 },
  to: [{ key_code: `${side}_command`, lazy: true }], to_if_held_down: [{ key_code: `${side}_command` }], to_if_alone: [{ key_code: tap }],
}));
const FOCUS_SAFARI = { type: 'basic', from: { key_code: 's', modifiers: { mandatory: ['control', 'option', 'shift', 'command'] } }, to: [{ shell_command: `'${HELPER}' --name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/Applications/Safari.app'` }] };

// A Karabiner-Elements that has just made its configuration: one profile, no rules yet.
const FRESH = {
  path: '/Users/me/.config/karabiner/karabiner.json', digest: `sha256:${'0'.repeat(64)}`, hasComments: false, backups: [],
  profiles: [{ name: 'Default profile', selected: true, rules: [], devices: [] }],
};

describe('a newcomer builds the three classic mappings and applies them', () => {
  it('recipes, an app from the inventory, confirmation, success with the backup path', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: FRESH, delay: 700 } });
    expect((await messages(page)).map((m) => m.name)).toEqual(['tarvelApps', 'tarvelConfig']);
    await expect.poll(() => page.locator('.recipe[data-recipe=focusApp] img.appicon').count()).toBeGreaterThan(3);
    // Safari is installed and running: listed once, marked running.
    await expect.poll(() => page.locator('.recipe[data-recipe=focusApp] button.appitem', { hasText: 'Safari' }).count()).toBe(1);
    expect(await page.locator('.recipe[data-recipe=focusApp] button.appitem', { hasText: 'Safari' }).innerText()).toContain('running');
    await shot(page, 'editor-recipes');

    await addRecipe(page, 'Caps Lock → Control / Escape');
    await addRecipe(page, '⌘ alone → 英数 / かな');
    await page.locator('.recipe[data-recipe=focusApp] input[type=search]').fill('saf');
    await page.locator('.recipe[data-recipe=focusApp] button.appitem', { hasText: 'Safari' }).click();
    await addRecipe(page, 'Hyper + key focuses an app');
    // With karabiner.json read there is no empty rule to start with; each recipe is a rule of its own, marked as made in Tarvel.
    expect(await ruleNames(page)).toEqual(['Caps Lock → Control / Escape', '⌘ alone → 英数 / かな', 'Hyper + key focuses an app']);
    expect(await page.locator('li.rulerow .badge.own').count()).toBe(3);
    expect(await listTexts(page)).toEqual([
      'Caps Lock: tap → Escape, hold → Control',
      'Command: tap → 英数, hold → Command',
      'Right Command: tap → かな, hold → Right Command',
      '⌃⌥⇧⌘S → Open Safari',
    ]);
    // What the focus mapping runs is shown in full under it.
    expect(await page.locator('ul.commands code').innerText()).toBe(FOCUS_SAFARI.to[0].shell_command);
    expect(await page.locator('.kbkey.mapped').count()).toBeGreaterThanOrEqual(4);
    expect(await noHorizontalScroll(page)).toBe(true);

    await page.getByRole('button', { name: 'Apply…' }).click();
    const dialog = page.getByRole('dialog');
    await expect.poll(() => dialog.innerText()).toContain('Profile “Default profile” changes.');
    expect(await dialog.locator('ul[aria-labelledby=apply-added] .desc').allInnerTexts()).toEqual([
      'Caps Lock → Control / Escape', '⌘ alone → 英数 / かな', 'Hyper + key focuses an app',
    ]);
    expect(await dialog.locator('ul.commands code').allInnerTexts()).toEqual([FOCUS_SAFARI.to[0].shell_command]);
    await shot(page, 'editor-apply-confirm');
    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await expect.poll(() => dialog.getAttribute('aria-busy')).toBe('true');
    await expect.poll(() => dialog.innerText()).toContain('karabiner.backup-20260101-120001.json');
    await expect.poll(() => dialog.getByRole('button', { name: 'Undo this apply…' }).isDisabled()).toBe(false);
    await shot(page, 'editor-apply-ok');
    expect(await applies(page)).toEqual([{
      baseDigest: FRESH.digest,
      ruleList: [
        { rule: { description: '[Tarvel] Caps Lock → Control / Escape', manipulators: [CAPS] } },
        { rule: { description: '[Tarvel] ⌘ alone → 英数 / かな', manipulators: EISUU_KANA } },
        { rule: { description: '[Tarvel] Hyper + key focuses an app', manipulators: [FOCUS_SAFARI] } },
      ],
    }]);
    await dialog.getByRole('button', { name: 'Close' }).click();
    expect(await page.getByRole('dialog').count()).toBe(0);
    // Karabiner-Elements now has exactly these rules.
    expect(await page.getByRole('button', { name: 'Apply…' }).getAttribute('title')).toBe('Nothing to apply: Karabiner-Elements already has these rules.');
    expect(await page.getByRole('button', { name: 'Apply…' }).isDisabled()).toBe(true);
    await done(page);
  });

  it('a linter failure is shown verbatim, with an explanation where the code is known', async () => {
    const error = 'ルールを検証できませんでした: /tmp/tarvel-lint-1.json: \n`rule 1` error: unknown key_code: `"spac"`\n  at "manipulators"[0]';
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), applyAnswers: [{ ok: false, error, code: 'trailingComma', line: 3, column: 7 }] } });
    await addRecipe(page, 'Chord → Escape');
    await page.getByRole('button', { name: 'Apply…' }).click();
    await page.getByRole('dialog').getByRole('button', { name: 'Apply', exact: true }).click();
    const pre = page.locator('pre.error-text');
    await pre.waitFor();
    expect(await pre.evaluate((el: Element) => el.textContent)).toBe(error);
    expect(await pre.evaluate((el: Element) => getComputedStyle(el).whiteSpace)).toBe('pre-wrap');
    expect(await page.locator('p.explain').innerText()).toContain('line 3, column 7');
    await shot(page, 'editor-apply-error');
    await page.keyboard.press('Escape');
    expect(await page.getByRole('dialog').count()).toBe(0);
    // Focus goes back to where it was before the dialog.
    await expect.poll(() => focused(page)).toBe('button:Apply…');
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

  it('rules past the bridge’s limits are not sent, and the page says which limit', async () => {
    let deep: unknown = 1;
    for (let i = 0; i < 60; i++) deep = [deep];
    const ruleSet = { title: 'Deep', layout: 'us', rules: [{ name: 'r', enabled: true, mappings: [{ enabled: true, form: 'raw', manipulators: [{ type: 'basic', from: { key_code: 'a' }, note: deep }] }] }] };
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() }, storage: { 'tarvel.workingRuleSet': JSON.stringify(ruleSet) } });
    await page.getByRole('button', { name: 'Apply…' }).click();
    await page.getByRole('dialog').getByRole('button', { name: 'Apply', exact: true }).click();
    await expect.poll(() => page.getByRole('dialog').innerText()).toContain('nested 65 levels deep; at most 64');
    expect(await applies(page)).toEqual([]);
    await page.getByRole('dialog').getByRole('button', { name: 'Close' }).click();
    // JSON typed in that no engine would nest so deep is refused where it is typed.
    await page.locator('li.mapping .summary').first().click();
    await page.getByLabel('Manipulator JSON').fill(`${'['.repeat(100000)}${']'.repeat(100000)}`);
    expect(await page.locator('.problems .block').innerText()).toContain('Nested deeper than 60 levels');
    await page.getByRole('tab', { name: 'JSON' }).click();
    expect(await page.locator('.json pre').innerText()).toContain('"note"');
    await done(page);
  });
});

describe('editing by hand', () => {
  it('a click on an unmapped key opens a draft; it becomes a mapping only once it does something', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await page.locator('.kbkey[data-key=k]').click();
    expect(await page.getByRole('tab', { name: 'Edit' }).getAttribute('aria-selected')).toBe('true');
    // The form opens a frame after the click on the picture.
    await expect.poll(() => page.locator('.banner.draft').count()).toBe(1);
    // A shortcut-like key does not fire with other modifiers unless asked.
    expect(await page.getByLabel('Also when other modifiers are held').isChecked()).toBe(false);
    // Just looking adds nothing and reports nothing.
    await page.locator('.kbkey[data-key=caps_lock]').click();
    expect(await listTexts(page)).toEqual([]);
    expect(await page.locator('.banner.warn').count()).toBe(0);
    await expect.poll(() => page.getByLabel('Also when other modifiers are held').isChecked()).toBe(true);

    await page.getByLabel('What it does').selectOption('tapHold');
    // Hold has no silent default: it asks.
    expect(await page.locator('fieldset.action', { hasText: 'Hold' }).innerText()).toContain('Choose what holding the key does.');
    const tap = page.locator('fieldset.action', { hasText: 'Tap (pressed and released alone)' });
    await tap.getByLabel('+ Add…: Tap (pressed and released alone)').selectOption('key');
    expect(await listTexts(page)).toEqual([]);
    await tap.getByLabel('Tap (pressed and released alone) 1', { exact: true }).fill('escap');
    await expect.poll(() => listTexts(page)).toEqual(['Caps Lock: tap → escap']);
    await expect.poll(() => tap.locator('.problems').innerText()).toContain('“escap” is not a key_code name');
    // Esc gives up listening; the button records Escape.
    const pressKey = tap.getByRole('button', { name: 'Tap (pressed and released alone) 1: Press the key' });
    await pressKey.click();
    await page.keyboard.press('Escape');
    expect(await tap.getByLabel('Tap (pressed and released alone) 1', { exact: true }).inputValue()).toBe('escap');
    await pressKey.click();
    await tap.getByRole('button', { name: 'Use Escape' }).click();
    await expect.poll(() => tap.locator('.problems').count()).toBe(0);
    const hold = page.locator('fieldset.action', { hasText: 'Choose what holding' });
    await hold.getByLabel('+ Add…: Hold').selectOption('key');
    await page.getByLabel('Hold 1', { exact: true }).fill('left_control');
    expect(await listTexts(page)).toEqual(['Caps Lock: tap → Escape, hold → Control']);
    await shot(page, 'editor-mapping');

    const mod = process.platform === 'darwin' ? 'Meta' : 'Control';
    await page.locator('body').click({ position: { x: 5, y: 630 } });
    await page.keyboard.press(`${mod}+z`);
    expect(await listTexts(page)).toEqual(['Caps Lock: tap → Escape, hold → (no key)']);
    await page.keyboard.press(`${mod}+Shift+z`);
    expect(await listTexts(page)).toEqual(['Caps Lock: tap → Escape, hold → Control']);
    await done(page);
  });

  it('reorder, duplicate, disable, delete; mappings that never fire are pointed out', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await addRecipe(page, 'Disable a key');
    await addRecipe(page, 'Caps Lock → Control / Escape');
    await expect.poll(() => page.locator('li.mapping .badge.warning').count()).toBe(1);
    await page.locator('li.mapping').nth(1).locator('.summary').click();
    // The rule is named once, without the mark that starts the description of rules made in Tarvel.
    expect(await page.locator('.problems .warning').innerText()).toContain('Never fires: rule “Disable a key”, mapping 1');
    await page.locator('li.rulerow', { hasText: 'Disable a key' }).getByRole('checkbox').uncheck();
    await expect.poll(() => page.locator('li.mapping .badge.warning').count()).toBe(0);
    await page.locator('li.mapping').nth(1).hover();
    await page.locator('li.mapping').nth(1).getByRole('button', { name: 'Move up' }).click();
    expect(await ruleNames(page)).toEqual(['My mappings', 'Disable a key', 'Caps Lock → Control / Escape']);
    expect(await page.locator('li.rulerow').nth(1).locator('.num').innerText()).toBe('2');
    await page.locator('li.mapping').nth(0).hover();
    await page.locator('li.mapping').nth(0).getByRole('button', { name: 'Duplicate' }).click();
    expect(await page.locator('li.mapping').count()).toBe(3);
    await page.locator('li.mapping').nth(1).hover();
    await page.locator('li.mapping').nth(1).getByRole('button', { name: 'Delete' }).click();
    await page.getByRole('tab', { name: 'JSON' }).click();
    const json = JSON.parse(await page.locator('.json pre').innerText());
    expect(json.map((r: any) => [r.description, r.enabled ?? true, r.manipulators.length])).toEqual([['[Tarvel] Disable a key', false, 2]]);
    await page.getByLabel('Search mappings').fill('nothing');
    expect(await listTexts(page)).toEqual(['Caps Lock → Nothing']);
    await done(page);
  });

  it('the picture marks raw mappings, has one view per layer, and drafts in a layer work in it', async () => {
    const doc = { title: 'Layers', rules: [{ description: 'nav', manipulators: [
      { type: 'basic', from: { key_code: 'caps_lock' }, to: [{ set_variable: { name: 'nav', value: 1 } }], to_after_key_up: [{ set_variable: { name: 'nav', value: 0 } }] },
      { type: 'basic', from: { key_code: 'h' }, conditions: [{ type: 'variable_if', name: 'nav', value: 1 }], to: [{ key_code: 'left_arrow' }] },
      { type: 'basic', from: { key_code: 'q' }, to: [{ key_code: 'w' }], note: 'a field no form shows' },
    ] }] };
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await importFile(page, 'layers.json', Buffer.from(JSON.stringify(doc)));
    const mapped = () => page.locator('.kbkey.mapped').evaluateAll((els) => els.map((e) => (e as HTMLElement).dataset.key));
    expect(await mapped()).toEqual(['q', 'caps_lock']);
    await page.locator('.kbkey[data-key=q]').click();
    await expect.poll(() => page.getByLabel('What it does').inputValue()).toBe('raw');
    expect(await listTexts(page)).toEqual(['JSON: Q → W']);
    expect(await page.locator('.hint.count').innerText()).toContain('3 mappings');
    await page.getByLabel('Layer', { exact: true }).selectOption('nav');
    expect(await mapped()).toEqual(['h']);
    await shot(page, 'editor-layers');
    await page.locator('.kbkey[data-key=j]').click();
    await expect.poll(() => page.locator('.banner.draft').count()).toBe(1);
    expect(await page.locator('fieldset.conditions input.mono').first().inputValue()).toBe('nav');
    await done(page);
  });
});

describe('what the user adds goes where the user says', () => {
  it('a gallery document imported into a rule set with work in it adds its rules (or replaces them, if asked); one undo takes them out', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: FRESH } });
    await addRecipe(page, 'Caps Lock → Control / Escape');
    await page.locator('input[type=file]').setInputFiles({ name: 'example_keyboard_type.json', mimeType: 'application/json', buffer: fixture('example_keyboard_type.json') });
    const dialog = page.getByRole('dialog');
    expect(await dialog.locator('h2').innerText()).toBe('Import “keyboard_type_if, keyboard_type_unless example”');
    expect(await dialog.locator('p').first().innerText()).toBe('2 rules with 3 mappings.');
    expect(await dialog.getByLabel('Add them to the rules here').isChecked()).toBe(true);
    expect(await dialog.innerText()).toContain('Every rule here goes: the next apply removes them from karabiner.json (its backup keeps them).');
    await shot(page, 'editor-import');
    expect(await axeFindings(page), 'import').toEqual([]);
    await dialog.getByRole('button', { name: 'Import', exact: true }).click();
    expect(await ruleNames(page)).toEqual(['Caps Lock → Control / Escape', 'Change control-[ to escape', 'Change escape to mission_control if keyboard_type != ansi']);
    expect(await page.locator('.banner.info').innerText()).toContain('Added “keyboard_type_if, keyboard_type_unless example”: 2 rules, 3 mappings. Undo takes them out again.');
    await page.getByRole('button', { name: 'Undo', exact: true }).click();
    expect(await ruleNames(page)).toEqual(['Caps Lock → Control / Escape']);

    await page.locator('input[type=file]').setInputFiles({ name: 'example_keyboard_type.json', mimeType: 'application/json', buffer: fixture('example_keyboard_type.json') });
    await dialog.getByLabel('Replace the rules here').check();
    await dialog.getByRole('button', { name: 'Import', exact: true }).click();
    expect(await ruleNames(page)).toEqual(['Change control-[ to escape', 'Change escape to mission_control if keyboard_type != ansi']);
    await page.getByRole('button', { name: 'Undo', exact: true }).click();
    expect(await ruleNames(page)).toEqual(['Caps Lock → Control / Escape']);
    await done(page);
  });

  it('a new mapping goes into a new rule named after what it does, not the rule used last; or into the rule chosen', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: FRESH } });
    await addRecipe(page, 'Hyper key');
    await page.locator('li.mapping .summary').first().click();
    await page.locator('.kbkey[data-key=caps_lock]').click();
    await expect.poll(() => page.locator('.banner.draft').count()).toBe(1);
    const target = page.getByLabel('Goes into');
    expect(await target.locator('option:checked').innerText()).toBe('A new rule, named after what the key does');
    await page.getByLabel('+ Add…: Then').selectOption('key');
    await page.getByLabel('Then 1', { exact: true }).fill('escape');
    await page.locator('.keyfilter').getByRole('button').click();
    await expect.poll(() => ruleNames(page)).toEqual(['Hyper key', 'Caps Lock → Escape']);

    await page.locator('.kbkey[data-key=f1]').click();
    await expect.poll(() => page.locator('.banner.draft').count()).toBe(1);
    await page.getByLabel('Goes into').selectOption({ label: '1. Hyper key' });
    await page.getByLabel('+ Add…: Then').selectOption('key');
    await page.getByLabel('Then 1', { exact: true }).fill('escape');
    await page.locator('.keyfilter').getByRole('button').click();
    await expect.poll(() => page.locator('li.rulerow', { hasText: 'Hyper key' }).locator('.num').innerText()).toBe('2');
    expect(await ruleNames(page)).toEqual(['Hyper key', 'Caps Lock → Escape']);
    await done(page);
  });

  it('an application condition with no application is named, and Apply waits for it; "after the threshold" takes the click at once', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: FRESH } });
    await page.locator('.kbkey[data-key=k]').click();
    await expect.poll(() => page.locator('.banner.draft').count()).toBe(1);
    await page.getByLabel('What it does').selectOption('tapHold');
    const delayed = page.getByLabel('after the threshold', { exact: true });
    await delayed.check();
    expect(await delayed.isChecked()).toBe(true);
    const tap = page.locator('fieldset.action', { hasText: 'Tap (pressed and released alone)' });
    await tap.getByLabel('+ Add…: Tap (pressed and released alone)').selectOption('key');
    await tap.getByLabel('Tap (pressed and released alone) 1', { exact: true }).fill('k');
    expect(await delayed.isChecked()).toBe(true);
    // The choice made before any hold action holds an empty one to fill in.
    await page.getByLabel('Hold 1', { exact: true }).fill('left_control');
    await expect.poll(() => listTexts(page)).toEqual(['K: tap → K, hold → Control']);
    expect(await delayed.isChecked()).toBe(true);

    await page.locator('fieldset.conditions select').last().selectOption('app');
    const problem = 'This application condition names no application, so it never holds (“only in”) or always holds (“not in”). Choose an application, or remove the condition.';
    await expect.poll(() => page.locator('fieldset.conditions .problems').innerText()).toBe(problem);
    expect(await page.locator('li.mapping .badge.block').count()).toBe(1);
    expect(await page.locator('.banner.warn').innerText()).toContain('1 problem blocks Apply');
    expect(await page.getByRole('button', { name: 'Apply…' }).isDisabled()).toBe(true);
    await page.locator('fieldset.conditions .condition').getByRole('button', { name: 'Add application' }).click();
    await page.locator('fieldset.conditions .condition button.appitem', { hasText: 'Safari' }).click();
    await expect.poll(() => page.locator('li.mapping .badge.block').count()).toBe(0);
    expect(await page.getByRole('button', { name: 'Apply…' }).isDisabled()).toBe(false);
    await done(page);
  });

  it('rules that travel: app actions written with Karabiner-Elements’ open_application, each way saying what another Mac needs; the ones there can be rewritten', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: FRESH } });
    const card = page.locator('.recipe[data-recipe=focusApp]');
    await card.locator('button.appitem', { hasText: 'Safari' }).click();
    await addRecipe(page, 'Hyper + key focuses an app');
    await page.getByRole('tab', { name: 'Recipes' }).click();
    await card.getByText('Opens apps with Tarvel’s tarvel-focus').click();
    const opener = card.locator('fieldset.opener');
    expect(await opener.getByLabel('Tarvel’s tarvel-focus').isChecked()).toBe(true);
    expect(await opener.innerText()).toContain(`Another Mac needs Tarvel at ${HELPER}.`);
    expect(await opener.innerText()).toContain('Another Mac needs Karabiner-Elements 15.1.0 or later (older versions skip the mapping) and the app, not Tarvel.');
    await opener.getByLabel('Karabiner-Elements’ open_application').check();
    await opener.getByRole('button', { name: 'Also rewrite the 1 action that use tarvel-focus (1 rule)' }).click();
    expect(await page.locator('ul.commands code').allInnerTexts()).toEqual(['com.apple.Safari']);
    // The action's own form says the same.
    await page.locator('li.mapping .summary').first().click();
    const inForm = page.locator('.editor fieldset.opener');
    expect(await inForm.getByLabel('Karabiner-Elements’ open_application').isChecked()).toBe(true);
    await inForm.scrollIntoViewIfNeeded();
    await shot(page, 'editor-opener');
    await page.getByRole('tab', { name: 'Recipes' }).click();
    await card.locator('button.appitem', { hasText: 'Mail' }).click();
    await addRecipe(page, 'Hyper + key focuses an app');
    expect(await page.locator('ul.commands code').allInnerTexts()).toEqual(['com.apple.Safari', 'com.apple.mail']);
    await page.getByRole('button', { name: 'Apply…' }).click();
    const dialog = page.getByRole('dialog');
    expect(await dialog.locator('ul.commands code').allInnerTexts()).toEqual(['com.apple.Safari', 'com.apple.mail']);
    await dialog.getByRole('button', { name: 'Apply', exact: true }).click();
    await dialog.getByRole('button', { name: 'Close' }).click();
    const [body] = await applies(page);
    expect(body.ruleList.map((e: any) => e.rule.manipulators[0].to)).toEqual([
      [{ software_function: { open_application: { bundle_identifier: 'com.apple.Safari' } } }],
      [{ software_function: { open_application: { bundle_identifier: 'com.apple.mail' } } }],
    ]);
    await done(page);
  });
});

describe('Karabiner-Elements documents', () => {
  it('import → apply sends the same manipulators, rule by rule', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    const text = fixture('japanese.json');
    await importFile(page, 'japanese.json', text);
    const original = JSON.parse(text.toString()) as { title: string; rules: { description: string; manipulators: unknown[] }[] };
    await page.getByRole('button', { name: 'Apply…' }).click();
    await page.getByRole('dialog').getByRole('button', { name: 'Apply', exact: true }).click();
    await page.getByRole('dialog').getByRole('button', { name: 'Close' }).click();
    const [body] = await applies(page);
    expect(body.title).toBe(original.title);
    expect(body.rules.map((r: any) => [r.name, r.manipulators])).toEqual(original.rules.map((r) => [r.description, r.manipulators]));
    expect(body.manipulators).toEqual(original.rules.flatMap((r) => r.manipulators));
    await done(page);
  });

  it('imports, refuses a broken file untouched, exports a file that reimports', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    expect(await page.locator('input[type=file]').getAttribute('accept')).toBe('.json,application/json');
    const doc = {
      title: 'Imported set',
      rules: [{ description: 'Vim', manipulators: [
        { type: 'basic', from: { key_code: 'h', modifiers: { mandatory: ['control'] } }, to: { key_code: 'left_arrow' } },
        { type: 'basic', from: { key_code: 'a' }, to: [{ key_code: 'b' }], to_if_other_key_pressed: [{ other_keys: [{ key_code: 'c' }], to: [{ key_code: 'd' }] }] },
      ] }],
    };
    await importFile(page, 'vim.json', Buffer.from(JSON.stringify(doc)));
    expect(await page.locator('.banner.info').innerText()).toContain('Imported “Imported set”: 1 rule, 2 mappings. 1 of them is shown as JSON.');
    expect(await page.getByLabel('Rule set title').inputValue()).toBe('Imported set');
    expect(await listTexts(page)).toEqual(['⌃H → ←', 'JSON: A → B']);

    await importFile(page, 'bad.json', Buffer.from('{"rules": [ {'));
    expect(await page.locator('.banner.error').innerText()).toContain('not valid JSON');
    await importFile(page, 'other.json', Buffer.from('{"global": {}}'));
    expect(await page.locator('.banner.error').innerText()).toContain('neither a Tarvel rule set');
    expect(await listTexts(page)).toHaveLength(2);

    await page.getByLabel('Rule set title').fill('Work: laptop/desk');
    const [download] = await Promise.all([page.waitForEvent('download'), page.getByRole('button', { name: 'Export' }).click()]);
    expect(download.suggestedFilename()).toBe('Work- laptop-desk.json');
    const exported = JSON.parse(readFileSync(await download.path(), 'utf8'));
    expect(exported.title).toBe('Work: laptop/desk');
    expect(exported.rules).toEqual(doc.rules);
    expect(exported.tarvel.format).toBe('tarvel-ruleset');

    const fresh = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await importFile(fresh, 'x.json', readFileSync(await download.path()));
    expect(await listTexts(fresh)).toEqual(['⌃H → ←', 'JSON: A → B']);
    await done(fresh);
    await done(page);
  });

  it('every command a rule runs is shown in full, invisible characters made visible, odd fallbacks marked', async () => {
    const curl = `curl -fsSL https://example.com/install-${'x'.repeat(90)}.sh | sh`;
    const doc = { title: 'Commands', rules: [{ description: 'runs things', manipulators: [
      { type: 'basic', from: { key_code: 'f1' }, to: [{ shell_command: curl }], extra_field: 1 },
      { type: 'basic', from: { key_code: 'f2' }, to: [{ shell_command: `'${HELPER}' --name 'Safari' --bundle-id 'com.apple.Safari' --fallback '/tmp/evil.sh'` }] },
      { type: 'basic', from: { key_code: 'f3' }, to: [{ shell_command: 'open /Applications/\u202Eppa.irafaS' }] },
    ] }] };
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await importFile(page, 'commands.json', Buffer.from(JSON.stringify(doc)));
    const codes = await page.locator('ul.commands code').allInnerTexts();
    expect(codes).toEqual([curl, doc.rules[0].manipulators[1].to[0].shell_command, 'open /Applications/⟨U+202E⟩ppa.irafaS']);
    expect(await page.locator('ul.commands li.warn').innerText()).toContain('The fallback is not an application bundle or desktop file.');
    // Wrapped, never cut.
    const box = await page.locator('ul.commands code').first().evaluate((el) => ({ sw: el.scrollWidth, cw: el.clientWidth, h: el.clientHeight }));
    expect(box.sw).toBeLessThanOrEqual(box.cw);
    expect(box.h).toBeGreaterThan(30);
    await shot(page, 'editor-commands');
    await done(page);
  });
});

describe('try it', () => {
  /** Scrolls the tab's own panel (not the window) to what is shown. */
  const showInPanel = (page: Page, selector: string) => page.evaluate((sel) => {
    const panel = document.querySelector('.tabpanel') as HTMLElement;
    const el = document.querySelector(sel) as HTMLElement;
    panel.scrollTop += el.getBoundingClientRect().top - panel.getBoundingClientRect().top - 8;
  }, selector);
  const flat = async (l: { innerText(): Promise<string> }) => (await l.innerText()).replace(/\s+/g, ' ');
  const sentTexts = (page: Page) => page.locator('li.outcome').first().locator('.sent').allInnerTexts();
  it('shows which manipulator of which rule takes a key over imported gallery rules, and which never fire', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await importFile(page, 'hai_hhkb_open_apps.json', fixture('hai_hhkb_open_apps.json'));
    await page.getByRole('tab', { name: 'Try it' }).click();
    const shadows = page.locator('ul.shadows li');
    await expect.poll(() => shadows.count()).toBeGreaterThan(0);
    // A finding names the winner and why, with no quotes inside quotes.
    expect(await shadows.first().innerText()).toMatch(/never fires: rule “[^“”]+”, mapping \d+ takes the same key first in every case where this one would/);
    // Right Option held by hand, then B: the first of the two rules on it takes it and runs its command.
    await page.getByRole('button', { name: 'R⌥ right option' }).click();
    await page.locator('.kbkey[data-key=b]').click();
    const outcome = page.locator('li.outcome').first();
    expect(await flat(outcome)).toMatch(/B down taken by rule “/);
    expect(await outcome.locator('code').first().innerText()).toContain('open');
    await showInPanel(page, '.simlog');
    await shot(page, 'editor-try');
    // Without the modifier, B goes through unchanged.
    await page.getByRole('button', { name: 'R⌥ right option' }).click();
    await page.locator('.kbkey[data-key=b]').click();
    expect(await page.locator('li.outcome').first().innerText()).toContain('no manipulator takes it');
    expect(await sentTexts(page)).toEqual(['B down', 'B up']);
    await done(page);
  });

  it('holding a layer key turns its mappings on for the next keys; the box takes Tab and every key, Esc leaves it', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await addRecipe(page, 'Vim arrows layer');
    await page.getByRole('tab', { name: 'Try it' }).click();
    await page.getByLabel('Hold', { exact: true }).check();
    await page.locator('.kbkey[data-key=tab]').click();
    await page.getByLabel('Tap', { exact: true }).check();
    const capture = page.getByRole('textbox', { name: 'Press keys here' });
    await capture.focus();
    await page.keyboard.press('KeyJ');
    expect(await sentTexts(page)).toEqual(['↓ down', '↓ up']);
    expect(await flat(page.locator('li.outcome').first())).toContain('taken by rule “Vim arrows layer”, mapping 3');
    // Releasing the layer key sends what its release sends (nothing here: the layer goes off).
    await page.getByRole('button', { name: 'Release Tab' }).click();
    expect(await flat(page.locator('li.outcome').first())).toMatch(/Release Tab.*Tab up taken by rule “Vim arrows layer”, mapping 1/);
    await capture.focus();
    await page.keyboard.press('KeyJ');
    expect(await page.locator('li.outcome').first().innerText()).toContain('no manipulator takes it');
    // Tab is a key like the others here; tapped alone it is the layer key's own Tab.
    await page.keyboard.press('Tab');
    expect(await focused(page)).toBe('div[textbox]:Press keys here');
    expect(await sentTexts(page)).toEqual(['Tab']);
    await page.keyboard.press('Escape');
    expect(await focused(page)).not.toBe('div[textbox]:Press keys here');
    await done(page);
  });

  it('a sequence with times: home-row modifiers type a fast roll as letters; held, they are modifiers', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    await addRecipe(page, 'Home-row modifiers');
    await page.getByRole('tab', { name: 'Try it' }).click();
    await page.getByLabel('Sequence', { exact: true }).check();
    await page.getByRole('button', { name: 'Fast roll a, s' }).click();
    expect(await sentTexts(page)).toEqual(['A', 'S']);
    const rows = (await page.locator('li.outcome').first().locator('ol.timeline > li').allInnerTexts()).map((r) => r.replace(/\s+/g, ' '));
    expect(rows[0]).toMatch(/^0 ms\s+A down taken by rule “Home-row modifiers”, mapping 1/);
    expect(rows.join('\n')).toMatch(/30 ms\s+A\s+rule “Home-row modifiers”, mapping 1 · delay cut short/);
    const seq = page.getByLabel('Keys down (↓) and up (↑), with the milliseconds from the first');
    await seq.fill('f↓ 0, j↓ 300, j↑ 350, f↑ 400');
    await page.getByRole('button', { name: 'Run', exact: true }).click();
    expect(await sentTexts(page)).toEqual(['⇧ down', '⇧J', '⇧ up']);
    await showInPanel(page, '.simlog');
    await shot(page, 'editor-try-sequence');
    // Recorded from the keyboard: downs and ups with their times; Esc stops and leaves the box.
    await page.getByRole('button', { name: 'Record' }).click();
    await page.keyboard.down('KeyF');
    await page.keyboard.down('KeyJ');
    await page.keyboard.up('KeyF');
    await page.keyboard.up('KeyJ');
    await page.keyboard.press('Escape');
    expect(await seq.inputValue()).toMatch(/^f↓ 0, j↓ \d+, f↑ \d+, j↑ \d+$/);
    await seq.fill('f↓ 0, j↓ x');
    await page.getByRole('button', { name: 'Run', exact: true }).click();
    expect(await page.locator('.sequence [role=alert]').innerText()).toBe('“j↓ x” needs ↓ or ↑ after the key, then the time.');
    await done(page);
  });
});

describe('files, language, preview and layout', () => {
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

  it('a Japanese system starts with the JIS picture and a Japanese title, and switches to English and back', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() }, lang: 'ja-JP' });
    expect(await page.getByRole('button', { name: '適用…' }).count()).toBe(1);
    expect(await page.locator('.kbkey[data-key=japanese_eisuu]').count()).toBe(1);
    expect(await page.getByLabel('ルールセット名').inputValue()).toBe('マイキーマップ');
    expect(await page.title()).toBe('Tarvel キーマップエディタ');
    await page.getByRole('button', { name: '追加: Caps Lock → Control / Escape' }).click();
    expect(await listTexts(page)).toEqual(['Caps Lock: タップ → Escape、長押し → Control']);
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
    const page = await openPage(browser, { bridge: { inventory: sampleInventory(), config: FRESH } });
    for (const r of ['Vim arrows layer', 'App launcher layer', 'Hyper key', 'Media keys on F7–F12', '⌘Q twice to quit']) await addRecipe(page, r);
    for (const tab of ['Recipes', 'Edit', 'Try it', 'JSON', 'In Karabiner-Elements', 'Backups']) {
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

describe('accessibility', () => {
  it('axe-core finds nothing critical or serious in any view', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    const views: [string, () => Promise<void>][] = [
      ['recipes', async () => {}],
      ['edit: tap / hold', async () => { await addRecipe(page, 'Caps Lock → Control / Escape'); await page.locator('li.mapping .summary').first().click(); }],
      ['edit: layer', async () => { await page.getByRole('tab', { name: 'Recipes' }).click(); await addRecipe(page, 'Vim arrows layer'); await page.locator('li.mapping .summary', { hasText: 'layer “arrows” on' }).click(); }],
      ['edit: double tap', async () => { await page.getByRole('tab', { name: 'Recipes' }).click(); await addRecipe(page, '⌘Q twice to quit'); await page.locator('li.mapping .summary', { hasText: 'twice' }).click(); }],
      ['edit: advanced and its conditions', async () => {
        await page.getByLabel('What it does').selectOption('advanced');
        await page.getByRole('dialog').getByRole('button', { name: 'Drop them and change' }).click();
        const conditions = page.locator('fieldset.conditions');
        await conditions.getByLabel('+ Condition…').selectOption('device');
        await conditions.getByLabel('+ Condition…').selectOption('input');
      }],
      ['edit: JSON', async () => { await page.getByLabel('What it does').selectOption('raw'); }],
      ['try it', async () => { await page.getByRole('tab', { name: 'Try it' }).click(); await page.locator('.kbkey[data-key=caps_lock]').click(); }],
      ['json', async () => { await page.getByRole('tab', { name: 'JSON' }).click(); }],
      ['apply dialog', async () => { await page.getByRole('button', { name: 'Apply…' }).click(); }],
    ];
    for (const [name, go] of views) {
      await go();
      expect(await axeFindings(page), name).toEqual([]);
    }
    await page.keyboard.press('Escape');
    const ja = await openPage(browser, { bridge: { inventory: sampleInventory() }, lang: 'ja-JP' });
    expect(await axeFindings(ja), 'Japanese').toEqual([]);
    await done(ja);
    await done(page);
  });

  it('the keyboard picture is one Tab stop with arrow keys inside; tabs follow the tabs pattern', async () => {
    const page = await openPage(browser, { bridge: { inventory: sampleInventory() } });
    // The first recipe is a few Tab presses away, not behind every key of the picture.
    let presses = 0;
    while (presses < 40 && !(await page.evaluate(() => !!document.activeElement?.closest('.recipe')))) {
      await page.keyboard.press('Tab');
      presses++;
    }
    expect(presses).toBeLessThanOrEqual(20);
    await page.getByLabel('Layer', { exact: true }).focus();
    await page.keyboard.press('Tab');
    expect(await focused(page)).toBe('button:escape');
    await page.keyboard.press('ArrowRight');
    expect(await focused(page)).toBe('button:f1');
    await page.keyboard.press('ArrowDown');
    expect(await focused(page)).toBe('button:1');
    await page.keyboard.press('End');
    expect(await focused(page)).toBe('button:delete_or_backspace');
    await page.keyboard.press('Tab');
    expect(await focused(page)).toBe('button[tab]:Recipes');
    await page.keyboard.press('ArrowRight');
    expect(await focused(page)).toBe('button[tab]:Try it');
    expect(await page.getByRole('tab', { name: 'Try it' }).getAttribute('aria-selected')).toBe('true');
    await page.keyboard.press('Home');
    expect(await focused(page)).toBe('button[tab]:Edit');
    // Back into the picture: focus returns to the key last used.
    await page.keyboard.press('Shift+Tab');
    expect(await focused(page)).toBe('button:delete_or_backspace');
    await done(page);
  });
});
