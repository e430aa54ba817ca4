// The engine's event queues: the entries waiting between two stages, and the state the events that
// passed through them left behind (modifiers down, pointing buttons down, variables and the rest of
// the environment). Times are in nanoseconds: the engine spaces events it posts at once by one tick.
import type { Json, JsonObject } from '../json';
import type { Compiled } from './expression';
import { Env, type App, type DeviceProps, type EntryState, type InputSource, type VarValue } from './env';
import { FLAGS, flagOf, isPointingButton, type Flag, type KeyId } from './keys';

export type Ticks = number;
export const MS = 1_000_000;

export interface MouseKey { x: number; y: number; v: number; h: number; speed: number }
export interface SetVariable {
  name: string; unset: boolean;
  value?: VarValue; keyUpValue?: VarValue; expression?: Compiled; keyUpExpression?: Compiled;
}

export type Ev =
  | { t: 'key'; key: KeyId }
  | { t: 'motion'; x: number; y: number; v: number; h: number }
  | { t: 'shell_command'; value: string }
  | { t: 'send_user_command'; value: Json }
  | { t: 'select_input_source'; value: JsonObject[] }
  | { t: 'set_variable'; value: SetVariable }
  | { t: 'notification'; value: Json }
  | { t: 'mouse_key'; value: MouseKey }
  | { t: 'sticky_modifier'; flag: Flag; value: 'on' | 'off' | 'toggle' }
  | { t: 'software_function'; value: Json }
  | { t: 'caps_lock_state'; on: boolean }
  | { t: 'released' }
  | { t: 'grabbed'; props: DeviceProps }
  | { t: 'ungrabbed' }
  | { t: 'event_tap' }
  | { t: 'app'; app: App }
  | { t: 'input_source'; props: InputSource }
  | { t: 'stop_keyboard_repeat' }
  | { t: 'none' };

export type EventType = 'down' | 'up' | 'single';

/** Which manipulator made an event, and from which of its lists. */
export interface Origin { stage: number; index: number; list: string }

export interface Entry {
  device: number;
  time: Ticks;
  /** How long the event waits for keys pressed together before it is decided. */
  inputDelay: Ticks;
  valid: boolean;
  state: EntryState;
  lazy: boolean;
  ev: Ev;
  type: EventType;
  integer?: number;
  original: Ev;
  origin?: Origin;
}

export function sameEv(a: Ev, b: Ev): boolean {
  if (a.t === 'key' || b.t === 'key') return a.t === b.t && (a as { key: KeyId }).key === (b as { key: KeyId }).key;
  if (a.t !== b.t) return false;
  return JSON.stringify(a) === JSON.stringify(b);
}

// ---- modifiers -------------------------------------------------------------------------------

export type FlagChange = 'inc' | 'dec' | 'inc_lock' | 'dec_lock' | 'inc_led' | 'dec_led' | 'inc_sticky' | 'dec_sticky';
export interface ActiveFlag { type: FlagChange; flag: Flag; device: number; origin?: Origin }
const INVERSE: Record<FlagChange, FlagChange> = {
  inc: 'dec', dec: 'inc', inc_lock: 'dec_lock', dec_lock: 'inc_lock', inc_led: 'dec_led', dec_led: 'inc_led', inc_sticky: 'dec_sticky', dec_sticky: 'inc_sticky',
};
const count = (t: FlagChange): number => (t.startsWith('inc') ? 1 : -1);
const isLed = (t: FlagChange) => t === 'inc_led' || t === 'dec_led';
const isSticky = (t: FlagChange) => t === 'inc_sticky' || t === 'dec_sticky';
const isLock = (t: FlagChange) => t === 'inc_lock' || t === 'dec_lock' || isLed(t);
const paired = (a: ActiveFlag, b: ActiveFlag) => a.type === INVERSE[b.type] && a.flag === b.flag && a.device === b.device;

/** The modifiers held down, as a list of presses and releases that cancel in pairs. */
export class Flags {
  list: ActiveFlag[] = [];
  clone(): Flags { const f = new Flags(); f.list = [...this.list]; return f; }

  push(f: ActiveFlag): void {
    if (isLed(f.type)) f = { ...f, device: 0 };
    switch (f.type) {
      case 'inc_lock': case 'dec_lock': case 'inc_led':
        this.list = this.list.filter((x) => !(x.type === f.type && x.flag === f.flag && x.device === f.device));
        this.list.push(f);
        this.erasePairs();
        break;
      case 'dec_led':
        this.list = this.list.filter((x) => !paired(x, f));
        break;
      default:
        this.list.push(f);
        this.erasePairs();
    }
  }
  private erasePairs(): void {
    for (let i = 0; i < this.list.length; i++) {
      for (let j = i + 1; j < this.list.length; j++) {
        if (paired(this.list[i], this.list[j])) {
          this.list.splice(j, 1);
          this.list.splice(i, 1);
          // As the engine does: the element moved into the first place is not looked at again.
          if (i > 0) i--;
          break;
        }
      }
    }
  }
  pressed(flag: Flag): boolean {
    let n = 0;
    let size = 0;
    let led = 0;
    for (const f of this.list) {
      if (f.flag !== flag) continue;
      if (isLed(f.type)) led += count(f.type);
      else { n += count(f.type); size++; }
    }
    return size === 0 ? led > 0 : n > 0;
  }
  stickySize(flag: Flag): number { return this.list.filter((f) => f.flag === flag && isSticky(f.type)).length; }
  eraseDevice(device: number): void { this.list = this.list.filter((f) => f.device !== device); }
  eraseDeviceExceptLockAndSticky(device: number): void { this.list = this.list.filter((f) => f.device !== device || isLock(f.type) || isSticky(f.type)); }
  eraseCapsLockSticky(): void { this.list = this.list.filter((f) => !(f.flag === 'caps_lock' && isSticky(f.type))); }
  eraseSticky(): void { this.list = this.list.filter((f) => !isSticky(f.type)); }
  /** Every flag down now. */
  down(): Set<Flag> { return new Set(FLAGS.filter((f) => this.pressed(f))); }
  /** Who pressed a flag last, for the time line. */
  originOf(flag: Flag): Origin | undefined {
    for (let i = this.list.length - 1; i >= 0; i--) if (this.list[i].flag === flag && count(this.list[i].type) > 0) return this.list[i].origin;
    return undefined;
  }

  /**
   * Makes exactly `wanted` be down, for a while: what changed (to post), and the changes that undo
   * it (to post after). The engine uses this to send a tap with the modifiers of the moment the key
   * went down.
   */
  scoped(wanted: Set<Flag>): { changes: ActiveFlag[]; inverse: ActiveFlag[] } {
    const changes: ActiveFlag[] = [];
    for (const m of FLAGS) {
      if (wanted.has(m)) {
        while (!this.pressed(m)) {
          const f: ActiveFlag = { type: 'inc', flag: m, device: 0 };
          this.push(f);
          changes.push(f);
        }
      } else if (this.pressed(m)) {
        for (const f of [...this.list]) {
          if (f.flag !== m) continue;
          const inv: ActiveFlag = { type: INVERSE[f.type], flag: m, device: 0 };
          this.push(inv);
          changes.push(inv);
        }
      }
    }
    const inverse = changes.map((f) => ({ type: INVERSE[f.type], flag: f.flag, device: f.device }));
    for (const f of inverse) this.push(f);
    return { changes, inverse };
  }
}

/** Pointing buttons held down. */
export class Buttons {
  list: { up: boolean; key: KeyId; device: number }[] = [];
  clone(): Buttons { const b = new Buttons(); b.list = [...this.list]; return b; }
  push(key: KeyId, down: boolean, device: number): void {
    if (down) this.list.push({ up: false, key, device });
    else this.list = this.list.filter((b) => b.key !== key);
  }
  eraseDevice(device: number): void { this.list = this.list.filter((b) => b.device !== device); }
  /** Buttons 1 to 32 down, in order, as a report has them. */
  report(): KeyId[] {
    const out: KeyId[] = [];
    for (let i = 1; i <= 32; i++) {
      const k = `pointing_button:button${i}`;
      if (this.list.some((b) => b.key === k)) out.push(k);
    }
    return out;
  }
}

// ---- the queue -------------------------------------------------------------------------------

export class Queue {
  entries: Entry[] = [];
  flags = new Flags();
  buttons = new Buttons();
  env: Env;
  /** Ticks added to every entry, so that what one event sends stays after what it sent before. */
  delay: Ticks = 0;
  constructor(env: Env) { this.env = env; }

  push(e: Entry): Entry {
    const entry = { ...e, time: e.time + this.delay };
    this.entries.push(entry);
    const ev = entry.ev;
    if (ev.t === 'key') {
      const flag = flagOf(ev.key);
      if (flag && entry.type !== 'single') this.flags.push({ type: entry.type === 'down' ? 'inc' : 'dec', flag, device: entry.device, origin: entry.origin });
      if (isPointingButton(ev.key) && entry.type !== 'single') this.buttons.push(ev.key, entry.type === 'down', entry.device);
      // Any other key pressed ends sticky modifiers.
      if (entry.type === 'down' && entry.valid && !flag) this.flags.eraseSticky();
    } else if (ev.t === 'sticky_modifier') {
      if (entry.type !== 'up') {
        let type: FlagChange = 'inc_sticky';
        if (ev.value === 'toggle') { if (this.flags.stickySize(ev.flag) > 0) type = 'dec_sticky'; } else if (ev.value !== 'on') type = 'dec_sticky';
        this.flags.push({ type, flag: ev.flag, device: entry.device, origin: entry.origin });
      }
    } else if (ev.t === 'caps_lock_state') {
      this.flags.push({ type: ev.on ? 'inc_led' : 'dec_led', flag: 'caps_lock', device: entry.device });
    }
    const env = this.env;
    if (ev.t === 'grabbed') env.devices.set(entry.device, ev.props);
    else if (ev.t === 'ungrabbed') env.devices.delete(entry.device);
    else if (ev.t === 'app') env.app = ev.app;
    else if (ev.t === 'input_source') env.inputSource = ev.props;
    else if (ev.t === 'set_variable') {
      const sv = ev.value;
      if (entry.type === 'down') {
        if (sv.unset) env.remove(sv.name);
        else {
          if (sv.value !== undefined) env.set(sv.name, sv.value);
          if (sv.expression) env.set(sv.name, toInteger(env.evaluate(sv.expression)));
        }
      } else if (entry.type === 'up' && !sv.unset) {
        if (sv.keyUpValue !== undefined) env.set(sv.name, sv.keyUpValue);
        if (sv.keyUpExpression) env.set(sv.name, toInteger(env.evaluate(sv.keyUpExpression)));
      }
    }
    return entry;
  }
  shift(): void {
    this.entries.shift();
    if (!this.entries.length) this.delay = 0;
  }

  /**
   * Modifiers pressed in the same instant as a key come before it, and released ones after it:
   * devices send both in one report, in no fixed order.
   */
  sortEvents(): void {
    const es = this.entries;
    for (let i = 0; i < es.length - 1;) {
      if (needsSwap(es[i], es[i + 1])) {
        [es[i], es[i + 1]] = [es[i + 1], es[i]];
        if (i > 0) i--;
        continue;
      }
      i++;
    }
  }
}

function needsSwap(a: Entry, b: Entry): boolean {
  if (a.time !== b.time || a.ev.t !== 'key' || b.ev.t !== 'key') return false;
  const fa = flagOf(a.ev.key);
  const fb = flagOf(b.ev.key);
  if (!fa && fb) return b.type !== 'up';
  if (fa && !fb) return a.type === 'up';
  return false;
}

/** An expression's value stored in a variable: a whole number, 0 when it is not finite. */
function toInteger(v: number): number {
  if (!Number.isFinite(v) || Math.abs(v) > 9.2e18) return 0;
  return Math.trunc(v);
}
