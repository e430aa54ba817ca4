// "In Karabiner-Elements now": the chosen profile's rules as karabiner.json holds them, and what
// the next apply does with each: Tarvel's own are replaced, every other rule is kept unless the
// user drops it or brings it into the editor.
import { t } from '../i18n';
import { describe, fates, isOwn, manipulatorsOf, ruleEnabled, ruleKeys, selectedProfile, type Configuration } from '../model/config';
import type { Json } from '../model/json';
import type { Store } from '../store';
import { FailureText } from './Failure';
import { commandsOf, visibleText } from '../model/commands';
import { CommandItems, RuleLine, ruleName } from './RuleLine';

/** What a rule Tarvel did not write runs, so that keeping or dropping it is an informed choice. */
function RuleCommands({ store, rule }: { store: Store; rule: Json }) {
  const list = manipulatorsOf(rule).flatMap((m) => commandsOf(m, store.appPath));
  return list.length ? <CommandItems list={list} label={t('commands.heading')} /> : null;
}

function Rules({ store, c }: { store: Store; c: Configuration }) {
  const profile = c.profiles[store.choices.profile];
  const fate = fates(c, store.choices, store.ruleSet);
  const plan = store.plan;
  const own = profile.rules.some(isOwn);
  // The editor already writes exactly what Tarvel installed here.
  const inSync = own && !!plan && !plan.added.length && !plan.removed.some((r) => r.fate === 'tarvel');
  return (
    <>
      {own && (inSync ? <p class="hint">{t('config.inSync')}</p> : (
        <p><button type="button" onClick={() => store.openInstalled()}>{t('config.openInstalled')}</button></p>
      ))}
      {!profile.rules.length && <p class="hint">{t('config.empty')}</p>}
      <ol class="installed-rules" aria-label={t('config.heading')}>
        {profile.rules.map((rule, i) => {
          const name = ruleName(describe(rule));
          const f = fate[i];
          const inEditor = f === 'editor' ? store.ruleSet.rules.find((r) => r.origin === ruleKeys(profile.rules)[i]) : undefined;
          return (
            <li key={i} class={`fate-${f}`}>
              <RuleLine rule={{ description: describe(rule), enabled: ruleEnabled(rule), manipulators: manipulatorsOf(rule).length }} />
              {f !== 'tarvel' && <RuleCommands store={store} rule={rule} />}
              <div class="fate">
                {f === 'tarvel' && <span class="hint">{t('config.fate.tarvel')}</span>}
                {(f === 'keep' || f === 'drop') && (
                  <>
                    <label class="check inline">
                      <input type="checkbox" checked={f === 'keep'} aria-label={t('config.keepRule', { name })}
                        onChange={(e) => store.setDropped(i, !(e.currentTarget as HTMLInputElement).checked)} />
                      {t('config.keep')}
                    </label>
                    <button type="button" class="small" aria-label={t('config.bringInRule', { name })} onClick={() => {
                      const ok = store.bringIn(i);
                      store.set({ notice: ok ? { kind: 'info', text: t('config.brought', { name }) } : { kind: 'error', text: t('config.tooDeep', { name }) } });
                    }}>{t('config.bringIn')}</button>
                  </>
                )}
                {f === 'editor' && (
                  <>
                    <span class="hint">{t('config.fate.editor')}</span>
                    {inEditor && <button type="button" class="small" onClick={() => store.set({ selectedRuleId: inEditor.id, selectedId: inEditor.mappings[0]?.id, tab: 'edit' })}>{t('config.show')}</button>}
                  </>
                )}
              </div>
            </li>
          );
        })}
      </ol>
    </>
  );
}

export function ConfigPanel({ store }: { store: Store }) {
  const st = store.config;
  const reload = <button type="button" class="small" onClick={() => void store.loadConfig()} disabled={st.phase === 'loading'}>{t('config.reload')}</button>;
  const c = st.phase === 'ready' ? st.config : undefined;
  return (
    <section class="installed" aria-labelledby="installed-heading" aria-busy={st.phase === 'loading'}>
      <div class="row">
        <h2 id="installed-heading" class="grow">{t('config.heading')}</h2>
        {st.phase !== 'off' && reload}
      </div>
      {st.phase === 'off' && <p class="hint">{t(store.preview ? 'config.preview' : 'config.unsupported')}</p>}
      {st.phase === 'loading' && <p class="busy" role="status"><span class="spinner" aria-hidden="true" />{t('config.loading')}</p>}
      {st.phase === 'failed' && <FailureText failure={st.failure} lead={t('config.failed')} />}
      {c && (
        <>
          {st.phase === 'ready' && st.stale && <p class="banner error" role="alert"><span>{t('config.stale')}</span>{reload}</p>}
          <p class="hint">{t('config.file')} <code class="mono">{visibleText(c.path)}</code>{c.hasComments && <> · {t('config.comments')}</>}</p>
          <div class="row">
            <label class="fieldlabel" for="config-profile">{t('config.profile')}</label>
            <select id="config-profile" value={String(store.choices.profile)} onChange={(e) => store.chooseProfile(Number((e.currentTarget as HTMLSelectElement).value))}>
              {c.profiles.map((p, i) => {
                const name = p.name ?? t('config.unnamedProfile', { n: i + 1 });
                return <option key={i} value={String(i)}>{p.selected ? t('config.inUse', { name }) : name}</option>;
              })}
            </select>
          </div>
          {store.choices.profile !== selectedProfile(c) && <p class="hint warn">{t('config.notInUse')}</p>}
          <p class="hint">{t('config.keepHelp')}</p>
          <Rules store={store} c={c} />
        </>
      )}
    </section>
  );
}
