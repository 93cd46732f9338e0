// Every request the web tool answers: one row per route. A new route is one row here; its
// field checks (pure) and its run function (the work, then the answer: whole, a file, or a
// stream through cgi_stream) live in the module of its kind, as cgi_session does it.
#pragma once

#include <vector>

#include "web/cgi_router.hpp"

const std::vector<CgiRoute>& cgi_routes();
