import { Component, type ComponentChild, type FunctionComponent } from 'preact';

/** A component that re-renders only when a prop changes identity (preact/compat's memo without
 * compat's per-node cost). Hooks inside `fn` belong to this component. */
export function memo<P extends object>(fn: FunctionComponent<P>): new (props: P) => Component<P> {
  return class Memo extends Component<P> {
    shouldComponentUpdate(next: P): boolean {
      const prev = this.props as Record<string, unknown>;
      const nxt = next as Record<string, unknown>;
      for (const k in nxt) if (nxt[k] !== prev[k]) return true;
      for (const k in prev) if (!(k in nxt)) return true;
      return false;
    }
    render(props: P): ComponentChild {
      return fn(props);
    }
  };
}
