import { t } from '../i18n';
import { visibleText } from '../model/commands';
import { describe, listed, selectedProfile, type Configuration } from '../model/config';
import { jsonChanges, pathText, valueText } from '../model/diff';
import type { Json } from '../model/json';
import { keyLabel } from '../model/keys';
import { added, changedSteps, commentPlaces, keptSteps, movedSteps, type Step } from '../model/profile';
import { plainName } from '../model/rules';
import { describeManipulator } from '../model/summary';
import type { ValuePath } from '../model/types';
import type { Store } from '../store';
import { Dialog } from './Dialog';
import { FailureText } from './Failure';
import { deviceName } from './ProfileValues';
import { CommandItems, RuleLine, ruleName } from './RuleLine';

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

/** One line per member that changes: what it was and what it becomes. */
export function Changes({ before, after }: { before: Json | undefined; after: Json }) {
  const { changes, more } = jsonChanges(before, after);
  return (
    <ul class="changes">
      {changes.map((c, i) => {
        const path = pathText(c.path);
        // A manipulator added or removed whole reads as what it does.
        const whole = c.path.length === 2 && c.path[0] === 'manipulators';
        const show = (v: Json) => visibleText(whole ? describeManipulator(v) : valueText(v));
        if (c.path.length === 1 && c.path[0] === 'enabled') {
          return <li key={i} class="changed">{t(c.after === false ? 'apply.turnedOff' : 'apply.turnedOn')}</li>;
        }
        if (c.before === undefined) return <li key={i} class="plus"><code>{path}</code> {t('apply.memberAdded')}: <code>{show(c.after as Json)}</code></li>;
        if (c.after === undefined) return <li key={i} class="minus"><code>{path}</code> {t('apply.memberRemoved')}: <code>{show(c.before)}</code></li>;
        return <li key={i} class="changed"><code>{path}</code>: <code>{visibleText(valueText(c.before))}</code> → <code>{visibleText(valueText(c.after))}</code></li>;
      })}
      {more > 0 && <li class="hint">{t('apply.moreChanges', { n: more })}</li>}
    </ul>
  );
}

/** A rule named in a sentence: once, without the mark of rules made in Tarvel. */
const shown = (description: string | null): string => ruleName(description === null ? null : plainName(description));

export const valueName = (path: ValuePath, c: Configuration, profile: number): string => {
  if (path[0] !== 'devices') return t(`values.${path[0]}`);
  const d = c.profiles[profile]?.deviceSettings[path[1]];
  return t(`values.device.${path[2]}`, { device: deviceName(d, path[1]) });
};

/** What the apply does to the chosen profile, rule by rule, when karabiner.json has been read. */
function Plan({ store }: { store: Store }) {
  const p = store.plan;
  const c = store.configRead;
  const profile = store.profile;
  if (!p || !c || !profile) {
    const rules = store.rules;
    const n = rules.reduce((k, r) => k + r.manipulators.length, 0);
    return <p>{n ? t('apply.body', { n, r: rules.length }) : t('apply.bodyEmpty')}</p>;
  }
  const i = store.choices.profile;
  const name = profile.name ?? t('config.unnamedProfile', { n: i + 1 });
  const newOnes = added(p);
  const changed = changedSteps(p);
  const moved = movedSteps(p).filter((s) => s.kind !== 'changed');
  const kept = keptSteps(p);
  const wins = store.winnerChanges;
  const comments = commentPlaces(p, profile.commentedRules);
  const place = (s: Step) => t('apply.at', { n: s.position + 1 });
  return (
    <>
      <p>{t(i === selectedProfile(c) ? 'apply.profile' : 'apply.profileOther', { name })}</p>
      <StepLines id="apply-added" heading={t('apply.added', { n: newOnes.length })} steps={newOnes} note={place} />
      {changed.length > 0 && (
        <>
          <h3 id="apply-changed">{t('apply.changedRules', { n: changed.length })}</h3>
          <ul class="rulelines" aria-labelledby="apply-changed">
            {changed.map((s, k) => (
              <li key={k}>
                <RuleLine rule={listed(s.content)}>
                  <span class="fate">{s.moved ? t('apply.movedFrom', { from: (s.index as number) + 1, to: s.position + 1 }) : place(s)}</span>
                </RuleLine>
                <Changes before={profile.rules[s.index as number]} after={s.content} />
              </li>
            ))}
          </ul>
        </>
      )}
      <StepLines id="apply-moved" heading={t('apply.moved', { n: moved.length })} steps={moved}
        note={(s) => t('apply.movedFrom', { from: (s.index as number) + 1, to: s.position + 1 })} />
      {p.removed.length > 0 && (
        <>
          <h3 id="apply-removed">{t('apply.removed', { n: p.removed.length })}</h3>
          <ul class="rulelines" aria-labelledby="apply-removed">
            {p.removed.map((g, k) => <li key={k}><RuleLine rule={listed(g.rule)}><span class="fate">{t('apply.from', { n: g.index + 1 })}</span></RuleLine></li>)}
          </ul>
        </>
      )}
      {comments.length > 0 && (
        <ul class="notes" aria-label={t('apply.commentsHeading')}>
          {comments.map((cp, k) => {
            const gone = shown(describe(cp.rule));
            const to = cp.before ?? cp.after;
            return (
              <li key={k}>{to
                ? t(cp.before ? 'apply.commentsBefore' : 'apply.commentsAfter', { gone, rule: shown(describe(to.content)) })
                : t('apply.commentsStart', { gone })}</li>
            );
          })}
        </ul>
      )}
      {p.values.length > 0 && (
        <>
          <h3 id="apply-values">{t('apply.values', { n: p.values.length })}</h3>
          <ul class="rulelines" aria-labelledby="apply-values">
            {p.values.map((v, k) => <li key={k}><span class="desc">{valueName(v.path, c, i)}</span><Changes before={v.before} after={v.value} /></li>)}
          </ul>
        </>
      )}
      {kept.length > 0 && (kept.length > 12 ? (
        <details class="options">
          <summary id="apply-kept">{t('apply.kept', { n: kept.length })}</summary>
          <KeptLines steps={kept} />
        </details>
      ) : (
        <>
          <h3 id="apply-kept">{t('apply.kept', { n: kept.length })}</h3>
          <KeptLines steps={kept} />
        </>
      ))}
      {wins.length > 0 && (
        <div class="result warnbox" role="note">
          <h3 id="apply-wins">{t('apply.winsHeading')}</h3>
          <ul aria-labelledby="apply-wins">
            {wins.map((w, k) => <li key={k}>{t('apply.win', { key: w.key ? keyLabel(w.key) : '?', now: shown(w.now), before: shown(w.before) })}</li>)}
          </ul>
        </div>
      )}
    </>
  );
}

function KeptLines({ steps }: { steps: Step[] }) {
  return <ul class="rulelines" aria-labelledby="apply-kept">{steps.map((s, k) => <li key={k}><RuleLine rule={listed(s.content)} /></li>)}</ul>;
}

function StepLines({ id, heading, steps, note }: { id: string; heading: string; steps: Step[]; note: (s: Step) => string }) {
  if (!steps.length) return null;
  return (
    <>
      <h3 id={id}>{heading}</h3>
      <ul class="rulelines" aria-labelledby={id}>
        {steps.map((s, k) => <li key={k}><RuleLine rule={listed(s.content)}><span class="fate">{note(s)}</span></RuleLine></li>)}
      </ul>
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
