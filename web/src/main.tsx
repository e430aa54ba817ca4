import { render } from 'preact';
import { t } from './i18n';
import { Store } from './store';
import { App } from './ui/App';
import './styles.css';

const store = new Store(window);
if (store.restored) store.notice = { kind: 'info', text: t('app.restored') };
render(<App store={store} />, document.getElementById('app') as HTMLElement);
// Lets benchmarks and tests know the first render is on screen.
(window as unknown as { __tarvelReady?: number }).__tarvelReady = performance.now();
