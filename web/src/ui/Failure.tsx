// A failure from the native side: what the user can do about it, in their language, beside the
// native text as it came.
import { hasMessage, t } from '../i18n';
import type { Failure } from '../model/config';

/** The page's own help for a failure code; with its place in karabiner.json when it has one. */
export function explain(f: Failure): string | undefined {
  if (!f.code) return undefined;
  const at = `code.${f.code}At`;
  if (f.line !== undefined && hasMessage(at)) return t(at, { line: f.line, column: f.column ?? '?' });
  return hasMessage(`code.${f.code}`) ? t(`code.${f.code}`) : undefined;
}

export function FailureText({ failure, lead }: { failure: Failure; lead?: string }) {
  const help = explain(failure);
  return (
    <div class="result failed" role="alert">
      {lead && <p>{lead}</p>}
      {help && <p class="explain">{help}</p>}
      {failure.error && <pre class="error-text">{failure.error}</pre>}
    </div>
  );
}
