import { useEffect, useRef } from 'preact/hooks';
import { t } from '../i18n';
import type { Store } from '../store';

export function ApplyDialog({ store }: { store: Store }) {
  const st = store.apply;
  const first = useRef<HTMLButtonElement>(null);
  useEffect(() => { first.current?.focus(); }, [st.phase]);
  if (st.phase === 'closed') return null;
  const close = () => store.set({ apply: { phase: 'closed' } });
  const n = store.manipulators.length;
  return (
    <div class="overlay" onKeyDown={(e) => { if (e.key === 'Escape') close(); }}>
      <div class="dialog" role="dialog" aria-modal="true" aria-labelledby="apply-title" aria-busy={st.phase === 'busy'}>
        <h2 id="apply-title">{t('apply.title')}</h2>
        {st.phase === 'confirm' && (
          <>
            <p>{n ? t('apply.body', { n }) : t('apply.bodyEmpty')}</p>
            <div class="buttons">
              <button type="button" onClick={close}>{t('apply.cancel')}</button>
              <button type="button" class="primary" ref={first} onClick={() => void store.runApply()}>{t('apply.confirm')}</button>
            </div>
          </>
        )}
        {st.phase === 'busy' && (
          <>
            <p class="busy" role="status"><span class="spinner" aria-hidden="true" />{t('apply.busy')}</p>
            <div class="buttons">
              <button type="button" ref={first} onClick={close}>{t('apply.hide')}</button>
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
                <pre class="error-text">{st.outcome.error}</pre>
              </div>
            )}
            <div class="buttons">
              <button type="button" class="primary" ref={first} onClick={close}>{t('apply.close')}</button>
            </div>
          </>
        )}
      </div>
    </div>
  );
}
