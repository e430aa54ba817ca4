/* A module the display suites load and close, to check that closing never unmaps it. */
int tarvel_unload_probe(void) { return 42; }
