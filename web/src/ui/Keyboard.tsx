import { memo } from './memo';
import { t } from '../i18n';
import { LAYOUTS, type LayoutName } from '../model/keys';

interface Props { layout: LayoutName; counts: Map<string, number>; selected: string; picking: boolean; onKey: (key: string) => void; lang: string }

/** `selected` holds the selected mapping's keys, separated by spaces. */
export const Keyboard = memo(({ layout, counts, selected: selectedKeys, picking, onKey }: Props) => {
  const selected = new Set(selectedKeys.split(' '));
  return (
    <div class={`keyboard${picking ? ' picking' : ''}`} role="group" aria-label={t('kb.label')}>
      {LAYOUTS[layout].map((row, r) => (
        <div class={`kbrow${r === 0 ? ' fnrow' : ''}`} key={r}>
          {row.map((cap, i) => {
            const n = counts.get(cap.key) ?? 0;
            return (
              <button type="button" key={`${cap.key}${i}`} data-key={cap.key}
                class={`kbkey${n ? ' mapped' : ''}${selected.has(cap.key) ? ' selected' : ''}`}
                style={{ flexGrow: cap.w, flexBasis: 0 }}
                title={n ? `${cap.key} · ${t('kb.mapped')} (${n})` : cap.key}
                aria-label={`${cap.cap} (${cap.key})${n ? `, ${t('kb.mapped')}` : ''}`}
                onClick={() => onKey(cap.key)}>
                {cap.cap}
              </button>
            );
          })}
        </div>
      ))}
    </div>
  );
});
