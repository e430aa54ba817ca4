// A modal dialog: focus moves into it, stays in it, and goes back to where it was when it closes.
import type { ComponentChildren } from 'preact';
import { useEffect, useLayoutEffect, useRef } from 'preact/hooks';

export function Dialog({ labelledBy, busy, onClose, children, initial }: {
  labelledBy: string; busy?: boolean; onClose: () => void; children: ComponentChildren;
  /** Changes when the content changes enough to move focus to its first button again. */
  initial?: string;
}) {
  const box = useRef<HTMLDivElement>(null);
  const opener = useRef<Element | null>(null);
  useLayoutEffect(() => {
    opener.current = document.activeElement;
    return () => {
      const el = opener.current as HTMLElement | null;
      // The page behind is inert while the dialog is up; give it a frame to come back. An opener
      // that is gone or now off (Apply after an apply) would leave focus nowhere: the open tab takes it.
      requestAnimationFrame(() => {
        const back = el && el.isConnected && !el.matches(':disabled') ? el : document.querySelector<HTMLElement>('[role=tab][aria-selected=true]');
        back?.focus();
      });
    };
  }, []);
  useEffect(() => {
    const el = box.current?.querySelector<HTMLElement>('[data-autofocus]') ?? box.current?.querySelector<HTMLElement>('button');
    // The dialog opens at its top, so that it is read from the start.
    el?.focus({ preventScroll: true });
  }, [initial]);
  const onKeyDown = (e: KeyboardEvent) => {
    if (e.key === 'Escape') { e.stopPropagation(); onClose(); return; }
    if (e.key !== 'Tab' || !box.current) return;
    const items = [...box.current.querySelectorAll<HTMLElement>('button, [href], input, select, textarea, [tabindex]:not([tabindex="-1"])')].filter((x) => !x.hasAttribute('disabled'));
    if (!items.length) return;
    const first = items[0];
    const last = items[items.length - 1];
    if (e.shiftKey && document.activeElement === first) { e.preventDefault(); last.focus(); }
    else if (!e.shiftKey && document.activeElement === last) { e.preventDefault(); first.focus(); }
  };
  return (
    <div class="overlay" onKeyDown={onKeyDown}>
      <div ref={box} class="dialog" role="dialog" aria-modal="true" aria-labelledby={labelledBy} aria-busy={busy}>
        {children}
      </div>
    </div>
  );
}
