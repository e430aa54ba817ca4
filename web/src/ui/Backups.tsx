// The backups beside karabiner.json, newest first, and putting one back: the user's way to undo
// an apply (or a restore).
import { language, t } from '../i18n';
import { visibleText } from '../model/commands';
import { backupMade, type Backup } from '../model/config';
import type { Store } from '../store';
import { Dialog } from './Dialog';
import { FailureText } from './Failure';
import { RuleLine } from './RuleLine';

const when = (d: Date) => new Intl.DateTimeFormat(language(), { dateStyle: 'medium', timeStyle: 'medium' }).format(d);

/** When the backup was made (its name says); its file's own time is when that content was written. */
export function backupTime(b: Backup): string {
  const d = backupMade(b.name) ?? new Date(b.modified);
  return Number.isNaN(d.getTime()) ? visibleText(b.name) : when(d);
}
const writtenTime = (b: Backup): string | undefined => {
  const d = new Date(b.modified);
  return b.modified && !Number.isNaN(d.getTime()) ? when(d) : undefined;
};

export function fileSize(n: number): string {
  if (n < 1024) return `${n} B`;
  return n < 1024 * 1024 ? `${(n / 1024).toFixed(1)} KB` : `${(n / 1024 / 1024).toFixed(1)} MB`;
}

function BackupRules({ b }: { b: Backup }) {
  if (!b.rules) return <p class="hint warn">{t('backups.unreadable', { error: b.error ?? '' })}</p>;
  if (!b.rules.length) return <p class="hint">{t('backups.noRules')}</p>;
  return (
    <ul class="rulelines">
      {b.rules.map((r, i) => <li key={i}><RuleLine rule={r} /></li>)}
    </ul>
  );
}

export function Backups({ store }: { store: Store }) {
  const st = store.config;
  const c = st.phase === 'ready' ? st.config : undefined;
  return (
    <section class="backups" aria-labelledby="backups-heading">
      <div class="row">
        <h2 id="backups-heading" class="grow">{t('backups.heading')}</h2>
        {st.phase !== 'off' && <button type="button" class="small" disabled={st.phase === 'loading'} onClick={() => void store.loadConfig()}>{t('config.reload')}</button>}
      </div>
      {st.phase === 'off' && <p class="hint">{t(store.preview ? 'config.preview' : 'config.unsupported')}</p>}
      {st.phase === 'loading' && <p class="busy" role="status"><span class="spinner" aria-hidden="true" />{t('config.loading')}</p>}
      {st.phase === 'failed' && <FailureText failure={st.failure} lead={t('config.failed')} />}
      {c && (
        <>
          <p class="hint">{t('backups.help')}</p>
          {!c.backups.length && <p class="hint empty">{t('backups.none')}</p>}
          <ol class="backuplist">
            {c.backups.map((b, i) => {
              const time = backupTime(b);
              return (
                <li key={b.name} class="backup">
                  <div class="row">
                    <strong class="grow">{time}</strong>
                    {i === 0 && <span class="badge newest">{t('backups.newest')}</span>}
                    <span class="hint">{fileSize(b.size)}</span>
                    <button type="button" class={i === 0 ? 'primary small' : 'small'} disabled={!b.rules} aria-label={t('backups.restoreOne', { time })}
                      onClick={() => store.askRestore(b)}>{t('backups.restore')}</button>
                  </div>
                  <p class="hint"><span class="mono">{visibleText(b.name)}</span>{writtenTime(b) && <> · {t('backups.written', { time: writtenTime(b) as string })}</>}</p>
                  {b.rules && b.rules.length > 0 && <p class="hint">{t('backups.rules', { n: b.rules.length })}</p>}
                  <BackupRules b={b} />
                </li>
              );
            })}
          </ol>
        </>
      )}
    </section>
  );
}

export function RestoreDialog({ store }: { store: Store }) {
  const st = store.restoring;
  if (st.phase === 'closed') return null;
  const close = () => store.set({ restoring: { phase: 'closed' } });
  return (
    <Dialog labelledBy="restore-title" busy={st.phase === 'busy'} onClose={close} initial={st.phase}>
      <h2 id="restore-title">{t('restore.title')}</h2>
      {st.phase === 'confirm' && (
        <>
          <p>{t('restore.body', { time: backupTime(st.backup) })}</p>
          <BackupRules b={st.backup} />
          <p>{t('restore.first')}</p>
          <div class="buttons">
            <button type="button" onClick={close}>{t('apply.cancel')}</button>
            <button type="button" class="primary" data-autofocus onClick={() => void store.runRestore()}>{t('restore.confirm')}</button>
          </div>
        </>
      )}
      {st.phase === 'busy' && <p class="busy" role="status"><span class="spinner" aria-hidden="true" />{t('restore.busy')}</p>}
      {st.phase === 'done' && (
        <>
          {st.outcome.ok ? (
            <div class="result ok" role="status">
              <p>{t('restore.ok')}</p>
              <code class="path">{visibleText(st.outcome.backupPath)}</code>
            </div>
          ) : <FailureText failure={st.outcome} lead={t('restore.failed')} />}
          <div class="buttons"><button type="button" class="primary" onClick={close}>{t('apply.close')}</button></div>
        </>
      )}
    </Dialog>
  );
}
