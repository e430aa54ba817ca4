import { hasMessage, t } from '../i18n';
import type { Store } from '../store';
import { Dialog } from './Dialog';

function size(n: number): string {
  return n >= 1024 * 1024 ? `${(n / 1024 / 1024).toFixed(1)} MB` : String(n);
}

export function ApplyDialog({ store }: { store: Store }) {
  const st = store.apply;
  if (st.phase === 'closed') return null;
  const close = () => store.set({ apply: { phase: 'closed' } });
  const rules = store.rules;
  const n = rules.reduce((k, r) => k + r.manipulators.length, 0);
  return (
    <Dialog labelledBy="apply-title" busy={st.phase === 'busy'} onClose={close} initial={st.phase}>
      <h2 id="apply-title">{t('apply.title')}</h2>
      {st.phase === 'confirm' && (
        <>
          <p>{n ? t('apply.body', { n, r: rules.length }) : t('apply.bodyEmpty')}</p>
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
      {st.phase === 'done' && (
        <>
          {st.outcome.ok ? (
            <div class="result ok" role="status">
              <p>{t('apply.ok')}</p>
              <code class="path">{st.outcome.backupPath}</code>
            </div>
          ) : (
            <div class="result failed" role="alert">
              <p>{t('apply.failed')}</p>
              {st.outcome.code && hasMessage(`code.${st.outcome.code}`) && (
                <p class="explain">{t(`code.${st.outcome.code}`, { line: st.outcome.line ?? '?', column: st.outcome.column ?? '?' })}</p>
              )}
              <pre class="error-text">{st.outcome.error}</pre>
            </div>
          )}
          <div class="buttons">
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
      <ul class="dropped">{c.items.map((x, i) => <li key={i}><code>{x}</code></li>)}</ul>
      <div class="buttons">
        <button type="button" data-autofocus onClick={close}>{t('apply.cancel')}</button>
        <button type="button" class="primary" onClick={() => { close(); c.run(); }}>{c.confirm}</button>
      </div>
    </Dialog>
  );
}
