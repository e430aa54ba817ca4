// What a manipulator runs or opens, shown in full before it is installed: shell commands (with
// Shortcuts and tarvel-focus recognised), applications and files opened, commands sent to other
// programs. Text is made safe to read: invisible, blank and direction-changing characters, and piles
// of combining marks, are shown.
import { isObj, isStr, type Json, type JsonObject } from './json';
import { allEvents } from './manipulator';
import { shellWords } from './shell';

export type CommandKind = 'shell' | 'shortcut' | 'focusApplication' | 'openApplication' | 'openFile' | 'userCommand';
export type CommandWarning = 'fallbackNotApp' | 'fallbackMismatch' | 'notApp';
export interface Command {
  kind: CommandKind;
  /** Exactly what runs or opens. */
  text: string;
  /** The application, when the command names one. */
  app?: { name?: string; bundleId?: string; path?: string };
  warning?: CommandWarning;
  /** Which result list sends it. */
  list: string;
}

/** The path an application is opened from, when one is known (the inventory's launchable path). */
export type AppPathLookup = (bundleId: string) => string | undefined;

const APP_PATH = /^\/.+\.app\/?$/;
const DESKTOP_FILE = /^\/.+\.desktop$/;
const isAppPath = (p: string) => APP_PATH.test(p) || DESKTOP_FILE.test(p);

export function parseFocusCommand(cmd: string): Command['app'] | undefined {
  const w = shellWords(cmd);
  if (!w || w.length < 3 || w.length % 2 !== 1 || !/(^|\/)tarvel-focus$/.test(w[0])) return undefined;
  const app: NonNullable<Command['app']> = {};
  for (let i = 1; i < w.length; i += 2) {
    if (w[i] === '--name') app.name = w[i + 1];
    else if (w[i] === '--bundle-id') app.bundleId = w[i + 1];
    else if (w[i] === '--fallback') app.path = w[i + 1];
    else return undefined;
  }
  return app;
}

function appWarning(app: NonNullable<Command['app']>, lookup?: AppPathLookup): CommandWarning | undefined {
  if (app.path === undefined) return undefined;
  if (!isAppPath(app.path)) return 'fallbackNotApp';
  const known = app.bundleId ? lookup?.(app.bundleId) : undefined;
  if (known && known.replace(/\/$/, '') !== app.path.replace(/\/$/, '')) return 'fallbackMismatch';
  return undefined;
}

export const SHORTCUTS_RUN = '/usr/bin/shortcuts run ';

export function eventCommands(e: JsonObject, list: string, lookup?: AppPathLookup): Command[] {
  const out: Command[] = [];
  if (isStr(e.shell_command)) {
    const text = e.shell_command;
    const app = parseFocusCommand(text);
    if (app) {
      out.push({ kind: 'focusApplication', text, app, list, warning: appWarning(app, lookup) });
    } else {
      const rest = text.startsWith(SHORTCUTS_RUN) ? shellWords(text.slice(SHORTCUTS_RUN.length)) : undefined;
      out.push({ kind: rest && rest.length === 1 ? 'shortcut' : 'shell', text, list });
    }
  }
  const sf = isObj(e.software_function) ? e.software_function : undefined;
  const open = sf && isObj(sf.open_application) ? sf.open_application : undefined;
  if (open) {
    if (isStr(open.bundle_identifier)) {
      out.push({ kind: 'openApplication', text: open.bundle_identifier, app: { bundleId: open.bundle_identifier }, list });
    }
    if (isStr(open.file_path)) {
      const path = open.file_path;
      out.push({ kind: isAppPath(path) ? 'openApplication' : 'openFile', text: path, app: { path }, list, warning: isAppPath(path) ? undefined : 'notApp' });
    }
    if (typeof open.frontmost_application_history_index === 'number') {
      out.push({ kind: 'openApplication', text: `#${open.frontmost_application_history_index}`, list });
    }
  }
  if (e.send_user_command !== undefined) out.push({ kind: 'userCommand', text: JSON.stringify(e.send_user_command), list });
  return out;
}

/** Everything a manipulator runs or opens, in every result list; [] for anything else. */
export function commandsOf(manipulator: Json, lookup?: AppPathLookup): Command[] {
  if (!isObj(manipulator)) return [];
  return allEvents(manipulator).flatMap(({ list, event }) => eventCommands(event, list, lookup));
}

// Control characters, format characters (direction marks and overrides, zero-width joiners, the
// byte-order mark), line and paragraph separators, spaces other than U+0020, private-use and
// unassigned code points, lone surrogates; every code point Unicode says a renderer may leave
// undrawn (Default_Ignorable_Code_Point: Hangul fillers, variation selectors, tags, the combining
// grapheme joiner, Mongolian and Khmer invisibles...); and the graphic characters whose glyph is
// blank (the blank Braille pattern, the musical null notehead, the Khitan filler).
const INVISIBLE_CLASS = '[\\p{Cc}\\p{Cf}\\p{Zl}\\p{Zp}\\p{Co}\\p{Cn}\\p{Cs}\\p{Default_Ignorable_Code_Point}\\u2800\\u{1D159}\\u{16FE4}]|(?! )\\p{Zs}';
const INVISIBLE = new RegExp(`^(?:${INVISIBLE_CLASS})$`, 'u');
const MARK = /^\p{M}$/u;
/** Whether anything in a text may need showing: most commands have nothing of the kind. */
const ANYTHING = new RegExp(`${INVISIBLE_CLASS}|\\p{M}`, 'u');
/** Marks kept on one base character; writing systems rarely stack more, and a pile can hide text. */
const MARKS_KEPT = 2;

const shown = (ch: string) => {
  const mark = `⟨U+${(ch.codePointAt(0) ?? 0).toString(16).toUpperCase().padStart(4, '0')}⟩`;
  return ch === '\n' ? `${mark}\n` : mark;
};

/** `s` with every invisible or direction-changing character written as ⟨U+XXXX⟩, and every combining
 * mark past the second on one base character (or on no visible base) written so too. Line breaks
 * stay line breaks after their marker, so that a command's lines read as lines. */
export function visibleText(s: string): string {
  if (!ANYTHING.test(s)) return s;
  let out = '';
  let visibleBase = false;
  let marks = 0;
  for (const ch of s) {
    let show = INVISIBLE.test(ch);
    if (MARK.test(ch)) {
      marks += 1;
      show = show || !visibleBase || marks > MARKS_KEPT;
    } else {
      visibleBase = !show;
      marks = 0;
    }
    out += show ? shown(ch) : ch;
  }
  return out;
}
