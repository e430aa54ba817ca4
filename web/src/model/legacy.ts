// Model to Karabiner-Elements manipulators. Every to-object carries exactly one event.
import { isConsumerKey } from './keys';
import { exactRegex, shellQuote } from './shell';
import type {
  Action, AppRef, AppScope, CompileContext, JsonObject, Mapping, RuleSet, Trigger,
} from './types';

export const SHORTCUTS_TOOL = '/usr/bin/shortcuts';
export const LAYER_PREFIX = 'tarvel_layer_';
export const layerVariable = (name: string): string => `${LAYER_PREFIX}${name}`;

export function focusCommand(helperPath: string, app: AppRef): string {
  const parts = [shellQuote(helperPath)];
  if (app.name) parts.push('--name', shellQuote(app.name));
  if (app.bundleId) parts.push('--bundle-id', shellQuote(app.bundleId));
  if (app.path) parts.push('--fallback', shellQuote(app.path));
  return parts.join(' ');
}

export const shortcutCommand = (name: string): string => `${SHORTCUTS_TOOL} run ${shellQuote(name)}`;

function keyEvent(key: string, modifiers: string[] = []): JsonObject {
  const ev: JsonObject = isConsumerKey(key) ? { consumer_key_code: key } : { key_code: key };
  if (modifiers.length) ev.modifiers = [...modifiers];
  return ev;
}

/** The to-objects of one action, one event each. */
export function compileAction(action: Action, ctx: CompileContext): JsonObject[] {
  switch (action.type) {
    case 'keys':
      return action.strokes.map((s) => keyEvent(s.key, s.modifiers));
    case 'app': {
      const app = action.app;
      if (!app) return [];
      if (ctx.helperPath) return [{ shell_command: focusCommand(ctx.helperPath, app) }];
      if (app.bundleId) return [{ software_function: { open_application: { bundle_identifier: app.bundleId } } }];
      if (app.path) return [{ software_function: { open_application: { file_path: app.path } } }];
      return [];
    }
    case 'shortcut':
      return [{ shell_command: shortcutCommand(action.name) }];
    case 'input':
      return [{ key_code: action.source === 'kana' ? 'japanese_kana' : 'japanese_eisuu' }];
    case 'media':
      // Media keys are consumer keys even where a keyboard key shares the name (mute, volume).
      return [{ consumer_key_code: action.key }];
    case 'none':
      return [{ key_code: 'vk_none' }];
    case 'shell':
      return [{ shell_command: action.command }];
  }
}

export function compileFrom(t: Trigger): JsonObject {
  const from: JsonObject = t.keys.length > 1
    ? { simultaneous: t.keys.map((k) => keyEvent(k)) }
    : keyEvent(t.keys[0] ?? '');
  if (t.mandatory.length || t.optional.length) {
    const mods: JsonObject = {};
    if (t.mandatory.length) mods.mandatory = [...t.mandatory];
    if (t.optional.length) mods.optional = [...t.optional];
    from.modifiers = mods;
  }
  return from;
}

export function compileConditions(m: Mapping): JsonObject[] {
  const out: JsonObject[] = [];
  if (m.layer) out.push({ type: 'variable_if', name: layerVariable(m.layer), value: 1 });
  if (m.apps && m.apps.apps.length) out.push(appCondition(m.apps));
  return out;
}

export function appCondition(scope: AppScope): JsonObject {
  const cond: JsonObject = {
    type: scope.mode === 'only' ? 'frontmost_application_if' : 'frontmost_application_unless',
  };
  const ids = scope.apps.filter((a) => a.bundleId).map((a) => exactRegex(a.bundleId as string));
  const paths = scope.apps.filter((a) => !a.bundleId && a.path).map((a) => exactRegex(a.path as string));
  if (ids.length) cond.bundle_identifiers = ids;
  if (paths.length) cond.file_paths = paths;
  return cond;
}

function basic(from: JsonObject, m: Mapping): JsonObject {
  const out: JsonObject = { type: 'basic', from };
  const conditions = compileConditions(m);
  if (conditions.length) out.conditions = conditions;
  return out;
}

function withParameters(man: JsonObject, params: Record<string, number | undefined>): JsonObject {
  const p: JsonObject = {};
  for (const [k, v] of Object.entries(params)) if (v !== undefined) p[k] = v;
  if (Object.keys(p).length) man.parameters = p;
  return man;
}

const chordParam = (t: Trigger) => (t.keys.length > 1 ? t.chordMs : undefined);

/** The manipulators of one mapping (a toggled layer key needs two). */
export function compileMapping(m: Mapping, ctx: CompileContext): JsonObject[] {
  switch (m.kind) {
    case 'raw':
      return [structuredClone(m.manipulator)];
    case 'remap': {
      const man = basic(compileFrom(m.trigger), m);
      man.to = compileAction(m.action, ctx);
      return [withParameters(man, { 'basic.simultaneous_threshold_milliseconds': chordParam(m.trigger) })];
    }
    case 'tapHold': {
      const man = basic(compileFrom(m.trigger), m);
      const hold = compileAction(m.hold, ctx);
      const tap = m.tap.type === 'none' ? [] : compileAction(m.tap, ctx);
      if (m.holdMode === 'immediate') {
        man.to = m.lazy ? hold.map((e) => ({ ...e, lazy: true })) : hold;
        if (tap.length) man.to_if_alone = tap;
      } else {
        if (tap.length) man.to_if_alone = tap;
        man.to_if_held_down = m.lazy ? hold.map((e) => ({ ...e, lazy: true })) : hold;
      }
      return [withParameters(man, {
        'basic.simultaneous_threshold_milliseconds': chordParam(m.trigger),
        'basic.to_if_alone_timeout_milliseconds': m.tapTimeoutMs,
        'basic.to_if_held_down_threshold_milliseconds': m.holdMode === 'delayed' ? m.holdDelayMs : undefined,
      })];
    }
    case 'layerKey': {
      const name = layerVariable(m.name);
      const set = (value: number): JsonObject => ({ set_variable: { name, value } });
      const tap = m.tap.type === 'none' ? [] : compileAction(m.tap, ctx);
      const params = { 'basic.simultaneous_threshold_milliseconds': chordParam(m.trigger) };
      if (m.mode === 'hold') {
        const man = basic(compileFrom(m.trigger), m);
        man.to = [set(1)];
        man.to_after_key_up = [set(0)];
        if (tap.length) man.to_if_alone = tap;
        return [withParameters(man, params)];
      }
      // Toggle: while on, the key turns it off; the first manipulator that matches wins.
      const off = basic(compileFrom(m.trigger), m);
      off.conditions = [...((off.conditions as JsonObject[] | undefined) ?? []), { type: 'variable_if', name, value: 1 }];
      off.to = [set(0)];
      const on = basic(compileFrom(m.trigger), m);
      on.to = [set(1)];
      return [withParameters(off, params), withParameters(on, params)];
    }
  }
}

export function compileRuleSet(rs: RuleSet, ctx: CompileContext): JsonObject[] {
  return rs.mappings.filter((m) => m.enabled).flatMap((m) => compileMapping(m, ctx));
}

/** How many manipulators compileRuleSet makes, without making them. */
export function manipulatorCount(rs: RuleSet): number {
  return rs.mappings.reduce((n, m) => n + (!m.enabled ? 0 : m.kind === 'layerKey' && m.mode === 'toggle' ? 2 : 1), 0);
}
