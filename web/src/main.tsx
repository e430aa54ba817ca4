import { render } from 'preact';
import { t } from './i18n';
import { Store } from './store';
import { App } from './ui/App';
import './styles.css';

const started = performance.now();
const store = new Store(window);
// The app reloads the page this way after its web process died.
const recovered = new URLSearchParams(location.search).get('recovered') === '1';
if (recovered) {
  store.notice = { kind: 'warn', text: t('app.recovered') };
  // A reload by the user later is an ordinary one.
  history.replaceState(null, '', location.pathname);
} else if (store.restored) {
  store.notice = { kind: 'info', text: t('app.restored') };
}
render(<App store={store} />, document.getElementById('app') as HTMLElement);
// Lets benchmarks and tests know when the first render is done and how long it took.
Object.assign(window, { __tarvelReady: performance.now(), __tarvelRenderMs: performance.now() - started });
requestAnimationFrame(() => setTimeout(() => Object.assign(window, { __tarvelPainted: performance.now() }), 0));
// … and when the first answer about karabiner.json is on screen.
const unsubscribe = store.subscribe(() => {
  if (store.config.phase !== 'ready' && store.config.phase !== 'failed') return;
  unsubscribe();
  requestAnimationFrame(() => setTimeout(() => Object.assign(window, { __tarvelConfigShown: performance.now() }), 0));
});
