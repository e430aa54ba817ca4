// Field editors shared by the forms. Each edits one part of a manipulator (a key, a trigger, a list
// of events, the conditions, the timing) and writes back only what the user changed.
import { useEffect, useMemo, useRef, useState } from 'preact/hooks';
import type { ComponentChildren } from 'preact';
import { t } from '../i18n';
import { appEvent, shortcutEvent } from '../model/actions';
import { AppOpenerChoice } from './AppOpener';
import { appRef, filterApps, findEntry, type AppEntry } from '../model/apps';
import type { Problem } from '../model/check';
import { eventCommands, SHORTCUTS_RUN, visibleText } from '../model/commands';
import { layerLabel } from '../model/forms';
import { isObj, isStr, type Json, type JsonObject } from '../model/json';
import { GENERIC_MODIFIERS, HYPER, keyLabel, modifierSymbols } from '../model/keys';
import { withKey } from '../model/manipulator';
import { eventKind, keyFieldOf } from '../model/shapes';
import { shellWords, unescapeExactRegex, exactRegex } from '../model/shell';
import type { AppRef } from '../model/types';
import {
  ANY_VALUES, DEVICE_FIELDS, KEY_FIELDS, KEYBOARD_TYPES, keyNames, PARAMETERS, SIMULTANEOUS_OPTIONS,
  SOFTWARE_FUNCTIONS, STICKY_VALUES, type KeyField,
} from '../model/vocabulary';
import type { Store } from '../store';

let uid = 0;
export const useId = (prefix: string): string => useMemo(() => `${prefix}-${++uid}`, []);
const names = (v: Json | undefined): string[] => (isStr(v) ? [v] : Array.isArray(v) ? v.filter(isStr) : []);
const inputValue = (e: Event) => (e.currentTarget as HTMLInputElement).value;

export function Problems({ problems, at, exact }: { problems: Problem[]; at: string | string[]; exact?: boolean }) {
  const prefixes = Array.isArray(at) ? at : [at];
  const mine = problems.filter((p) => prefixes.some((a) => p.path === a || (!exact && (p.path.startsWith(`${a}.`) || p.path.startsWith(`${a}[`)))));
  if (!mine.length) return null;
  return (
    <ul class="problems" role="status">
      {mine.map((p, i) => <li key={i} class={p.severity}>{t(p.code, p.params)}</li>)}
    </ul>
  );
}

/** A <details> whose content is only built once it is opened: long forms stay quick to show. */
export function Disclosure({ summary, open, children }: { summary: string; open?: boolean; children: () => ComponentChildren }) {
  const [shown, setShown] = useState(!!open);
  return (
    <details class="options" open={shown} onToggle={(e) => setShown((e.currentTarget as HTMLDetailsElement).open)}>
      <summary>{summary}</summary>
      {shown && children()}
    </details>
  );
}

export function Section({ legend, children, hint }: { legend: string; children: ComponentChildren; hint?: string }) {
  return (
    <fieldset>
      <legend>{legend}</legend>
      {hint && <p class="hint">{hint}</p>}
      {children}
    </fieldset>
  );
}

// ---- keys ----------------------------------------------------------------------------------------

/** Suggestions for key names, one list per field, rendered once. */
export function KeyNameLists() {
  return (
    <>
      {KEY_FIELDS.filter((f) => f !== 'pointing_button').map((f) => (
        <datalist key={f} id={`tarvel-${f}`}>{keyNames(f).map((k) => <option key={k} value={k}>{f === 'key_code' ? keyLabel(k) : k}</option>)}</datalist>
      ))}
      <datalist id="tarvel-pointing_button">{Array.from({ length: 32 }, (_, i) => <option key={i} value={`button${i + 1}`} />)}</datalist>
    </>
  );
}

/** A key name with suggestions, its label, and "press the key" (Esc cancels; a button records Escape). */
export function KeyField({ store, field = 'key_code', value, onChange, label, compact }: {
  store: Store; field?: KeyField; value: string; onChange: (key: string, typing?: boolean) => void; label: string; compact?: boolean;
}) {
  const id = useId('key');
  const listening = store.picking?.fieldId === id;
  useEffect(() => () => { if (store.picking?.fieldId === id) store.set({ picking: undefined }); }, []);
  const toggle = () => store.set({
    picking: listening ? undefined : { fieldId: id, done: (k) => { store.set({ picking: undefined }); onChange(k); } },
  });
  const label2 = field === 'key_code' && value && keyLabel(value) !== value ? keyLabel(value) : '';
  return (
    <span class={`keyfield${compact ? ' compact' : ''}`}>
      <input
        id={id} class="mono" list={`tarvel-${field}`} value={value} aria-label={label} placeholder={t('edit.keyName')}
        style={{ width: `calc(${Math.min(22, Math.max(8, value.length + 2))}ch + 16px)` }}
        spellcheck={false} autocomplete="off" autocapitalize="off"
        onInput={(e) => onChange(inputValue(e).trim(), true)}
      />
      {label2 && <span class="keycap" aria-hidden="true">{label2}</span>}
      {field === 'key_code' && (
        <button type="button" class={`small${listening ? ' listening' : ''}`} aria-pressed={listening} onClick={toggle}
          title={t('edit.pressKey')} aria-label={`${label}: ${t('edit.pressKey')}`}>
          {listening ? t('edit.listening') : compact ? '⌨' : `⌨ ${t('edit.pressKey')}`}
        </button>
      )}
      {listening && (
        <button type="button" class="small" onClick={() => store.picking?.done('escape')}>{t('edit.recordEscape')}</button>
      )}
    </span>
  );
}

const FIELD_LABELS: Record<KeyField, string> = {
  key_code: 'keyField.key_code', consumer_key_code: 'keyField.consumer_key_code', pointing_button: 'keyField.pointing_button',
  apple_vendor_keyboard_key_code: 'keyField.apple_vendor_keyboard_key_code', apple_vendor_top_case_key_code: 'keyField.apple_vendor_top_case_key_code',
  generic_desktop: 'keyField.generic_desktop',
};

/** A key of any kind: keyboard key, media (consumer) key, mouse button, Apple key, desktop usage. */
export function KeyRefField({ store, field, value, onChange, label, compact }: {
  store: Store; field: KeyField; value: string; onChange: (field: KeyField, name: string, typing?: boolean) => void; label: string; compact?: boolean;
}) {
  return (
    <span class="keyref">
      <select aria-label={`${label}: ${t('keyField.kind')}`} value={field} onChange={(e) => onChange((e.currentTarget as HTMLSelectElement).value as KeyField, value)}>
        {KEY_FIELDS.map((f) => <option key={f} value={f}>{t(FIELD_LABELS[f])}</option>)}
      </select>
      <KeyField store={store} field={field} value={value} label={label} compact={compact} onChange={(k, typing) => onChange(field, k, typing)} />
    </span>
  );
}

const SIDED = ['left_control', 'left_option', 'left_shift', 'left_command', 'right_control', 'right_option', 'right_shift', 'right_command', 'caps_lock'];

export function ModsPicker({ value, onChange, label }: { value: string[]; onChange: (v: string[]) => void; label: string }) {
  const shown = [...GENERIC_MODIFIERS, 'fn', ...value.filter((m) => !(GENERIC_MODIFIERS as readonly string[]).includes(m) && m !== 'fn')];
  const hyper = HYPER.every((m) => value.includes(m));
  const toggle = (m: string) => onChange(value.includes(m) ? value.filter((x) => x !== m) : [...value, m]);
  return (
    <span class="mods" role="group" aria-label={label}>
      {shown.map((m) => (
        <button type="button" key={m} class="chip" aria-pressed={value.includes(m)} onClick={() => toggle(m)} title={m}>
          {m === 'fn' ? 'fn' : <>{modifierSymbols([m])} <span class="chipname">{m.replace(/_/g, ' ')}</span></>}
        </button>
      ))}
      <button type="button" class="chip" aria-pressed={hyper}
        onClick={() => onChange(hyper ? value.filter((m) => !HYPER.includes(m)) : [...new Set([...value, ...HYPER])])}>
        {t('edit.hyper')}
      </button>
      <select class="small" aria-label={`${label}: ${t('edit.sided')}`} value="" onChange={(e) => {
        const v = (e.currentTarget as HTMLSelectElement).value;
        if (v && !value.includes(v)) onChange([...value, v]);
      }}>
        <option value="">{t('edit.sided')}</option>
        {SIDED.filter((m) => !value.includes(m)).map((m) => <option key={m} value={m}>{m}</option>)}
      </select>
    </span>
  );
}

// ---- the trigger -----------------------------------------------------------------------------

const defaultOptionalFor = (key: string, mandatory: string[]): string[] =>
  !mandatory.length && ['left_control', 'left_shift', 'left_option', 'left_command', 'right_control', 'right_shift', 'right_option', 'right_command', 'fn', 'caps_lock'].includes(key) ? ['any'] : [];

/** `from`: one key, keys pressed together, or any key of a kind; with its modifiers. */
export function TriggerEditor({ store, from, onChange, problems, at }: {
  store: Store; from: JsonObject; onChange: (from: JsonObject, typing?: string) => void; problems: Problem[]; at: string;
}) {
  const anyId = useId('any');
  const mods = isObj(from.modifiers) ? from.modifiers : {};
  const mandatory = names(mods.mandatory);
  const optional = names(mods.optional);
  const together = Array.isArray(from.simultaneous);
  const anyKind = isStr(from.any) ? from.any : undefined;
  const parts: JsonObject[] = together ? (from.simultaneous as Json[]).filter(isObj) : [from];
  const setMods = (mand: string[], opt: string[]) => {
    const m: JsonObject = { ...mods };
    if (mand.length) m.mandatory = mand; else delete m.mandatory;
    if (opt.length) m.optional = opt; else delete m.optional;
    onChange(withKey(from, 'modifiers', Object.keys(m).length ? m : undefined));
  };
  const setPart = (i: number, field: KeyField, name: string, typing?: boolean) => {
    if (!together) {
      let f: JsonObject = {};
      for (const [k, v] of Object.entries(from)) if (!(KEY_FIELDS as readonly string[]).includes(k)) f[k] = v;
      f = { [field]: name, ...f };
      // A new key gets the usual "other modifiers too" for its kind, unless the user chose otherwise.
      const old = keyFieldOf(from);
      const before = old ? String(from[old]) : '';
      if (!typing && JSON.stringify(optional) === JSON.stringify(defaultOptionalFor(before, mandatory))) {
        const opt = defaultOptionalFor(name, mandatory);
        const m: JsonObject = { ...mods };
        if (opt.length) m.optional = opt; else delete m.optional;
        f = withKey(f, 'modifiers', Object.keys(m).length ? m : undefined);
      }
      onChange(f, typing ? 'from' : undefined);
      return;
    }
    const sim = parts.map((p, j) => (j === i ? { [field]: name } : p));
    onChange(withKey(from, 'simultaneous', sim), typing ? `from.${i}` : undefined);
  };
  const setShape = (shape: string) => {
    const first = parts[0] ?? { key_code: '' };
    const field = keyFieldOf(first) ?? 'key_code';
    const rest: JsonObject = {};
    if (from.modifiers !== undefined) rest.modifiers = from.modifiers;
    if (shape === 'one') onChange({ [field]: first[field] ?? '', ...rest });
    else if (shape === 'together') onChange({ simultaneous: [{ [field]: first[field] ?? '' }, { key_code: '' }], ...rest });
    else onChange({ any: 'key_code', ...rest });
  };
  const options = isObj(from.simultaneous_options) ? from.simultaneous_options : {};
  const setOption = (k: string, v: Json | undefined) => {
    const o = withKey(options, k, v);
    onChange(withKey(from, 'simultaneous_options', Object.keys(o).length ? o : undefined));
  };
  const shapeId = useId('shape');
  return (
    <fieldset class="trigger">
      <legend>{t('edit.trigger')}</legend>
      <div class="row wrap">
        <label class="fieldlabel" for={shapeId}>{t('edit.triggerShape')}</label>
        <select id={shapeId} value={anyKind ? 'any' : together ? 'together' : 'one'} onChange={(e) => setShape((e.currentTarget as HTMLSelectElement).value)}>
          <option value="one">{t('shape.one')}</option>
          <option value="together">{t('shape.together')}</option>
          <option value="any">{t('shape.any')}</option>
        </select>
      </div>
      {anyKind !== undefined ? (
        <div class="row">
          <select aria-label={t('shape.any')} value={anyKind} onChange={(e) => onChange(withKey(from, 'any', (e.currentTarget as HTMLSelectElement).value))}>
            {ANY_VALUES.map((v) => <option key={v} value={v}>{t(FIELD_LABELS[v as KeyField] ?? v)}</option>)}
          </select>
        </div>
      ) : parts.map((p, i) => {
        const field = keyFieldOf(p) ?? 'key_code';
        return (
          <div class="row wrap" key={i}>
            <KeyRefField store={store} field={field} value={String(p[field] ?? '')} label={`${t('edit.trigger')} ${i + 1}`}
              onChange={(f, name, typing) => setPart(i, f, name, typing)} />
            {together && parts.length > 2 && (
              <button type="button" class="small" onClick={() => onChange(withKey(from, 'simultaneous', parts.filter((_, j) => j !== i)))}>{t('edit.removeKey')}</button>
            )}
          </div>
        );
      })}
      {together && (
        <>
          <button type="button" class="link" onClick={() => onChange(withKey(from, 'simultaneous', [...parts, { key_code: '' }]))}>{t('edit.addChordKey')}</button>
          <Disclosure summary={t('edit.simultaneousOptions')} open={Object.keys(options).length > 0}>{() => (
            <>
              {(['key_down_order', 'key_up_order', 'key_up_when'] as const).map((k) => (
                <label class="inline" key={k}>{t(`simopt.${k}`)}
                  <select value={isStr(options[k]) ? options[k] as string : ''} onChange={(e) => setOption(k, (e.currentTarget as HTMLSelectElement).value || undefined)}>
                    <option value="">{t('edit.default')}</option>
                    {(SIMULTANEOUS_OPTIONS[k] as string[]).map((v) => <option key={v} value={v}>{t(`simopt.${v}`)}</option>)}
                  </select>
                </label>
              ))}
              <label class="check">
                <input type="checkbox" checked={options.detect_key_down_uninterruptedly === true}
                  onChange={(e) => setOption('detect_key_down_uninterruptedly', (e.currentTarget as HTMLInputElement).checked ? true : undefined)} />
                {t('simopt.detect_key_down_uninterruptedly')}
              </label>
              <EventList store={store} label={t('simopt.to_after_key_up')} value={options.to_after_key_up} problems={problems} at={`${at}.simultaneous_options.to_after_key_up`}
                onChange={(v) => setOption('to_after_key_up', v)} />
            </>
          )}</Disclosure>
        </>
      )}
      <div class="row wrap">
        <span class="fieldlabel">{t('edit.mods')}</span>
        <ModsPicker value={mandatory} label={t('edit.mods')} onChange={(m) => {
          // Shortcuts do not fire with other modifiers unless asked; modifier remaps do.
          let opt = optional;
          if (!mandatory.length && m.length && optional.length === 1 && optional[0] === 'any') opt = [];
          setMods(m, opt);
        }} />
      </div>
      <label class="check" for={anyId}>
        <input id={anyId} type="checkbox" checked={optional.includes('any')}
          onChange={(e) => setMods(mandatory, (e.currentTarget as HTMLInputElement).checked ? ['any'] : optional.filter((o) => o !== 'any'))} />
        {t('edit.anyOther')}
      </label>
      {!optional.includes('any') && optional.length > 0 && (
        <div class="row wrap">
          <span class="fieldlabel">{t('edit.optionalMods')}</span>
          <ModsPicker value={optional} label={t('edit.optionalMods')} onChange={(o) => setMods(mandatory, o)} />
        </div>
      )}
      <Problems problems={problems} at={at} />
    </fieldset>
  );
}

// ---- events --------------------------------------------------------------------------------------

export type EventUi = 'key' | 'none' | 'app' | 'shortcut' | 'shell' | 'input' | 'variable' | 'notification' | 'mouse' | 'sticky' | 'software';
export const EVENT_UIS: EventUi[] = ['key', 'app', 'shortcut', 'input', 'variable', 'mouse', 'notification', 'sticky', 'software', 'none', 'shell'];

export function eventUi(e: JsonObject): EventUi {
  const kind = eventKind(e);
  if (kind === 'key_code' && e.key_code === 'vk_none') return 'none';
  if (kind && (KEY_FIELDS as readonly string[]).includes(kind)) return 'key';
  if (kind === 'shell_command') {
    const cmd = String(e.shell_command);
    const c = eventCommands(e, '')[0];
    if (c?.kind === 'focusApplication') return 'app';
    if (cmd.startsWith(SHORTCUTS_RUN) && shellWords(cmd.slice(SHORTCUTS_RUN.length))?.length === 1) return 'shortcut';
    return 'shell';
  }
  if (kind === 'software_function') return isObj(e.software_function) && 'open_application' in e.software_function ? 'app' : 'software';
  if (kind === 'select_input_source') return 'input';
  if (kind === 'set_variable') return 'variable';
  if (kind === 'set_notification_message') return 'notification';
  if (kind === 'mouse_key') return 'mouse';
  if (kind === 'sticky_modifier') return 'sticky';
  return 'shell';
}

const FLAG_KEYS = ['lazy', 'repeat', 'halt', 'hold_down_milliseconds', 'held_down_milliseconds', 'conditions', 'description'];

export function defaultEvent(ui: EventUi, old?: JsonObject): JsonObject {
  const flags: JsonObject = {};
  if (old) for (const k of FLAG_KEYS) if (old[k] !== undefined) flags[k] = old[k];
  const body = ((): JsonObject => {
    switch (ui) {
      case 'key': return { key_code: '' };
      case 'none': return { key_code: 'vk_none' };
      case 'app': return { software_function: { open_application: { bundle_identifier: '' } } };
      case 'shortcut': return shortcutEvent('');
      case 'shell': return { shell_command: '' };
      case 'input': return { select_input_source: { language: '^en$' } };
      case 'variable': return { set_variable: { name: '', value: 1 } };
      case 'notification': return { set_notification_message: { id: 'tarvel', text: '' } };
      case 'mouse': return { mouse_key: { y: 1536 } };
      case 'sticky': return { sticky_modifier: { left_shift: 'toggle' } };
      case 'software': return { software_function: { set_mouse_cursor_position: { x: '50%', y: '50%', screen: 0 } } };
    }
  })();
  return { ...body, ...flags };
}

/** A number field: empty means "not set". */
export function NumberField({ label, value, onChange, placeholder, step }: { label: string; value: Json | undefined; onChange: (v: number | undefined) => void; placeholder?: string; step?: number }) {
  return (
    <label class="inline">{label}
      <input type="number" class="ms" value={typeof value === 'number' ? value : ''} placeholder={placeholder} step={step}
        onInput={(e) => { const v = inputValue(e); onChange(v === '' || Number.isNaN(Number(v)) ? undefined : Number(v)); }} />
    </label>
  );
}

/** A variable's value: numbers, true and false keep their type; anything else is text. */
export function parseValue(s: string): Json {
  if (s === 'true') return true;
  if (s === 'false') return false;
  if (/^-?\d+$/.test(s.trim())) return Number(s);
  return s;
}
export const valueText = (v: Json | undefined): string => (v === undefined ? '' : isStr(v) ? v : JSON.stringify(v));

function TextField({ label, value, onInput, mono, wide }: { label: string; value: string; onInput: (v: string) => void; mono?: boolean; wide?: boolean }) {
  return (
    <label class={`inline${wide ? ' grow' : ''}`}>{label}
      <input class={mono ? 'mono' : ''} value={value} spellcheck={false} onInput={(e) => onInput(inputValue(e))} />
    </label>
  );
}

function AppEventEditor({ store, event, onChange }: { store: Store; event: JsonObject; onChange: (e: JsonObject) => void }) {
  const cmd = eventCommands(event, '')[0];
  const ref: AppRef | null = cmd?.app && (cmd.app.bundleId || cmd.app.path || cmd.app.name)
    ? { name: cmd.app.name ?? cmd.app.bundleId ?? cmd.app.path ?? '', bundleId: cmd.app.bundleId, path: cmd.app.path }
    : null;
  const keepFlags = (e: JsonObject) => { const out = { ...e }; for (const k of FLAG_KEYS) if (event[k] !== undefined) out[k] = event[k]; return out; };
  return (
    <>
      <AppPicker store={store} value={ref} onChange={(a) => onChange(keepFlags(appEvent(a, store.helperPath)))} />
      <p class="hint">{t(event.shell_command !== undefined ? 'action.viaHelper' : 'action.viaOpen')}</p>
      <AppOpenerChoice store={store} />
    </>
  );
}

/** One event of a result list. */
export function EventEditor({ store, event, onChange, onRemove, label, problems, at }: {
  store: Store; event: JsonObject; onChange: (e: JsonObject, typing?: string) => void; onRemove: () => void; label: string; problems: Problem[]; at: string;
}) {
  const ui = eventUi(event);
  const kind = eventKind(event);
  const v = kind ? event[kind] : undefined;
  const set = (k: string, value: Json | undefined, typing?: string) => onChange(withKey(event, k, value), typing);
  const setIn = (k: string, field: string, value: Json | undefined, typing?: string) => set(k, withKey(isObj(event[k]) ? event[k] as JsonObject : {}, field, value), typing);
  const shortcutsId = useId('shortcuts');
  const hasFlags = FLAG_KEYS.some((k) => k !== 'description' && event[k] !== undefined);
  return (
    <div class="event">
      <div class="row wrap">
        <select aria-label={`${label}: ${t('event.kind')}`} value={ui} onChange={(e) => onChange(defaultEvent((e.currentTarget as HTMLSelectElement).value as EventUi, event))}>
          {EVENT_UIS.map((a) => <option key={a} value={a}>{t(`action.${a}`)}</option>)}
        </select>
        {ui === 'key' && kind && (
          <>
            <KeyRefField store={store} field={kind as KeyField} value={String(v ?? '')} label={label} compact
              onChange={(f, name, typing) => {
                const out: JsonObject = { [f]: name };
                for (const [k, x] of Object.entries(event)) if (k !== kind) out[k] = x;
                onChange(out, typing ? `${at}.key` : undefined);
              }} />
            <ModsPicker value={names(event.modifiers)} label={`${label}: ${t('action.modsOfStroke')}`}
              onChange={(m) => set('modifiers', m.length ? m : undefined)} />
          </>
        )}
        <button type="button" class="icon" aria-label={`${label}: ${t('action.remove')}`} title={t('action.remove')} onClick={onRemove}>✕</button>
      </div>
      {ui === 'app' && <AppEventEditor store={store} event={event} onChange={(e) => onChange(e)} />}
      {ui === 'shortcut' && (
        <>
          <input list={shortcutsId} value={shellWords(String(v).slice(SHORTCUTS_RUN.length))?.[0] ?? ''} aria-label={t('action.shortcutName')} placeholder={t('action.shortcutName')}
            onInput={(e) => onChange({ ...event, ...shortcutEvent(inputValue(e)) }, `${at}.shortcut`)} />
          <datalist id={shortcutsId}>{(store.inventory?.shortcuts ?? []).map((s) => <option key={s} value={s} />)}</datalist>
        </>
      )}
      {ui === 'shell' && (
        <textarea class="mono" rows={2} value={isStr(v) ? v : ''} aria-label={t('action.command')} placeholder={t('action.command')}
          spellcheck={false} onInput={(e) => set('shell_command', (e.currentTarget as HTMLTextAreaElement).value, `${at}.shell`)} />
      )}
      {(ui === 'shell' || ui === 'app' || ui === 'shortcut') && isStr(event.shell_command) && event.shell_command && (
        <p class="command"><span class="fieldlabel">{t('commands.runs')}</span> <code class="mono">{visibleText(event.shell_command)}</code></p>
      )}
      {ui === 'input' && (
        <div class="row wrap">
          {(['language', 'input_source_id', 'input_mode_id'] as const).map((f) => {
            const source = isObj(v) ? v : Array.isArray(v) && isObj(v[0]) ? v[0] : {};
            return <TextField key={f} mono label={t(`input.${f}`)} value={isStr(source[f]) ? source[f] as string : ''}
              onInput={(x) => set('select_input_source', withKey(source, f, x || undefined), `${at}.${f}`)} />;
          })}
        </div>
      )}
      {ui === 'variable' && isObj(v) && (
        <div class="row wrap">
          <TextField mono label={t('variable.name')} value={isStr(v.name) ? v.name : ''} onInput={(x) => setIn('set_variable', 'name', x, `${at}.name`)} />
          <label class="inline">{t('variable.action')}
            <select value={v.type === 'unset' ? 'unset' : 'set'} onChange={(e) => setIn('set_variable', 'type', (e.currentTarget as HTMLSelectElement).value === 'unset' ? 'unset' : undefined)}>
              <option value="set">{t('variable.set')}</option>
              <option value="unset">{t('variable.unset')}</option>
            </select>
          </label>
          {v.type !== 'unset' && <TextField mono label={t('variable.value')} value={valueText(v.value)} onInput={(x) => setIn('set_variable', 'value', x === '' ? undefined : parseValue(x), `${at}.value`)} />}
          {v.type !== 'unset' && <TextField mono label={t('variable.keyUp')} value={valueText(v.key_up_value)} onInput={(x) => setIn('set_variable', 'key_up_value', x === '' ? undefined : parseValue(x), `${at}.keyup`)} />}
          {(v.expression !== undefined || v.key_up_expression !== undefined) && (
            <TextField mono wide label={t('variable.expression')} value={String(v.expression ?? '')} onInput={(x) => setIn('set_variable', 'expression', x || undefined, `${at}.expr`)} />
          )}
        </div>
      )}
      {ui === 'notification' && isObj(v) && (
        <div class="row wrap">
          <TextField wide label={t('notification.text')} value={isStr(v.text) ? v.text : ''} onInput={(x) => setIn('set_notification_message', 'text', x, `${at}.text`)} />
          <TextField mono label={t('notification.id')} value={isStr(v.id) ? v.id : ''} onInput={(x) => setIn('set_notification_message', 'id', x, `${at}.id`)} />
        </div>
      )}
      {ui === 'mouse' && isObj(v) && (
        <div class="row wrap">
          {(['x', 'y', 'vertical_wheel', 'horizontal_wheel', 'speed_multiplier'] as const).map((f) => (
            <NumberField key={f} label={t(`mouse.${f}`)} value={v[f]} step={f === 'speed_multiplier' ? 0.1 : 1} onChange={(x) => setIn('mouse_key', f, x)} />
          ))}
        </div>
      )}
      {ui === 'sticky' && isObj(v) && (
        <div class="row wrap">
          <label class="inline">{t('sticky.modifier')}
            <select value={Object.keys(v)[0]} onChange={(e) => set('sticky_modifier', { [(e.currentTarget as HTMLSelectElement).value]: Object.values(v)[0] })}>
              {SIDED.concat(['fn']).map((m) => <option key={m} value={m}>{m}</option>)}
            </select>
          </label>
          <label class="inline">{t('sticky.how')}
            <select value={String(Object.values(v)[0])} onChange={(e) => set('sticky_modifier', { [Object.keys(v)[0]]: (e.currentTarget as HTMLSelectElement).value })}>
              {STICKY_VALUES.map((s) => <option key={s} value={s}>{t(`sticky.${s}`)}</option>)}
            </select>
          </label>
        </div>
      )}
      {ui === 'software' && isObj(v) && <SoftwareFunctionEditor value={v} onChange={(x) => set('software_function', x)} />}
      <Disclosure summary={t('event.more')} open={hasFlags}>{() => (
        <>
          <div class="row wrap">
            {(['lazy', 'halt'] as const).map((f) => (
              <label class="check inline" key={f}>
                <input type="checkbox" checked={event[f] === true} onChange={(e) => set(f, (e.currentTarget as HTMLInputElement).checked ? true : undefined)} />
                {t(`flag.${f}`)}
              </label>
            ))}
            <label class="check inline">
              <input type="checkbox" checked={event.repeat !== false}
                onChange={(e) => set('repeat', (e.currentTarget as HTMLInputElement).checked ? (event.repeat === true ? true : undefined) : false)} />
              {t('flag.repeat')}
            </label>
            <NumberField label={t('flag.hold_down_milliseconds')} value={event.hold_down_milliseconds} onChange={(x) => set('hold_down_milliseconds', x)} />
          </div>
          <ConditionsEditor store={store} value={event.conditions} problems={problems} at={`${at}.conditions`} onChange={(c) => set('conditions', c)} compact />
        </>
      )}</Disclosure>
      <Problems problems={problems} at={at} />
    </div>
  );
}

function SoftwareFunctionEditor({ value, onChange }: { value: JsonObject; onChange: (v: JsonObject) => void }) {
  const name = Object.keys(value)[0];
  const body = isObj(value[name]) ? value[name] as JsonObject : {};
  const fields = SOFTWARE_FUNCTIONS[name] ?? [];
  return (
    <div class="row wrap">
      <select aria-label={t('action.software')} value={name} onChange={(e) => onChange({ [(e.currentTarget as HTMLSelectElement).value]: {} })}>
        {Object.keys(SOFTWARE_FUNCTIONS).filter((f) => f !== 'open_application').map((f) => <option key={f} value={f}>{t(`sf.${f}`)}</option>)}
      </select>
      {fields.map((f) => (
        <TextField key={f} mono label={f} value={valueText(body[f])} onInput={(x) => onChange({ [name]: withKey(body, f, x === '' ? undefined : parseValue(x)) })} />
      ))}
    </div>
  );
}

/** A result list: one object or an array, as the manipulator had it. */
export function EventList({ store, label, value, onChange, problems, at, hint }: {
  store: Store; label: string; value: Json | undefined; onChange: (v: JsonObject[] | JsonObject | undefined, typing?: string) => void;
  problems: Problem[]; at: string; hint?: string;
}) {
  const events = value === undefined ? [] : isObj(value) ? [value] : Array.isArray(value) ? value.filter(isObj) : [];
  const write = (list: JsonObject[], typing?: string) => onChange(!list.length ? undefined : isObj(value) && list.length === 1 ? list[0] : list, typing);
  const addId = useId('add');
  return (
    <fieldset class="action">
      <legend>{label}</legend>
      {hint && <p class="hint">{hint}</p>}
      {events.map((e, i) => (
        <EventEditor key={i} store={store} event={e} label={`${label} ${i + 1}`} problems={problems} at={isObj(value) ? at : `${at}[${i}]`}
          onChange={(x, typing) => write(events.map((y, j) => (j === i ? x : y)), typing)}
          onRemove={() => write(events.filter((_, j) => j !== i))} />
      ))}
      <div class="row">
        <label class="visually-hidden" for={addId}>{t('action.add')}: {label}</label>
        <select id={addId} class="small" value="" onChange={(e) => {
          const ui = (e.currentTarget as HTMLSelectElement).value as EventUi;
          if (ui) write([...events, defaultEvent(ui)]);
        }}>
          <option value="">{events.length ? t('action.addAnother') : t('action.add')}</option>
          {EVENT_UIS.map((a) => <option key={a} value={a}>{t(`action.${a}`)}</option>)}
        </select>
      </div>
      {!isObj(value) && <Problems problems={problems} at={at} exact />}
    </fieldset>
  );
}

// ---- conditions ----------------------------------------------------------------------------------

type CondUi = 'app' | 'variable' | 'device' | 'keyboard' | 'input' | 'expression' | 'changed';
const COND_UIS: CondUi[] = ['app', 'variable', 'device', 'keyboard', 'input', 'expression'];
const condUi = (c: JsonObject): CondUi => {
  const base = String(c.type).replace(/_(if|unless)$/, '');
  return base === 'frontmost_application' ? 'app' : base === 'device' || base === 'device_exists' ? 'device'
    : base === 'keyboard_type' ? 'keyboard' : base === 'input_source' ? 'input' : base === 'event_changed' ? 'changed' : base as CondUi;
};
const COND_TYPES: Record<CondUi, string> = {
  app: 'frontmost_application', variable: 'variable', device: 'device', keyboard: 'keyboard_type', input: 'input_source', expression: 'expression', changed: 'event_changed',
};
function defaultCondition(ui: CondUi, negate = false): JsonObject {
  const type = `${COND_TYPES[ui]}_${negate ? 'unless' : 'if'}`;
  switch (ui) {
    case 'app': return { type, bundle_identifiers: [] };
    case 'variable': return { type, name: '', value: 1 };
    case 'device': return { type, identifiers: [{ vendor_id: 0, product_id: 0 }] };
    case 'keyboard': return { type, keyboard_types: ['jis'] };
    case 'input': return { type, input_sources: [{ language: '^ja$' }] };
    case 'expression': return { type, expression: '' };
    case 'changed': return { type, value: true };
  }
}

/** Every condition a manipulator (or one of its events) has: all must hold for it to fire. */
export function ConditionsEditor({ store, value, onChange, problems, at, compact, hide }: {
  store: Store; value: Json | undefined; onChange: (v: JsonObject[] | undefined) => void; problems: Problem[]; at: string; compact?: boolean;
  /** Conditions a pattern owns and shows elsewhere, by index. */
  hide?: ReadonlySet<number>;
}) {
  const list = Array.isArray(value) ? value.filter(isObj) : [];
  const write = (l: JsonObject[]) => onChange(l.length ? l : undefined);
  const addId = useId('cond');
  const body = (
    <>
      {list.map((c, i) => (hide?.has(i) ? null : (
        <ConditionEditor key={i} store={store} c={c} problems={problems} at={`${at}[${i}]`}
          onChange={(x) => write(list.map((y, j) => (j === i ? x : y)))} onRemove={() => write(list.filter((_, j) => j !== i))} />
      )))}
      <div class="row">
        <label class="visually-hidden" for={addId}>{t('cond.add')}</label>
        <select id={addId} class="small" value="" onChange={(e) => {
          const ui = (e.currentTarget as HTMLSelectElement).value as CondUi;
          if (ui) write([...list, defaultCondition(ui)]);
        }}>
          <option value="">{t('cond.add')}</option>
          {COND_UIS.map((u) => <option key={u} value={u}>{t(`cond.${u}`)}</option>)}
        </select>
      </div>
    </>
  );
  if (compact) return <div class="conditions">{body}</div>;
  return (
    <fieldset class="conditions">
      <legend>{t('edit.scope')}</legend>
      {body}
      {/* Each condition shows its own findings; here only those of the list itself. */}
      <Problems problems={problems} at={at} exact />
    </fieldset>
  );
}

function ConditionEditor({ store, c, onChange, onRemove, problems, at }: {
  store: Store; c: JsonObject; onChange: (c: JsonObject) => void; onRemove: () => void; problems: Problem[]; at: string;
}) {
  const ui = condUi(c);
  const negated = String(c.type).endsWith('_unless');
  const setType = (neg: boolean) => onChange({ ...c, type: String(c.type).replace(/_(if|unless)$/, neg ? '_unless' : '_if') });
  const set = (k: string, v: Json | undefined) => onChange(withKey(c, k, v));
  return (
    <div class="condition">
      <div class="row wrap">
        <span class="fieldlabel">{t(`cond.${ui}`)}</span>
        <select class="small" aria-label={`${t(`cond.${ui}`)}: ${t('cond.mode')}`} value={negated ? 'unless' : 'if'} onChange={(e) => setType((e.currentTarget as HTMLSelectElement).value === 'unless')}>
          <option value="if">{t(`cond.${ui}.if`)}</option>
          <option value="unless">{t(`cond.${ui}.unless`)}</option>
        </select>
        {ui === 'variable' && (
          <>
            <label class="inline">{t('variable.name')}
              <input class="mono" list="tarvel-variables" value={isStr(c.name) ? c.name : ''} spellcheck={false} onInput={(e) => set('name', inputValue(e))} />
            </label>
            <label class="inline">{t('variable.value')}
              <input class="mono ms" value={valueText(c.value)} spellcheck={false} onInput={(e) => set('value', parseValue(inputValue(e)))} />
            </label>
            {isStr(c.name) && c.name.startsWith('tarvel_layer_') && <span class="hint">{t('cond.layerHint', { layer: layerLabel(c.name) })}</span>}
          </>
        )}
        {ui === 'expression' && (
          <input class="mono grow" aria-label={t('cond.expression')} value={isStr(c.expression) ? c.expression : ''} spellcheck={false} onInput={(e) => set('expression', inputValue(e))} />
        )}
        {ui === 'changed' && (
          <label class="check inline"><input type="checkbox" checked={c.value === true} onChange={(e) => set('value', (e.currentTarget as HTMLInputElement).checked)} />{t('cond.changed')}</label>
        )}
        {ui === 'keyboard' && KEYBOARD_TYPES.map((k) => {
          const types = names(c.keyboard_types);
          return (
            <label class="check inline" key={k}>
              <input type="checkbox" checked={types.includes(k)} onChange={() => set('keyboard_types', types.includes(k) ? types.filter((x) => x !== k) : [...types, k])} />
              {k.toUpperCase()}
            </label>
          );
        })}
        <button type="button" class="icon" aria-label={`${t(`cond.${ui}`)}: ${t('action.remove')}`} title={t('action.remove')} onClick={onRemove}>✕</button>
      </div>
      {ui === 'app' && <AppConditionEditor store={store} c={c} onChange={onChange} />}
      {ui === 'device' && <DeviceConditionEditor store={store} c={c} onChange={onChange} />}
      {ui === 'input' && <InputSourceConditionEditor c={c} onChange={onChange} />}
      <Problems problems={problems} at={at} />
    </div>
  );
}

function AppConditionEditor({ store, c, onChange }: { store: Store; c: JsonObject; onChange: (c: JsonObject) => void }) {
  const [adding, setAdding] = useState(false);
  const ids = names(c.bundle_identifiers);
  const paths = names(c.file_paths);
  const set = (k: string, l: string[]) => onChange(withKey(c, k, l.length || k === 'bundle_identifiers' ? l : undefined));
  return (
    <div class="appchips">
      {ids.map((re, i) => {
        const id = unescapeExactRegex(re);
        return id
          ? <AppChip key={`b${i}`} store={store} app={{ name: id, bundleId: id }} onRemove={() => set('bundle_identifiers', ids.filter((_, j) => j !== i))} />
          : <PatternChip key={`b${i}`} label={t('cond.bundlePattern')} value={re} onChange={(v) => set('bundle_identifiers', ids.map((x, j) => (j === i ? v : x)))} onRemove={() => set('bundle_identifiers', ids.filter((_, j) => j !== i))} />;
      })}
      {paths.map((re, i) => (
        <PatternChip key={`p${i}`} label={t('cond.pathPattern')} value={re} onChange={(v) => set('file_paths', paths.map((x, j) => (j === i ? v : x)))} onRemove={() => set('file_paths', paths.filter((_, j) => j !== i))} />
      ))}
      <button type="button" class="small" aria-expanded={adding} onClick={() => setAdding(!adding)}>{t('edit.addApp')}</button>
      <button type="button" class="small" onClick={() => set('bundle_identifiers', [...ids, ''])}>{t('cond.addPattern')}</button>
      {adding && (
        <AppList store={store} onPick={(e) => {
          const ref = appRef(e);
          if (ref.bundleId) set('bundle_identifiers', [...ids, exactRegex(ref.bundleId)]);
          else if (ref.path) set('file_paths', [...paths, exactRegex(ref.path)]);
          setAdding(false);
        }} />
      )}
    </div>
  );
}

function PatternChip({ label, value, onChange, onRemove }: { label: string; value: string; onChange: (v: string) => void; onRemove: () => void }) {
  return (
    <span class="appchip pattern">
      <input class="mono" aria-label={label} value={value} spellcheck={false} onInput={(e) => onChange(inputValue(e))} />
      <button type="button" class="icon" aria-label={`${label}: ${t('action.remove')}`} onClick={onRemove}>×</button>
    </span>
  );
}

const DEVICE_FLAGS = DEVICE_FIELDS.filter((f) => f.startsWith('is_'));

function DeviceConditionEditor({ store, c, onChange }: { store: Store; c: JsonObject; onChange: (c: JsonObject) => void }) {
  const list = Array.isArray(c.identifiers) ? c.identifiers.filter(isObj) : [];
  const write = (l: JsonObject[]) => onChange(withKey(c, 'identifiers', l));
  const pickId = useId('device');
  return (
    <div class="devices">
      {list.map((d, i) => (
        <div class="row wrap" key={i}>
          {(['vendor_id', 'product_id', 'location_id'] as const).map((f) => (f !== 'location_id' || d[f] !== undefined) && (
            <NumberField key={f} label={t(`device.${f}`)} value={d[f]} onChange={(x) => write(list.map((y, j) => (j === i ? withKey(y, f, x) : y)))} />
          ))}
          {DEVICE_FLAGS.filter((f) => d[f] !== undefined || f === 'is_keyboard' || f === 'is_pointing_device').map((f) => (
            <label class="check inline" key={f}>
              <input type="checkbox" checked={d[f] === true} onChange={(e) => write(list.map((y, j) => (j === i ? withKey(y, f, (e.currentTarget as HTMLInputElement).checked ? true : undefined) : y)))} />
              {t(`device.${f}`)}
            </label>
          ))}
          <button type="button" class="icon" aria-label={t('device.remove')} onClick={() => write(list.filter((_, j) => j !== i))}>✕</button>
        </div>
      ))}
      <div class="row wrap">
        <label class="fieldlabel" for={pickId}>{t('device.add')}</label>
        <select id={pickId} class="small" value="" onChange={(e) => {
          const v = (e.currentTarget as HTMLSelectElement).value;
          if (v === 'manual') write([...list, { vendor_id: 0, product_id: 0 }]);
          else if (v) {
            const d = store.devices[Number(v)];
            const ids: JsonObject = {};
            for (const f of ['vendor_id', 'product_id', 'is_keyboard', 'is_pointing_device'] as const) if (d.identifiers[f] !== undefined) ids[f] = d.identifiers[f];
            write([...list, ids]);
          }
        }}>
          <option value="">{store.devices.length ? t('device.pick') : t('device.noneKnown')}</option>
          {store.devices.map((d, i) => (
            <option key={i} value={String(i)}>{d.name ?? `${valueText(d.identifiers.vendor_id)}/${valueText(d.identifiers.product_id)}`}</option>
          ))}
          <option value="manual">{t('device.manual')}</option>
        </select>
      </div>
    </div>
  );
}

export const INPUT_SOURCE_PRESETS: [string, JsonObject][] = [
  ['input.preset.ja', { language: '^ja$' }],
  ['input.preset.en', { language: '^en$' }],
  ['input.preset.kana', { input_mode_id: '^com\\.apple\\.inputmethod\\.Japanese$' }],
  ['input.preset.us', { input_source_id: '^com\\.apple\\.keylayout\\.(US|ABC)$' }],
];

function InputSourceConditionEditor({ c, onChange }: { c: JsonObject; onChange: (c: JsonObject) => void }) {
  const list = Array.isArray(c.input_sources) ? c.input_sources.filter(isObj) : [];
  const write = (l: JsonObject[]) => onChange(withKey(c, 'input_sources', l));
  return (
    <div class="inputs">
      {list.map((s, i) => (
        <div class="row wrap" key={i}>
          {(['language', 'input_source_id', 'input_mode_id'] as const).map((f) => (
            <TextField key={f} mono label={t(`input.${f}`)} value={isStr(s[f]) ? s[f] as string : ''}
              onInput={(x) => write(list.map((y, j) => (j === i ? withKey(y, f, x || undefined) : y)))} />
          ))}
          <button type="button" class="icon" aria-label={t('input.remove')} onClick={() => write(list.filter((_, j) => j !== i))}>✕</button>
        </div>
      ))}
      <select class="small" aria-label={t('input.add')} value="" onChange={(e) => {
        const p = INPUT_SOURCE_PRESETS[Number((e.currentTarget as HTMLSelectElement).value)];
        if (p) write([...list, p[1]]);
      }}>
        <option value="">{t('input.add')}</option>
        {INPUT_SOURCE_PRESETS.map(([label], i) => <option key={i} value={String(i)}>{t(label)}</option>)}
      </select>
    </div>
  );
}

// ---- timing --------------------------------------------------------------------------------------

export function ParametersEditor({ value, onChange, show, problems, at, defaults }: {
  value: Json | undefined; onChange: (v: JsonObject | undefined, typing?: string) => void; show: string[]; problems: Problem[]; at: string;
  /** What applies when a field is empty: the profile's parameters, else Karabiner-Elements' own. */
  defaults?: JsonObject;
}) {
  const p = isObj(value) ? value : {};
  const keys = [...new Set([...show, ...Object.keys(p).filter((k) => k in PARAMETERS)])];
  return (
    <fieldset>
      <legend>{t('edit.timing')}</legend>
      <div class="row wrap">
        {keys.map((k) => (
          <NumberField key={k} label={t(`param.${k}`)} value={p[k]} placeholder={String(typeof defaults?.[k] === 'number' ? defaults[k] : PARAMETERS[k]?.default ?? '')}
            onChange={(v) => { const next = withKey(p, k, v); onChange(Object.keys(next).length ? next : undefined, `param.${k}`); }} />
        ))}
      </div>
      <Problems problems={problems} at={at} />
    </fieldset>
  );
}

// ---- applications --------------------------------------------------------------------------------

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
          onInput={(e) => setQ(inputValue(e))} />
        <button type="button" class="small" onClick={() => void store.loadInventory()}>{t('apps.refresh')}</button>
      </div>
      <ul aria-label={t('apps.search')}>
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
      {!!store.inventory?.installedOmitted && <p class="hint">{t('apps.omitted', { n: store.inventory.installedOmitted })}</p>}
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

