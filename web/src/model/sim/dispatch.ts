// The engine's clock: jobs to run at once, in order, and jobs due at a time. Delays (held down,
// delayed actions, mouse keys) are jobs for later; canceling one is itself a job, as in the engine,
// so that what happens between a cancel and its effect is the same here.
import type { Ticks } from './queue';

interface Timed { when: Ticks; seq: number; run: () => void }

export class Dispatcher {
  now: Ticks = 0;
  private immediate: (() => void)[] = [];
  private timed: Timed[] = [];
  private seq = 0;

  enqueue(run: () => void): void { this.immediate.push(run); }
  enqueueAt(when: Ticks, run: () => void): void {
    const t: Timed = { when, seq: this.seq++, run };
    // After every job due at the same time or earlier: jobs for one time run in the order asked.
    let i = this.timed.length;
    while (i > 0 && this.timed[i - 1].when > when) i--;
    this.timed.splice(i, 0, t);
  }
  /** Runs the jobs to run at once, and those due by now. */
  drain(): void {
    for (let guard = 0; guard < 1_000_000; guard++) {
      const job = this.immediate.shift();
      if (job) { job(); continue; }
      if (this.timed.length && this.timed[0].when <= this.now) { (this.timed.shift() as Timed).run(); continue; }
      return;
    }
    throw new Error('the simulated engine did not settle');
  }
  /**
   * Time passes until `to`. Stepwise, each job runs at its own time (a real clock); otherwise the
   * clock jumps and every job due runs at `to` (the engine's test runner).
   */
  advance(to: Ticks, stepwise: boolean): void {
    this.drain();
    if (stepwise) {
      while (this.timed.length && this.timed[0].when <= to) {
        this.now = Math.max(this.now, this.timed[0].when);
        this.drain();
      }
    }
    this.now = Math.max(this.now, to);
    this.drain();
  }
  /** When the next job is due, if any waits. */
  next(): Ticks | undefined { return this.timed[0]?.when; }
}

/** A job that a newer one replaces and that can be called off (pqrs' debounced task). */
export class Debounced {
  private generation = 0;
  constructor(private readonly d: Dispatcher) {}
  after(run: () => void, delay: Ticks): void {
    const when = this.d.now + delay;
    this.d.enqueue(() => {
      const g = ++this.generation;
      this.d.enqueueAt(when, () => { if (this.generation === g) run(); });
    });
  }
  cancel(): void { this.d.enqueue(() => { this.generation++; }); }
}

/** A job that runs at once and then every `interval` until stopped (pqrs' timer). */
export class Repeating {
  private id = 0;
  private run: (() => void) | undefined;
  private interval: Ticks = 0;
  constructor(private readonly d: Dispatcher) {}
  start(run: () => void, interval: Ticks): void {
    this.d.enqueue(() => {
      const id = ++this.id;
      this.run = run;
      this.interval = interval;
      this.call(id);
    });
  }
  stop(): void { this.d.enqueue(() => { this.id++; this.run = undefined; this.interval = 0; }); }
  private call(id: number): void {
    if (id !== this.id) return;
    const f = this.run;
    if (f) this.d.enqueue(f);
    this.d.enqueueAt(this.d.now + this.interval, () => this.call(id));
  }
}
