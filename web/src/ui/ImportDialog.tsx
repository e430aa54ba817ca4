// Importing a document into an editor with work in it: add its rules (the default) or let them
// replace the editor's rules. One undo takes either back.
import { useState } from 'preact/hooks';
import { t } from '../i18n';
import { visibleText } from '../model/commands';
import type { Store } from '../store';
import { Dialog } from './Dialog';

export function ImportDialog({ store }: { store: Store }) {
  const im = store.importing;
  const [mode, setMode] = useState<'add' | 'replace'>('add');
  if (!im) return null;
  const close = () => store.set({ importing: undefined });
  const rules = im.ruleSet.rules.filter((r) => r.fixed === undefined);
  const n = rules.reduce((k, r) => k + r.mappings.length, 0);
  return (
    <Dialog labelledBy="import-title" onClose={close}>
      <h2 id="import-title">{t('import.title', { title: visibleText(im.ruleSet.title) })}</h2>
      <p>{t('import.what', { r: rules.length, n })}</p>
      <div class="importchoice" role="radiogroup" aria-labelledby="import-title">
        <label><input type="radio" name="import-mode" checked={mode === 'add'} onChange={() => setMode('add')} />{t('import.add')}</label>
        <p class="hint">{t('import.add.d')}</p>
        <label><input type="radio" name="import-mode" checked={mode === 'replace'} onChange={() => setMode('replace')} />{t('import.replace')}</label>
        <p class="hint">{t(store.profile ? 'import.replace.d' : 'import.replace.dPreview')}</p>
      </div>
      <p class="hint">{t('import.undo')}</p>
      <div class="buttons">
        <button type="button" onClick={close}>{t('apply.cancel')}</button>
        <button type="button" class="primary" data-autofocus onClick={() => store.finishImport({ ...im, mode })}>{t('import.confirm')}</button>
      </div>
    </Dialog>
  );
}
