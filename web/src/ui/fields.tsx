import { useEffect, useMemo, useRef, useState } from 'preact/hooks';
import { t } from '../i18n';
import { appRef, filterApps, findEntry, type AppEntry } from '../model/apps';
import { GENERIC_MODIFIERS, HYPER, keyLabel, MEDIA_KEYS, modifierSymbols } from '../model/keys';
import type { Action, ActionType, AppRef } from '../model/types';
import type { Problem } from '../model/validate';
import type { Store } from '../store';

let uid = 0;
export const useId = (prefix: string): string => useMemo(() => `${prefix}-${++uid}`, []);

export function Problems({ problems, field }: { problems: Problem[]; field: string }) {
  const mine = problems.filter((p) => p.field === field || p.field.startsWith(`${field}.`));
  if (!mine.length) return null;
  return (
    <ul class="problems" role="alert">
      {mine.map((p, i) => <li key={i} class={p.severity}>{t(p.code, p.params)}</li>)}
    </ul>
  );
}

/** A key name with suggestions, a friendly label, and "press the key". */
export function KeyField({ store, value, onChange, label, compact }: {
  store: Store; value: string; onChange: (key: string, typing?: boolean) => void; label: string; compact?: boolean;
}) {
  const id = useId('key');
  const listening = store.picking?.fieldId === id;
  useEffect(() => () => { if (store.picking?.fieldId === id) store.set({ picking: undefined }); }, []);
  const toggle = () => store.set({
    picking: listening ? undefined : { fieldId: id, done: (k) => { store.set({ picking: undefined }); onChange(k); } },
  });
  return (
    <span class={`keyfield${compact ? ' compact' : ''}`}>
      <input
        id={id} class="mono" list="tarvel-keys" value={value} aria-label={label} placeholder={t('edit.keyName')}
        style={{ width: `calc(${Math.min(22, Math.max(8, value.length + 2))}ch + 16px)` }}
        spellcheck={false} autocomplete="off" autocapitalize="off"
        onInput={(e) => onChange((e.currentTarget as HTMLInputElement).value.trim(), true)}
      />
      {value && keyLabel(value) !== value && <span class="keycap">{keyLabel(value)}</span>}
      <button type="button" class={`small${listening ? ' listening' : ''}`} aria-pressed={listening} onClick={toggle}
        title={t('edit.pressKey')} aria-label={`${label}: ${t('edit.pressKey')}`}>
        {listening ? t('edit.listening') : compact ? '⌨' : `⌨ ${t('edit.pressKey')}`}
      </button>
    </span>
  );
}

export function ModsPicker({ value, onChange, label }: { value: string[]; onChange: (v: string[]) => void; label: string }) {
  const names = [...GENERIC_MODIFIERS, 'fn', ...value.filter((m) => !(GENERIC_MODIFIERS as readonly string[]).includes(m) && m !== 'fn')];
  const hyper = HYPER.every((m) => value.includes(m));
  const toggle = (m: string) => onChange(value.includes(m) ? value.filter((x) => x !== m) : [...value, m]);
  return (
    <span class="mods" role="group" aria-label={label}>
      {names.map((m) => (
        <button type="button" key={m} class="chip" aria-pressed={value.includes(m)} onClick={() => toggle(m)} title={m}>
          {m === 'fn' ? 'fn' : <>{modifierSymbols([m])} <span class="chipname">{m.replace(/_/g, ' ')}</span></>}
        </button>
      ))}
      <button type="button" class="chip" aria-pressed={hyper}
        onClick={() => onChange(hyper ? value.filter((m) => !HYPER.includes(m)) : [...new Set([...value, ...HYPER])])}>
        {t('edit.hyper')}
      </button>
    </span>
  );
}

export function AppIcon({ icon, name }: { icon?: string; name: string }) {
  if (icon) return <img class="appicon" src={icon} alt="" width={20} height={20} />;
  return <span class="appicon placeholder" aria-hidden="true">{(name || '?').slice(0, 1).toUpperCase()}</span>;
}

const LIMIT = 60;

/** Search and pick one application from the inventory. */
export function AppList({ store, onPick, autoFocus }: { store: Store; onPick: (a: AppEntry) => void; autoFocus?: boolean }) {
  const [q, setQ] = useState('');
  const ref = useRef<HTMLInputElement>(null);
  useEffect(() => { if (autoFocus) ref.current?.focus(); }, []);
  if (store.inventoryState === 'loading') return <p class="hint">{t('apps.loading')}</p>;
  if (store.inventoryState === 'unavailable') return <p class="hint">{t('apps.unavailable')}</p>;
  const found = filterApps(store.apps, q);
  return (
    <div class="applist">
      <div class="row">
        <input ref={ref} type="search" value={q} placeholder={t('apps.search')} aria-label={t('apps.search')}
          onInput={(e) => setQ((e.currentTarget as HTMLInputElement).value)} />
        <button type="button" class="small" onClick={() => void store.loadInventory()}>{t('apps.refresh')}</button>
      </div>
      <ul role="listbox" aria-label={t('apps.search')}>
        {found.slice(0, LIMIT).map((a) => (
          <li key={a.key}>
            <button type="button" class="appitem" onClick={() => onPick(a)} title={a.bundleId ?? a.path ?? a.name}>
              <AppIcon icon={a.icon} name={a.name} />
              <span class="appname">{a.name}</span>
              {a.running && <span class="badge">{t('apps.running')}</span>}
            </button>
          </li>
        ))}
      </ul>
      {!found.length && <p class="hint">{t('apps.none')}</p>}
      {found.length > LIMIT && <p class="hint">{t('apps.more', { n: found.length - LIMIT })}</p>}
    </div>
  );
}

export function AppChip({ store, app, onRemove }: { store: Store; app: AppRef; onRemove?: () => void }) {
  const entry = findEntry(store.apps, app);
  const name = entry?.name ?? app.name;
  return (
    <span class="appchip" title={app.bundleId ?? app.path ?? name}>
      <AppIcon icon={entry?.icon} name={name} />
      <span>{name}</span>
      {onRemove && <button type="button" class="icon" aria-label={t('apps.remove', { name })} onClick={onRemove}>×</button>}
    </span>
  );
}

export function AppPicker({ store, value, onChange }: { store: Store; value: AppRef | null; onChange: (a: AppRef) => void }) {
  const [open, setOpen] = useState(!value);
  return (
    <div class="apppicker">
      {value && (
        <div class="row">
          <AppChip store={store} app={value} />
          <button type="button" class="small" onClick={() => setOpen(!open)} aria-expanded={open}>{t('action.change')}</button>
        </div>
      )}
      {open && <AppList store={store} onPick={(a) => { onChange(appRef(a)); setOpen(false); }} autoFocus={!!value} />}
    </div>
  );
}

const ACTION_TYPES: ActionType[] = ['keys', 'app', 'shortcut', 'input', 'media', 'none', 'shell'];
export function defaultAction(type: ActionType): Action {
  switch (type) {
    case 'keys': return { type, strokes: [{ key: '', modifiers: [] }] };
    case 'app': return { type, app: null };
    case 'shortcut': return { type, name: '' };
    case 'input': return { type, source: 'eisuu' };
    case 'media': return { type, key: 'play_or_pause' };
    case 'none': return { type };
    case 'shell': return { type, command: '' };
  }
}

export function ActionEditor({ store, value, onChange, label, field, problems }: {
  store: Store; value: Action; onChange: (a: Action, typing?: string) => void; label: string; field: string; problems: Problem[];
}) {
  const id = useId('action');
  const shortcutsId = useId('shortcuts');
  return (
    <fieldset class="action">
      <legend>{label}</legend>
      <select id={id} aria-label={label} value={value.type}
        onChange={(e) => onChange(defaultAction((e.currentTarget as HTMLSelectElement).value as ActionType))}>
        {ACTION_TYPES.map((a) => <option key={a} value={a}>{t(`action.${a}`)}</option>)}
      </select>
      {value.type === 'keys' && (
        <div class="strokes">
          {value.strokes.map((s, i) => (
            <div class="stroke" key={i}>
              <KeyField store={store} value={s.key} label={`${label} ${i + 1}`} compact
                onChange={(k, typing) => onChange({ ...value, strokes: value.strokes.map((x, j) => (j === i ? { ...x, key: k } : x)) }, typing ? `${field}.${i}` : undefined)} />
              <ModsPicker value={s.modifiers} label={t('action.modsOfStroke')}
                onChange={(mods) => onChange({ ...value, strokes: value.strokes.map((x, j) => (j === i ? { ...x, modifiers: mods } : x)) })} />
              {value.strokes.length > 1 && (
                <button type="button" class="small" onClick={() => onChange({ ...value, strokes: value.strokes.filter((_, j) => j !== i) })}>
                  {t('action.removeStroke')}
                </button>
              )}
            </div>
          ))}
          <button type="button" class="link" onClick={() => onChange({ ...value, strokes: [...value.strokes, { key: '', modifiers: [] }] })}>
            {t('action.addStroke')}
          </button>
        </div>
      )}
      {value.type === 'app' && (
        <>
          <AppPicker store={store} value={value.app} onChange={(app) => onChange({ type: 'app', app })} />
          <p class="hint">{t(store.inventory?.helperPath || store.preview ? 'action.viaHelper' : 'action.viaOpen')}</p>
        </>
      )}
      {value.type === 'shortcut' && (
        <>
          <input list={shortcutsId} value={value.name} aria-label={t('action.shortcutName')} placeholder={t('action.shortcutName')}
            onInput={(e) => onChange({ type: 'shortcut', name: (e.currentTarget as HTMLInputElement).value }, field)} />
          <datalist id={shortcutsId}>{(store.inventory?.shortcuts ?? []).map((s) => <option key={s} value={s} />)}</datalist>
          {store.inventory && !store.inventory.shortcuts.length && <p class="hint">{t('action.noShortcuts')}</p>}
        </>
      )}
      {value.type === 'input' && (
        <span class="seg" role="radiogroup" aria-label={t('action.input')}>
          {(['eisuu', 'kana'] as const).map((s) => (
            <label key={s}><input type="radio" name={id} checked={value.source === s} onChange={() => onChange({ type: 'input', source: s })} />{t(`input.${s}`)}</label>
          ))}
        </span>
      )}
      {value.type === 'media' && (
        <select aria-label={t('action.media')} value={value.key} onChange={(e) => onChange({ type: 'media', key: (e.currentTarget as HTMLSelectElement).value })}>
          {MEDIA_KEYS.map((k) => <option key={k} value={k}>{keyLabel(k)}</option>)}
        </select>
      )}
      {value.type === 'shell' && (
        <textarea class="mono" rows={2} value={value.command} aria-label={t('action.command')} placeholder={t('action.command')}
          spellcheck={false} onInput={(e) => onChange({ type: 'shell', command: (e.currentTarget as HTMLTextAreaElement).value }, field)} />
      )}
      <Problems problems={problems} field={field} />
    </fieldset>
  );
}
