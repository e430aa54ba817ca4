import { en, type MessageKey } from './en';
import { ja } from './ja';

export type Lang = 'en' | 'ja';
export type { MessageKey };
const catalogs: Record<Lang, Record<MessageKey, string>> = { en, ja };
let current: Lang = 'en';

export function detectLanguage(stored: string | null, navigatorLanguage: string | undefined): Lang {
  if (stored === 'en' || stored === 'ja') return stored;
  return navigatorLanguage?.toLowerCase().startsWith('ja') ? 'ja' : 'en';
}

export function setLanguage(lang: Lang): void {
  current = lang;
  if (typeof document !== 'undefined') document.documentElement.lang = lang;
}
export const language = (): Lang => current;

export const hasMessage = (key: string): boolean => key in en;

export type Params = Record<string, string | number> | undefined;
export function t(key: MessageKey | string, params?: Params): string {
  const text = catalogs[current][key as MessageKey] ?? en[key as MessageKey] ?? key;
  if (!params) return text;
  // {n|one form|other form}: the first form for exactly 1, else the second with # as the number.
  return text.replace(/\{(\w+)(?:\|([^|}]*)\|([^}]*))?\}/g, (m, name: string, one?: string, other?: string) => {
    if (!(name in params)) return m;
    const value = params[name];
    if (one === undefined || other === undefined) return String(value);
    return (value === 1 ? one : other).replace(/#/g, String(value));
  });
}
