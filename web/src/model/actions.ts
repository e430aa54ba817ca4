// The events Tarvel writes for the actions its forms offer by name: open or focus an application,
// run a Shortcut, switch the input source.
import { parseFocusCommand, SHORTCUTS_RUN, type AppPathLookup } from './commands';
import { isObj, isStr, type Json, type JsonObject } from './json';
import { shellQuote } from './shell';
import type { AppOpener, AppRef } from './types';

export function focusCommand(helperPath: string, app: AppRef): string {
  const parts = [shellQuote(helperPath)];
  if (app.name) parts.push('--name', shellQuote(app.name));
  if (app.bundleId) parts.push('--bundle-id', shellQuote(app.bundleId));
  if (app.path) parts.push('--fallback', shellQuote(app.path));
  return parts.join(' ');
}

/** Karabiner-Elements' own way (15.1.0 and later): open the app by identifier, else by path. */
export const openApplicationEvent = (app: AppRef): JsonObject => (app.bundleId
  ? { software_function: { open_application: { bundle_identifier: app.bundleId } } }
  : { software_function: { open_application: { file_path: app.path ?? '' } } });

/** Focus the app when it runs, else open it: through tarvel-focus when there is a helper to call,
 * else with Karabiner-Elements' own open_application. */
export function appEvent(app: AppRef, helperPath?: string): JsonObject {
  return helperPath ? { shell_command: focusCommand(helperPath, app) } : openApplicationEvent(app);
}

export const shortcutEvent = (name: string): JsonObject => ({ shell_command: `${SHORTCUTS_RUN}${shellQuote(name)}` });

const APP_BUNDLE = /^\/.+\/([^/]+)\.app\/?$/;

/**
 * The same intent written the other way, or undefined when that way cannot say it: tarvel-focus
 * needs an identifier or a path to become open_application; open_application needs an identifier
 * or an application's path (not a file, not "the app before") to become tarvel-focus.
 */
export function otherOpener(e: JsonObject, to: AppOpener, helperPath?: string, lookup?: AppPathLookup, appName?: (bundleId: string) => string | undefined): JsonObject | undefined {
  const { shell_command: cmd, software_function: sf, ...flags } = e;
  if (to === 'engine') {
    if (!isStr(cmd) || sf !== undefined) return undefined;
    const app = parseFocusCommand(cmd);
    if (!app || (!app.bundleId && !app.path)) return undefined;
    return { ...openApplicationEvent({ name: app.name ?? '', bundleId: app.bundleId || undefined, path: app.path }), ...flags };
  }
  if (!helperPath || cmd !== undefined || !isObj(sf) || Object.keys(sf).length !== 1 || !isObj(sf.open_application)) return undefined;
  const open = sf.open_application;
  if (Object.keys(open).length !== 1) return undefined;
  let app: AppRef | undefined;
  if (isStr(open.bundle_identifier) && open.bundle_identifier) {
    const bundleId = open.bundle_identifier;
    app = { name: appName?.(bundleId) ?? '', bundleId, path: lookup?.(bundleId) };
  } else if (isStr(open.file_path) && APP_BUNDLE.test(open.file_path)) {
    app = { name: (APP_BUNDLE.exec(open.file_path) as RegExpExecArray)[1], path: open.file_path };
  }
  return app ? { shell_command: focusCommand(helperPath, app), ...flags } : undefined;
}

/** Every app action of these manipulators, in every result list, written the `to` way where it can
 * be; `count` says how many were. The same objects where nothing changes. */
export function convertOpeners(ms: JsonObject[], to: AppOpener, helperPath?: string, lookup?: AppPathLookup, appName?: (bundleId: string) => string | undefined): { manipulators: JsonObject[]; count: number } {
  let count = 0;
  const list = (v: Json | undefined): Json | undefined => {
    if (isObj(v)) {
      const x = otherOpener(v, to, helperPath, lookup, appName);
      if (x) count++;
      return x ?? v;
    }
    if (!Array.isArray(v)) return v;
    let changed = false;
    const out = v.map((e) => {
      const x = isObj(e) ? otherOpener(e, to, helperPath, lookup, appName) : undefined;
      if (x) { count++; changed = true; }
      return x ?? e;
    });
    return changed ? out : v;
  };
  const within = (o: JsonObject, keys: string[]): JsonObject => {
    let out = o;
    for (const k of keys) {
      const v = list(o[k]);
      if (v !== o[k]) out = { ...out, [k]: v as Json };
    }
    return out;
  };
  const manipulators = ms.map((m) => {
    if (!isObj(m)) return m;
    let out = within(m, ['to', 'to_if_alone', 'to_if_held_down', 'to_after_key_up']);
    if (isObj(m.to_delayed_action)) {
      const d = within(m.to_delayed_action, ['to_if_invoked', 'to_if_canceled']);
      if (d !== m.to_delayed_action) out = { ...out, to_delayed_action: d };
    }
    const from = m.from;
    if (isObj(from) && isObj(from.simultaneous_options)) {
      const o = within(from.simultaneous_options, ['to_after_key_up']);
      if (o !== from.simultaneous_options) out = { ...out, from: { ...from, simultaneous_options: o } };
    }
    if (Array.isArray(m.to_if_other_key_pressed)) {
      let changed = false;
      const entries = m.to_if_other_key_pressed.map((x) => {
        if (!isObj(x)) return x;
        const y = within(x, ['to']);
        if (y !== x) changed = true;
        return y;
      });
      if (changed) out = { ...out, to_if_other_key_pressed: entries };
    }
    return out;
  });
  return { manipulators: count ? manipulators : ms, count };
}
