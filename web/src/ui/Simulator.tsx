// "Try it": press keys (or click the picture) and see which manipulator of which rule takes them and
// what it sends, over every rule Apply will write.
import { useMemo, useState } from 'preact/hooks';
import { t } from '../i18n';
import { eventCommands, visibleText } from '../model/commands';
import { isObj, isStr, type JsonObject } from '../model/json';
import { keyFromEventCode, keyLabel, modifierSymbols } from '../model/keys';
import type { KeyRef } from '../model/manipulator';
import { FLAGS, findShadows, type Flag, type SimResult } from '../model/simulate';
import { describeManipulator, eventText, scopeText } from '../model/summary';
import type { Store } from '../store';
import { INPUT_SOURCE_PRESETS, useId, valueText, parseValue } from './fields';

function RuleRef({ store, rule, manipulator }: { store: Store; rule: number; manipulator: number }) {
  const r = store.simRules[rule];
  if (!r) return null;
  const id = r.mappingIds?.[manipulator];
  const at = store.locate(id);
  const name = r.kept ? t('list.keptRule', { name: r.name }) : r.name || String(rule + 1);
  const label = t('sim.where', { rule: name, n: at ? at.index + 1 : manipulator + 1 });
  return id ? <button type="button" class="link" onClick={() => store.select(id)}>{label}</button> : <span>{label}</span>;
}

const WHEN: Record<string, string> = { down: 'sim.down', held: 'sim.held', alone: 'sim.alone', up: 'sim.up' };

function Outcome({ store, r }: { store: Store; r: SimResult }) {
  const pressed = r.pressed.map((k) => keyLabel(k.name)).join(' + ');
  const held = modifierSymbols(r.heldExtra);
  const down = modifierSymbols(r.held);
  const man = r.rule !== undefined && r.manipulator !== undefined ? store.simRules[r.rule]?.manipulators[r.manipulator] : undefined;
  return (
    <li class="outcome">
      <p><strong>{down}{pressed}</strong>{r.hold ? ` (${t('sim.hold')})` : ''}{' '}
        {man ? <>→ <RuleRef store={store} rule={r.rule as number} manipulator={r.manipulator as number} /></> : <span class="hint">{t('sim.passes')}</span>}
      </p>
      {man && <p class="hint">{describeManipulator(man)}</p>}
      <ul class="phases">
        {r.phases.map((ph, i) => (
          <li key={i}><span class="fieldlabel">{t(WHEN[ph.when])}</span> {ph.events.map((e, j) => (
            <span key={j} class="sent">{held && e.key_code !== undefined && !isObj(e.set_variable) ? held : ''}{eventText(e)}{e.lazy === true ? ` ${t('sim.lazy')}` : ''}
              {eventCommands(e, '').map((c, k) => <code key={k} class="mono"> {visibleText(c.text)}</code>)}</span>
          ))}</li>
        ))}
        {r.canceled.length > 0 && <li><span class="fieldlabel">{t('sim.canceled')}</span> {r.canceled.map(eventText).join(', ')}</li>}
      </ul>
      {r.skipped.length > 0 && (
        <details>
          <summary>{t('sim.skipped', { n: r.skipped.length })}</summary>
          <ul>
            {r.skipped.map((s, i) => (
              <li key={i}><RuleRef store={store} rule={s.rule} manipulator={s.manipulator} />: {s.reason === 'modifiers' ? t('sim.needsMods') : t('sim.needsCondition', { c: scopeText([s.condition as JsonObject]).join('') || JSON.stringify(s.condition) })}</li>
            ))}
          </ul>
        </details>
      )}
      {r.assumed.length > 0 && <p class="hint">{t('sim.assumed', { n: r.assumed.length })}</p>}
    </li>
  );
}

function Shadows({ store }: { store: Store }) {
  const shadows = useMemo(() => findShadows(store.simRules), [store.simRules]);
  return (
    <section aria-labelledby="shadows-heading">
      <h3 id="shadows-heading">{t('sim.shadows')}</h3>
      {!shadows.length ? <p class="hint">{t('sim.noShadows')}</p> : (
        <ul class="shadows">
          {shadows.slice(0, 200).map((s, i) => (
            <li key={i}>
              <RuleRef store={store} rule={s.rule} manipulator={s.manipulator} /> {t('sim.shadowedBy')} <RuleRef store={store} rule={s.byRule} manipulator={s.byManipulator} />
              <div class="hint">{describeManipulator(store.simRules[s.rule].manipulators[s.manipulator])}</div>
            </li>
          ))}
        </ul>
      )}
    </section>
  );
}

export function Simulator({ store }: { store: Store }) {
  const sim = store.sim;
  const env = sim.env;
  const [chord, setChord] = useState<KeyRef[]>([]);
  const [together, setTogether] = useState(false);
  const captureId = useId('capture');
  const appId = useId('simapp');
  const kbId = useId('simkb');
  const srcId = useId('simsrc');
  const devId = useId('simdev');
  const press = (keys: KeyRef[]) => { if (keys.length) store.simPress(keys); };
  const toggleHeld = (f: Flag) => store.simEnv({ held: env.held.includes(f) ? env.held.filter((x) => x !== f) : [...env.held, f] });
  const variables = Object.entries(env.variables);
  const onCapture = (e: KeyboardEvent) => {
    if (e.key === 'Tab') return;
    const key = keyFromEventCode(e.code);
    if (!key) return;
    e.preventDefault();
    e.stopPropagation();
    if (e.repeat) return;
    const ref = { field: 'key_code' as const, name: key };
    if (together) setChord((c) => (c.some((k) => k.name === key) ? c : [...c, ref]));
    else press([ref]);
  };
  const appValue = env.app?.bundleId ?? '';
  const down = env.down ?? [];
  return (
    <section class="simulator" aria-labelledby="sim-heading">
      <h2 id="sim-heading">{t('sim.heading')}</h2>
      <p class="hint">{t('sim.intro')}</p>
      <div class="row wrap">
        <span class="seg" role="radiogroup" aria-label={t('sim.pressKind')}>
          <label><input type="radio" name="simhold" checked={!sim.hold} onChange={() => store.set({ sim: { ...sim, hold: false } })} />{t('sim.tap')}</label>
          <label><input type="radio" name="simhold" checked={sim.hold} onChange={() => store.set({ sim: { ...sim, hold: true } })} />{t('sim.hold')}</label>
        </span>
        <label class="check inline"><input type="checkbox" checked={together} onChange={(e) => { setTogether((e.currentTarget as HTMLInputElement).checked); setChord([]); }} />{t('sim.together')}</label>
        {sim.pending.length > 0 && <button type="button" class="small" onClick={() => store.simWait()}>{t('sim.wait', { n: sim.pending.length })}</button>}
        <button type="button" class="small" onClick={() => store.simReset()}>{t('sim.reset')}</button>
      </div>
      <div id={captureId} class="capture" tabIndex={0} role="textbox" aria-label={t('sim.capture')} aria-readonly="true" onKeyDown={onCapture}>
        {together && chord.length ? chord.map((k) => keyLabel(k.name)).join(' + ') : t('sim.capture')}
      </div>
      {together && (
        <div class="row">
          <button type="button" class="primary small" disabled={!chord.length} onClick={() => { press(chord); setChord([]); }}>{t('sim.pressTogether')}</button>
          <button type="button" class="small" onClick={() => setChord([])}>{t('sim.clear')}</button>
        </div>
      )}
      {down.length > 0 && (
        <div class="row wrap down">
          <span class="fieldlabel">{t('sim.downKeys')}</span>
          {down.map((d, i) => (
            <button type="button" key={i} class="chip" aria-pressed="true" onClick={() => store.simRelease(d)}
              aria-label={t('sim.release', { key: d.pressed.map((k) => keyLabel(k.name)).join(' + ') })}>
              {d.pressed.map((k) => keyLabel(k.name)).join(' + ')} {modifierSymbols(d.flags)} ✕
            </button>
          ))}
        </div>
      )}
      <h3>{t('sim.results')}</h3>
      {!sim.log.length && <p class="hint">{t('sim.none')}</p>}
      <ol class="simlog" aria-live="polite">
        {sim.log.slice(0, 8).map((r, i) => <Outcome key={sim.log.length - i} store={store} r={r} />)}
      </ol>
      <fieldset>
        <legend>{t('sim.heldMods')}</legend>
        <span class="mods">
          {FLAGS.map((f) => (
            <button type="button" key={f} class="chip" aria-pressed={env.held.includes(f)} onClick={() => toggleHeld(f)}>
              {f === 'fn' ? 'fn' : <>{f === 'caps_lock' ? '⇪' : modifierSymbols([f])} <span class="chipname">{f.replace(/_/g, ' ')}</span></>}
            </button>
          ))}
        </span>
      </fieldset>
      <fieldset>
        <legend>{t('sim.context')}</legend>
        <div class="row wrap">
          <label class="fieldlabel" for={appId}>{t('sim.app')}</label>
          <input id={appId} list="tarvel-sim-apps" class="mono" value={appValue} placeholder="com.apple.Terminal"
            onInput={(e) => { const v = (e.currentTarget as HTMLInputElement).value.trim(); const a = store.apps.find((x) => x.bundleId === v); store.simEnv({ app: v ? { bundleId: v, path: a?.path } : undefined }); }} />
          <datalist id="tarvel-sim-apps">{store.apps.filter((a) => a.bundleId).map((a) => <option key={a.key} value={a.bundleId}>{a.name}</option>)}</datalist>
        </div>
        <div class="row wrap">
          <label class="fieldlabel" for={devId}>{t('sim.device')}</label>
          <select id={devId} value={store.devices.findIndex((d) => JSON.stringify(d.identifiers) === JSON.stringify(env.device)).toString()}
            onChange={(e) => { const i = Number((e.currentTarget as HTMLSelectElement).value); store.simEnv({ device: i >= 0 ? store.devices[i].identifiers : { is_keyboard: true, is_built_in_keyboard: true } }); }}>
            <option value="-1">{t('sim.builtIn')}</option>
            {store.devices.map((d, i) => <option key={i} value={String(i)}>{d.name ?? `${valueText(d.identifiers.vendor_id)}/${valueText(d.identifiers.product_id)}`}</option>)}
          </select>
          {(['vendor_id', 'product_id'] as const).map((f) => (
            <label class="inline" key={f}>{t(`device.${f}`)}
              <input class="ms" type="number" value={typeof env.device?.[f] === 'number' ? env.device[f] as number : ''}
                onInput={(e) => { const v = (e.currentTarget as HTMLInputElement).value; const d = { ...(env.device ?? {}) }; if (v) d[f] = Number(v); else delete d[f]; store.simEnv({ device: d }); }} />
            </label>
          ))}
        </div>
        <div class="row wrap">
          <label class="fieldlabel" for={kbId}>{t('sim.keyboardType')}</label>
          <select id={kbId} value={env.keyboardType ?? 'ansi'} onChange={(e) => store.simEnv({ keyboardType: (e.currentTarget as HTMLSelectElement).value as 'ansi' })}>
            {(['ansi', 'iso', 'jis'] as const).map((k) => <option key={k} value={k}>{k.toUpperCase()}</option>)}
          </select>
          <label class="fieldlabel" for={srcId}>{t('sim.inputSource')}</label>
          <input id={srcId} class="mono" value={env.inputSource?.input_source_id ?? env.inputSource?.language ?? ''} placeholder="com.apple.keylayout.US"
            onInput={(e) => { const v = (e.currentTarget as HTMLInputElement).value.trim(); store.simEnv({ inputSource: v ? (v.includes('.') ? { input_source_id: v, language: env.inputSource?.language } : { language: v }) : undefined }); }} />
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
      </fieldset>
      <fieldset>
        <legend>{t('sim.variables')}</legend>
        {!variables.length && <p class="hint">{t('sim.noVariables')}</p>}
        <ul class="variables">
          {variables.map(([name, v]) => (
            <li key={name}><code>{name}</code> = <input class="mono ms" aria-label={name} value={valueText(v)}
              onInput={(e) => store.simEnv({ variables: { ...env.variables, [name]: parseValue((e.currentTarget as HTMLInputElement).value) } })} /></li>
          ))}
        </ul>
      </fieldset>
      <Shadows store={store} />
    </section>
  );
}
