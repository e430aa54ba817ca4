import { useEffect, useState } from 'preact/hooks';
import { t } from '../i18n';
import { appRef, sameApp } from '../model/apps';
import { compileMapping } from '../model/compile';
import { decompile } from '../model/decompile';
import type { Action, JsonObject, Mapping, MappingKind, Trigger } from '../model/types';
import { emptyTrigger, newId } from '../model/types';
import { layerNames, type Problem } from '../model/validate';
import type { Store } from '../store';
import { ActionEditor, AppChip, AppList, KeyField, ModsPicker, Problems, useId } from './fields';

const KINDS: MappingKind[] = ['remap', 'tapHold', 'layerKey', 'raw'];
const keysAction = (key: string): Action => ({ type: 'keys', strokes: [{ key, modifiers: [] }] });

/** Another kind for the same mapping, keeping what carries over. */
export function convertMapping(m: Mapping, kind: MappingKind, store: Store): Mapping {
  if (m.kind === kind) return m;
  const { id, enabled, label, layer, apps } = m;
  const common = { id, enabled, label, layer, apps };
  if (kind === 'raw') {
    const man = m.kind === 'raw' ? m.manipulator : compileMapping(m, store.context)[0];
    return { ...common, kind: 'raw', manipulator: man as JsonObject };
  }
  let trigger: Trigger = emptyTrigger();
  let first: Action = keysAction('');
  if (m.kind === 'raw') {
    const d = decompile(m.manipulator);
    if (d.kind === kind) return { ...d, ...common, layer: d.layer, apps: d.apps };
    if (d.kind !== 'raw') trigger = d.trigger;
  } else {
    trigger = m.trigger;
    first = m.kind === 'remap' ? m.action : m.tap;
  }
  switch (kind) {
    case 'remap': return { ...common, kind, trigger, action: first };
    case 'tapHold': return { ...common, kind, trigger, tap: first, hold: keysAction('left_control'), holdMode: 'immediate', lazy: false };
    default: {
      const taken = layerNames(store.ruleSet);
      let n = 1;
      while (taken.has(`layer${n}`)) n++;
      return { ...common, kind: 'layerKey', trigger, name: `layer${n}`, mode: 'hold', tap: { type: 'none' } };
    }
  }
}

function TriggerEditor({ store, m, problems }: { store: Store; m: Exclude<Mapping, { kind: 'raw' }>; problems: Problem[] }) {
  const tr = m.trigger;
  const set = (trigger: Trigger, typing?: string) => store.updateMapping(m.id, (x) => ({ ...x, trigger } as Mapping), typing);
  const anyId = useId('any');
  return (
    <fieldset class="trigger">
      <legend>{t('edit.trigger')}</legend>
      {tr.keys.map((k, i) => (
        <div class="row" key={i}>
          <KeyField store={store} value={k} label={`${t('edit.trigger')} ${i + 1}`}
            onChange={(key, typing) => set({ ...tr, keys: tr.keys.map((x, j) => (j === i ? key : x)) }, typing ? `trigger.${i}` : undefined)} />
          {tr.keys.length > 1 && (
            <button type="button" class="small" onClick={() => set({ ...tr, keys: tr.keys.filter((_, j) => j !== i) })}>{t('edit.removeKey')}</button>
          )}
        </div>
      ))}
      <Problems problems={problems} field="trigger" />
      <div class="row">
        <button type="button" class="link" onClick={() => set({ ...tr, keys: [...tr.keys, ''] })}>{t('edit.addChordKey')}</button>
        {tr.keys.length > 1 && (
          <label class="inline">{t('edit.chordMs')}
            <input type="number" min={1} max={5000} class="ms" value={tr.chordMs ?? ''} placeholder="50"
              onInput={(e) => { const v = (e.currentTarget as HTMLInputElement).value; set({ ...tr, chordMs: v === '' ? undefined : Number(v) }, 'chordMs'); }} />
          </label>
        )}
      </div>
      <Problems problems={problems} field="chordMs" />
      <div class="row wrap">
        <span class="fieldlabel">{t('edit.mods')}</span>
        <ModsPicker value={tr.mandatory} label={t('edit.mods')} onChange={(mandatory) => set({ ...tr, mandatory })} />
      </div>
      <label class="check" for={anyId}>
        <input id={anyId} type="checkbox" checked={tr.optional.includes('any')}
          onChange={(e) => set({ ...tr, optional: (e.currentTarget as HTMLInputElement).checked ? ['any'] : [] })} />
        {t('edit.anyOther')}
      </label>
      <Problems problems={problems} field="mods" />
    </fieldset>
  );
}

function MsField({ label, value, onChange, placeholder }: { label: string; value?: number; onChange: (v?: number) => void; placeholder: string }) {
  return (
    <label class="inline">{label}
      <input type="number" min={1} max={5000} class="ms" value={value ?? ''} placeholder={placeholder}
        onInput={(e) => { const v = (e.currentTarget as HTMLInputElement).value; onChange(v === '' ? undefined : Number(v)); }} />
    </label>
  );
}

function RawEditor({ store, m, problems }: { store: Store; m: Extract<Mapping, { kind: 'raw' }>; problems: Problem[] }) {
  const pretty = JSON.stringify(m.manipulator, null, 2);
  const [text, setText] = useState(pretty);
  const [error, setError] = useState<string | undefined>();
  // Follow undo and outside changes unless the text in the box already means the same.
  useEffect(() => {
    try {
      if (JSON.stringify(JSON.parse(text)) === JSON.stringify(m.manipulator)) return;
    } catch { /* the draft is not JSON: replace it */ }
    setText(pretty);
    setError(undefined);
  }, [pretty]);
  const onInput = (v: string) => {
    setText(v);
    let parsed: unknown;
    try {
      parsed = JSON.parse(v);
    } catch (e) {
      setError(t('v.rawJson', { detail: e instanceof Error ? e.message : String(e) }));
      return;
    }
    if (!parsed || typeof parsed !== 'object' || Array.isArray(parsed)) { setError(t('v.rawObject')); return; }
    setError(undefined);
    store.updateMapping(m.id, (x) => ({ ...x, manipulator: parsed as JsonObject } as Mapping), 'raw');
  };
  return (
    <fieldset>
      <legend>{t('edit.raw')}</legend>
      <p class="hint">{t('edit.rawHint')}</p>
      <textarea class="mono raw" rows={12} value={text} spellcheck={false} aria-label={t('edit.raw')}
        onInput={(e) => onInput((e.currentTarget as HTMLTextAreaElement).value)} />
      {error && <ul class="problems" role="alert"><li class="error">{error}</li></ul>}
      <Problems problems={problems} field="raw" />
    </fieldset>
  );
}

function ScopeEditor({ store, m, problems }: { store: Store; m: Mapping; problems: Problem[] }) {
  const layers = [...layerNames(store.ruleSet)].filter((l) => !(m.kind === 'layerKey' && m.name === l));
  const [adding, setAdding] = useState(false);
  const layerId = useId('layer');
  const mode = m.apps?.mode ?? 'all';
  const upd = (fn: (x: Mapping) => Mapping) => store.updateMapping(m.id, fn);
  return (
    <fieldset>
      <legend>{t('edit.scope')}</legend>
      {(layers.length > 0 || m.layer) && (
        <div class="row">
          <label class="fieldlabel" for={layerId}>{t('edit.inLayer')}</label>
          <select id={layerId} value={m.layer ?? ''} onChange={(e) => {
            const v = (e.currentTarget as HTMLSelectElement).value;
            upd((x) => ({ ...x, layer: v || undefined }));
          }}>
            <option value="">{t('edit.noLayer')}</option>
            {[...new Set([...layers, ...(m.layer ? [m.layer] : [])])].map((l) => <option key={l} value={l}>{l}</option>)}
          </select>
        </div>
      )}
      <Problems problems={problems} field="layer" />
      <div class="row">
        <label class="fieldlabel" for={`${layerId}-apps`}>{t('edit.apps')}</label>
        <select id={`${layerId}-apps`} value={mode} onChange={(e) => {
          const v = (e.currentTarget as HTMLSelectElement).value;
          upd((x) => ({ ...x, apps: v === 'all' ? undefined : { mode: v as 'only' | 'except', apps: x.apps?.apps ?? [] } }));
          if (v !== 'all' && !m.apps?.apps.length) setAdding(true);
        }}>
          <option value="all">{t('scope.all')}</option>
          <option value="only">{t('scope.only')}</option>
          <option value="except">{t('scope.except')}</option>
        </select>
      </div>
      {m.apps && (
        <div class="appchips">
          {m.apps.apps.map((a, i) => (
            <AppChip key={i} store={store} app={a}
              onRemove={() => upd((x) => ({ ...x, apps: x.apps && { ...x.apps, apps: x.apps.apps.filter((_, j) => j !== i) } }))} />
          ))}
          <button type="button" class="small" aria-expanded={adding} onClick={() => setAdding(!adding)}>{t('edit.addApp')}</button>
        </div>
      )}
      {m.apps && adding && (
        <AppList store={store} onPick={(e) => {
          const ref = appRef(e);
          upd((x) => (x.apps && !x.apps.apps.some((a) => sameApp(a, ref)) ? { ...x, apps: { ...x.apps, apps: [...x.apps.apps, ref] } } : x));
          setAdding(false);
        }} />
      )}
      <Problems problems={problems} field="apps" />
    </fieldset>
  );
}

export function MappingEditor({ store, m }: { store: Store; m: Mapping }) {
  const problems = store.problems.filter((p) => p.id === m.id);
  const upd = (fn: (x: Mapping) => Mapping, typing?: string) => store.updateMapping(m.id, fn, typing);
  const kindId = useId('kind');
  const labelId = useId('label');
  const index = store.ruleSet.mappings.indexOf(m) + 1;
  return (
    <div class="editor" aria-label={`#${index}`}>
      <div class="row wrap">
        <label class="fieldlabel" for={kindId}>{t('edit.kind')}</label>
        <select id={kindId} value={m.kind} onChange={(e) => upd((x) => convertMapping(x, (e.currentTarget as HTMLSelectElement).value as MappingKind, store))}>
          {KINDS.map((k) => <option key={k} value={k}>{t(`kind.${k}`)}</option>)}
        </select>
        <label class="fieldlabel" for={labelId}>{t('edit.label')}</label>
        <input id={labelId} class="grow" value={m.label ?? ''}
          onInput={(e) => { const v = (e.currentTarget as HTMLInputElement).value; upd((x) => ({ ...x, label: v || undefined }), 'label'); }} />
      </div>
      {m.kind !== 'raw' && <TriggerEditor store={store} m={m} problems={problems} />}
      {m.kind === 'remap' && (
        <ActionEditor store={store} value={m.action} label={t('edit.action')} field="action" problems={problems}
          onChange={(action, typing) => upd((x) => ({ ...x, action } as Mapping), typing)} />
      )}
      {m.kind === 'tapHold' && (
        <>
          <ActionEditor store={store} value={m.tap} label={t('edit.tap')} field="tap" problems={problems}
            onChange={(tap, typing) => upd((x) => ({ ...x, tap } as Mapping), typing)} />
          <ActionEditor store={store} value={m.hold} label={t('edit.hold')} field="hold" problems={problems}
            onChange={(hold, typing) => upd((x) => ({ ...x, hold } as Mapping), typing)} />
          <fieldset>
            <legend>{t('edit.holdMode')}</legend>
            <span class="seg" role="radiogroup" aria-label={t('edit.holdMode')}>
              {(['immediate', 'delayed'] as const).map((hm) => (
                <label key={hm}><input type="radio" name={`${m.id}-hm`} checked={m.holdMode === hm}
                  onChange={() => upd((x) => ({ ...x, holdMode: hm } as Mapping))} />{t(`holdMode.${hm}`)}</label>
              ))}
            </span>
            <label class="check"><input type="checkbox" checked={m.lazy} onChange={(e) => upd((x) => ({ ...x, lazy: (e.currentTarget as HTMLInputElement).checked } as Mapping))} />{t('edit.lazy')}</label>
            <div class="row wrap">
              <MsField label={t('edit.tapTimeout')} value={m.tapTimeoutMs} placeholder="1000" onChange={(v) => upd((x) => ({ ...x, tapTimeoutMs: v } as Mapping), 'tapTimeoutMs')} />
              {m.holdMode === 'delayed' && <MsField label={t('edit.holdDelay')} value={m.holdDelayMs} placeholder="500" onChange={(v) => upd((x) => ({ ...x, holdDelayMs: v } as Mapping), 'holdDelayMs')} />}
            </div>
            <Problems problems={problems} field="tapTimeoutMs" />
            <Problems problems={problems} field="holdDelayMs" />
          </fieldset>
        </>
      )}
      {m.kind === 'layerKey' && (
        <fieldset>
          <legend>{t('kind.layerKey')}</legend>
          <div class="row">
            <label class="fieldlabel" for={`${kindId}-ln`}>{t('edit.layerName')}</label>
            <input id={`${kindId}-ln`} value={m.name} onInput={(e) => {
              const name = (e.currentTarget as HTMLInputElement).value;
              // Renaming a layer carries its mappings along.
              const old = m.name;
              store.commit({
                ...store.ruleSet,
                mappings: store.ruleSet.mappings.map((x) => (x.id === m.id ? { ...x, name } as Mapping : x.layer === old ? { ...x, layer: name } : x)),
              }, `${m.id}:name`);
            }} />
          </div>
          <Problems problems={problems} field="name" />
          <span class="seg" role="radiogroup" aria-label={t('edit.layerMode')}>
            <span class="fieldlabel">{t('edit.layerMode')}</span>
            {(['hold', 'toggle'] as const).map((lm) => (
              <label key={lm}><input type="radio" name={`${m.id}-lm`} checked={m.mode === lm} onChange={() => upd((x) => ({ ...x, mode: lm } as Mapping))} />{t(`layerMode.${lm}`)}</label>
            ))}
          </span>
          {m.mode === 'hold' && (
            <ActionEditor store={store} value={m.tap} label={t('edit.layerTap')} field="tap" problems={problems}
              onChange={(tap, typing) => upd((x) => ({ ...x, tap } as Mapping), typing)} />
          )}
          <button type="button" class="link" onClick={() => store.addMappings([{
            id: newId(), enabled: true, kind: 'remap', layer: m.name, trigger: emptyTrigger(), action: keysAction(''),
          }])}>{t('edit.addInLayer', { layer: m.name })}</button>
        </fieldset>
      )}
      {m.kind === 'raw' && <RawEditor store={store} m={m} problems={problems} />}
      {m.kind !== 'raw' && <ScopeEditor store={store} m={m} problems={problems} />}
    </div>
  );
}
