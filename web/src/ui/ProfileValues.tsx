// The rest of the profile: simple modifications (for the whole profile and per device), function
// keys, the complex-modification parameters and the devices. Each value edited here goes to the
// next apply on its own; the file keeps everything else.
import { useState } from 'preact/hooks';
import { t } from '../i18n';
import { isObj, isStr, type Json, type JsonObject } from '../model/json';
import { withKey } from '../model/manipulator';
import { listValue, objectValue } from '../model/profile';
import { eventsOf, keyFieldOf } from '../model/shapes';
import { eventText } from '../model/summary';
import type { ValuePath } from '../model/types';
import { PARAMETERS, type KeyField as KeyFieldName } from '../model/vocabulary';
import type { Store } from '../store';
import { Disclosure, EventList, KeyField, KeyRefField, NumberField, valueText } from './fields';

/** A device as the profile lists it: its place, vendor and product, and what kind of device. */
export function deviceName(d: JsonObject | undefined, index: number): string {
  const id = d && isObj(d.identifiers) ? d.identifiers : {};
  const kinds = (['is_keyboard', 'is_pointing_device', 'is_game_pad', 'is_consumer'] as const).filter((k) => id[k] === true).map((k) => t(`device.kind.${k}`));
  const ids = [id.vendor_id, id.product_id].filter((v) => v !== undefined).map((v) => valueText(v)).join('/');
  return [t('values.deviceN', { n: index + 1 }), ids, kinds.join(', ')].filter(Boolean).join(' · ');
}

/** One simple modification (or function key) on a line; its editor only once asked for, so that
 * a profile with many devices and function keys shows at once. */
function Entry({ store, entry, label, summary, onChange, onRemove }: {
  store: Store; entry: JsonObject; label: string; summary: string; onChange: (e: JsonObject, typing?: string) => void; onRemove: () => void;
}) {
  const [open, setOpen] = useState(false);
  const from = isObj(entry.from) ? entry.from : {};
  const field: KeyFieldName = keyFieldOf(from) ?? 'key_code';
  const name = isStr(from[field]) ? from[field] : '';
  return (
    <li class="simplemod">
      <div class="row wrap">
        <code class="grow">{summary}</code>
        <button type="button" class="icon" aria-expanded={open} aria-label={`${label}: ${t('values.edit')}`} title={t('values.edit')} onClick={() => setOpen(!open)}>✎</button>
        <button type="button" class="icon" aria-label={`${label}: ${t('action.remove')}`} title={t('action.remove')} onClick={onRemove}>✕</button>
      </div>
      {open && (
        <>
          <div class="row wrap">
            <span class="fieldlabel">{t('values.from')}</span>
            <KeyRefField store={store} field={field} value={name} label={`${label}: ${t('values.from')}`} compact
              onChange={(f, k, typing) => onChange({ ...entry, from: { ...Object.fromEntries(Object.entries(from).filter(([x]) => x !== field)), [f]: k } }, typing ? 'from' : undefined)} />
          </div>
          <EventList store={store} label={`${label}: ${t('values.to')}`} value={entry.to} problems={[]} at="to"
            onChange={(v, typing) => onChange(withKey(entry, 'to', v === undefined ? [] : Array.isArray(v) ? v : [v]), typing && `to:${typing}`)} />
        </>
      )}
    </li>
  );
}

/** A list of simple modifications or function keys, edited where it is. */
function ModList({ store, path, label, hint }: { store: Store; path: ValuePath; label: string; hint?: string }) {
  const list = listValue(store.value(path) ?? []);
  const [from, setFrom] = useState('');
  const [to, setTo] = useState('');
  const set = (next: Json, typing?: string) => store.setValue(path, next, typing);
  // A new entry goes in once both of its keys are there: the file never gets half of one.
  const add = () => {
    set([...list, { from: { key_code: from }, to: [{ key_code: to }] }]);
    setFrom('');
    setTo('');
  };
  return (
    <fieldset class="modlist">
      <legend>{label} ({list.length})</legend>
      {hint && <p class="hint">{hint}</p>}
      {list.length > 0 && (
        <ol class="simplemods">
          {list.map((e, i) => {
            const to = eventsOf(e.to);
            const summary = `${isObj(e.from) ? valueText(Object.values(e.from)[0]) : '?'} → ${to.length ? to.map(eventText).join(', ') : t('summary.nothing')}`;
            return (
              <Entry key={i} store={store} entry={e} label={`${label} ${i + 1}`} summary={summary}
                onChange={(x, typing) => set(list.map((y, j) => (j === i ? x : y)), typing && `${i}:${typing}`)} onRemove={() => set(list.filter((_, j) => j !== i))} />
            );
          })}
        </ol>
      )}
      <div class="row wrap addmod">
        <span class="fieldlabel">{t('values.add')}</span>
        <KeyField store={store} compact value={from} label={`${label}: ${t('values.newFrom')}`} onChange={setFrom} />
        <span aria-hidden="true">→</span>
        <KeyField store={store} compact value={to} label={`${label}: ${t('values.newTo')}`} onChange={setTo} />
        <button type="button" class="small" disabled={!from || !to} aria-label={`${label}: ${t('values.addButton')}`} onClick={add}>{t('values.addButton')}</button>
      </div>
    </fieldset>
  );
}

function Parameters({ store }: { store: Store }) {
  const path: ValuePath = ['complex_modifications', 'parameters'];
  const p = objectValue(store.value(path) ?? {});
  return (
    <fieldset>
      <legend>{t('values.complex_modifications')}</legend>
      <p class="hint">{t('values.parametersHint')}</p>
      <div class="row wrap">
        {Object.entries(PARAMETERS).map(([k, d]) => (
          <NumberField key={k} label={t(`param.${k}`)} value={p[k]} placeholder={String(d.default)}
            onChange={(v) => store.setValue(path, withKey(p, k, v), k)} />
        ))}
      </div>
    </fieldset>
  );
}

/** What else the file says about a device, as it says it. */
const otherSettings = (d: JsonObject): string =>
  Object.entries(d).filter(([k]) => !['identifiers', 'simple_modifications', 'fn_function_keys'].includes(k)).map(([k, v]) => `${k}: ${valueText(v)}`).join(', ');

export function ProfileValues({ store }: { store: Store }) {
  const profile = store.profile;
  if (!profile) return null;
  return (
    <div class="profilevalues">
      <h3>{t('values.heading')}</h3>
      <ModList store={store} path={['simple_modifications']} label={t('values.simple_modifications')} hint={t('values.simpleHint')} />
      <ModList store={store} path={['fn_function_keys']} label={t('values.fn_function_keys')} hint={t('values.fnHint')} />
      <Parameters store={store} />
      <fieldset>
        <legend>{t('values.devices')} ({profile.deviceSettings.length})</legend>
        {!profile.deviceSettings.length && <p class="hint">{t('values.noDevices')}</p>}
        {profile.deviceSettings.map((d, i) => {
          const name = deviceName(d, i);
          const other = otherSettings(d);
          const own = listValue(store.value(['devices', i, 'simple_modifications']) ?? []).length;
          return (
            <Disclosure key={i} summary={own ? `${name} · ${t('values.deviceOwn', { n: own })}` : name}>
              {() => (
                <>
                  {other && <p class="hint mono">{other}</p>}
                  <ModList store={store} path={['devices', i, 'simple_modifications']} label={`${name}: ${t('values.simple_modifications')}`} />
                  <ModList store={store} path={['devices', i, 'fn_function_keys']} label={`${name}: ${t('values.fn_function_keys')}`} />
                </>
              )}
            </Disclosure>
          );
        })}
      </fieldset>
      {profile.keyboardType && <p class="hint">{t('values.keyboardType', { type: profile.keyboardType })}</p>}
    </div>
  );
}
