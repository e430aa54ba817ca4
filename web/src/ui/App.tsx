import { Component } from 'preact';
import { useCallback, useEffect, useMemo, useRef, useState } from 'preact/hooks';
import { t, type Lang } from '../i18n';
import { keyFromEventCode } from '../model/keys';
import { triggerKeys } from '../model/manipulator';
import { writable } from '../model/profile';
import { ruleMarks } from '../model/trial';
import { writtenRule } from '../model/rules';
import { isObj } from '../model/json';
import type { Mapping } from '../model/types';
import { TABS, useStore, type Store, type Tab } from '../store';
import { ApplyDialog, ConfirmDialog } from './ApplyDialog';
import { Backups, RestoreDialog } from './Backups';
import { ConfigPanel } from './ConfigPanel';
import { Conflicts } from './Conflicts';
import { ImportDialog } from './ImportDialog';
import { MappingEditor } from './Editor';
import { KeyNameLists } from './fields';
import { Keyboard } from './Keyboard';
import { MappingList } from './MappingList';
import { Recipes } from './Recipes';
import { Simulator } from './Simulator';
import { memo } from './memo';

/** The rules as the profile holds them after an apply (without a file: the rules of the editor, as written). */
function JsonPreview({ store }: { store: Store }) {
  const p = store.plan;
  const rs = store.ruleSet.rules;
  const text = useMemo(() => JSON.stringify(p ? p.steps.map((s) => s.content) : rs.filter(writable).map(writtenRule), null, 2), [p ?? rs]);
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
    <section class="json" aria-labelledby="json-heading">
      <div class="row">
        <h2 id="json-heading">{t('json.heading')}</h2>
        <button type="button" class="small" onClick={() => void copy()}>{copied ? t('json.copied') : t('json.copy')}</button>
      </div>
      <pre ref={pre} class="mono" tabIndex={0} aria-labelledby="json-heading">{text}</pre>
    </section>
  );
}

/** Variable names for the variable fields, re-rendered when the rules change. */
const Variables = memo(({ names }: { names: string[] }) => (
  <datalist id="tarvel-variables">{names.slice(0, 200).map((n) => <option key={n} value={n} />)}</datalist>
));

/** Suggestions for every key field; they never change, so they are rendered once. */
class KeyNames extends Component {
  shouldComponentUpdate() { return false; }
  render() { return <KeyNameLists />; }
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

/** Tabs as the ARIA tabs pattern has them: one Tab stop, arrow keys move and select. */
function Tabs({ store }: { store: Store }) {
  const refs = useRef<(HTMLButtonElement | null)[]>([]);
  const go = (i: number) => {
    const tab = TABS[(i + TABS.length) % TABS.length];
    store.chooseTab(tab);
    refs.current[TABS.indexOf(tab)]?.focus();
  };
  const onKeyDown = (e: KeyboardEvent) => {
    const i = TABS.indexOf(store.tab);
    if (e.key === 'ArrowRight') go(i + 1);
    else if (e.key === 'ArrowLeft') go(i - 1);
    else if (e.key === 'Home') go(0);
    else if (e.key === 'End') go(TABS.length - 1);
    else return;
    e.preventDefault();
  };
  return (
    <div class="tabs" role="tablist" aria-label={t('tab.label')} onKeyDown={onKeyDown}>
      {TABS.map((tb, i) => (
        <button type="button" role="tab" key={tb} id={`tab-${tb}`} ref={(el) => { refs.current[i] = el; }}
          aria-selected={store.tab === tb} aria-controls={`panel-${tb}`} tabIndex={store.tab === tb ? 0 : -1}
          class={store.tab === tb ? 'active' : ''} onClick={() => store.chooseTab(tb)}>{t(`tab.${tb}`)}</button>
      ))}
    </div>
  );
}

/**
 * The mapping the editor shows. One chosen on the picture opens a frame later: the key, the list
 * and the picture answer the click at once, and building the form does not hold that frame back.
 * Any other choice, and every edit, shows at once.
 */
function useShownMapping(selected: Mapping | undefined, later: { current: boolean }): Mapping | undefined {
  const shown = useRef(selected);
  const [, redraw] = useState(0);
  const wait = later.current && selected?.id !== shown.current?.id;
  later.current = false;
  useEffect(() => {
    if (!wait) return undefined;
    let timer: ReturnType<typeof setTimeout> | undefined;
    const frame = requestAnimationFrame(() => { timer = setTimeout(() => redraw((n) => n + 1), 0); });
    return () => { cancelAnimationFrame(frame); clearTimeout(timer); };
  }, [wait, selected?.id]);
  if (wait) return shown.current;
  shown.current = selected;
  return selected;
}

type GalleryModule = typeof import('./Gallery');
/** The gallery view and its model: fetched the first time the gallery opens, not part of the page's own bundle. */
function useGalleryModule(wanted: boolean): GalleryModule | 'failed' | undefined {
  const [mod, setMod] = useState<GalleryModule | 'failed' | undefined>(undefined);
  useEffect(() => {
    if (!wanted || mod) return;
    import('./Gallery').then(setMod, () => setMod('failed'));
  }, [wanted, mod]);
  return mod;
}

/** Marks of the document's rules, with those of the rules tried in Try it. */
function useTrialMarks(store: Store, marks: Map<string, string[]>, layers: string[]) {
  const trial = store.tab === 'try' ? store.trial : undefined;
  return useMemo(() => {
    if (!trial) return { marks, layers };
    const tried = ruleMarks(trial.rules, store.layerView);
    const all = new Map(marks);
    for (const [k, ids] of tried.marks) all.set(k, [...(all.get(k) ?? []), ...ids]);
    return { marks: all, layers: [...new Set([...layers, ...tried.layers])].sort((a, b) => a.localeCompare(b)) };
  }, [trial, marks, layers, store.layerView]);
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
  useEffect(() => { document.title = t('app.title'); }, [store.lang]);
  const fromPicture = useRef(false);
  const chosen = store.selected;
  const selected = useShownMapping(chosen, fromPicture);
  // Key-name suggestions are not needed for the first paint.
  const [suggest, setSuggest] = useState(false);
  useEffect(() => { const id = setTimeout(() => setSuggest(true), 50); return () => clearTimeout(id); }, []);

  useEffect(() => {
    const onKey = (e: KeyboardEvent) => {
      if (store.picking) {
        // Escape gives up; the field's own button records Escape.
        if (e.key === 'Escape') {
          e.preventDefault();
          e.stopPropagation();
          store.set({ picking: undefined });
          return;
        }
        const key = keyFromEventCode(e.code);
        if (key && e.key !== 'Tab') {
          e.preventDefault();
          e.stopPropagation();
          store.picking.done(key);
        }
        return;
      }
      const mod = e.metaKey || e.ctrlKey;
      if (!mod || e.altKey) return;
      const k = e.key.toLowerCase();
      const inText = e.target instanceof HTMLTextAreaElement;
      if (!inText && (k === 'z' || (k === 'y' && e.ctrlKey))) {
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

  const shownMarks = useTrialMarks(store, store.marksFor(store.layerView), store.layers);
  const marks = shownMarks.marks;
  const layerNames = useMemo(() => shownMarks.layers.map((l) => store.layerName(l)), [shownMarks.layers, store.lang]);
  const gallery = useGalleryModule(store.view === 'gallery');
  const selKeys = chosen ? [...new Set(chosen.manipulators.filter(isObj).flatMap(triggerKeys))].join(' ') : '';

  const onKeyboard = useCallback((key: string) => {
    if (store.picking) { store.picking.done(key); return; }
    if (store.tab === 'try') { store.simPress([{ field: 'key_code', name: key }]); return; }
    const mine = store.marksFor(store.layerView).get(key);
    fromPicture.current = true;
    if (mine?.length) {
      store.set({ keyFilter: key, query: '' });
      store.select(mine[0]);
    } else {
      store.openDraft(key, store.layerView);
    }
  }, [store]);
  const onLayer = useCallback((layer: string) => store.set({ layerView: layer, keyFilter: undefined }), [store]);

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
    if (!r.ok) {
      const size = (n?: number) => (n === undefined ? '' : n >= 1024 * 1024 ? `${(n / 1024 / 1024).toFixed(1)} MB` : String(n));
      store.set({ notice: { kind: 'error', text: t(`import.${r.error}`, { detail: r.detail ?? '', value: size(r.value), limit: size(r.limit) }) } });
    }
  };

  const blocks = store.blockCount;
  const hold = store.applyHold;
  const applyDisabled = store.preview || blocks > 0 || !!hold || store.apply.phase !== 'closed' || store.applying > 0;
  const modal = store.apply.phase !== 'closed' || store.restoring.phase !== 'closed' || !!store.confirm || !!store.importing;
  const tab: Tab = store.tab;
  const kbLabel = store.picking ? t('kb.hintPick') : tab === 'try' ? t('kb.hintTry') : t('kb.hintEdit');

  return (
    <div class="app">
      {/* While a dialog is up, the page behind it takes no focus or clicks. */}
      <div class="page" inert={modal}>
        <header class="top">
          <h1 class="brand">Tarvel</h1>
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
          <button type="button" aria-pressed={store.view === 'gallery'} class={store.view === 'gallery' ? 'viewon' : ''}
            onClick={() => store.showView(store.view === 'gallery' ? 'editor' : 'gallery')}>{t('app.gallery')}</button>
          <button type="button" onClick={() => fileInput.current?.click()}>{t('app.import')}</button>
          <input ref={fileInput} type="file" accept=".json,application/json" hidden data-testid="import"
            onChange={(e) => { const input = e.currentTarget as HTMLInputElement; void onFile(input.files?.[0]).finally(() => { input.value = ''; }); }} />
          <button type="button" onClick={() => {
            const f = store.exportFile();
            download(f.name, f.text);
            store.set({ notice: { kind: 'info', text: t('export.done', { file: f.name }) } });
          }}>{t('app.export')}</button>
          <button type="button" class="primary" disabled={applyDisabled}
            title={blocks ? t('app.applyBlocked', { n: blocks }) : hold ? t(`app.applyHold.${hold}`) : undefined}
            onClick={() => store.set({ apply: { phase: 'confirm' } })}>{t('app.apply')}</button>
        </header>
        {store.preview && <div class="banner preview" role="note">{t('app.preview')}</div>}
        {!store.preview && blocks > 0 && <div class="banner warn">{t('app.applyBlocked', { n: blocks })}</div>}
        {(hold === 'failed' || hold === 'stale') && store.tab !== 'installed' && (
          <div class="banner warn">
            <span>{t(`app.applyHold.${hold}`)}</span>
            <button type="button" class="small" onClick={() => store.set({ tab: 'installed' })}>{t('config.show')}</button>
          </div>
        )}
        <Conflicts store={store} />
        {store.notice && (
          <div class={`banner ${store.notice.kind}`} role={store.notice.kind === 'error' ? 'alert' : 'status'}>
            <span>{store.notice.text}</span>
            <button type="button" class="icon" aria-label={t('app.dismiss')} onClick={() => store.set({ notice: undefined })}>×</button>
          </div>
        )}
        {store.view === 'gallery' && (gallery && gallery !== 'failed' ? <gallery.Gallery store={store} /> : (
          <main class="body gallery">
            {gallery === 'failed' ? <p class="banner error" role="alert">{t('gallery.viewFailed')}</p> : <p class="hint busy" role="status"><span class="spinner" aria-hidden="true" />{t('gallery.opening')}</p>}
          </main>
        ))}
        {store.view !== 'gallery' && <main class="body">
          <MappingList store={store} />
          <section class="work" aria-label={t('app.work')}>
            <Keyboard layout={rs.layout} marks={marks} simple={store.layerView ? undefined : store.simpleMarks} selected={selKeys} picking={!!store.picking} onKey={onKeyboard} lang={store.lang}
              layer={store.layerView} layers={shownMarks.layers} layerNames={layerNames} onLayer={onLayer} label={kbLabel} />
            <Tabs store={store} />
            <div class="tabpanel" id={`panel-${tab}`} ref={panel} role="tabpanel" aria-labelledby={`tab-${tab}`} tabIndex={0}>
              {tab === 'edit' && (selected ? (
                <MappingEditor key={selected.id} store={store} m={selected} problems={store.problemsOf(selected.id)} lang={store.lang} apps={store.apps}
                  inventoryState={store.inventoryState} picking={store.picking?.fieldId} rules={rs.rules} devices={store.devices} draft={store.draft} params={store.parameters} />
              ) : <p class="hint empty">{t('edit.none')}</p>)}
              {tab === 'recipes' && <Recipes store={store} />}
              {tab === 'try' && <Simulator store={store} />}
              {tab === 'json' && <JsonPreview store={store} />}
              {tab === 'installed' && <ConfigPanel store={store} />}
              {tab === 'backups' && <Backups store={store} />}
            </div>
          </section>
        </main>}
      </div>
      {suggest && <KeyNames />}
      <Variables names={store.variables} />
      {/* One dialog at a time: an apply's answer that comes while another is up waits behind it. */}
      {store.confirm ? <ConfirmDialog store={store} /> : store.importing ? <ImportDialog store={store} />
        : store.restoring.phase !== 'closed' ? <RestoreDialog store={store} /> : <ApplyDialog store={store} />}
    </div>
  );
}
