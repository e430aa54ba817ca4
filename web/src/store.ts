// The page's state: the rule set under undo, and everything around it that is not undoable.
import { useLayoutEffect, useState } from 'preact/hooks';
import { Bridge, type ApplyOutcome } from './bridge';
import { detectLanguage, setLanguage, type Lang } from './i18n';
import { mergeInventory, type AppEntry } from './model/apps';
import { compileRuleSet } from './model/compile';
import { History } from './model/history';
import { exportDocument, exportFileName, importDocument, readRuleSet, ruleSetForSaving } from './model/io';
import type { CompileContext, Inventory, JsonObject, Mapping, RuleSet } from './model/types';
import { emptyRuleSet, newId } from './model/types';
import { validateRuleSet, type Problem } from './model/validate';

export const SAVE_KEY = 'tarvel.workingRuleSet';
export const LANG_KEY = 'tarvel.language';

export type Tab = 'edit' | 'recipes' | 'json';
export type ApplyState =
  | { phase: 'closed' }
  | { phase: 'confirm' }
  | { phase: 'busy' }
  | { phase: 'done'; outcome: ApplyOutcome };
export interface Notice { kind: 'info' | 'error'; text: string }

function storage(): Storage | undefined {
  try {
    return window.localStorage;
  } catch {
    return undefined;
  }
}

export class Store {
  history: History<RuleSet>;
  bridge: Bridge;
  lang: Lang;
  tab: Tab = 'recipes';
  selectedId: string | undefined;
  query = '';
  keyFilter: string | undefined;
  inventory: Inventory | null = null;
  inventoryState: 'loading' | 'ready' | 'unavailable' = 'unavailable';
  apps: AppEntry[] = [];
  apply: ApplyState = { phase: 'closed' };
  notice: Notice | undefined;
  /** A key field waiting for a key press or a click on the keyboard. */
  picking: { fieldId: string; done: (key: string) => void } | undefined;
  restored = false;
  private listeners = new Set<() => void>();
  private saveTimer: ReturnType<typeof setTimeout> | undefined;
  private checked: { rs?: RuleSet; problems: Problem[]; counts: Map<string, { e: number; w: number }> } = { problems: [], counts: new Map() };
  private compiled: { rs?: RuleSet; helper?: string; manipulators: JsonObject[] } = { manipulators: [] };

  constructor(win: Window = window) {
    this.bridge = new Bridge(win as never);
    const st = storage();
    this.lang = detectLanguage(st?.getItem(LANG_KEY) ?? null, win.navigator?.language);
    setLanguage(this.lang);
    let initial = emptyRuleSet();
    try {
      const saved = st?.getItem(SAVE_KEY);
      const rs = saved ? readRuleSet(JSON.parse(saved)) : undefined;
      if (rs) {
        initial = rs;
        this.restored = rs.mappings.length > 0;
        if (this.restored) this.tab = 'edit';
      }
    } catch {
      // A damaged saved state is ignored; the user starts afresh.
    }
    this.history = new History(initial);
    if (this.bridge.available) void this.loadInventory();
  }

  get ruleSet(): RuleSet { return this.history.present; }
  get preview(): boolean { return !this.bridge.available; }
  get context(): CompileContext { return { helperPath: this.inventory?.helperPath }; }

  // Checks and compiled manipulators follow the rule set; each is computed once per version, when asked.
  private derived() {
    const rs = this.ruleSet;
    if (this.checked.rs !== rs) {
      const problems = validateRuleSet(rs);
      const counts = new Map<string, { e: number; w: number }>();
      for (const p of problems) {
        const c = counts.get(p.id) ?? { e: 0, w: 0 };
        if (p.severity === 'error') c.e++; else c.w++;
        counts.set(p.id, c);
      }
      this.checked = { rs, problems, counts };
    }
    return this.checked;
  }
  get problems(): Problem[] { return this.derived().problems; }
  get problemCounts(): Map<string, { e: number; w: number }> { return this.derived().counts; }
  get manipulators(): JsonObject[] {
    const rs = this.ruleSet;
    const helper = this.inventory?.helperPath;
    if (this.compiled.rs !== rs || this.compiled.helper !== helper) {
      this.compiled = { rs, helper, manipulators: compileRuleSet(rs, { helperPath: helper }) };
    }
    return this.compiled.manipulators;
  }
  get errorCount(): number { return this.problems.filter((p) => p.severity === 'error').length; }

  subscribe(fn: () => void): () => void {
    this.listeners.add(fn);
    return () => this.listeners.delete(fn);
  }
  emit(): void { for (const fn of this.listeners) fn(); }
  set(patch: Partial<Pick<Store, 'tab' | 'selectedId' | 'query' | 'keyFilter' | 'notice' | 'picking' | 'apply'>>): void {
    Object.assign(this, patch);
    this.emit();
  }

  // Edits: each one is an undo step, except keystrokes in one field, which coalesce.
  commit(next: RuleSet, coalesceKey?: string): void {
    this.history.commit(next, coalesceKey);
    this.scheduleSave();
    this.emit();
  }
  setTitle(title: string): void { this.commit({ ...this.ruleSet, title }, 'title'); }
  setLayout(layout: RuleSet['layout']): void { this.commit({ ...this.ruleSet, layout }); }
  updateMapping(id: string, fn: (m: Mapping) => Mapping, coalesceKey?: string): void {
    const rs = this.ruleSet;
    this.commit({ ...rs, mappings: rs.mappings.map((m) => (m.id === id ? fn(m) : m)) }, coalesceKey && `${id}:${coalesceKey}`);
  }
  addMappings(ms: Mapping[], select = true): void {
    if (!ms.length) return;
    this.commit({ ...this.ruleSet, mappings: [...this.ruleSet.mappings, ...ms] });
    if (select) this.set({ selectedId: ms[0].id });
  }
  removeMapping(id: string): void {
    const ms = this.ruleSet.mappings;
    const i = ms.findIndex((m) => m.id === id);
    if (i < 0) return;
    const rest = ms.filter((m) => m.id !== id);
    this.commit({ ...this.ruleSet, mappings: rest });
    if (this.selectedId === id) this.set({ selectedId: rest[Math.min(i, rest.length - 1)]?.id });
  }
  duplicateMapping(id: string): void {
    const ms = [...this.ruleSet.mappings];
    const i = ms.findIndex((m) => m.id === id);
    if (i < 0) return;
    const copy = { ...structuredClone(ms[i]), id: newId() };
    ms.splice(i + 1, 0, copy);
    this.commit({ ...this.ruleSet, mappings: ms });
    this.set({ selectedId: copy.id });
  }
  moveMapping(id: string, delta: number): void {
    const ms = [...this.ruleSet.mappings];
    const i = ms.findIndex((m) => m.id === id);
    const j = i + delta;
    if (i < 0 || j < 0 || j >= ms.length) return;
    [ms[i], ms[j]] = [ms[j], ms[i]];
    this.commit({ ...this.ruleSet, mappings: ms });
  }
  undo(): void { if (this.history.undo()) { this.scheduleSave(); this.emit(); } }
  redo(): void { if (this.history.redo()) { this.scheduleSave(); this.emit(); } }

  setLang(lang: Lang): void {
    this.lang = lang;
    setLanguage(lang);
    try { storage()?.setItem(LANG_KEY, lang); } catch { /* storage full or off: the choice lasts this session */ }
    this.emit();
  }

  private scheduleSave(): void {
    clearTimeout(this.saveTimer);
    this.saveTimer = setTimeout(() => this.saveNow(), 250);
  }
  saveNow(): void {
    try {
      storage()?.setItem(SAVE_KEY, JSON.stringify(ruleSetForSaving(this.ruleSet)));
    } catch {
      // Storage refused (quota, private mode): the work stays in the page.
    }
  }

  async loadInventory(): Promise<void> {
    this.inventoryState = 'loading';
    this.emit();
    const inv = await this.bridge.requestInventory();
    this.inventory = inv;
    this.apps = mergeInventory(inv);
    this.inventoryState = inv ? 'ready' : 'unavailable';
    this.emit();
  }

  /** Applies in flight; the app answers each in turn, possibly never (then the user may close the wait). */
  applying = 0;
  async runApply(): Promise<void> {
    this.applying++;
    this.set({ apply: { phase: 'busy' } });
    const outcome = await this.bridge.apply(this.ruleSet.title, this.manipulators);
    this.applying--;
    this.set({ apply: { phase: 'done', outcome } });
  }

  importText(text: string): { ok: true; title: string; n: number; raw: number } | { ok: false; error: string; detail?: string } {
    const r = importDocument(text);
    if (!r.ok) return r;
    this.commit(r.ruleSet);
    this.set({ selectedId: r.ruleSet.mappings[0]?.id, keyFilter: undefined, query: '' });
    return { ok: true, title: r.ruleSet.title, n: r.ruleSet.mappings.length, raw: r.raw };
  }

  exportFile(): { name: string; text: string } {
    return {
      name: exportFileName(this.ruleSet.title),
      text: `${JSON.stringify(exportDocument(this.ruleSet, this.context), null, 2)}\n`,
    };
  }
}

export function useStore(store: Store): Store {
  const [, setTick] = useState(0);
  // Subscribed in the same task as the first render, so an answer that arrives right after it is seen.
  useLayoutEffect(() => store.subscribe(() => setTick((n) => n + 1)), [store]);
  return store;
}
