/* A broken frame-hook module for the loader tests: no Process. */
__attribute__((visibility("default"))) int Configure(void** ctx, int argc, char* argv[]) {
  (void)argc;
  (void)argv;
  *ctx = 0;
  return 0;
}
