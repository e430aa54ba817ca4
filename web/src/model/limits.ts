// The bounds the native side enforces on an apply body, checked by the page before it posts, and
// the same bounds on what it imports.
import { jsonDepth, utf8Length } from './json';

export const LIMITS = { depth: 64, bytes: 8 * 1024 * 1024, manipulators: 20000 } as const;
export type LimitCode = 'tooDeep' | 'tooLarge' | 'tooManyManipulators';
export interface LimitProblem { code: LimitCode; value: number; limit: number }

/** The first limit a body breaks: manipulators counted over all rules, nesting, size as JSON. */
export function checkLimits(body: unknown, manipulators: number, text?: string): LimitProblem | undefined {
  if (manipulators > LIMITS.manipulators) return { code: 'tooManyManipulators', value: manipulators, limit: LIMITS.manipulators };
  const depth = jsonDepth(body, LIMITS.depth);
  if (depth > LIMITS.depth) return { code: 'tooDeep', value: depth, limit: LIMITS.depth };
  const bytes = utf8Length(text ?? JSON.stringify(body));
  if (bytes > LIMITS.bytes) return { code: 'tooLarge', value: bytes, limit: LIMITS.bytes };
  return undefined;
}
