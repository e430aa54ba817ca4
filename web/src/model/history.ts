// Undo and redo over immutable snapshots. Keystrokes in one field coalesce into one step.
export class History<T> {
  private past: T[] = [];
  private future: T[] = [];
  private lastKey: string | undefined;
  private lastTime = 0;

  constructor(public present: T, private readonly limit = 300, private readonly coalesceMs = 1200) {}

  commit(next: T, coalesceKey?: string, now = Date.now()): void {
    if (Object.is(next, this.present)) return;
    const merge = coalesceKey !== undefined && coalesceKey === this.lastKey && now - this.lastTime < this.coalesceMs;
    if (!merge) {
      this.past.push(this.present);
      if (this.past.length > this.limit) this.past.shift();
    }
    this.present = next;
    this.future = [];
    this.lastKey = coalesceKey;
    this.lastTime = now;
  }

  undo(): boolean {
    const prev = this.past.pop();
    if (prev === undefined) return false;
    this.future.push(this.present);
    this.present = prev;
    this.lastKey = undefined;
    return true;
  }

  redo(): boolean {
    const next = this.future.pop();
    if (next === undefined) return false;
    this.past.push(this.present);
    this.present = next;
    this.lastKey = undefined;
    return true;
  }

  get canUndo(): boolean { return this.past.length > 0; }
  get canRedo(): boolean { return this.future.length > 0; }
}
