// urea-reactor serve --store STORE: the store that watch keeps, as a live
// page and a JSON API, read-only (serve/server.h).
#include <csignal>
#include <iostream>

#include "cli/common.h"
#ifdef UREA_SERVE
#include "serve/server.h"
#endif

namespace workbench::cli {

#ifdef UREA_SERVE
int serve_command(const invocation& in) {
    serve_settings s;
    s.store = in.text("--store");
    if (in.has("--listen")) parse_listen(in.text("--listen"), s.host, s.port);
    if (in.has("--token-file")) s.token = read_token_file(in.text("--token-file"));
    s.tls_cert = in.text("--tls-cert");
    s.tls_key = in.text("--tls-key");
    s.build = build_of(plugin_or_default(""));
    // A client gone mid-answer is that request's end, not the server's.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        serve(s, std::cout);
    } catch (const database_error& e) {
        throw input_error(e.what());
    }
    return exit_ok;
}
#else
int serve_command(const invocation&) {
    throw input_error("this build of urea-reactor has no serve (it was configured with UREA_SERVE=OFF)");
}
#endif

}  // namespace workbench::cli
