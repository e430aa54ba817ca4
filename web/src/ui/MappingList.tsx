// The rule set as a list: each rule (name, on/off) with its mappings, one line each, and under a
// mapping every command it runs or file it opens, in full. Only the rows in view exist; their
// heights are measured as they appear.
import { useEffect, useLayoutEffect, useMemo, useRef, useState } from 'preact/hooks';
import { t } from '../i18n';
import { commandsOf, visibleText, type AppPathLookup, type Command } from '../model/commands';
import { isObj, isStr } from '../model/json';
import { keyLabel } from '../model/keys';
import { allEvents, triggerKeys } from '../model/manipulator';
import { summarize } from '../model/summary';
import type { Mapping, Rule } from '../model/types';
import { TARVEL_PREFIX } from '../model/rules';
import { ruleState } from '../model/profile';
import type { Store } from '../store';
import { Component, type ComponentChild } from 'preact';

/** Like memo, with its own test of what changed. */
function rowMemo(fn: (p: RowProps) => ComponentChild) {
  return class Row extends Component<RowProps> {
    shouldComponentUpdate(next: RowProps): boolean { return rowChanged(this.props, next); }
    render(props: RowProps): ComponentChild { return fn(props); }
  };
}

type Row =
  | { kind: 'rule'; key: string; rule: Rule; index: number; shown: number }
  | { kind: 'mapping'; key: string; m: Mapping; rule: Rule; index: number; last: boolean; first: boolean };

const commandCache = new WeakMap<Mapping, { apps: unknown; list: Command[] }>();
function commands(m: Mapping, lookup: AppPathLookup, apps: unknown): Command[] {
  const hit = commandCache.get(m);
  if (hit && hit.apps === apps) return hit.list;
  const list = m.manipulators.flatMap((man) => commandsOf(man, lookup));
  commandCache.set(m, { apps, list });
  return list;
}

/** What a search looks in: the summary, what it runs, the labels and key names it has. */
const haystacks = new WeakMap<Mapping, { summary: string; apps: unknown; text: string }>();
function haystack(m: Mapping, lookup: AppPathLookup, apps: unknown): string {
  const summary = summarize(m);
  const hit = haystacks.get(m);
  if (hit && hit.summary === summary && hit.apps === apps) return hit.text;
  const extra = m.manipulators.flatMap((man) => (isObj(man) ? [isStr(man.description) ? man.description : '', ...triggerKeys(man)] : []));
  const text = `${summary}\n${commands(m, lookup, apps).map((c) => c.text).join('\n')}\n${extra.join('\n')}`.toLowerCase();
  haystacks.set(m, { summary, apps, text });
  return text;
}

/** The rows the list shows: rules with the mappings that match the search and the key. */
export function listRows(rules: readonly Rule[], query: string, keyIds: ReadonlySet<string> | undefined, keep: string | undefined, lookup: AppPathLookup, apps: unknown): Row[] {
  const q = query.trim().toLowerCase();
  const rows: Row[] = [];
  rules.forEach((rule, index) => {
    const shown: { m: Mapping; at: number }[] = [];
    rule.mappings.forEach((m, at) => {
      if (keyIds && m.id !== keep && !keyIds.has(m.id)) return;
      if (q && !haystack(m, lookup, apps).includes(q) && !rule.name.toLowerCase().includes(q)) return;
      shown.push({ m, at });
    });
    if ((q || keyIds) && !shown.length) return;
    rows.push({ kind: 'rule', key: rule.id, rule, index, shown: shown.length });
    const lastRule = index === rules.length - 1;
    shown.forEach(({ m, at }, i) => rows.push({
      kind: 'mapping', key: m.id, m, rule, index: at, first: index === 0 && at === 0,
      last: lastRule && at === rule.mappings.length - 1 && i === shown.length - 1,
    }));
  });
  return rows;
}

/** A row's height before it is drawn: the summary line, and a few lines per command it runs
 * (counted from the text alone; the row is measured once it is in view). */
const estimates = new WeakMap<Mapping, number>();
const estimate = (row: Row): number => {
  if (row.kind === 'rule') return 34;
  let h = estimates.get(row.m);
  if (h === undefined) {
    h = 42;
    for (const man of row.m.manipulators) {
      if (!isObj(man)) continue;
      for (const { event } of allEvents(man)) {
        const text = isStr(event.shell_command) ? event.shell_command : isObj(event.software_function) ? JSON.stringify(event.software_function) : '';
        if (text) h += 18 * Math.max(1, Math.ceil(text.length / 34));
      }
    }
    estimates.set(row.m, h);
  }
  return h;
};

const KIND_LABEL: Record<Command['kind'], string> = {
  shell: 'commands.shell', shortcut: 'commands.shortcut', focusApplication: 'commands.focus', openApplication: 'commands.open',
  openFile: 'commands.openFile', userCommand: 'commands.userCommand',
};

interface RowProps {
  store: Store; row: Row; selected: boolean; blocks: number; warnings: number; lang: string; apps: unknown; ruleSelected: boolean; hasFile: boolean;
  /** What the row shows, so that it re-renders only when one of these changes (the row object is new each time). */
  item: Mapping | Rule; index: number; first: boolean; last: boolean; count: number;
}

/** A row re-renders when what it shows changes, not when the list around it does. */
function rowChanged(a: RowProps, b: RowProps): boolean {
  return a.item !== b.item || a.index !== b.index || a.first !== b.first || a.last !== b.last || a.count !== b.count || a.selected !== b.selected
    || a.blocks !== b.blocks || a.warnings !== b.warnings || a.lang !== b.lang || a.apps !== b.apps || a.ruleSelected !== b.ruleSelected || a.hasFile !== b.hasFile;
}

const RuleRow = rowMemo(({ store, row, ruleSelected }: RowProps) => {
  if (row.kind !== 'rule') return null;
  const { rule, index } = row;
  const [editing, setEditing] = useState(false);
  const own = rule.name.startsWith(TARVEL_PREFIX);
  const shown = own ? rule.name.slice(TARVEL_PREFIX.length) : rule.name;
  const name = shown ? visibleText(shown) : t('list.unnamed', { n: index + 1 });
  const fixed = rule.fixed !== undefined;
  // Only the document knows whether the rule is installed: new, changed, or as it is in the file.
  const state = store.profile ? ruleState(rule) : undefined;
  return (
    <li class={`rulerow${rule.enabled ? '' : ' disabled'}${ruleSelected ? ' current' : ''}${state ? ` state-${state}` : ''}`} data-rule={rule.id}>
      <input type="checkbox" checked={rule.enabled} disabled={fixed} aria-label={t('list.ruleEnabled', { name })} title={t('list.ruleEnabled', { name })}
        onChange={() => store.updateRule(rule.id, (r) => ({ ...r, enabled: !r.enabled }))} />
      {editing ? (
        <input class="rulename" value={rule.name} aria-label={t('list.ruleName')} ref={(el) => el?.focus()}
          onInput={(e) => store.updateRule(rule.id, (r) => ({ ...r, name: (e.currentTarget as HTMLInputElement).value, undescribed: false, autoName: undefined }), 'name')}
          onBlur={() => setEditing(false)} onKeyDown={(e) => { if (e.key === 'Enter' || e.key === 'Escape') setEditing(false); }} />
      ) : (
        <button type="button" class="rulename" aria-current={ruleSelected} title={rule.name} onClick={() => store.set({ selectedRuleId: rule.id })}
          onDblClick={() => { if (!fixed) setEditing(true); }}>
          <span class="pos" title={t('list.position')}>{index + 1}</span>
          {own && <span class="badge own">{t('config.own')}</span>}
          <span class="text">{name}</span>
          {state === 'new' && <span class="badge new">{t('list.state.new')}</span>}
          {state === 'changed' && !rule.outside && <span class="badge changed">{t('list.state.changed')}</span>}
          {fixed && <span class="badge">{t('list.state.fixed')}</span>}
          {rule.outside && <span class="badge outside" title={t(`conflict.${rule.outside}`, { name })}>⚠ {t('list.state.outside')}</span>}
          <span class="num">{fixed ? '' : t('list.ruleCount', { n: rule.mappings.length })}</span>
        </button>
      )}
      <span class="rowtools">
        <button type="button" class="icon" aria-label={t('list.rename', { name })} title={t('list.rename', { name })} disabled={fixed} onClick={() => setEditing(true)}>✎</button>
        <button type="button" class="icon" aria-label={t('list.ruleUp', { name })} title={t('list.ruleUp', { name })} disabled={index === 0} onClick={() => store.moveRule(rule.id, -1)}>↑</button>
        <button type="button" class="icon" aria-label={t('list.ruleDown', { name })} title={t('list.ruleDown', { name })} disabled={index === store.ruleSet.rules.length - 1} onClick={() => store.moveRule(rule.id, 1)}>↓</button>
        <button type="button" class="icon" aria-label={t('list.ruleDuplicate', { name })} title={t('list.ruleDuplicate', { name })} disabled={fixed} onClick={() => store.duplicateRule(rule.id)}>⧉</button>
        <button type="button" class="icon" aria-label={t('list.ruleDelete', { name })} title={t('list.ruleDelete', { name })} onClick={() => store.removeRule(rule.id)}>✕</button>
      </span>
    </li>
  );
});

const MappingRow = rowMemo(({ store, row, selected: sel, blocks, warnings, apps }: RowProps) => {
  if (row.kind !== 'mapping') return null;
  const { m, index } = row;
  const text = summarize(m);
  const cmds = commands(m, store.appPath, apps);
  return (
    <li class={`mapping${sel ? ' selected' : ''}${m.enabled ? '' : ' disabled'}`} data-id={m.id}>
      <div class="line">
        <input type="checkbox" checked={m.enabled} aria-label={t('list.enabled')} title={t('list.enabled')}
          onChange={() => store.updateMapping(m.id, (x) => ({ ...x, enabled: !x.enabled }))} />
        <button type="button" class="summary" aria-current={sel} title={text} onClick={() => store.select(m.id)}>
          <span class="num">{index + 1}</span>
          <span class="text">{text}</span>
          {m.form === 'raw' && <span class="badge">{t('list.json')}</span>}
          {blocks > 0 && <span class="badge block" title={t('list.problems', { n: blocks })}>!<span class="visually-hidden">{t('list.problems', { n: blocks })}</span></span>}
          {!blocks && warnings > 0 && <span class="badge warning" title={t('list.problems', { n: warnings })}>!<span class="visually-hidden">{t('list.problems', { n: warnings })}</span></span>}
        </button>
        <span class="rowtools">
          <button type="button" class="icon" aria-label={t('list.moveUp')} title={t('list.moveUp')} disabled={row.first} onClick={() => store.moveMapping(m.id, -1)}>↑</button>
          <button type="button" class="icon" aria-label={t('list.moveDown')} title={t('list.moveDown')} disabled={row.last} onClick={() => store.moveMapping(m.id, 1)}>↓</button>
          <button type="button" class="icon" aria-label={t('list.duplicate')} title={t('list.duplicate')} onClick={() => store.duplicateMapping(m.id)}>⧉</button>
          <button type="button" class="icon" aria-label={t('list.delete')} title={t('list.delete')} onClick={() => store.removeMapping(m.id)}>✕</button>
        </span>
      </div>
      {cmds.length > 0 && (
        <ul class="commands" aria-label={t('commands.heading')}>
          {cmds.map((c, i) => (
            <li key={i} class={c.warning ? 'warn' : ''}>
              <span class="kind">{t(KIND_LABEL[c.kind])}</span>
              <code>{visibleText(c.text)}</code>
              {c.warning && <span class="warning">⚠ {t(`commands.${c.warning}`)}</span>}
            </li>
          ))}
        </ul>
      )}
    </li>
  );
});

const OVERSCAN = 300;

export function MappingList({ store }: { store: Store }) {
  const rs = store.ruleSet;
  const keyIds = useMemo(() => (store.keyFilter ? new Set(store.marksFor(store.layerView).get(store.keyFilter) ?? []) : undefined), [rs.rules, store.keyFilter, store.layerView]);
  const rows = useMemo(() => listRows(rs.rules, store.query, keyIds, store.selectedId, store.appPath, store.apps),
    [rs.rules, store.query, keyIds, store.keyFilter ? store.selectedId : undefined, store.lang, store.apps]);
  const scroller = useRef<HTMLDivElement>(null);
  const list = useRef<HTMLOListElement>(null);
  const heights = useRef(new Map<string, number>());
  const [view, setView] = useState({ top: 0, height: 600 });
  const [, remeasured] = useState(0);
  const offsets = useMemo(() => {
    const out = new Float64Array(rows.length + 1);
    for (let i = 0; i < rows.length; i++) out[i + 1] = out[i] + (heights.current.get(rows[i].key) ?? estimate(rows[i]));
    return out;
  }, [rows, heights.current.size, remeasured]);
  const onScroll = () => {
    const el = scroller.current;
    if (el) setView((v) => (v.top === el.scrollTop ? v : { ...v, top: el.scrollTop }));
  };
  useEffect(() => {
    const el = scroller.current;
    if (!el || typeof ResizeObserver === 'undefined') return undefined;
    const ro = new ResizeObserver((entries) => {
      const height = entries[0]?.contentRect.height ?? 600;
      setView((v) => (v.height === height ? v : { ...v, height }));
    });
    ro.observe(el);
    return () => ro.disconnect();
  }, []);
  // A list that got shorter (a search) clamps the scroll position before any scroll event says so.
  const top = Math.min(view.top, Math.max(0, offsets[rows.length] - view.height));
  let first = 0;
  while (first < rows.length && offsets[first + 1] < top - OVERSCAN) first++;
  let last = first;
  while (last < rows.length && offsets[last] < top + view.height + OVERSCAN) last++;
  // Measure what was drawn; a changed height moves the rows below it.
  useLayoutEffect(() => {
    const ol = list.current;
    if (!ol) return;
    let changed = false;
    for (const el of Array.from(ol.children) as HTMLElement[]) {
      const key = el.dataset.id ?? el.dataset.rule;
      if (!key) continue;
      const h = el.offsetHeight;
      if (h && heights.current.get(key) !== h) { heights.current.set(key, h); changed = true; }
    }
    if (changed) remeasured((n) => n + 1);
  });
  // Keep the selected mapping in view when it is chosen elsewhere (keyboard, new mapping).
  const selIndex = rows.findIndex((r) => r.key === store.selectedId);
  useLayoutEffect(() => {
    const el = scroller.current;
    if (!el || selIndex < 0) return;
    const top = offsets[selIndex];
    const bottom = offsets[selIndex + 1];
    if (top < el.scrollTop) el.scrollTop = top;
    else if (bottom > el.scrollTop + el.clientHeight) el.scrollTop = bottom - el.clientHeight;
  }, [store.selectedId, selIndex]);
  // Up and down arrows move through the mappings, so the list works from the keyboard however long it is.
  const onKeyDown = (e: KeyboardEvent) => {
    if (e.key !== 'ArrowDown' && e.key !== 'ArrowUp') return;
    if (!(e.target as HTMLElement).classList.contains('summary')) return;
    e.preventDefault();
    const ms = rows.filter((r) => r.kind === 'mapping');
    const at = ms.findIndex((r) => r.key === store.selectedId);
    const next = ms[Math.min(ms.length - 1, Math.max(0, at + (e.key === 'ArrowDown' ? 1 : -1)))];
    if (!next) return;
    store.select(next.key);
    requestAnimationFrame(() => (scroller.current?.querySelector(`li[data-id="${next.key}"] .summary`) as HTMLElement | null)?.focus());
  };
  const problemCount = store.problemCounts;
  const mappings = rs.rules.reduce((n, r) => n + r.mappings.length, 0);
  return (
    <section class="list" aria-labelledby="list-heading">
      <h2 id="list-heading" class="visually-hidden">{t('list.heading')}</h2>
      <div class="listhead">
        <input type="search" value={store.query} placeholder={t('list.search')} aria-label={t('list.search')}
          onInput={(e) => store.set({ query: (e.currentTarget as HTMLInputElement).value })} />
        <button type="button" onClick={() => store.addRule(t('list.newRuleName', { n: rs.rules.length + 1 }))}>{t('list.newRule')}</button>
      </div>
      {store.keyFilter && (
        <div class="keyfilter">
          {t('list.forKey', { key: keyLabel(store.keyFilter) })}
          <button type="button" class="link" onClick={() => store.set({ keyFilter: undefined })}>{t('list.clearKey')}</button>
        </div>
      )}
      {!mappings && <p class="hint empty">{t('list.empty')}</p>}
      {mappings > 0 && !rows.some((r) => r.kind === 'mapping') && <p class="hint empty">{t('list.noMatch')}</p>}
      <div class="scroller" ref={scroller} onScroll={onScroll} onKeyDown={onKeyDown}>
        <ol class="mappings" ref={list} style={{ height: `${offsets[rows.length]}px`, paddingTop: `${offsets[first]}px` }}>
          {rows.slice(first, last).map((row) => {
            const pc = row.kind === 'mapping' ? problemCount.get(row.m.id) : undefined;
            const props: RowProps = {
              store, row, selected: row.key === store.selectedId, blocks: pc?.b ?? 0, warnings: pc?.w ?? 0, lang: store.lang, apps: store.apps,
              ruleSelected: row.kind === 'rule' && row.rule.id === store.selectedRuleId, hasFile: !!store.profile,
              item: row.kind === 'rule' ? row.rule : row.m, index: row.index, first: row.kind === 'mapping' && row.first,
              last: row.kind === 'mapping' ? row.last : row.index === rs.rules.length - 1, count: row.kind === 'rule' ? row.rule.mappings.length : 0,
            };
            return row.kind === 'rule' ? <RuleRow key={row.key} {...props} /> : <MappingRow key={row.key} {...props} />;
          })}
        </ol>
      </div>
      <p class="hint count">{t('list.count', { r: rs.rules.length, n: mappings, m: store.manipulatorCount })}</p>
    </section>
  );
}
