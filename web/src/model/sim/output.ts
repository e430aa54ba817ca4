// The last stage: events become reports of the virtual keyboard and mouse (keys down, modifiers
// down, buttons), commands to run and input sources to select, as the engine posts them. Modifier
// changes sent lazily reach the keyboard only with the next key (or a modifier sent at once), and
// reports are spaced 5 ms apart where the window system needs it.
import type { Json, JsonObject } from '../json';
import { Repeating, type Dispatcher } from './dispatch';
import type { Host, Manipulator, Result } from './basic';
import { fieldOf, flagKey, flagOf, isCapsLock, isPointingButton, isValidKey, type Flag, type KeyId } from './keys';
import { MS, type Entry, type EventType, type MouseKey, type Origin, type Queue, type Ticks } from './queue';

export type ReportKind = 'keyboard_input' | 'consumer_input' | 'apple_vendor_top_case_input' | 'apple_vendor_keyboard_input' | 'generic_desktop_input'
  | 'pointing_input' | 'shell_command' | 'send_user_command' | 'select_input_source' | 'software_function';

export interface Report {
  kind: ReportKind;
  time: Ticks;
  /** Keys of the report's page down after it, in the report's own order. */
  keys?: KeyId[];
  /** For the keyboard: the eight modifiers down after it. */
  modifiers?: Flag[];
  buttons?: KeyId[];
  x?: number; y?: number; v?: number; h?: number;
  value?: Json;
  /** The key press or release the report carries. */
  posted?: { key: KeyId; type: EventType };
  origin?: Origin;
  /** When the engine made it: a report stamped earlier goes out at once, so then. */
  madeAt?: Ticks;
}

/** What the engine does besides reports: variables set, messages shown, sticky modifiers. */
export interface Effect { time: Ticks; madeAt?: Ticks; what: 'set_variable' | 'notification' | 'sticky_modifier'; value: Json; origin?: Origin }

const KEYBOARD_MODIFIERS: Flag[] = ['left_control', 'left_shift', 'left_option', 'left_command', 'right_control', 'right_shift', 'right_option', 'right_command'];
const DISPATCH_ORDER: Flag[] = [...KEYBOARD_MODIFIERS, 'fn', 'caps_lock'];
const PAGE_KIND: Record<string, ReportKind> = {
  key_code: 'keyboard_input', consumer_key_code: 'consumer_input', apple_vendor_top_case_key_code: 'apple_vendor_top_case_input',
  apple_vendor_keyboard_key_code: 'apple_vendor_keyboard_input', generic_desktop: 'generic_desktop_input',
};

/** The virtual devices' own queue of reports, spaced as the engine spaces them. */
class Reports {
  list: Report[] = [];
  constructor(private readonly now: () => Ticks) {}
  private add(r: Report): void { r.madeAt = this.now(); this.list.push(r); }
  private lastType: EventType = 'single';
  private lastTime: Ticks = 0;
  private slots: Record<string, (KeyId | undefined)[]> = {};
  private modifiers = new Set<Flag>();
  repeating: KeyId | undefined;

  private adjust(time: Ticks, type: EventType, modifier = false): Ticks {
    const wait = 5 * MS;
    const skip = type === 'single' || (type === 'up' && this.lastType === 'up' && !modifier);
    if (!skip) {
      if (time < this.lastTime + wait) time = this.lastTime + wait;
      this.lastType = type;
    }
    if (this.lastTime < time) this.lastTime = time;
    return time;
  }

  key(key: KeyId, type: EventType, time: Ticks, origin: Origin | undefined): void {
    const flag = flagOf(key);
    time = this.adjust(time, type, !!flag);
    const kind = PAGE_KIND[fieldOf(key)];
    if (!kind) return;
    const page = fieldOf(key);
    const slots = (this.slots[page] ??= new Array(32).fill(undefined));
    let keys = true;
    if (kind === 'keyboard_input' && flag && flag !== 'fn') {
      if (type === 'down') this.modifiers.add(flag); else if (type === 'up') this.modifiers.delete(flag);
      keys = false;
    }
    if (keys) {
      if (type === 'down' && !slots.includes(key)) { const i = slots.indexOf(undefined); if (i >= 0) slots[i] = key; }
      if (type === 'up') { const i = slots.indexOf(key); if (i >= 0) slots[i] = undefined; }
    }
    const r: Report = { kind, time, keys: slots.filter((k): k is KeyId => !!k), posted: { key, type }, origin };
    if (kind === 'keyboard_input') r.modifiers = KEYBOARD_MODIFIERS.filter((m) => this.modifiers.has(m));
    this.add(r);
    if (isValidKey(key)) {
      if (type === 'down' && !flag) this.repeating = key;
      else if (type === 'up' && this.repeating === key) this.repeating = undefined;
    }
  }
  pointing(buttons: KeyId[], x: number, y: number, v: number, h: number, type: EventType, time: Ticks, origin: Origin | undefined): void {
    this.add({ kind: 'pointing_input', time: this.adjust(time, type), buttons, x, y, v, h, origin });
  }
  other(kind: ReportKind, value: Json, time: Ticks, origin: Origin | undefined): void {
    this.add({ kind, time, value, origin });
  }
}

class Dispatch {
  pressedKeys: [number, KeyId][] = [];
  pressedFlags = new Set<Flag>();
  /** Who last sent each modifier key, lazily or not: the change reported is theirs. */
  lastBy = new Map<Flag, Origin | undefined>();
  private has(key: KeyId) { return this.pressedKeys.some(([, k]) => k === key); }
  down(device: number, key: KeyId, r: Reports, time: Ticks, origin: Origin | undefined): void {
    if (this.has(key)) return;
    this.pressedKeys.push([device, key]);
    r.key(key, 'down', time, origin);
  }
  up(key: KeyId, r: Reports, time: Ticks, origin: Origin | undefined): void {
    if (!this.has(key)) return;
    this.pressedKeys = this.pressedKeys.filter(([, k]) => k !== key);
    r.key(key, 'up', time, origin);
  }
  modifiers(q: Queue, r: Reports, time: Ticks, origin: Origin | undefined): void {
    for (const m of DISPATCH_ORDER) {
      const was = this.pressedFlags.has(m);
      const now = q.flags.pressed(m);
      let capsLock = false;
      if (now && !was) {
        if (m === 'caps_lock') capsLock = true; else r.key(flagKey(m), 'down', time, this.lastBy.has(m) ? this.lastBy.get(m) : origin);
        this.pressedFlags.add(m);
      } else if (!now && was) {
        if (m === 'caps_lock') capsLock = true; else r.key(flagKey(m), 'up', time, this.lastBy.has(m) ? this.lastBy.get(m) : origin);
        this.pressedFlags.delete(m);
      }
      if (capsLock) {
        // Caps lock is a toggle: a tap turns it on or off.
        const k = flagKey('caps_lock');
        if (this.has(k)) this.up(k, r, time, origin);
        r.key(k, 'down', time, origin);
        r.key(k, 'up', time, origin);
      }
    }
  }
  upByDevice(device: number, r: Reports, time: Ticks): void {
    for (let e = this.pressedKeys.find(([d]) => d === device); e; e = this.pressedKeys.find(([d]) => d === device)) this.up(e[1], r, time, undefined);
  }
}

class MouseKeys {
  entries: [number, MouseKey][] = [];
  private readonly timer: Repeating;
  private last: string | undefined;
  private counts = [0, 0, 0, 0];
  queue?: Queue;
  constructor(d: Dispatcher, private readonly reports: Reports, private readonly host: Host, private readonly scale: () => number, private readonly natural: () => boolean) {
    this.timer = new Repeating(d);
  }
  get active(): boolean { return this.entries.length > 0; }
  push(device: number, m: MouseKey, q: Queue, time: Ticks): void { this.erase(device, m); this.entries.push([device, m]); this.queue = q; this.start(time); }
  remove(device: number, m: MouseKey, q: Queue, time: Ticks): void { this.erase(device, m); this.queue = q; this.start(time); }
  removeDevice(device: number, time: Ticks): void { this.entries = this.entries.filter(([d]) => d !== device); this.start(time); }
  private erase(device: number, m: MouseKey): void {
    const s = JSON.stringify(m);
    this.entries = this.entries.filter(([d, x]) => !(d === device && JSON.stringify(x) === s));
  }
  private start(time: Ticks): void {
    this.timer.start(() => {
      if (this.post(time)) this.host.notify(); else this.timer.stop();
    }, 20 * MS);
  }
  private convert(i: number, value: number): number {
    let n = 0;
    this.counts[i] += value;
    while (this.counts[i] <= -128) { if (n > -127) n--; this.counts[i] += 128; }
    while (this.counts[i] >= 128) { if (n < 127) n++; this.counts[i] -= 128; }
    return n;
  }
  private post(time: Ticks): boolean {
    const q = this.queue;
    if (!q) return false;
    const total = { x: 0, y: 0, v: 0, h: 0, speed: 1 };
    for (const [, m] of this.entries) { total.x += m.x; total.y += m.y; total.v += m.v; total.h += m.h; total.speed *= m.speed; }
    if (!this.natural()) { total.v = -total.v; total.h = -total.h; }
    if (!total.x && !total.y && !total.v && !total.h) { this.last = undefined; return false; }
    const key = JSON.stringify(total);
    if (this.last !== key) { this.last = key; this.counts = [0, 0, 0, 0]; }
    const xy = this.scale() / 100;
    this.reports.pointing(q.buttons.report(),
      this.convert(0, Math.trunc(total.x * total.speed * xy)), this.convert(1, Math.trunc(total.y * total.speed * xy)),
      this.convert(2, Math.trunc(total.v * total.speed)), this.convert(3, Math.trunc(total.h * total.speed)), 'single', time, undefined);
    return true;
  }
}

export interface OutputOptions {
  /** How long command+option+power, and escape at the login window, wait (ms). */
  sleepShortcutDelay: number;
  mouseKeyScale: number;
  naturalScrolling: boolean;
}

export class Output implements Manipulator {
  valid = true;
  readonly reports: Reports;
  readonly effects: Effect[] = [];
  private readonly dispatch = new Dispatch();
  private readonly mouse: MouseKeys;
  private pressedButtons: KeyId[] = [];
  private readonly now: () => Ticks;
  constructor(host: Host, readonly options: OutputOptions) {
    this.now = () => host.dispatcher.now;
    this.reports = new Reports(this.now);
    this.mouse = new MouseKeys(host.dispatcher, this.reports, host, () => options.mouseKeyScale, () => options.naturalScrolling);
  }
  get list(): Report[] { return this.reports.list; }

  alreadyManipulated(): boolean { return false; }
  active(): boolean { return false; }

  manipulate(front: Entry, _input: Queue, out: Queue): Result {
    if (!front.valid) return 'passed';
    const ev = front.ev;
    const r = this.reports;
    if (ev.t === 'caps_lock_state' && out.flags.stickySize('caps_lock') === 0) {
      if (ev.on) this.dispatch.pressedFlags.add('caps_lock'); else this.dispatch.pressedFlags.delete('caps_lock');
    }
    const modifierKey = ev.t === 'key' && !!flagOf(ev.key);
    if (modifierKey) this.dispatch.lastBy.set(flagOf((ev as { key: KeyId }).key) as Flag, front.origin);
    let dispatch = false;
    let before = false;
    if (modifierKey) {
      if (!front.lazy) dispatch = true;
    } else if (front.type === 'down') {
      dispatch = before = true;
    } else if (ev.t === 'motion' && !r.repeating && !this.pressedButtons.length && !this.mouse.active) {
      dispatch = before = true;
    }
    if (dispatch && before) this.dispatch.modifiers(out, r, front.time, front.origin);
    out.push(front);
    front.valid = false;
    const o = front.origin;
    switch (ev.t) {
      case 'key':
        if (!isValidKey(ev.key)) break;
        if (isPointingButton(ev.key)) this.pointing(front, out);
        else if (!modifierKey) {
          if (front.type === 'down') this.dispatch.down(front.device, ev.key, r, this.sleepDelay(ev.key, out, front.time), o);
          else if (front.type === 'up') this.dispatch.up(ev.key, r, front.time, o);
        }
        break;
      case 'motion': this.pointing(front, out); break;
      case 'shell_command': if (front.type === 'down') r.other('shell_command', ev.value, front.time, o); break;
      case 'send_user_command': if (front.type === 'down') r.other('send_user_command', ev.value, front.time, o); break;
      case 'select_input_source': if (front.type === 'down') r.other('select_input_source', ev.value as Json, front.time, o); break;
      case 'software_function': if (front.type === 'down') r.other('software_function', ev.value, front.time, o); break;
      case 'notification': this.effects.push({ time: front.time, madeAt: this.now(), what: 'notification', value: ev.value, origin: o }); break;
      case 'set_variable':
        if (front.type !== 'single') this.effects.push({ time: front.time, madeAt: this.now(), what: 'set_variable', value: { name: ev.value.name, value: (out.env.variables.get(ev.value.name) ?? null) as Json }, origin: o });
        break;
      case 'sticky_modifier': this.effects.push({ time: front.time, madeAt: this.now(), what: 'sticky_modifier', value: { [ev.flag]: ev.value } as JsonObject, origin: o }); break;
      case 'mouse_key':
        if (front.type === 'down') this.mouse.push(front.device, ev.value, out, front.time);
        else if (front.type === 'up') this.mouse.remove(front.device, ev.value, out, front.time);
        break;
      case 'stop_keyboard_repeat':
        if (r.repeating) this.dispatch.up(r.repeating, r, front.time, o);
        break;
      default: break;
    }
    if (dispatch && !before) this.dispatch.modifiers(out, r, front.time, front.origin);
    return 'passed';
  }

  private sleepDelay(key: KeyId, q: Queue, time: Ticks): Ticks {
    const delay = this.options.sleepShortcutDelay * MS;
    if (key === 'key_code:power' || key === 'consumer_key_code:power' || key === 'consumer_key_code:eject') {
      const f = q.flags;
      if ((f.pressed('left_option') || f.pressed('right_option')) && (f.pressed('left_command') || f.pressed('right_command'))) return time + delay;
    }
    if (key === 'key_code:escape' && q.env.app.bundle_identifier === 'com.apple.loginwindow') return time + delay;
    return time;
  }

  private pointing(front: Entry, q: Queue): void {
    const m = front.ev.t === 'motion' ? front.ev : { x: 0, y: 0, v: 0, h: 0 };
    const buttons = q.buttons.report();
    this.reports.pointing(buttons, m.x, m.y, m.v, m.h, front.type, front.time, front.origin);
    this.pressedButtons = buttons;
  }

  onReleased(front: Entry, q: Queue): void {
    this.dispatch.modifiers(q, this.reports, front.time, undefined);
    q.flags.eraseCapsLockSticky();
    const buttons = q.buttons.report();
    if (buttons.join() !== this.pressedButtons.join()) {
      this.reports.pointing(buttons, 0, 0, 0, 0, 'up', front.time, undefined);
      this.pressedButtons = buttons;
    }
    this.mouse.removeDevice(front.device, front.time);
  }
  onUngrabbed(device: number, q: Queue, time: Ticks): void {
    this.dispatch.upByDevice(device, this.reports, time);
    const buttons = q.buttons.report();
    if (buttons.join() !== this.pressedButtons.join()) {
      this.reports.pointing(buttons, 0, 0, 0, 0, 'up', time, undefined);
      this.pressedButtons = buttons;
    }
    this.dispatch.modifiers(q, this.reports, time, undefined);
    this.mouse.removeDevice(device, time);
  }
  onEventTap(front: Entry, q: Queue): void {
    if (front.type === 'up') return;
    if (!this.reports.repeating && !this.pressedButtons.length && !this.mouse.active) this.dispatch.modifiers(q, this.reports, front.time, undefined);
  }
}

export { isCapsLock };
