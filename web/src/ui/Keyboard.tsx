// The keyboard picture: one Tab stop, arrow keys move between keys, one view per layer. Every
// mapping marks its key, whatever form it is in; the profile's simple modifications are written on
// the keys they change.
import { useRef, useState } from 'preact/hooks';
import { t } from '../i18n';
import { LAYOUTS, type Cap, type LayoutName } from '../model/keys';
import { memo } from './memo';
import { useId } from './fields';

interface Props {
  layout: LayoutName;
  /** Key name → mappings on it, in the layer shown. */
  marks: Map<string, string[]>;
  /** Key name → what the profile's simple modification makes of it. */
  simple?: Map<string, string>;
  /** The selected mapping's keys, separated by spaces. */
  selected: string;
  picking: boolean;
  onKey: (key: string) => void;
  layer: string;
  layers: string[];
  layerNames: string[];
  onLayer: (layer: string) => void;
  lang: string;
  /** Shown to say what a click does here. */
  label: string;
}

/** Centre of each key of a row, in key units, for moving up and down. */
const centres = (row: Cap[]) => {
  let x = 0;
  return row.map((c) => { const mid = x + c.w / 2; x += c.w; return mid; });
};

const NO_SIMPLE = new Map<string, string>();

export const Keyboard = memo(({ layout, marks, simple = NO_SIMPLE, selected: selectedKeys, picking, onKey, layer, layers, layerNames, onLayer, label }: Props) => {
  const rows = LAYOUTS[layout];
  const selected = new Set(selectedKeys.split(' '));
  const [focus, setFocus] = useState<[number, number]>([0, 0]);
  // Keys pressed faster than the picture re-renders still move from where focus really is.
  const at = useRef<[number, number]>([0, 0]);
  const box = useRef<HTMLDivElement>(null);
  const layerId = useId('layer');
  const [fr, fc] = focus[0] < rows.length && focus[1] < rows[focus[0]].length ? focus : [0, 0];
  const place = (r: number, c: number) => { at.current = [r, c]; setFocus([r, c]); };
  const move = (r: number, c: number) => {
    place(r, c);
    (box.current?.querySelector(`[data-pos="${r}-${c}"]`) as HTMLElement | null)?.focus();
  };
  const onKeyDown = (e: KeyboardEvent) => {
    const [fr, fc] = at.current[0] < rows.length && at.current[1] < rows[at.current[0]].length ? at.current : [0, 0];
    const row = rows[fr];
    let r = fr;
    let c = fc;
    switch (e.key) {
      case 'ArrowRight': c = Math.min(row.length - 1, c + 1); break;
      case 'ArrowLeft': c = Math.max(0, c - 1); break;
      case 'Home': c = 0; break;
      case 'End': c = row.length - 1; break;
      case 'ArrowUp': case 'ArrowDown': {
        r = Math.max(0, Math.min(rows.length - 1, r + (e.key === 'ArrowUp' ? -1 : 1)));
        if (r === fr) break;
        const x = centres(row)[c];
        const next = centres(rows[r]);
        c = next.reduce((best, v, i) => (Math.abs(v - x) < Math.abs(next[best] - x) && rows[r][i].w > 0.8 ? i : best), 0);
        break;
      }
      default: return;
    }
    e.preventDefault();
    move(r, c);
  };
  return (
    <div class="kbwrap">
      <div class="row kbhead">
        <label class="fieldlabel" for={layerId}>{t('kb.layer')}</label>
        <select id={layerId} value={layer} onChange={(e) => onLayer((e.currentTarget as HTMLSelectElement).value)}>
          <option value="">{t('kb.baseLayer')}</option>
          {layers.map((l, i) => <option key={l} value={l}>{layerNames[i]}</option>)}
        </select>
        <span class="hint">{label}</span>
      </div>
      <div ref={box} class={`keyboard${picking ? ' picking' : ''}`} role="group" aria-label={t('kb.label')} onKeyDown={onKeyDown}>
        {rows.map((row, r) => (
          <div class={`kbrow${r === 0 ? ' fnrow' : ''}`} key={r}>
            {row.map((cap, i) => {
              const n = marks.get(cap.key)?.length ?? 0;
              const hidden = cap.w < 0.8;
              const sm = simple.get(cap.key);
              const smText = sm === undefined ? '' : t('kb.simple', { to: sm });
              return (
                <button type="button" key={`${cap.key}${i}`} data-key={cap.key} data-pos={`${r}-${i}`} data-sm={sm === undefined ? undefined : `→${sm}`}
                  tabIndex={!hidden && r === fr && i === fc ? 0 : -1} aria-hidden={hidden || undefined}
                  class={`kbkey${n ? ' mapped' : ''}${sm !== undefined ? ' simple' : ''}${selected.has(cap.key) ? ' selected' : ''}`}
                  style={{ flexGrow: cap.w, flexBasis: 0 }}
                  title={[cap.key, n ? t('kb.mapped', { n }) : '', smText].filter(Boolean).join(' · ')}
                  aria-label={`${cap.cap || cap.key} (${cap.key})${n ? `, ${t('kb.mapped', { n })}` : ''}${smText ? `, ${smText}` : ''}`}
                  onFocus={() => { if (!hidden && (r !== at.current[0] || i !== at.current[1])) place(r, i); }}
                  onClick={() => onKey(cap.key)}>
                  {cap.cap}
                  {/* Drawn by the style sheet: the key's accessible name starts with what it shows. */}
                  {n > 1 && <span class="count" aria-hidden="true" data-n={n} />}

                </button>
              );
            })}
          </div>
        ))}
      </div>
    </div>
  );
});
