// "parlux serve": conversions over HTTP on a pool of offices, until SIGTERM drains it.
#pragma once

namespace parlux {

// `argv[0]` is the word "serve". Exit code 0 after a drain, 1 when the address cannot be
// listened on, -1 for a malformed command line.
int serveMain(int argc, char** argv);

}  // namespace parlux
