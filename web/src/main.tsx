import { render } from 'preact';
import { t } from './i18n';
import { Store } from './store';
import { App } from './ui/App';
import './styles.css';

const started = performance.now();
const store = new Store(window);
if (store.restored) store.notice = { kind: 'info', text: t('app.restored') };
render(<App store={store} />, document.getElementById('app') as HTMLElement);
// Lets benchmarks and tests know when the first render is done and how long it took.
Object.assign(window, { __tarvelReady: performance.now(), __tarvelRenderMs: performance.now() - started });
requestAnimationFrame(() => setTimeout(() => Object.assign(window, { __tarvelPainted: performance.now() }), 0));
