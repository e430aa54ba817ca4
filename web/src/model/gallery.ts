// The public rule gallery's snapshot (web/gallery/, built by scripts/gallery-snapshot): copied
// beside the page, never in its bundle, and fetched only when the gallery is opened.
import { isObj, isStr, strArr } from './json';

export interface GalleryGroup { id: string; name: string; example: boolean; documents: string[] }
export interface GallerySnapshot {
  commit: string; committed: string;
  groups: GalleryGroup[]; searchSuggestions: string[];
  /** Each document's text exactly as in the gallery, by its path there ("json/caps_lock.json"). */
  documents: Record<string, string>;
}

/** Relative to the page. */
export const GALLERY_SNAPSHOT = 'gallery/gallery.json.gz';

export function readGallerySnapshot(v: unknown): GallerySnapshot {
  if (!isObj(v) || !isStr(v.commit) || !Array.isArray(v.groups) || !isObj(v.documents)) throw new Error('malformed gallery snapshot');
  const documents: Record<string, string> = {};
  for (const [path, text] of Object.entries(v.documents)) if (isStr(text)) documents[path] = text;
  const groups = v.groups.filter(isObj).flatMap((g): GalleryGroup[] => (
    isStr(g.id) && isStr(g.name) && strArr(g.documents)
      ? [{ id: g.id, name: g.name, example: g.example === true, documents: g.documents.filter((p) => p in documents) }]
      : []));
  return {
    commit: v.commit, committed: isStr(v.committed) ? v.committed : '',
    groups, searchSuggestions: strArr(v.searchSuggestions) ? v.searchSuggestions : [], documents,
  };
}

/** Fetches and unpacks the snapshot (gzip, through the engine's DecompressionStream). */
export async function loadGallerySnapshot(fetchFile: (path: string) => Promise<Response> = (p) => fetch(p)): Promise<GallerySnapshot> {
  const response = await fetchFile(GALLERY_SNAPSHOT);
  if (!response.ok || !response.body) throw new Error(`the gallery snapshot could not be read (${response.status})`);
  const text = await new Response(response.body.pipeThrough(new DecompressionStream('gzip'))).text();
  return readGallerySnapshot(JSON.parse(text));
}
