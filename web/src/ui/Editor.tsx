// The editor of one mapping: a form chosen from what the mapping is, or its JSON.
import { useEffect, useMemo, useState } from 'preact/hooks';
import { t } from '../i18n';
import type { Problem } from '../model/check';
import {
  buildDoubleTap, buildLayer, buildLeader, FORMS, formShown, LAYER_PREFIX, layerLabel, readDoubleTap, readLayer, readLeader, readLetterTapHold,
  withLetterTapHold, withLetterTiming,
  type DoubleTapParams, type LayerParams, type LeaderParams,
} from '../model/forms';
import { isObj, isStr, jsonDepth, type Json, type JsonObject } from '../model/json';
import { LIMITS } from '../model/limits';
import { variableIf, withKey, withEvents } from '../model/manipulator';
import { newMapping, plainName } from '../model/rules';
import { eventsOf } from '../model/shapes';
import type { FormKind, Mapping } from '../model/types';
import type { Store } from '../store';
import { ConditionsEditor, EventList, KeyField, ParametersEditor, Problems, Section, TriggerEditor, useId } from './fields';
import { memo } from './memo';

const single = (m: Mapping): JsonObject => (isObj(m.manipulators[0]) ? m.manipulators[0] : {});

/** Editors over one manipulator: each writes back the manipulator with one part changed. */
function useSingle(store: Store, m: Mapping) {
  const man = single(m);
  const write = (next: JsonObject, typing?: string) => store.updateMapping(m.id, (x) => ({ ...x, manipulators: [next] }), typing);
  const setPart = (k: string, v: Json | undefined, typing?: string) => write(withKey(man, k, v), typing);
  return { man, write, setPart };
}

function Lists({ store, m, problems, lists }: { store: Store; m: Mapping; problems: Problem[]; lists: [string, string, string?][] }) {
  const { man, setPart } = useSingle(store, m);
  return (
    <>
      {lists.map(([list, label, hint]) => (
        <EventList key={list} store={store} label={t(label)} hint={hint && t(hint)} value={man[list]} problems={problems} at={`0.${list}`}
          onChange={(v, typing) => setPart(list, v, typing && `${list}:${typing}`)} />
      ))}
    </>
  );
}

function Common({ store, m, problems, params }: { store: Store; m: Mapping; problems: Problem[]; params: string[] }) {
  const { man, setPart } = useSingle(store, m);
  return (
    <>
      <ConditionsEditor store={store} value={man.conditions} problems={problems} at="0.conditions" onChange={(c) => setPart('conditions', c)} />
      <ParametersEditor value={man.parameters} defaults={store.parameters} problems={problems} at="0.parameters" show={params} onChange={(p, typing) => setPart('parameters', p, typing)} />
    </>
  );
}

const SIM_PARAM = 'basic.simultaneous_threshold_milliseconds';
const simParams = (man: JsonObject) => (isObj(man.from) && Array.isArray(man.from.simultaneous) ? [SIM_PARAM] : []);

function RemapForm({ store, m, problems }: { store: Store; m: Mapping; problems: Problem[] }) {
  const { man, setPart } = useSingle(store, m);
  return (
    <>
      <TriggerEditor store={store} from={isObj(man.from) ? man.from : {}} problems={problems} at="0.from" onChange={(f, typing) => setPart('from', f, typing)} />
      <Lists store={store} m={m} problems={problems} lists={[['to', 'edit.action']]} />
      <Common store={store} m={m} problems={problems} params={simParams(man)} />
    </>
  );
}

function TapHoldForm({ store, m, problems }: { store: Store; m: Mapping; problems: Problem[] }) {
  const { man, write, setPart } = useSingle(store, m);
  const to = eventsOf(man.to);
  const held = eventsOf(man.to_if_held_down);
  const lazy = to.length > 0 && to.every((e) => e.lazy === true);
  const letter = readLetterTapHold(man);
  // The ways to hold: the hold events at once; only after the threshold; lazily at once and for
  // real after the threshold, so that clicks and drags with the modifier work; or, for letters,
  // nothing until the threshold, the letter typed at once when another key follows sooner.
  const mode = letter ? 'letter' : held.length && to.length && lazy ? 'lazyHeld' : held.length && !to.length ? 'delayed' : 'immediate';
  const holdEvents = letter ? letter.hold : mode === 'immediate' ? to : held;
  const setMode = (next: string) => {
    // Where the hold action sits is the mode: with none yet, an empty one to fill in keeps the choice.
    const base = (holdEvents.length ? holdEvents : [{ key_code: '' }]).map((e) => { const { lazy: _l, ...rest } = e; return rest as JsonObject; });
    let out = man;
    if (letter) {
      out = withKey(withKey(out, 'to_delayed_action', undefined), 'to_if_alone', letter.tap.length ? letter.tap : undefined);
      const params = isObj(out.parameters) ? { ...out.parameters } : {};
      delete params['basic.to_delayed_action_delay_milliseconds'];
      out = withKey(out, 'parameters', Object.keys(params).length ? params : undefined);
    }
    const tap = eventsOf(out.to_if_alone);
    if (next === 'letter') out = withLetterTapHold(withEvents(out, 'to_if_held_down', []), { tap: tap.length ? tap : [{ key_code: '' }], hold: base });
    else if (next === 'immediate') out = withEvents(withEvents(out, 'to_if_held_down', []), 'to', base);
    else if (next === 'delayed') out = withEvents(withEvents(out, 'to', []), 'to_if_held_down', base);
    else out = withEvents(withEvents(out, 'to', base.map((e) => ({ ...e, lazy: true }))), 'to_if_held_down', base);
    write(out);
  };
  const modeId = useId('holdmode');
  const custom = !letter && held.length > 0 && to.length > 0 && !lazy;
  const thresholds = ['basic.to_if_alone_timeout_milliseconds', ...(mode !== 'immediate' || custom ? ['basic.to_if_held_down_threshold_milliseconds'] : []), ...simParams(man)];
  return (
    <>
      <TriggerEditor store={store} from={isObj(man.from) ? man.from : {}} problems={problems} at="0.from" onChange={(f, typing) => setPart('from', f, typing)} />
      {letter
        ? <EventList store={store} label={t('edit.tap')} value={letter.tap} problems={problems} at="0.to_if_alone"
            onChange={(v) => write(withLetterTapHold(man, { tap: eventsOf(v), hold: letter.hold }))} />
        : <Lists store={store} m={m} problems={problems} lists={[['to_if_alone', 'edit.tap']]} />}
      {!custom && (
        <fieldset>
          <legend id={modeId}>{t('edit.holdMode')}</legend>
          <span class="seg" role="radiogroup" aria-labelledby={modeId}>
            {(['immediate', 'delayed', 'lazyHeld', 'letter'] as const).map((hm) => (
              <label key={hm}><input type="radio" name={`${m.id}-hm`} checked={mode === hm} onChange={() => setMode(hm)} />{t(`holdMode.${hm}`)}</label>
            ))}
          </span>
          {letter && <p class="hint">{t('holdMode.letter.d')}</p>}
        </fieldset>
      )}
      {custom
        ? <Lists store={store} m={m} problems={problems} lists={[['to', 'edit.pressed'], ['to_if_held_down', 'edit.heldDown']]} />
        : mode === 'immediate'
          ? <Lists store={store} m={m} problems={problems} lists={[['to', 'edit.hold', holdEvents.length ? undefined : 'edit.holdEmpty']]} />
          : (
            <EventList store={store} label={t('edit.hold')} hint={holdEvents.length ? undefined : t('edit.holdEmpty')} value={letter ? letter.hold : man.to_if_held_down} problems={problems} at="0.to_if_held_down"
              onChange={(v) => {
                if (letter) { write(withLetterTapHold(man, { tap: letter.tap, hold: eventsOf(v) })); return; }
                let out = withKey(man, 'to_if_held_down', v);
                if (mode === 'lazyHeld') out = withEvents(out, 'to', eventsOf(v).map((e) => ({ ...e, lazy: true })));
                write(out);
              }} />
          )}
      {!letter && <Lists store={store} m={m} problems={problems} lists={[['to_after_key_up', 'edit.afterUp']]} />}
      <ConditionsEditor store={store} value={man.conditions} problems={problems} at="0.conditions" onChange={(c) => setPart('conditions', c)} />
      <ParametersEditor value={man.parameters} defaults={store.parameters} problems={problems} at="0.parameters" show={letter ? ['basic.to_if_held_down_threshold_milliseconds'] : thresholds}
        onChange={(p, typing) => (letter ? write(withLetterTiming(withKey(man, 'parameters', p))) : setPart('parameters', p, typing))} />
    </>
  );
}

function AdvancedForm({ store, m, problems }: { store: Store; m: Mapping; problems: Problem[] }) {
  const { man, setPart } = useSingle(store, m);
  const delayed = isObj(man.to_delayed_action) ? man.to_delayed_action : {};
  const setDelayed = (k: string, v: Json | undefined) => {
    const d = withKey(delayed, k, v);
    setPart('to_delayed_action', Object.keys(d).length ? d : undefined);
  };
  return (
    <>
      <TriggerEditor store={store} from={isObj(man.from) ? man.from : {}} problems={problems} at="0.from" onChange={(f, typing) => setPart('from', f, typing)} />
      <Lists store={store} m={m} problems={problems} lists={[
        ['to', 'list.to', 'list.to.d'], ['to_if_alone', 'list.to_if_alone', 'list.to_if_alone.d'],
        ['to_if_held_down', 'list.to_if_held_down', 'list.to_if_held_down.d'], ['to_after_key_up', 'list.to_after_key_up', 'list.to_after_key_up.d'],
      ]} />
      <Section legend={t('list.to_delayed_action')} hint={t('list.to_delayed_action.d')}>
        <EventList store={store} label={t('list.to_if_invoked')} value={delayed.to_if_invoked} problems={problems} at="0.to_delayed_action.to_if_invoked" onChange={(v) => setDelayed('to_if_invoked', v)} />
        <EventList store={store} label={t('list.to_if_canceled')} value={delayed.to_if_canceled} problems={problems} at="0.to_delayed_action.to_if_canceled" onChange={(v) => setDelayed('to_if_canceled', v)} />
      </Section>
      <Common store={store} m={m} problems={problems} params={Object.keys({
        'basic.to_if_alone_timeout_milliseconds': 1, 'basic.to_if_held_down_threshold_milliseconds': 1, 'basic.to_delayed_action_delay_milliseconds': 1, ...Object.fromEntries(simParams(man).map((k) => [k, 1])),
      })} />
    </>
  );
}

/** Pattern forms edit parameters; the manipulators are built from them. */
function usePattern<P>(store: Store, m: Mapping, read: (ms: JsonObject[]) => P | undefined, build: (p: P) => JsonObject[]) {
  const p = useMemo(() => read(m.manipulators), [m.manipulators]);
  const update = (fn: (p: P) => P, typing?: string) => {
    if (!p) return;
    store.updateMapping(m.id, (x) => ({ ...x, manipulators: build(fn(p)) }), typing);
  };
  return { p, update };
}

function PatternCommon<P extends { from: JsonObject; conditions: JsonObject[]; parameters?: JsonObject }>({ store, p, update, problems, params, conditionsAt }: {
  store: Store; p: P; update: (fn: (p: P) => P, typing?: string) => void; problems: Problem[]; params: string[]; conditionsAt: string;
}) {
  return (
    <>
      <ConditionsEditor store={store} value={p.conditions} problems={problems} at={conditionsAt} onChange={(c) => update((x) => ({ ...x, conditions: c ?? [] }))} />
      <ParametersEditor value={p.parameters} defaults={store.parameters} problems={problems} at={`${conditionsAt.split('.')[0]}.parameters`} show={params}
        onChange={(v, typing) => update((x) => ({ ...x, parameters: v }), typing)} />
    </>
  );
}

function VariableField({ label, value, onChange }: { label: string; value: string; onChange: (v: string) => void }) {
  const id = useId('var');
  return (
    <div class="row">
      <label class="fieldlabel" for={id}>{label}</label>
      <input id={id} class="mono" value={value} spellcheck={false} onInput={(e) => onChange((e.currentTarget as HTMLInputElement).value)} />
    </div>
  );
}

function LayerForm({ store, m, problems }: { store: Store; m: Mapping; problems: Problem[] }) {
  const { p, update } = usePattern<LayerParams>(store, m, readLayer, buildLayer);
  const nameId = useId('layername');
  if (!p) return null;
  const at = p.mode === 'toggle' ? '1' : '0';
  const label = layerLabel(p.variable);
  const rename = (name: string) => {
    const variable = p.variable.startsWith(LAYER_PREFIX) || !p.variable ? `${LAYER_PREFIX}${name}` : name;
    const old = p.variable;
    // Renaming a layer carries the mappings that work in it along.
    const rs = store.ruleSet;
    store.commit({
      ...rs,
      rules: rs.rules.map((r) => ({
        ...r,
        mappings: r.mappings.map((x) => {
          if (x.id === m.id) return { ...x, manipulators: buildLayer({ ...p, variable }) };
          if (!x.manipulators.some((man) => Array.isArray(man.conditions) && man.conditions.some((c) => isObj(c) && c.name === old))) return x;
          return {
            ...x,
            manipulators: x.manipulators.map((man) => (Array.isArray(man.conditions)
              ? { ...man, conditions: man.conditions.map((c) => (isObj(c) && c.name === old && (c.type === 'variable_if' || c.type === 'variable_unless') ? { ...c, name: variable } : c)) }
              : man)),
          };
        }),
      })),
    }, `${m.id}:layername`);
  };
  return (
    <>
      <TriggerEditor store={store} from={p.from} problems={problems} at={`${at}.from`} onChange={(from, typing) => update((x) => ({ ...x, from }), typing)} />
      <fieldset>
        <legend>{t('form.layer')}</legend>
        <div class="row">
          <label class="fieldlabel" for={nameId}>{t('edit.layerName')}</label>
          <input id={nameId} value={label} onInput={(e) => rename((e.currentTarget as HTMLInputElement).value)} />
        </div>
        <span class="seg" role="radiogroup" aria-label={t('edit.layerMode')}>
          <span class="fieldlabel">{t('edit.layerMode')}</span>
          {(['hold', 'delayed', 'toggle'] as const).map((lm) => (
            <label key={lm}><input type="radio" name={`${m.id}-lm`} checked={p.mode === lm} onChange={() => update((x) => ({ ...x, mode: lm, tap: lm === 'toggle' ? [] : x.tap }))} />{t(`layerMode.${lm}`)}</label>
          ))}
        </span>
        {p.mode !== 'toggle' && (
          <EventList store={store} label={t('edit.layerTap')} value={p.tap} problems={problems} at="0.to_if_alone" onChange={(v) => update((x) => ({ ...x, tap: eventsOf(v) }))} />
        )}
        <button type="button" class="link" onClick={() => store.addMappings([newMapping([{
          type: 'basic', from: { key_code: '' }, conditions: [variableIf(p.variable, p.on)], to: [{ key_code: '' }],
        }], 'remap')], store.locate(m.id)?.rule.id)}>{t('edit.addInLayer', { layer: label })}</button>
      </fieldset>
      <PatternCommon store={store} p={p} update={update} problems={problems} conditionsAt={`${at}.conditions`}
        params={p.mode === 'delayed' ? ['basic.to_if_held_down_threshold_milliseconds', 'basic.to_if_alone_timeout_milliseconds'] : p.tap.length ? ['basic.to_if_alone_timeout_milliseconds'] : []} />
    </>
  );
}

function DoubleTapForm({ store, m, problems }: { store: Store; m: Mapping; problems: Problem[] }) {
  const { p, update } = usePattern<DoubleTapParams>(store, m, readDoubleTap, buildDoubleTap);
  if (!p) return null;
  return (
    <>
      <TriggerEditor store={store} from={p.from} problems={problems} at="1.from" onChange={(from, typing) => update((x) => ({ ...x, from }), typing)} />
      <EventList store={store} label={t('edit.doubleSecond')} value={p.second} problems={problems} at="0.to" onChange={(v) => update((x) => ({ ...x, second: eventsOf(v) }))} />
      <EventList store={store} label={t('edit.doubleFirst')} hint={t('edit.doubleFirst.d')} value={p.first} problems={problems} at="1.to" onChange={(v) => update((x) => ({ ...x, first: eventsOf(v) }))} />
      <details class="options">
        <summary>{t('edit.variable')}</summary>
        <VariableField label={t('edit.variable')} value={p.variable} onChange={(variable) => update((x) => ({ ...x, variable }), 'variable')} />
      </details>
      <PatternCommon store={store} p={p} update={update} problems={problems} conditionsAt="1.conditions" params={['basic.to_delayed_action_delay_milliseconds']} />
    </>
  );
}

function LeaderForm({ store, m, problems }: { store: Store; m: Mapping; problems: Problem[] }) {
  const { p, update } = usePattern<LeaderParams>(store, m, readLeader, buildLeader);
  if (!p) return null;
  const last = m.manipulators.length - 2;
  const setSeq = (i: number, fn: (s: LeaderParams['sequences'][number]) => LeaderParams['sequences'][number], typing?: string) =>
    update((x) => ({ ...x, sequences: x.sequences.map((s, j) => (j === i ? fn(s) : s)) }), typing);
  return (
    <>
      <TriggerEditor store={store} from={p.from} problems={problems} at={`${last}.from`} onChange={(from, typing) => update((x) => ({ ...x, from }), typing)} />
      <fieldset>
        <legend>{t('edit.sequences')}</legend>
        <p class="hint">{t('edit.sequences.d')}</p>
        {p.sequences.map((s, i) => (
          <div class="sequence" key={i}>
            <div class="row wrap">
              <span class="fieldlabel">{t('edit.then')}</span>
              {s.keys.map((k, j) => (
                <KeyField key={j} store={store} compact value={k} label={`${t('edit.sequence')} ${i + 1}: ${j + 1}`}
                  onChange={(v, typing) => setSeq(i, (x) => ({ ...x, keys: x.keys.map((y, n) => (n === j ? v : y)) }), typing ? `seq${i}.${j}` : undefined)} />
              ))}
              <button type="button" class="small" onClick={() => setSeq(i, (x) => ({ ...x, keys: [...x.keys, ''] }))}>{t('edit.addSequenceKey')}</button>
              {s.keys.length > 1 && <button type="button" class="small" onClick={() => setSeq(i, (x) => ({ ...x, keys: x.keys.slice(0, -1) }))}>{t('edit.removeKey')}</button>}
              <button type="button" class="icon" aria-label={`${t('edit.sequence')} ${i + 1}: ${t('action.remove')}`}
                onClick={() => update((x) => ({ ...x, sequences: x.sequences.filter((_, j) => j !== i) }))}>✕</button>
            </div>
            <EventList store={store} label={`${t('edit.sequence')} ${i + 1}: ${t('edit.action')}`} value={s.to} problems={problems} at={`seq${i}`}
              onChange={(v) => setSeq(i, (x) => ({ ...x, to: eventsOf(v) }))} />
          </div>
        ))}
        <button type="button" class="link" onClick={() => update((x) => ({ ...x, sequences: [...x.sequences, { keys: [''], to: [] }] }))}>{t('edit.addSequence')}</button>
      </fieldset>
      <details class="options">
        <summary>{t('edit.variable')}</summary>
        <VariableField label={t('edit.variable')} value={p.variable} onChange={(variable) => update((x) => ({ ...x, variable }), 'variable')} />
      </details>
      <PatternCommon store={store} p={p} update={update} problems={problems} conditionsAt={`${last}.conditions`} params={['basic.to_delayed_action_delay_milliseconds']} />
    </>
  );
}

function RawEditor({ store, m, problems }: { store: Store; m: Mapping; problems: Problem[] }) {
  const value: Json = m.manipulators.length === 1 ? m.manipulators[0] : m.manipulators;
  const pretty = JSON.stringify(value, null, 2);
  const [text, setText] = useState(pretty);
  const [error, setError] = useState<string | undefined>();
  // Follow undo and outside changes unless the text in the box already means the same.
  useEffect(() => {
    try {
      if (JSON.stringify(JSON.parse(text)) === JSON.stringify(value)) return;
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
    // Nothing deeper than the bridge takes goes into the rule set (and nothing recurses into it).
    const depth = jsonDepth(parsed, LIMITS.depth);
    if (depth > LIMITS.depth - 4) {
      setError(t('v.rawDeep', { limit: LIMITS.depth - 4 }));
      return;
    }
    setError(undefined);
    const manipulators = (m.manipulators.length > 1 && Array.isArray(parsed) ? parsed : [parsed]) as JsonObject[];
    store.updateMapping(m.id, (x) => ({ ...x, manipulators }), 'raw');
  };
  const id = useId('raw');
  return (
    <fieldset>
      <legend><label for={id}>{t('edit.raw')}</label></legend>
      <p class="hint">{t('edit.rawHint')}</p>
      <textarea id={id} class="mono raw" rows={14} value={text} spellcheck={false} onInput={(e) => onInput((e.currentTarget as HTMLTextAreaElement).value)} />
      {error && <ul class="problems" role="alert"><li class="block">{error}</li></ul>}
      <Problems problems={problems} at={m.manipulators.map((_, i) => String(i))} />
    </fieldset>
  );
}

/** Where a draft goes once it does something: a new rule named after it (the default) or a rule chosen. */
function DraftTarget({ store }: { store: Store }) {
  const id = useId('target');
  const chosen = store.draft?.ruleId ?? '';
  return (
    <div class="row">
      <label class="fieldlabel" for={id}>{t('edit.goesInto')}</label>
      <select id={id} value={chosen} onChange={(e) => store.setDraftRule((e.currentTarget as HTMLSelectElement).value || undefined)}>
        <option value="">{t('edit.newRuleNamed')}</option>
        {store.ruleSet.rules.map((r, i) => (r.fixed === undefined ? <option key={r.id} value={r.id}>{`${i + 1}. ${plainName(r.name) || t('list.unnamed', { n: i + 1 })}`}</option> : null))}
      </select>
    </div>
  );
}

interface EditorProps {
  store: Store; m: Mapping; problems: Problem[];
  // What else the editor shows; it re-renders only when one of these changes.
  lang: string; apps: unknown; inventoryState: string; picking: string | undefined; rules: unknown; devices: unknown; draft: unknown;
  /** The profile's parameters: the timings a manipulator without its own uses. */
  params: unknown;
}

/** The editor of the selected mapping, re-rendered only when something it shows changes. */
export const MappingEditor = memo(({ store, m, problems }: EditorProps) => <MappingEditorBody store={store} m={m} problems={problems} />);

function MappingEditorBody({ store, m: given, problems }: { store: Store; m: Mapping; problems: Problem[] }) {
  // A saved form that no longer shows every field (a hand-edited file) opens as JSON.
  const shown = useMemo(() => formShown(given), [given]);
  const m = shown === given.form ? given : { ...given, form: shown };
  const formId = useId('form');
  const labelId = useId('label');
  const ruleId = useId('rule');
  const at = store.locate(m.id);
  const isDraft = store.draft?.mapping.id === m.id;
  const man = single(m);
  const description = m.manipulators.length === 1 && isStr(man.description) ? man.description : '';
  return (
    <div class="editor" aria-label={t('edit.heading')}>
      {isDraft && <p class="banner draft" role="status">{t('edit.draft')}</p>}
      {isDraft && <DraftTarget store={store} />}
      <div class="row wrap">
        <label class="fieldlabel" for={formId}>{t('edit.kind')}</label>
        <select id={formId} value={m.form} onChange={(e) => store.changeForm(m.id, (e.currentTarget as HTMLSelectElement).value as FormKind)}>
          {FORMS.map((k) => <option key={k} value={k}>{t(`form.${k}`)}</option>)}
        </select>
        {m.manipulators.length === 1 && m.form !== 'raw' && (
          <>
            <label class="fieldlabel" for={labelId}>{t('edit.label')}</label>
            <input id={labelId} class="grow" value={description}
              onInput={(e) => { const v = (e.currentTarget as HTMLInputElement).value; store.updateMapping(m.id, (x) => ({ ...x, manipulators: [withKey(single(x), 'description', v || undefined)] }), 'label'); }} />
          </>
        )}
      </div>
      {at && store.ruleSet.rules.length > 1 && (
        <div class="row">
          <label class="fieldlabel" for={ruleId}>{t('edit.rule')}</label>
          <select id={ruleId} value={at.rule.id} onChange={(e) => store.moveMappingToRule(m.id, (e.currentTarget as HTMLSelectElement).value)}>
            {store.ruleSet.rules.map((r, i) => (r.fixed === undefined ? <option key={r.id} value={r.id}>{`${i + 1}. ${r.name || t('list.unnamed', { n: i + 1 })}`}</option> : null))}
          </select>
        </div>
      )}
      {at?.rule.origin !== undefined && store.profile && <p class="hint inplace">{t('edit.inPlace', { n: at.ruleIndex + 1 })}</p>}
      <p class="hint">{t(`form.${m.form}.d`)}</p>
      {m.form === 'remap' && <RemapForm store={store} m={m} problems={problems} />}
      {m.form === 'tapHold' && <TapHoldForm store={store} m={m} problems={problems} />}
      {m.form === 'layer' && <LayerForm store={store} m={m} problems={problems} />}
      {m.form === 'doubleTap' && <DoubleTapForm store={store} m={m} problems={problems} />}
      {m.form === 'leader' && <LeaderForm store={store} m={m} problems={problems} />}
      {m.form === 'advanced' && <AdvancedForm store={store} m={m} problems={problems} />}
      {m.form === 'raw' && <RawEditor store={store} m={m} problems={problems} />}
      {m.form !== 'raw' && <Problems problems={problems.filter((p) => p.code.startsWith('v.shadowed') || p.severity === 'block')} at={m.manipulators.map((_, i) => String(i))} />}
    </div>
  );
}
