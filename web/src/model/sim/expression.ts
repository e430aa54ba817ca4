// The expressions of `expression_if` and `set_variable.expression`, in the part of their language
// (exprtk's) that rules use: numbers, variables (unknown ones are 0; names ending in "_string" hold
// text), arithmetic, comparisons, and / or / not, `c ? a : b`, `if(c, a, b)`, `:=` and `;`, and the
// common functions. Names are compared without regard to case, as the engine's library does.

export type ExprValue = number | string;
export type Lookup = (name: string) => ExprValue | undefined;
export type Compiled = (lookup: Lookup) => number;

type Node = (ctx: Ctx) => ExprValue;
interface Ctx { lookup: Lookup; locals: Map<string, ExprValue> }

const FUNCTIONS: Record<string, (...xs: number[]) => number> = {
  abs: Math.abs, ceil: Math.ceil, floor: Math.floor, sqrt: Math.sqrt, exp: Math.exp, log: Math.log, log10: Math.log10,
  round: (x) => (x < 0 ? -Math.round(-x) : Math.round(x)), trunc: Math.trunc, frac: (x) => x - Math.trunc(x),
  sgn: Math.sign, pow: Math.pow, min: Math.min, max: Math.max, avg: (...xs) => xs.reduce((a, b) => a + b, 0) / xs.length,
  sum: (...xs) => xs.reduce((a, b) => a + b, 0), clamp: (lo, x, hi) => Math.min(Math.max(x, lo), hi),
  sin: Math.sin, cos: Math.cos, tan: Math.tan, atan2: Math.atan2, hypot: Math.hypot,
  equal: (a, b) => (Math.abs(a - b) < 1e-10 ? 1 : 0),
  not_equal: (a, b) => (Math.abs(a - b) < 1e-10 ? 0 : 1),
};
const CONSTANTS: Record<string, number> = { pi: Math.PI, epsilon: 1e-10, inf: Infinity, true: 1, false: 0 };

const num = (v: ExprValue): number => (typeof v === 'number' ? v : NaN);
const truthy = (v: ExprValue): boolean => (typeof v === 'number' ? v !== 0 && !Number.isNaN(v) : v !== '');
const bool = (b: boolean): number => (b ? 1 : 0);

class Parser {
  private i = 0;
  private readonly toks: string[];
  constructor(src: string) {
    this.toks = src.match(/\s+|\/\/[^\n]*|#[^\n]*|\d+\.?\d*(?:e[+-]?\d+)?|\.\d+(?:e[+-]?\d+)?|'(?:[^'\\]|\\.)*'|[A-Za-z_][A-Za-z0-9_.]*|:=|\+=|-=|\*=|\/=|==|!=|<>|<=|>=|&&|\|\||[-+*/%^()<>=!?:;,&|]|./g)
      ?.filter((t) => !/^\s+$|^\/\/|^#/.test(t)) ?? [];
  }
  private peek(): string | undefined { return this.toks[this.i]; }
  private take(t?: string): string {
    const got = this.toks[this.i];
    if (got === undefined || (t !== undefined && got.toLowerCase() !== t)) throw new Error(`expected ${t ?? 'more'}`);
    this.i++;
    return got;
  }
  private is(...ts: string[]): boolean { const p = this.peek()?.toLowerCase(); return p !== undefined && ts.includes(p); }

  program(): Node {
    const parts: Node[] = [];
    while (this.peek() !== undefined) {
      parts.push(this.statement());
      while (this.is(';')) this.take();
    }
    if (!parts.length) throw new Error('empty');
    return (ctx) => { let v: ExprValue = NaN; for (const p of parts) v = p(ctx); return v; };
  }
  private statement(): Node {
    const t = this.peek();
    const next = this.toks[this.i + 1];
    if (t && /^[A-Za-z_]/.test(t) && next && [':=', '+=', '-=', '*=', '/='].includes(next)) {
      const name = this.take().toLowerCase();
      const op = this.take();
      const rhs = this.ternary();
      return (ctx) => {
        const cur = num(get(ctx, name));
        const r = rhs(ctx);
        const v = op === ':=' ? r : op === '+=' ? cur + num(r) : op === '-=' ? cur - num(r) : op === '*=' ? cur * num(r) : cur / num(r);
        ctx.locals.set(name, v);
        return v;
      };
    }
    return this.ternary();
  }
  private ternary(): Node {
    const c = this.or();
    if (!this.is('?')) return c;
    this.take('?');
    const a = this.ternary();
    this.take(':');
    const b = this.ternary();
    return (ctx) => (truthy(c(ctx)) ? a(ctx) : b(ctx));
  }
  private or(): Node {
    let l = this.and();
    while (this.is('or', '||', '|', 'xor', 'nor', 'xnor')) {
      const op = this.take().toLowerCase();
      const r = this.and();
      const a = l;
      l = op === 'xor' ? (ctx) => bool(truthy(a(ctx)) !== truthy(r(ctx)))
        : op === 'nor' ? (ctx) => bool(!(truthy(a(ctx)) || truthy(r(ctx))))
          : op === 'xnor' ? (ctx) => bool(truthy(a(ctx)) === truthy(r(ctx)))
            : (ctx) => bool(truthy(a(ctx)) || truthy(r(ctx)));
    }
    return l;
  }
  private and(): Node {
    let l = this.comparison();
    while (this.is('and', '&&', '&', 'nand')) {
      const op = this.take().toLowerCase();
      const r = this.comparison();
      const a = l;
      l = op === 'nand' ? (ctx) => bool(!(truthy(a(ctx)) && truthy(r(ctx)))) : (ctx) => bool(truthy(a(ctx)) && truthy(r(ctx)));
    }
    return l;
  }
  private comparison(): Node {
    let l = this.additive();
    while (this.is('=', '==', '!=', '<>', '<', '<=', '>', '>=')) {
      const op = this.take();
      const r = this.additive();
      const a = l;
      l = (ctx) => {
        const x = a(ctx);
        const y = r(ctx);
        if (typeof x === 'string' || typeof y === 'string') {
          const sx = String(x);
          const sy = String(y);
          switch (op) {
            case '=': case '==': return bool(sx === sy);
            case '!=': case '<>': return bool(sx !== sy);
            case '<': return bool(sx < sy);
            case '<=': return bool(sx <= sy);
            case '>': return bool(sx > sy);
            default: return bool(sx >= sy);
          }
        }
        switch (op) {
          case '=': case '==': return bool(x === y);
          case '!=': case '<>': return bool(x !== y);
          case '<': return bool(x < y);
          case '<=': return bool(x <= y);
          case '>': return bool(x > y);
          default: return bool(x >= y);
        }
      };
    }
    return l;
  }
  private additive(): Node {
    let l = this.multiplicative();
    while (this.is('+', '-')) {
      const op = this.take();
      const r = this.multiplicative();
      const a = l;
      l = op === '+' ? (ctx) => {
        const x = a(ctx);
        const y = r(ctx);
        return typeof x === 'string' && typeof y === 'string' ? x + y : num(x) + num(y);
      } : (ctx) => num(a(ctx)) - num(r(ctx));
    }
    return l;
  }
  private multiplicative(): Node {
    let l = this.unary();
    while (this.is('*', '/', '%')) {
      const op = this.take();
      const r = this.unary();
      const a = l;
      l = op === '*' ? (ctx) => num(a(ctx)) * num(r(ctx))
        : op === '/' ? (ctx) => num(a(ctx)) / num(r(ctx))
          : (ctx) => num(a(ctx)) % num(r(ctx));
    }
    return l;
  }
  private unary(): Node {
    if (this.is('-')) { this.take(); const x = this.unary(); return (ctx) => -num(x(ctx)); }
    if (this.is('+')) { this.take(); return this.unary(); }
    if (this.is('!')) { this.take(); const x = this.unary(); return (ctx) => bool(!truthy(x(ctx))); }
    return this.power();
  }
  private power(): Node {
    const base = this.primary();
    if (!this.is('^')) return base;
    this.take();
    const e = this.unary();
    return (ctx) => num(base(ctx)) ** num(e(ctx));
  }
  private args(): Node[] {
    this.take('(');
    const out: Node[] = [];
    if (!this.is(')')) {
      out.push(this.ternary());
      while (this.is(',')) { this.take(); out.push(this.ternary()); }
    }
    this.take(')');
    return out;
  }
  private primary(): Node {
    const t = this.peek();
    if (t === undefined) throw new Error('unexpected end');
    if (t === '(') {
      this.take();
      const parts: Node[] = [this.statement()];
      while (this.is(';')) { this.take(); if (!this.is(')')) parts.push(this.statement()); }
      this.take(')');
      return parts.length === 1 ? parts[0] : (ctx) => { let v: ExprValue = NaN; for (const p of parts) v = p(ctx); return v; };
    }
    if (/^[\d.]/.test(t)) { this.take(); const v = Number(t); if (Number.isNaN(v)) throw new Error('number'); return () => v; }
    if (t.startsWith("'")) { this.take(); const v = t.slice(1, -1).replace(/\\(.)/g, '$1'); return () => v; }
    if (!/^[A-Za-z_]/.test(t)) throw new Error(`unexpected ${t}`);
    this.take();
    const name = t.toLowerCase();
    if (name === 'not') { const [x] = this.args(); return (ctx) => bool(!truthy(x(ctx))); }
    if (name === 'if' && this.is('(')) {
      const xs = this.args();
      if (xs.length !== 3) throw new Error('if needs 3 arguments');
      const [c, a, b] = xs;
      return (ctx) => (truthy(c(ctx)) ? a(ctx) : b(ctx));
    }
    const f = FUNCTIONS[name];
    if (f && this.is('(')) {
      const xs = this.args();
      return (ctx) => f(...xs.map((x) => num(x(ctx))));
    }
    if (name in CONSTANTS) { const v = CONSTANTS[name]; return () => v; }
    return (ctx) => get(ctx, name);
  }
}

function get(ctx: Ctx, name: string): ExprValue {
  if (ctx.locals.has(name)) return ctx.locals.get(name) as ExprValue;
  const v = ctx.lookup(name);
  if (v !== undefined) return v;
  return name.endsWith('_string') ? '' : 0;
}

const cache = new Map<string, Compiled | null>();
/** An expression ready to evaluate, or undefined when it cannot be read (the engine refuses it). */
export function compileExpression(src: string): Compiled | undefined {
  let hit = cache.get(src);
  if (hit === undefined) {
    try {
      const node = new Parser(src).program();
      hit = (lookup) => {
        const v = node({ lookup, locals: new Map() });
        return typeof v === 'number' ? v : NaN;
      };
    } catch {
      hit = null;
    }
    cache.set(src, hit);
  }
  return hit ?? undefined;
}

/** The text of an `expression` member: a string, or lines as an array of strings. */
export function expressionText(v: unknown): string | undefined {
  if (typeof v === 'string') return v;
  if (Array.isArray(v) && v.every((x) => typeof x === 'string')) return v.join('\n');
  return undefined;
}
