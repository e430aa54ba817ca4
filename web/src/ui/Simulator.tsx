// "Try it": press keys (in the box, or on the picture) tapped, held, or as a timed sequence, and see
// on a time line what reaches the keyboard and mouse, and which manipulator of which rule sent it,
// over the whole profile Apply leaves.
import { useMemo, useRef, useState } from 'preact/hooks';
import { t } from '../i18n';
import { visibleText } from '../model/commands';
import { isStr, type Json, type JsonObject } from '../model/json';
import { keyFromEventCode, keyLabel, modifierSymbols } from '../model/keys';
import type { KeyRef } from '../model/manipulator';
import {
  FLAGS, findShadows, flagKey, flagOf, formatSequence, nameOf, type Flag, type KeyId, type Outcome, type Place, type Sent, type Shadow,
} from '../model/simulate';
import { describeManipulator, eventText, scopeText } from '../model/summary';
import { simRuleOf, trialFindings } from '../model/trial';
import { MODIFIER_KEYS } from '../model/vocabulary';
import type { Store } from '../store';
import type { SimEntry } from '../tryit';
import { INPUT_SOURCE_PRESETS, parseValue, useId, valueText } from './fields';
import { memo } from './memo';

/** A key as the page names keys elsewhere. */
function keyText(k: KeyId): string {
  const flag = flagOf(k);
  if (flag) return flag === 'fn' ? 'fn' : modifierSymbols([flag]);
  const field = k.slice(0, k.indexOf(':'));
  const name = nameOf(k);
  if (field === 'key_code' || field === 'pointing_button') return keyLabel(name);
  return eventText({ [field]: name } as JsonObject);
}

const LISTS: [RegExp, string][] = [
  [/^to_if_alone/, 'sim.list.alone'], [/^to_if_held_down/, 'sim.list.held'], [/^to_after_key_up/, 'sim.list.up'],
  [/^to_delayed_action\.to_if_invoked/, 'sim.list.invoked'], [/^to_delayed_action\.to_if_canceled/, 'sim.list.canceled'],
  [/^to_if_other_key_pressed/, 'sim.list.other'], [/^simultaneous_options/, 'sim.list.chordUp'], [/^from\.modifiers/, 'sim.list.modifiers'], [/^to\b/, 'sim.list.to'],
];
const listText = (list: string | undefined) => { const hit = list && LISTS.find(([re]) => re.test(list)); return hit ? t(hit[1]) : ''; };

function PlaceRef({ store, place }: { store: Store; place: Place | undefined }) {
  if (!place) return <span class="hint">{t('sim.unchanged')}</span>;
  if (place.rule === undefined || place.manipulator === undefined) {
    return <span>{t(place.stage === 'simple_modifications' ? 'sim.bySimple' : place.stage === 'device_keys' ? 'sim.byDevice' : 'sim.byFn')}</span>;
  }
  const rules = store.triedRules;
  const id = rules[place.rule]?.mappingIds?.[place.manipulator];
  const label = store.placeName(place.rule, place.manipulator, rules);
  return id && store.locate(id) ? <button type="button" class="link" onClick={() => store.select(id)}>{label}</button> : <span>{label}</span>;
}

/** What was sent, a key tapped shown once: "⌘Tab", else each change with its arrow. */
function sentChips(sent: Sent[]): { at: number; text: string; by?: Place; command?: string }[] {
  const out: { at: number; text: string; by?: Place; command?: string }[] = [];
  for (let i = 0; i < sent.length; i++) {
    const s = sent[i];
    if (s.kind === 'command') { out.push({ at: s.time, text: '', command: s.text, by: s.by }); continue; }
    if (s.kind === 'motion') { out.push({ at: s.time, text: t('sim.motion', { v: s.text ?? '' }), by: s.by }); continue; }
    const key = s.key as KeyId;
    const mods = s.kind === 'down' && !flagOf(key) ? modifierSymbols((s.modifiers ?? []) as string[]) : '';
    const next = sent[i + 1];
    if (s.kind === 'down' && next?.kind === 'up' && next.key === key && !flagOf(key)) {
      out.push({ at: s.time, text: `${mods}${keyText(key)}`, by: s.by });
      i++;
      continue;
    }
    out.push({ at: s.time, text: `${mods}${keyText(key)} ${t(s.kind === 'down' ? 'sim.isDown' : 'sim.isUp')}`, by: s.by });
  }
  return out;
}

function effectText(e: Outcome['effects'][number]): string {
  const v = e.value as JsonObject;
  if (e.what === 'set_variable') return t('sim.variableSet', { name: String(v.name), value: valueText(v.value as Json) });
  if (e.what === 'notification') return t('sim.message', { text: isStr(v.text) ? v.text : '' });
  const [flag, state] = Object.entries(v)[0] ?? [];
  return t('sim.sticky', { mod: modifierSymbols([flag ?? '']), state: String(state) });
}

function OutcomeRows({ store, o }: { store: Store; o: Outcome }) {
  const chips = sentChips(o.sent);
  return (
    <>
      <li class={o.step ? 'input' : 'passes'}>
        <span class="t">{o.step ? o.step.at : o.from}{t('sim.ms')}</span>{' '}
        {o.step
          ? <><kbd>{keyText(o.step.key)} {t(o.step.down ? 'sim.isDown' : 'sim.isUp')}</kbd> {o.took ? <>{t('sim.takenBy')} <PlaceRef store={store} place={o.took} /></> : o.step.down ? <span class="hint">{t('sim.passes')}</span> : null}</>
          : <span class="hint">{t('sim.timePasses', { ms: o.to - o.from })}</span>}
      </li>
      {chips.map((c, i) => (
        <li key={`s${i}`} class="out">
          <span class="t">{c.at}{t('sim.ms')}</span>{' '}
          {c.command !== undefined ? <code class="mono">{visibleText(c.command)}</code> : <span class="sent">{c.text}</span>}{' '}
          <span class="by">{c.by ? <><PlaceRef store={store} place={c.by} />{listText(c.by.list) ? ` · ${listText(c.by.list)}` : ''}</> : <span class="hint">{t('sim.unchanged')}</span>}</span>
        </li>
      ))}
      {o.effects.map((e, i) => (
        <li key={`e${i}`} class="out"><span class="t">{e.at}{t('sim.ms')}</span> <span class="effect">{effectText(e)}</span></li>
      ))}
      {o.step?.down && o.skipped.length > 0 && (
        <li class="skipped">
          <details>
            <summary>{t('sim.skipped', { n: o.skipped.length })}</summary>
            <ul>
              {o.skipped.map((s, i) => (
                <li key={i}><PlaceRef store={store} place={s.place} />: {s.reason === 'condition'
                  ? t('sim.needsCondition', { c: scopeText([s.condition as JsonObject]).join('') || JSON.stringify(s.condition) })
                  : t(`sim.reason.${s.reason}`)}</li>
              ))}
            </ul>
          </details>
        </li>
      )}
    </>
  );
}

/** An entry is drawn again only when it, the rules it names or the language change. */
const Entry = memo(({ store, e }: { store: Store; e: SimEntry; rules: unknown; lang: string }) => {
  const keys = e.keys.map(keyText).join(' + ');
  const action = e.action === 'modifier' ? (e.outcomes.find((o) => o.step)?.step?.down ? 'hold' : 'release') : e.action;
  return (
    <li class="outcome">
      <p><strong>{t(`sim.action.${action}`, { keys })}</strong> <span class="hint">{t('sim.span', { from: e.from, to: e.to })}</span></p>
      {!e.outcomes.some((o) => o.sent.length || o.effects.length) && <p class="hint">{t('sim.nothingSent')}</p>}
      <ol class="timeline">{e.outcomes.map((o, i) => <OutcomeRows key={i} store={store} o={o} />)}</ol>
    </li>
  );
});

const WHY: Record<Shadow['why'], string> = { always: 'sim.why.always', together: 'sim.why.together', chord: 'sim.why.chord', simple: 'sim.why.simple' };

function ShadowItems({ store, shadows }: { store: Store; shadows: Shadow[] }) {
  const rules = store.triedRules;
  return (
    <ul class="shadows">
      {shadows.slice(0, 200).map((s, i) => (
        <li key={i}>
          <PlaceRef store={store} place={{ stage: 'complex_modifications', index: 0, rule: s.rule, manipulator: s.manipulator }} /> {t(WHY[s.why], { by: store.winners(s, rules) })}
          <div class="hint">{describeManipulator(rules[s.rule]?.manipulators[s.manipulator])}</div>
        </li>
      ))}
    </ul>
  );
}

/** Rules from the gallery tried where they would be added: add them, or stop; what they change. */
function TrialBox({ store }: { store: Store }) {
  const trial = store.trial;
  const found = useMemo(() => (trial ? trialFindings(store.simRules, trial.rules.map((r) => simRuleOf(r, true)), trial.at, store.simProfile) : undefined),
    [store.simRules, trial, store.simProfile]);
  if (!trial || !found) return null;
  const at = Math.min(trial.at, store.ruleSet.rules.length);
  return (
    <section class="trial" aria-labelledby="trial-heading">
      <h3 id="trial-heading">{t('trial.heading', { title: visibleText(trial.title.trim()), n: trial.rules.length, at: at + 1 })}</h3>
      <div class="row wrap">
        <button type="button" class="primary small" onClick={() => {
          store.addRules(trial.objects, trial.at);
          store.set({ notice: { kind: 'info', text: t('gallery.added', { n: trial.objects.length, at: at + 1 }) } });
        }}>{t('trial.add', { n: trial.rules.length, at: at + 1 })}</button>
        <button type="button" class="small" onClick={() => store.stopTrying()}>{t('trial.stop')}</button>
        <button type="button" class="small" onClick={() => store.showView('gallery')}>{t('trial.back')}</button>
      </div>
      <p class="hint">{t('trial.hint')}</p>
      <details class="options">
        <summary>{t('gallery.findings', { never: found.shadowed.length, keeps: found.shadows.length })}</summary>
        <h4>{t('trial.shadowed', { n: found.shadowed.length })}</h4>
        {found.shadowed.length ? <ShadowItems store={store} shadows={found.shadowed} /> : <p class="hint">{t('trial.noShadowed')}</p>}
        <h4>{t('trial.shadows', { n: found.shadows.length })}</h4>
        {found.shadows.length ? <ShadowItems store={store} shadows={found.shadows} /> : <p class="hint">{t('trial.noShadows')}</p>}
      </details>
    </section>
  );
}

function Shadows({ store }: { store: Store }) {
  const shadows = useMemo(() => findShadows(store.triedRules, store.simProfile), [store.triedRules, store.simProfile]);
  return (
    <section aria-labelledby="shadows-heading">
      <h3 id="shadows-heading">{t('sim.shadows')}</h3>
      {!shadows.length ? <p class="hint">{t('sim.noShadows')}</p> : <ShadowItems store={store} shadows={shadows} />}
    </section>
  );
}

/** The box that takes keys: Tab and every other key are pressed; Esc leaves it. */
function Capture({ store }: { store: Store }) {
  const sim = store.sim;
  const [chord, setChord] = useState<KeyRef[]>([]);
  const [together, setTogether] = useState(false);
  const [recording, setRecording] = useState<{ start: number; tokens: string[] } | undefined>(undefined);
  const box = useRef<HTMLDivElement>(null);
  const sequence = sim.mode === 'sequence';
  const seqId = useId('sequence');
  const onKey = (down: boolean) => (e: KeyboardEvent) => {
    if (e.key === 'Escape') {
      if (down) { setRecording(undefined); box.current?.blur(); }
      return;
    }
    const name = keyFromEventCode(e.code);
    if (!name) return;
    e.preventDefault();
    e.stopPropagation();
    if (e.repeat) return;
    if (sequence) {
      if (!recording) return;
      const at = Math.round(performance.now() - recording.start);
      const start = recording.tokens.length ? recording.start : performance.now();
      const tokens = [...recording.tokens, `${name}${down ? '↓' : '↑'} ${recording.tokens.length ? at : 0}`];
      setRecording({ start, tokens });
      store.simSetSequence(tokens.join(', '));
      return;
    }
    const ref = { field: 'key_code' as const, name };
    const flag = flagOf(`key_code:${name}`);
    // Modifiers go down and up as pressed, for the keys pressed meanwhile.
    if (MODIFIER_KEYS.has(name) && flag) {
      if (down !== store.simSession.down.includes(flagKey(flag))) store.simModifier(flag);
      return;
    }
    if (!down) return;
    if (together) setChord((c) => (c.some((k) => k.name === name) ? c : [...c, ref]));
    else store.simPress([ref]);
  };
  const label = sequence ? (recording ? t('sim.recording') : t('sim.captureSequence')) : together && chord.length ? chord.map((k) => keyLabel(k.name)).join(' + ') : t('sim.capture');
  return (
    <>
      <div ref={box} class={`capture${recording ? ' recording' : ''}`} tabIndex={0} role="textbox" aria-label={t('sim.capture')} aria-readonly="true"
        onKeyDown={onKey(true)} onKeyUp={onKey(false)} onBlur={() => setRecording(undefined)}>
        {label}
      </div>
      {!sequence && (
        <div class="row wrap">
          <label class="check inline"><input type="checkbox" checked={together} onChange={(e) => { setTogether((e.currentTarget as HTMLInputElement).checked); setChord([]); }} />{t('sim.together')}</label>
          {together && <>
            <button type="button" class="primary small" disabled={!chord.length} onClick={() => { store.simPress(chord); setChord([]); }}>{t('sim.pressTogether')}</button>
            <button type="button" class="small" onClick={() => setChord([])}>{t('sim.clear')}</button>
          </>}
        </div>
      )}
      {sequence && (
        <div class="sequence">
          <label class="fieldlabel" for={seqId}>{t('sim.sequenceLabel')}</label>
          <textarea id={seqId} class="mono" rows={2} value={sim.sequence} aria-invalid={sim.sequenceError ? 'true' : undefined}
            onInput={(e) => store.simSetSequence((e.currentTarget as HTMLTextAreaElement).value)} />
          {sim.sequenceError && <p class="error" role="alert">{t(`sim.seqError.${sim.sequenceError.error}`, { token: sim.sequenceError.token })}</p>}
          <p class="hint">{t('sim.sequenceHint')}</p>
          <div class="row wrap">
            <button type="button" class="primary small" onClick={() => store.simSequence()}>{t('sim.run')}</button>
            <button type="button" class="small" aria-pressed={!!recording} onClick={() => {
              if (recording) { setRecording(undefined); return; }
              setRecording({ start: performance.now(), tokens: [] });
              box.current?.focus();
            }}>{recording ? t('sim.stopRecording') : t('sim.record')}</button>
            <button type="button" class="small" onClick={() => store.simSequence('a↓ 0, s↓ 30, a↑ 60, s↑ 90')}>{t('sim.exampleRoll')}</button>
            <button type="button" class="small" onClick={() => store.simSequence('f↓ 0, j↓ 80, f↑ 120, j↑ 150')}>{t('sim.exampleOverlap')}</button>
          </div>
        </div>
      )}
    </>
  );
}

export function Simulator({ store }: { store: Store }) {
  const sim = store.sim;
  const ctx = sim.context;
  const session = store.simSession;
  const appId = useId('simapp');
  const kbId = useId('simkb');
  const srcId = useId('simsrc');
  const devId = useId('simdev');
  const variables = { ...ctx.variables, ...session.variables };
  const down = session.down;
  const next = session.next;
  const dropped = session.dropped;
  const profileKb = store.simProfile?.keyboardType;
  return (
    <section class="simulator" aria-labelledby="sim-heading">
      <h2 id="sim-heading">{t('sim.heading')}</h2>
      <p class="hint">{t('sim.intro')}</p>
      <TrialBox store={store} />
      <div class="row wrap">
        <span class="seg" role="radiogroup" aria-label={t('sim.pressKind')}>
          {(['tap', 'hold', 'sequence'] as const).map((m) => (
            <label key={m}><input type="radio" name="simmode" checked={sim.mode === m} onChange={() => store.simMode(m)} />{t(`sim.${m}`)}</label>
          ))}
        </span>
        {next !== undefined && sim.mode !== 'sequence' && <button type="button" class="small" onClick={() => store.simWait()}>{t('sim.wait', { ms: Math.max(0, next - session.clock) })}</button>}
        <button type="button" class="small" onClick={() => store.simReset()}>{t('sim.reset')}</button>
      </div>
      <Capture store={store} />
      {down.length > 0 && sim.mode !== 'sequence' && (
        <div class="row wrap down">
          <span class="fieldlabel">{t('sim.downKeys')}</span>
          {down.map((k) => (
            <button type="button" key={k} class="chip" aria-pressed="true" onClick={() => store.simRelease(k)} aria-label={t('sim.release', { key: keyText(k) })}>
              {keyText(k)} ✕
            </button>
          ))}
        </div>
      )}
      <h3>{t('sim.results')}</h3>
      {!sim.log.length && <p class="hint">{t('sim.none')}</p>}
      <ol class="simlog" aria-live="polite">
        {sim.log.slice(0, 8).map((e) => <Entry key={e.id} store={store} e={e} rules={store.triedRules} lang={store.lang} />)}
      </ol>
      {sim.log[0]?.action === 'sequence' && <p class="hint">{t('sim.asTyped', { seq: formatSequence(session.steps) })}</p>}
      {sim.mode !== 'sequence' && (
        <fieldset>
          <legend>{t('sim.heldMods')}</legend>
          <span class="mods">
            {FLAGS.filter((f): f is Exclude<Flag, 'caps_lock'> => f !== 'caps_lock').map((f) => (
              <button type="button" key={f} class="chip" aria-pressed={down.includes(flagKey(f))} onClick={() => store.simModifier(f)}>
                {f === 'fn' ? 'fn' : <>{modifierSymbols([f])} <span class="chipname">{f.replace(/_/g, ' ')}</span></>}
              </button>
            ))}
          </span>
        </fieldset>
      )}
      <fieldset>
        <legend>{t('sim.context')}</legend>
        <div class="row wrap">
          <label class="fieldlabel" for={appId}>{t('sim.app')}</label>
          <input id={appId} list="tarvel-sim-apps" class="mono" value={ctx.app?.bundle_identifier ?? ''} placeholder="com.apple.Terminal"
            onInput={(e) => { const v = (e.currentTarget as HTMLInputElement).value.trim(); const a = store.apps.find((x) => x.bundleId === v); store.simEnv({ app: v ? { bundle_identifier: v, ...(a?.path ? { file_path: a.path } : {}) } : undefined }); }} />
          <datalist id="tarvel-sim-apps">{store.apps.filter((a) => a.bundleId).map((a) => <option key={a.key} value={a.bundleId}>{a.name}</option>)}</datalist>
        </div>
        <div class="row wrap">
          <label class="fieldlabel" for={devId}>{t('sim.device')}</label>
          <select id={devId} value={store.devices.findIndex((d) => JSON.stringify(d.identifiers) === JSON.stringify(ctx.device)).toString()}
            onChange={(e) => { const i = Number((e.currentTarget as HTMLSelectElement).value); store.simEnv({ device: i >= 0 ? { ...store.devices[i].identifiers } : { is_keyboard: true, is_built_in_keyboard: true } }); }}>
            <option value="-1">{t('sim.builtIn')}</option>
            {store.devices.map((d, i) => <option key={i} value={String(i)}>{d.name ?? `${valueText(d.identifiers.vendor_id)}/${valueText(d.identifiers.product_id)}`}</option>)}
          </select>
          {(['vendor_id', 'product_id'] as const).map((f) => (
            <label class="inline" key={f}>{t(`device.${f}`)}
              <input class="ms" type="number" value={typeof ctx.device[f] === 'number' ? ctx.device[f] : ''}
                onInput={(e) => { const v = (e.currentTarget as HTMLInputElement).value; const d = { ...ctx.device }; if (v) d[f] = Number(v); else delete d[f]; store.simEnv({ device: d }); }} />
            </label>
          ))}
        </div>
        <div class="row wrap">
          <label class="fieldlabel" for={kbId}>{t('sim.keyboardType')}</label>
          <select id={kbId} value={!sim.keyboardTypeChosen && profileKb ? profileKb : ctx.keyboardType} onChange={(e) => store.simEnv({ keyboardType: (e.currentTarget as HTMLSelectElement).value })}>
            {(['ansi', 'iso', 'jis'] as const).map((k) => <option key={k} value={k}>{k.toUpperCase()}{k === profileKb ? ` ${t('sim.fromProfile')}` : ''}</option>)}
          </select>
          <label class="fieldlabel" for={srcId}>{t('sim.inputSource')}</label>
          <input id={srcId} class="mono" value={ctx.inputSource.input_source_id ?? ctx.inputSource.language ?? ''} placeholder="com.apple.keylayout.US"
            onInput={(e) => { const v = (e.currentTarget as HTMLInputElement).value.trim(); store.simEnv({ inputSource: v ? (v.includes('.') ? { input_source_id: v, ...(ctx.inputSource.language ? { language: ctx.inputSource.language } : {}) } : { language: v }) : {} }); }} />
          <select class="small" aria-label={t('sim.presets')} value="" onChange={(e) => {
            const p = INPUT_SOURCE_PRESETS[Number((e.currentTarget as HTMLSelectElement).value)];
            if (!p) return;
            const src: Record<string, string> = {};
            for (const [k, v] of Object.entries(p[1])) if (isStr(v)) src[k] = v.replace(/^\^|\$$/g, '').replace(/\\(.)/g, '$1').replace(/\(US\|ABC\)/, 'US');
            store.simEnv({ inputSource: src });
          }}>
            <option value="">{t('sim.presets')}</option>
            {INPUT_SOURCE_PRESETS.map(([label], i) => <option key={i} value={String(i)}>{t(label)}</option>)}
          </select>
        </div>
        <div class="row wrap">
          <label class="check inline"><input type="checkbox" checked={!!ctx.capsLock} onChange={(e) => store.simEnv({ capsLock: (e.currentTarget as HTMLInputElement).checked })} />{t('sim.capsLock')}</label>
          <label class="check inline"><input type="checkbox" checked={!!ctx.standardFunctionKeys} onChange={(e) => store.simEnv({ standardFunctionKeys: (e.currentTarget as HTMLInputElement).checked })} />{t('sim.fkeys')}</label>
        </div>
        {store.simProfile && <p class="hint">{t('sim.profileIn', {
          simple: store.simProfile.simpleModifications?.length ?? 0, fn: store.simProfile.fnFunctionKeys?.length ?? 0,
          params: Object.keys(store.simProfile.parameters ?? {}).length,
        })}</p>}
      </fieldset>
      <fieldset>
        <legend>{t('sim.variables')}</legend>
        {!Object.keys(variables).length && <p class="hint">{t('sim.noVariables')}</p>}
        <ul class="variables">
          {Object.entries(variables).map(([name, v]) => (
            <li key={name}><code>{name}</code> = <input class="mono ms" aria-label={name} value={valueText(v)}
              onChange={(e) => { const x = parseValue((e.currentTarget as HTMLInputElement).value); if (typeof x === 'number' || typeof x === 'boolean' || typeof x === 'string') store.simVariable(name, x); }} /></li>
          ))}
        </ul>
      </fieldset>
      {dropped.length > 0 && (
        <details class="dropped">
          <summary>{t('sim.dropped', { n: dropped.length })}</summary>
          <ul>{dropped.slice(0, 50).map((d, i) => <li key={i}><PlaceRef store={store} place={d.place} />: <code class="mono">{d.why}</code></li>)}</ul>
        </details>
      )}
      <Shadows store={store} />
    </section>
  );
}
