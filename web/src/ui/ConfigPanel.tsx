// "In Karabiner-Elements now": the overview of the chosen profile as karabiner.json holds it. Every
// rule of it is in the editor's list, where it is edited in place; here each rule of the file says
// what the next apply does with it (nothing, changed, moved, removed, with a way back), and the
// rest of the profile (simple modifications, function keys, parameters, devices) is shown and edited.
import { t } from '../i18n';
import { commandsOf, visibleText } from '../model/commands';
import { listed, manipulatorsOf, ruleKeys, selectedProfile, type Configuration, type Profile } from '../model/config';
import type { Json } from '../model/json';
import { writable, type Step } from '../model/profile';
import type { Store } from '../store';
import { FailureText } from './Failure';
import { ProfileValues } from './ProfileValues';
import { CommandItems, RuleLine, ruleName } from './RuleLine';

/** What a rule runs, so that every command in the profile can be read before anything is applied. */
function RuleCommands({ store, rule }: { store: Store; rule: Json }) {
  const list = manipulatorsOf(rule).flatMap((m) => commandsOf(m, store.appPath));
  return list.length ? <CommandItems list={list} label={t('commands.heading')} /> : null;
}

function Summary({ p, store }: { p: Profile; store: Store }) {
  const on = p.rules.filter((r) => listed(r).enabled).length;
  const manipulators = p.rules.reduce((n: number, r) => n + manipulatorsOf(r).length, 0);
  const fresh = store.ruleSet.rules.filter((r) => r.origin === undefined && writable(r)).length;
  return (
    <p class="summary">
      {t('config.summary', { r: p.rules.length, on, m: manipulators, s: p.simpleModifications.length, d: p.deviceSettings.length })}
      {fresh > 0 && <> · {t('config.newRules', { n: fresh })}</>}
    </p>
  );
}

function Rules({ store, p }: { store: Store; p: Profile }) {
  const plan = store.plan;
  const keys = ruleKeys(p.rules);
  const byIndex = new Map<number, Step>();
  for (const s of plan?.steps ?? []) if (s.index !== undefined) byIndex.set(s.index, s);
  const removed = new Set(store.ruleSet.removed ?? []);
  if (!p.rules.length) return <p class="hint">{t('config.empty')}</p>;
  return (
    <ol class="installed-rules" aria-label={t('config.rulesHeading')}>
      {p.rules.map((rule, i) => {
        const name = ruleName(listed(rule).description);
        const step = byIndex.get(i);
        const fate = !step ? 'removed' : step.rule.outside ? 'outside' : step.kind === 'changed' ? 'changed' : step.moved ? 'moved' : 'same';
        const docRule = step?.rule;
        return (
          <li key={i} class={`fate-${fate}`}>
            <RuleLine rule={listed(rule)}>
              <span class="pos">{t('config.position', { n: i + 1 })}</span>
            </RuleLine>
            <RuleCommands store={store} rule={rule} />
            <div class="fate">
              <span class="hint">{fate === 'moved' && step ? t('config.fate.moved', { n: step.position + 1 }) : t(`config.fate.${fate}`)}</span>
              {docRule && (
                <button type="button" class="small" aria-label={t('config.showRule', { name })}
                  onClick={() => { store.select(docRule.mappings[0]?.id); store.set({ selectedRuleId: docRule.id }); }}>{t('config.show')}</button>
              )}
              {!step && removed.has(keys[i]) && (
                <button type="button" class="small" aria-label={t('config.putBackRule', { name })} onClick={() => store.putBack(keys[i])}>{t('config.putBack')}</button>
              )}
            </div>
          </li>
        );
      })}
    </ol>
  );
}

export function ConfigPanel({ store }: { store: Store }) {
  const st = store.config;
  const reload = <button type="button" class="small" onClick={() => void store.loadConfig()} disabled={st.phase === 'loading'}>{t('config.reload')}</button>;
  const c: Configuration | undefined = st.phase === 'ready' ? st.config : undefined;
  const p = store.profile;
  return (
    <section class="installed" aria-labelledby="installed-heading" aria-busy={st.phase === 'loading'}>
      <div class="row">
        <h2 id="installed-heading" class="grow">{t('config.heading')}</h2>
        {st.phase !== 'off' && reload}
      </div>
      {st.phase === 'off' && <p class="hint">{t(store.preview ? 'config.preview' : 'config.unsupported')}</p>}
      {st.phase === 'loading' && <p class="busy" role="status"><span class="spinner" aria-hidden="true" />{t('config.loading')}</p>}
      {st.phase === 'failed' && <FailureText failure={st.failure} lead={t('config.failed')} />}
      {c && p && (
        <>
          {st.phase === 'ready' && st.stale && <p class="banner error" role="alert"><span>{t('config.stale')}</span>{reload}</p>}
          <p class="hint">{t('config.file')} <code class="mono">{visibleText(c.path)}</code>{c.hasComments && <> · {t('config.comments')}</>}</p>
          <div class="row">
            <label class="fieldlabel" for="config-profile">{t('config.profile')}</label>
            <select id="config-profile" value={String(store.choices.profile)} onChange={(e) => {
              const el = e.currentTarget as HTMLSelectElement;
              store.chooseProfile(Number(el.value));
              // A question may come first: the list shows the profile in use until it is answered.
              el.value = String(store.choices.profile);
            }}>
              {c.profiles.map((x, i) => {
                const name = x.name ?? t('config.unnamedProfile', { n: i + 1 });
                return <option key={i} value={String(i)}>{x.selected ? t('config.inUse', { name }) : name}</option>;
              })}
            </select>
          </div>
          {store.choices.profile !== selectedProfile(c) && <p class="hint warn">{t('config.notInUse')}</p>}
          <Summary p={p} store={store} />
          <p class="hint">{t('config.docHelp')}</p>
          <h3 id="config-rules">{t('config.rulesHeading')}</h3>
          <Rules store={store} p={p} />
          <ProfileValues store={store} />
        </>
      )}
    </section>
  );
}
