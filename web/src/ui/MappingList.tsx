import { useMemo } from 'preact/hooks';
import { t } from '../i18n';
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

export function MappingList({ store }: { store: Store }) {
  const rs = store.ruleSet;
  const shown = useMemo(() => filterMappings(rs.mappings, store.query, store.keyFilter, store.selectedId), [rs, store.query, store.keyFilter, store.selectedId, store.lang]);
  const problemCount = new Map<string, { e: number; w: number }>();
  for (const p of store.problems) {
    const c = problemCount.get(p.id) ?? { e: 0, w: 0 };
    if (p.severity === 'error') c.e++; else c.w++;
    problemCount.set(p.id, c);
  }
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
      <ol class="mappings">
        {shown.map((m) => {
          const index = rs.mappings.indexOf(m);
          const pc = problemCount.get(m.id);
          const sel = m.id === store.selectedId;
          return (
            <li key={m.id} class={`mapping${sel ? ' selected' : ''}${m.enabled ? '' : ' disabled'}`}>
              <input type="checkbox" checked={m.enabled} aria-label={t('list.enabled')} title={t('list.enabled')}
                onChange={() => store.updateMapping(m.id, (x) => ({ ...x, enabled: !x.enabled }))} />
              <button type="button" class="summary" aria-current={sel} onClick={() => store.set({ selectedId: m.id, tab: 'edit' })}>
                <span class="num">{index + 1}</span>
                <span class="text">
                  {m.label && <span class="label">{m.label}</span>}
                  <span>{summarize(m)}</span>
                </span>
                {pc && pc.e > 0 && <span class="badge error" title={t('list.problems', { n: pc.e })}>!</span>}
                {pc && !pc.e && pc.w > 0 && <span class="badge warning" title={t('list.problems', { n: pc.w })}>!</span>}
              </button>
              <span class="rowtools">
                <button type="button" class="icon" aria-label={t('list.moveUp')} title={t('list.moveUp')} disabled={index === 0} onClick={() => store.moveMapping(m.id, -1)}>↑</button>
                <button type="button" class="icon" aria-label={t('list.moveDown')} title={t('list.moveDown')} disabled={index === rs.mappings.length - 1} onClick={() => store.moveMapping(m.id, 1)}>↓</button>
                <button type="button" class="icon" aria-label={t('list.duplicate')} title={t('list.duplicate')} onClick={() => {
                  const copy = { ...structuredClone(m), id: `${m.id}-c${Date.now().toString(36)}` };
                  const ms = [...rs.mappings];
                  ms.splice(index + 1, 0, copy);
                  store.commit({ ...rs, mappings: ms });
                  store.set({ selectedId: copy.id });
                }}>⧉</button>
                <button type="button" class="icon" aria-label={t('list.delete')} title={t('list.delete')} onClick={() => store.removeMapping(m.id)}>✕</button>
              </span>
            </li>
          );
        })}
      </ol>
      {!rs.mappings.length && <p class="hint empty">{t('list.empty')}</p>}
      {rs.mappings.length > 0 && !shown.length && <p class="hint empty">{t('list.noMatch')}</p>}
      {!shown.length && <span class="spacer" />}
      <p class="hint count">{t('list.count', { n: rs.mappings.length, m: store.manipulators.length })}</p>
    </section>
  );
}
