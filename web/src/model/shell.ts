// Quoting for the two languages our rules embed text in: /bin/sh and ECMAScript regular expressions.

/** One single-quoted /bin/sh word; a quote inside becomes '\'' (close, escaped quote, reopen). */
export function shellQuote(value: string): string {
  return `'${value.replace(/'/g, `'\\''`)}'`;
}

/** An anchored expression that matches exactly `value` (Karabiner matches these anywhere otherwise). */
export function exactRegex(value: string): string {
  return `^${value.replace(/[\\^$.*+?()[\]{}|/]/g, '\\$&')}$`;
}

/** Inverse of exactRegex for expressions it produced; undefined for any other expression. */
export function unescapeExactRegex(expr: string): string | undefined {
  const m = /^\^(.*)\$$/s.exec(expr);
  if (!m) return undefined;
  let out = '';
  const body = m[1];
  for (let i = 0; i < body.length; i++) {
    const ch = body[i];
    if (ch === '\\') {
      const next = body[i + 1];
      if (next === undefined || !/[\\^$.*+?()[\]{}|/]/.test(next)) return undefined;
      out += next;
      i++;
    } else if (/[\^$.*+?()[\]{}|]/.test(ch)) {
      return undefined;
    } else {
      out += ch;
    }
  }
  return out;
}
