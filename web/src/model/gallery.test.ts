import { readFileSync } from 'node:fs';
import { describe, expect, it } from 'vitest';
import { GALLERY_SNAPSHOT, loadGallerySnapshot, readGallerySnapshot } from './gallery';

const snapshotFile = new URL('../../gallery/gallery.json.gz', import.meta.url);
const readme = readFileSync(new URL('../../gallery/README.md', import.meta.url), 'utf8');

describe('gallery snapshot', () => {
  it('unpacks every document of the pinned commit, each in a group and each a rule document', async () => {
    const asked: string[] = [];
    const snapshot = await loadGallerySnapshot(async (path) => { asked.push(path); return new Response(readFileSync(snapshotFile)); });
    expect(asked).toEqual([GALLERY_SNAPSHOT]);
    expect(readme).toContain('`' + snapshot.commit + '`');
    const paths = Object.keys(snapshot.documents);
    expect(paths.length).toBe(843);
    const grouped = new Set(snapshot.groups.flatMap((g) => g.documents));
    expect(paths.filter((p) => !grouped.has(p))).toEqual([]);
    expect(new Set(snapshot.groups.map((g) => g.id)).size).toBe(snapshot.groups.length);
    for (const [path, text] of Object.entries(snapshot.documents)) {
      const doc = JSON.parse(text);
      expect(typeof doc.title === 'string' && Array.isArray(doc.rules), path).toBe(true);
    }
  });
  it('refuses what is not a snapshot, and leaves out groups that name no document it has', async () => {
    expect(() => readGallerySnapshot({ groups: [] })).toThrow();
    const read = readGallerySnapshot({ commit: 'c', groups: [{ id: 'a', name: 'A', documents: ['json/x.json', 'json/gone.json'] }, { id: 3 }], documents: { 'json/x.json': '{}' } });
    expect(read.groups).toEqual([{ id: 'a', name: 'A', example: false, documents: ['json/x.json'] }]);
    await expect(loadGallerySnapshot(async () => new Response('missing', { status: 404 }))).rejects.toThrow('404');
  });
});
