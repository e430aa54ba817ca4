// The public rule gallery, a view of its own, loaded the first time it opens: browse by group (a
// tree) or search (a list), a document's rules with the picture, what each runs and its forms
// (read-only), what they would do with the profile where they would go, Try it and Add; newer
// versions and documents from an address come through the native side.
import { useEffect, useLayoutEffect, useMemo, useRef, useState } from 'preact/hooks';
import { hasMessage, t } from '../i18n';
import { checkMapping } from '../model/check';
import { commandsOf, visibleText } from '../model/commands';
import type { Failure } from '../model/config';
import {
  fileOf, GalleryModel, matchInDocument, type CheckState, type GalleryDocument, type GalleryEntry,
} from '../model/galleryview';
import type { GalleryGroup } from '../model/gallery';
import { isObj, isStr } from '../model/json';
import { triggerKeys } from '../model/manipulator';
import { plainName } from '../model/rules';
import { describeManipulator, summarize } from '../model/summary';
import { ruleMarks, simRuleOf, trialFindings } from '../model/trial';
import type { Mapping, Rule } from '../model/types';
import type { Store } from '../store';
import { MappingEditor } from './Editor';
import { Keyboard } from './Keyboard';
import { CommandItems } from './RuleLine';
import { useId } from './fields';
import './gallery.css';

// One model per page: what was found and opened stays while the user goes back to the editor.
const models = new WeakMap<Store, GalleryModel>();
export function galleryModel(store: Store): GalleryModel {
  let m = models.get(store);
  if (!m) {
    const bridge = store.bridge;
    m = new GalleryModel({
      notify: () => store.emit(),
      fetchRule: bridge.fetches ? (url) => bridge.fetchRuleDocument(url) : undefined,
      fetchIndex: bridge.fetches ? (url) => bridge.fetchGalleryIndex(url) : undefined,
    });
    models.set(store, m);
  }
  return m;
}

const groupName = (g: GalleryGroup): string => (hasMessage(`gallery.group.${g.id}`) ? t(`gallery.group.${g.id}`) : g.name);
const docTitle = (title: string, path?: string): string => (title.trim() ? visibleText(title.trim()) : path ? fileOf(path) : t('gallery.untitled'));

/** A failure of the native fetch: what to do about it in the user's language, beside the app's text. */
export function FetchFailure({ failure }: { failure: Failure & { status?: number } }) {
  const code = failure.code && hasMessage(`gallery.fetch.${failure.code}`) ? failure.code : failure.error === 'preview' ? 'preview' : undefined;
  return (
    <div class="result failed fetchfailure" role="alert">
      {code && <p class="explain">{t(`gallery.fetch.${code}`, { status: failure.status ?? '' })}</p>}
      {failure.error && failure.error !== 'preview' && <pre class="error-text">{failure.error}</pre>}
    </div>
  );
}

// ---- browsing: the groups as a tree, search results as a list ----------------------------------------

type Item = { key: string; kind: 'group'; group: GalleryGroup } | { key: string; kind: 'doc'; path: string; parent?: string };

/** Moves focus among `items` with the arrow keys, Home and End; returns the handler and the key focused. */
function useRoving(items: Item[], box: { current: HTMLElement | null }) {
  const [focus, setFocus] = useState<string | undefined>(undefined);
  const moved = useRef(false);
  const current = items.some((i) => i.key === focus) ? focus : items[0]?.key;
  // Focus follows at once, so that keys pressed in a quick run each start from where the last one went.
  useLayoutEffect(() => {
    if (!moved.current) return;
    moved.current = false;
    (box.current?.querySelector(`[data-key="${CSS.escape(current ?? '')}"]`) as HTMLElement | null)?.focus();
  }, [current, focus]);
  const go = (key: string | undefined) => { if (key) { moved.current = true; setFocus(key); } };
  const step = (e: KeyboardEvent): boolean => {
    const i = items.findIndex((x) => x.key === current);
    if (e.key === 'ArrowDown') go(items[Math.min(items.length - 1, i + 1)]?.key);
    else if (e.key === 'ArrowUp') go(items[Math.max(0, i - 1)]?.key);
    else if (e.key === 'Home') go(items[0]?.key);
    else if (e.key === 'End') go(items[items.length - 1]?.key);
    else return false;
    e.preventDefault();
    return true;
  };
  return { current, go, step, setFocus };
}

function GroupTree({ model }: { model: GalleryModel }) {
  const groups = model.snapshot?.groups ?? [];
  const box = useRef<HTMLUListElement>(null);
  const items: Item[] = [];
  for (const g of groups) {
    items.push({ key: `g:${g.id}`, kind: 'group', group: g });
    if (model.expanded.has(g.id)) for (const path of g.documents) items.push({ key: `d:${g.id}:${path}`, kind: 'doc', path, parent: `g:${g.id}` });
  }
  const { current, go, step, setFocus } = useRoving(items, box);
  const shown = model.doc?.source.kind === 'snapshot' || model.doc?.source.kind === 'site' ? model.doc.source.path : undefined;
  const onKeyDown = (e: KeyboardEvent) => {
    if (step(e)) return;
    const item = items.find((x) => x.key === current);
    if (!item) return;
    if (e.key === 'ArrowRight') {
      if (item.kind === 'group') {
        if (!model.expanded.has(item.group.id)) model.toggleGroup(item.group.id, true);
        else go(items[items.indexOf(item) + 1]?.key);
      }
    } else if (e.key === 'ArrowLeft') {
      if (item.kind === 'group') model.toggleGroup(item.group.id, false);
      else go(item.parent);
    } else if (e.key === 'Enter' || e.key === ' ') {
      if (item.kind === 'group') model.toggleGroup(item.group.id);
      else model.open(item.path);
    } else return;
    e.preventDefault();
  };
  return (
    <ul ref={box} class="galtree" role="tree" aria-label={t('gallery.groups')} onKeyDown={onKeyDown}>
      {groups.map((g, gi) => {
        const open = model.expanded.has(g.id);
        const key = `g:${g.id}`;
        return (
          <li key={g.id} role="treeitem" aria-expanded={open} aria-level={1} aria-setsize={groups.length} aria-posinset={gi + 1}
            aria-label={t('gallery.groupItem', { name: groupName(g), n: g.documents.length })} data-key={key} tabIndex={current === key ? 0 : -1} onFocus={() => setFocus(key)}
            onClick={(e) => { if (e.target === e.currentTarget || (e.target as HTMLElement).parentElement === e.currentTarget) { setFocus(key); model.toggleGroup(g.id); } }}>
            <span class="twisty" aria-hidden="true">{open ? '▾' : '▸'}</span>
            <span class="gname">{groupName(g)}</span> <span class="num">{g.documents.length}</span>
            {open && (
              <ul role="group">
                {g.documents.map((path, di) => {
                  const e = model.entry(path);
                  const dkey = `d:${g.id}:${path}`;
                  return (
                    <li key={path} role="treeitem" aria-level={2} aria-setsize={g.documents.length} aria-posinset={di + 1} aria-selected={shown === path}
                      data-key={dkey} tabIndex={current === dkey ? 0 : -1} class={shown === path ? 'current' : ''} onFocus={() => setFocus(dkey)}
                      onClick={(ev) => { ev.stopPropagation(); setFocus(dkey); model.open(path); }}>
                      {docTitle(e?.title ?? '', path)}
                    </li>
                  );
                })}
              </ul>
            )}
          </li>
        );
      })}
    </ul>
  );
}

const SHOWN_RESULTS = 100;

function Results({ model, list }: { model: GalleryModel; list: GalleryEntry[] }) {
  const box = useRef<HTMLUListElement>(null);
  const shownList = list.slice(0, SHOWN_RESULTS);
  const items: Item[] = shownList.map((e) => ({ key: `r:${e.path}`, kind: 'doc', path: e.path }));
  const { current, step, setFocus } = useRoving(items, box);
  const shown = model.doc && model.doc.source.kind !== 'url' ? model.doc.source.path : undefined;
  const groups = new Map((model.snapshot?.groups ?? []).map((g) => [g.id, g]));
  const onKeyDown = (e: KeyboardEvent) => {
    if (step(e)) return;
    if (e.key !== 'Enter' && e.key !== ' ') return;
    const item = items.find((x) => x.key === current);
    if (item?.kind === 'doc') model.open(item.path);
    e.preventDefault();
  };
  if (!list.length) return <p class="hint empty">{t('gallery.noMatch')}</p>;
  return (
    <>
      <ul ref={box} class="galresults" role="listbox" aria-label={t('gallery.results', { n: list.length })} onKeyDown={onKeyDown}>
        {shownList.map((e) => {
          const key = `r:${e.path}`;
          const g = groups.get(e.groups[0] ?? '');
          return (
            <li key={e.path} role="option" aria-selected={shown === e.path} data-key={key} tabIndex={current === key ? 0 : -1} class={shown === e.path ? 'current' : ''} onFocus={() => setFocus(key)}
              onClick={() => { setFocus(key); model.open(e.path); }}>
              <span class="title">{docTitle(e.title, e.path)}</span>
              <span class="hint">{[g ? groupName(g) : '', t('gallery.counts', { r: e.rules, n: e.manipulators })].filter(Boolean).join(' · ')}</span>
            </li>
          );
        })}
      </ul>
      {list.length > SHOWN_RESULTS && <p class="hint">{t('gallery.more', { n: list.length - SHOWN_RESULTS })}</p>}
    </>
  );
}

function Browser({ model }: { model: GalleryModel }) {
  const searchId = useId('galsearch');
  const results = model.phase === 'ready' && model.query.trim() ? model.results : undefined;
  const onSearchKey = (e: KeyboardEvent) => {
    if (e.key !== 'ArrowDown') return;
    const first = (e.currentTarget as HTMLElement).closest('.gallist')?.querySelector('[role=option], [role=treeitem]') as HTMLElement | null;
    if (first) { e.preventDefault(); first.focus(); }
  };
  return (
    <section class="gallist list" aria-labelledby="gallery-heading">
      <h2 id="gallery-heading" class="visually-hidden">{t('gallery.heading')}</h2>
      <div class="listhead">
        <label class="visually-hidden" for={searchId}>{t('gallery.search')}</label>
        <input id={searchId} type="search" value={model.query} placeholder={t('gallery.search')} onKeyDown={onSearchKey}
          onInput={(e) => model.setQuery((e.currentTarget as HTMLInputElement).value)} />
      </div>
      {model.phase === 'ready' && !!model.snapshot?.searchSuggestions.length && (
        <details class="options suggestions">
          <summary>{t('gallery.suggestions')}</summary>
          <div class="chips">
            {model.snapshot.searchSuggestions.map((s) => <button key={s} type="button" class="chip" onClick={() => model.setQuery(s)}>{s}</button>)}
          </div>
        </details>
      )}
      <div class="scroller">
        {model.phase === 'loading' && <p class="hint busy" role="status"><span class="spinner" aria-hidden="true" />{t('gallery.loading', { n: model.progress })}</p>}
        {model.phase === 'failed' && (
          <div class="result failed" role="alert">
            <p>{t('gallery.loadFailed')}</p>
            <pre class="error-text">{model.error}</pre>
            <button type="button" class="small" onClick={() => void model.load()}>{t('gallery.retry')}</button>
          </div>
        )}
        {model.phase === 'ready' && (results ? <Results model={model} list={results} /> : <GroupTree model={model} />)}
      </div>
      {model.phase === 'ready' && <p class="hint count">{results ? t('gallery.found', { n: results.length }) : t('gallery.total', { n: model.entries.length })}</p>}
    </section>
  );
}

// ---- the network: newer versions, a document from an address ------------------------------------------

function UrlForm({ model, onDone }: { model: GalleryModel; onDone: () => void }) {
  const [text, setText] = useState('');
  const id = useId('galurl');
  const busy = model.url.phase === 'busy';
  return (
    <form class="fromurl" onSubmit={(e) => { e.preventDefault(); void model.importUrl(text).then((ok) => { if (ok) onDone(); }); }}>
      <label class="fieldlabel" for={id}>{t('gallery.urlLabel')}</label>
      <div class="row">
        <input id={id} class="grow mono" value={text} spellcheck={false} placeholder="https://… · karabiner://karabiner/assets/complex_modifications/import?url=…"
          onInput={(e) => setText((e.currentTarget as HTMLInputElement).value)} />
        <button type="submit" class="primary small" disabled={busy || !text.trim()}>{busy ? t('gallery.fetching') : t('gallery.fetch')}</button>
      </div>
      <p class="hint">{t('gallery.urlHint')}</p>
      {model.url.phase === 'failed' && <FetchFailure failure={model.url.failure} />}
    </form>
  );
}

function checkText(c: CheckState): string {
  if (c.phase === 'checking') return t('gallery.checking');
  if (c.phase === 'same') return t('gallery.upToDate');
  if (c.phase === 'newer') return t('gallery.newer', { added: c.diff.added.length, changed: c.diff.changed.length, removed: c.diff.removed.length });
  return t('gallery.checkFailed');
}

/** What "Check for newer rules" found, document by document. */
function CheckList({ model }: { model: GalleryModel }) {
  const paths = model.checked;
  if (!paths) return null;
  return (
    <section class="checks" aria-labelledby="checks-heading" aria-live="polite">
      <h3 id="checks-heading">{t('gallery.checksHeading', { n: paths.length })}</h3>
      {!paths.length && <p class="hint">{t('gallery.checksNone')}</p>}
      <ul>
        {paths.map((p) => {
          const c = model.checks.get(p);
          return (
            <li key={p} class={`check-${c?.phase ?? 'checking'}`}>
              <button type="button" class="link" onClick={() => model.open(p, c?.phase === 'newer')}>{docTitle(model.entry(p)?.title ?? '', p)}</button>
              {' — '}{c ? checkText(c) : t('gallery.checking')}
              {c?.phase === 'failed' && <FetchFailure failure={c.failure} />}
            </li>
          );
        })}
      </ul>
      <NewDocuments model={model} />
    </section>
  );
}

/** Documents the gallery's site lists that the snapshot has not: each can be fetched and opened. */
function NewDocuments({ model }: { model: GalleryModel }) {
  const index = model.index;
  if (!index) return null;
  if (index.phase === 'checking') return <p class="hint">{t('gallery.indexChecking')}</p>;
  if (index.phase === 'failed') return <><p class="hint">{t('gallery.indexFailed')}</p><FetchFailure failure={index.failure} /></>;
  if (!index.added.length) return <p class="hint">{t('gallery.indexSame')}</p>;
  return (
    <>
      <h4 id="galnew">{t('gallery.indexNew', { n: index.added.length })}</h4>
      <ul aria-labelledby="galnew" class="galnew">
        {index.added.map(({ path, groups }) => {
          const f = model.fetchingNew.get(path);
          return (
            <li key={path}>
              <button type="button" class="link" disabled={f?.phase === 'busy'} onClick={() => void model.openNew(path)}>{fileOf(path)}</button>
              {groups.length > 0 && <span class="hint"> · {groups.map((g) => groupName({ ...g, example: false, documents: [] })).join(', ')}</span>}
              {f?.phase === 'busy' && <span class="hint"> {t('gallery.fetching')}</span>}
              {f?.phase === 'failed' && <FetchFailure failure={f.failure} />}
            </li>
          );
        })}
      </ul>
    </>
  );
}

function sourceText(doc: GalleryDocument, model: GalleryModel): string {
  const s = doc.source;
  const when = (at: number) => new Date(at).toLocaleString();
  if (s.kind === 'snapshot') return t('gallery.fromSnapshot', { date: (model.snapshot?.committed ?? '').slice(0, 10), commit: (model.snapshot?.commit ?? '').slice(0, 8) });
  if (s.kind === 'site') return t('gallery.fromSite', { url: s.url, when: when(s.at) });
  return t('gallery.fromUrl', { url: s.url, when: when(s.at) });
}

/** "Check for a newer version" of the document shown, and what came of it. */
function CheckLine({ model, doc }: { model: GalleryModel; doc: GalleryDocument }) {
  if (doc.source.kind === 'url' || model.snapshot?.documents[doc.source.path] === undefined) return null;
  const path = doc.source.path;
  const c = model.checks.get(path);
  return (
    <div class="checkline" aria-live="polite">
      <div class="row wrap">
        <button type="button" class="small" disabled={!model.canFetch || c?.phase === 'checking'} onClick={() => void model.checkNewer(path)}>{t('gallery.checkOne')}</button>
        {c && <span class={`hint check-${c.phase}`}>{checkText(c)}</span>}
        {c?.phase === 'newer' && (doc.source.kind === 'site'
          ? <button type="button" class="link" onClick={() => model.open(path)}>{t('gallery.showSnapshot')}</button>
          : <button type="button" class="link" onClick={() => model.open(path, true)}>{t('gallery.showNewer')}</button>)}
      </div>
      {c?.phase === 'newer' && (
        <ul class="hint versiondiff">
          {c.diff.added.map((n, i) => <li key={`a${i}`}>{t('gallery.diffAdded', { name: visibleText(n) })}</li>)}
          {c.diff.changed.map((n, i) => <li key={`c${i}`}>{t('gallery.diffChanged', { name: visibleText(n) })}</li>)}
          {c.diff.removed.map((n, i) => <li key={`r${i}`}>{t('gallery.diffRemoved', { name: visibleText(n) })}</li>)}
        </ul>
      )}
      {c?.phase === 'failed' && <FetchFailure failure={c.failure} />}
    </div>
  );
}

// ---- a document -----------------------------------------------------------------------------------

const SHOWN_MAPPINGS = 40;

/** A never-fire finding about a gallery rule tried where it would go: it never fires, or it keeps one of the profile's from firing. */
interface Finding { never: boolean; text: string; what: string }
const SHOWN_FINDINGS = 20;

function GalleryRule({ store, model, doc, i, rule, findings, open, setOpen }: {
  store: Store; model: GalleryModel; doc: GalleryDocument; i: number; rule: Rule; findings: Finding[]; open: string | undefined; setOpen: (id: string | undefined) => void;
}) {
  const [all, setAll] = useState(false);
  const raw = doc.raw[i];
  const name = rule.name ? visibleText(rule.name) : t('config.noDescription');
  const chosen = model.chosen.has(i);
  const match = useMemo(() => matchInDocument(store.ruleSet.rules, raw), [store.ruleSet.rules, raw]);
  const count = rule.mappings.reduce((n, m) => n + m.manipulators.length, 0);
  const shown = all ? rule.mappings : rule.mappings.slice(0, SHOWN_MAPPINGS);
  const notes = Array.isArray(raw.description_notes) ? raw.description_notes.filter(isStr) : [];
  const headId = useId('galrule');
  return (
    <li class={`galrule${chosen ? ' chosen' : ''}`} data-rule={i} aria-labelledby={headId}>
      <div class="row galrulehead">
        <input type="checkbox" checked={chosen} aria-label={t('gallery.choose', { name })} title={t('gallery.choose', { name })}
          onChange={(e) => model.choose(i, (e.currentTarget as HTMLInputElement).checked)} />
        <h3 id={headId} class="grow">{name}</h3>
        <button type="button" class="small" onClick={() => store.tryRules(doc.title, [raw], model.at(store.ruleSet.rules.length))}>{t('gallery.tryOne')}</button>
      </div>
      <p class="hint galrulemeta">
        {t('config.manipulators', { n: count })}
        {!rule.enabled && <span class="badge off">{t('config.off')}</span>}
        {match && <span class={`badge ${match.same ? 'on' : 'warnbadge'}`}>{t(match.same ? (match.added ? 'gallery.inDocumentNew' : 'gallery.inProfile') : 'gallery.otherVersion', { n: match.index + 1 })}</span>}
      </p>
      {notes.map((n, k) => <p key={k} class="hint">{visibleText(n)}</p>)}
      {chosen && findings.length > 0 && (
        <details class="galfindings" open={findings.length <= 3}>
          <summary>{t('gallery.findings', { never: findings.filter((f) => f.never).length, keeps: findings.filter((f) => !f.never).length })}</summary>
          <ul>
            {findings.slice(0, SHOWN_FINDINGS).map((f, k) => <li key={k}>{f.text}<div class="hint">{f.what}</div></li>)}
            {findings.length > SHOWN_FINDINGS && <li class="hint">{t('gallery.moreFindings', { n: findings.length - SHOWN_FINDINGS })}</li>}
          </ul>
        </details>
      )}
      <ul class="galmappings">
        {shown.map((m, k) => <GalleryMapping key={m.id} store={store} m={m} n={k + 1} open={open === m.id} toggle={() => setOpen(open === m.id ? undefined : m.id)} />)}
      </ul>
      {!all && rule.mappings.length > SHOWN_MAPPINGS && (
        <button type="button" class="link" onClick={() => setAll(true)}>{t('gallery.showAll', { n: rule.mappings.length })}</button>
      )}
    </li>
  );
}

function GalleryMapping({ store, m, n, open, toggle }: { store: Store; m: Mapping; n: number; open: boolean; toggle: () => void }) {
  const text = summarize(m);
  const cmds = useMemo(() => m.manipulators.flatMap((man) => commandsOf(man, store.appPath)), [m, store.apps]);
  const problems = useMemo(() => (open ? checkMapping(m) : []), [m, open]);
  return (
    <li class={`galmapping${open ? ' selected' : ''}`} data-id={m.id}>
      <button type="button" class="summary" aria-expanded={open} onClick={toggle} title={text}>
        <span class="num">{n}</span><span class="text">{visibleText(text)}</span>
        {m.form === 'raw' && <span class="badge">{t('list.json')}</span>}
      </button>
      {cmds.length > 0 && <CommandItems list={cmds} label={t('commands.heading')} />}
      {open && (
        // Read-only: every field is shown and none takes input; nothing here edits the document.
        <fieldset class="readonly" disabled aria-label={t('gallery.formOf', { name: text })}>
          <MappingEditor store={store} m={m} problems={problems} lang={store.lang} apps={store.apps} inventoryState={store.inventoryState}
            picking={undefined} rules={undefined} devices={store.devices} draft={undefined} params={store.parameters} />
        </fieldset>
      )}
    </li>
  );
}

function DocumentView({ store, model, doc }: { store: Store; model: GalleryModel; doc: GalleryDocument }) {
  const [layer, setLayer] = useState('');
  const [open, setOpen] = useState<string | undefined>(undefined);
  const [added, setAdded] = useState<{ n: number; at: number } | undefined>(undefined);
  const posId = useId('galpos');
  const listRef = useRef<HTMLOListElement>(null);
  useEffect(() => { setLayer(''); setOpen(undefined); setAdded(undefined); }, [doc]);
  const chosenRules = useMemo(() => doc.rules.filter((_, i) => model.chosen.has(i)), [doc, model.chosen]);
  const { marks, layers } = useMemo(() => ruleMarks(chosenRules.length ? chosenRules : doc.rules, layer), [doc, chosenRules, layer]);
  const layerNames = useMemo(() => layers.map((l) => store.layerName(l)), [layers, store.lang]);
  const openMapping = doc.rules.flatMap((r) => r.mappings).find((m) => m.id === open);
  const selKeys = openMapping ? [...new Set(openMapping.manipulators.filter(isObj).flatMap(triggerKeys))].join(' ') : '';
  const rules = store.ruleSet.rules;
  const at = model.at(store.ruleSet.rules.length);
  // What the chosen rules would do with the profile at that place: never-fire findings both ways.
  const findings = useMemo(() => {
    const chosenIdx = doc.rules.map((_, i) => i).filter((i) => model.chosen.has(i));
    const tried = chosenIdx.map((i) => simRuleOf(doc.rules[i], true));
    const found = trialFindings(store.simRules, tried, at, store.simProfile);
    const from = Math.min(at, store.simRules.length);
    const out = new Map<number, Finding[]>();
    const push = (rule: number, f: Finding) => out.set(rule, [...(out.get(rule) ?? []), f]);
    for (const s of found.shadowed) {
      push(chosenIdx[s.rule - from], {
        never: true, text: t('gallery.neverFires', { n: new Set(found.rules[s.rule].mappingIds?.slice(0, s.manipulator + 1)).size, why: t(`sim.why.${s.why}`, { by: store.winners(s, found.rules) }) }),
        what: describeManipulator(found.rules[s.rule].manipulators[s.manipulator]),
      });
    }
    for (const s of found.shadows) {
      const w = s.by.find((x): x is { rule: number; manipulator: number } => 'rule' in x && x.rule >= from && x.rule < from + tried.length);
      if (!w) continue;
      push(chosenIdx[w.rule - from], {
        never: false, text: t('gallery.takesFrom', { place: store.placeName(s.rule, s.manipulator, found.rules) }),
        what: describeManipulator(found.rules[s.rule].manipulators[s.manipulator]),
      });
    }
    return out;
  }, [doc, model.chosen, at, store.simRules, store.simProfile, store.lang]);
  const onKey = (key: string) => {
    const m = chosenRules.concat(doc.rules).flatMap((r) => r.mappings).find((x) => x.manipulators.some((man) => isObj(man) && triggerKeys(man).includes(key)));
    if (!m) return;
    setOpen(m.id);
    requestAnimationFrame(() => (listRef.current?.querySelector(`li[data-id="${m.id}"] .summary`) as HTMLElement | null)?.focus());
  };
  const n = model.chosen.size;
  const title = docTitle(doc.title, doc.source.kind === 'url' ? undefined : doc.source.path);
  return (
    <article class="galdocument" aria-labelledby="galdoc-title">
      <h2 id="galdoc-title">{title}</h2>
      <p class="hint">
        {doc.source.kind !== 'url' && <>{(model.entry(doc.source.path)?.groups ?? []).map((g) => model.snapshot?.groups.find((x) => x.id === g)).filter((g): g is GalleryGroup => !!g).map(groupName).join(', ')} · {fileOf(doc.source.path)} · </>}
        {t('gallery.counts', { r: doc.rules.length, n: doc.rules.reduce((k, r) => k + r.mappings.reduce((j, m) => j + m.manipulators.length, 0), 0) })}
      </p>
      <p class="hint source">{sourceText(doc, model)}</p>
      <CheckLine model={model} doc={doc} />
      <Keyboard layout={store.ruleSet.layout} marks={marks} selected={selKeys} picking={false} onKey={onKey} lang={store.lang}
        layer={layer} layers={layers} layerNames={layerNames} onLayer={setLayer} label={t('gallery.kbHint')} />
      <div class="addbar row wrap">
        <label class="fieldlabel" for={posId}>{t('gallery.position')}</label>
        <select id={posId} value={String(at)} onChange={(e) => model.setAt(Number((e.currentTarget as HTMLSelectElement).value), store.ruleSet.rules.length)}>
          {rules.length > 0 && <option value="0">{t('gallery.atStart')}</option>}
          {rules.map((r, k) => (k + 1 < rules.length ? <option key={r.id} value={String(k + 1)}>{t('gallery.after', { place: k + 2, n: k + 1, name: visibleText(plainName(r.name)) || t('list.unnamed', { n: k + 1 }) })}</option> : null))}
          <option value={String(rules.length)}>{rules.length ? t('gallery.atEnd', { n: rules.length + 1 }) : t('gallery.first')}</option>
        </select>
        <button type="button" class="small" disabled={!n} onClick={() => store.tryRules(doc.title, model.chosenRules, at)}>{t('gallery.tryChosen', { n })}</button>
        <button type="button" class="primary small" disabled={!n} onClick={() => {
          const list = model.chosenRules;
          store.addRules(list, at);
          setAdded({ n: list.length, at });
          store.set({ notice: { kind: 'info', text: t('gallery.added', { n: list.length, at: at + 1 }) } });
        }}>{t('gallery.add', { n })}</button>
      </div>
      {added && (
        <p class="hint addedline" role="status">
          {t('gallery.addedHere', { n: added.n, at: added.at + 1 })}{' '}
          <button type="button" class="link" onClick={() => store.set({ view: 'editor', tab: 'edit' })}>{t('gallery.showInEditor')}</button>
        </p>
      )}
      <p class="hint">{t('gallery.chooseHint')}</p>
      <ol ref={listRef} class="galrules">
        {doc.rules.map((r, i) => (
          <GalleryRule key={r.id} store={store} model={model} doc={doc} i={i} rule={r} findings={findings.get(i) ?? []} open={open} setOpen={setOpen} />
        ))}
      </ol>
    </article>
  );
}

function Intro({ store, model }: { store: Store; model: GalleryModel }) {
  const sources = useMemo(() => (model.phase === 'ready' ? model.sourcesOf(store.ruleSet.rules.map((r) => r.name)) : []), [model.phase, store.ruleSet.rules]);
  const s = model.snapshot;
  return (
    <div class="galintro">
      <h2>{t('gallery.heading')}</h2>
      <p>{t('gallery.intro', { n: model.entries.length || 843 })}</p>
      {s && <p class="hint">{t('gallery.snapshot', { date: s.committed.slice(0, 10), commit: s.commit.slice(0, 8) })}</p>}
      {sources.length > 0 && (
        <>
          <h3 id="galsources">{t('gallery.sources', { n: sources.length })}</h3>
          <ul aria-labelledby="galsources">
            {sources.map((p) => <li key={p}><button type="button" class="link" onClick={() => model.open(p)}>{docTitle(model.entry(p)?.title ?? '', p)}</button></li>)}
          </ul>
        </>
      )}
    </div>
  );
}

export function Gallery({ store }: { store: Store }) {
  const model = galleryModel(store);
  const [urlOpen, setUrlOpen] = useState(false);
  const pane = useRef<HTMLElement>(null);
  useEffect(() => { void model.load(); }, [model]);
  // Another document starts at its top.
  useEffect(() => { if (pane.current) pane.current.scrollTop = 0; }, [model.doc]);
  const doc = model.doc;
  return (
    <main class="body gallery">
      <Browser model={model} />
      <section ref={pane} class="galdoc" aria-label={t('gallery.document')}>
        <div class="galtools row wrap">
          <button type="button" class="small" onClick={() => store.showView('editor')}>{t('gallery.toEditor')}</button>
          <button type="button" class="small" disabled={!model.canFetch || model.phase !== 'ready'} onClick={() => void model.checkAll(store.ruleSet.rules.map((r) => r.name))}>
            {t('gallery.checkAll')}
          </button>
          <button type="button" class="small" aria-expanded={urlOpen} disabled={!model.canFetch} onClick={() => setUrlOpen(!urlOpen)}>{t('gallery.fromUrlButton')}</button>
          {doc && <button type="button" class="small" onClick={() => model.close()}>{t('gallery.closeDoc')}</button>}
          {!model.canFetch && <span class="hint">{t('gallery.noFetch')}</span>}
        </div>
        {urlOpen && <UrlForm model={model} onDone={() => setUrlOpen(false)} />}
        <CheckList model={model} />
        {doc ? <DocumentView store={store} model={model} doc={doc} /> : <Intro store={store} model={model} />}
      </section>
    </main>
  );
}
