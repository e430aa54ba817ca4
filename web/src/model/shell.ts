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

/** Words of a command made only of bare words and single-quoted parts ('it'\''s' is one word);
 * undefined for anything else (variables, other quoting, operators). */
export function shellWords(cmd: string): string[] | undefined {
  const words: string[] = [];
  let i = 0;
  while (i < cmd.length) {
    if (cmd[i] === ' ') { i++; continue; }
    let word = '';
    while (i < cmd.length && cmd[i] !== ' ') {
      if (cmd[i] === "'") {
        const end = cmd.indexOf("'", i + 1);
        if (end < 0) return undefined;
        word += cmd.slice(i + 1, end);
        i = end + 1;
      } else if (cmd[i] === '\\' && cmd[i + 1] === "'") {
        word += "'";
        i += 2;
      } else if (/[A-Za-z0-9_./-]/.test(cmd[i])) {
        word += cmd[i++];
      } else {
        return undefined;
      }
    }
    words.push(word);
  }
  return words;
}
