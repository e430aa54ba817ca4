import { Component } from 'preact';
import { useCallback, useEffect, useMemo, useRef, useState } from 'preact/hooks';
import { t, type Lang } from '../i18n';
import { ALL_KEYS, keyFromEventCode, keyLabel } from '../model/keys';
import type { Mapping } from '../model/types';
import { useStore, type Store, type Tab } from '../store';
import { ApplyDialog } from './ApplyDialog';
import { MappingEditor } from './Editor';
import { Keyboard } from './Keyboard';
import { MappingList } from './MappingList';
import { Recipes } from './Recipes';

function JsonPreview({ store }: { store: Store }) {
  const text = JSON.stringify(store.manipulators, null, 2);
  const [copied, setCopied] = useState(false);
  const pre = useRef<HTMLPreElement>(null);
  const copy = async () => {
    try {
      await navigator.clipboard.writeText(text);
    } catch {
      // Older engines or no permission: copy the selected text instead.
      const sel = window.getSelection();
      const range = document.createRange();
      if (pre.current && sel) { range.selectNodeContents(pre.current); sel.removeAllRanges(); sel.addRange(range); }
      document.execCommand('copy');
    }
    setCopied(true);
    setTimeout(() => setCopied(false), 1500);
  };
  return (
    <section class="json" aria-label={t('json.heading')}>
      <div class="row">
        <h2>{t('json.heading')}</h2>
        <button type="button" class="small" onClick={() => void copy()}>{copied ? t('json.copied') : t('json.copy')}</button>
      </div>
      <pre ref={pre} class="mono" tabIndex={0}>{text}</pre>
    </section>
  );
}

/** Suggestions for every key field; they never change, so they are rendered once. */
class KeyNames extends Component {
  shouldComponentUpdate() { return false; }
  render() {
    return <datalist id="tarvel-keys">{ALL_KEYS.map((k) => <option key={k} value={k}>{keyLabel(k)}</option>)}</datalist>;
  }
}

function download(name: string, text: string) {
  const url = URL.createObjectURL(new Blob([text], { type: 'application/json' }));
  const a = document.createElement('a');
  a.href = url;
  a.download = name;
  a.style.display = 'none';
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

export function App({ store: s }: { store: Store }) {
  const store = useStore(s);
  const rs = store.ruleSet;
  const fileInput = useRef<HTMLInputElement>(null);
  const panel = useRef<HTMLDivElement>(null);
  // Another tab or another mapping starts at its top, not where the last one was scrolled to.
  const shownPanel = useRef(`${store.tab}/${store.selectedId}`);
  useEffect(() => {
    const now = `${store.tab}/${store.selectedId}`;
    if (now !== shownPanel.current && panel.current) panel.current.scrollTop = 0;
    shownPanel.current = now;
  }, [store.tab, store.selectedId]);
  const selected = rs.mappings.find((m) => m.id === store.selectedId);
  // Key-name suggestions are not needed for the first paint.
  const [suggest, setSuggest] = useState(false);
  useEffect(() => { const id = setTimeout(() => setSuggest(true), 50); return () => clearTimeout(id); }, []);

  useEffect(() => {
    const onKey = (e: KeyboardEvent) => {
      if (store.picking) {
        const key = keyFromEventCode(e.code);
        if (key) {
          e.preventDefault();
          e.stopPropagation();
          store.picking.done(key);
        }
        return;
      }
      const mod = e.metaKey || e.ctrlKey;
      if (!mod || e.altKey) return;
      const k = e.key.toLowerCase();
      if (k === 'z' || (k === 'y' && e.ctrlKey)) {
        e.preventDefault();
        if (k === 'y' || e.shiftKey) store.redo(); else store.undo();
      }
    };
    window.addEventListener('keydown', onKey, true);
    return () => window.removeEventListener('keydown', onKey, true);
  }, [store]);

  useEffect(() => {
    if (store.notice?.kind !== 'info') return undefined;
    const n = store.notice;
    const timer = setTimeout(() => { if (store.notice === n) store.set({ notice: undefined }); }, 5000);
    return () => clearTimeout(timer);
  }, [store.notice]);

  const counts = useMemo(() => {
    const c = new Map<string, number>();
    for (const m of rs.mappings) {
      if (m.kind === 'raw') continue;
      for (const k of m.trigger.keys) c.set(k, (c.get(k) ?? 0) + 1);
    }
    return c;
  }, [rs]);
  const selKeys = selected && selected.kind !== 'raw' ? selected.trigger.keys.join(' ') : '';

  const onKeyboard = useCallback((key: string) => {
    if (store.picking) { store.picking.done(key); return; }
    const mine = rs.mappings.filter((m) => m.kind !== 'raw' && m.trigger.keys.includes(key));
    if (mine.length) {
      store.set({ keyFilter: key, selectedId: mine[0].id, tab: 'edit', query: '' });
    } else {
      const m: Mapping = {
        id: `new-${Date.now().toString(36)}`, enabled: true, kind: 'remap',
        trigger: { keys: [key], mandatory: [], optional: ['any'] }, action: { type: 'keys', strokes: [{ key: '', modifiers: [] }] },
      };
      store.addMappings([m]);
      store.set({ keyFilter: key, tab: 'edit', query: '' });
    }
  }, [rs]);

  const onFile = async (file: File | undefined) => {
    if (!file) return;
    let text: string;
    try {
      text = await file.text();
    } catch {
      store.set({ notice: { kind: 'error', text: t('import.read') } });
      return;
    }
    const r = store.importText(text);
    if (r.ok) {
      const msg = t('import.done', { title: r.title, n: r.n }) + (r.raw ? ` ${t('import.raw', { n: r.raw })}` : '');
      store.set({ notice: { kind: 'info', text: msg }, tab: 'edit' });
    } else {
      store.set({ notice: { kind: 'error', text: t(`import.${r.error}`, { detail: r.detail ?? '' }) } });
    }
  };

  const errors = store.errorCount;
  const applyDisabled = store.preview || errors > 0 || store.apply.phase !== 'closed' || store.applying > 0;
  const tabs: Tab[] = ['edit', 'recipes', 'json'];

  return (
    <div class="app">
      {/* While the apply dialog is up, the page behind it takes no focus or clicks. */}
      <div class="page" inert={store.apply.phase !== 'closed'}>
      <header class="top">
        <span class="brand" aria-hidden="true">Tarvel</span>
        <input class="title" value={rs.title} aria-label={t('app.ruleSetTitle')} placeholder={t('app.ruleSetTitle')}
          onInput={(e) => store.setTitle((e.currentTarget as HTMLInputElement).value)} />
        <select aria-label={t('app.layout')} title={t('app.layout')} value={rs.layout}
          onChange={(e) => store.setLayout((e.currentTarget as HTMLSelectElement).value as 'us' | 'jis')}>
          <option value="us">⌨ {t('layout.us')}</option>
          <option value="jis">⌨ {t('layout.jis')}</option>
        </select>
        <select aria-label={t('app.language')} title={t('app.language')} value={store.lang}
          onChange={(e) => store.setLang((e.currentTarget as HTMLSelectElement).value as Lang)}>
          <option value="en">English</option>
          <option value="ja">日本語</option>
        </select>
        <span class="spacer" />
        <button type="button" class="icon" aria-label={t('app.undo')} title={t('app.undo')} disabled={!store.history.canUndo} onClick={() => store.undo()}>↶</button>
        <button type="button" class="icon" aria-label={t('app.redo')} title={t('app.redo')} disabled={!store.history.canRedo} onClick={() => store.redo()}>↷</button>
        <button type="button" onClick={() => fileInput.current?.click()}>{t('app.import')}</button>
        <input ref={fileInput} type="file" accept=".json,application/json" hidden data-testid="import"
          onChange={(e) => { const input = e.currentTarget as HTMLInputElement; void onFile(input.files?.[0]).finally(() => { input.value = ''; }); }} />
        <button type="button" onClick={() => {
          const f = store.exportFile();
          download(f.name, f.text);
          store.set({ notice: { kind: 'info', text: t('export.done', { file: f.name }) } });
        }}>{t('app.export')}</button>
        <button type="button" class="primary" disabled={applyDisabled}
          title={errors ? t('app.applyBlocked', { n: errors }) : undefined}
          onClick={() => store.set({ apply: { phase: 'confirm' } })}>{t('app.apply')}</button>
      </header>
      {store.preview && <div class="banner preview" role="note">{t('app.preview')}</div>}
      {!store.preview && errors > 0 && <div class="banner warn">{t('app.applyBlocked', { n: errors })}</div>}
      {store.notice && (
        <div class={`banner ${store.notice.kind}`} role={store.notice.kind === 'error' ? 'alert' : 'status'}>
          <span>{store.notice.text}</span>
          <button type="button" class="icon" aria-label={t('app.dismiss')} onClick={() => store.set({ notice: undefined })}>×</button>
        </div>
      )}
      <main class="body">
        <MappingList store={store} />
        <section class="work">
          <Keyboard layout={rs.layout} counts={counts} selected={selKeys} picking={!!store.picking} onKey={onKeyboard} lang={store.lang} />
          <div class="tabs" role="tablist">
            {tabs.map((tb) => (
              <button type="button" role="tab" key={tb} id={`tab-${tb}`} aria-selected={store.tab === tb} aria-controls="tabpanel"
                class={store.tab === tb ? 'active' : ''} onClick={() => store.set({ tab: tb })}>{t(`tab.${tb}`)}</button>
            ))}
          </div>
          <div class="tabpanel" id="tabpanel" ref={panel} role="tabpanel" aria-labelledby={`tab-${store.tab}`}>
            {store.tab === 'edit' && (selected ? <MappingEditor key={selected.id} store={store} m={selected} /> : <p class="hint empty">{t('edit.none')}</p>)}
            {store.tab === 'recipes' && <Recipes store={store} />}
            {store.tab === 'json' && <JsonPreview store={store} />}
          </div>
        </section>
      </main>
      </div>
      {suggest && <KeyNames />}
      <ApplyDialog store={store} />
    </div>
  );
}
