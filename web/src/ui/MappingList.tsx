import { memo } from './memo';
import { useEffect, useLayoutEffect, useMemo, useRef, useState } from 'preact/hooks';
import { t } from '../i18n';
import { manipulatorCount } from '../model/compile';
import { keyLabel } from '../model/keys';
import { summarize } from '../model/summary';
import type { Mapping } from '../model/types';
import type { Store } from '../store';

/** The mappings the list shows; under a key filter the one being edited stays even when its key changes. */
export function filterMappings(ms: readonly Mapping[], query: string, key: string | undefined, keep?: string): Mapping[] {
  const q = query.trim().toLowerCase();
  return ms.filter((m) => {
    if (key && m.id !== keep && !(m.kind !== 'raw' && m.trigger.keys.includes(key))) return false;
    if (!q) return true;
    return `${m.label ?? ''}\n${summarize(m)}`.toLowerCase().includes(q);
  });
}

// Rows have one height so that only the ones in view need to exist (500 mappings stay quick).
export const ROW_HEIGHT = 40;
const OVERSCAN = 6;

interface RowProps { store: Store; m: Mapping; index: number; last: number; selected: boolean; errors: number; warnings: number; lang: string }

// Rows re-render only when their own mapping, position, selection or problems change.
const Row = memo(({ store, m, index, last, selected: sel, errors, warnings }: RowProps) => (
  <li class={`mapping${sel ? ' selected' : ''}${m.enabled ? '' : ' disabled'}`} data-id={m.id}>
    <input type="checkbox" checked={m.enabled} aria-label={t('list.enabled')} title={t('list.enabled')}
      onChange={() => store.updateMapping(m.id, (x) => ({ ...x, enabled: !x.enabled }))} />
    <button type="button" class="summary" aria-current={sel} title={m.label ? `${m.label}\n${summarize(m)}` : summarize(m)}
      onClick={() => store.set({ selectedId: m.id, tab: 'edit' })}>
      <span class="num">{index + 1}</span>
      <span class="text">
        {m.label && <span class="label">{m.label}</span>}
        <span>{summarize(m)}</span>
      </span>
      {errors > 0 && <span class="badge error" title={t('list.problems', { n: errors })}>!</span>}
      {!errors && warnings > 0 && <span class="badge warning" title={t('list.problems', { n: warnings })}>!</span>}
    </button>
    <span class="rowtools">
      <button type="button" class="icon" aria-label={t('list.moveUp')} title={t('list.moveUp')} disabled={index === 0} onClick={() => store.moveMapping(m.id, -1)}>↑</button>
      <button type="button" class="icon" aria-label={t('list.moveDown')} title={t('list.moveDown')} disabled={index === last} onClick={() => store.moveMapping(m.id, 1)}>↓</button>
      <button type="button" class="icon" aria-label={t('list.duplicate')} title={t('list.duplicate')} onClick={() => store.duplicateMapping(m.id)}>⧉</button>
      <button type="button" class="icon" aria-label={t('list.delete')} title={t('list.delete')} onClick={() => store.removeMapping(m.id)}>✕</button>
    </span>
  </li>
));

export function MappingList({ store }: { store: Store }) {
  const rs = store.ruleSet;
  const shown = useMemo(() => filterMappings(rs.mappings, store.query, store.keyFilter, store.selectedId), [rs, store.query, store.keyFilter, store.selectedId, store.lang]);
  const scroller = useRef<HTMLDivElement>(null);
  const [view, setView] = useState({ top: 0, height: 600 });
  // Scroll position from scroll events and the height from a resize observer: neither forces a layout.
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
  // Keep the selected mapping in view when it is chosen elsewhere (keyboard, new mapping).
  const selIndex = shown.findIndex((m) => m.id === store.selectedId);
  useLayoutEffect(() => {
    const el = scroller.current;
    if (!el || selIndex < 0) return;
    const top = selIndex * ROW_HEIGHT;
    if (top < el.scrollTop) el.scrollTop = top;
    else if (top + ROW_HEIGHT > el.scrollTop + el.clientHeight) el.scrollTop = top + ROW_HEIGHT - el.clientHeight;
  }, [store.selectedId, selIndex]);
  const first = Math.max(0, Math.floor(view.top / ROW_HEIGHT) - OVERSCAN);
  const last = Math.min(shown.length, Math.ceil((view.top + view.height) / ROW_HEIGHT) + OVERSCAN);
  // Up and down arrows move through the list, so it works from the keyboard however long it is.
  const onKeyDown = (e: KeyboardEvent) => {
    if (e.key !== 'ArrowDown' && e.key !== 'ArrowUp') return;
    if (!(e.target as HTMLElement).classList.contains('summary')) return;
    e.preventDefault();
    const next = shown[Math.min(shown.length - 1, Math.max(0, selIndex + (e.key === 'ArrowDown' ? 1 : -1)))];
    if (!next) return;
    store.set({ selectedId: next.id, tab: 'edit' });
    requestAnimationFrame(() => (scroller.current?.querySelector(`li[data-id="${next.id}"] .summary`) as HTMLElement | null)?.focus());
  };
  const problemCount = store.problemCounts;
  const position = useMemo(() => new Map(rs.mappings.map((m, i) => [m.id, i])), [rs]);
  return (
    <section class="list" aria-label={t('list.heading')}>
      <div class="listhead">
        <input type="search" value={store.query} placeholder={t('list.search')} aria-label={t('list.search')}
          onInput={(e) => store.set({ query: (e.currentTarget as HTMLInputElement).value })} />
        <button type="button" onClick={() => {
          const id = `new-${Date.now().toString(36)}`;
          store.addMappings([{ id, enabled: true, kind: 'remap', trigger: { keys: [store.keyFilter ?? ''], mandatory: [], optional: ['any'] }, action: { type: 'keys', strokes: [{ key: '', modifiers: [] }] } }]);
          store.set({ tab: 'edit' });
        }}>{t('list.new')}</button>
      </div>
      {store.keyFilter && (
        <div class="keyfilter">
          {t('list.forKey', { key: keyLabel(store.keyFilter) })}
          <button type="button" class="link" onClick={() => store.set({ keyFilter: undefined })}>{t('list.clearKey')}</button>
        </div>
      )}
      {!rs.mappings.length && <p class="hint empty">{t('list.empty')}</p>}
      {rs.mappings.length > 0 && !shown.length && <p class="hint empty">{t('list.noMatch')}</p>}
      <div class="scroller" ref={scroller} onScroll={onScroll} onKeyDown={onKeyDown}>
        <ol class="mappings" style={{ height: `${shown.length * ROW_HEIGHT}px`, paddingTop: `${first * ROW_HEIGHT}px` }}>
          {shown.slice(first, last).map((m) => {
            const pc = problemCount.get(m.id);
            return (
              <Row key={m.id} store={store} m={m} index={position.get(m.id) ?? 0} last={rs.mappings.length - 1}
                selected={m.id === store.selectedId} errors={pc?.e ?? 0} warnings={pc?.w ?? 0} lang={store.lang} />
            );
          })}
        </ol>
      </div>
      <p class="hint count">{t('list.count', { n: rs.mappings.length, m: manipulatorCount(rs) })}</p>
    </section>
  );
}
