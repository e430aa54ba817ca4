// The events Tarvel writes for the actions its forms offer by name: open or focus an application,
// run a Shortcut, switch the input source.
import { SHORTCUTS_RUN } from './commands';
import type { JsonObject } from './json';
import { shellQuote } from './shell';
import type { AppRef } from './types';

export function focusCommand(helperPath: string, app: AppRef): string {
  const parts = [shellQuote(helperPath)];
  if (app.name) parts.push('--name', shellQuote(app.name));
  if (app.bundleId) parts.push('--bundle-id', shellQuote(app.bundleId));
  if (app.path) parts.push('--fallback', shellQuote(app.path));
  return parts.join(' ');
}

/** Focus the app when it runs, else open it: through tarvel-focus when the app reports it, else
 * Karabiner-Elements' own open_application. */
export function appEvent(app: AppRef, helperPath?: string): JsonObject {
  if (helperPath) return { shell_command: focusCommand(helperPath, app) };
  if (app.bundleId) return { software_function: { open_application: { bundle_identifier: app.bundleId } } };
  return { software_function: { open_application: { file_path: app.path ?? '' } } };
}

export const shortcutEvent = (name: string): JsonObject => ({ shell_command: `${SHORTCUTS_RUN}${shellQuote(name)}` });
