// What the user changed here while another program changed it in karabiner.json: each such rule or
// profile value, what differs, and the user's choice of whose version stays. Until then Apply is off.
import { t } from '../i18n';
import { ruleKeys } from '../model/config';
import { plainName, writtenRule } from '../model/rules';
import type { Rule, ValueEdit } from '../model/types';
import type { Store } from '../store';
import { Changes, valueName } from './ApplyDialog';
import { ruleName } from './RuleLine';

function RuleConflict({ store, r }: { store: Store; r: Rule }) {
  const p = store.profile;
  const name = ruleName(plainName(r.name));
  const i = p && r.origin !== undefined ? ruleKeys(p.rules).indexOf(r.origin) : -1;
  return (
    <li>
      <span class="what">{t(`conflict.${r.outside}`, { name })}</span>
      {r.outside === 'changed' && i >= 0 && p && (
        <details>
          <summary>{t('conflict.differs')}</summary>
          <Changes before={p.rules[i]} after={writtenRule(r)} />
        </details>
      )}
      <span class="buttons">
        {r.mappings.length > 0 && <button type="button" class="small" aria-label={t('config.showRule', { name })}
          onClick={() => { store.select(r.mappings[0].id); store.set({ selectedRuleId: r.id }); }}>{t('config.show')}</button>}
        <button type="button" class="small" aria-label={`${t(`conflict.mine.${r.outside}`)}: ${name}`} onClick={() => store.resolve([r.id], [], 'mine')}>{t(`conflict.mine.${r.outside}`)}</button>
        <button type="button" class="small" aria-label={`${t(`conflict.theirs.${r.outside}`)}: ${name}`} onClick={() => store.resolve([r.id], [], 'theirs')}>{t(`conflict.theirs.${r.outside}`)}</button>
      </span>
    </li>
  );
}

function ValueConflict({ store, v }: { store: Store; v: ValueEdit }) {
  const c = store.configRead;
  if (!c) return null;
  const name = valueName(v.path, c, store.choices.profile);
  return (
    <li>
      <span class="what">{t('conflict.value', { name })}</span>
      <details>
        <summary>{t('conflict.differs')}</summary>
        <Changes before={store.fileValueOf(v.path)} after={v.value} />
      </details>
      <span class="buttons">
        <button type="button" class="small" aria-label={`${t('conflict.mine.changed')}: ${name}`} onClick={() => store.resolve([], [v.path], 'mine')}>{t('conflict.mine.changed')}</button>
        <button type="button" class="small" aria-label={`${t('conflict.theirs.changed')}: ${name}`} onClick={() => store.resolve([], [v.path], 'theirs')}>{t('conflict.theirs.changed')}</button>
      </span>
    </li>
  );
}

export function Conflicts({ store }: { store: Store }) {
  const { rules, values } = store.conflicts;
  const n = rules.length + values.length;
  // Only the file read can settle them (work saved in the app and opened in a preview keeps its marks).
  if (!n || !store.profile) return null;
  const all = (keep: 'mine' | 'theirs') => store.resolve(rules.map((r) => r.id), values.map((v) => v.path), keep);
  return (
    <section class="banner warn conflicts" aria-labelledby="conflicts-heading">
      <h2 id="conflicts-heading">{t('conflict.heading', { n })}</h2>
      <ul>
        {rules.map((r) => <RuleConflict key={r.id} store={store} r={r} />)}
        {values.map((v) => <ValueConflict key={JSON.stringify(v.path)} store={store} v={v} />)}
      </ul>
      {n > 1 && (
        <div class="buttons">
          <button type="button" class="small" onClick={() => all('mine')}>{t('conflict.allMine')}</button>
          <button type="button" class="small" onClick={() => all('theirs')}>{t('conflict.allTheirs')}</button>
        </div>
      )}
    </section>
  );
}
