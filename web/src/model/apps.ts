// The inventory as the page shows it: one entry per application, running or installed.
import type { AppRecord, AppRef, Inventory } from './types';

export interface AppEntry extends AppRecord { key: string; search: string }

const identity = (a: { name: string; bundleId?: string; path?: string }) =>
  a.bundleId ? `id:${a.bundleId}` : a.path ? `path:${a.path}` : `name:${a.name}`;

const collator = new Intl.Collator(undefined, { numeric: true, sensitivity: 'base' });

/** Both lists merged: an app that is installed and running is listed once, as running, with the
 * installed copy's path (the one that can be opened) and whichever icon is known. */
export function mergeInventory(inv: Inventory | null): AppEntry[] {
  if (!inv) return [];
  const byKey = new Map<string, AppEntry>();
  const add = (r: AppRecord) => {
    const key = identity(r);
    const prev = byKey.get(key);
    if (!prev) {
      byKey.set(key, { ...r, key, search: '' });
      return;
    }
    byKey.set(key, {
      ...prev,
      name: prev.name || r.name,
      running: prev.running || r.running,
      launchable: prev.launchable || r.launchable,
      path: prev.launchable ? prev.path : r.launchable ? r.path : prev.path ?? r.path,
      icon: prev.icon ?? r.icon,
    });
  };
  for (const r of Array.isArray(inv.installed) ? inv.installed : []) if (r && typeof r.name === 'string') add(r);
  for (const r of Array.isArray(inv.running) ? inv.running : []) if (r && typeof r.name === 'string') add(r);
  const out = [...byKey.values()];
  for (const e of out) e.search = `${e.name}\n${e.bundleId ?? ''}`.toLowerCase();
  return out.sort((a, b) => collator.compare(a.name, b.name));
}

export function filterApps(apps: readonly AppEntry[], query: string): AppEntry[] {
  const q = query.trim().toLowerCase();
  if (!q) return apps as AppEntry[];
  return apps.filter((a) => a.search.includes(q));
}

/** What a rule keeps of an app: its path only where the path can be opened. */
export function appRef(e: AppRecord): AppRef {
  const ref: AppRef = { name: e.name };
  if (e.bundleId) ref.bundleId = e.bundleId;
  if (e.path && e.launchable) ref.path = e.path;
  return ref;
}

export const sameApp = (a: AppRef, b: AppRef): boolean => identity(a) === identity(b);

export function findEntry(apps: readonly AppEntry[], ref: AppRef): AppEntry | undefined {
  const key = identity(ref);
  return apps.find((a) => a.key === key) ?? apps.find((a) => a.name === ref.name);
}
