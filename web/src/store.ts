// The page's state: the document under undo (the chosen profile's rules and values once
// karabiner.json is read, the rules made here before that), and everything around it that is not undoable.
import { useLayoutEffect, useState } from 'preact/hooks';
import { Bridge, type ApplyBody, type ApplyOutcome } from './bridge';
import {
  describe, devicesOf, isFailure, manipulatorsOf, ruleKeys, sameProfile, selectedProfile, TARVEL_PREFIX,
  type Backup, type Choices, type Configuration, type Failure, type Profile,
} from './model/config';
import {
  docValue, documentFromProfile, expectedProfile, fileValue, installedRule, listValue, mergeDocument, nothingToDo, objectValue, outsideChanges, profilePlan, ruleState,
  winnerChanges, withNewRules, withValue, type ProfilePlan, type WinnerChange,
} from './model/profile';
import { detectLanguage, setLanguage, t, type Lang } from './i18n';
import { mergeInventory, type AppEntry } from './model/apps';
import { checkMapping, type Problem } from './model/check';
import { commandsOf, type AppPathLookup } from './model/commands';
import { convertMapping, layerLabel, variableNames } from './model/forms';
import { History } from './model/history';
import { exportDocument, exportFileName, importDocument, readRuleSet, ruleSetForSaving } from './model/io';
import { deepEqual, isObj, isStr, type Json, type JsonObject } from './model/json';
import { convertOpeners } from './model/actions';
import { checkLimits, type LimitProblem } from './model/limits';
import { defaultOptional, layersOf, triggerKeys, variableTests } from './model/manipulator';
import { appliedDescription, compileRules, flatManipulators, importRule, newRule, plainName, type ApplyRule } from './model/rules';
import { simRuleOf, withTrial } from './model/trial';
import { keyLabel } from './model/keys';
import { eventsOf, keyFieldOf } from './model/shapes';
import { findShadows, type KeyId, type ProfileSettings, type Session, type Shadow, type SimContext, type SimRule } from './model/simulate';
import { initialSim, TryIt, type SimMode, type SimState } from './tryit';
import { eventText, setAppNames, summarize } from './model/summary';
import type { AppOpener, DeviceRecord, FormKind, Inventory, LayoutName, Mapping, Rule, RuleSet, ValueEdit, ValuePath } from './model/types';
import { newId } from './model/types';
import type { KeyRef } from './model/manipulator';

export const SAVE_KEY = 'tarvel.workingRuleSet';
/** Marks a saved rule set that is the profile's document (rules named as written). */
const DOCUMENT = 'profile';
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
export type ApplyHold = 'loading' | 'failed' | 'stale' | 'conflict' | 'nothing';
/** A document chosen for import while the editor has work in it: its rules are added (the default)
 * or replace the editor's rules, as the user says. */
export interface Importing { ruleSet: RuleSet; mode: 'add' | 'replace'; raw: number }
/** What another program changed in karabiner.json between two reads, as the page reports it. */
export interface OutsideReport {
  added: number; removed: number; changed: number; values: boolean;
  /** The user had changes of their own, and they stay. */
  kept: boolean;
  conflicts: number;
}
/** 'warn' stays until dismissed; 'info' goes by itself. */
export interface Notice { kind: 'info' | 'warn' | 'error'; text: string }
export interface Confirm { title: string; body: string; items: string[]; confirm: string; run: () => void }
/** A mapping being written that is not in the rule set until it does something; it then goes into
 * the rule the user chose, else into a new rule named after it. */
export interface Draft { mapping: Mapping; ruleId?: string }

/** Rules tried before they are added: where they would go in the document's rules. */
export interface Trial { title: string; at: number; objects: JsonObject[]; rules: Rule[] }

/** Where a mapping sits in the rule set. */
export interface Located { rule: Rule; ruleIndex: number; mapping: Mapping; index: number }

function storage(): Storage | undefined {
  try {
    return window.localStorage;
  } catch {
    return undefined;
  }
}

/** A rule made in Tarvel: its description starts with the mark, and stays as written. */
export const tarvelRule = (name: string, mappings: Mapping[] = []): Rule => newRule(`${TARVEL_PREFIX}${name}`, mappings);

export function emptyRuleSet(lang: Lang): RuleSet {
  // A placeholder: the first mapping made goes into it and names it.
  return { title: t('app.defaultTitle'), layout: lang === 'ja' ? 'jis' : 'us', rules: [{ ...tarvelRule(t('app.defaultRule')), autoName: true }] };
}

/** The name of a new rule made for one mapping: what the mapping does ("Caps Lock → Escape"). */
export const autoRuleName = (m: Mapping): string => `${TARVEL_PREFIX}${summarize(m) || t('app.defaultRule')}`;

/** The text that says what changed outside. */
export function outsideText(r: OutsideReport): string {
  const parts: string[] = [];
  if (r.changed) parts.push(t('outside.changed', { n: r.changed }));
  if (r.added) parts.push(t('outside.added', { n: r.added }));
  if (r.removed) parts.push(t('outside.removed', { n: r.removed }));
  if (r.values) parts.push(t('outside.values'));
  let text = t('outside.report', { what: parts.join(t('outside.and')) });
  if (r.kept) text += ` ${t('outside.kept')}`;
  if (r.conflicts) text += ` ${t('outside.conflicts', { n: r.conflicts })}`;
  return text;
}

/** A rule set saved by a version in which Tarvel wrote each rule as "[Tarvel] <title>: <name>": its
 * rules named as they were written, so that they find the installed ones again. */
export function fromOlderSave(rs: RuleSet): RuleSet {
  return {
    ...rs,
    rules: rs.rules.map((r, i) => (r.origin !== undefined ? r : { ...r, name: appliedDescription(rs.title, r.name.trim() ? r.name : String(i + 1)) })),
  };
}

/** A draft needs something to send before it becomes a mapping. */
export function isFilled(m: Mapping): boolean {
  return m.manipulators.some((man) => ['to', 'to_if_alone', 'to_if_held_down', 'to_after_key_up'].some((list) => eventsOf(man[list]).some((e) => {
    const field = keyFieldOf(e);
    return field ? e[field] !== '' : Object.keys(e).length > 0;
  })));
}

/** Rules dropped from the next apply in the older way of choosing: removed from the document now. */
function withOlderChoices(rs: RuleSet, st: Storage | undefined): RuleSet {
  try {
    const saved: unknown = JSON.parse(st?.getItem(CHOICES_KEY) ?? 'null');
    const dropped = isObj(saved) && Array.isArray(saved.dropped) ? saved.dropped.filter(isStr) : [];
    return dropped.length ? { ...rs, removed: dropped } : rs;
  } catch {
    return rs;
  }
}

interface Derived {
  rules0?: Rule[];
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
  apply: ApplyState = { phase: 'closed' };
  config: ConfigState = { phase: 'off' };
  choices: Choices = { profile: 0 };
  /** The user has chosen a tab: the first view of the file no longer overrides it. */
  private tabChosen = false;
  restoring: RestoreState = { phase: 'closed' };
  importing: Importing | undefined;
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
    // With karabiner.json read the profile fills the document; without it the page starts with one empty rule.
    let initial = emptyRuleSet(this.lang);
    if (this.bridge.readsConfiguration) initial = { ...initial, rules: [] };
    try {
      const saved = st?.getItem(SAVE_KEY);
      const raw: unknown = saved ? JSON.parse(saved) : undefined;
      let rs = readRuleSet(raw);
      if (rs && !(isObj(raw) && raw.document === DOCUMENT)) rs = withOlderChoices(fromOlderSave(rs), st);
      const made = isObj(raw) && isObj(raw.profile) ? raw.profile : undefined;
      if (made && typeof made.profile === 'number' && (made.name === null || isStr(made.name))) this.docProfile = { profile: made.profile, name: made.name };
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
    if (this.bridge.readsConfiguration) {
      // The app says when karabiner.json changed on disk; the digest tells whether it is news.
      // A change heard while a read is under way may be newer than what that read sees: read once more after it.
      this.bridge.onConfigChanged(() => { if (this.config.phase === 'loading') this.readAgain = true; else void this.loadConfig(); });
      void this.loadConfig();
    }
    // Closing or reloading the page writes what a pending save would have.
    win.addEventListener?.('pagehide', () => { if (this.saveTimer !== undefined) this.saveNow(); });
  }

  get ruleSet(): RuleSet { return this.history.present; }
  get preview(): boolean { return !this.bridge.available; }
  /** tarvel-focus, for new app actions; none when the rules are to open apps with Karabiner-Elements alone. */
  get helperPath(): string | undefined { return this.ruleSet.opener === 'engine' ? undefined : this.inventory?.helperPath; }
  /** Where the app has tarvel-focus, whatever the rules use. */
  get focusHelper(): string | undefined { return this.inventory?.helperPath; }
  /** How new app actions are written: without tarvel-focus on this machine, open_application. */
  get opener(): AppOpener { return this.inventory?.helperPath && this.ruleSet.opener !== 'engine' ? 'helper' : 'engine'; }

  // Checks, rules and marks follow the rule set; each is computed once per version, when asked.
  // Everything here depends on the rules only: renaming the rule set or switching the layout keeps it.
  private derived(): Derived {
    const rs = this.ruleSet;
    if (this.cache.rules0 === rs.rules) return this.cache;
    const located = new Map<string, Located>();
    rs.rules.forEach((rule, ruleIndex) => rule.mappings.forEach((mapping, index) => located.set(mapping.id, { rule, ruleIndex, mapping, index })));
    const rules = compileRules(rs);
    const simRules: SimRule[] = rs.rules.map((r) => {
      const on = r.mappings.filter((m) => m.enabled);
      return { name: r.name, enabled: r.enabled, manipulators: on.flatMap((m) => m.manipulators), mappingIds: on.flatMap((m) => m.manipulators.map(() => m.id)) };
    });
    const problems: Problem[] = [];
    for (const r of rs.rules) {
      // An installed rule the apply keeps byte for byte: what would block a rule written anew is only a warning.
      const kept = r.origin !== undefined && ruleState(r) === 'same';
      for (const m of r.mappings) if (m.enabled) problems.push(...(kept ? this.checked(m).map(softened) : this.checked(m)));
    }
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
    this.cache = { rules0: rs.rules, problems, byMapping, counts, located, rules, simRules, marks, layers, variables };
    return this.cache;
  }
  // Finding mappings that never fire looks at every rule at once; while the user types it runs after
  // a pause, and the last findings stand meanwhile.
  private shadows: { rules?: SimRule[]; problems: Problem[]; list?: Shadow[]; timer?: ReturnType<typeof setTimeout> } = { problems: [] };
  /** The manipulators that never fire, as last found. */
  get shadowList(): Shadow[] { return this.shadows.list ?? []; }
  /** A manipulator of the rules tried (`rules`: the document's unless others are given), named as
   * the list names it: the rule, and the mapping's place. */
  placeName(rule: number, manipulator: number, rules: readonly SimRule[] = this.simRules): string {
    const r = rules[rule];
    if (!r) return '';
    const id = r.mappingIds?.[manipulator];
    const at = id ? this.locate(id) : undefined;
    const n = at ? at.index + 1 : r.tried && id ? new Set(r.mappingIds?.slice(0, manipulator + 1)).size : manipulator + 1;
    return t(r.tried ? 'sim.whereTried' : r.kept ? 'sim.whereKept' : 'sim.where', { rule: plainName(r.name) || t('list.unnamed', { n: rule + 1 }), n });
  }
  /** What a finding says wins. */
  winners(s: Shadow, rules: readonly SimRule[] = this.simRules): string {
    return s.by.map((w) => ('rule' in w ? this.placeName(w.rule, w.manipulator, rules) : t('sim.simpleMod', { from: w.simple.replace(/^key_code:/, ''), to: w.to.replace(/key_code:/g, '') }))).join(t('sim.and'));
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
  /** The configuration read, while it is the one the page shows. */
  get configRead(): Configuration | undefined { return this.config.phase === 'ready' ? this.config.config : undefined; }
  /** The chosen profile as read. */
  get profile(): Profile | undefined { return this.configRead?.profiles[this.choices.profile]; }
  get applyBody(): ApplyBody {
    const c = this.configRead;
    const p = this.plan;
    if (c && p) {
      // The profile's final rule list; the older members are not looked at with it.
      const body: ApplyBody = { baseDigest: c.digest, ruleList: p.ruleList };
      if (p.values.length) body.values = p.values.map((v) => ({ path: v.path, value: v.value }));
      if (this.choices.profile !== selectedProfile(c)) body.profile = this.choices.profile;
      return body;
    }
    const rules = this.rules;
    // An app that reads karabiner.json writes `rules`; the flat list is for an older one, and would
    // count twice against the size limit.
    return this.bridge.readsConfiguration ? { title: this.ruleSet.title, rules } : { title: this.ruleSet.title, manipulators: flatManipulators(rules), rules };
  }
  private planCache: { key: unknown[]; plan: ProfilePlan | undefined } = { key: [], plan: undefined };
  /** What an apply does to the chosen profile, once karabiner.json has been read. */
  get plan(): ProfilePlan | undefined {
    const p = this.profile;
    const key = [p, this.ruleSet.rules, this.ruleSet.values];
    if (!key.every((k, i) => k === this.planCache.key[i])) {
      this.planCache = { key, plan: p ? profilePlan(this.ruleSet, p) : undefined };
    }
    return this.planCache.plan;
  }
  private winsCache: { plan?: ProfilePlan; wins: WinnerChange[] } = { wins: [] };
  /** Keys that another manipulator takes after the apply, for the confirmation. */
  get winnerChanges(): WinnerChange[] {
    const p = this.plan;
    const profile = this.profile;
    if (!p || !profile) return [];
    if (this.winsCache.plan !== p) this.winsCache = { plan: p, wins: winnerChanges(profile.rules, p) };
    return this.winsCache.wins;
  }
  /** Why Apply is off with rules that are fine; undefined when it is on. */
  get applyHold(): ApplyHold | undefined {
    if (!this.bridge.readsConfiguration) return undefined;
    const c = this.config;
    if (c.phase === 'loading' || c.phase === 'off') return 'loading';
    if (c.phase === 'failed') return 'failed';
    if (c.stale) return 'stale';
    if (this.conflicts.rules.length || this.conflicts.values.length) return 'conflict';
    const p = this.plan;
    return p && nothingToDo(p) ? 'nothing' : undefined;
  }
  private appPaths = new Map<string, string>();
  appPath: AppPathLookup = (bundleId) => this.appPaths.get(bundleId);
  /** Every command the profile's rules run or open after the apply, for the confirmation. */
  commands() {
    const p = this.plan;
    const rules = p ? p.steps.map((st) => ({ name: describe(st.content) ?? '', manipulators: manipulatorsOf(st.content) })) : this.rules;
    return rules.flatMap((r) => r.manipulators.flatMap((m) => commandsOf(m, this.appPath).map((c) => ({ rule: r.name, ...c }))));
  }

  subscribe(fn: () => void): () => void {
    this.listeners.add(fn);
    return () => this.listeners.delete(fn);
  }
  emit(): void { for (const fn of this.listeners) fn(); }
  set(patch: Partial<Pick<Store, 'tab' | 'selectedId' | 'selectedRuleId' | 'query' | 'keyFilter' | 'notice' | 'picking' | 'apply' | 'confirm' | 'layerView' | 'draft' | 'sim' | 'config' | 'restoring' | 'view' | 'importing'>>): void {
    Object.assign(this, patch);
    this.emit();
  }
  /** The configuration's devices, for device conditions and the simulator. */
  setDevices(devices: DeviceRecord[]): void { this.devices = devices; this.emit(); }
  chooseTab(tab: Tab): void { this.tabChosen = true; this.set({ tab }); }
  select(id: string | undefined): void {
    const at = this.locate(id);
    this.tabChosen = true;
    this.set({ selectedId: id, selectedRuleId: at?.rule.id ?? this.selectedRuleId, draft: undefined, tab: 'edit' });
  }

  // Edits: each one is an undo step, except keystrokes in one field, which coalesce.
  commit(next: RuleSet, coalesceKey?: string): void {
    this.history.commit(next, coalesceKey);
    this.scheduleSave();
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
    // A mapping shown but not in the document (a gallery rule's) is never edited.
    if (!this.locate(id)) return;
    this.commit(this.mapRules((r) => {
      if (!r.mappings.some((m) => m.id === id)) return r;
      const mappings = r.mappings.map((m) => (m.id === id ? fn(m) : m));
      // A rule named after its one mapping follows it.
      return r.autoName && mappings.length === 1 ? { ...r, mappings, name: autoRuleName(mappings[0]) } : { ...r, mappings };
    }), coalesceKey && `${id}:${coalesceKey}`);
  }
  /** The rule new mappings go to: the one named, else a new rule named after what they do (an empty
   * placeholder rule is used for it when there is one). Never the rule used last. */
  private targetRule(ms: Mapping[], ruleId?: string): { rs: RuleSet; ruleId: string } {
    const rs = this.ruleSet;
    const found = ruleId === undefined ? undefined : rs.rules.find((r) => r.id === ruleId && r.fixed === undefined);
    if (found) return { rs, ruleId: found.id };
    const name = ms.length === 1 ? autoRuleName(ms[0]) : `${TARVEL_PREFIX}${t('app.defaultRule')}`;
    const spare = rs.rules.find((r) => r.autoName && !r.mappings.length && r.origin === undefined);
    if (spare) return { rs: { ...rs, rules: rs.rules.map((r) => (r === spare ? { ...r, name } : r)) }, ruleId: spare.id };
    const rule: Rule = { ...tarvelRule(name.slice(TARVEL_PREFIX.length)), ...(ms.length === 1 ? { autoName: true } : {}) };
    return { rs: withNewRules(rs, [rule]), ruleId: rule.id };
  }
  /** Mappings added to the rule `ruleId`, else to a new rule (see targetRule). */
  addMappings(ms: Mapping[], ruleId?: string, select = true): void {
    if (!ms.length) return;
    const target = this.targetRule(ms, ruleId);
    this.commit({ ...target.rs, rules: target.rs.rules.map((r) => (r.id === target.ruleId ? { ...r, mappings: [...r.mappings, ...ms], ...(r.mappings.length ? { autoName: undefined } : {}) } : r)) });
    if (select) this.set({ selectedId: ms[0].id, selectedRuleId: target.ruleId, draft: undefined });
  }
  /** A rule made in Tarvel ("[Tarvel] <name>"), with the other new rules at the top. */
  addRule(name: string, mappings: Mapping[] = [], select = true): string {
    const rule = tarvelRule(name, mappings);
    this.commit(withNewRules(this.ruleSet, [rule]));
    if (select) this.set({ selectedRuleId: rule.id, selectedId: mappings[0]?.id ?? this.selectedId, draft: undefined });
    return rule.id;
  }
  updateRule(id: string, fn: (r: Rule) => Rule, coalesceKey?: string): void {
    this.commit(this.mapRules((r) => (r.id === id && r.fixed === undefined ? fn(r) : r)), coalesceKey && `${id}:${coalesceKey}`);
  }
  /** A rule goes; an installed one is then removed from the profile by the next apply. */
  removeRule(id: string): void {
    const rs = this.ruleSet;
    const gone = rs.rules.find((r) => r.id === id);
    if (!gone) return;
    const rules = rs.rules.filter((r) => r.id !== id);
    this.commit({ ...rs, rules, ...(gone.origin !== undefined ? { removed: [...(rs.removed ?? []), gone.origin] } : {}) });
    if (this.selectedRuleId === id) this.set({ selectedRuleId: undefined });
    if (this.locate(this.selectedId) === undefined && this.draft === undefined) this.set({ selectedId: undefined });
  }
  /** A copy of a rule right below it, as a new rule. */
  duplicateRule(id: string): void {
    const rs = this.ruleSet;
    const i = rs.rules.findIndex((r) => r.id === id);
    const r = rs.rules[i];
    if (!r || r.fixed !== undefined) return;
    const { origin: _o, ...rest } = r;
    const copy: Rule = {
      ...rest, id: newId('r'), name: t('list.copyName', { name: r.name }),
      mappings: r.mappings.map((m) => ({ ...m, id: newId(), manipulators: structuredClone(m.manipulators) })),
    };
    const rules = [...rs.rules];
    rules.splice(i + 1, 0, copy);
    this.commit({ ...rs, rules });
    this.set({ selectedRuleId: copy.id });
  }
  /** A removed installed rule comes back, at its place in the file. */
  putBack(key: string): void {
    const p = this.profile;
    const rs = this.ruleSet;
    if (!p || !rs.removed?.includes(key)) return;
    this.commit(mergeDocument({ ...rs, removed: rs.removed.filter((k) => k !== key) }, p));
  }
  /** One of the profile's values (simple modifications, function keys, parameters) set. */
  setValue(path: ValuePath, value: Json, coalesceKey?: string): void {
    const p = this.profile;
    if (!p) return;
    const device = path[0] === 'devices' ? p.deviceSettings[path[1]]?.identifiers : undefined;
    this.commit(withValue(this.ruleSet, path, value, isObj(device) ? device : undefined), coalesceKey && `value:${JSON.stringify(path)}:${coalesceKey}`);
  }
  /** A profile value as the document holds it. */
  value(path: ValuePath): Json | undefined {
    const p = this.profile;
    return p ? docValue(this.ruleSet, p, path) : undefined;
  }
  /** The profile's complex-modification parameters: what a manipulator without its own uses. */
  get parameters(): JsonObject {
    const v = this.value(['complex_modifications', 'parameters']);
    return v === undefined ? {} : objectValue(v);
  }
  /** Simple modifications of the whole profile, by the key they change, for the picture. */
  get simpleMarks(): Map<string, string> {
    const v = this.value(['simple_modifications']);
    if (v === this.simpleCache.v) return this.simpleCache.marks;
    const marks = new Map<string, string>();
    for (const m of v === undefined ? [] : listValue(v)) {
      const from = isObj(m.from) ? m.from.key_code : undefined;
      if (!isStr(from)) continue;
      const to = eventsOf(m.to);
      marks.set(from, to.length ? to.map((e) => (isStr(e.key_code) ? keyLabel(e.key_code) : eventText(e))).join(' + ') : t('summary.nothing'));
    }
    this.simpleCache = { v, marks };
    return marks;
  }
  private simpleCache: { v: unknown; marks: Map<string, string> } = { v: null, marks: new Map() };
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
  undo(): void { if (this.history.undo()) { this.scheduleSave(); this.emit(); } }
  redo(): void { if (this.history.redo()) { this.scheduleSave(); this.emit(); } }

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
    this.set({ draft: { mapping }, selectedId: mapping.id, tab: 'edit', keyFilter: key, query: '' });
  }
  /** The rule the draft goes into; undefined: a new one. */
  setDraftRule(ruleId: string | undefined): void {
    if (this.draft) this.set({ draft: { mapping: this.draft.mapping, ...(ruleId ? { ruleId } : {}) } });
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
      const doc = { ...ruleSetForSaving(this.ruleSet), document: DOCUMENT, ...(this.docProfile ? { profile: this.docProfile } : {}) };
      storage()?.setItem(SAVE_KEY, JSON.stringify(doc));
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
    this.appNames = byId;
    this.appPaths = new Map(this.apps.filter((a) => a.bundleId && a.launchable && a.path).map((a) => [a.bundleId as string, a.path as string]));
    setAppNames((id) => byId.get(id));
    this.inventoryState = inv ? 'ready' : 'unavailable';
    this.emit();
  }

  /** Applies in flight; the app answers each in turn, possibly never (then the user may close the wait). */
  applying = 0;
  async runApply(): Promise<void> {
    const body = this.applyBody;
    const count = body.ruleList ? this.plan?.written ?? 0 : (body.rules ?? []).reduce((n, r) => n + r.manipulators.length, 0);
    const problem = checkLimits(body, count);
    if (problem) {
      this.set({ apply: { phase: 'refused', problem } });
      return;
    }
    // What the file holds once this apply is written: a later read tells others' changes from it.
    const plan = body.ruleList ? this.plan : undefined;
    const profile = this.profile;
    this.applying++;
    this.set({ apply: { phase: 'busy' } });
    const outcome = await this.bridge.apply(body);
    this.applying--;
    if (outcome.ok && plan && profile) this.base = expectedProfile(profile, plan);
    this.set({ apply: { phase: 'done', outcome } });
    this.afterWrite(outcome);
  }

  // ---- karabiner.json and its backups --------------------------------------------------------------

  private configRequests = 0;
  /** A change was heard while a read was under way. */
  private readAgain = false;
  /** Reads karabiner.json again; the last answer wins when several are under way. */
  async loadConfig(): Promise<void> {
    if (!this.bridge.readsConfiguration) return;
    const before = this.config;
    const first = before.phase === 'off';
    const had = before.phase === 'ready' || before.phase === 'loading' ? before.config : undefined;
    const ticket = ++this.configRequests;
    this.set({ config: { phase: 'loading', config: had } });
    const answer = await this.bridge.requestConfiguration();
    performance.mark('tarvel-config-answer');
    if (ticket !== this.configRequests) return;
    if (isFailure(answer)) {
      this.set({ config: { phase: 'failed', failure: answer } });
    } else {
      this.choices = this.carriedChoices(answer);
      this.saveChoices();
      this.config = { phase: 'ready', config: answer };
      const report = this.adopt(answer, had?.digest);
      // What is left to choose stays on screen in its own banner; the report goes by itself.
      if (report) this.notice = { kind: 'info', text: outsideText(report) };
      // The first view of a file with rules is its overview.
      if (first && !this.tabChosen && answer.profiles[this.choices.profile]?.rules.length) this.tab = 'installed';
      this.emit();
    }
    if (this.readAgain) {
      this.readAgain = false;
      void this.loadConfig();
    }
  }

  /** The profile the document was last brought up to date with, or what the last apply wrote to it:
   * what a new read is compared with. */
  private base: Profile | undefined;

  /** The profile this document was made from, by place and name. */
  private docProfile: { profile: number; name: string | null } | undefined;
  /**
   * The document follows the file just read: merged with the chosen profile's rules (see
   * `mergeDocument`), or made anew from another profile, carrying the rules made here. A document
   * that changes this way starts a new undo history: the steps before it were made on another file.
   */
  private adopt(c: Configuration, lastDigest?: string): OutsideReport | undefined {
    const p = c.profiles[this.choices.profile];
    this.devices = devicesOf(p);
    const rs = this.ruleSet;
    const was = this.docProfile;
    const same = !was || sameProfile(c, was.profile, was.name) === this.choices.profile;
    const before = same ? this.base : undefined;
    const next = same ? mergeDocument(rs, p, before)
      : withNewRules(documentFromProfile(p, rs), rs.rules.filter((r) => r.origin === undefined && r.outside === undefined));
    this.docProfile = { profile: this.choices.profile, name: p.name };
    this.base = p;
    let report: OutsideReport | undefined;
    if (before && c.digest !== lastDigest) {
      const ch = outsideChanges(before.rules, p.rules);
      const values = !deepEqual([before.simpleModifications, before.fnFunctionKeys, before.parameters, before.deviceSettings],
        [p.simpleModifications, p.fnFunctionKeys, p.parameters, p.deviceSettings]);
      const flagged = (x: RuleSet) => x.rules.filter((r) => r.outside).length + (x.values ?? []).filter((v) => v.outside).length;
      const plan = profilePlan(rs, before);
      report = {
        added: ch.added.length, removed: ch.removed.length, changed: ch.changed.length, values, kept: !nothingToDo(plan),
        conflicts: Math.max(0, flagged(next) - flagged(rs)),
      };
      if (!report.added && !report.removed && !report.changed && !values) report = undefined;
    }
    if (next === rs) return report;
    this.history = new History(next);
    this.scheduleSave();
    if (this.selectedRuleId && !next.rules.some((r) => r.id === this.selectedRuleId)) this.selectedRuleId = undefined;
    if (this.selectedId && !this.draft && !this.locate(this.selectedId)) this.selectedId = undefined;
    return report;
  }

  // ---- rules and values changed here and in the file ---------------------------------------------

  private conflictCache: { rs?: RuleSet; rules: Rule[]; values: ValueEdit[] } = { rules: [], values: [] };
  /** What changed both here and in karabiner.json, waiting for the user's choice. */
  get conflicts(): { rules: Rule[]; values: ValueEdit[] } {
    const rs = this.ruleSet;
    if (this.conflictCache.rs !== rs) {
      this.conflictCache = { rs, rules: rs.rules.filter((r) => r.outside), values: (rs.values ?? []).filter((v) => v.outside) };
    }
    return this.conflictCache;
  }
  /** The user's version stays ('mine') or the file's ('theirs'); one undo step for all given. */
  resolve(ruleIds: string[], paths: ValuePath[], keep: 'mine' | 'theirs'): void {
    const p = this.profile;
    const rs = this.ruleSet;
    if (!p) return;
    const ids = new Set(ruleIds);
    const removed = [...(rs.removed ?? [])];
    const rules = rs.rules.flatMap((r): Rule[] => {
      if (!ids.has(r.id) || !r.outside) return [r];
      const { outside, ...plain } = r;
      if (outside === 'changed') {
        if (keep === 'mine') return [plain];
        const i = ruleKeys(p.rules).indexOf(r.origin as string);
        return i < 0 ? [plain] : [{ ...installedRule(p.rules[i], r.origin as string), id: r.id }];
      }
      if (outside === 'removed') return keep === 'mine' ? [plain] : [];
      if (keep === 'theirs') return [plain];
      if (r.origin !== undefined) removed.push(r.origin);
      return [];
    });
    const wanted = new Set(paths.map((x) => JSON.stringify(x)));
    const values = (rs.values ?? []).flatMap((v): ValueEdit[] => {
      if (!v.outside || !wanted.has(JSON.stringify(v.path))) return [v];
      if (keep === 'theirs') return [];
      const { outside: _o, ...plain } = v;
      return [plain];
    });
    const next: RuleSet = { ...rs, rules };
    if (removed.length) next.removed = removed;
    if (values.length) next.values = values; else delete next.values;
    this.commit(next);
    if (this.selectedId && !this.draft && !this.locate(this.selectedId)) this.set({ selectedId: undefined });
  }
  /** The file's value for a value edit, for showing both sides. */
  fileValueOf(path: ValuePath): Json | undefined {
    const p = this.profile;
    return p ? fileValue(p, path) : undefined;
  }

  /**
   * The profile for a file just read, carried from the last file read (or, at start, from before a
   * reload of the page): a profile chosen instead of the one Karabiner-Elements uses stays chosen
   * while it is there.
   */
  private carriedChoices(c: Configuration): Choices {
    let from: { profile: number; name: string | null; follow: boolean } | undefined;
    const before = this.choicesOn;
    if (before) {
      const p = this.choices.profile;
      from = { profile: p, name: before.profiles[p]?.name ?? null, follow: p === selectedProfile(before) };
    } else {
      try {
        const saved: unknown = JSON.parse(storage()?.getItem(CHOICES_KEY) ?? 'null');
        if (isObj(saved) && typeof saved.profile === 'number' && (saved.name === null || isStr(saved.name))) {
          from = { profile: saved.profile, name: saved.name, follow: saved.follow === true };
        }
      } catch {
        // Nothing usable saved: the defaults.
      }
    }
    this.choicesOn = c;
    const selected = selectedProfile(c);
    if (!from) return { profile: selected };
    const same = sameProfile(c, from.profile, from.name);
    return { profile: from.follow || same === undefined ? selected : same };
  }
  /** The file the choices were last carried to. */
  private choicesOn: Configuration | undefined;
  private saveChoices(): void {
    const c = this.choicesOn;
    const p = this.choices.profile;
    try {
      if (c) storage()?.setItem(CHOICES_KEY, JSON.stringify({ profile: p, name: c.profiles[p]?.name ?? null, follow: p === selectedProfile(c) }));
    } catch { /* storage off: the choices last this session */ }
  }
  /** Another profile to edit: its rules become the document, with the rules made here; changes to
   * the last profile's own rules and values are dropped, after a question. */
  chooseProfile(profile: number): void {
    const c = this.configRead;
    if (!c || !c.profiles[profile] || profile === this.choices.profile) return;
    const run = () => {
      this.choices = { profile };
      this.saveChoices();
      this.adopt(c);
      this.set({ selectedId: undefined, selectedRuleId: undefined, draft: undefined });
    };
    const p = this.plan;
    const lost = p ? p.steps.filter((st) => st.kind === 'changed' || st.moved).length + p.removed.length + p.values.length : 0;
    if (!lost) { run(); return; }
    this.set({ confirm: { title: t('config.switchTitle'), body: t('config.switchBody', { n: lost }), items: [], confirm: t('config.switchConfirm'), run } });
  }

  /** After an apply or a restore the file is read again, except after a refusal because it
   * changed: the user reloads, seeing why. */
  private afterWrite(outcome: ApplyOutcome, restored = false): void {
    // A restore puts back an older file: nothing to compare it with.
    if (restored && outcome.ok) this.base = undefined;
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
    this.afterWrite(outcome, true);
  }

  /**
   * A file chosen for import. Into an editor with work in it, the rules wait for the user's choice
   * (`importing`: added by default, or replacing the editor's rules); into an empty one they go at
   * once. Either way one undo takes the import back.
   */
  importText(text: string): { ok: true; pending: boolean } | { ok: false; error: string; detail?: string; value?: number; limit?: number } {
    performance.mark('tarvel-import-start');
    const r = importDocument(text, this.helperPath);
    if (!r.ok) return r;
    const raw = r.ruleSet.rules.reduce((n, x) => n + x.mappings.filter((m) => m.form === 'raw').length, 0);
    const work = this.ruleSet.rules.some((x) => x.mappings.length > 0 || x.origin !== undefined);
    if (work) {
      this.set({ importing: { ruleSet: r.ruleSet, mode: 'add', raw } });
      return { ok: true, pending: true };
    }
    this.finishImport({ ruleSet: r.ruleSet, mode: 'add', raw });
    return { ok: true, pending: false };
  }
  /** The import chosen goes in, as one undo step. */
  finishImport(im: Importing | undefined = this.importing): void {
    this.importing = undefined;
    if (!im) return;
    const rs = this.ruleSet;
    // Imported rules are new rules of this document, whatever they were where they came from.
    const fresh = im.ruleSet.rules.filter((x) => x.fixed === undefined).map(({ origin: _o, outside: _x, autoName: _a, ...x }): Rule => x);
    const empty = !rs.rules.some((x) => x.mappings.length > 0 || x.origin !== undefined);
    if (this.profile) {
      if (im.mode === 'replace') {
        // The editor's rules go: the installed ones are removed from the profile by the next apply.
        const gone = rs.rules.flatMap((x) => (x.origin !== undefined ? [x.origin] : []));
        this.commit({ ...rs, rules: fresh, ...(gone.length || rs.removed?.length ? { removed: [...(rs.removed ?? []), ...gone] } : {}) });
      } else {
        this.commit(withNewRules(rs, fresh));
      }
    } else if (im.mode === 'replace' || empty) {
      const { values: _v, removed: _r, ...rest } = im.ruleSet;
      this.commit({ ...rest, rules: fresh });
    } else {
      this.commit({ ...rs, rules: [...rs.rules.filter((x) => x.mappings.length || !x.autoName), ...fresh] });
    }
    const first = fresh.find((x) => x.mappings.length);
    const n = fresh.reduce((k, x) => k + x.mappings.length, 0);
    const text = t(im.mode === 'add' && !empty ? 'import.added' : 'import.done', { title: im.ruleSet.title, r: fresh.length, n })
      + (im.raw ? ` ${t('import.raw', { n: im.raw })}` : '');
    this.set({
      selectedId: first?.mappings[0]?.id, selectedRuleId: first?.id, keyFilter: undefined, query: '', draft: undefined, layerView: '',
      notice: { kind: 'info', text }, tab: 'edit',
    });
    this.checkNow();
    performance.measure('tarvel-import', 'tarvel-import-start');
  }

  // ---- how rules open applications ------------------------------------------------------------------

  /** How new app actions are written; `rewrite` also rewrites the actions already there that the
   * other way expresses (one undo step). */
  setOpener(opener: AppOpener, rewrite = false): void {
    const rs = this.ruleSet;
    const rules = rewrite ? this.rewrittenOpeners(opener).rules : rs.rules;
    this.commit({ ...rs, rules, opener });
  }
  /** The rules with every app action rewritten to `opener` where it can be, and how many were. */
  rewrittenOpeners(opener: AppOpener): { rules: Rule[]; count: number; touched: number } {
    const key = [this.ruleSet.rules, opener, this.focusHelper, this.apps];
    if (!key.every((k, i) => k === this.openerCache.key[i])) this.openerCache = { key, out: this.rewriteOpeners(opener) };
    return this.openerCache.out;
  }
  private openerCache: { key: unknown[]; out: { rules: Rule[]; count: number; touched: number } } = { key: [], out: { rules: [], count: 0, touched: 0 } };
  private rewriteOpeners(opener: AppOpener): { rules: Rule[]; count: number; touched: number } {
    let count = 0;
    let touched = 0;
    const rules = this.ruleSet.rules.map((r) => {
      if (r.fixed !== undefined) return r;
      let n = 0;
      const mappings = r.mappings.map((m) => {
        const out = convertOpeners(m.manipulators, opener, this.focusHelper, this.appPath, this.appName);
        if (!out.count) return m;
        n += out.count;
        return { ...m, manipulators: out.manipulators };
      });
      if (!n) return r;
      count += n;
      touched++;
      return { ...r, mappings };
    });
    return { rules, count, touched };
  }
  private appNames = new Map<string, string>();
  appName = (bundleId: string): string | undefined => this.appNames.get(bundleId);

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
  get simSession(): Session { return this.tryIt.current(this.triedRules, this.simProfile, this.simContext); }

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
    const sim = this.tryIt.sequence(state, this.triedRules, this.simProfile, this.simContext);
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

  // ---- the gallery: rules tried where they would go, then added as they are ----------------------
  // (the view and its model, ui/Gallery.tsx and model/galleryview.ts, load when the gallery opens)

  /** The editor, or the public rule gallery. */
  view: 'editor' | 'gallery' = 'editor';
  /** Rules tried in Try it at the place they would be added, before they are in the document. */
  trial: Trial | undefined;
  showView(view: 'editor' | 'gallery'): void { this.set({ view }); }
  /** Tries rule objects (a gallery document's) in Try it with the whole profile, at `at` in the document's rules. */
  tryRules(title: string, rules: JsonObject[], at: number): void {
    this.tryIt.reset();
    this.trial = { title, at, objects: rules, rules: rules.map(importRule) };
    this.tabChosen = true;
    this.set({ view: 'editor', tab: 'try', sim: { ...this.sim, log: [] } });
  }
  stopTrying(): void {
    this.tryIt.reset();
    this.trial = undefined;
    this.set({ sim: { ...this.sim, log: [] } });
  }
  private trialCache: { key: unknown[]; rules: SimRule[] } = { key: [], rules: [] };
  /** What Try it runs: the document's rules, with the rules tried where they would be added. */
  get triedRules(): SimRule[] {
    const base = this.simRules;
    const trial = this.trial;
    if (!trial) return base;
    if (this.trialCache.key[0] !== base || this.trialCache.key[1] !== trial) {
      this.trialCache = { key: [base, trial], rules: withTrial(base, trial.rules.map((r) => simRuleOf(r, true)), trial.at) };
    }
    return this.trialCache.rules;
  }
  /**
   * Rule objects added to the document at `at` (its end when past it), exactly as they are: an
   * apply writes each as a new rule with this content, until the user edits it. One undo step.
   */
  addRules(rules: JsonObject[], at: number): Rule[] {
    const rs = this.ruleSet;
    const i = Math.max(0, Math.min(at, rs.rules.length));
    const added = rules.map(importRule);
    if (!added.length) return added;
    this.commit({ ...rs, rules: [...rs.rules.slice(0, i), ...added, ...rs.rules.slice(i)] });
    if (this.trial) this.tryIt.reset();
    this.trial = undefined;
    this.set({ selectedRuleId: added[0].id, selectedId: added[0].mappings[0]?.id, draft: undefined, keyFilter: undefined, query: '' });
    return added;
  }

  /** A label for a layer id, as the picture's layer switcher shows it. */
  layerName(layer: string): string {
    return layer ? layerLabel(layer) : t('kb.baseLayer');
  }
}

/** A finding that would block a rule written anew, for a rule kept as it is. */
function softened(p: Problem): Problem {
  return p.severity === 'block' && p.code === 'v.appEmpty' ? { ...p, severity: 'warning' } : p;
}

export function useStore(store: Store): Store {
  const [, setTick] = useState(0);
  // Subscribed in the same task as the first render, so an answer that arrives right after it is seen.
  useLayoutEffect(() => store.subscribe(() => setTick((n) => n + 1)), [store]);
  return store;
}
