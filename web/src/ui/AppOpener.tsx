// How the rules open or focus applications, chosen for the whole rule set: Tarvel's tarvel-focus, or
// Karabiner-Elements' own open_application, which a karabiner.json shared with another machine can
// use without Tarvel there. Each choice says what it needs on that machine.
import { t } from '../i18n';
import { visibleText } from '../model/commands';
import type { AppOpener } from '../model/types';
import type { Store } from '../store';
import { useMemo } from 'preact/hooks';

let uid = 0;

/** `folded`: in a narrow place, the choice opens from a line that says the current one. */
export function AppOpenerChoice({ store, folded }: { store: Store; folded?: boolean }) {
  const id = useMemo(() => `opener-${++uid}`, []);
  const chosen = store.opener;
  const helper = store.focusHelper;
  const other: AppOpener = chosen === 'helper' ? 'engine' : 'helper';
  // Actions written the other way that the chosen way can say too.
  const rewrite = store.rewrittenOpeners(chosen);
  const body = (
    <fieldset class="opener">
      <legend id={id}>{t('opener.legend')}</legend>
      <div role="radiogroup" aria-labelledby={id}>
        <label><input type="radio" name={id} checked={chosen === 'helper'} disabled={!helper} onChange={() => store.setOpener('helper')} />{t('opener.helper')}</label>
        <p class="hint">{helper ? t('opener.helper.d', { path: visibleText(helper) }) : t('opener.helper.none')}</p>
        <label><input type="radio" name={id} checked={chosen === 'engine'} onChange={() => store.setOpener('engine')} />{t('opener.engine')}</label>
        <p class="hint">{t('opener.engine.d')}</p>
      </div>
      {rewrite.count > 0 && (
        <button type="button" class="small" onClick={() => store.setOpener(chosen, true)}>
          {t(`opener.rewrite.${other}`, { n: rewrite.count, r: rewrite.touched })}
        </button>
      )}
    </fieldset>
  );
  if (!folded) return body;
  return (
    <details class="options opener-fold">
      <summary>{t('opener.summary', { way: t(`opener.${chosen}`) })}</summary>
      {body}
    </details>
  );
}
