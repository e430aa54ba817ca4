// The page's state: the rule set under undo, and everything around it that is not undoable.
import { useLayoutEffect, useState } from 'preact/hooks';
import { Bridge, type ApplyBody, type ApplyOutcome } from './bridge';
import {
  configBody, devicesOf, describe, fates, isFailure, manipulatorsOf, nothingToDo, plan, ruleEnabled, ruleFromInstalled, ruleKeys, ruleSetFromInstalled,
  sameProfile, selectedProfile, type Backup, type Choices, type Configuration, type Failure, type Plan,
} from './model/config';
import { detectLanguage, setLanguage, t, type Lang } from './i18n';
import { mergeInventory, type AppEntry } from './model/apps';
import { checkMapping, type Problem } from './model/check';
import { commandsOf, type AppPathLookup } from './model/commands';
import { convertMapping, layerLabel, variableNames } from './model/forms';
import { History } from './model/history';
import { exportDocument, exportFileName, importDocument, readRuleSet, ruleSetForSaving } from './model/io';
import { isObj, isStr, type JsonObject } from './model/json';
import { checkLimits, type LimitProblem } from './model/limits';
import { defaultOptional, layersOf, triggerKeys, variableTests } from './model/manipulator';
import { compileRules, flatManipulators, newRule, type ApplyRule } from './model/rules';
import { eventsOf, keyFieldOf } from './model/shapes';
import { findShadows, type KeyId, type ProfileSettings, type Session, type Shadow, type SimContext, type SimRule } from './model/simulate';
import { initialSim, TryIt, type SimMode, type SimState } from './tryit';
import { setAppNames } from './model/summary';
import type { DeviceRecord, FormKind, Inventory, LayoutName, Mapping, Rule, RuleSet } from './model/types';
import { newId } from './model/types';
import type { KeyRef } from './model/manipulator';

export const SAVE_KEY = 'tarvel.workingRuleSet';
const NONE: Problem[] = [];
export const LANG_KEY = 'tarvel.language';
export const CHOICES_KEY = 'tarvel.configChoices';

export type Tab = 'edit' | 'recipes' | 'try' | 'json' | 'installed' | 'backups';
export const TABS: Tab[] = ['edit', 'recipes', 'try', 'json', 'installed', 'backups'];
export type ApplyState =
  | { phase: 'closed' }
  | { phase: 'confirm' }
  | { phase: 'busy' }
  | { phase: 'refused'; problem: LimitProblem }
  | { phase: 'done'; outcome: ApplyOutcome };
/** karabiner.json as last read: 'off' in a preview or with an app that does not read it for the page. */
export type ConfigState =
  | { phase: 'off' }
  | { phase: 'loading'; config?: Configuration }
  | { phase: 'ready'; config: Configuration; stale?: boolean }
  | { phase: 'failed'; failure: Failure };
export type RestoreState =
  | { phase: 'closed' }
  | { phase: 'confirm'; backup: Backup; baseDigest?: string }
  | { phase: 'busy'; backup: Backup }
  | { phase: 'done'; outcome: ApplyOutcome };
/** Why Apply is off although the rules are fine. */
export type ApplyHold = 'loading' | 'failed' | 'stale' | 'nothing';
/** 'warn' stays until dismissed; 'info' goes by itself. */
export interface Notice { kind: 'info' | 'warn' | 'error'; text: string }
export interface Confirm { title: string; body: string; items: string[]; confirm: string; run: () => void }
/** A mapping being written that is not in the rule set until it does something. */
export interface Draft { mapping: Mapping; ruleId?: string }

/** Where a mapping sits in the rule set. */
export interface Located { rule: Rule; ruleIndex: number; mapping: Mapping; index: number }

function storage(): Storage | undefined {
  try {
    return window.localStorage;
  } catch {
    return undefined;
  }
}

export function emptyRuleSet(lang: Lang): RuleSet {
  return { title: t('app.defaultTitle'), layout: lang === 'ja' ? 'jis' : 'us', rules: [newRule(t('app.defaultRule'))] };
}

/** A draft needs something to send before it becomes a mapping. */
export function isFilled(m: Mapping): boolean {
  return m.manipulators.some((man) => ['to', 'to_if_alone', 'to_if_held_down', 'to_after_key_up'].some((list) => eventsOf(man[list]).some((e) => {
    const field = keyFieldOf(e);
    return field ? e[field] !== '' : Object.keys(e).length > 0;
  })));
}

interface Derived {
  rules0?: Rule[];
  kept?: SimRule[];
  problems: Problem[];
  byMapping: Map<string, Problem[]>;
  counts: Map<string, { b: number; w: number }>;
  located: Map<string, Located>;
  rules: ApplyRule[];
  simRules: SimRule[];
  /** Per layer ("" for the base layer): key name → the mappings triggered by it there. */
  marks: Map<string, Map<string, string[]>>;
  layers: string[];
  variables: string[];
}

export class Store {
  history: History<RuleSet>;
  bridge: Bridge;
  lang: Lang;
  tab: Tab = 'recipes';
  selectedId: string | undefined;
  selectedRuleId: string | undefined;
  draft: Draft | undefined;
  query = '';
  keyFilter: string | undefined;
  layerView = '';
  inventory: Inventory | null = null;
  inventoryState: 'loading' | 'ready' | 'unavailable' = 'unavailable';
  apps: AppEntry[] = [];
  /** Devices of the configuration's profile, for device conditions (filled in by the native side). */
  devices: DeviceRecord[] = [];
  /** Rules of the installed configuration that Apply keeps, written after Tarvel's. */
  keptRules: SimRule[] = [];
  apply: ApplyState = { phase: 'closed' };
  config: ConfigState = { phase: 'off' };
  choices: Choices = { profile: 0, dropped: new Set() };
  restoring: RestoreState = { phase: 'closed' };
  confirm: Confirm | undefined;
  notice: Notice | undefined;
  /** A key field waiting for a key press or a click on the keyboard. */
  picking: { fieldId: string; done: (key: string) => void } | undefined;
  sim: SimState;
  restored = false;
  private listeners = new Set<() => void>();
  private saveTimer: ReturnType<typeof setTimeout> | undefined;
  private cache: Derived = { problems: [], byMapping: new Map(), counts: new Map(), located: new Map(), rules: [], simRules: [], marks: new Map(), layers: [], variables: [] };

  constructor(win: Window = window) {
    this.bridge = new Bridge(win as never);
    const st = storage();
    this.lang = detectLanguage(st?.getItem(LANG_KEY) ?? null, win.navigator?.language);
    setLanguage(this.lang);
    let initial = emptyRuleSet(this.lang);
    try {
      const saved = st?.getItem(SAVE_KEY);
      const rs = saved ? readRuleSet(JSON.parse(saved)) : undefined;
      if (rs) {
        initial = rs;
        this.restored = rs.rules.some((r) => r.mappings.length > 0);
        if (this.restored) this.tab = 'edit';
      }
    } catch {
      // A damaged saved state is ignored; the user starts afresh.
    }
    this.history = new History(initial);
    this.sim = initialSim(initial.layout);
    if (this.bridge.available) void this.loadInventory();
    if (this.bridge.readsConfiguration) void this.loadConfig();
    // Closing or reloading the page writes what a pending save would have.
    win.addEventListener?.('pagehide', () => { if (this.saveTimer !== undefined) this.saveNow(); });
  }

  get ruleSet(): RuleSet { return this.history.present; }
  get preview(): boolean { return !this.bridge.available; }
  get helperPath(): string | undefined { return this.inventory?.helperPath; }

  // Checks, rules and marks follow the rule set; each is computed once per version, when asked.
  // Everything here depends on the rules only: renaming the rule set or switching the layout keeps it.
  private derived(): Derived {
    const rs = this.ruleSet;
    if (this.cache.rules0 === rs.rules && this.cache.kept === this.keptRules) return this.cache;
    const located = new Map<string, Located>();
    rs.rules.forEach((rule, ruleIndex) => rule.mappings.forEach((mapping, index) => located.set(mapping.id, { rule, ruleIndex, mapping, index })));
    const rules = compileRules(rs);
    const simRules: SimRule[] = rs.rules.map((r) => {
      const on = r.mappings.filter((m) => m.enabled);
      return { name: r.name, enabled: r.enabled, manipulators: on.flatMap((m) => m.manipulators), mappingIds: on.flatMap((m) => m.manipulators.map(() => m.id)) };
    });
    simRules.push(...this.keptRules.map((r) => ({ ...r, kept: true })));
    const problems: Problem[] = [];
    for (const r of rs.rules) for (const m of r.mappings) if (m.enabled) problems.push(...this.checked(m));
    problems.push(...this.shadowProblems(simRules, located));
    const counts = new Map<string, { b: number; w: number }>();
    const byMapping = new Map<string, Problem[]>();
    for (const p of problems) {
      const list = byMapping.get(p.id);
      if (list) list.push(p); else byMapping.set(p.id, [p]);
      const c = counts.get(p.id) ?? { b: 0, w: 0 };
      if (p.severity === 'block') c.b++; else c.w++;
      counts.set(p.id, c);
    }
    const marks = new Map<string, Map<string, string[]>>([['', new Map()]]);
    for (const rule of rs.rules) for (const m of rule.mappings) {
      for (const man of m.manipulators) {
        if (!isObj(man)) continue;
        const layers = layersOf(man);
        for (const layer of layers.length ? layers : ['']) {
          let keys = marks.get(layer);
          if (!keys) marks.set(layer, (keys = new Map()));
          for (const k of triggerKeys(man)) {
            const list = keys.get(k);
            if (!list) keys.set(k, [m.id]);
            else if (!list.includes(m.id)) list.push(m.id);
          }
        }
      }
    }
    const layers = [...marks.keys()].filter((l) => l !== '').sort((a, b) => a.localeCompare(b));
    const variables = [...variableNames(simRules.flatMap((r) => r.manipulators).filter(isObj))].sort();
    this.cache = { rules0: rs.rules, kept: this.keptRules, problems, byMapping, counts, located, rules, simRules, marks, layers, variables };
    return this.cache;
  }
  // Finding mappings that never fire looks at every rule at once; while the user types it runs after
  // a pause, and the last findings stand meanwhile.
  private shadows: { rules?: SimRule[]; problems: Problem[]; list?: Shadow[]; timer?: ReturnType<typeof setTimeout> } = { problems: [] };
  /** The manipulators that never fire, as last found. */
  get shadowList(): Shadow[] { return this.shadows.list ?? []; }
  /** A manipulator of the rules tried, named as the list names it: the rule, and the mapping's place. */
  placeName(rule: number, manipulator: number): string {
    const r = this.simRules[rule];
    if (!r) return '';
    const id = r.mappingIds?.[manipulator];
    const at = id ? this.locate(id) : undefined;
    return t(r.kept ? 'sim.whereKept' : 'sim.where', { rule: r.name || String(rule + 1), n: at ? at.index + 1 : manipulator + 1 });
  }
  /** What a finding says wins. */
  winners(s: Shadow): string {
    return s.by.map((w) => ('rule' in w ? this.placeName(w.rule, w.manipulator) : t('sim.simpleMod', { from: w.simple.replace(/^key_code:/, ''), to: w.to.replace(/key_code:/g, '') }))).join(t('sim.and'));
  }
  private shadowProblems(simRules: SimRule[], located: Map<string, Located>, sync = false): Problem[] {
    if (this.shadows.rules === simRules) return this.shadows.problems;
    if (!sync) {
      clearTimeout(this.shadows.timer);
      // The first time (the page opening) right after the first frame; later after a pause.
      this.shadows.timer = setTimeout(() => {
        this.shadowProblems(this.simRules, this.derived().located, true);
        this.cache = { ...this.cache, rules0: undefined };
        this.emit();
      }, this.shadows.rules ? 300 : 0);
      return this.shadows.problems.filter((p) => located.has(p.id));
    }
    clearTimeout(this.shadows.timer);
    const problems: Problem[] = [];
    const shadows = findShadows(simRules, this.simProfile);
    for (const s of shadows) {
      const id = simRules[s.rule].mappingIds?.[s.manipulator];
      if (!id) continue;
      const ids = simRules[s.rule].mappingIds ?? [];
      problems.push({ id, path: String(s.manipulator - ids.indexOf(id)), code: `v.shadowed.${s.why}`, severity: 'warning', params: { by: this.winners(s) } });
    }
    this.shadows = { rules: simRules, problems, list: shadows };
    return problems;
  }
  /** Every finding now, shadows included, as after an import. */
  checkNow(): void {
    this.shadowProblems(this.simRules, this.derived().located, true);
    this.cache = { ...this.cache, rules0: undefined };
    void this.problems;
  }

  // A mapping object never changes once made, so its findings are kept with it.
  private checks = new WeakMap<Mapping, Problem[]>();
  private checked(m: Mapping): Problem[] {
    let hit = this.checks.get(m);
    if (!hit) this.checks.set(m, (hit = checkMapping(m)));
    return hit;
  }
  get problems(): Problem[] { return this.derived().problems; }
  problemsOf(id: string): Problem[] { return this.derived().byMapping.get(id) ?? NONE; }
  get problemCounts(): Map<string, { b: number; w: number }> { return this.derived().counts; }
  get blockCount(): number { return this.problems.filter((p) => p.severity === 'block').length; }
  get rules(): ApplyRule[] { return this.derived().rules; }
  /** Manipulators the rule set writes. */
  get manipulatorCount(): number { return this.derived().rules.reduce((n, r) => n + r.manipulators.length, 0); }
  get simRules(): SimRule[] { return this.derived().simRules; }
  get layers(): string[] { return this.derived().layers; }
  get variables(): string[] { return this.derived().variables; }
  marksFor(layer: string): Map<string, string[]> { return this.derived().marks.get(layer) ?? new Map(); }
  locate(id: string | undefined): Located | undefined { return id ? this.derived().located.get(id) : undefined; }
  get selected(): Mapping | undefined {
    if (this.draft && this.selectedId === this.draft.mapping.id) return this.draft.mapping;
    return this.locate(this.selectedId)?.mapping;
  }
  get applyBody(): ApplyBody {
    const rules = this.rules;
    // An app that reads karabiner.json writes `rules`; the flat list is for an older one, and would
    // count twice against the size limit.
    const body: ApplyBody = this.bridge.readsConfiguration ? { title: this.ruleSet.title, rules } : { title: this.ruleSet.title, manipulators: flatManipulators(rules), rules };
    const c = this.config.phase === 'ready' ? this.config.config : undefined;
    const p = this.plan;
    return c && p ? { ...body, ...configBody(c, this.choices, p) } : body;
  }
  private planCache: { key: unknown[]; plan: Plan | undefined } = { key: [], plan: undefined };
  /** What an apply does to the chosen profile's rules, once karabiner.json has been read. */
  get plan(): Plan | undefined {
    const c = this.config.phase === 'ready' ? this.config.config : undefined;
    const key = [c, this.choices, this.ruleSet.rules, this.ruleSet.title];
    if (!key.every((k, i) => k === this.planCache.key[i])) {
      this.planCache = { key, plan: c ? plan(c, this.choices, this.ruleSet, this.rules) : undefined };
    }
    return this.planCache.plan;
  }
  /** Why Apply is off with rules that are fine; undefined when it is on. */
  get applyHold(): ApplyHold | undefined {
    if (!this.bridge.readsConfiguration) return undefined;
    const c = this.config;
    if (c.phase === 'loading' || c.phase === 'off') return 'loading';
    if (c.phase === 'failed') return 'failed';
    if (c.stale) return 'stale';
    const p = this.plan;
    return p && nothingToDo(p) ? 'nothing' : undefined;
  }
  private appPaths = new Map<string, string>();
  appPath: AppPathLookup = (bundleId) => this.appPaths.get(bundleId);
  /** Every command the written rules run or open, for the confirmation: Tarvel's and the kept ones. */
  commands() {
    const p = this.plan;
    const rules = p ? p.result.map((r) => ({ name: describe(r) ?? '', manipulators: manipulatorsOf(r) })) : this.rules;
    return rules.flatMap((r) => r.manipulators.flatMap((m) => commandsOf(m, this.appPath).map((c) => ({ rule: r.name, ...c }))));
  }

  subscribe(fn: () => void): () => void {
    this.listeners.add(fn);
    return () => this.listeners.delete(fn);
  }
  emit(): void { for (const fn of this.listeners) fn(); }
  set(patch: Partial<Pick<Store, 'tab' | 'selectedId' | 'selectedRuleId' | 'query' | 'keyFilter' | 'notice' | 'picking' | 'apply' | 'confirm' | 'layerView' | 'draft' | 'sim' | 'config' | 'restoring'>>): void {
    Object.assign(this, patch);
    this.emit();
  }
  /** The configuration's devices, for device conditions and the simulator. */
  setDevices(devices: DeviceRecord[]): void { this.devices = devices; this.emit(); }
  /** Installed rules Apply keeps after Tarvel's: the simulator and the shadow check take them in. */
  setKeptRules(rules: SimRule[]): void { this.keptRules = rules; this.emit(); }
  select(id: string | undefined): void {
    const at = this.locate(id);
    this.set({ selectedId: id, selectedRuleId: at?.rule.id ?? this.selectedRuleId, draft: undefined, tab: 'edit' });
  }

  // Edits: each one is an undo step, except keystrokes in one field, which coalesce.
  commit(next: RuleSet, coalesceKey?: string): void {
    this.history.commit(next, coalesceKey);
    this.scheduleSave();
    this.syncKept();
    this.emit();
  }
  private mapRules(fn: (r: Rule) => Rule): RuleSet {
    return { ...this.ruleSet, rules: this.ruleSet.rules.map(fn) };
  }
  setTitle(title: string): void { this.commit({ ...this.ruleSet, title }, 'title'); }
  setLayout(layout: LayoutName): void {
    this.commit({ ...this.ruleSet, layout });
    if (!this.sim.keyboardTypeChosen) this.set({ sim: { ...this.sim, context: { ...this.sim.context, keyboardType: layout === 'jis' ? 'jis' : 'ansi' } } });
  }
  updateMapping(id: string, fn: (m: Mapping) => Mapping, coalesceKey?: string): void {
    if (this.draft?.mapping.id === id) {
      this.updateDraft(fn);
      return;
    }
    this.commit(this.mapRules((r) => (r.mappings.some((m) => m.id === id) ? { ...r, mappings: r.mappings.map((m) => (m.id === id ? fn(m) : m)) } : r)), coalesceKey && `${id}:${coalesceKey}`);
  }
  /** The rule new mappings go to: the selected one, else the last one, else a new one. */
  private targetRule(ruleId?: string): { rs: RuleSet; ruleId: string } {
    const rs = this.ruleSet;
    const id = ruleId ?? this.selectedRuleId;
    const found = rs.rules.find((r) => r.id === id) ?? rs.rules[rs.rules.length - 1];
    if (found) return { rs, ruleId: found.id };
    const rule = newRule(t('app.defaultRule'));
    return { rs: { ...rs, rules: [rule] }, ruleId: rule.id };
  }
  addMappings(ms: Mapping[], ruleId?: string, select = true): void {
    if (!ms.length) return;
    const target = this.targetRule(ruleId);
    this.commit({ ...target.rs, rules: target.rs.rules.map((r) => (r.id === target.ruleId ? { ...r, mappings: [...r.mappings, ...ms] } : r)) });
    if (select) this.set({ selectedId: ms[0].id, selectedRuleId: target.ruleId, draft: undefined });
  }
  addRule(name: string, mappings: Mapping[] = [], select = true): string {
    const rule = newRule(name, mappings);
    this.commit({ ...this.ruleSet, rules: [...this.ruleSet.rules, rule] });
    if (select) this.set({ selectedRuleId: rule.id, selectedId: mappings[0]?.id ?? this.selectedId, draft: undefined });
    return rule.id;
  }
  updateRule(id: string, fn: (r: Rule) => Rule, coalesceKey?: string): void {
    this.commit(this.mapRules((r) => (r.id === id ? fn(r) : r)), coalesceKey && `${id}:${coalesceKey}`);
  }
  removeRule(id: string): void {
    const rules = this.ruleSet.rules.filter((r) => r.id !== id);
    this.commit({ ...this.ruleSet, rules });
    if (this.selectedRuleId === id) this.set({ selectedRuleId: rules[0]?.id });
  }
  moveRule(id: string, delta: number): void {
    const rules = [...this.ruleSet.rules];
    const i = rules.findIndex((r) => r.id === id);
    const j = i + delta;
    if (i < 0 || j < 0 || j >= rules.length) return;
    [rules[i], rules[j]] = [rules[j], rules[i]];
    this.commit({ ...this.ruleSet, rules });
  }
  removeMapping(id: string): void {
    const at = this.locate(id);
    if (!at) return;
    const rest = at.rule.mappings.filter((m) => m.id !== id);
    this.commit(this.mapRules((r) => (r.id === at.rule.id ? { ...r, mappings: rest } : r)));
    if (this.selectedId === id) this.set({ selectedId: rest[Math.min(at.index, rest.length - 1)]?.id });
  }
  duplicateMapping(id: string): void {
    const at = this.locate(id);
    if (!at) return;
    const copy: Mapping = { ...at.mapping, id: newId(), manipulators: structuredClone(at.mapping.manipulators) };
    const mappings = [...at.rule.mappings];
    mappings.splice(at.index + 1, 0, copy);
    this.commit(this.mapRules((r) => (r.id === at.rule.id ? { ...r, mappings } : r)));
    this.set({ selectedId: copy.id });
  }
  /** One step up or down; past the rule's first or last mapping it moves into the next rule. */
  moveMapping(id: string, delta: -1 | 1): void {
    const at = this.locate(id);
    if (!at) return;
    const j = at.index + delta;
    if (j >= 0 && j < at.rule.mappings.length) {
      const mappings = [...at.rule.mappings];
      [mappings[at.index], mappings[j]] = [mappings[j], mappings[at.index]];
      this.commit(this.mapRules((r) => (r.id === at.rule.id ? { ...r, mappings } : r)));
      return;
    }
    const other = this.ruleSet.rules[at.ruleIndex + delta];
    if (!other) return;
    this.commit(this.mapRules((r) => {
      if (r.id === at.rule.id) return { ...r, mappings: r.mappings.filter((m) => m.id !== id) };
      if (r.id === other.id) return { ...r, mappings: delta < 0 ? [...r.mappings, at.mapping] : [at.mapping, ...r.mappings] };
      return r;
    }));
    this.set({ selectedRuleId: other.id });
  }
  moveMappingToRule(id: string, ruleId: string): void {
    const at = this.locate(id);
    if (!at || at.rule.id === ruleId) return;
    this.commit(this.mapRules((r) => {
      if (r.id === at.rule.id) return { ...r, mappings: r.mappings.filter((m) => m.id !== id) };
      if (r.id === ruleId) return { ...r, mappings: [...r.mappings, at.mapping] };
      return r;
    }));
    this.set({ selectedRuleId: ruleId });
  }
  undo(): void { if (this.history.undo()) { this.scheduleSave(); this.syncKept(); this.emit(); } }
  redo(): void { if (this.history.redo()) { this.scheduleSave(); this.syncKept(); this.emit(); } }

  /** Shows a mapping in another form, asking first when that form cannot hold all of it. */
  changeForm(id: string, form: FormKind): void {
    const m = this.draft?.mapping.id === id ? this.draft.mapping : this.locate(id)?.mapping;
    if (!m) return;
    const all = this.ruleSet.rules.flatMap((r) => r.mappings.flatMap((x) => x.manipulators)).filter(isObj);
    const { mapping, dropped } = convertMapping(m, form, variableNames(all));
    const run = () => this.updateMapping(id, () => mapping);
    if (!dropped.length) { run(); return; }
    this.set({ confirm: { title: t('convert.title'), body: t('convert.body', { form: t(`form.${form}`) }), items: dropped, confirm: t('convert.confirm'), run } });
  }

  // ---- drafts ---------------------------------------------------------------------------------

  /** Clicking a key with nothing on it (in the layer shown) starts a draft for it. */
  openDraft(key: string, layer: string): void {
    const from: JsonObject = { key_code: key };
    const optional = defaultOptional(key, []);
    if (optional.length) from.modifiers = { optional };
    const man: JsonObject = { type: 'basic', from };
    const lv = layer ? this.layerVariable(layer) : undefined;
    if (lv) man.conditions = [{ type: 'variable_if', name: lv.name, value: lv.value }];
    const mapping: Mapping = { id: newId('d'), enabled: true, form: 'remap', manipulators: [man] };
    this.set({ draft: { mapping, ruleId: this.selectedRuleId }, selectedId: mapping.id, tab: 'edit', keyFilter: key, query: '' });
  }
  private layerVariable(layer: string): { name: string; value: JsonObject[string] } | undefined {
    for (const r of this.ruleSet.rules) for (const m of r.mappings) for (const man of m.manipulators) {
      for (const v of variableTests(isObj(man) ? man.conditions : undefined)) {
        if (!v.negated && (v.value === 1 || v.value === true ? v.name : `${v.name} = ${JSON.stringify(v.value)}`) === layer) return { name: v.name, value: v.value };
      }
    }
    return undefined;
  }
  updateDraft(fn: (m: Mapping) => Mapping): void {
    const d = this.draft;
    if (!d) return;
    const mapping = fn(d.mapping);
    if (!isFilled(mapping)) {
      this.set({ draft: { ...d, mapping } });
      return;
    }
    // The same id: the form being typed in stays where it is.
    this.draft = undefined;
    this.addMappings([mapping], d.ruleId);
  }

  setLang(lang: Lang): void {
    this.lang = lang;
    setLanguage(lang);
    try { storage()?.setItem(LANG_KEY, lang); } catch { /* storage full or off: the choice lasts this session */ }
    this.emit();
  }

  private scheduleSave(): void {
    clearTimeout(this.saveTimer);
    // Writing a large rule set takes a while: wait for a pause in the typing.
    this.saveTimer = setTimeout(() => this.saveNow(), 700);
  }
  saveNow(): void {
    clearTimeout(this.saveTimer);
    this.saveTimer = undefined;
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
    const byId = new Map(this.apps.filter((a) => a.bundleId).map((a) => [a.bundleId as string, a.name]));
    this.appPaths = new Map(this.apps.filter((a) => a.bundleId && a.launchable && a.path).map((a) => [a.bundleId as string, a.path as string]));
    setAppNames((id) => byId.get(id));
    this.inventoryState = inv ? 'ready' : 'unavailable';
    this.emit();
  }

  /** Applies in flight; the app answers each in turn, possibly never (then the user may close the wait). */
  applying = 0;
  async runApply(): Promise<void> {
    const body = this.applyBody;
    const count = body.rules.reduce((n, r) => n + r.manipulators.length, 0);
    const problem = checkLimits(body, count);
    if (problem) {
      this.set({ apply: { phase: 'refused', problem } });
      return;
    }
    this.applying++;
    this.set({ apply: { phase: 'busy' } });
    const outcome = await this.bridge.apply(body);
    this.applying--;
    this.set({ apply: { phase: 'done', outcome } });
    this.afterWrite(outcome);
  }

  // ---- karabiner.json and its backups --------------------------------------------------------------

  private configRequests = 0;
  /** Reads karabiner.json again; the last answer wins when several are under way. */
  async loadConfig(): Promise<void> {
    if (!this.bridge.readsConfiguration) return;
    const before = this.config;
    const first = before.phase === 'off';
    const ticket = ++this.configRequests;
    this.set({ config: { phase: 'loading', config: before.phase === 'ready' || before.phase === 'loading' ? before.config : undefined } });
    const answer = await this.bridge.requestConfiguration();
    if (ticket !== this.configRequests) return;
    if (isFailure(answer)) {
      // Nothing is known to be kept: the simulator shows Tarvel's rules alone.
      this.keptKey = '';
      this.keptRules = [];
      this.set({ config: { phase: 'failed', failure: answer } });
      return;
    }
    this.choices = this.carriedChoices(answer);
    this.saveChoices();
    this.config = { phase: 'ready', config: answer };
    this.syncKept(true);
    if (first) this.openInstalledAtStart(answer);
    this.emit();
  }

  /**
   * The choices for a file just read, carried from the last file read (or, at start, from before a
   * reload of the page): a profile chosen instead of the one Karabiner-Elements uses stays chosen
   * while it is there, and a dropped rule stays dropped while it is there unchanged.
   */
  private carriedChoices(c: Configuration): Choices {
    let from: { profile: number; name: string | null; follow: boolean } | undefined;
    let dropped: unknown[] = [];
    const before = this.choicesOn;
    if (before) {
      const p = this.choices.profile;
      from = { profile: p, name: before.profiles[p]?.name ?? null, follow: p === selectedProfile(before) };
      dropped = [...this.choices.dropped];
    } else {
      try {
        const saved: unknown = JSON.parse(storage()?.getItem(CHOICES_KEY) ?? 'null');
        if (isObj(saved) && typeof saved.profile === 'number' && (saved.name === null || isStr(saved.name)) && Array.isArray(saved.dropped)) {
          from = { profile: saved.profile, name: saved.name, follow: saved.follow === true };
          dropped = saved.dropped;
        }
      } catch {
        // Nothing usable saved: the defaults.
      }
    }
    this.choicesOn = c;
    const selected = selectedProfile(c);
    if (!from) return { profile: selected, dropped: new Set() };
    const same = sameProfile(c, from.profile, from.name);
    const profile = from.follow || same === undefined ? selected : same;
    if (profile !== same) return { profile, dropped: new Set() };
    const present = new Set(ruleKeys(c.profiles[profile].rules));
    return { profile, dropped: new Set(dropped.filter((k): k is string => isStr(k) && present.has(k))) };
  }
  /** The file the choices were last carried to. */
  private choicesOn: Configuration | undefined;
  private saveChoices(): void {
    const c = this.choicesOn;
    const p = this.choices.profile;
    try {
      if (c) storage()?.setItem(CHOICES_KEY, JSON.stringify({ profile: p, name: c.profiles[p]?.name ?? null, follow: p === selectedProfile(c), dropped: [...this.choices.dropped] }));
    } catch { /* storage off: the choices last this session */ }
  }
  private setChoices(choices: Choices): void {
    this.choices = choices;
    this.saveChoices();
    this.syncKept();
    this.emit();
  }
  chooseProfile(profile: number): void { this.setChoices({ profile, dropped: new Set() }); }
  /** Drops a rule that is not Tarvel's from the next apply, or keeps it again. */
  setDropped(index: number, drop: boolean): void {
    const key = ruleKeys(this.choicesOn?.profiles[this.choices.profile]?.rules ?? [])[index];
    if (key === undefined) return;
    const dropped = new Set(this.choices.dropped);
    if (drop) dropped.add(key); else dropped.delete(key);
    this.setChoices({ ...this.choices, dropped });
  }

  private keptKey = '';
  /** The simulator and the device fields follow the chosen profile and the rules it keeps. */
  private syncKept(force = false): void {
    const c = this.config.phase === 'ready' ? this.config.config : undefined;
    if (!c) return;
    const profile = c.profiles[this.choices.profile];
    const fate = fates(c, this.choices, this.ruleSet);
    const keep = fate.flatMap((f, i) => (f === 'keep' ? [i] : []));
    const key = `${c.digest}|${this.choices.profile}|${keep.join(',')}`;
    if (!force && key === this.keptKey) return;
    this.keptKey = key;
    this.devices = devicesOf(profile);
    this.keptRules = keep.map((i) => {
      const r = profile.rules[i];
      return { name: describe(r) ?? '', enabled: ruleEnabled(r), manipulators: manipulatorsOf(r), kept: true };
    });
  }

  /** With no work of its own, the editor starts from the rules Tarvel installed. */
  private openInstalledAtStart(c: Configuration): void {
    if (this.ruleSet.rules.some((r) => r.mappings.length)) return;
    const rs = ruleSetFromInstalled(c.profiles[this.choices.profile]?.rules ?? [], this.ruleSet.layout, this.ruleSet.title);
    if (!rs) return;
    this.history.commit(rs);
    this.scheduleSave();
    this.syncKept();
    this.tab = 'edit';
    this.selectedRuleId = rs.rules[0]?.id;
    if (this.notice?.kind !== 'warn') this.notice = { kind: 'info', text: t('config.opened', { title: rs.title, r: rs.rules.length }) };
  }

  /** Tarvel's installed rules into the editor, asking first when that replaces work. */
  openInstalled(): void {
    const c = this.config.phase === 'ready' ? this.config.config : undefined;
    const rs = c && ruleSetFromInstalled(c.profiles[this.choices.profile]?.rules ?? [], this.ruleSet.layout, this.ruleSet.title);
    if (!rs) return;
    const run = () => {
      this.commit(rs);
      this.set({ selectedRuleId: rs.rules[0]?.id, selectedId: undefined, draft: undefined, tab: 'edit' });
    };
    const n = this.ruleSet.rules.reduce((k, r) => k + r.mappings.length, 0);
    if (!n) { run(); return; }
    this.set({ confirm: { title: t('config.openTitle'), body: t('config.openBody', { n }), items: [], confirm: t('config.openConfirm'), run } });
  }

  /** A rule Tarvel did not write, as mappings of a new rule in the editor; it is then not kept. */
  bringIn(index: number): boolean {
    const c = this.config.phase === 'ready' ? this.config.config : undefined;
    const rule = c && ruleFromInstalled(c, this.choices.profile, index);
    if (!rule) return false;
    this.commit({ ...this.ruleSet, rules: [...this.ruleSet.rules, rule] });
    this.set({ selectedRuleId: rule.id, selectedId: rule.mappings[0]?.id, draft: undefined });
    return true;
  }

  /** After an apply or a restore the file is read again, except after a refusal because it
   * changed: the user reloads, seeing why. */
  private afterWrite(outcome: ApplyOutcome): void {
    if (!outcome.ok && outcome.code === 'changed') {
      if (this.config.phase === 'ready') this.set({ config: { ...this.config, stale: true } });
      return;
    }
    void this.loadConfig();
  }

  /** The digest of the file the backup list came from goes with the restore, whatever is read meanwhile. */
  askRestore(backup: Backup): void {
    const c = this.config.phase === 'ready' || this.config.phase === 'loading' ? this.config.config : undefined;
    this.set({ restoring: { phase: 'confirm', backup, ...(c ? { baseDigest: c.digest } : {}) } });
  }
  async runRestore(): Promise<void> {
    const st = this.restoring;
    if (st.phase !== 'confirm') return;
    this.set({ restoring: { phase: 'busy', backup: st.backup } });
    const outcome = await this.bridge.restore({ name: st.backup.name, ...(st.baseDigest ? { baseDigest: st.baseDigest } : {}) });
    this.set({ restoring: { phase: 'done', outcome } });
    this.afterWrite(outcome);
  }

  importText(text: string): { ok: true; title: string; rules: number; n: number; raw: number } | { ok: false; error: string; detail?: string; value?: number; limit?: number } {
    performance.mark('tarvel-import-start');
    const r = importDocument(text, this.helperPath);
    if (!r.ok) return r;
    this.commit(r.ruleSet);
    const first = r.ruleSet.rules.find((x) => x.mappings.length);
    this.set({ selectedId: first?.mappings[0]?.id, selectedRuleId: first?.id, keyFilter: undefined, query: '', draft: undefined, layerView: '' });
    this.checkNow();
    performance.measure('tarvel-import', 'tarvel-import-start');
    const all = r.ruleSet.rules.flatMap((x) => x.mappings);
    return { ok: true, title: r.ruleSet.title, rules: r.ruleSet.rules.length, n: all.length, raw: all.filter((m) => m.form === 'raw').length };
  }

  exportFile(): { name: string; text: string } {
    return { name: exportFileName(this.ruleSet.title), text: `${JSON.stringify(exportDocument(this.ruleSet), null, 2)}\n` };
  }

  // ---- the simulator ----------------------------------------------------------------------------

  private tryIt = new TryIt();
  private profileCache: { key: unknown[]; value: ProfileSettings | undefined } = { key: [], value: undefined };
  /** What of the chosen profile besides its rules the simulator and the never-fire check take in. */
  get simProfile(): ProfileSettings | undefined {
    const c = this.config.phase === 'ready' ? this.config.config : undefined;
    const p = c?.profiles[this.choices.profile];
    if (this.profileCache.key[0] !== p) {
      this.profileCache = { key: [p], value: p && { simpleModifications: p.simpleModifications, fnFunctionKeys: p.fnFunctionKeys, devices: p.deviceSettings, parameters: p.parameters, keyboardType: p.keyboardType } };
    }
    return this.profileCache.value;
  }
  /** The place the simulator types in: the profile's keyboard type unless one was chosen. */
  private contextCache: { key: unknown[]; value?: SimContext } = { key: [] };
  private get simContext(): SimContext {
    const c = this.sim.context;
    const kb = this.sim.keyboardTypeChosen ? undefined : this.simProfile?.keyboardType;
    if (this.contextCache.key[0] !== c || this.contextCache.key[1] !== kb) {
      this.contextCache = { key: [c, kb], value: kb && kb !== c.keyboardType ? { ...c, keyboardType: kb } : c };
    }
    return this.contextCache.value as SimContext;
  }
  get simSession(): Session { return this.tryIt.current(this.simRules, this.simProfile, this.simContext); }

  simPress(keys: KeyRef[]): void {
    if (this.sim.mode === 'sequence') { this.set({ sim: this.tryIt.appendTap(this.sim, keys) }); return; }
    performance.mark('tarvel-simulate-start');
    const sim = this.tryIt.press(this.sim, this.simSession, keys);
    performance.measure('tarvel-simulate', 'tarvel-simulate-start');
    this.set({ sim });
  }
  simRelease(key: KeyId): void { this.set({ sim: this.tryIt.release(this.sim, this.simSession, key) }); }
  simModifier(flag: Parameters<TryIt['modifier']>[2]): void { this.set({ sim: this.tryIt.modifier(this.sim, this.simSession, flag) }); }
  simWait(): void { this.set({ sim: this.tryIt.wait(this.sim, this.simSession) }); }
  simSequence(text?: string): void {
    const state = text === undefined ? this.sim : { ...this.sim, sequence: text };
    performance.mark('tarvel-sequence-start');
    const sim = this.tryIt.sequence(state, this.simRules, this.simProfile, this.simContext);
    performance.measure('tarvel-sequence', 'tarvel-sequence-start');
    this.set({ sim });
  }
  simMode(mode: SimMode): void { this.set({ sim: { ...this.sim, mode } }); }
  simSetSequence(sequence: string): void { this.set({ sim: { ...this.sim, sequence, sequenceError: undefined } }); }
  simVariable(name: string, value: Parameters<TryIt['variable']>[3]): void { this.set({ sim: this.tryIt.variable(this.sim, this.simSession, name, value) }); }
  simReset(): void {
    this.tryIt.reset();
    this.set({ sim: { ...this.sim, context: { ...this.sim.context, variables: {} }, log: [] } });
  }
  simEnv(patch: Partial<SimContext>): void {
    this.set({ sim: { ...this.sim, context: { ...this.sim.context, ...patch }, keyboardTypeChosen: this.sim.keyboardTypeChosen || patch.keyboardType !== undefined } });
  }

  /** A label for a layer id, as the picture's layer switcher shows it. */
  layerName(layer: string): string {
    return layer ? layerLabel(layer) : t('kb.baseLayer');
  }
}

export function useStore(store: Store): Store {
  const [, setTick] = useState(0);
  // Subscribed in the same task as the first render, so an answer that arrives right after it is seen.
  useLayoutEffect(() => store.subscribe(() => setTick((n) => n + 1)), [store]);
  return store;
}
