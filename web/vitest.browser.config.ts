import { defineConfig } from 'vitest/config';

// Drives Debian's Chromium against the built WebResources with a stand-in native bridge.
export default defineConfig({
  test: {
    include: ['tests/browser/**/*.test.ts'],
    environment: 'node',
    testTimeout: 30000,
    hookTimeout: 30000,
    fileParallelism: false,
  },
});
