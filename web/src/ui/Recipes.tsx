import { memo } from './memo';
import { useState } from 'preact/hooks';
import { t } from '../i18n';
import { RECIPES, recipeDefaults, type Recipe } from '../model/recipes';
import type { AppRef } from '../model/types';
import type { Store } from '../store';
import { AppOpenerChoice } from './AppOpener';
import { AppPicker, KeyField, ModsPicker } from './fields';

interface CardProps {
  store: Store; recipe: Recipe; lang: string; apps: unknown; inventoryState: string; picking: string | undefined;
  /** For cards that open apps: the rules, which the choice of how to open them looks at. */
  rules?: unknown;
}

// Cards depend on the inventory and the key being picked, not on the rule set.
const RecipeCard = memo(({ store, recipe }: CardProps) => {
  const [values, setValues] = useState(() => recipeDefaults(recipe));
  const set = (name: string, v: unknown) => setValues({ ...values, [name]: v });
  const title = t(`recipe.${recipe.id}`);
  return (
    <li class="recipe" data-recipe={recipe.id}>
      <div class="recipehead">
        <h3>{title}</h3>
        <button type="button" class="primary small" aria-label={`${t('recipes.add')}: ${title}`} onClick={() => {
          const ms = recipe.build(values, { helperPath: store.helperPath });
          store.addRule(title, ms);
          store.set({ notice: { kind: 'info', text: t('recipes.added', { name: title }) } });
        }}>{t('recipes.add')}</button>
      </div>
      <p class="hint">{t(`recipe.${recipe.id}.d`)}</p>
      {recipe.params.map((p) => (
        <div class="param" key={p.name}>
          <span class="fieldlabel">{t(p.label)}</span>
          {p.kind === 'key' && <KeyField store={store} compact value={(values[p.name] as string) ?? ''} label={`${title}: ${t(p.label)}`} onChange={(k) => set(p.name, k)} />}
          {p.kind === 'mods' && <ModsPicker value={(values[p.name] as string[]) ?? []} label={t(p.label)} onChange={(v) => set(p.name, v)} />}
          {p.kind === 'keys2' && ((values[p.name] as string[]) ?? ['', '']).map((k, i, all) => (
            <KeyField key={i} store={store} compact value={k} label={`${title}: ${t(p.label)} ${i + 1}`}
              onChange={(v) => set(p.name, all.map((x, j) => (j === i ? v : x)))} />
          ))}
          {p.kind === 'tap' && (
            <select value={values[p.name] as string} aria-label={t(p.label)} onChange={(e) => set(p.name, (e.currentTarget as HTMLSelectElement).value)}>
              <option value="none">{t('tap.none')}</option>
              <option value="escape">{t('tap.escape')}</option>
            </select>
          )}
          {p.kind === 'app' && <AppPicker store={store} value={(values[p.name] as AppRef | undefined) ?? null} onChange={(a) => set(p.name, a)} />}
        </div>
      ))}
      {recipe.params.some((p) => p.kind === 'app') && <AppOpenerChoice store={store} folded />}
    </li>
  );
});

export function Recipes({ store }: { store: Store }) {
  return (
    <section class="recipes" aria-labelledby="recipes-heading">
      <h2 id="recipes-heading">{t('recipes.heading')}</h2>
      <ul>
        {RECIPES.map((r) => (
          <RecipeCard key={r.id} store={store} recipe={r} lang={store.lang} apps={store.apps} inventoryState={store.inventoryState} picking={store.picking?.fieldId}
            rules={r.params.some((p) => p.kind === 'app') ? store.ruleSet : undefined} />
        ))}
      </ul>
    </section>
  );
}
