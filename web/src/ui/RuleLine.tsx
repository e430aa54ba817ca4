// One rule of karabiner.json on a line: Tarvel's mark, its description (invisible characters
// shown), on or off, and how many manipulators it has.
import type { ComponentChildren } from 'preact';
import { t } from '../i18n';
import { TARVEL_PREFIX, type Listed } from '../model/config';
import { visibleText, type Command } from '../model/commands';

export function ruleName(description: string | null): string {
  return description === null ? t('config.noDescription') : visibleText(description);
}

export function RuleLine({ rule, children }: { rule: Listed; children?: ComponentChildren }) {
  const own = rule.description?.startsWith(TARVEL_PREFIX) ?? false;
  return (
    <span class="ruleline">
      {own && <span class="badge own">{t('config.own')}</span>}
      <span class="desc">{ruleName(own ? (rule.description as string).slice(TARVEL_PREFIX.length) : rule.description)}</span>
      <span class={`badge ${rule.enabled ? 'on' : 'off'}`}>{t(rule.enabled ? 'config.on' : 'config.off')}</span>
      <span class="mcount">{t('config.manipulators', { n: rule.manipulators })}</span>
      {children}
    </span>
  );
}

export function RuleLines({ heading, rules, id, fate }: { heading: string; rules: Listed[]; id: string; fate?: (r: Listed) => string | undefined }) {
  if (!rules.length) return null;
  return (
    <>
      <h3 id={id}>{heading}</h3>
      <ul class="rulelines" aria-labelledby={id}>
        {rules.map((r, i) => {
          const f = fate?.(r);
          return <li key={i}><RuleLine rule={r}>{f && <span class="fate">{f}</span>}</RuleLine></li>;
        })}
      </ul>
    </>
  );
}

const KIND_LABEL: Record<Command['kind'], string> = {
  shell: 'commands.shell', shortcut: 'commands.shortcut', focusApplication: 'commands.focus', openApplication: 'commands.open',
  openFile: 'commands.openFile', userCommand: 'commands.userCommand',
};

/** Commands in full (wrapped, never cut), invisible characters shown, odd app fallbacks marked. */
export function CommandItems({ list, labelledBy, label }: { list: (Command & { rule?: string })[]; labelledBy?: string; label?: string }) {
  return (
    <ul class="commands full" aria-labelledby={labelledBy} aria-label={label}>
      {list.map((c, i) => (
        <li key={i} class={c.warning ? 'warn' : ''}>
          <span class="kind">{t(KIND_LABEL[c.kind])}</span>
          {c.rule !== undefined && <span class="rule">{ruleName(c.rule)}</span>}
          <code>{visibleText(c.text)}</code>
          {c.warning && <span class="warning">⚠ {t(`commands.${c.warning}`)}</span>}
        </li>
      ))}
    </ul>
  );
}
