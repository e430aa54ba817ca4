import { defineConfig } from 'vite';
import { fileURLToPath } from 'node:url';

// The page is served from the app's resource folder over a custom scheme, so every asset address
// must be relative and nothing may come from the network.
export default defineConfig({
  base: './',
  plugins: [{
    // Same-origin files need no CORS mode; custom schemes are stricter about it in some engines.
    name: 'tarvel-no-crossorigin',
    transformIndexHtml: (html) => html.replace(/ crossorigin(?=[ >])/g, ''),
  }],
  oxc: { jsx: { runtime: 'automatic', importSource: 'preact' } },
  build: {
    outDir: fileURLToPath(new URL('../WebResources', import.meta.url)),
    emptyOutDir: true,
    target: 'es2020',
    assetsInlineLimit: 0,
    modulePreload: false,
  },
});
