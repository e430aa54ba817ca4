import { t } from '../i18n';
import { visibleText } from '../model/commands';
import { selectedProfile, type Listed, type Removed } from '../model/config';
import type { Store } from '../store';
import { Dialog } from './Dialog';
import { FailureText } from './Failure';
import { CommandItems, RuleLines } from './RuleLine';

function size(n: number): string {
  return n >= 1024 * 1024 ? `${(n / 1024 / 1024).toFixed(1)} MB` : String(n);
}

/** Every command the rules that will be written run, and every app or file they open, in full. */
function Commands({ store }: { store: Store }) {
  const list = store.commands();
  if (!list.length) return <p class="hint">{t('apply.noCommands')}</p>;
  return (
    <>
      <h3 id="apply-commands">{t('apply.commands', { n: list.length })}</h3>
      <CommandItems list={list} labelledBy="apply-commands" />
    </>
  );
}

/** What the apply does to the chosen profile, rule by rule, when karabiner.json has been read. */
function Plan({ store }: { store: Store }) {
  const p = store.plan;
  const c = store.config.phase === 'ready' ? store.config.config : undefined;
  if (!p || !c) {
    const rules = store.rules;
    const n = rules.reduce((k, r) => k + r.manipulators.length, 0);
    return <p>{n ? t('apply.body', { n, r: rules.length }) : t('apply.bodyEmpty')}</p>;
  }
  const i = store.choices.profile;
  const name = c.profiles[i]?.name ?? t('config.unnamedProfile', { n: i + 1 });
  const fate = (r: Listed) => t(`apply.fate.${(r as Removed).fate}`);
  return (
    <>
      <p>{t(i === selectedProfile(c) ? 'apply.profile' : 'apply.profileOther', { name })}</p>
      <RuleLines id="apply-added" heading={t('apply.added', { n: p.added.length })} rules={p.added} />
      <RuleLines id="apply-same" heading={t('apply.same', { n: p.same.length })} rules={p.same} />
      <RuleLines id="apply-kept" heading={t('apply.kept', { n: p.kept.length })} rules={p.kept} />
      <RuleLines id="apply-removed" heading={t('apply.removed', { n: p.removed.length })} rules={p.removed} fate={fate} />
      {p.reordered && <p>{t('apply.reordered')}</p>}
    </>
  );
}

export function ApplyDialog({ store }: { store: Store }) {
  const st = store.apply;
  if (st.phase === 'closed') return null;
  const close = () => store.set({ apply: { phase: 'closed' } });
  const c = store.config.phase === 'ready' ? store.config.config : undefined;
  // The backup this apply made, once the file has been read again.
  const made = st.phase === 'done' && st.outcome.ok ? st.outcome.backupPath : undefined;
  const undo = made ? c?.backups.find((b) => b.path === made || made.endsWith(`/${b.name}`)) : undefined;
  return (
    <Dialog labelledBy="apply-title" busy={st.phase === 'busy'} onClose={close} initial={st.phase}>
      <h2 id="apply-title">{t('apply.title')}</h2>
      {st.phase === 'confirm' && (
        <>
          <Plan store={store} />
          <Commands store={store} />
          <p>{c ? t('apply.backupFirst') : ''}{c?.hasComments ? ` ${t('apply.comments')}` : ''}</p>
          <div class="buttons">
            <button type="button" onClick={close}>{t('apply.cancel')}</button>
            <button type="button" class="primary" data-autofocus onClick={() => void store.runApply()}>{t('apply.confirm')}</button>
          </div>
        </>
      )}
      {st.phase === 'refused' && (
        <>
          <div class="result failed" role="alert">
            <p>{t(`limit.${st.problem.code}`, { value: size(st.problem.value), limit: size(st.problem.limit) })}</p>
          </div>
          <div class="buttons"><button type="button" class="primary" onClick={close}>{t('apply.close')}</button></div>
        </>
      )}
      {st.phase === 'busy' && (
        <>
          <p class="busy" role="status"><span class="spinner" aria-hidden="true" />{t('apply.busy')}</p>
          <div class="buttons">
            <button type="button" onClick={close}>{t('apply.hide')}</button>
          </div>
        </>
      )}
      {st.phase === 'done' && !st.outcome.ok && st.outcome.code === 'changed' && (
        // Only what happened and the way out: nothing was written.
        <>
          <div class="result failed" role="alert"><p>{t('apply.changed')}</p></div>
          <div class="buttons">
            <button type="button" class="primary" onClick={() => { close(); store.set({ tab: 'installed' }); void store.loadConfig(); }}>{t('apply.reload')}</button>
          </div>
        </>
      )}
      {st.phase === 'done' && (st.outcome.ok || st.outcome.code !== 'changed') && (
        <>
          {st.outcome.ok ? (
            <div class="result ok" role="status">
              <p>{t('apply.ok')}</p>
              <code class="path">{visibleText(st.outcome.backupPath)}</code>
            </div>
          ) : <FailureText failure={st.outcome} lead={t('apply.failed')} />}
          <div class="buttons">
            {st.outcome.ok && store.bridge.readsConfiguration && (
              <button type="button" disabled={!undo} onClick={() => { if (undo) { close(); store.askRestore(undo); } }}>{t('apply.undo')}</button>
            )}
            <button type="button" class="primary" onClick={close}>{t('apply.close')}</button>
          </div>
        </>
      )}
    </Dialog>
  );
}

export function ConfirmDialog({ store }: { store: Store }) {
  const c = store.confirm;
  if (!c) return null;
  const close = () => store.set({ confirm: undefined });
  return (
    <Dialog labelledBy="confirm-title" onClose={close}>
      <h2 id="confirm-title">{c.title}</h2>
      <p>{c.body}</p>
      {c.items.length > 0 && <ul class="dropped">{c.items.map((x, i) => <li key={i}><code>{visibleText(x)}</code></li>)}</ul>}
      <div class="buttons">
        <button type="button" data-autofocus onClick={close}>{t('apply.cancel')}</button>
        <button type="button" class="primary" onClick={() => { close(); c.run(); }}>{c.confirm}</button>
      </div>
    </Dialog>
  );
}
